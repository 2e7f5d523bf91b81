// The hidden window's procedure: its creation, which brings up the workers,
// its destruction, which ends the message loop, painting, which draws
// nothing, and the end of the Windows session. Everything else that reaches
// the window goes to HandleControlMessage and then to DefWindowProcA; after
// the shutdown, and for what may not run inside the wait for the calibration
// program, it does not.
#include <new>

#include "app/app.h"
#include "app/control.h"
#include "hotplug/calibration.h"
#include "hotplug/signals.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "settings/trace.h"
#include "touch/workers.h"

namespace {

LRESULT OnCreate(HWND hwnd) {
    // The add-monitor watcher may post to the window as soon as the done
    // event below is set, which is before CreateWindowExA returns to
    // start-up: so the handle is published here first.
    ghWnd = hwnd;
    ghAddMonWnd = hwnd;

    gbAddMonBusy = 0;

    // Without a worker list nothing can be served: end the program the way
    // a monitor table that cannot be built does, through the message loop
    // and a full shutdown, with exit code 2.
    WorkerList* const pWorkers = new (std::nothrow) WorkerList;
    gpWorkers = pWorkers;
    if (pWorkers == nullptr) {
        PostQuitMessage(EXIT_NO_TOUCHSCREEN);
        return 0;
    }

    const LONG nMonitors = GetSystemMetrics(SM_CMONITORS);
    gnMonitorsAtStart = nMonitors;
    giNumberOfMonitors = nMonitors;

    gpMonitors = nullptr;
    if (EnumMonitors(0, INIT_MONITOR_INFO) != 0) {
        // The window stays; no worker is started and the done event is not
        // set. The message loop ends with code 2.
        PostQuitMessage(EXIT_NO_TOUCHSCREEN);
        return 0;
    }

    StartAllWorkers();

    // Completes the add-monitor operation that the watcher counts as pending
    // from its start; a signal from the driver that came during start-up is
    // passed on now.
    if (gpTouchscreens != nullptr && gpTouchscreens->MoveFirst()) SetEvent(ghAddMonDoneEvent);
    return 0;
}

// While the main thread waits for the calibration program inside
// WM_RYK_ADDMON, every message sent to the window reaches this procedure
// (any PeekMessageA hands sent messages over, whatever it asks for). Only the
// session end may run there: a message that this window acts on (a display
// change, an add-monitor message, a command, WM_CLOSE) is posted back to the
// window instead, so that the message loop handles it after the add-monitor
// message, one at a time. Its sender gets 0, the answer it gets anyway.
bool DeferredDuringWait(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!gbInCalibrationWait) return false;
    switch (message) {
    case WM_DISPLAYCHANGE:
    case WM_RYK_ADDMON:
    case WM_CLOSE:
        break;
    default:
        // Until it is registered, gmsgPlexorCommand is 0, which is WM_NULL.
        if (gmsgPlexorCommand == 0 || message != gmsgPlexorCommand) return false;
        break;
    }
    PostMessageA(hwnd, message, wParam, lParam);
    return true;
}

}  // namespace

LRESULT CALLBACK AppWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(hwnd);
    case WM_DESTROY:
        PostQuitMessage(EXIT_NORMAL);
        return 0;
    case WM_QUERYENDSESSION:
        // The program never holds up a log-off or shut-down.
        return TRUE;
    case WM_ENDSESSION:
        // Windows ends the process some time after this returns, without
        // WM_CLOSE or WM_DESTROY: the driver must be left now, exactly as
        // after the message loop. With wParam FALSE another program refused
        // the end and the session goes on. Nothing is posted: the shutdown
        // after a message loop that went on would do nothing more.
        if (wParam && !gbShutdownDone) {
            if (TraceOn()) TraceLine("shutdown", "exit=%d cause=session_end", EXIT_NORMAL);
            ShutdownApp();
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        break;
    }

    // After the shutdown the driver is closed and gcsDriver deleted: what
    // is still queued, or comes until Windows ends the process, is no longer
    // ours to act on.
    if (gbShutdownDone) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (DeferredDuringWait(hwnd, message, wParam, lParam)) return 0;

    LRESULT lResult = 0;
    if (HandleControlMessage(hwnd, message, wParam, lParam, &lResult)) return lResult;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
