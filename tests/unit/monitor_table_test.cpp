// The monitor table against the simulated desktop and driver: the Windows 95
// grid and its failures, the system-enumeration path and its failures, the
// hand-over of one monitor's rectangle (mode 2), display changes, and the
// bounds of every array access.
#include "monitors/monitor_table.h"

#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/control.h"
#include "desktop.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/touchscreen_list.h"
#include "registry.h"
#include "settings/settings.h"
#include "unit_support.h"

namespace unit {

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::ValuesIn;

const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";
const char kAdminText[] = "You must have administrator privileges to run Plexor.";

constexpr RECT kPrimary = {0, 0, 1024, 768};
constexpr RECT kRight = {1024, 0, 1824, 600};
constexpr RECT kLeft = {-800, 0, 0, 600};
constexpr RECT kBelow = {0, 768, 1024, 1536};

sim::MonitorConfig Mon(RECT rc, RECT work = {0, 0, 0, 0}) { return {rc, work}; }

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// One REQ_SET_MONITOR_RECT as the driver received it.
struct Sent {
    int touchscreen;
    LONG monitor;
    RECT rc;  // left, top, right, bottom, from the request's top, left, bottom, right
    bool operator==(const Sent& o) const {
        return touchscreen == o.touchscreen && monitor == o.monitor && SameRect(rc, o.rc);
    }
};

void PrintTo(const Sent& s, std::ostream* os) {
    *os << "{touchscreen " << s.touchscreen << ", monitor " << s.monitor << ", (" << s.rc.left << ", " << s.rc.top
        << ", " << s.rc.right << ", " << s.rc.bottom << ")}";
}

LONG Le32At(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return static_cast<LONG>(v);
}

// Every rectangle sent, in order. Each must sit in a change bracket of its
// own touchscreen, closed whatever the driver answered.
std::vector<Sent> RectsSent(sim::Machine& m) {
    std::vector<Sent> out;
    const auto all = m.driver().requests();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].code != REQ_SET_MONITOR_RECT) continue;
        const auto& in = all[i].input;
        EXPECT_EQ(in.size(), 32u);
        if (in.size() != 32) continue;
        Sent s{all[i].touchscreen, Le32At(in, 12), {Le32At(in, 20), Le32At(in, 16), Le32At(in, 28), Le32At(in, 24)}};
        out.push_back(s);
        EXPECT_TRUE(i > 0 && all[i - 1].code == REQ_BEGIN_CHANGE && all[i - 1].touchscreen == s.touchscreen)
            << "no REQ_BEGIN_CHANGE for it before request #" << all[i].seq;
        EXPECT_TRUE(i + 1 < all.size() && all[i + 1].code == REQ_END_CHANGE &&
                    all[i + 1].touchscreen == s.touchscreen)
            << "no REQ_END_CHANGE for it after request #" << all[i].seq;
    }
    EXPECT_THAT(m.driver().open_brackets(), IsEmpty());
    return out;
}

// All the driver's settings in the service key, so that a Windows 95 build
// reads without a message box; the grid as given.
void WriteGridSettings(sim::Registry& reg, DWORD dwColumns, DWORD dwRows) {
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        const RegValueEntry& row = DriverSettings[i];
        if (row.dwType == REG_BINARY)
            reg.set_binary(HKEY_LOCAL_MACHINE, kClassKey, row.pszName, std::vector<BYTE>(row.cbData, 0));
        else
            reg.set_dword(HKEY_LOCAL_MACHINE, kClassKey, row.pszName, 7);
    }
    reg.set_dword(HKEY_LOCAL_MACHINE, kClassKey, "NumXScreens", dwColumns);
    reg.set_dword(HKEY_LOCAL_MACHINE, kClassKey, "NumYScreens", dwRows);
}

std::vector<std::string> BoxTexts(sim::Machine& m) {
    std::vector<std::string> texts;
    for (const auto& e : m.trace().events("msgbox")) texts.push_back(e.fields["text"].get<std::string>());
    return texts;
}

class MonitorTableTest : public MachineTest {
protected:
    void SetUp() override { SaveSettingsState(); }
    void TearDown() override {
        ReleaseMonitorArrays();
        pfnGetMonitorInfo = nullptr;
        pfnEnumDisplayMonitors = nullptr;
        RestoreSettingsState();
        MachineTest::TearDown();
    }

    // The machine, the driver open, the touchscreen list enumerated (cursor
    // on its first record) and the monitor counts as window creation sets
    // them; the table itself is not built.
    sim::Machine& Start(sim::Windows w, std::vector<sim::MonitorConfig> monitors,
                        const std::vector<TouchscreenConfig>& screens) {
        sim::Config config;
        config.windows = w;
        config.monitors = std::move(monitors);
        sim::Machine& m = Boot(config, screens);
        OpenDriver();
        gpTouchscreens = new TouchscreenList(ghDriver);
        gpTouchscreens->Enumerate();
        gnMonitorsAtStart = GetSystemMetrics(SM_CMONITORS);
        giNumberOfMonitors = gnMonitorsAtStart;
        return m;
    }

