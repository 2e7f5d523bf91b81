// The hidden window's control messages, sent to the whole program running on
// the simulated machine: the commands of "RykPlexor4683" and their
// broadcast replies, messages that are not commands, WM_RYK_ADDMON's rescan
// and calibration decision, a rebuilt list whose first request is refused,
// and a remove-devices signal that arrives while a command walks the
// workers.
#include <atomic>
#include <functional>

#include "app/commands.h"
#include "app/control.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/touchscreen_list.h"
#include "touch/packets.h"
#include "hotplug_support.h"

namespace unit {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::ValuesIn;

using Pairs = std::vector<std::pair<LONG, LONG>>;
using Replies = std::vector<std::pair<uint64_t, int64_t>>;

std::string KeyOf(const std::string& serial) { return "Enum\\Ryk\\" + serial; }

// The program on a machine with `monitors` side by side and these
// touchscreens, each with its own registry entry.
class ControlTest : public HotplugTest {
protected:
    sim::Machine& Start(size_t monitors, const std::vector<std::pair<int32_t, std::string>>& screens,
                        const std::function<void(sim::Machine&)>& before = nullptr) {
        const sim::Config config = SideBySide(monitors);
        std::vector<TouchscreenConfig> configs;
        for (const auto& [monitor, serial] : screens) configs.push_back(Screen(monitor, serial, KeyOf(serial)));
        sim::Machine& m = BootMachine(config, configs);
        for (const auto& s : screens)
            m.registry().set_string(HKEY_LOCAL_MACHINE, KeyOf(s.second), "SerialNumber", s.second);
        if (before) before(m);
        gbRightButton = 0;  // as at every process start
        pid_ = StartRykXyLdr(m);
        m.settle();
        EXPECT_FALSE(m.process_ended(pid_));
        return m;
    }

    // Requests made for touchscreen `ts` with this code from `from` on.
    static std::vector<Request> RequestsFor(sim::Machine& m, DWORD code, int32_t ts, uint64_t from) {
        std::vector<Request> out;
        for (const Request& r : m.driver().requests(code))
            if (r.seq >= from && r.touchscreen == ts) out.push_back(r);
        return out;
    }

    // A program still running is closed the ordinary way, so that its
    // shutdown is checked too.
    void TearDown() override {
        if (pid_ != 0 && !machine().process_ended(pid_)) {
            CloseRykXyLdr(machine());
            EXPECT_TRUE(machine().process_ended(pid_));
            EXPECT_EQ(machine().process_exit_code(pid_), 0u);
        }
        HotplugTest::TearDown();
    }

    DWORD pid_ = 0;
};

// ------------------------------------------------------------------ messages that are not commands

struct PassCase {
    const char* name;
    bool plexor;  // "RykPlexor4683"; else WM_COMMAND
    WPARAM wparam;
    bool handled;  // false: on to DefWindowProcA
};

void PrintTo(const PassCase& c, std::ostream* os) { *os << c.name; }

class NonCommandTest : public ControlTest, public ::testing::WithParamInterface<PassCase> {};

TEST_P(NonCommandTest, ChangesNothing) {
    const PassCase& c = GetParam();
    sim::Machine& m = Start(1, {{0, "A"}});
    const UINT message = c.plexor ? gmsgPlexorCommand : static_cast<UINT>(WM_COMMAND);
    LRESULT result = 12345;
    EXPECT_EQ(HandleControlMessage(ProgramWindow(m), message, c.wparam, 0x00010000, &result), c.handled);
    if (c.handled) {
        EXPECT_EQ(result, 0);
    }

    const uint64_t from = NextRequestSeq(m);
    const Pairs workers = WorkerPairs();
    const TouchscreenList* list = gpTouchscreens;
    PostToProgram(m, message, c.wparam, 0x00010000);
    EXPECT_THAT(RequestNames(m, from), IsEmpty());
    EXPECT_THAT(QuavelBroadcasts(m), IsEmpty());
    EXPECT_EQ(gbRightButton.load(), 0);
    EXPECT_EQ(WorkerPairs(), workers);
    EXPECT_EQ(gpTouchscreens, list);
    EXPECT_FALSE(m.process_ended(pid_));
}

const PassCase kPassCases[] = {
    {"PlexorWParam0", true, 0, false},
    {"PlexorWParam2", true, 2, false},
    {"PlexorWParam6", true, 6, false},
    {"PlexorWParam0x105", true, 0x105, false},
    {"WmCommand", false, 1, true},
};

INSTANTIATE_TEST_SUITE_P(Control, NonCommandTest, ValuesIn(kPassCases), CaseName<PassCase>);

// ------------------------------------------------------------------ right-button mode

struct ButtonCase {
    const char* name;
    std::vector<std::pair<WPARAM, LPARAM>> commands;
    std::vector<LONG> modes;  // gbRightButton after each command
};

void PrintTo(const ButtonCase& c, std::ostream* os) { *os << c.name; }

class ButtonModeTest : public ControlTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonModeTest, FollowsCommandsFourAndFive) {
    const ButtonCase& c = GetParam();
    sim::Machine& m = Start(1, {{0, "A"}});
    const uint64_t from = NextRequestSeq(m);
    std::vector<LONG> modes;
    for (const auto& [w, l] : c.commands) {
        PostCommand(m, w, l);
        modes.push_back(gbRightButton.load());
    }
    EXPECT_EQ(modes, c.modes);
    EXPECT_THAT(QuavelBroadcasts(m), IsEmpty());
    EXPECT_THAT(RequestNames(m, from), IsEmpty());
}

