// The machine's desktop model on its own: where the cursor may go, how mouse
// input moves it, the buttons, the metrics per Windows version and the
// monitor records.
#include <climits>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "desktop.h"

// RECT and POINT live in the global namespace, so their operators must too.
static bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
static std::ostream& operator<<(std::ostream& os, const RECT& r) {
    return os << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
static bool operator==(const POINT& a, const POINT& b) { return a.x == b.x && a.y == b.y; }
static std::ostream& operator<<(std::ostream& os, const POINT& p) { return os << "(" << p.x << ", " << p.y << ")"; }

namespace sim {
static std::ostream& operator<<(std::ostream& os, const MouseButtons& b) {
    return os << "{left " << b.left << ", right " << b.right << ", middle " << b.middle << "}";
}
}  // namespace sim

namespace {

using sim::Config;
using sim::Desktop;
using sim::MonitorConfig;
using sim::MouseButtons;
using sim::Windows;

MonitorConfig mon(LONG l, LONG t, LONG r, LONG b) { return MonitorConfig{{l, t, r, b}, {l, t, r, b}}; }

Config config_of(std::vector<MonitorConfig> monitors, Windows w = Windows::v98) {
    Config c;
    c.windows = w;
    c.monitors = std::move(monitors);
    return c;
}

// The primary monitor, 1024 x 768, and a taller one to its right.
class DesktopTest : public ::testing::Test {
protected:
    Desktop desk{config_of({mon(0, 0, 1024, 768), mon(1024, 0, 2304, 1024)})};
};

TEST(DesktopStart, CursorStartsAtTheCentreOfThePrimaryMonitor) {
    struct Case {
        std::vector<MonitorConfig> monitors;
        POINT expect;
    } cases[] = {
        {{mon(0, 0, 1024, 768)}, {512, 384}},
        {{mon(0, 0, 1025, 769)}, {512, 384}},
        {{mon(0, 0, 800, 600), mon(-1024, 0, 0, 768)}, {400, 300}},
        {{mon(1024, 0, 2304, 1024), mon(0, 0, 1024, 768)}, {1664, 512}},
    };
    for (const auto& c : cases) {
        Desktop d(config_of(c.monitors));
        EXPECT_EQ(d.cursor(), c.expect);
        EXPECT_EQ(d.buttons(), MouseButtons{});
    }
}

TEST(DesktopStart, WorkAreaDefaultsToTheMonitorAndBadMonitorsAreRefused) {
    Desktop d(config_of({MonitorConfig{{0, 0, 1024, 768}, {0, 0, 1024, 740}},
                         MonitorConfig{{1024, 0, 2048, 768}, {0, 0, 0, 0}}}));
    const auto m = d.monitors();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].work, (RECT{0, 0, 1024, 740}));
    EXPECT_EQ(m[1].work, (RECT{1024, 0, 2048, 768}));

    EXPECT_THROW(Desktop(config_of({})), std::invalid_argument);
    EXPECT_THROW(Desktop(config_of({mon(0, 0, 0, 768)})), std::invalid_argument);
    EXPECT_THROW(d.set_monitors({mon(10, 10, 5, 20)}), std::invalid_argument);
    EXPECT_EQ(d.monitors().size(), 2u) << "a refused change leaves the monitors alone";
}

