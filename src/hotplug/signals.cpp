#include "hotplug/signals.h"

#include "driver/channel.h"
#include "driver/protocol.h"
#include "hotplug/calibration.h"
#include "settings/trace.h"
#include "touch/workers.h"

HANDLE ghAddMonEvent = 0;
DWORD ghAddMonEventR0 = 0;
HANDLE ghAddMonThread = 0;
HANDLE ghRemoveEvent = 0;
DWORD ghRemoveEventR0 = 0;
HANDLE ghRemoveThread = 0;
std::atomic<HWND> ghAddMonWnd{nullptr};
DWORD gdwAddMonThreadId = 0;
std::atomic<LONG> gbAddMonBusy{0};

namespace {

const char kAddMonDoneEventName[] = "RykAddMonDoneEvent";
const char kAddMonEventName[] = "RykAddMonEvent";
const char kRemoveEventName[] = "RykRemoveDevicesEvent";

// The start count of the add-monitor watcher: the start-up itself is the one
// operation pending when it starts; window creation's done signal ends it.
const LONG kAddMonStartCount = 1;

// Shown by the add-monitor watcher itself, with no owner, when more than two
// add-monitor operations are pending. Modal: until it is dismissed the
// watcher does not wait, and signals stay latched in the auto-reset events
// meanwhile (at most one per event).
void ShowCountMessage() { MessageBoxA(NULL, "nAddMonEvents > 2", "ERROR!", MB_OK); }

void PostAddMon() { PostMessageA(ghAddMonWnd.load(), WM_RYK_ADDMON, 0, 0); }

// Waits at most WATCHER_END_TIMEOUT_MS for the thread *phThread; when it has
// ended, its handle is closed and set to 0. TRUE when no thread is left
// running under this handle.
BOOL JoinWatcher(HANDLE* phThread) {
    if (*phThread == 0) return TRUE;
    if (WaitForSingleObject(*phThread, WATCHER_END_TIMEOUT_MS) != WAIT_OBJECT_0) return FALSE;
    CloseHandle(*phThread);
    *phThread = 0;
    return TRUE;
}

// The rest of both arm operations, which differ only in the watcher and the
// request: start the watcher at the highest priority (2), turn the event into
// a ring-0 handle (3, 4) and hand it over inside a change bracket for
// touchscreen 0 (5).
int StartAndHandOver(LPTHREAD_START_ROUTINE pfnWatcher, LPVOID pParam, HANDLE hEvent, DWORD dwSetCode,
                     HANDLE* phThread, DWORD* pdwEventR0, DWORD* pdwThreadId) {
    DWORD dwThreadId = 0;
    *phThread = CreateThread(NULL, WATCHER_STACK_SIZE, pfnWatcher, pParam, 0, &dwThreadId);
    if (pdwThreadId != NULL) *pdwThreadId = dwThreadId;
    if (*phThread == 0 || dwThreadId == 0) return ARM_SIGNAL_NO_THREAD;
    SetThreadPriority(*phThread, THREAD_PRIORITY_HIGHEST);

    DWORD dwEventR0 = 0;
    switch (ToRing0Handle(hEvent, &dwEventR0)) {
    case TO_RING0_OK: break;
    case TO_RING0_NOT_FOUND: return ARM_SIGNAL_NO_OPENVXDHANDLE;
    default: return ARM_SIGNAL_RING0_REFUSED;
    }
    VxdChange(FALSE, 0);
    // A refused hand-over leaves the bracket open; the driver gives it up.
    // The event is then not the driver's, and not withdrawn later.
    if (!SendEventRequest(dwSetCode, 0, dwEventR0)) return ARM_SIGNAL_DRIVER_REFUSED;
    *pdwEventR0 = dwEventR0;
    VxdChange(TRUE, 0);
    return ARM_SIGNAL_OK;
}

}  // namespace

int ArmAddMonSignal() {
    // A failed step leaves in these exactly what this arming made.
    ghAddMonEvent = 0;
    ghAddMonEventR0 = 0;
    ghAddMonThread = 0;
    if (!MakeWatchersEndEvent()) return ARM_SIGNAL_NO_EVENT;

    // Only this program makes "RykAddMonDoneEvent": finding it already there
    // means another instance or a stranger would feed our count.
    SetLastError(0);
    ghAddMonDoneEvent = CreateEventA(NULL, FALSE, FALSE, kAddMonDoneEventName);
    if (ghAddMonDoneEvent == 0 || GetLastError() == ERROR_ALREADY_EXISTS) return ARM_SIGNAL_NO_EVENT;

    // The driver may have made this one; it is used as it is.
    ghAddMonEvent = CreateEventA(NULL, FALSE, FALSE, kAddMonEventName);
    if (ghAddMonEvent == 0) return ARM_SIGNAL_NO_EVENT;

    // The start count travels as the parameter's value, so it stays valid
    // whenever the thread reads it.
    LPVOID pStartCount = reinterpret_cast<LPVOID>(static_cast<INT_PTR>(kAddMonStartCount));
    return StartAndHandOver(AddMonWatcher, pStartCount, ghAddMonEvent, REQ_SET_ADDMON_EVENT, &ghAddMonThread,
                            &ghAddMonEventR0, &gdwAddMonThreadId);
}

int ArmRemoveSignal() {
    ghRemoveEvent = 0;
    ghRemoveEventR0 = 0;
    ghRemoveThread = 0;
    if (!MakeWatchersEndEvent()) return ARM_SIGNAL_NO_EVENT;

    ghRemoveEvent = CreateEventA(NULL, FALSE, FALSE, kRemoveEventName);
    if (ghRemoveEvent == 0) return ARM_SIGNAL_NO_EVENT;

    return StartAndHandOver(RemoveWatcher, NULL, ghRemoveEvent, REQ_SET_REMOVE_EVENT, &ghRemoveThread,
                            &ghRemoveEventR0, NULL);
}

