// The driver's add-monitor and remove-devices signals: the events handed to
// the driver and the threads that watch them.
//
// "RykAddMonEvent" is set by the driver when a monitor or touchscreen was
// added. AddMonWatcher does not rescan by itself: it counts the add-monitor
// operations that are pending or running and posts WM_RYK_ADDMON to the
// hidden window whenever the next one may start, so that every rescan runs
// on the main thread, one at a time. It learns that an operation finished
// through "RykAddMonDoneEvent", which the program sets itself: at the end of
// window creation, after each WM_RYK_ADDMON, and when the calibration
// program has exited.
//
// "RykRemoveDevicesEvent" is set by the driver when devices were removed;
// RemoveWatcher then stops every worker, holding the worker list's lock.
//
// The machinery every watcher shares (the end event, stack size, time-out,
// the report of a failed wait) is in hotplug/watchers.h.
#pragma once

#include <atomic>

#include "hotplug/watchers.h"
#include "platform/win32.h"

// Posted by AddMonWatcher to the hidden window, wParam 0, lParam 0.
inline constexpr UINT WM_RYK_ADDMON = WM_USER + 1;

// "RykAddMonEvent": auto-reset, set by the driver.
extern HANDLE ghAddMonEvent;
// ghAddMonEvent as the driver knows it; 0 while not handed over.
extern DWORD ghAddMonEventR0;
// AddMonWatcher.
extern HANDLE ghAddMonThread;
// "RykRemoveDevicesEvent": auto-reset, set by the driver.
extern HANDLE ghRemoveEvent;
// ghRemoveEvent as the driver knows it; 0 while not handed over.
extern DWORD ghRemoveEventR0;
// RemoveWatcher.
extern HANDLE ghRemoveThread;
// The window AddMonWatcher posts WM_RYK_ADDMON to: the hidden window, set
// when it is created.
extern std::atomic<HWND> ghAddMonWnd;
// AddMonWatcher's thread identifier: EndWatchers posts WM_QUIT to it.
extern DWORD gdwAddMonThreadId;
// 1 while the main thread handles an add-monitor message; read by the
// add-monitor watcher from its own thread.
extern std::atomic<LONG> gbAddMonBusy;

// What arming a signal returns: 0, or the step that failed.
inline constexpr int ARM_SIGNAL_OK = 0;
// An event cannot be created ("RykAddMonDoneEvent" also when it exists
// already).
inline constexpr int ARM_SIGNAL_NO_EVENT = 1;
inline constexpr int ARM_SIGNAL_NO_THREAD = 2;         // the watcher thread cannot be created
inline constexpr int ARM_SIGNAL_NO_OPENVXDHANDLE = 3;  // KERNEL32 does not export OpenVxDHandle
inline constexpr int ARM_SIGNAL_RING0_REFUSED = 4;     // OpenVxDHandle refused the event
inline constexpr int ARM_SIGNAL_DRIVER_REFUSED = 5;    // the driver refused it; the bracket is left open

// Arm a signal: create its event(s), start its watcher and hand the event to
// the driver inside a change bracket for touchscreen 0. A failed arm
// releases nothing it created; EndWatchers ends a watcher that it started.
int ArmAddMonSignal();
int ArmRemoveSignal();

// Withdraw a signal from the driver (REQ_CLEAR_EVENT, no bracket), end the
// watchers (EndWatchers) and close the signal's event and thread handles.
// Handles that are 0 are skipped; what is closed is set to 0.
void DisarmAddMonSignal();
void DisarmRemoveSignal();

// Ends every watcher thread of the program: sets ghWatchersEndEvent and
// waits for each thread, at most WATCHER_END_TIMEOUT_MS each. The handle of
// a thread that ended is closed and set to 0. When every watcher has ended,
// the end event and the calibration program's exit event are closed too.
// Makes no driver request. Calling it again does no harm.
void EndWatchers();

// The watchers. AddMonWatcher's parameter is the start count itself (1: the
// start-up counts as one pending operation), not a pointer to it.
// RemoveWatcher's parameter is not used. Both return 0 when the program ends
// them and 1 when their wait failed.
DWORD WINAPI AddMonWatcher(LPVOID pStartCount);
DWORD WINAPI RemoveWatcher(LPVOID pUnused);
