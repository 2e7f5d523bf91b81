// The whole program's start-up, message loop and shutdown, run as a process
// of the simulated machine.
#include <mutex>

#include "app/app.h"
#include "driver/protocol.h"
#include "hotplug/signals.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "touch/workers.h"
#include "unit_support.h"

namespace unit {
namespace {

using ::testing::ValuesIn;

DWORD StartProgram(sim::Machine& m) {
    return m.start_process("RykXyLdr", [] {
        return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
    });
}

// Ends the running program the way other programs do: WM_CLOSE to its window.
void CloseProgram(sim::Machine& m) {
    HWND hwnd = m.find_window("RykXyLdrAppClass");
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(m.post_from_outside(hwnd, WM_CLOSE, 0, 0));
    m.settle();
}

// ------------------------------------------------------------------ exit codes

struct RunCase {
    const char* name;
    bool driver;
    int touchscreens;
    std::vector<std::string> existing_objects;
    bool runs;                 // start-up reaches the message loop
    DWORD exit_code;
    size_t device_opens;       // CreateFileA on the device
    size_t device_closes;      // CloseHandle on it
    size_t touchscreen_fetches;  // REQ_GET_TOUCHSCREEN requests
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class ProgramRunTest : public MachineTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(ProgramRunTest, ExitsWithTheCodeOfHowItEnded) {
    const RunCase& c = GetParam();
    sim::Config config;
    config.driver = c.driver;
    config.existing_objects = c.existing_objects;
    std::vector<TouchscreenConfig> screens;
    for (int i = 0; i < c.touchscreens; ++i) screens.push_back(Screen(i));
    sim::Machine& m = Boot(config, screens);

    const DWORD pid = StartProgram(m);
    m.settle();
    EXPECT_EQ(m.process_ended(pid), !c.runs);
    if (c.runs) CloseProgram(m);

    ASSERT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), c.exit_code);
    EXPECT_EQ(m.trace().count("device_open"), c.device_opens);
    EXPECT_EQ(m.trace().count("device_close"), c.device_closes);
    EXPECT_EQ(m.driver().requests(REQ_GET_TOUCHSCREEN).size(), c.touchscreen_fetches);
    EXPECT_EQ(m.find_window("RykXyLdrAppClass"), nullptr);
}

const RunCase kRunCases[] = {
    {"ClosedAfterStartUp", true, 2, {}, true, 0, 1, 1, 3},
    {"NoDriver", false, 1, {}, false, 1, 1, 0, 0},
    {"NoTouchscreen", true, 0, {}, false, 2, 1, 1, 1},
    {"SecondInstance", true, 1, {"RykXyLdrAppMutex"}, false, 0, 0, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Program, ProgramRunTest, ValuesIn(kRunCases),
                         CaseName<RunCase>);

// ------------------------------------------------------------------ the running program

class ProgramStateTest : public MachineTest {};

// What start-up leaves behind while the message loop runs, and what shutdown
// gives back.
TEST_F(ProgramStateTest, HiddenWindowPriorityAndSingleInstanceMutex) {
    sim::Machine& m = Boot(SideBySide(2), {Screen(-1), Screen(1)});
    const HICON hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    const HCURSOR hCursor = LoadCursorA(nullptr, IDC_ARROW);
    const HINSTANCE hInstance = GetModuleHandleA(nullptr);

    const DWORD pid = StartProgram(m);
    m.settle();
    ASSERT_FALSE(m.process_ended(pid));

    const HWND hwnd = m.find_window("RykXyLdrAppClass");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(ghWnd.load(), hwnd);
    EXPECT_EQ(ghAddMonWnd.load(), hwnd) << "the add-monitor watcher posts elsewhere";
    EXPECT_NE(gpTouchscreens, nullptr);
    EXPECT_NE(gpWorkers.load(), nullptr);
    EXPECT_EQ(gnUnassignedAtStart, 1);
    EXPECT_EQ(gnMonitorsAtStart, 2);
    EXPECT_EQ(giNumberOfMonitors, 2);
    EXPECT_EQ(gbAddMonBusy.load(), 0);
    EXPECT_NE(gmsgQuavelNotify, 0u);
    EXPECT_EQ(gmsgQuavelNotify, m.registered_message("Quavel4683"));
    EXPECT_NE(gmsgPlexorCommand, 0u);
    EXPECT_EQ(gmsgPlexorCommand, m.registered_message("RykPlexor4683"));

    {
        EXPECT_EQ(m.priority_class(pid), static_cast<DWORD>(HIGH_PRIORITY_CLASS));

        const auto cls = m.window_class(pid, "rykxyldrappclass");
        ASSERT_TRUE(cls.has_value());
        const WNDCLASSA& wc = cls->wc;
        EXPECT_EQ(cls->name, "RykXyLdrAppClass");
        EXPECT_EQ(wc.style, 0x23u);
        EXPECT_EQ(wc.lpfnWndProc, &AppWndProc);
        EXPECT_EQ(wc.cbClsExtra, 0);
        EXPECT_EQ(wc.cbWndExtra, 0);
        EXPECT_EQ(wc.hInstance, hInstance);
        EXPECT_EQ(wc.hIcon, hIcon);
        EXPECT_EQ(wc.hCursor, hCursor);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(wc.hbrBackground), 6u);
        EXPECT_EQ(cls->menu, "GenericAppMenu");

        const auto w = m.window(hwnd);
        ASSERT_TRUE(w.has_value());
        EXPECT_EQ(w->title, "");
    }

    // A handle of our own keeps the mutex after the program's end closes
    // the program's handles, as Windows does.
    HANDLE hMutex = CreateMutexA(nullptr, FALSE, "RykXyLdrAppMutex");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    CloseProgram(m);
    ASSERT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), 0u);

    // Released by shutdown, not abandoned by a thread that ended owning it.
    EXPECT_EQ(WaitForSingleObject(hMutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(hMutex);
    CloseHandle(hMutex);
}

}  // namespace
}  // namespace unit