    // A Windows 98 machine with its table built and the driver's log
    // cleared.
    sim::Machine& Built98(std::vector<sim::MonitorConfig> monitors, const std::vector<TouchscreenConfig>& screens) {
        sim::Machine& m = Start(sim::Windows::v98, std::move(monitors), screens);
        EXPECT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), 0);
        m.driver().clear_log();
        return m;
    }

    // A Windows 95 machine with a grid of that many columns and rows in the
    // service key, its table built and the driver's log cleared.
    sim::Machine& Built95(DWORD dwColumns, DWORD dwRows, const std::vector<TouchscreenConfig>& screens) {
        sim::Machine& m = Start(sim::Windows::v95, {Mon(kPrimary)}, screens);
        WriteGridSettings(m.registry(), dwColumns, dwRows);
        EXPECT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), 0);
        m.driver().clear_log();
        return m;
    }

    static void ExpectRecord(LONG i, const RECT& rc, const RECT& work) {
        SCOPED_TRACE("record " + std::to_string(i));
        ASSERT_NE(gpMonitors, nullptr);
        ASSERT_LT(i, giMonitorCapacity);
        EXPECT_EQ(gpMonitors[i].cbSize, 40u);
        EXPECT_TRUE(SameRect(gpMonitors[i].rcMonitor, rc));
        EXPECT_TRUE(SameRect(gpMonitors[i].rcWork, work));
    }
};

// ------------------------------------------------------------------ Windows 95 grid

struct GridCase {
    const char* name;
    RECT screen;
    DWORD columns;
    DWORD rows;
    LONG count;
    std::vector<std::pair<LONG, RECT>> cells;  // monitor number -> its rectangle
};

void PrintTo(const GridCase& c, std::ostream* os) { *os << c.name; }

class GridTest : public MonitorTableTest, public ::testing::WithParamInterface<GridCase> {};

TEST_P(GridTest, CutsThePrimaryScreenIntoCells) {
    const GridCase& c = GetParam();
    sim::Machine& m = Start(sim::Windows::v95, {Mon(c.screen)}, {Screen(0)});
    WriteGridSettings(m.registry(), c.columns, c.rows);

    EXPECT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), 0);
    EXPECT_EQ(giNumberOfMonitors, c.count);
    EXPECT_EQ(giMonitorCapacity, c.count);
    ASSERT_NE(gpMonitors, nullptr);
    ASSERT_NE(gpPrevMonitors, nullptr);
    for (const auto& [i, rc] : c.cells) {
        ExpectRecord(i, rc, rc);
        EXPECT_EQ(gpMonitors[i].dwFlags, 0u) << "record " << i;
    }
    // The build reads the settings and keeps its key object; it shows
    // nothing and sends nothing.
    ASSERT_NE(gpServiceKey, nullptr);
    EXPECT_STREQ(gpServiceKey->szPath, kClassKey);
    EXPECT_EQ(gdwMouseMode, 7u);
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());
}

const GridCase kGridCases[] = {
    {"TwoByOne", kPrimary, 2, 1, 2, {{0, {0, 0, 512, 768}}, {1, {512, 0, 1024, 768}}}},
    {"TwoByTwo",
     kPrimary,
     2,
     2,
     4,
     {{0, {0, 0, 512, 384}}, {1, {512, 0, 1024, 384}}, {2, {0, 384, 512, 768}}, {3, {512, 384, 1024, 768}}}},
    // 1024 / 3 = 341: the last pixel column belongs to no cell.
    {"ThreeColumnsOn1024",
     kPrimary,
     3,
     1,
     3,
     {{0, {0, 0, 341, 768}}, {1, {341, 0, 682, 768}}, {2, {682, 0, 1023, 768}}}},
    {"OneByThreeOn800x600", {0, 0, 800, 600}, 1, 3, 3, {{0, {0, 0, 800, 200}}, {2, {0, 400, 800, 600}}}},
    // Counts below 1 count as 1; every count of 1 or more is the grid's.
    {"ZeroColumns", kPrimary, 0, 1, 1, {{0, {0, 0, 1024, 768}}}},
    {"NegativeRows", kPrimary, 2, 0xFFFFFFFFu, 2, {{0, {0, 0, 512, 768}}, {1, {512, 0, 1024, 768}}}},
    {"FortyColumns", kPrimary, 40, 1, 40, {{0, {0, 0, 25, 768}}, {39, {975, 0, 1000, 768}}}},
    {"TwentyColumnsHaveMonitorSeventeen", kPrimary, 20, 1, 20, {{17, {867, 0, 918, 768}}}},
    {"FourByFive", kPrimary, 4, 5, 20, {{17, {256, 612, 512, 765}}, {19, {768, 612, 1024, 765}}}},
    // Beyond 65536 cells the rows are held to what the columns leave: "3"
    // stored as text reads as 0x33 (51) columns, 65536 / 51 = 1285 rows.
    {"HugeGrid", kPrimary, 0x33, 0x10000, 51 * 1285, {{0, {0, 0, 20, 0}}, {51 * 1285 - 1, {1000, 0, 1020, 0}}}},
    {"HugeColumns", kPrimary, 0x7FFFFFFFu, 0x7FFFFFFFu, 65536, {{0, {0, 0, 0, 768}}, {65535, {0, 0, 0, 768}}}},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, GridTest, ValuesIn(kGridCases), CaseName<GridCase>);

