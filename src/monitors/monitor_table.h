// The monitor table: one MONITORINFO record per monitor number.
#pragma once

#include "platform/win32.h"

// Mode of EnumMonitors that builds the table.
inline constexpr int INIT_MONITOR_INFO = 1;

// The current records, indexed by monitor number; none before the first
// build.
extern MONITORINFO* gpMonitors;
// Number of monitors in the table.
extern LONG giNumberOfMonitors;
// GetSystemMetrics(SM_CMONITORS) when the window was created.
extern LONG gnMonitorsAtStart;

// Fills or updates the table; 0 for success, otherwise a failure code of
// the build.
int EnumMonitors(LONG nMonNumber, int iMode);
