#include "app/control.h"

#include "app/app.h"
#include "app/commands.h"
#include "app/report.h"
#include "hotplug/signals.h"
#include "monitors/monitor_table.h"
#include "settings/trace.h"

bool HandleControlMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* plResult) {
    // "Which touchscreen is this?" (app/report.h), with its timer and the
    // workers' wake-up.
    if (HandleReportMessage(hwnd, message, wParam, lParam, plResult)) return true;
    // The fixed message numbers first, the registered message after them.
    switch (message) {
    case WM_DISPLAYCHANGE:
        // The new colour depth and screen size in wParam and lParam are not
        // needed: the monitor table asks the system itself.
        if (TraceOn())
            TraceLine("display", "bpp=%lu width=%u height=%u", static_cast<unsigned long>(wParam),
                      static_cast<unsigned>(LOWORD(lParam)), static_cast<unsigned>(HIWORD(lParam)));
        UpdateVxdDisplayInfo();
        *plResult = 0;
        return true;
    case WM_COMMAND:
        // The window has no menu and no controls: nothing to do, and not for
        // DefWindowProcA either.
        *plResult = 0;
        return true;
    case WM_RYK_ADDMON:
        *plResult = OnAddMonMessage();
        return true;
    default:
        break;
    }
    // Until it is registered, gmsgPlexorCommand is 0, which is WM_NULL.
    if (gmsgPlexorCommand != 0 && message == gmsgPlexorCommand) {
        if (TraceOn())
            TraceLine("command", "message=RykPlexor4683 wparam=%lu lparam=%lu", static_cast<unsigned long>(wParam),
                      static_cast<unsigned long>(static_cast<DWORD>(lParam)));
        return OnPlexorCommand(wParam, lParam, plResult);
    }
    return false;
}
