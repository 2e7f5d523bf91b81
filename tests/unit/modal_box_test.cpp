// The program's message boxes are modal: while one is open, its thread runs
// the box's own message loop. On the main thread that loop dispatches the
// hidden window's messages, re-entering the window procedure; the
// add-monitor watcher's box holds its thread until it is closed. These
// tests hold the boxes open and play what can arrive meanwhile.
#include <string>

#include "app/app.h"
#include "driver/channel.h"
#include "monitors/monitor_table.h"
#include "hotplug/signals.h"
#include "settings/settings.h"
#include "hotplug_support.h"

namespace unit {
namespace {

using ::testing::ValuesIn;

const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";

// The driver's settings on Windows 95 with a 2 x 1 grid and one value
// missing, so that every read of them shows "Reg read error".
void SettingsWithOneMissing(sim::Registry& reg) {
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        const RegValueEntry& row = DriverSettings[i];
        if (std::string(row.pszName) == "BeepFlag") continue;
        if (row.dwType == REG_BINARY)
            reg.set_binary(HKEY_LOCAL_MACHINE, kClassKey, row.pszName, std::vector<BYTE>(row.cbData, 0));
        else
            reg.set_dword(HKEY_LOCAL_MACHINE, kClassKey, row.pszName, 1);
    }
    reg.set_dword(HKEY_LOCAL_MACHINE, kClassKey, "NumXScreens", 2);
}

// What arrives at the main thread while the grid's "Reg read error" box of a
// display change is open.
struct WhileOpenCase {
    const char* name;
    std::function<void(sim::Machine&)> arrive;
    size_t boxes_open;  // afterwards, the first one still open
    bool ended;         // the program has ended once the box is dismissed
};

void PrintTo(const WhileOpenCase& c, std::ostream* os) { *os << c.name; }

class GridBoxTest : public HotplugTest, public ::testing::WithParamInterface<WhileOpenCase> {};

TEST_P(GridBoxTest, MessagesDispatchedByTheBoxAreSafe) {
    const WhileOpenCase& c = GetParam();
    sim::Config config;
    config.windows = sim::Windows::v95;
    sim::Machine& m = BootMachine(config, {Screen(0, "A", "Enum\\A")});
    m.registry().set_string(HKEY_LOCAL_MACHINE, "Enum\\A", "SerialNumber", "A");
    SettingsWithOneMissing(m.registry());
    const DWORD pid = StartRykXyLdr(m);
    m.settle();
    ASSERT_FALSE(m.process_ended(pid));

    m.hold_message_boxes(true);
    PostToProgram(m, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    ASSERT_EQ(m.open_message_boxes(), 1u) << "the display change's build shows its box";

    c.arrive(m);
    EXPECT_EQ(m.open_message_boxes(), c.boxes_open);

    m.hold_message_boxes(false);
    while (m.release_message_box()) m.settle();
    m.settle();
    EXPECT_EQ(m.process_ended(pid), c.ended);
    if (!c.ended) {
        // The grid stands and the worker is served.
        EXPECT_EQ(giNumberOfMonitors, 2);
        CloseRykXyLdr(m);
    }
    EXPECT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), 0u);
}

const WhileOpenCase kWhileOpenCases[] = {
    // A second build inside the first would free the key object that the
    // first still writes its last error into.
    {"SecondDisplayChangeIsNotHandled",
     [](sim::Machine& m) { PostToProgram(m, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768)); }, 1, false},
    {"AdditionIsRescanned",
     [](sim::Machine& m) {
         m.driver().add_touchscreen(Screen(0, "B", "Enum\\B"));
         ASSERT_TRUE(m.driver().signal_add_monitor());
         m.settle();
     },
     1, false},
    {"AssignmentIsAnswered", [](sim::Machine& m) { PostCommand(m, 1, MAKELPARAM(1, 0)); }, 1, false},
    // WM_CLOSE destroys the window; the quit closes the box and ends the
    // program.
    {"CloseEndsTheBoxAndTheProgram", [](sim::Machine& m) { CloseRykXyLdr(m); }, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Modal, GridBoxTest, ValuesIn(kWhileOpenCases), CaseName<WhileOpenCase>);

// The add-monitor watcher's "nAddMonEvents > 2" box does not hold up the
// program's end: ending the watchers closes it at once.
class CountBoxTest : public HotplugTest {};

TEST_F(CountBoxTest, EndingTheWatchersClosesTheCountBox) {
    sim::Machine& m = BootMachine(sim::Config(), {Screen(0)});
    OpenDriver();
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "StandInForRykXyLdr";
    ASSERT_NE(RegisterClassA(&wc), 0);
    ghAddMonWnd = CreateWindowExA(0, "StandInForRykXyLdr", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(ArmAddMonSignal(), 0);
    m.settle();
    m.hold_message_boxes(true);
    // Start-up done, one rescan pending and running, two more additions.
    SetEvent(ghAddMonDoneEvent);
    m.settle();
    for (int i = 0; i < 3; ++i) {
        if (i == 1) gbAddMonBusy = 1;
        ASSERT_TRUE(m.driver().signal_add_monitor());
        m.settle();
    }
    ASSERT_EQ(m.open_message_boxes(), 1u);

    const uint64_t before = m.now_us();
    DisarmAddMonSignal();
    EXPECT_EQ(ghAddMonThread, HANDLE(0)) << "the watcher has ended";
    EXPECT_LT(m.now_us() - before, 1000u) << "no wait for a user";
    EXPECT_EQ(m.open_message_boxes(), 0u);
    bool quit = false;
    for (const auto& e : m.trace().events("msgbox_closed")) quit = quit || e.fields["by"] == "quit";
    EXPECT_TRUE(quit);
    CloseHandle(ghDriver);
}

}  // namespace
}  // namespace unit