struct GridFailureCase {
    const char* name;
    bool refresh;  // the failure comes at a display change after a good build
    // Breaks the service key (which holds a 2 x 1 grid).
    std::function<void(sim::Registry&)> breaks;
    int result;
    std::vector<std::string> boxes;
    const char* caption;  // of the last box
    UINT style;           // of the last box
};

void PrintTo(const GridFailureCase& c, std::ostream* os) { *os << c.name; }

class GridFailureTest : public MonitorTableTest, public ::testing::WithParamInterface<GridFailureCase> {};

// A failed build leaves no arrays and the count as it was; nothing is sent
// for any monitor afterwards.
TEST_P(GridFailureTest, ShowsItsBoxAndLeavesNoTable) {
    const GridFailureCase& c = GetParam();
    sim::Machine& m = Start(sim::Windows::v95, {Mon(kPrimary)}, {Screen(0), Screen(1)});
    WriteGridSettings(m.registry(), 2, 1);
    if (c.refresh) {
        ASSERT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), 0);
    }
    const LONG nBefore = giNumberOfMonitors;
    c.breaks(m.registry());

    EXPECT_EQ(EnumMonitors(0, c.refresh ? REFRESH_MONITOR_INFO : INIT_MONITOR_INFO), c.result);
    EXPECT_THAT(BoxTexts(m), ElementsAreArray(c.boxes));
    const auto boxes = m.trace().events("msgbox");
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().fields["caption"], c.caption);
    EXPECT_EQ(boxes.back().fields["style"], c.style);
    EXPECT_EQ(boxes.back().fields["owner"], false);

    EXPECT_EQ(gpMonitors, nullptr);
    EXPECT_EQ(gpPrevMonitors, nullptr);
    EXPECT_EQ(giNumberOfMonitors, nBefore);
    EXPECT_EQ(IsMonitorInfoUnchanged(0), 0);
    EXPECT_EQ(EnumMonitors(0, UPDATE_MONITOR_INFO), 0);
    SendMonitorRect(0, 0);
    SendMonitorRect(1, 1);
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());
}

std::vector<std::string> ReadErrorsThen(const std::string& last) {
    std::vector<std::string> v(DRIVER_SETTINGS_ROWS, "Reg read error");
    v.push_back(last);
    return v;
}

void RemoveAllSettings(sim::Registry& reg) {
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i)
        reg.remove_value(HKEY_LOCAL_MACHINE, kClassKey, DriverSettings[i].pszName);
}

void MakeReadOnly(sim::Registry& reg) { reg.set_read_only(HKEY_LOCAL_MACHINE, kClassKey, true); }

const GridFailureCase kGridFailureCases[] = {
    {"UnwritableKey", false, MakeReadOnly, MONITORS_NO_ACCESS, {kAdminText}, "Error", MB_ICONWARNING},
    {"EmptyKey", false, RemoveAllSettings, MONITORS_NO_SETTINGS,
     ReadErrorsThen("Error number 2 occurred while reading the registry"), "Plexor", MB_OK},
    {"UnwritableAtDisplayChange", true, MakeReadOnly, MONITORS_NO_ACCESS, {kAdminText}, "Error", MB_ICONWARNING},
    {"EmptyAtDisplayChange", true, RemoveAllSettings, MONITORS_NO_SETTINGS,
     ReadErrorsThen("Error number 2 occurred while reading the registry"), "Plexor", MB_OK},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, GridFailureTest, ValuesIn(kGridFailureCases),
                         CaseName<GridFailureCase>);

// The whole program on Windows 95 without the right to write the service
// key: settings load silently fails, the grid build shows the administrator
// box, and the program ends with exit code 2 before any worker starts.
TEST_F(MonitorTableTest, ProgramOnWindows95WithoutAdministratorRightsQuitsWith2) {
    sim::Config config;
    config.windows = sim::Windows::v95;
    sim::Machine& m = Boot(config, {Screen(0)});
    WriteGridSettings(m.registry(), 2, 1);
    MakeReadOnly(m.registry());

    const DWORD pid = m.start_process("RykXyLdr", [] {
        return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
    });
    m.settle();
    ASSERT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), 2u);
    EXPECT_THAT(BoxTexts(m), ElementsAre(kAdminText));
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
    EXPECT_THAT(m.driver().requests(REQ_SET_XY_EVENT), IsEmpty());
}

// ------------------------------------------------------------------ system enumeration