TEST_F(DesktopTest, CursorIsKeptOnTheNearestMonitor) {
    struct Case {
        LONG x, y;
        POINT expect;
    } cases[] = {
        {100, 100, {100, 100}},
        {1023, 767, {1023, 767}},
        {1024, 768, {1024, 768}},        // the right monitor is taller
        {1024, 900, {1024, 900}},
        {500, 768, {500, 767}},          // bottom edge is outside
        {500, 900, {500, 767}},          // below the primary, nearer to it
        {1000, 1000, {1024, 1000}},      // nearer to the right monitor
        {2304, 10, {2303, 10}},          // right edge is outside
        {-5, -5, {0, 0}},
        {5000, 5000, {2303, 1023}},
        {INT_MIN, INT_MAX, {0, 767}},
        {INT_MAX, INT_MIN, {2303, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "SetCursorPos(" << c.x << ", " << c.y << ")");
        desk.set_cursor_pos(c.x, c.y);
        EXPECT_EQ(desk.cursor(), c.expect);
    }
}

TEST_F(DesktopTest, RelativeMovesAreSignedAndOneToOne) {
    struct Case {
        POINT start;
        LONG dx, dy;
        POINT expect;
    } cases[] = {
        {{512, 384}, 1, 1, {513, 385}},
        {{512, 384}, -1, -1, {511, 383}},
        {{512, 384}, 0, 0, {512, 384}},
        {{512, 384}, 300, -200, {812, 184}},
        {{1000, 384}, 100, 0, {1100, 384}},   // across onto the right monitor
        {{1000, 700}, 100, 200, {1100, 900}},
        {{1100, 800}, -200, 0, {900, 767}},   // back, below the primary
        {{10, 10}, -100, -100, {0, 0}},
        {{500, 700}, 0, 100, {500, 767}},
        {{2300, 1000}, INT_MAX, INT_MAX, {2303, 1023}},
        {{0, 0}, INT_MIN, INT_MIN, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.start << " by " << c.dx << ", " << c.dy);
        desk.set_cursor_pos(c.start.x, c.start.y);
        ASSERT_EQ(desk.cursor(), c.start);
        desk.mouse_input(MOUSEEVENTF_MOVE, c.dx, c.dy);
        EXPECT_EQ(desk.cursor(), c.expect);
    }
}

TEST_F(DesktopTest, AbsoluteMovesSpanThePrimaryMonitor) {
    struct Case {
        LONG dx, dy;
        POINT expect;
    } cases[] = {
        {0, 0, {0, 0}},
        {65535, 65535, {1023, 767}},
        {32768, 32768, {512, 384}},
        {16384, 49152, {256, 576}},
        {64, 86, {1, 1}},
        {63, 85, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "absolute " << c.dx << ", " << c.dy);
        desk.set_cursor_pos(2000, 1000);  // on the other monitor
        desk.mouse_input(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, c.dx, c.dy);
        EXPECT_EQ(desk.cursor(), c.expect);
    }
}

TEST_F(DesktopTest, OnlyMoveFlagMovesTheCursor) {
    const DWORD no_move[] = {0, MOUSEEVENTF_ABSOLUTE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_RIGHTUP,
                             MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE};
    for (DWORD flags : no_move) {
        SCOPED_TRACE(flags);
        desk.set_cursor_pos(600, 400);
        desk.mouse_input(flags, 50, 50);
        EXPECT_EQ(desk.cursor(), (POINT{600, 400}));
    }
}

TEST_F(DesktopTest, ButtonFlagsChangeTheButtons) {
    // Each row is one mouse_event; the expected state is the one after it.
    struct Step {
        DWORD flags;
        MouseButtons after;
    } steps[] = {
        {MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE, {true, false, false}},
        {MOUSEEVENTF_MOVE, {true, false, false}},
        {MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE, {false, false, false}},
        {MOUSEEVENTF_RIGHTDOWN, {false, true, false}},
        {MOUSEEVENTF_LEFTDOWN, {true, true, false}},
        {MOUSEEVENTF_RIGHTUP | MOUSEEVENTF_MOVE, {true, false, false}},
        {MOUSEEVENTF_LEFTUP, {false, false, false}},
        {MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, {false, false, false}},  // a click in one call
        {MOUSEEVENTF_MIDDLEDOWN, {false, false, true}},
        {MOUSEEVENTF_MIDDLEUP, {false, false, false}},
        {MOUSEEVENTF_LEFTUP, {false, false, false}},  // releasing a released button
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.flags);
        desk.mouse_input(s.flags, 0, 0);
        EXPECT_EQ(desk.buttons(), s.after);
    }
}

