// The add-monitor and remove-devices signals: arming and its step codes, the
// add-monitor watcher's count of pending operations, the remove-devices
// watcher, failed waits, and the end of every watcher before the program's
// WinMain returns.
#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>

#include "driver/channel.h"
#include "driver/protocol.h"
#include "hotplug_support.h"

namespace unit {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::ValuesIn;

LRESULT CALLBACK PlainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A window of the test's own thread, standing in for the hidden window.
HWND MakeStandInWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainWndProc;
    wc.lpszClassName = "StandInForRykXyLdr";
    if (RegisterClassA(&wc) == 0) return nullptr;
    return CreateWindowExA(0, "StandInForRykXyLdr", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

// The messages posted to the calling thread since the last look; `seen`
// counts those looked at before. The thread never reads its queue.
std::vector<MSG> NewlyPosted(sim::Machine& m, size_t* seen) {
    const std::vector<MSG> all = m.posted_messages(GetCurrentThreadId());
    std::vector<MSG> out(all.begin() + static_cast<std::ptrdiff_t>(std::min(*seen, all.size())), all.end());
    *seen = all.size();
    return out;
}

// ------------------------------------------------------------------ the count of pending operations

// Each step is one stimulus, after which the machine settles:
//   A  the driver signals an addition
//   D  an operation finished (the done event is set)
//   B  the main thread starts handling WM_RYK_ADDMON (gbAddMonBusy 1)
//   b  it has finished (gbAddMonBusy 0)
// and each expectation what the watcher did about that step:
//   .  nothing   P  posted WM_RYK_ADDMON   M  showed "nAddMonEvents > 2"
//   X  both
// The watcher starts at a count of 1 (the start-up); the first D of most
// rows is window creation's done signal.
struct CountCase {
    const char* name;
    const char* steps;
    const char* expect;
};

void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

class AddMonCountTest : public HotplugTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(AddMonCountTest, PostsOneOperationAtATime) {
    const CountCase& c = GetParam();
    ASSERT_EQ(std::string(c.steps).size(), std::string(c.expect).size());
    sim::Machine& m = BootMachine(sim::Config(), {Screen(0)});
    OpenDriver();
    const HWND hwnd = MakeStandInWindow();
    ASSERT_NE(hwnd, nullptr);
    ghAddMonWnd = hwnd;
    ASSERT_EQ(ArmAddMonSignal(), 0);
    m.settle();
    size_t seen = 0;

    for (size_t i = 0; c.steps[i] != '\0'; ++i) {
        SCOPED_TRACE(std::string("step ") + std::to_string(i + 1) + " '" + c.steps[i] + "'");
        const size_t boxes_before = MessageBoxes(m, "nAddMonEvents > 2");
        switch (c.steps[i]) {
        case 'A': ASSERT_TRUE(m.driver().signal_add_monitor()); break;
        case 'D': SetEvent(ghAddMonDoneEvent); break;
        case 'B': gbAddMonBusy = 1; break;
        case 'b': gbAddMonBusy = 0; break;
        default: FAIL() << "unknown step";
        }
        m.settle();

        const std::vector<MSG> posted = NewlyPosted(m, &seen);
        const size_t boxes = MessageBoxes(m, "nAddMonEvents > 2") - boxes_before;
        const char want = c.expect[i];
        EXPECT_EQ(posted.size(), want == 'P' || want == 'X' ? 1u : 0u);
        for (const MSG& msg : posted) {
            EXPECT_EQ(msg.hwnd, hwnd);
            EXPECT_EQ(msg.message, WM_RYK_ADDMON);
            EXPECT_EQ(msg.wParam, 0u);
            EXPECT_EQ(msg.lParam, 0);
        }
        EXPECT_EQ(boxes, want == 'M' || want == 'X' ? 1u : 0u);
    }

    for (const auto& e : m.trace().events("msgbox")) {
        EXPECT_EQ(e.fields["caption"], "ERROR!");
        EXPECT_EQ(e.fields["style"], MB_OK);
        EXPECT_EQ(e.fields["owner"], false);
    }
    DisarmAddMonSignal();
}

const CountCase kCountCases[] = {
    {"OneAdditionWhileIdle", "DAD", ".P."},
    {"AdditionDuringStartUp", "AD", ".P"},
    {"TwoMoreAdditionsDuringARescan", "DABAAbDDD", ".P..M.PP."},
    {"DoneSignalAtZeroChangesNothing", "DDAD", "..P."},
    // An addition that finds the count at 0 while a rescan runs is not
    // posted then, but the rescan's done signal posts one for it.
    {"AdditionWhileBusyIsNotPosted", "DBAbDA", "....P."},
    // The calibration program's exit is a done signal that can come while
    // a rescan runs; an addition after it must still get a rescan.
    {"AdditionAfterTheCalibrationExitDuringARescan", "DABDAbDBbD", ".P....P..."},
    {"DoneWhileBusyIsNotPosted", "DAABDbD", ".P....."},
    {"FourPendingShowTheBoxOnDoneToo", "DAAAADDDD", ".P.MMXPP."},
};

INSTANTIATE_TEST_SUITE_P(Watcher, AddMonCountTest, ValuesIn(kCountCases), CaseName<CountCase>);

// ------------------------------------------------------------------ arming

enum class Signal { AddMon, Remove };

struct ArmCase {
    const char* name;
    Signal signal;
    sim::OpenVxd open_vxd;
    std::vector<std::string> existing_objects;
    DWORD refused;  // a control code the driver refuses, or 0
    int code;
    bool watcher;                       // the watcher thread was started
    std::vector<std::string> requests;  // in order
};

void PrintTo(const ArmCase& c, std::ostream* os) { *os << c.name; }

class SignalArmTest : public HotplugTest, public ::testing::WithParamInterface<ArmCase> {};

TEST_P(SignalArmTest, ReturnsTheFailedStepAndHandsOverForTouchscreenZero) {
    const ArmCase& c = GetParam();
    sim::Config config;
    config.open_vxd_handle = c.open_vxd;
    config.existing_objects = c.existing_objects;
    sim::Machine& m = BootMachine(config, {Screen(0)});
    OpenDriver();
    if (c.refused != 0) m.driver().refuse(c.refused, Refusal{true, 0, -1, -1});

    const bool add = c.signal == Signal::AddMon;
    EXPECT_EQ(add ? ArmAddMonSignal() : ArmRemoveSignal(), c.code);
    m.settle();

    EXPECT_EQ(RequestNames(m), c.requests);
    const HANDLE hThread = add ? ghAddMonThread : ghRemoveThread;
    EXPECT_EQ(hThread != 0, c.watcher);
    if (c.watcher) {
        EXPECT_EQ(GetThreadPriority(hThread), THREAD_PRIORITY_HIGHEST);
        DWORD id = 0;
        for (const sim::HandleInfo& h : m.open_handles())
            if (h.handle == hThread) id = h.thread_id;
        ASSERT_NE(id, 0u) << "an open handle of a thread";
        const auto t = m.thread(id);
        ASSERT_TRUE(t.has_value());
        EXPECT_EQ(t->stack_size, 512u);
    }

    const DWORD set_code = add ? REQ_SET_ADDMON_EVENT : REQ_SET_REMOVE_EVENT;
    const DWORD r0 = add ? ghAddMonEventR0 : ghRemoveEventR0;
    for (const Request& r : m.driver().requests(set_code)) {
        // A refused event is not the driver's: the program keeps no handle
        // of it to withdraw later.
        DWORD sent = r0;
        if (!r.ok) {
            EXPECT_EQ(r0, 0u);
            ASSERT_EQ(r.input.size(), 16u);
            std::memcpy(&sent, r.input.data() + 12, 4);
            EXPECT_NE(sent, 0u);
        }
        ExpectEncoded(r, set_code, 16, {{2, Le16(10)}, {8, Le16(0)}, {12, Le32(sent)}});
    }
    if (c.code == 0) {
        EXPECT_NE(r0, 0u);
        EXPECT_EQ(add ? m.driver().add_monitor_event() : m.driver().remove_devices_event(), r0);
    }
}

const std::vector<std::string> kHandedOver = {"REQ_BEGIN_CHANGE", "REQ_SET_ADDMON_EVENT", "REQ_END_CHANGE"};
const std::vector<std::string> kRemoveHandedOver = {"REQ_BEGIN_CHANGE", "REQ_SET_REMOVE_EVENT", "REQ_END_CHANGE"};

const ArmCase kArmCases[] = {
    {"AddMonArmed", Signal::AddMon, sim::OpenVxd::by_version, {}, 0, 0, true, kHandedOver},
    {"AddMonEventOfTheDriverIsUsed", Signal::AddMon, sim::OpenVxd::by_version, {"event:RykAddMonEvent"}, 0, 0, true,
     kHandedOver},
    {"DoneEventExistsAlready", Signal::AddMon, sim::OpenVxd::by_version, {"event:RykAddMonDoneEvent"}, 0, 1, false,
     {}},
    {"AddMonWithoutOpenVxDHandle", Signal::AddMon, sim::OpenVxd::missing, {}, 0, 3, true, {}},
    {"AddMonOpenVxDHandleRefuses", Signal::AddMon, sim::OpenVxd::returns_zero, {}, 0, 4, true, {}},
    {"AddMonRefusedByTheDriver", Signal::AddMon, sim::OpenVxd::by_version, {}, REQ_SET_ADDMON_EVENT, 5, true,
     {"REQ_BEGIN_CHANGE", "REQ_SET_ADDMON_EVENT"}},
    {"RemoveArmed", Signal::Remove, sim::OpenVxd::by_version, {}, 0, 0, true, kRemoveHandedOver},
    {"RemoveEventOfTheDriverIsUsed", Signal::Remove, sim::OpenVxd::by_version, {"event:RykRemoveDevicesEvent"}, 0,
     0, true, kRemoveHandedOver},
    {"RemoveWithoutOpenVxDHandle", Signal::Remove, sim::OpenVxd::missing, {}, 0, 3, true, {}},
    {"RemoveOpenVxDHandleRefuses", Signal::Remove, sim::OpenVxd::returns_zero, {}, 0, 4, true, {}},
    {"RemoveRefusedByTheDriver", Signal::Remove, sim::OpenVxd::by_version, {}, REQ_SET_REMOVE_EVENT, 5, true,
     {"REQ_BEGIN_CHANGE", "REQ_SET_REMOVE_EVENT"}},
};

INSTANTIATE_TEST_SUITE_P(Signals, SignalArmTest, ValuesIn(kArmCases), CaseName<ArmCase>);

// ------------------------------------------------------------------ the program's start-up and end

// Whatever way the program ends, no watcher outlives WinMain and none waits
// on a handle that is closed under it (the machine reports both as misuse,
// which the fixture checks). The requests after the enumeration show what
// the driver was asked.
struct EndCase {
    const char* name;
    sim::OpenVxd open_vxd;
    std::vector<std::string> existing_objects;
    DWORD refused;
    // Runs while the program runs (it is then closed); none when start-up fails.
    std::function<void(sim::Machine&)> running;
    DWORD exit_code;
    std::vector<std::string> requests;  // after the enumeration
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class ProgramEndTest : public HotplugTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(ProgramEndTest, NoWatcherOutlivesTheProgram) {
    const EndCase& c = GetParam();
    sim::Config config;
    config.open_vxd_handle = c.open_vxd;
    config.existing_objects = c.existing_objects;
    sim::Machine& m = BootMachine(config, {Screen(0, "TS-1", "Enum\\Ryk\\TS-1")});
    m.registry().set_string(HKEY_LOCAL_MACHINE, "Enum\\Ryk\\TS-1", "SerialNumber", "TS-1");
    m.install_program(m.config().system_directory + "\\Quavel.exe", sim::ProgramSpec{});
    if (c.refused != 0) m.driver().refuse(c.refused, Refusal{true, 0, -1, -1});

    const DWORD pid = StartRykXyLdr(m);
    m.settle();
    const uint64_t after_enumeration = m.driver().requests(REQ_GET_TOUCHSCREEN).back().seq + 1;
    if (c.running) {
        ASSERT_FALSE(m.process_ended(pid));
        c.running(m);
        CloseRykXyLdr(m);
    }
    ASSERT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), c.exit_code);

    std::vector<std::string> requests;
    for (const Request& r : m.driver().requests())
        if (r.seq >= after_enumeration && r.code != REQ_GET_TOUCHSCREEN) requests.push_back(r.name);
    if (!c.running) {
        EXPECT_EQ(requests, c.requests);
    }
    EXPECT_EQ(m.trace().count("debugbreak"), 0u);
}

// A second touchscreen without a monitor arrives: the calibration program is
// started and never signals its end, so its exit watcher still waits when
// the program is closed.
void CalibrationStillRuns(sim::Machine& m) {
    m.driver().add_touchscreen(Screen(-1, "TS-2", "Enum\\Ryk\\TS-2"));
    ASSERT_TRUE(m.driver().signal_add_monitor());
    m.settle();
    ASSERT_EQ(Launches(m).size(), 1u);
}

void RemoveAndAddSignalled(sim::Machine& m) {
    ASSERT_TRUE(m.driver().signal_remove_devices());
    ASSERT_TRUE(m.driver().signal_add_monitor());
    m.settle();
}

const EndCase kEndCases[] = {
    {"DoneEventExistsAlready", sim::OpenVxd::by_version, {"event:RykAddMonDoneEvent"}, 0, nullptr, 3, {}},
    {"NoOpenVxDHandle", sim::OpenVxd::missing, {}, 0, nullptr, 3, {}},
    {"AddMonEventRefused", sim::OpenVxd::by_version, {}, REQ_SET_ADDMON_EVENT, nullptr, 3,
     {"REQ_BEGIN_CHANGE", "REQ_SET_ADDMON_EVENT"}},
    // The add-monitor event is withdrawn; the refused remove-devices one is
    // not the driver's, and its watcher ends.
    {"RemoveEventRefused", sim::OpenVxd::by_version, {}, REQ_SET_REMOVE_EVENT, nullptr, 4,
     {"REQ_BEGIN_CHANGE", "REQ_SET_ADDMON_EVENT", "REQ_END_CHANGE", "REQ_BEGIN_CHANGE", "REQ_SET_REMOVE_EVENT",
      "REQ_CLEAR_EVENT"}},
    {"ClosedWhileIdle", sim::OpenVxd::by_version, {}, 0, [](sim::Machine&) {}, 0, {}},
    {"ClosedWhileTheCalibrationProgramRuns", sim::OpenVxd::by_version, {}, 0, CalibrationStillRuns, 0, {}},
    {"ClosedAfterBothSignals", sim::OpenVxd::by_version, {}, 0, RemoveAndAddSignalled, 0, {}},
};

INSTANTIATE_TEST_SUITE_P(Program, ProgramEndTest, ValuesIn(kEndCases), CaseName<EndCase>);

// The driver sees the shutdown in its fixed order: add-monitor event
// withdrawn, workers stopped, remove-devices event withdrawn, device closed.
TEST_F(ProgramEndTest, ShutdownWithdrawsInOrder) {
    sim::Machine& m = BootMachine(sim::Config(), {Screen(0)});
    const DWORD pid = StartRykXyLdr(m);
    m.settle();
    const DWORD add_r0 = ghAddMonEventR0;
    const DWORD remove_r0 = ghRemoveEventR0;
    ASSERT_NE(add_r0, 0u);
    ASSERT_NE(remove_r0, 0u);
    const uint64_t from = NextRequestSeq(m);
    CloseRykXyLdr(m);
    ASSERT_TRUE(m.process_ended(pid));

    std::vector<std::pair<int64_t, int64_t>> clears;  // (wTouchscreen, hEventR0)
    for (const Request& r : m.driver().requests(REQ_CLEAR_EVENT))
        if (r.seq >= from) clears.emplace_back(FieldOf(r, "wTouchscreen"), FieldOf(r, "hEventR0"));
    EXPECT_THAT(clears, ElementsAre(std::make_pair(0, int64_t{add_r0}), std::make_pair(0, 0),
                                    std::make_pair(0, int64_t{remove_r0})));
    EXPECT_EQ(m.driver().add_monitor_event(), 0u);
    EXPECT_EQ(m.driver().remove_devices_event(), 0u);
    EXPECT_EQ(m.trace().count("device_close"), 1u);
    EXPECT_EQ(m.process_exit_code(pid), 0u);
}

// ------------------------------------------------------------------ the remove-devices watcher

class RemoveWatcherTest : public HotplugTest {};

TEST_F(RemoveWatcherTest, StopsEveryWorkerAndRestartsNone) {
    sim::Machine& m = BootMachine(SideBySide(2), {Screen(0, "A", "Enum\\A"), Screen(1, "B", "Enum\\B")});
    m.registry().set_string(HKEY_LOCAL_MACHINE, "Enum\\A", "SerialNumber", "A");
    m.registry().set_string(HKEY_LOCAL_MACHINE, "Enum\\B", "SerialNumber", "B");
    const DWORD pid = StartRykXyLdr(m);
    m.settle();
    ASSERT_EQ(WorkerPairs().size(), 2u);

    // With workers: each one's packet event is withdrawn, none is started.
    uint64_t from = NextRequestSeq(m);
    ASSERT_TRUE(m.driver().signal_remove_devices());
    m.settle();
    std::vector<int64_t> cleared;
    for (const Request& r : m.driver().requests(REQ_CLEAR_EVENT))
        if (r.seq >= from) cleared.push_back(FieldOf(r, "wTouchscreen"));
    EXPECT_THAT(cleared, ElementsAre(0, 1));
    EXPECT_THAT(WorkerPairs(), IsEmpty());
    EXPECT_EQ(m.driver().xy_event(0), 0u);
    EXPECT_EQ(m.driver().xy_event(1), 0u);
    for (const Request& r : m.driver().requests(REQ_SET_XY_EVENT)) EXPECT_LT(r.seq, from);

    // Without workers: nothing at all.
    from = NextRequestSeq(m);
    ASSERT_TRUE(m.driver().signal_remove_devices());
    m.settle();
    EXPECT_THAT(RequestNames(m, from), IsEmpty());

    // A touch now stays with the driver.
    m.driver().queue_packet(0, 10, 10, 5);
    m.settle();
    EXPECT_EQ(m.driver().queued_packets(0), 1u);
    EXPECT_FALSE(m.process_ended(pid));
    CloseRykXyLdr(m);
    EXPECT_EQ(m.process_exit_code(pid), 0u);
}

// ------------------------------------------------------------------ failed waits

enum class Watcher { AddMon, Remove, CalExit };

struct FailedWaitCase {
    const char* name;
    Watcher watcher;
    sim::Windows windows;
    bool debugger;
    size_t breaks;  // DebugBreak calls
};

void PrintTo(const FailedWaitCase& c, std::ostream* os) { *os << c.name; }

class FailedWaitTest : public HotplugTest, public ::testing::WithParamInterface<FailedWaitCase> {};

// A handle value that was never given out: the wait fails at once, every
// time. The watcher must end instead of waiting again, and reach a debugger
// only where there is one.
TEST_P(FailedWaitTest, EndsTheWatcherAndBreaksOnlyIntoADebugger) {
    const FailedWaitCase& c = GetParam();
    sim::Config config;
    config.windows = c.windows;
    config.debugger_attached = c.debugger;
    sim::Machine& m = BootMachine(config);
    ASSERT_TRUE(MakeWatchersEndEvent());
    const HANDLE hNever = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFF0000));
    ghAddMonDoneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    LPTHREAD_START_ROUTINE routine = nullptr;
    LPVOID param = nullptr;
    switch (c.watcher) {
    case Watcher::AddMon:
        ghAddMonEvent = hNever;
        routine = AddMonWatcher;
        param = reinterpret_cast<LPVOID>(static_cast<INT_PTR>(1));
        break;
    case Watcher::Remove:
        ghRemoveEvent = hNever;
        routine = RemoveWatcher;
        break;
    case Watcher::CalExit:
        routine = CalExitWatcher;
        param = hNever;
        break;
    }
    DWORD id = 0;
    HANDLE hThread = CreateThread(nullptr, 0, routine, param, 0, &id);
    ASSERT_NE(hThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(hThread, &code));
    EXPECT_EQ(code, 1u);
    CloseHandle(hThread);
    EXPECT_EQ(m.trace().count("debugbreak"), c.breaks);
    EXPECT_EQ(WaitForSingleObject(ghAddMonDoneEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ghAddMonEvent = 0;
    ghRemoveEvent = 0;
}

const FailedWaitCase kFailedWaitCases[] = {
    {"AddMonNoDebugger", Watcher::AddMon, sim::Windows::v98, false, 0},
    {"AddMonDebugger", Watcher::AddMon, sim::Windows::v98, true, 1},
    {"AddMonWindows95HasNoIsDebuggerPresent", Watcher::AddMon, sim::Windows::v95, true, 0},
    {"RemoveNoDebugger", Watcher::Remove, sim::Windows::v98, false, 0},
    {"RemoveDebugger", Watcher::Remove, sim::Windows::nt4, true, 1},
    {"CalExitNoDebugger", Watcher::CalExit, sim::Windows::v98, false, 0},
    {"CalExitDebugger", Watcher::CalExit, sim::Windows::v98, true, 1},
};

INSTANTIATE_TEST_SUITE_P(Watchers, FailedWaitTest, ValuesIn(kFailedWaitCases), CaseName<FailedWaitCase>);

}  // namespace
}  // namespace unit
