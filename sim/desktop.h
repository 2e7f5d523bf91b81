// The simulated machine's desktop: its monitors, the mouse cursor and the
// mouse buttons.
//
// Monitors are kept in configuration order; the first is the primary one. A
// monitor's HMONITOR stands for its position in that order and stays the
// same across display changes for as long as there are that many monitors.
// The cursor always lies on a monitor: a position off every monitor is moved
// to the nearest point of the nearest monitor, whose right and bottom edges
// are outside it.
//
// Every member is safe to call from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "machine.h"
#include "platform/win32.h"

namespace sim {

struct MouseButtons {
    bool left = false;
    bool right = false;
    bool middle = false;
    bool operator==(const MouseButtons&) const = default;
};

class Desktop {
public:
    // Takes the Windows version and the monitors of `config`. A monitor
    // whose work area is empty gets its whole rectangle as work area. Throws
    // std::invalid_argument for no monitors or an empty monitor rectangle.
    explicit Desktop(const Config& config);

    Windows windows() const;
    std::vector<MonitorConfig> monitors() const;  // work areas filled in
    POINT cursor() const;
    MouseButtons buttons() const;

    // ------------------------------------------------------------ harness
    // Replaces the monitors (same rules as the constructor) and keeps the
    // cursor on them; nothing else happens.
    void set_monitors(std::vector<MonitorConfig> monitors);
    // What the user changing the display settings does: set_monitors, a
    // trace event `display` with the new monitor rectangles, and
    // WM_DISPLAYCHANGE (32 bits per pixel, the new primary size) sent to
    // every window of the machine, as Windows sends it.
    void change_display(std::vector<MonitorConfig> monitors);
    // Runs once, in the next EnumDisplayMonitors, before it looks at the
    // monitors. The desktop is not locked while it runs, so it may change the
    // display.
    void set_before_enumeration(std::function<void()> hook);
    // Removes and returns the hook (empty when none is set).
    std::function<void()> take_before_enumeration();
    // Called on the calling thread by every mouse_input, under the desktop's
    // lock, right after the input is recorded (for measurements: the bench
    // time-stamps mouse input with it). Set it while no thread makes mouse
    // input; an empty function removes it.
    void set_mouse_observer(std::function<void(DWORD flags, LONG dx, LONG dy)> observer);

    // ------------------------------------------------------------ what the Win32 functions do
    // GetSystemMetrics for the indexes the machine knows; nothing for others.
    std::optional<int> system_metric(int index) const;
    // SetCursorPos.
    void set_cursor_pos(LONG x, LONG y);
    // mouse_event with dx and dy as signed values: a move, relative 1:1 or,
    // with MOUSEEVENTF_ABSOLUTE, 0..65535 across the primary monitor, when
    // MOUSEEVENTF_MOVE is given; then the button changes, in flag order.
    void mouse_input(DWORD flags, LONG dx, LONG dy);

    static HMONITOR monitor_handle(size_t index);
    // Fills rcMonitor, rcWork and dwFlags; false for an HMONITOR that stands
    // for no current monitor. cbSize is neither checked nor written.
    bool monitor_info(HMONITOR monitor, MONITORINFO* info) const;

private:
    static std::vector<MonitorConfig> checked(std::vector<MonitorConfig> monitors);
    POINT clip(long long x, long long y) const;  // under mu_

    mutable std::mutex mu_;
    const Windows windows_;
    std::vector<MonitorConfig> monitors_;
    POINT cursor_{0, 0};
    MouseButtons buttons_;
    std::function<void()> before_enumeration_;
    std::function<void(DWORD, LONG, LONG)> mouse_observer_;
};

// USER32 EnumDisplayMonitors and GetMonitorInfoA of the simulated machine.
// The program reaches them only through GetProcAddress.
BOOL WINAPI EnumDisplayMonitorsImpl(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData);
BOOL WINAPI GetMonitorInfoAImpl(HMONITOR hMonitor, LPMONITORINFO lpmi);

}  // namespace sim
