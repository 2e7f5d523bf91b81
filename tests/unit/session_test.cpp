// The end of the Windows session: the program agrees to it, leaves the
// driver exactly as after WM_CLOSE before Windows ends the process, ignores
// an end that another program refused, ends cleanly from inside a message
// box (one of start-up included) and from inside the wait for the
// calibration program, and after it lets nothing reach the driver again.
#include <string>
#include <vector>

#include "hotplug_support.h"
#include "touch/translate.h"
#include "desktop.h"
#include "registry.h"

namespace unit {
namespace {

const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";
const char kProgramKey[] = "SOFTWARE\\RykXyLdr";

// The lines of the program's live trace that begin with "RykXyLdr: EVENT ".
std::vector<std::string> TraceLines(sim::Machine& m, const std::string& event) {
    std::vector<std::string> out;
    const std::string head = "RykXyLdr: " + event + " ";
    for (const auto& e : m.trace().events("debug_output")) {
        const std::string text = e.fields["text"].get<std::string>();
        if (text.rfind(head, 0) == 0) out.push_back(text);
    }
    return out;
}

// Every request from `from_seq` on, by name and fields (not the thread).
std::vector<std::string> RequestsFrom(sim::Machine& m, uint64_t from_seq) {
    std::vector<std::string> out;
    for (const Request& r : m.driver().requests()) {
        if (r.seq < from_seq) continue;
        std::string t = std::string(r.name) + (r.ok ? "" : " FAILED");
        for (const auto& f : r.fields) t += " " + f.name + "=" + std::to_string(f.value);
        out.push_back(t);
    }
    return out;
}

// The answers the session end got, as "MESSAGE answered RESULT after N ms".
std::vector<std::string> SessionAnswers(sim::Machine& m) {
    std::vector<std::string> out;
    for (const auto& e : m.trace().events("session_answer"))
        out.push_back(e.fields["message"].get<std::string>() + " answered " +
                      (e.fields.contains("result") ? std::to_string(e.fields["result"].get<int64_t>()) : "-") +
                      " after " + std::to_string(e.fields["waited_ms"].get<uint64_t>()) + " ms");
    return out;
}

// One run with two touchscreens, ended by `end`; the requests the end
// caused. The machine must stay clean.
std::vector<std::string> ShutdownRequests(bool by_session_end, std::vector<std::string>* answers) {
    ResetProgramGlobals();
    std::vector<std::string> out;
    {
        sim::Machine m(SideBySide(2));
        m.driver().add_touchscreen(Screen(0, "A", "A"));
        m.driver().add_touchscreen(Screen(1, "B", "B"));
        const DWORD pid = StartRykXyLdr(m);
        m.settle();
        const uint64_t from = NextRequestSeq(m);
        if (by_session_end) {
            EXPECT_TRUE(m.end_session(pid));
        } else {
            m.post_from_outside(ProgramWindow(m), WM_CLOSE, 0, 0);
        }
        m.settle();
        EXPECT_TRUE(m.process_ended(pid));
        EXPECT_EQ(m.process_exit_code(pid), 0u);
        out = RequestsFrom(m, from);
        if (answers) *answers = SessionAnswers(m);
        EXPECT_TRUE(m.protocol_errors().empty()) << ::testing::PrintToString(m.protocol_errors());
        EXPECT_TRUE(m.misuse().empty()) << ::testing::PrintToString(m.misuse());
        EXPECT_EQ(m.trace().count("device_close"), 1u);
    }
    ResetProgramGlobals();
    return out;
}

TEST(SessionEnd, LeavesTheDriverInTheOrderOfTheOrdinaryEndBeforeAnswering) {
    std::vector<std::string> answers;
    const auto closed = ShutdownRequests(false, nullptr);
    const auto ended = ShutdownRequests(true, &answers);
    ASSERT_FALSE(closed.empty());
    EXPECT_EQ(ended, closed);
    // Agreed at once; the shutdown takes no simulated time worth a warning.
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], "WM_QUERYENDSESSION answered 1 after 0 ms");
    EXPECT_EQ(answers[1].rfind("WM_ENDSESSION answered 0 after ", 0), 0u) << answers[1];
}

class SessionEndTest : public HotplugTest {};