const ButtonCase kButtonCases[] = {
    {"SetOnByTheHighWord", {{5, 0x00010000}}, {1}},
    {"SetOffWithTheLowWordOnly", {{5, 0x00010000}, {5, 0x0000FFFF}}, {1, 0}},
    {"SetOnByANegativeLParam", {{5, -65536}}, {1}},
    {"SetTwiceStaysOn", {{5, 0x7FFF0000}, {5, 0x00010000}}, {1, 1}},
    {"ToggleTwiceRestores", {{4, 0}, {4, 0}}, {1, 0}},
    {"ToggleAfterSet", {{5, 0x00010000}, {4, 0x00010000}}, {1, 0}},
};

INSTANTIATE_TEST_SUITE_P(Control, ButtonModeTest, ValuesIn(kButtonCases), CaseName<ButtonCase>);

// ------------------------------------------------------------------ CMD_REFRESH_LIST

struct RefreshCase {
    const char* name;
    LPARAM lparam;
    bool rebuilt;
};

void PrintTo(const RefreshCase& c, std::ostream* os) { *os << c.name; }

class RefreshListTest : public ControlTest, public ::testing::WithParamInterface<RefreshCase> {};

TEST_P(RefreshListTest, RebuildsUnlessToldToKeepAndAlwaysReplies) {
    const RefreshCase& c = GetParam();
    sim::Machine& m = Start(2, {{0, "A"}, {1, "B"}});
    const uint64_t from = NextRequestSeq(m);
    const Pairs workers = WorkerPairs();
    const TouchscreenList* list = gpTouchscreens;

    PostCommand(m, CMD_REFRESH_LIST, c.lparam);

    EXPECT_THAT(QuavelBroadcasts(m), ElementsAre(std::make_pair(uint64_t{2}, int64_t{0})));
    // Workers are not touched: only the enumeration, if any.
    const std::vector<std::string> enumeration(3, "REQ_GET_TOUCHSCREEN");
    EXPECT_EQ(RequestNames(m, from), c.rebuilt ? enumeration : std::vector<std::string>{});
    if (!c.rebuilt) {
        EXPECT_EQ(gpTouchscreens, list);
    }
    ASSERT_NE(gpTouchscreens, nullptr);
    EXPECT_EQ(gpTouchscreens->GetCount(), 2);
    EXPECT_EQ(WorkerPairs(), workers);
}

const RefreshCase kRefreshCases[] = {
    {"KeepTheList", 0x8000, false},
    {"RebuildWithZero", 0, true},
    {"RebuildWithAnythingElse", 0x18000, true},
};

INSTANTIATE_TEST_SUITE_P(Control, RefreshListTest, ValuesIn(kRefreshCases), CaseName<RefreshCase>);

// ------------------------------------------------------------------ CMD_ASSIGN_MONITOR