TEST_F(MonitorTableTest, BuildRecordsEveryMonitorInEnumerationOrder) {
    sim::Machine& m =
        Start(sim::Windows::v98, {Mon(kPrimary, {0, 0, 1024, 740}), Mon(kLeft), Mon(kBelow)}, {Screen(0)});
    EXPECT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), 0);
    EXPECT_EQ(giNumberOfMonitors, 3);
    EXPECT_EQ(giMonitorCapacity, 3);
    ExpectRecord(0, kPrimary, {0, 0, 1024, 740});
    ExpectRecord(1, kLeft, kLeft);
    ExpectRecord(2, kBelow, kBelow);
    EXPECT_EQ(gpMonitors[0].dwFlags, static_cast<DWORD>(MONITORINFOF_PRIMARY));
    EXPECT_EQ(gpMonitors[1].dwFlags, 0u);
    EXPECT_NE(pfnGetMonitorInfo, nullptr);
    EXPECT_NE(pfnEnumDisplayMonitors, nullptr);
    // No key object is made on this path, and nothing is sent.
    EXPECT_EQ(gpServiceKey, nullptr);
    EXPECT_STREQ(gszServiceKey, kClassKey);
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
}

struct LookupCase {
    const char* name;
    sim::Windows windows;
    bool direct;  // EnumMonitors98 called directly, not through EnumMonitors
    LONG monitors;  // giNumberOfMonitors before the build
    int result;
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

class LookupFailureTest : public MonitorTableTest, public ::testing::WithParamInterface<LookupCase> {};

// Without GetMonitorInfoA the build fails with 2; the arrays exist but hold
// nothing, and later display changes and updates neither crash nor send.
TEST_P(LookupFailureTest, BuildFailsAndLaterCallsAreHarmless) {
    const LookupCase& c = GetParam();
    sim::Machine& m = Start(c.windows, {Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)});
    giNumberOfMonitors = c.monitors;
    EXPECT_EQ(c.direct ? EnumMonitors98(0, INIT_MONITOR_INFO) : EnumMonitors(0, INIT_MONITOR_INFO), c.result);
    EXPECT_EQ(pfnGetMonitorInfo, nullptr);
    EXPECT_EQ(pfnEnumDisplayMonitors, nullptr);
    ASSERT_NE(gpMonitors, nullptr);
    EXPECT_EQ(giMonitorCapacity, c.monitors);

    EXPECT_EQ(EnumMonitors98(0, REFRESH_MONITOR_INFO), 0);
    if (!c.direct) UpdateVxdDisplayInfo();
    EXPECT_EQ(EnumMonitors98(-1, UPDATE_MONITOR_INFO), 0);
    EXPECT_EQ(EnumMonitors98(5, UPDATE_MONITOR_INFO), 0);
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
}

const LookupCase kLookupCases[] = {
    // NT 4.0 knows nothing of several monitors: SM_CMONITORS is 0.
    {"WindowsNt4", sim::Windows::nt4, false, 0, MONITORS_NO_GETMONITORINFO},
    {"WindowsNt4WithACount", sim::Windows::nt4, false, 2, MONITORS_NO_GETMONITORINFO},
    {"Windows95OnTheSystemPath", sim::Windows::v95, true, 0, MONITORS_NO_GETMONITORINFO},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, LookupFailureTest, ValuesIn(kLookupCases), CaseName<LookupCase>);

// Modes other than 1 to 3 do nothing, except on the system-enumeration path
// while there is no table: then any mode builds it, and sends nothing.
struct ModeCase {
    const char* name;
    sim::Windows windows;
    bool built;
    int mode;
    bool table_after;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class OtherModeTest : public MonitorTableTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(OtherModeTest, DoesNothingOrBuilds) {
    const ModeCase& c = GetParam();
    sim::Machine& m = Start(c.windows, {Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)});
    WriteGridSettings(m.registry(), 2, 1);
    if (c.built) {
        ASSERT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), 0);
    }
    const MONITORINFO* pBefore = gpMonitors;
    m.driver().clear_log();

    EXPECT_EQ(EnumMonitors(0, c.mode), 0);
    EXPECT_EQ(gpMonitors != nullptr, c.table_after);
    if (c.built) {
        EXPECT_EQ(gpMonitors, pBefore);
    }
    if (c.table_after) {
        const RECT rc = c.windows == sim::Windows::v95 ? RECT{512, 0, 1024, 768} : kRight;
        ExpectRecord(1, rc, rc);
    }
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());
}

const ModeCase kModeCases[] = {
    {"Windows95Mode0", sim::Windows::v95, false, 0, false},
    {"Windows95Mode4AfterBuild", sim::Windows::v95, true, 4, true},
    {"Windows95UpdateWithoutTable", sim::Windows::v95, false, UPDATE_MONITOR_INFO, false},
    {"Windows98Mode7AfterBuild", sim::Windows::v98, true, 7, true},
    {"Windows98Mode0WithoutTable", sim::Windows::v98, false, 0, true},
    {"Windows98UpdateWithoutTable", sim::Windows::v98, false, UPDATE_MONITOR_INFO, true},
    {"Windows98RefreshWithoutTable", sim::Windows::v98, false, REFRESH_MONITOR_INFO, true},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, OtherModeTest, ValuesIn(kModeCases), CaseName<ModeCase>);

// A monitor that appears between the count and the enumeration has no record
// to go to: the records that fit are filled and nothing beyond the arrays is
// written.
struct LateMonitorCase {
    const char* name;
    int mode;
};

