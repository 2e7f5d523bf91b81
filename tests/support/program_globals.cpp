#include "program_globals.h"

#include "app/app.h"
#include "app/report.h"
#include "driver/channel.h"
#include "hotplug/signals.h"
#include "inventory/touchscreen_list.h"
#include "hotplug/calibration.h"
#include "monitors/monitor_table.h"
#include "settings/program_settings.h"
#include "settings/settings.h"
#include "settings/trace.h"
#include "touch/packets.h"
#include "touch/touch_report.h"
#include "touch/workers.h"

namespace support {

void ResetProgramGlobals() {
    ghDriver = 0;
    ghInstanceMutex = 0;
    delete gpTouchscreens;
    gpTouchscreens = nullptr;
    gnUnassignedAtStart = 0;
    gmsgQuavelNotify = 0;
    gmsgPlexorCommand = 0;
    gmsgReportTouch = 0;
    glTouchReport = TOUCH_REPORT_IDLE;
    ghTouchReportWnd = nullptr;
    ghWnd = nullptr;
    delete gpWorkers.load();
    gpWorkers = nullptr;
    gbAddMonBusy = 0;
    ghAddMonDoneEvent = 0;
    ghAddMonEvent = 0;
    ghAddMonEventR0 = 0;
    ghAddMonThread = 0;
    ghRemoveEvent = 0;
    ghRemoveEventR0 = 0;
    ghRemoveThread = 0;
    ghAddMonWnd = nullptr;
    ghWatchersEndEvent = 0;
    gdwAddMonThreadId = 0;
    ghCalExitEvent = 0;
    for (HANDLE& h : gahCalWatchers) h = 0;
    gnCalWatchers = 0;
    gbInCalibrationWait = FALSE;
    gbCalibrationWaitCancelled = FALSE;
    gbShutdownDone = FALSE;
    gbRightButton = 0;
    giLastX = 0;
    giLastY = 0;
    ReleaseMonitorArrays();
    pfnGetMonitorInfo = nullptr;
    pfnEnumDisplayMonitors = nullptr;
    delete gpServiceKey;
    gpServiceKey = nullptr;
    giNumberOfMonitors = 0;
    gnMonitorsAtStart = 0;
    // The driver's settings, each at its default.
    gdwMouseMode = 6;
    gdwBeepFlag = 1;
    gdwBeepTime = 20;
    gdwBeepFreq = 4000;
    gdwDefaultDragDelay = 200;
    gdwMinDragDelay = 0;
    gdwMaxDragDelay = 1000;
    gdwNumberOfTouchscreens = 1;
    gdwNumXScreens = 1;
    gdwNumYScreens = 1;
    gabCplLanguage[0] = 0;
    gabCplLanguage[1] = 0;
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) DriverSettings[i].bLoaded = FALSE;
    gbTrace = 0;
    gdwHoldTimeMs = 0;
    gdwHoldRadius = HOLD_RADIUS_DEFAULT;
}

}  // namespace support