// WM_QUERYENDSESSION is agreed to and changes nothing; WM_ENDSESSION with
// wParam FALSE (another program refused) changes nothing either, and the
// program still ends the ordinary way afterwards.
TEST_F(SessionEndTest, ARefusedEndChangesNothing) {
    sim::Machine& m = BootMachine(sim::Config(), {Screen(0, "A", "A")});
    const DWORD pid = StartRykXyLdr(m);
    m.settle();
    const uint64_t from = NextRequestSeq(m);
    const HWND hwnd = ProgramWindow(m);
    ASSERT_NE(hwnd, nullptr);
    // Sent from this thread, as the system sends them.
    EXPECT_EQ(SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(SendMessageA(hwnd, WM_ENDSESSION, FALSE, 0), 0);
    m.settle();
    EXPECT_TRUE(RequestsFrom(m, from).empty());
    EXPECT_FALSE(m.process_ended(pid));
    CloseRykXyLdr(m);
    EXPECT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.trace().count("device_close"), 1u);
}

// Windows 95: a display change whose settings cannot be read shows a
// message box on the main thread; the session ends while it is open. The
// box's own loop handles the two messages, and the driver is left clean.
TEST_F(SessionEndTest, EndsCleanlyWhileAMessageBoxIsOpen) {
    sim::Config config;
    config.windows = sim::Windows::v95;
    sim::Machine& m = BootMachine(config, {Screen(0, "A", "A"), Screen(1, "B", "B")});
    m.registry().create_key(HKEY_LOCAL_MACHINE, kServiceKey);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kServiceKey, "NumXScreens", 2);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kServiceKey, "NumYScreens", 1);
    const DWORD pid = StartRykXyLdr(m);
    m.settle();
    ASSERT_FALSE(m.process_ended(pid));

    m.hold_message_boxes(true);
    m.registry().remove_value(HKEY_LOCAL_MACHINE, kServiceKey, "NumXScreens");
    m.desktop().change_display(config.monitors);
    m.settle();
    ASSERT_EQ(m.open_message_boxes(), 1u);

    EXPECT_TRUE(m.end_session(pid));
    m.settle();
    EXPECT_EQ(m.process_exit_code(pid), 0u);
    // The program's window and the box's own window each get both messages
    // and agree at once.
    const auto answers = SessionAnswers(m);
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[0], "WM_QUERYENDSESSION answered 1 after 0 ms");
    EXPECT_EQ(answers[1], "WM_QUERYENDSESSION answered 1 after 0 ms");
    EXPECT_EQ(m.trace().count("device_close"), 1u);
    EXPECT_EQ(m.driver().add_monitor_event(), 0u);
    EXPECT_EQ(m.driver().remove_devices_event(), 0u);
    EXPECT_EQ(m.driver().xy_event(0), 0u);
    EXPECT_EQ(m.driver().xy_event(1), 0u);
}

// A touchscreen without a monitor arrives and the calibration program never
// becomes ready for input; one second into the ten-second wait for it the
// session ends. The program answers within one slice of the wait and leaves
// the driver clean.
TEST_F(SessionEndTest, EndsCleanlyDuringTheWaitForTheCalibrationProgram) {
    sim::Machine& m = BootMachine(sim::Config(), {Screen(0, "A", "A")});
    sim::ProgramSpec never_ready;
    never_ready.ready_after_ms = -1;
    m.install_program("C:\\WINDOWS\\SYSTEM\\Quavel.exe", never_ready);
    const DWORD pid = StartRykXyLdr(m);
    m.settle();

    TouchscreenConfig added = Screen(-1, "B", "B");
    m.driver().add_touchscreen(added);
    m.driver().signal_add_monitor();
    m.advance_ms(1000);  // not settle(): that would run through the whole wait
    ASSERT_EQ(Launches(m).size(), 1u);
    ASSERT_EQ(m.trace().count("terminate"), 0u);

    EXPECT_TRUE(m.end_session(pid));
    m.settle();
    EXPECT_EQ(m.process_exit_code(pid), 0u);
    const auto answers = m.trace().events("session_answer");
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].fields["result"], 1);
    EXPECT_LE(answers[0].fields["waited_ms"].get<uint64_t>(), static_cast<uint64_t>(CAL_READY_SLICE_MS));
    EXPECT_EQ(m.trace().count("device_close"), 1u);
    EXPECT_EQ(m.driver().add_monitor_event(), 0u);
    EXPECT_EQ(m.driver().remove_devices_event(), 0u);
    EXPECT_EQ(m.driver().xy_event(0), 0u);
}