void PrintTo(const LateMonitorCase& c, std::ostream* os) { *os << c.name; }

class LateMonitorTest : public MonitorTableTest, public ::testing::WithParamInterface<LateMonitorCase> {};

TEST_P(LateMonitorTest, EnumerationStopsAtTheArraysCapacity) {
    const LateMonitorCase& c = GetParam();
    sim::Machine& m = Start(sim::Windows::v98, {Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1), Screen(2)});
    if (c.mode == REFRESH_MONITOR_INFO) {
        ASSERT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), 0);
    }
    m.desktop().set_before_enumeration([&m] {
        m.desktop().set_monitors({Mon(kPrimary), Mon(kLeft), Mon(kBelow), Mon(kRight), Mon({2000, 0, 2640, 480})});
    });

    EXPECT_EQ(EnumMonitors(0, c.mode), 0);
    EXPECT_EQ(giMonitorCapacity, 2);
    EXPECT_EQ(giNumberOfMonitors, 2);
    ExpectRecord(0, kPrimary, kPrimary);
    ExpectRecord(1, kLeft, kLeft);
    // The snapshot, which no one has taken, is still empty.
    const MONITORINFO empty = {};
    for (LONG i = 0; i < giMonitorCapacity; ++i)
        EXPECT_EQ(std::memcmp(&gpPrevMonitors[i], &empty, sizeof empty), 0) << "snapshot record " << i;
    SendMonitorRect(2, 2);
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
}

const LateMonitorCase kLateMonitorCases[] = {
    {"AtTheBuild", INIT_MONITOR_INFO},
    {"AtARefresh", REFRESH_MONITOR_INFO},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, LateMonitorTest, ValuesIn(kLateMonitorCases), CaseName<LateMonitorCase>);

// ------------------------------------------------------------------ SendMonitorRect

TEST_F(MonitorTableTest, SendMonitorRectIsEncodedInsideItsBracket) {
    sim::Machine& m = Built98({Mon(kPrimary), Mon(kLeft)}, {Screen(0), Screen(1), Screen(1)});
    SendMonitorRect(1, 2);

    const auto r = m.driver().requests();
    ASSERT_EQ(r.size(), 3u);
    ExpectEncoded(r[0], REQ_BEGIN_CHANGE, 12, {{2, Le16(10)}, {8, Le16(2)}});
    // From byte 12 on: monitor 1, then top 0, left -800, bottom 600, right 0.
    ExpectEncoded(r[1], REQ_SET_MONITOR_RECT, 32,
                  {{2, Le16(10)},
                   {8, Le16(2)},
                   {12, Le32(1)},
                   {16, Le32(0)},
                   {20, Le32(static_cast<uint32_t>(-800))},
                   {24, Le32(600)},
                   {28, Le32(0)}});
    ExpectEncoded(r[2], REQ_END_CHANGE, 12, {{2, Le16(10)}, {8, Le16(2)}});
}

TEST_F(MonitorTableTest, RefusedRectangleStillClosesTheBracket) {
    sim::Machine& m = Built98({Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)});
    m.driver().refuse(REQ_SET_MONITOR_RECT, Refusal{.always = true});
    SendMonitorRect(1, 1);

    const auto r = m.driver().requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].code, REQ_BEGIN_CHANGE);
    EXPECT_EQ(r[1].code, REQ_SET_MONITOR_RECT);
    EXPECT_FALSE(r[1].ok);
    EXPECT_EQ(r[2].code, REQ_END_CHANGE);
    EXPECT_EQ(r[2].touchscreen, 1);
    EXPECT_THAT(m.driver().open_brackets(), IsEmpty());
}

// A monitor number that the table does not hold sends nothing at all, and
// counts as changed.
struct BoundsCase {
    const char* name;
    std::function<void()> prepare;  // on a built 2-monitor table with a snapshot
    LONG monitor;
};

void PrintTo(const BoundsCase& c, std::ostream* os) { *os << c.name; }

class BoundsTest : public MonitorTableTest, public ::testing::WithParamInterface<BoundsCase> {};

TEST_P(BoundsTest, NumberOutsideTheTableIsNeverRead) {
    const BoundsCase& c = GetParam();
    sim::Machine& m = Built98({Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)});
    SaveMonitorInfo();
    if (c.prepare) c.prepare();

    SendMonitorRect(c.monitor, 0);
    EXPECT_EQ(IsMonitorInfoUnchanged(c.monitor), 0);
    EXPECT_EQ(EnumMonitors(c.monitor, UPDATE_MONITOR_INFO), 0);
    EXPECT_THAT(m.driver().requests(), IsEmpty());
}

const BoundsCase kBoundsCases[] = {
    {"Negative", nullptr, -2},
    {"OneBeyondTheLast", nullptr, 2},
    {"FromAMessage", nullptr, 0xFFFF},
    {"MostNegative", nullptr, static_cast<LONG>(0x80000000u)},
    // Within the arrays but beyond the count a display change left.
    {"BeyondALoweredCount", [] { giNumberOfMonitors = 1; }, 1},
    // The count above the arrays: only the arrays bound.
    {"BeyondTheCapacity", [] { giNumberOfMonitors = 5; }, 3},
    {"NoArrays", [] { ReleaseMonitorArrays(); }, 0},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, BoundsTest, ValuesIn(kBoundsCases), CaseName<BoundsCase>);