TEST(DesktopMetrics, MultiMonitorMetricsFollowTheWindowsVersion) {
    // Primary 1024 x 768 with a larger monitor to its upper left.
    const std::vector<MonitorConfig> monitors = {mon(0, 0, 1024, 768), mon(-1280, -256, 0, 768)};
    struct Case {
        const char* name;
        Windows windows;
        bool multi;
    } cases[] = {
        {"95", Windows::v95, false}, {"nt4", Windows::nt4, false}, {"98", Windows::v98, true},
        {"me", Windows::me, true},   {"2000", Windows::w2000, true}, {"xp", Windows::xp, true},
        {"vista", Windows::vista, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop d(config_of(monitors, c.windows));
        EXPECT_EQ(d.system_metric(SM_CXSCREEN), 1024);
        EXPECT_EQ(d.system_metric(SM_CYSCREEN), 768);
        EXPECT_EQ(d.system_metric(SM_CMONITORS), c.multi ? 2 : 0);
        EXPECT_EQ(d.system_metric(SM_XVIRTUALSCREEN), c.multi ? -1280 : 0);
        EXPECT_EQ(d.system_metric(SM_YVIRTUALSCREEN), c.multi ? -256 : 0);
        EXPECT_EQ(d.system_metric(SM_CXVIRTUALSCREEN), c.multi ? 2304 : 0);
        EXPECT_EQ(d.system_metric(SM_CYVIRTUALSCREEN), c.multi ? 1024 : 0);
        EXPECT_EQ(d.system_metric(42), std::nullopt);
    }
}

TEST_F(DesktopTest, MetricsFollowADisplayChange) {
    desk.set_monitors({mon(0, 0, 800, 600), mon(800, 0, 1600, 600), mon(0, 600, 800, 1200)});
    EXPECT_EQ(desk.system_metric(SM_CMONITORS), 3);
    EXPECT_EQ(desk.system_metric(SM_CXSCREEN), 800);
    EXPECT_EQ(desk.system_metric(SM_CYSCREEN), 600);
    EXPECT_EQ(desk.system_metric(SM_CXVIRTUALSCREEN), 1600);
    EXPECT_EQ(desk.system_metric(SM_CYVIRTUALSCREEN), 1200);
}

TEST_F(DesktopTest, MonitorRecordsByHandle) {
    desk.set_monitors({MonitorConfig{{0, 0, 1024, 768}, {0, 0, 1024, 738}}, mon(1024, 0, 2304, 1024),
                       mon(-800, 0, 0, 600)});
    const RECT expect_rc[] = {{0, 0, 1024, 768}, {1024, 0, 2304, 1024}, {-800, 0, 0, 600}};
    const RECT expect_work[] = {{0, 0, 1024, 738}, {1024, 0, 2304, 1024}, {-800, 0, 0, 600}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        HMONITOR h = Desktop::monitor_handle(i);
        EXPECT_EQ(h, Desktop::monitor_handle(i));
        for (size_t j = 0; j < i; ++j) EXPECT_NE(h, Desktop::monitor_handle(j));
        MONITORINFO info{};
        info.cbSize = sizeof info;
        ASSERT_TRUE(desk.monitor_info(h, &info));
        EXPECT_EQ(info.cbSize, sizeof info);
        EXPECT_EQ(info.rcMonitor, expect_rc[i]);
        EXPECT_EQ(info.rcWork, expect_work[i]);
        EXPECT_EQ(info.dwFlags, i == 0 ? static_cast<DWORD>(MONITORINFOF_PRIMARY) : 0u);
    }
    MONITORINFO info{};
    const auto first = reinterpret_cast<uintptr_t>(Desktop::monitor_handle(0));
    for (HMONITOR unknown : {static_cast<HMONITOR>(nullptr), Desktop::monitor_handle(3),
                             reinterpret_cast<HMONITOR>(first - 1), reinterpret_cast<HMONITOR>(uintptr_t{0x10020})}) {
        EXPECT_FALSE(desk.monitor_info(unknown, &info)) << unknown;
    }
    // Fewer monitors: the handles of the ones gone stand for nothing.
    desk.set_monitors({mon(0, 0, 640, 480)});
    EXPECT_FALSE(desk.monitor_info(Desktop::monitor_handle(1), &info));
    ASSERT_TRUE(desk.monitor_info(Desktop::monitor_handle(0), &info));
    EXPECT_EQ(info.rcMonitor, (RECT{0, 0, 640, 480}));
}

TEST_F(DesktopTest, DisplayChangeKeepsTheCursorOnTheMonitors) {
    desk.set_cursor_pos(2000, 900);
    desk.set_monitors({mon(0, 0, 1024, 768)});
    EXPECT_EQ(desk.cursor(), (POINT{1023, 767}));
    desk.set_monitors({mon(0, 0, 1024, 768), mon(1024, 0, 2304, 1024)});
    EXPECT_EQ(desk.cursor(), (POINT{1023, 767})) << "a new monitor does not move the cursor";
}

TEST_F(DesktopTest, EnumerationHookIsTakenOnce) {
    int runs = 0;
    desk.set_before_enumeration([&] { ++runs; });
    auto hook = desk.take_before_enumeration();
    ASSERT_TRUE(hook);
    hook();
    EXPECT_FALSE(desk.take_before_enumeration());
    EXPECT_EQ(runs, 1);
}

TEST_F(DesktopTest, ConcurrentInputAndDisplayChangesKeepTheCursorOnAMonitor) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) {
                desk.mouse_input(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN, t == 0 ? 37 : -29, 11 * t - 9);
                desk.set_cursor_pos(i * 13 - 100, i * 7 - 50);
                (void)desk.system_metric(SM_CMONITORS);
                (void)desk.buttons();
            }
        });
    }
    threads.emplace_back([this] {
        for (int i = 0; i < 100; ++i) {
            if (i % 2)
                desk.set_monitors({mon(0, 0, 1024, 768), mon(1024, 0, 2304, 1024)});
            else
                desk.set_monitors({mon(0, 0, 640, 480)});
            MONITORINFO info{};
            (void)desk.monitor_info(Desktop::monitor_handle(1), &info);
        }
    });
    for (auto& th : threads) th.join();
    const POINT p = desk.cursor();
    bool on_a_monitor = false;
    for (const auto& m : desk.monitors())
        on_a_monitor |= p.x >= m.rc.left && p.x < m.rc.right && p.y >= m.rc.top && p.y < m.rc.bottom;
    EXPECT_TRUE(on_a_monitor) << p;
}

}  // namespace