struct AssignCase {
    const char* name;
    LPARAM lparam;
    int64_t reply;
    int32_t rect_monitor;  // the monitor whose rectangle the driver got for the touchscreen; -1 none
    size_t stops;          // workers of the touchscreen stopped
    size_t starts;         // workers started
    Pairs workers;         // afterwards
    bool anything_sent;    // any request at all
};

void PrintTo(const AssignCase& c, std::ostream* os) { *os << c.name; }

class AssignMonitorTest : public ControlTest, public ::testing::WithParamInterface<AssignCase> {};

TEST_P(AssignMonitorTest, RepliesWithTheOutcome) {
    const AssignCase& c = GetParam();
    sim::Machine& m = Start(2, {{0, "A"}, {1, "B"}});
    ASSERT_EQ(WorkerPairs(), (Pairs{{0, 0}, {1, 1}}));
    const uint64_t from = NextRequestSeq(m);

    PostCommand(m, CMD_ASSIGN_MONITOR, c.lparam);

    EXPECT_THAT(QuavelBroadcasts(m), ElementsAre(std::make_pair(uint64_t{2}, c.reply)));
    EXPECT_EQ(!RequestNames(m, from).empty(), c.anything_sent);
    auto rects = RequestsFor(m, REQ_SET_MONITOR_RECT, 0, from);
    if (c.rect_monitor < 0) {
        EXPECT_THAT(rects, IsEmpty());
    } else {
        ASSERT_FALSE(rects.empty());
        EXPECT_EQ(FieldOf(rects.front(), "iMonitor"), c.rect_monitor);
        EXPECT_EQ(FieldOf(rects.front(), "iLeft"), 1024 * c.rect_monitor);
    }
    size_t stops = 0;
    for (const Request& r : RequestsFor(m, REQ_CLEAR_EVENT, 0, from)) stops += FieldOf(r, "hEventR0") == 0 ? 1 : 0;
    EXPECT_EQ(stops, c.stops);
    EXPECT_EQ(m.driver().requests(REQ_SET_XY_EVENT).size(), 2 + c.starts);
    EXPECT_EQ(WorkerPairs(), c.workers);
}

const AssignCase kAssignCases[] = {
    {"PairAlreadyServed", MAKELPARAM(0, 0), 0, 0, 0, 0, {{0, 0}, {1, 1}}, true},
    {"ToTheOtherMonitor", MAKELPARAM(1, 0), 0, 1, 1, 1, {{1, 1}, {1, 0}}, true},
    {"MonitorOutsideTheTable", MAKELPARAM(2, 0), 1, -1, 0, 0, {{0, 0}, {1, 1}}, false},
    // Touchscreens 0 and 1 only: touchscreen 2 is no one's, and nothing
    // naming it may reach the driver.
    {"TouchscreenOutsideTheListSendsNothing", MAKELPARAM(0, 2), 1, -1, 0, 0, {{0, 0}, {1, 1}}, false},
    // 0xFFFF in both words: monitor 65535 and touchscreen 65535, not -1.
    {"WordsAreWidenedWithoutSign", static_cast<LPARAM>(-1), 1, -1, 0, 0, {{0, 0}, {1, 1}}, false},
};

INSTANTIATE_TEST_SUITE_P(Control, AssignMonitorTest, ValuesIn(kAssignCases), CaseName<AssignCase>);

// A touchscreen the driver has but a rebuilt list no longer holds (the
// rebuild's second request was refused) is refused like one the driver does
// not have: reply 1, no request, and its worker on monitor 1 stays.
TEST_F(ControlTest, AssignmentOfATouchscreenTheRebuiltListLacksSendsNothing) {
    sim::Machine& m = Start(2, {{0, "A"}, {1, "B"}});
    m.driver().refuse(REQ_GET_TOUCHSCREEN, Refusal{.times = 1, .index = 1});
    PostCommand(m, CMD_REFRESH_LIST, 0);
    ASSERT_EQ(gpTouchscreens->GetCount(), 1);
    m.trace().clear();
    const uint64_t from = NextRequestSeq(m);

    PostCommand(m, CMD_ASSIGN_MONITOR, MAKELPARAM(0, 1));

    EXPECT_THAT(QuavelBroadcasts(m), ElementsAre(std::make_pair(uint64_t{2}, int64_t{1})));
    EXPECT_THAT(RequestNames(m, from), IsEmpty());
    EXPECT_EQ(WorkerPairs(), (Pairs{{0, 0}, {1, 1}}));
}