// ------------------------------------------------------------------ IsMonitorInfoUnchanged

struct EdgeCase {
    const char* name;
    std::function<void(MONITORINFO&)> change;
    int unchanged;
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

class EdgeTest : public MonitorTableTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(EdgeTest, EightEdgesCountNotSizeOrFlags) {
    const EdgeCase& c = GetParam();
    Built98({Mon(kPrimary), Mon(kRight)}, {Screen(0)});
    SaveMonitorInfo();
    EXPECT_EQ(IsMonitorInfoUnchanged(1), 1);
    c.change(gpMonitors[1]);
    EXPECT_EQ(IsMonitorInfoUnchanged(1), c.unchanged);
    EXPECT_EQ(IsMonitorInfoUnchanged(0), 1);
}

const EdgeCase kEdgeCases[] = {
    {"MonitorLeft", [](MONITORINFO& mi) { ++mi.rcMonitor.left; }, 0},
    {"MonitorTop", [](MONITORINFO& mi) { ++mi.rcMonitor.top; }, 0},
    {"MonitorRight", [](MONITORINFO& mi) { ++mi.rcMonitor.right; }, 0},
    {"MonitorBottom", [](MONITORINFO& mi) { ++mi.rcMonitor.bottom; }, 0},
    {"WorkLeft", [](MONITORINFO& mi) { ++mi.rcWork.left; }, 0},
    {"WorkTop", [](MONITORINFO& mi) { ++mi.rcWork.top; }, 0},
    {"WorkRight", [](MONITORINFO& mi) { --mi.rcWork.right; }, 0},
    {"WorkBottom", [](MONITORINFO& mi) { --mi.rcWork.bottom; }, 0},
    {"SizeField", [](MONITORINFO& mi) { mi.cbSize = 72; }, 1},
    {"Flags", [](MONITORINFO& mi) { mi.dwFlags ^= MONITORINFOF_PRIMARY; }, 1},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, EdgeTest, ValuesIn(kEdgeCases), CaseName<EdgeCase>);

// ------------------------------------------------------------------ mode 2

struct UpdateCase {
    const char* name;
    std::vector<TouchscreenConfig> screens;
    // Runs on the built table (monitors kPrimary and kRight) before the call.
    std::function<void(sim::Machine&)> prepare;
    LONG monitor;
    std::vector<Sent> sent;
};

void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }

class UpdateModeTest : public MonitorTableTest, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateModeTest, SendsToTheFirstTouchscreenOnTheMonitorWhenChanged) {
    const UpdateCase& c = GetParam();
    sim::Machine& m = Built98({Mon(kPrimary), Mon(kRight)}, c.screens);
    if (c.prepare) c.prepare(m);
    m.driver().clear_log();
    // The caller's cursor, here on the last record, is put back.
    gpTouchscreens->MoveLast();
    const LONG idBefore = gpTouchscreens->GetId();

    EXPECT_EQ(EnumMonitors(c.monitor, UPDATE_MONITOR_INFO), 0);
    EXPECT_THAT(RectsSent(m), ElementsAreArray(c.sent));
    EXPECT_EQ(gpTouchscreens->GetId(), idBefore);
}

void Snapshot(sim::Machine&) { SaveMonitorInfo(); }

// A display change as UpdateVxdDisplayInfo begins it: snapshot and refill.
std::function<void(sim::Machine&)> Change(std::vector<sim::MonitorConfig> monitors) {
    return [monitors](sim::Machine& m) {
        SaveMonitorInfo();
        m.desktop().set_monitors(monitors);
        ASSERT_EQ(EnumMonitors(0, REFRESH_MONITOR_INFO), 0);
    };
}

const UpdateCase kUpdateCases[] = {
    {"NoMonitor", {Screen(0), Screen(-1)}, nullptr, -1, {}},
    {"RightAfterTheBuild", {Screen(0), Screen(1)}, nullptr, 0, {{0, 0, kPrimary}}},
    {"MonitorWithoutTouchscreenGoesToTouchscreen0", {Screen(0), Screen(-1)}, nullptr, 1, {{0, 1, kRight}}},
    {"FirstOfTwoTouchscreensOnly", {Screen(0), Screen(1), Screen(1)}, nullptr, 1, {{1, 1, kRight}}},
    {"UnchangedSinceTheSnapshot", {Screen(0), Screen(1)}, Snapshot, 1, {}},
    {"MovedSinceTheSnapshot", {Screen(0), Screen(1)}, Change({Mon(kPrimary), Mon(kLeft)}), 1, {{1, 1, kLeft}}},
    {"OtherMonitorMoved", {Screen(0), Screen(1)}, Change({Mon(kPrimary), Mon(kLeft)}), 0, {}},
    // The taskbar moved: the same monitor rectangle goes out again.
    {"WorkAreaOnly", {Screen(0), Screen(1)}, Change({Mon(kPrimary, {0, 30, 1024, 768}), Mon(kRight)}), 0,
     {{0, 0, kPrimary}}},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, UpdateModeTest, ValuesIn(kUpdateCases), CaseName<UpdateCase>);