// The driver's settings lack "CplLanguage", so every start shows "Reg read
// error"; the user logs off while that box of start-up is open, before the
// program's window exists. The box answers the session end (it is a window
// of the main thread), Windows ends the process, and the driver must not be
// left holding the add-monitor or remove-devices event of the ended process.
TEST_F(SessionEndTest, EndsDuringTheRegReadErrorBoxOfStartUpWithNoEventLeftWithTheDriver) {
    sim::Config config;
    config.hold_boxes = true;
    sim::Machine& m = BootMachine(config, {Screen(0, "A", "A")});
    m.registry().create_key(HKEY_LOCAL_MACHINE, kServiceKey);
    for (const char* name : {"MouseMode", "BeepFlag", "BeepTime", "BeepFreq", "DefaultDragDelay", "MinDragDelay",
                             "MaxDragDelay", "NumberOfTouchscreens", "NumXScreens", "NumYScreens"})
        m.registry().set_dword(HKEY_LOCAL_MACHINE, kServiceKey, name, 1);
    const DWORD pid = StartRykXyLdr(m);
    m.settle();
    ASSERT_EQ(m.open_message_boxes(), 1u);
    ASSERT_EQ(MessageBoxes(m, "Reg read error"), 1u);
    EXPECT_EQ(ProgramWindow(m), nullptr);

    EXPECT_TRUE(m.end_session(pid));
    m.settle();
    EXPECT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), 0u);
    // Only the box was there to answer, and it agreed.
    const auto answers = SessionAnswers(m);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], "WM_QUERYENDSESSION answered 1 after 0 ms");
    EXPECT_EQ(answers[1], "WM_ENDSESSION answered 0 after 0 ms");
    EXPECT_EQ(m.driver().add_monitor_event(), 0u);
    EXPECT_EQ(m.driver().remove_devices_event(), 0u);
    EXPECT_THAT(m.protocol_errors(), ::testing::IsEmpty());
}

// Windows ends the process some time after WM_ENDSESSION (TRUE) returns, and
// until then the main thread goes on reading its queue. What comes then
// (a command, an add-monitor message, a display change, posted or sent)
// must reach neither the driver, closed by then, nor gcsDriver, deleted, nor
// answer anyone; the trace has its shutdown line once.
struct AfterEndCase {
    const char* name;
    bool sent;       // sent by another thread, else posted to the window
    UINT message;    // 0: the registered command "RykPlexor4683"
    WPARAM wparam;
    LPARAM lparam;
};

const AfterEndCase kAfterEndCases[] = {
    {"AssignCommandPosted", false, 0, 1, 0x00000001},
    {"AssignCommandSent", true, 0, 1, 0x00000001},
    {"RefreshCommandPosted", false, 0, 3, 0},
    {"RightButtonCommandPosted", false, 0, 4, 0},
    {"AddMonitorMessagePosted", false, WM_RYK_ADDMON, 0, 0},
    {"DisplayChangePosted", false, WM_DISPLAYCHANGE, 32, MAKELPARAM(800, 600)},
    {"DisplayChangeSent", true, WM_DISPLAYCHANGE, 32, MAKELPARAM(800, 600)},
};

class AfterSessionEndTest : public HotplugTest, public ::testing::WithParamInterface<AfterEndCase> {};

