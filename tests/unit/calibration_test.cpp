// The calibration launch: when it happens, the command line it gives Quavel,
// a Quavel that never becomes ready, the handles a launch leaves behind, and
// the exit watchers that pass Quavel's end on as a done signal.
#include <optional>

#include "driver/channel.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "hotplug_support.h"

namespace unit {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::ValuesIn;

const char kQuavel[] = "C:\\WINDOWS\\SYSTEM\\Quavel";

// One touchscreen: the monitor the driver reports and what its registry key
// holds.
struct CalScreen {
    int32_t monitor;
    const char* serial;
    // "SerialNumber" in its key; no key at all when empty.
    std::string key_serial;
};

std::string KeyOf(const CalScreen& s) { return std::string("Enum\\Ryk\\") + s.serial; }

class CalibrationTest : public HotplugTest {
protected:
    // A machine with these touchscreens and Quavel installed, the driver
    // open, the list enumerated, and a done event of the test's own.
    sim::Machine& Prepare(const std::vector<CalScreen>& screens, sim::ProgramSpec quavel, bool install = true) {
        std::vector<TouchscreenConfig> configs;
        for (const CalScreen& s : screens) configs.push_back(Screen(s.monitor, s.serial, KeyOf(s)));
        sim::Machine& m = BootMachine(sim::Config(), configs);
        for (const CalScreen& s : screens)
            if (!s.key_serial.empty())
                m.registry().set_string(HKEY_LOCAL_MACHINE, KeyOf(s), "SerialNumber", s.key_serial);
        if (install) m.install_program(std::string(kQuavel) + ".exe", std::move(quavel));
        OpenDriver();
        gpTouchscreens = new TouchscreenList(ghDriver);
        gpTouchscreens->Enumerate();
        ghAddMonDoneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        return m;
    }

    static bool DoneSignalled() { return WaitForSingleObject(ghAddMonDoneEvent, 0) == WAIT_OBJECT_0; }