// A worker start that failed at start-up (the packet event refused once)
// leaves nothing that counts as a worker: the assignment command and the
// rescan both start the pair anew, and the assignment's reply says so.
struct RestartCase {
    const char* name;
    bool by_command;  // else by an add-monitor signal
};

void PrintTo(const RestartCase& c, std::ostream* os) { *os << c.name; }

class FailedStartRestartTest : public ControlTest, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(FailedStartRestartTest, StartsThePairAnew) {
    sim::Machine& m = Start(1, {{0, "A"}}, [](sim::Machine& mm) {
        mm.driver().refuse(REQ_SET_XY_EVENT, Refusal{.times = 1});
    });
    EXPECT_EQ(WorkerPairs(), Pairs{});
    EXPECT_EQ(m.driver().xy_event(0), 0u);

    if (GetParam().by_command) {
        PostCommand(m, CMD_ASSIGN_MONITOR, MAKELPARAM(0, 0));
        EXPECT_THAT(QuavelBroadcasts(m), ElementsAre(std::make_pair(uint64_t{2}, int64_t{0})));
    } else {
        ASSERT_TRUE(m.driver().signal_add_monitor());
        m.settle();
    }

    EXPECT_EQ(WorkerPairs(), (Pairs{{0, 0}}));
    const uint32_t r0 = m.driver().xy_event(0);
    EXPECT_NE(r0, 0u);
    for (const Request& r : m.driver().requests(REQ_SET_XY_EVENT)) EXPECT_NE(FieldOf(r, "hEventR0"), 0);
    m.trace().clear();
    m.driver().queue_packet(0, 100, 200, 0);
    m.settle();
    EXPECT_EQ(m.trace().count("mouse"), 3u) << "a tap is served";
}

const RestartCase kRestartCases[] = {{"ByAssignment", true}, {"ByRescan", false}};

INSTANTIATE_TEST_SUITE_P(Control, FailedStartRestartTest, ValuesIn(kRestartCases), CaseName<RestartCase>);