void EndWatchers() {
    if (ghWatchersEndEvent != 0) SetEvent(ghWatchersEndEvent);
    // The add-monitor watcher may sit in its modal "nAddMonEvents > 2" box,
    // which would hold it up until a user answers. A quit posted to its
    // thread closes the box (the box's loop ends on WM_QUIT), and the
    // watcher then meets the end event; posted before the box opens, it
    // closes the box at once. Without a box it is never read.
    if (ghAddMonThread != 0 && gdwAddMonThreadId != 0) PostThreadMessageA(gdwAddMonThreadId, WM_QUIT, 0, 0);
    BOOL bAllEnded = JoinWatcher(&ghAddMonThread);
    bAllEnded = JoinWatcher(&ghRemoveThread) && bAllEnded;
    bAllEnded = EndCalibrationWatchers() && bAllEnded;
    // A watcher still running may wait on the end event again.
    if (bAllEnded && ghWatchersEndEvent != 0) {
        CloseHandle(ghWatchersEndEvent);
        ghWatchersEndEvent = 0;
    }
}

void DisarmAddMonSignal() {
    if (ghAddMonEventR0 != 0) {
        ClearVxdEvent(0, ghAddMonEventR0);
        ghAddMonEventR0 = 0;
    }
    EndWatchers();
    // The event only once its watcher is gone (or never started).
    if (ghAddMonThread == 0 && ghAddMonEvent != 0) {
        CloseHandle(ghAddMonEvent);
        ghAddMonEvent = 0;
    }
}

void DisarmRemoveSignal() {
    if (ghRemoveEventR0 != 0) {
        ClearVxdEvent(0, ghRemoveEventR0);
        ghRemoveEventR0 = 0;
    }
    EndWatchers();
    if (ghRemoveThread == 0 && ghRemoveEvent != 0) {
        CloseHandle(ghRemoveEvent);
        ghRemoveEvent = 0;
    }
}

DWORD WINAPI AddMonWatcher(LPVOID pStartCount) {
    // The end event first, so that the program's end is not held up by
    // signals that are still latched.
    const DWORD kWaitEnd = WAIT_OBJECT_0;
    const DWORD kWaitAdded = WAIT_OBJECT_0 + 1;
    const DWORD kWaitDone = WAIT_OBJECT_0 + 2;
    const HANDLE ahWait[3] = {ghWatchersEndEvent, ghAddMonEvent, ghAddMonDoneEvent};

    // A message queue of its own from the start, so that EndWatchers can
    // always post the quit that closes the watcher's message box.
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);

    // Add-monitor operations pending or running.
    LONG nAddMonEvents = static_cast<LONG>(reinterpret_cast<INT_PTR>(pStartCount));
    // An addition that came while a rescan ran and found the count at 0 (a
    // done signal of the calibration program's exit was counted against that
    // rescan): it is owed a rescan of its own, posted by the next done signal
    // that finds the main thread idle. Without that race it is never set.
    bool bRescanOwed = false;

    for (;;) {
        const DWORD dwResult = WaitForMultipleObjects(3, ahWait, FALSE, INFINITE);
        if (dwResult == kWaitEnd) return 0;
        if (dwResult == WAIT_FAILED) {
            // Waiting again would fail at once again.
            ReportFailedWait(GetLastError());
            return 1;
        }
        if (dwResult == kWaitAdded) {
            // The driver signalled an addition. Several signals between two
            // waits count as one.
            ++nAddMonEvents;
            if (TraceOn()) TraceLine("signal", "event=RykAddMonEvent pending=%ld", static_cast<long>(nAddMonEvents));
            if (nAddMonEvents == 1) {
                if (gbAddMonBusy.load() == 0)
                    PostAddMon();
                else
                    bRescanOwed = true;
            }
            if (nAddMonEvents > 2) ShowCountMessage();
        } else if (dwResult == kWaitDone) {
            // An operation finished; a done signal that finds nothing
            // pending changes nothing.
            if (nAddMonEvents > 0) {
                --nAddMonEvents;
                if (nAddMonEvents > 0 && gbAddMonBusy.load() == 0) {
                    PostAddMon();
                    bRescanOwed = false;  // this rescan comes after the addition too
                }
            }
            if (nAddMonEvents == 0 && bRescanOwed && gbAddMonBusy.load() == 0) {
                // The owed rescan is pending now, and counted.
                nAddMonEvents = 1;
                bRescanOwed = false;
                PostAddMon();
            }
            if (nAddMonEvents > 2) ShowCountMessage();
        }
    }
}

DWORD WINAPI RemoveWatcher(LPVOID) {
    const DWORD kWaitEnd = WAIT_OBJECT_0;
    const DWORD kWaitRemoved = WAIT_OBJECT_0 + 1;
    const HANDLE ahWait[2] = {ghWatchersEndEvent, ghRemoveEvent};

    for (;;) {
        const DWORD dwResult = WaitForMultipleObjects(2, ahWait, FALSE, INFINITE);
        if (dwResult == kWaitEnd) return 0;
        if (dwResult == WAIT_FAILED) {
            ReportFailedWait(GetLastError());
            return 1;
        }
        if (dwResult == kWaitRemoved) {
            // The main thread walks and changes the list too (rescan,
            // reassignment, shutdown); its lock keeps the two apart. Nothing
            // is restarted here.
            if (TraceOn()) TraceLine("signal", "event=RykRemoveDevicesEvent");
            WorkerListGuard guard(gpWorkers);
            StopAllWorkers();
        }
    }
}
