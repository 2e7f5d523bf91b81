// The end of the Windows session: the program agrees to it, leaves the
// driver exactly as after WM_CLOSE before Windows ends the process, ignores
// an end that another program refused, and ends cleanly from inside a
// message box and from inside the wait for the calibration program.
#include <string>
#include <vector>

#include "hotplug_support.h"
#include "desktop.h"
#include "registry.h"

namespace unit {
namespace {

const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";

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
    const auto answers = SessionAnswers(m);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], "WM_QUERYENDSESSION answered 1 after 0 ms");
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

}  // namespace
}  // namespace unit
