// The launch of the maker's calibration program Quavel after an add-monitor
// rescan, and the passing on of its end as an add-monitor done signal.
//
// Quavel lives in the Windows system directory. Its command line is that
// directory, "\", "Quavel" and an argument: " -t<k>" with the 1-based list
// position of the one touchscreen without a monitor (the count + 1 when the
// unassigned one still has a monitor number, e.g. because its key cannot be
// read), " -t0" when the program started with unassigned touchscreens, or
// nothing when several are unassigned now. It must be ready for input
// within 10 seconds, and it sets "RykCalExitEvent" when it has finished.
//
// Handles. The launch closes the process and thread handles of the
// calibration program once it no longer needs them. ghCalExitEvent is the
// program's own handle of "RykCalExitEvent", made at the first launch and
// kept; each exit watcher gets a handle of the event of its own as its
// parameter and closes it when it ends. The watcher threads' handles are
// kept only while their threads run (and at most MAX_CAL_WATCHERS of them),
// so that EndWatchers can wait for them.
#pragma once

#include "platform/win32.h"

// Exit code given to a calibration program that is not ready in time.
inline constexpr UINT CAL_NOT_READY_EXIT_CODE = 666;
// How long the calibration program may take to become ready for input.
inline constexpr DWORD CAL_READY_TIMEOUT_MS = 10000;
// The readiness wait goes in slices of this length; between two, messages
// sent to the program's window are handed to its procedure, which answers
// the end of the Windows session and defers everything else.
inline constexpr DWORD CAL_READY_SLICE_MS = 100;
// Exit watchers running at one time, at most; a launch beyond that leaves
// the calibration program's end unwatched.
inline constexpr LONG MAX_CAL_WATCHERS = 16;

// Exit watchers that may still run, by thread handle; the first
// gnCalWatchers entries are used. Only the main thread touches them.
extern HANDLE gahCalWatchers[MAX_CAL_WATCHERS];
extern LONG gnCalWatchers;

// TRUE while the main thread waits for the calibration program to be ready
// (inside WM_RYK_ADDMON). Messages sent to the program's window reach its
// procedure during the wait; it lets only the session end run there.
extern BOOL gbInCalibrationWait;
// Set by CancelCalibrationWait: a wait in progress ends after its current
// slice, and no later one begins.
extern BOOL gbCalibrationWaitCancelled;

// For the shutdown at the end of the Windows session, which can come during
// the wait: the launch then gives up without terminating the calibration
// program (the session end ends it) and without watching its end.
void CancelCalibrationWait();

// "RykCalExitEvent": auto-reset, set by the calibration program when it has
// finished. 0 until the first launch that watches its program's end.
extern HANDLE ghCalExitEvent;

// Decides whether a touchscreen of gpTouchscreens needs calibrating and, if
// so, starts Quavel and watches for its end. 1 when it was started and its
// exit watcher set up, else 0. No launch for an empty list, while there are
// fewer touchscreens than monitors at start-up, or when every touchscreen
// has a monitor and its own registry entry (CheckRegistryEntry runs for
// every touchscreen that has a monitor).
int LaunchCalibration();

// Starts the command line as a detached process and waits up to
// CAL_READY_TIMEOUT_MS for it to be ready for input; one that is not is
// terminated with CAL_NOT_READY_EXIT_CODE. 1 on success (*pInfo filled),
// else 0 (no handle of *pInfo left open).
int StartCalibrationProcess(LPSTR pszCommandLine, PROCESS_INFORMATION* pInfo);

// Starts an exit watcher for the launch described by *pInfo (not used
// further). Without "RykCalExitEvent", the end event of the watchers or a
// free watcher slot, nothing waits for the program's end.
void WatchCalibrationExit(const PROCESS_INFORMATION* pInfo);

// The exit watcher; its parameter is its own handle of "RykCalExitEvent",
// which it closes. Sets ghAddMonDoneEvent once when the event is set, then
// ends; also ends, without that signal, when the program ends its watchers.
DWORD WINAPI CalExitWatcher(LPVOID pExitEvent);

// Part of EndWatchers, after ghWatchersEndEvent is set: waits for every exit
// watcher (at most WATCHER_END_TIMEOUT_MS each) and closes the handles of
// those that ended. When none is left, also closes ghCalExitEvent and sets
// it to 0. TRUE when no exit watcher is left running.
BOOL EndCalibrationWatchers();