// ------------------------------------------------------------------ display changes

struct DisplayCase {
    const char* name;
    std::vector<sim::MonitorConfig> before;
    std::vector<TouchscreenConfig> screens;
    std::vector<sim::MonitorConfig> after;
    std::vector<Sent> sent;
    LONG count;     // giNumberOfMonitors afterwards
    LONG capacity;  // giMonitorCapacity afterwards
    LONG cursor;    // identifier of the list's current record afterwards
};

void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.name; }

class DisplayChangeTest : public MonitorTableTest, public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(DisplayChangeTest, SendsChangedMonitorsThatCarryATouchscreen) {
    const DisplayCase& c = GetParam();
    sim::Machine& m = Built98(c.before, c.screens);
    gpTouchscreens->MoveLast();
    m.desktop().set_monitors(c.after);

    UpdateVxdDisplayInfo();
    EXPECT_THAT(RectsSent(m), ElementsAreArray(c.sent));
    EXPECT_EQ(giNumberOfMonitors, c.count);
    EXPECT_EQ(giMonitorCapacity, c.capacity);
    EXPECT_EQ(gpTouchscreens->GetId(), c.cursor);
}

const DisplayCase kDisplayCases[] = {
    {"NothingChanged", {Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)}, {Mon(kPrimary), Mon(kRight)}, {}, 2, 2, 1},
    {"OneMonitorMoves",
     {Mon(kPrimary), Mon(kRight)},
     {Screen(0), Screen(1)},
     {Mon(kPrimary), Mon(kLeft)},
     {{1, 1, kLeft}},
     2,
     2,
     1},
    {"TaskbarMoves",
     {Mon(kPrimary), Mon(kRight)},
     {Screen(0), Screen(1)},
     {Mon(kPrimary, {0, 0, 1024, 700}), Mon(kRight)},
     {{0, 0, kPrimary}},
     2,
     2,
     1},
    // The cursor ends on the touchscreen of the highest-numbered monitor
    // that has one, here the first record.
    {"CursorOnTheHighestMonitorsTouchscreen",
     {Mon(kPrimary), Mon(kRight)},
     {Screen(1), Screen(0)},
     {Mon(kPrimary), Mon(kLeft)},
     {{0, 1, kLeft}},
     2,
     2,
     0},
    {"NoTouchscreenOnAnyMonitor",
     {Mon(kPrimary), Mon(kRight)},
     {Screen(-1), Screen(-1)},
     {Mon(kLeft), Mon(kRight)},
     {},
     2,
     2,
     1},
    // More monitors than at window creation: new arrays, no snapshot, so
    // every monitor with a touchscreen is sent, unchanged ones included.
    {"MoreMonitors",
     {Mon(kPrimary), Mon(kRight)},
     {Screen(0), Screen(2), Screen(1)},
     {Mon(kPrimary), Mon(kRight), Mon(kLeft)},
     {{0, 0, kPrimary}, {2, 1, kRight}, {1, 2, kLeft}},
     3,
     3,
     1},
    {"MoreMonitorsSomeWithoutTouchscreen",
     {Mon(kPrimary)},
     {Screen(2), Screen(-1)},
     {Mon(kPrimary), Mon(kRight), Mon(kLeft)},
     {{0, 2, kLeft}},
     3,
     3,
     0},
    // Fewer monitors: the count drops and monitors beyond it are left alone.
    {"FewerMonitors",
     {Mon(kPrimary), Mon(kRight)},
     {Screen(0), Screen(1)},
     {Mon(kLeft)},
     {{0, 0, kLeft}},
     1,
     2,
     0},
    {"FewerMonitorsNoneChanged", {Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)}, {Mon(kPrimary)}, {}, 1, 2, 0},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, DisplayChangeTest, ValuesIn(kDisplayCases), CaseName<DisplayCase>);

// Back to the count of window creation after a time with fewer monitors: the
// arrays are not made anew, and only what changed since the snapshot goes out.
TEST_F(MonitorTableTest, FewerThenAsManyAsAtStart) {
    sim::Machine& m = Built98({Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)});
    const MONITORINFO* pArrays = gpMonitors;
    m.desktop().set_monitors({Mon(kPrimary)});
    UpdateVxdDisplayInfo();
    EXPECT_EQ(giNumberOfMonitors, 1);

    m.desktop().set_monitors({Mon(kPrimary), Mon(kLeft)});
    UpdateVxdDisplayInfo();
    EXPECT_EQ(giNumberOfMonitors, 2);
    EXPECT_EQ(gpMonitors, pArrays);
    EXPECT_THAT(RectsSent(m), ElementsAre(Sent{1, 1, kLeft}));
}

