// USER32 functions of the simulated machine that concern the screen and the
// mouse, acting on the desktop of Machine::current(), and the harness's
// display change.
#include <string>
#include <utility>

#include "desktop.h"
#include "kernel.h"
#include "machine.h"

namespace {

using sim::Machine;

constexpr DWORD kErrorNoAccess = 998;                  // ERROR_NOACCESS
constexpr DWORD kErrorInvalidMonitorHandle = 1461;     // ERROR_INVALID_MONITOR_HANDLE
constexpr DWORD kMonitorInfoExSize = 72;               // sizeof(MONITORINFOEXA)
constexpr DWORD kKnownMouseFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP |
                                   MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_RIGHTUP | MOUSEEVENTF_MIDDLEDOWN |
                                   MOUSEEVENTF_MIDDLEUP | MOUSEEVENTF_ABSOLUTE;

sim::Desktop& desktop() { return Machine::current().desktop(); }

sim::Fields rect_json(const RECT& r) {
    sim::Fields f = sim::Fields::object();
    f["left"] = r.left;
    f["top"] = r.top;
    f["right"] = r.right;
    f["bottom"] = r.bottom;
    return f;
}

}  // namespace

namespace sim {

void Desktop::change_display(std::vector<MonitorConfig> monitors) {
    set_monitors(std::move(monitors));
    const auto now = this->monitors();
    Fields list = Fields::array();
    for (const auto& m : now) list.push_back(rect_json(m.rc));
    Fields f = Fields::object();
    f["monitors"] = std::move(list);
    Machine& machine = Machine::current();
    machine.trace().add("display", std::move(f));
    const RECT& p = now.front().rc;
    machine.kernel().send_to_all_windows(WM_DISPLAYCHANGE, 32, MAKELPARAM(p.right - p.left, p.bottom - p.top));
}

BOOL WINAPI EnumDisplayMonitorsImpl(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData) {
    if (hdc != nullptr) not_simulated("EnumDisplayMonitors with a device context");
    if (lprcClip != nullptr) not_simulated("EnumDisplayMonitors with a clipping rectangle");
    if (lpfnEnum == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Desktop& d = desktop();
    if (auto hook = d.take_before_enumeration()) hook();
    // The callback runs without the desktop locked: it may call back into
    // the machine, GetMonitorInfoA included.
    const auto monitors = d.monitors();
    for (size_t i = 0; i < monitors.size(); ++i) {
        RECT rc = monitors[i].rc;
        if (!lpfnEnum(Desktop::monitor_handle(i), nullptr, &rc, dwData)) break;
    }
    return TRUE;
}

BOOL WINAPI GetMonitorInfoAImpl(HMONITOR hMonitor, LPMONITORINFO lpmi) {
    if (lpmi == nullptr || (lpmi->cbSize != sizeof(MONITORINFO) && lpmi->cbSize != kMonitorInfoExSize)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MONITORINFO info{};
    if (!desktop().monitor_info(hMonitor, &info)) {
        SetLastError(kErrorInvalidMonitorHandle);
        return FALSE;
    }
    lpmi->rcMonitor = info.rcMonitor;
    lpmi->rcWork = info.rcWork;
    lpmi->dwFlags = info.dwFlags;
    if (lpmi->cbSize == kMonitorInfoExSize) {
        // MONITORINFOEXA: the device name follows the MONITORINFO part.
        char* device = reinterpret_cast<char*>(lpmi) + sizeof(MONITORINFO);
        const auto index = reinterpret_cast<uintptr_t>(hMonitor) - reinterpret_cast<uintptr_t>(Desktop::monitor_handle(0));
        const std::string name = "\\\\.\\DISPLAY" + std::to_string(index + 1);
        for (size_t i = 0; i < kMonitorInfoExSize - sizeof(MONITORINFO); ++i)
            device[i] = i < name.size() ? name[i] : '\0';
    }
    return TRUE;
}

}  // namespace sim

int WINAPI GetSystemMetrics(int nIndex) {
    auto v = desktop().system_metric(nIndex);
    if (!v) sim::not_simulated("GetSystemMetrics(" + std::to_string(nIndex) + ")");
    return *v;
}

BOOL WINAPI SetCursorPos(int X, int Y) {
    sim::Fields f = sim::Fields::object();
    f["x"] = X;
    f["y"] = Y;
    Machine::current().trace().add("cursor", std::move(f));
    desktop().set_cursor_pos(X, Y);
    return TRUE;
}

BOOL WINAPI GetCursorPos(LPPOINT lpPoint) {
    if (lpPoint == nullptr) {
        SetLastError(kErrorNoAccess);
        return FALSE;
    }
    *lpPoint = desktop().cursor();
    return TRUE;
}

void WINAPI mouse_event(DWORD dwFlags, DWORD dx, DWORD dy, DWORD /*dwData*/, ULONG_PTR /*dwExtraInfo*/) {
    if (dwFlags & ~kKnownMouseFlags) sim::not_simulated("mouse_event with flags " + std::to_string(dwFlags));
    const auto sdx = static_cast<LONG>(dx);
    const auto sdy = static_cast<LONG>(dy);
    sim::Fields f = sim::Fields::object();
    f["flags"] = dwFlags;
    f["dx"] = sdx;
    f["dy"] = sdy;
    Machine::current().trace().add("mouse", std::move(f));
    desktop().mouse_input(dwFlags, sdx, sdy);
}
