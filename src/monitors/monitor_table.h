// The monitor table: one MONITORINFO record per monitor number, a snapshot
// of the records as they were before the last display change, and the
// hand-over of one monitor's rectangle to the driver for the touchscreen on
// that monitor.
//
// On Windows 95, which has no multi-monitor interface, the table is a grid:
// the primary screen cut into "NumXScreens" columns and "NumYScreens" rows
// of the driver's settings. Everywhere else the system's own monitor
// enumeration fills it, through EnumDisplayMonitors and GetMonitorInfoA
// looked up in USER32 at run time (so that the program still loads where
// they do not exist).
//
// Main thread only; no lock.
#pragma once

#include "platform/win32.h"

// Modes of EnumMonitors.
inline constexpr int INIT_MONITOR_INFO = 1;     // build the table
inline constexpr int UPDATE_MONITOR_INFO = 2;   // send one monitor's rectangle if it changed
inline constexpr int REFRESH_MONITOR_INFO = 3;  // fill the table again after a display change

// Failure codes of the builds. Every caller treats any non-zero result as
// a failed build.
inline constexpr int MONITORS_NO_USER32 = 1;               // USER32 not loaded
inline constexpr int MONITORS_NO_GETMONITORINFO = 2;       // GetMonitorInfoA not exported (NT 4.0)
inline constexpr int MONITORS_NO_ENUMDISPLAYMONITORS = 3;  // EnumDisplayMonitors not exported
inline constexpr int MONITORS_NO_ACCESS = 4;    // Windows 95: the service key cannot be opened for writing
inline constexpr int MONITORS_NO_SETTINGS = 5;  // Windows 95: not one driver setting could be read
inline constexpr int MONITORS_NO_MEMORY = 6;    // the arrays or the key object cannot be allocated

// The Windows 95 grid has at most this many cells: every monitor number a
// command's 16-bit word can name. "NumXScreens" and "NumYScreens" of 1 or
// more are taken as they are as long as the grid stays within it; this guard
// is what keeps their product from overflowing and the arrays from taking
// more than about 5 MB. Columns beyond the limit count as the limit, rows
// beyond what the columns leave count as that. Counts below 1 (0, or a
// "negative" REG_DWORD) count as 1.
inline constexpr LONG MAX_GRID_CELLS = 65536;

// The Windows 95 grid's columns and rows for the driver's settings
// "NumXScreens" and "NumYScreens" as their storage holds them, by the rules
// above.
void GridShape(DWORD dwNumXScreens, DWORD dwNumYScreens, LONG* pnColumns, LONG* pnRows);

// The current records, indexed by monitor number; none before the first
// build.
extern MONITORINFO* gpMonitors;
// The snapshot taken by SaveMonitorInfo; allocated together with gpMonitors,
// with the same capacity.
extern MONITORINFO* gpPrevMonitors;
// Records 0 .. giNumberOfMonitors - 1 are valid, as far as the arrays reach:
// no record at or beyond giMonitorCapacity is ever read or written.
extern LONG giNumberOfMonitors;
// Number of records both arrays can hold; 0 without arrays.
extern LONG giMonitorCapacity;
// GetSystemMetrics(SM_CMONITORS) when the window was created.
extern LONG gnMonitorsAtStart;

// USER32's GetMonitorInfoA and EnumDisplayMonitors, as the last build of the
// system-enumeration path found them; none where they are not exported.
typedef BOOL(WINAPI* GETMONITORINFO_PROC)(HMONITOR hMonitor, LPMONITORINFO lpmi);
typedef BOOL(WINAPI* ENUMDISPLAYMONITORS_PROC)(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum,
                                               LPARAM dwData);
extern GETMONITORINFO_PROC pfnGetMonitorInfo;
extern ENUMDISPLAYMONITORS_PROC pfnEnumDisplayMonitors;

// Fills or updates the table as iMode says, on the path of this Windows;
// nMonNumber is used by UPDATE_MONITOR_INFO only. 0 for success, otherwise
// a failure code of the build. Any other mode does nothing, except that on
// the system-enumeration path every mode builds the table while it has none.
int EnumMonitors(LONG nMonNumber, int iMode);
// The Windows 95 path: 0, MONITORS_NO_ACCESS, MONITORS_NO_SETTINGS or
// MONITORS_NO_MEMORY.
int EnumMonitors95(LONG nMonNumber, int iMode);
// The system-enumeration path: 0, MONITORS_NO_USER32,
// MONITORS_NO_GETMONITORINFO, MONITORS_NO_ENUMDISPLAYMONITORS or
// MONITORS_NO_MEMORY.
int EnumMonitors98(LONG nMonNumber, int iMode);

// EnumDisplayMonitors' callback: fills the record at the running index that
// dwData points to and advances the index. Monitors beyond the arrays'
// capacity are counted but not recorded. Always TRUE.
BOOL CALLBACK MonitorEnumProc(HMONITOR hMonitor, HDC hdc, LPRECT lprcMonitor, LPARAM dwData);

// Gives the driver the rcMonitor of monitor iMonitor for touchscreen
// iTouchscreen, inside a change bracket for that touchscreen which is closed
// whatever the driver answers. A monitor that the table does not hold
// (outside 0 .. giNumberOfMonitors - 1, or no arrays) sends nothing.
void SendMonitorRect(LONG iMonitor, LONG iTouchscreen);

// Copies the valid records into the snapshot; nothing without arrays.
void SaveMonitorInfo();

// 1 when the monitor's rcMonitor and rcWork equal the snapshot's; 0 when
// they differ, when there is no snapshot yet, or when the table does not
// hold that monitor.
int IsMonitorInfoUnchanged(LONG iMonitor);

// WM_DISPLAYCHANGE: snapshot, refill, and the new rectangle to the driver
// for every monitor that carries a touchscreen and changed. Leaves the
// touchscreen list's cursor on the touchscreen found for the
// highest-numbered monitor that has one. Does nothing while a Windows 95
// build is running (a display change dispatched by one of its message
// boxes): that build already sees the new display.
void UpdateVxdDisplayInfo();

// Releases both arrays; the table then has none. The builds use it on the
// arrays they replace; the running program never releases its last table.
void ReleaseMonitorArrays();