// On Windows 95 every display change rebuilds the grid from the registry:
// the snapshot is lost, so every monitor with a touchscreen is sent again,
// and a changed grid takes effect.
TEST_F(MonitorTableTest, Windows95DisplayChangeRebuildsTheGrid) {
    sim::Machine& m = Built95(2, 1, {Screen(0), Screen(1)});
    UpdateVxdDisplayInfo();
    EXPECT_THAT(RectsSent(m), ElementsAre(Sent{0, 0, {0, 0, 512, 768}}, Sent{1, 1, {512, 0, 1024, 768}}));
    EXPECT_EQ(giNumberOfMonitors, 2);

    m.driver().clear_log();
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kClassKey, "NumXScreens", 1);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kClassKey, "BeepFreq", 1234);
    UpdateVxdDisplayInfo();
    EXPECT_THAT(RectsSent(m), ElementsAre(Sent{0, 0, kPrimary}));
    EXPECT_EQ(giNumberOfMonitors, 1);
    EXPECT_EQ(giMonitorCapacity, 1);
    EXPECT_EQ(gdwBeepFreq, 1234u);
    ASSERT_NE(gpServiceKey, nullptr);
    EXPECT_EQ(gpServiceKey->LastError(), 0);
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());
}

// The window procedure's route: WM_DISPLAYCHANGE reaches the table and
// answers 0.
TEST_F(MonitorTableTest, DisplayChangeMessage) {
    sim::Machine& m = Built98({Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)});
    m.desktop().set_monitors({Mon(kPrimary), Mon(kLeft)});
    LRESULT lResult = 12345;
    EXPECT_TRUE(HandleControlMessage(nullptr, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768), &lResult));
    EXPECT_EQ(lResult, 0);
    EXPECT_THAT(RectsSent(m), ElementsAre(Sent{1, 1, kLeft}));
}

// ------------------------------------------------------------------ allocation failures

TEST_F(MonitorTableTest, ArraysThatCannotBeAllocatedOnTheSystemPath) {
    sim::Machine& m = Start(sim::Windows::v98, {Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1)});
    sim::fail_nothrow_allocation(0);
    EXPECT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), MONITORS_NO_MEMORY);
    EXPECT_EQ(gpMonitors, nullptr);
    EXPECT_EQ(giMonitorCapacity, 0);
    EXPECT_EQ(giNumberOfMonitors, 2);
    SendMonitorRect(0, 0);
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());

    // The next call of any mode builds the table, and sends nothing.
    EXPECT_EQ(EnumMonitors(1, UPDATE_MONITOR_INFO), 0);
    ExpectRecord(1, kRight, kRight);
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
}

// More monitors at a display change, and no memory for larger arrays: the
// table keeps its arrays and count and is refilled as far as it reaches.
TEST_F(MonitorTableTest, LargerArraysThatCannotBeAllocated) {
    sim::Machine& m = Built98({Mon(kPrimary), Mon(kRight)}, {Screen(0), Screen(1), Screen(2)});
    const MONITORINFO* pArrays = gpMonitors;
    m.desktop().set_monitors({Mon(kPrimary), Mon(kLeft), Mon(kBelow)});
    sim::fail_nothrow_allocation(0);
    EXPECT_EQ(EnumMonitors(0, REFRESH_MONITOR_INFO), MONITORS_NO_MEMORY);
    EXPECT_EQ(gpMonitors, pArrays);
    EXPECT_EQ(giNumberOfMonitors, 2);
    EXPECT_EQ(giMonitorCapacity, 2);
    ExpectRecord(1, kLeft, kLeft);
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_RECT), IsEmpty());
}

struct GridMemoryCase {
    const char* name;
    int skip;  // allocations that succeed before the failing one
    bool key_object;
};

void PrintTo(const GridMemoryCase& c, std::ostream* os) { *os << c.name; }

class GridMemoryTest : public MonitorTableTest, public ::testing::WithParamInterface<GridMemoryCase> {};

// Silent failure, no table; the count as it was.
TEST_P(GridMemoryTest, GridBuildWithoutMemory) {
    const GridMemoryCase& c = GetParam();
    sim::Machine& m = Start(sim::Windows::v95, {Mon(kPrimary)}, {Screen(0)});
    WriteGridSettings(m.registry(), 2, 2);
    sim::fail_nothrow_allocation(c.skip);
    EXPECT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), MONITORS_NO_MEMORY);
    EXPECT_EQ(gpMonitors, nullptr);
    EXPECT_EQ(giNumberOfMonitors, 0);
    EXPECT_EQ(gpServiceKey != nullptr, c.key_object);
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());

    EXPECT_EQ(EnumMonitors(0, REFRESH_MONITOR_INFO), 0);
    EXPECT_EQ(giNumberOfMonitors, 4);
}

const GridMemoryCase kGridMemoryCases[] = {
    {"KeyObject", 0, false},
    {"Arrays", 1, true},
};

INSTANTIATE_TEST_SUITE_P(MonitorTable, GridMemoryTest, ValuesIn(kGridMemoryCases), CaseName<GridMemoryCase>);

}  // namespace
}  // namespace unit