TEST_P(AfterSessionEndTest, NothingReachesTheDriverAgain) {
    const AfterEndCase& c = GetParam();
    sim::Machine& m = BootMachine(SideBySide(2), {Screen(0, "A", "A"), Screen(-1, "B", "B")});
    m.registry().create_key(HKEY_LOCAL_MACHINE, kProgramKey);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kProgramKey, "Trace", 1);
    const DWORD pid = StartRykXyLdr(m);
    m.settle();
    const HWND hwnd = ProgramWindow(m);
    ASSERT_NE(hwnd, nullptr);
    const UINT message = c.message != 0 ? c.message : m.registered_message("RykPlexor4683");

    // Sent from this thread, as the system sends them; the process is not
    // ended here.
    EXPECT_EQ(SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(SendMessageA(hwnd, WM_ENDSESSION, TRUE, 0), 0);
    m.settle();
    const uint64_t from = NextRequestSeq(m);
    const size_t broadcasts = QuavelBroadcasts(m).size();
    ASSERT_EQ(TraceLines(m, "shutdown"), std::vector<std::string>{"RykXyLdr: shutdown exit=0 cause=session_end\n"});

    // A monitor that moved, so that a display change would have work.
    m.desktop().set_monitors({{{0, 0, 800, 600}, {}}, {{800, 0, 1824, 768}, {}}});
    if (c.sent) {
        EXPECT_EQ(SendMessageA(hwnd, message, c.wparam, c.lparam), 0);
    } else {
        ASSERT_TRUE(m.post_from_outside(hwnd, message, c.wparam, c.lparam));
    }
    m.settle();
    EXPECT_THAT(RequestsFrom(m, from), ::testing::IsEmpty());
    EXPECT_EQ(QuavelBroadcasts(m).size(), broadcasts);
    EXPECT_EQ(gbRightButton.load(), 0);
    EXPECT_FALSE(m.process_ended(pid));

    // The loop still ends on WM_CLOSE, without a second shutdown.
    CloseRykXyLdr(m);
    EXPECT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), 0u);
    EXPECT_THAT(RequestsFrom(m, from), ::testing::IsEmpty());
    EXPECT_EQ(TraceLines(m, "shutdown").size(), 1u);
    EXPECT_EQ(m.trace().count("device_close"), 1u);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kProgramKey, "Trace", 0);
}

INSTANTIATE_TEST_SUITE_P(SessionEnd, AfterSessionEndTest, ::testing::ValuesIn(kAfterEndCases),
                         CaseName<AfterEndCase>);

// A display change sent while WM_RYK_ADDMON waits for the calibration
// program (which never becomes ready): the wait hands sent messages to the
// window procedure, but only the session end may run there. The display
// change is answered at once and handled after the add-monitor message,
// once the wait has run out and the program has been terminated.
TEST_F(SessionEndTest, ADisplayChangeSentDuringTheCalibrationWaitRunsAfterTheAddMonitorMessage) {
    sim::Machine& m = BootMachine(SideBySide(2), {Screen(0, "A", "A")});
    sim::ProgramSpec never_ready;
    never_ready.ready_after_ms = -1;
    m.install_program("C:\\WINDOWS\\SYSTEM\\Quavel.exe", never_ready);
    const DWORD pid = StartRykXyLdr(m);
    m.settle();

    m.driver().add_touchscreen(Screen(-1, "B", "B"));
    m.driver().signal_add_monitor();
    m.advance_ms(1000);  // not settle(): that would run through the whole wait
    ASSERT_EQ(Launches(m).size(), 1u);
    ASSERT_EQ(m.trace().count("terminate"), 0u);

    // Monitor 0, which serves both touchscreens, shrinks.
    m.desktop().set_monitors({{{0, 0, 800, 600}, {}}, {{1024, 0, 2048, 768}, {}}});
    const uint64_t from = NextRequestSeq(m);
    EXPECT_EQ(SendMessageA(ProgramWindow(m), WM_DISPLAYCHANGE, 32, MAKELPARAM(800, 600)), 0);
    // Answered inside the wait, but not handled there.
    EXPECT_THAT(RequestNames(m, from), ::testing::IsEmpty());
    EXPECT_EQ(m.trace().count("terminate"), 0u);
    EXPECT_EQ(gbAddMonBusy.load(), 1);

    m.settle();
    EXPECT_EQ(m.trace().count("terminate"), 1u);
    const auto names = RequestNames(m, from);
    EXPECT_THAT(names, ::testing::Contains("REQ_SET_MONITOR_RECT"));
    // Its requests come after the terminated launch: every request the
    // trace shows before the terminate was made before the display change.
    const size_t requests_before = m.trace().count("ioctl") - names.size();
    size_t requests_up_to_terminate = 0;
    for (const auto& e : m.trace().events()) {
        if (e.ev == "terminate") break;
        if (e.ev == "ioctl") ++requests_up_to_terminate;
    }
    EXPECT_EQ(requests_up_to_terminate, requests_before);
    EXPECT_FALSE(m.process_ended(pid));
    CloseRykXyLdr(m);
}

}  // namespace
}  // namespace unit