    // Sets "RykCalExitEvent" as Quavel does.
    static void QuavelFinishes() {
        HANDLE h = CreateEventA(nullptr, FALSE, FALSE, "RykCalExitEvent");
        ASSERT_NE(h, nullptr);
        SetEvent(h);
        CloseHandle(h);
    }
};

sim::ProgramSpec FinishesAfter(int ms) {
    sim::ProgramSpec spec;
    spec.ready_after_ms = 0;
    spec.sets_exit_event_after_ms = ms;
    return spec;
}

// ------------------------------------------------------------------ the decision and the command line

struct LaunchCase {
    const char* name;
    std::vector<CalScreen> screens;
    LONG monitors_at_start;
    LONG unassigned_at_start;
    std::optional<std::string> command_line;  // none: no launch
    std::vector<std::string> cleared_keys;    // keys whose "MonitorNumber" became -1
};

void PrintTo(const LaunchCase& c, std::ostream* os) { *os << c.name; }

class LaunchDecisionTest : public CalibrationTest, public ::testing::WithParamInterface<LaunchCase> {};

TEST_P(LaunchDecisionTest, LaunchesWithTheArgumentOfItsCase) {
    const LaunchCase& c = GetParam();
    sim::Machine& m = Prepare(c.screens, FinishesAfter(100));
    gnMonitorsAtStart = c.monitors_at_start;
    gnUnassignedAtStart = c.unassigned_at_start;

    EXPECT_EQ(LaunchCalibration(), c.command_line ? 1 : 0);
    m.settle();

    if (c.command_line) {
        EXPECT_THAT(Launches(m), ElementsAre(*c.command_line));
        auto launch = m.trace().events("launch");
        ASSERT_EQ(launch.size(), 1u);
        EXPECT_EQ(launch[0].fields["flags"], DETACHED_PROCESS);
        EXPECT_FALSE(launch[0].fields.contains("application"));
        // Quavel's end reaches the add-monitor watcher as a done signal.
        EXPECT_TRUE(DoneSignalled());
    } else {
        EXPECT_THAT(Launches(m), IsEmpty());
        EXPECT_FALSE(DoneSignalled());
    }
    for (const CalScreen& s : c.screens) {
        const bool cleared =
            std::find(c.cleared_keys.begin(), c.cleared_keys.end(), KeyOf(s)) != c.cleared_keys.end();
        auto written = m.registry().get_dword(HKEY_LOCAL_MACHINE, KeyOf(s), "MonitorNumber");
        EXPECT_EQ(written.has_value(), cleared) << KeyOf(s);
        if (cleared && written) {
            EXPECT_EQ(*written, 0xFFFFFFFFu);
        }
    }
}

const LaunchCase kLaunchCases[] = {
    {"EmptyList", {}, 0, 0, std::nullopt, {}},
    {"FewerTouchscreensThanMonitorsAtStart", {{-1, "A", "A"}}, 2, 0, std::nullopt, {}},
    {"NoMonitorsAtStartDoNotHoldItUp", {{-1, "A", "A"}}, 0, 0, std::string(kQuavel) + " -t1", {}},
    {"EveryTouchscreenHasItsMonitor", {{0, "A", "A"}, {1, "B", "B"}}, 2, 0, std::nullopt, {}},
    {"ThirdWithoutMonitor", {{0, "A", "A"}, {1, "B", "B"}, {-1, "C", "C"}}, 2, 0, std::string(kQuavel) + " -t3", {}},
    {"ThirdWithoutMonitorAfterUnassignedAtStart", {{0, "A", "A"}, {1, "B", "B"}, {-1, "C", "C"}}, 2, 1,
     std::string(kQuavel) + " -t0", {}},
    {"TwoWithoutMonitor", {{-1, "A", "A"}, {0, "B", "B"}, {-1, "C", "C"}}, 2, 0, std::string(kQuavel), {}},
    {"TwoWithoutMonitorAfterUnassignedAtStart", {{-1, "A", "A"}, {-1, "B", "B"}}, 1, 2,
     std::string(kQuavel) + " -t0", {}},
    // Counted, but it still has its monitor number: no position to give.
    {"UnreadableKeyCountsAtTotalPlusOne", {{0, "A", "A"}, {1, "B", ""}}, 2, 0, std::string(kQuavel) + " -t3", {}},
    // Another device's entry loses its monitor, so the search finds it.
    {"ForeignEntryIsFoundAtItsPosition", {{0, "A", "A"}, {1, "B", "Z"}}, 2, 0, std::string(kQuavel) + " -t2",
     {"Enum\\Ryk\\B"}},
};

INSTANTIATE_TEST_SUITE_P(Calibration, LaunchDecisionTest, ValuesIn(kLaunchCases), CaseName<LaunchCase>);

// ------------------------------------------------------------------ a Quavel that does not start properly

struct StartCase {
    const char* name;
    bool installed;
    sim::ProgramSpec spec;
    bool terminated;       // with exit code 666
    uint64_t waited_us;    // simulated time spent waiting for it
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class CalibrationStartTest : public CalibrationTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(CalibrationStartTest, LeavesNoProcessHandleAndNoWatcher) {
    const StartCase& c = GetParam();
    sim::Machine& m = Prepare({{-1, "A", "A"}}, c.spec, c.installed);
    const size_t handles = OpenHandles(m);
    const uint64_t t0 = m.now_us();

    EXPECT_EQ(LaunchCalibration(), 0);
    m.settle();

    EXPECT_EQ(m.now_us() - t0, c.waited_us);
    auto terminations = m.trace().events("terminate");
    ASSERT_EQ(terminations.size(), c.terminated ? 1u : 0u);
    if (c.terminated) {
        EXPECT_EQ(terminations[0].fields["exit_code"], 666);
    }
    EXPECT_EQ(OpenHandles(m), handles);

    // Nobody waits for its end.
    QuavelFinishes();
    m.settle();
    EXPECT_FALSE(DoneSignalled());
}

// A Quavel that only sleeps: it never becomes ready for input and holds no
// handle of its own, so the machine's handle count is the launch's alone.
sim::ProgramSpec NeverReady() {
    sim::ProgramSpec spec;
    spec.ready_after_ms = -1;
    spec.main = [](const std::string&) {
        Sleep(INFINITE);
        return 0;
    };
    return spec;
}

// WaitForInputIdle fails at once for a console program.
sim::ProgramSpec Console() {
    sim::ProgramSpec spec = NeverReady();
    spec.console = true;
    return spec;
}

const StartCase kStartCases[] = {
    {"NotInstalled", false, sim::ProgramSpec{}, false, 0},
    {"NeverReadyForInput", true, NeverReady(), true, 10'000'000},
    {"ConsoleProgram", true, Console(), true, 0},
};

INSTANTIATE_TEST_SUITE_P(Calibration, CalibrationStartTest, ValuesIn(kStartCases), CaseName<StartCase>);

// ------------------------------------------------------------------ handles and exit watchers

class ExitWatcherTest : public CalibrationTest {};

// Every launch closes what it opened once it is done with it: the count of
// open handles does not grow from one launch to the next.
TEST_F(ExitWatcherTest, HandlesDoNotPileUpOverLaunches) {
    sim::Machine& m = Prepare({{-1, "A", "A"}}, FinishesAfter(50));
    std::vector<size_t> after;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(LaunchCalibration(), 1);
        m.settle();
        EXPECT_TRUE(DoneSignalled()) << "launch " << i + 1;
        after.push_back(OpenHandles(m));
    }
    EXPECT_THAT(after, ElementsAre(after[0], after[0], after[0], after[0]));
    EndWatchers();
    EXPECT_EQ(ghCalExitEvent, nullptr);
}

// Several watchers wait on the one auto-reset event: each setting wakes one,
// and each watcher passes one end on.
TEST_F(ExitWatcherTest, EachEndWakesOneWatcher) {
    sim::ProgramSpec never_ends;
    sim::Machine& m = Prepare({{-1, "A", "A"}}, never_ends);
    ASSERT_EQ(LaunchCalibration(), 1);
    ASSERT_EQ(LaunchCalibration(), 1);
    m.settle();
    EXPECT_FALSE(DoneSignalled());

    std::vector<bool> done;
    for (int i = 0; i < 3; ++i) {
        QuavelFinishes();
        m.settle();
        done.push_back(DoneSignalled());
    }
    EXPECT_THAT(done, ElementsAre(true, true, false));
}

// At the program's end the watchers stop waiting without a done signal, and
// the exit event goes with them.
TEST_F(ExitWatcherTest, EndWatchersEndsWaitingWatchers) {
    sim::ProgramSpec never_ends;
    sim::Machine& m = Prepare({{-1, "A", "A"}}, never_ends);
    ASSERT_EQ(LaunchCalibration(), 1);
    ASSERT_EQ(LaunchCalibration(), 1);
    m.settle();
    ASSERT_NE(ghCalExitEvent, nullptr);

    EndWatchers();
    EXPECT_EQ(ghCalExitEvent, nullptr);
    EXPECT_EQ(ghWatchersEndEvent, nullptr);
    QuavelFinishes();
    m.settle();
    EXPECT_FALSE(DoneSignalled());
}

}  // namespace
}  // namespace unit