// Two workers of one touchscreen, on monitors 1 and 0 in that order: the
// touchscreen started on monitor 1, then its registry entry turned out to be
// another device's, and a rescan served it on monitor 0 as well.
struct WalkCase {
    const char* name;
    LONG monitor;
    size_t stops;
    size_t starts;
    Pairs workers;
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class ReassignWalkTest : public ControlTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(ReassignWalkTest, StopsWorkersOfTheTouchscreenBeforeTheMatch) {
    const WalkCase& c = GetParam();
    sim::Machine& m = Start(3, {{1, "A"}});
    ASSERT_EQ(WorkerPairs(), (Pairs{{1, 0}}));
    m.registry().set_string(HKEY_LOCAL_MACHINE, KeyOf("A"), "SerialNumber", "another");
    ASSERT_TRUE(m.driver().signal_add_monitor());
    m.settle();
    ASSERT_EQ(WorkerPairs(), (Pairs{{1, 0}, {0, 0}}));
    const size_t xy_before = m.driver().requests(REQ_SET_XY_EVENT).size();
    const uint64_t from = NextRequestSeq(m);

    PostCommand(m, CMD_ASSIGN_MONITOR, MAKELPARAM(c.monitor, 0));

    EXPECT_THAT(QuavelBroadcasts(m), ElementsAre(std::make_pair(uint64_t{2}, int64_t{0})));
    EXPECT_EQ(RequestsFor(m, REQ_CLEAR_EVENT, 0, from).size(), c.stops);
    EXPECT_EQ(m.driver().requests(REQ_SET_XY_EVENT).size() - xy_before, c.starts);
    EXPECT_EQ(WorkerPairs(), c.workers);
}

const WalkCase kWalkCases[] = {
    {"MatchFirstStopsNothing", 1, 0, 0, {{1, 0}, {0, 0}}},
    {"MatchSecondStopsTheOneBefore", 0, 1, 0, {{0, 0}}},
    {"NoMatchStopsAllAndStartsOne", 2, 2, 1, {{2, 0}}},
};

INSTANTIATE_TEST_SUITE_P(Control, ReassignWalkTest, ValuesIn(kWalkCases), CaseName<WalkCase>);

// ------------------------------------------------------------------ WM_RYK_ADDMON

class AddMonMessageTest : public ControlTest {};

TEST_F(AddMonMessageTest, NewestWithoutMonitorGetsDefaultsAndMonitorZero) {
    sim::Machine& m = Start(2, {{0, "A"}, {1, "B"}});
    TouchscreenConfig added = Screen(-1, "C", KeyOf("C"));
    added.alignment = sim::orvane::Alignment{7, 640, 3000, 8, 480, 2900, 1};
    // Its key exists, without a serial number yet.
    m.registry().create_key(HKEY_LOCAL_MACHINE, KeyOf("C"));
    m.driver().add_touchscreen(added);
    ASSERT_TRUE(m.driver().signal_add_monitor());
    m.settle();

    EXPECT_EQ(WorkerPairs(), (Pairs{{0, 0}, {1, 1}, {0, 2}}));
    EXPECT_THAT(RequestsFor(m, REQ_GET_ALIGNMENT, 2, 1), ::testing::SizeIs(1));
    EXPECT_EQ(m.registry().get_dword(HKEY_LOCAL_MACHINE, KeyOf("C"), "OffsetX"), 7u);
    EXPECT_EQ(m.registry().get_dword(HKEY_LOCAL_MACHINE, KeyOf("C"), "SwapXY"), 1u);
    EXPECT_EQ(m.driver().monitor_number(2), 0);
    EXPECT_NE(m.driver().xy_event(2), 0u);
    // Its entry cannot be checked, so it counts as unassigned; it holds
    // monitor 0 now, so no position is found.
    EXPECT_THAT(Launches(m), ElementsAre("C:\\WINDOWS\\SYSTEM\\Quavel -t4"));
    EXPECT_EQ(gbAddMonBusy.load(), 0);
}

TEST_F(AddMonMessageTest, ExistingWorkerGetsItsEventAgain) {
    sim::Machine& m = Start(2, {{0, "A"}, {1, "B"}});
    const uint32_t r0 = m.driver().xy_event(1);
    ASSERT_NE(r0, 0u);
    const uint64_t from = NextRequestSeq(m);
    ASSERT_TRUE(m.driver().signal_add_monitor());
    m.settle();

    EXPECT_EQ(RequestNames(m, from), (std::vector<std::string>{"REQ_GET_TOUCHSCREEN", "REQ_GET_TOUCHSCREEN",
                                                               "REQ_GET_TOUCHSCREEN", "REQ_SET_XY_EVENT"}));
    auto xy = RequestsFor(m, REQ_SET_XY_EVENT, 1, from);
    ASSERT_EQ(xy.size(), 1u);
    ExpectEncoded(xy[0], REQ_SET_XY_EVENT, 16, {{2, Le16(10)}, {8, Le16(1)}, {12, Le32(r0)}});
    EXPECT_EQ(WorkerPairs(), (Pairs{{0, 0}, {1, 1}}));
    EXPECT_THAT(Launches(m), IsEmpty());
}

// The calibration program runs while gbAddMonBusy is 1, and the done signal
// comes only after it is back at 0: an addition signalled during the launch
// is then posted as the next rescan.
TEST_F(AddMonMessageTest, BusyDuringRescanAndLaunchDoneAfterwards) {
    std::vector<LONG> busy_seen;
    std::atomic<int> runs{0};
    sim::Machine& m = Start(1, {{0, "A"}}, [&](sim::Machine& mm) {
        sim::ProgramSpec quavel;
        quavel.main = [&](const std::string&) {
            sim::Machine& machine = sim::Machine::current();
            busy_seen.push_back(gbAddMonBusy.load());
            if (runs++ == 0) machine.driver().signal_add_monitor();
            machine.kernel().set_input_idle_current();
            Sleep(INFINITE);
            return 0;
        };
        mm.install_program("C:\\WINDOWS\\SYSTEM\\Quavel.exe", quavel);
    });
    m.driver().add_touchscreen(Screen(-1, "B", KeyOf("B")));
    ASSERT_TRUE(m.driver().signal_add_monitor());
    m.settle();

    size_t enumerations = 0;
    for (const Request& r : m.driver().requests(REQ_GET_TOUCHSCREEN)) enumerations += r.touchscreen == 0 ? 1 : 0;
    EXPECT_EQ(enumerations, 3u);  // start-up and two rescans
    EXPECT_EQ(Launches(m).size(), 2u);
    EXPECT_EQ(busy_seen, (std::vector<LONG>{1, 1}));
    EXPECT_EQ(gbAddMonBusy.load(), 0);
    EXPECT_EQ(MessageBoxes(m, "nAddMonEvents > 2"), 0u);
}

// ------------------------------------------------------------------ a rebuild whose first request is refused

struct RefusedCase {
    const char* name;
    bool by_command;  // CMD_REFRESH_LIST; else the add-monitor signal
    Replies replies;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RebuildRefusedTest : public ControlTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RebuildRefusedTest, FinishesTheMessageThenExitsWithTwo) {
    const RefusedCase& c = GetParam();
    sim::Machine& m = Start(1, {{0, "A"}}, [](sim::Machine& mm) {
        mm.install_program("C:\\WINDOWS\\SYSTEM\\Quavel.exe", sim::ProgramSpec{});
    });
    m.driver().refuse(REQ_GET_TOUCHSCREEN, Refusal{false, 1, 0, -1});
    const uint64_t from = NextRequestSeq(m);
    if (c.by_command) {
        PostCommand(m, CMD_REFRESH_LIST, 0);
    } else {
        ASSERT_TRUE(m.driver().signal_add_monitor());
        m.settle();
    }

    ASSERT_TRUE(m.process_ended(pid_));
    EXPECT_EQ(m.process_exit_code(pid_), 2u);
    EXPECT_EQ(QuavelBroadcasts(m), c.replies);
    EXPECT_THAT(Launches(m), IsEmpty());
    // The refused request, then the shutdown alone: add-monitor event
    // withdrawn, the worker stopped, remove-devices event withdrawn.
    EXPECT_EQ(RequestNames(m, from),
              (std::vector<std::string>{"REQ_GET_TOUCHSCREEN", "REQ_CLEAR_EVENT", "REQ_BEGIN_CHANGE", "REQ_CLEAR_EVENT",
                                        "REQ_END_CHANGE", "REQ_CLEAR_EVENT"}));
}

const RefusedCase kRefusedCases[] = {
    {"ByTheAddMonitorSignal", false, {}},
    {"ByCommandThree", true, {{2, 0}}},
};

INSTANTIATE_TEST_SUITE_P(Control, RebuildRefusedTest, ValuesIn(kRefusedCases), CaseName<RefusedCase>);

// ------------------------------------------------------------------ the worker list's lock

// The remove-devices signal arrives while CMD_ASSIGN_MONITOR is stopping the
// touchscreen's worker (held up because its packet worker waits for
// gcsDriver, which the test holds). The remove-devices watcher must wait for
// the whole reassignment, then stop every worker, the new one included.
TEST_F(ControlTest, RemoveSignalWaitsForTheReassignment) {
    sim::Machine& m = Start(2, {{0, "A"}});
    EnterCriticalSection(&gcsDriver);
    m.driver().queue_packet(0, 10, 10, 5);
    m.settle();
    PostCommand(m, CMD_ASSIGN_MONITOR, MAKELPARAM(1, 0));
    ASSERT_TRUE(m.driver().signal_remove_devices());
    m.settle();
    LeaveCriticalSection(&gcsDriver);
    m.settle();

    EXPECT_THAT(QuavelBroadcasts(m), ElementsAre(std::make_pair(uint64_t{2}, int64_t{0})));
    EXPECT_THAT(WorkerPairs(), IsEmpty());
    EXPECT_EQ(m.driver().xy_event(0), 0u);
    // The stopped worker for monitor 0 and the new one for monitor 1.
    size_t stops = 0;
    for (const Request& r : RequestsFor(m, REQ_CLEAR_EVENT, 0, 1)) stops += FieldOf(r, "hEventR0") == 0 ? 1 : 0;
    EXPECT_EQ(stops, 2u);
}

}  // namespace
}  // namespace unit
