// The hidden window's control messages from the add-monitor watcher and from
// other programs: WM_RYK_ADDMON (hotplug/signals.h), WM_COMMAND and the
// commands of the registered message "RykPlexor4683" (gmsgPlexorCommand),
// two of which are answered with a broadcast of "Quavel4683"
// (gmsgQuavelNotify). Main thread only.
#pragma once

#include "platform/win32.h"

// Commands of "RykPlexor4683", by wParam. Any other wParam is not a command.
inline constexpr WPARAM CMD_ASSIGN_MONITOR = 1;       // lParam: low word monitor, high word touchscreen
inline constexpr WPARAM CMD_REFRESH_LIST = 3;         // lParam: REFRESH_KEEP_LIST, or anything to rebuild
inline constexpr WPARAM CMD_TOGGLE_RIGHT_BUTTON = 4;  // lParam not used
inline constexpr WPARAM CMD_SET_RIGHT_BUTTON = 5;     // lParam: high word non-zero for right-button mode

// CMD_REFRESH_LIST's lParam that keeps the list as it is.
inline constexpr DWORD REFRESH_KEEP_LIST = 0x8000;

// The one notification code this program broadcasts with "Quavel4683".
inline constexpr WPARAM NOTIFY_UPDATED = 2;

// WM_RYK_ADDMON: rescan, calibration launch, then the done signal to the
// add-monitor watcher, with gbAddMonBusy set around the first two. Returns 0.
LRESULT OnAddMonMessage();

// "RykPlexor4683": carries out the command named by wParam and stores 0 in
// *plResult. False, with nothing done, when wParam is not a command (the
// message then goes to DefWindowProcA).
bool OnPlexorCommand(WPARAM wParam, LPARAM lParam, LRESULT* plResult);

// Rebuilds the touchscreen list and serves its last (newest) touchscreen: a
// touchscreen without a monitor, or whose registry entry is not its own, gets
// its default alignment written and monitor 0. Its existing worker for that
// monitor gets its packet event handed to the driver again; without one a
// worker is started. Other touchscreens keep whatever workers they have.
void RescanTouchscreens();

// Makes sure touchscreen iTouchscreen has a worker on monitor iMonitor:
// workers of the touchscreen on other monitors that stand before the
// matching one in the list are stopped (all of them when none matches), and
// one is started when none matches. 0 when the pair has a worker afterwards,
// 1 when starting it failed.
LONG ReassignTouchscreen(LONG iMonitor, LONG iTouchscreen);
