// What every watcher thread of the program shares: the add-monitor watcher
// and the remove-devices watcher (hotplug/signals.h) and each
// calibration-exit watcher (hotplug/calibration.h).
//
// Ending the watchers. Every watcher also waits on one program-wide
// manual-reset event, ghWatchersEndEvent. EndWatchers (hotplug/signals.h)
// sets it and waits until the threads have ended; only then are the handles
// they wait on closed. A wait that fails is shown to an attached debugger
// and ends its watcher.
#pragma once

#include "platform/win32.h"

// Stack size requested for every watcher thread.
inline constexpr SIZE_T WATCHER_STACK_SIZE = 512;

// How long EndWatchers waits for each watcher thread to end. The add-monitor
// watcher's modal message box is closed by a WM_QUIT posted to its thread,
// so an open box does not hold the end up; a watcher that still does not
// end in time has its handles left open until the process ends.
inline constexpr DWORD WATCHER_END_TIMEOUT_MS = 5000;

// Manual-reset, unnamed: set once, when the program ends its watchers.
// Created by the first arming (or calibration launch) that needs it.
extern HANDLE ghWatchersEndEvent;
// "RykAddMonDoneEvent": auto-reset; set when an add-monitor operation has
// finished (by the main thread, and by a calibration-exit watcher when the
// calibration program has exited). 0 until ArmAddMonSignal has created it;
// never closed.
extern HANDLE ghAddMonDoneEvent;

// Creates ghWatchersEndEvent unless it exists; FALSE when it cannot be
// created. Every watcher needs it before it starts.
BOOL MakeWatchersEndEvent();

// Shows a failed wait of a watcher to an attached debugger: DebugBreak, but
// only where KERNEL32 has IsDebuggerPresent (not on Windows 95) and it says
// a debugger is attached. dwError is GetLastError() of the wait.
void ReportFailedWait(DWORD dwError);
