#include "monitors/monitor_table.h"

MONITORINFO* gpMonitors = nullptr;
LONG giNumberOfMonitors = 0;
LONG gnMonitorsAtStart = 0;

int EnumMonitors(LONG, int) { return 0; }
