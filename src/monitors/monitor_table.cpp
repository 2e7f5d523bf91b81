#include "monitors/monitor_table.h"

#include <cstring>
#include <new>

#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/touchscreen_list.h"
#include "platform/text.h"
#include "settings/settings.h"

MONITORINFO* gpMonitors = nullptr;
MONITORINFO* gpPrevMonitors = nullptr;
LONG giNumberOfMonitors = 0;
LONG giMonitorCapacity = 0;
LONG gnMonitorsAtStart = 0;

GETMONITORINFO_PROC pfnGetMonitorInfo = nullptr;
ENUMDISPLAYMONITORS_PROC pfnEnumDisplayMonitors = nullptr;

namespace {

// Set by SaveMonitorInfo, cleared whenever new arrays are made: a freshly
// allocated snapshot holds nothing to compare with.
bool gbHaveSnapshot = false;

// True while a Windows 95 build runs. Its message boxes are modal: while one
// is open the main thread's messages are dispatched from the box's own
// loop, so a display change can arrive in the middle of the build. Such a
// display change is not handled: a second build would replace the key
// object and the arrays that the running build still uses, and the running
// build reads the screen's size only after its boxes, so it sees the new
// display anyway.
bool gbBuildingGrid = false;

// Sets gbBuildingGrid for its lifetime.
class GridBuildScope {
public:
    GridBuildScope() { gbBuildingGrid = true; }
    ~GridBuildScope() { gbBuildingGrid = false; }
    GridBuildScope(const GridBuildScope&) = delete;
    GridBuildScope& operator=(const GridBuildScope&) = delete;
};

// Both arrays live in one allocation of 2 * n records, gpMonitors at its
// start and gpPrevMonitors after the first n: they are made and released
// together, so the table has both or neither. The records start zeroed.
MONITORINFO* NewMonitorArrays(LONG nRecords) {
    const size_t n = nRecords > 0 ? static_cast<size_t>(nRecords) : 0;
    return new (std::nothrow) MONITORINFO[2 * n]();
}

// Makes pArrays (from NewMonitorArrays(nRecords)) the table's arrays,
// releasing the ones it had.
void InstallMonitorArrays(MONITORINFO* pArrays, LONG nRecords) {
    ReleaseMonitorArrays();
    const LONG n = nRecords > 0 ? nRecords : 0;
    gpMonitors = pArrays;
    gpPrevMonitors = pArrays + n;
    giMonitorCapacity = n;
    gbHaveSnapshot = false;
}

// The table holds this monitor: it has arrays and the number is one of its
// valid records.
bool IsMonitorInTable(LONG iMonitor) {
    return gpMonitors != nullptr && gpPrevMonitors != nullptr && iMonitor >= 0 && iMonitor < giNumberOfMonitors &&
           iMonitor < giMonitorCapacity;
}

// A grid dimension from the driver's settings, held to 1 .. nLimit. The
// setting is a REG_DWORD that may hold anything; it is read signed, so that
// a "negative" count counts as 1 like 0 does.
LONG GridScreens(DWORD dwSetting, LONG nLimit) {
    const LONG n = static_cast<LONG>(dwSetting);
    if (n < 1) return 1;
    if (n > nLimit) return nLimit;
    return n;
}

}  // namespace

void GridShape(DWORD dwNumXScreens, DWORD dwNumYScreens, LONG* pnColumns, LONG* pnRows) {
    // Every count of 1 or more is the grid's, within MAX_GRID_CELLS cells.
    *pnColumns = GridScreens(dwNumXScreens, MAX_GRID_CELLS);
    *pnRows = GridScreens(dwNumYScreens, MAX_GRID_CELLS / *pnColumns);
}

namespace {

// UPDATE_MONITOR_INFO, the same on both paths: the monitor's rectangle goes
// to the first touchscreen in the list that carries this monitor, or to
// touchscreen 0 when none does, unless the record is unchanged since the
// snapshot. The list's cursor is put back.
int UpdateMonitor(LONG nMonNumber) {
    if (nMonNumber == -1) return 0;
    // A number the table does not hold has nothing to send.
    if (!IsMonitorInTable(nMonNumber)) return 0;
    if (IsMonitorInfoUnchanged(nMonNumber) == 1) return 0;

    if (gpTouchscreens == nullptr) {
        SendMonitorRect(nMonNumber, 0);
        return 0;
    }
    gpTouchscreens->SaveCursor();
    LONG iTouchscreen = gpTouchscreens->FindByMonitor(nMonNumber);
    if (iTouchscreen == -1) iTouchscreen = 0;
    SendMonitorRect(nMonNumber, iTouchscreen);
    gpTouchscreens->RestoreCursor();
    return 0;
}

// The Windows 95 build: the grid of the driver's settings over the primary
// screen. A new key object on the service key replaces (and releases) the
// one before; the settings are read afresh, all of them.
int BuildGrid() {
    GridBuildScope scope;
    delete gpServiceKey;
    gpServiceKey = new (std::nothrow) RegistryKey(gszServiceKey);
    if (gpServiceKey == nullptr) return MONITORS_NO_MEMORY;

    if (gpServiceKey->LastError() != 0) {
        MessageBoxA(nullptr, "You must have administrator privileges to run Plexor.", "Error", MB_ICONWARNING);
        return MONITORS_NO_ACCESS;
    }

    if (gpServiceKey->ReadValues(DriverSettings) == 0) {
        CHAR szMessage[96];
        FormatText(szMessage, sizeof szMessage, "Error number %d occurred while reading the registry",
                   static_cast<int>(gpServiceKey->LastError()));
        MessageBoxA(nullptr, szMessage, "Plexor", MB_OK);
        return MONITORS_NO_SETTINGS;
    }

    LONG nColumns = 1;
    LONG nRows = 1;
    GridShape(gdwNumXScreens, gdwNumYScreens, &nColumns, &nRows);
    const LONG nCells = nColumns * nRows;

    ReleaseMonitorArrays();
    MONITORINFO* pArrays = NewMonitorArrays(nCells);
    if (pArrays == nullptr) return MONITORS_NO_MEMORY;
    InstallMonitorArrays(pArrays, nCells);
    giNumberOfMonitors = nCells;

    // Equal cells from the top-left corner; the pixels that a division
    // leaves over at the right and bottom edges belong to no cell. No cell
    // is marked as the primary monitor.
    const LONG cx = GetSystemMetrics(SM_CXSCREEN);
    const LONG cy = GetSystemMetrics(SM_CYSCREEN);
    const LONG w = cx / nColumns;
    const LONG h = cy / nRows;
    for (LONG r = 0; r < nRows; ++r) {
        for (LONG k = 0; k < nColumns; ++k) {
            MONITORINFO& mi = gpMonitors[r * nColumns + k];
            mi.cbSize = sizeof(MONITORINFO);
            mi.rcMonitor.left = k * w;
            mi.rcMonitor.top = r * h;
            mi.rcMonitor.right = (k + 1) * w;
            mi.rcMonitor.bottom = (r + 1) * h;
            mi.rcWork = mi.rcMonitor;
            mi.dwFlags = 0;
        }
    }
    return 0;
}

// Runs the system's enumeration into the table with the functions the last
// build found.
void EnumerateIntoTable() {
    if (pfnEnumDisplayMonitors == nullptr || pfnGetMonitorInfo == nullptr) return;
    LONG iIndex = 0;
    pfnEnumDisplayMonitors(nullptr, nullptr, MonitorEnumProc, reinterpret_cast<LPARAM>(&iIndex));
}

// The system-enumeration build: arrays for giNumberOfMonitors records (the
// count itself stays), the two USER32 functions looked up, then the
// enumeration.
int BuildFromSystem() {
    ReleaseMonitorArrays();
    MONITORINFO* pArrays = NewMonitorArrays(giNumberOfMonitors);
    if (pArrays == nullptr) return MONITORS_NO_MEMORY;
    InstallMonitorArrays(pArrays, giNumberOfMonitors);

    // Both are looked up before either outcome is looked at. Casting through
    // void (*)() keeps the compiler from comparing FARPROC's parameter list
    // with ours.
    HMODULE hUser32 = GetModuleHandleA("USER32");
    pfnGetMonitorInfo = reinterpret_cast<GETMONITORINFO_PROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(hUser32, "GetMonitorInfoA")));
    pfnEnumDisplayMonitors = reinterpret_cast<ENUMDISPLAYMONITORS_PROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(hUser32, "EnumDisplayMonitors")));
    if (hUser32 == nullptr) return MONITORS_NO_USER32;
    if (pfnGetMonitorInfo == nullptr) return MONITORS_NO_GETMONITORINFO;
    if (pfnEnumDisplayMonitors == nullptr) return MONITORS_NO_ENUMDISPLAYMONITORS;

    EnumerateIntoTable();
    return 0;
}

// REFRESH_MONITOR_INFO on the system-enumeration path. More monitors than
// the table counts make new arrays (the snapshot then holds nothing); if
// those cannot be allocated the table keeps its arrays and its count, is
// refilled as far as it reaches, and MONITORS_NO_MEMORY is returned.
int RefreshFromSystem() {
    int iResult = 0;
    const LONG n = GetSystemMetrics(SM_CMONITORS);
    if (n > giNumberOfMonitors) {
        MONITORINFO* pArrays = NewMonitorArrays(n);
        if (pArrays != nullptr) {
            InstallMonitorArrays(pArrays, n);
            giNumberOfMonitors = n;
        } else {
            iResult = MONITORS_NO_MEMORY;
        }
    }
    EnumerateIntoTable();
    return iResult;
}

}  // namespace

void ReleaseMonitorArrays() {
    delete[] gpMonitors;
    gpMonitors = nullptr;
    gpPrevMonitors = nullptr;
    giMonitorCapacity = 0;
    gbHaveSnapshot = false;
}

int EnumMonitors(LONG nMonNumber, int iMode) {
    const OsKind kind = GetOsKind();
    SelectServiceKey();
    if (kind == OS_KIND_95) return EnumMonitors95(nMonNumber, iMode);
    return EnumMonitors98(nMonNumber, iMode);
}

int EnumMonitors95(LONG nMonNumber, int iMode) {
    switch (iMode) {
    case INIT_MONITOR_INFO:
        return BuildGrid();
    case UPDATE_MONITOR_INFO:
        return UpdateMonitor(nMonNumber);
    case REFRESH_MONITOR_INFO:
        // The table has no arrays until the build has made new ones; if the
        // build fails it stays so.
        ReleaseMonitorArrays();
        return BuildGrid();
    default:
        return 0;
    }
}

int EnumMonitors98(LONG nMonNumber, int iMode) {
    if (iMode == INIT_MONITOR_INFO || gpMonitors == nullptr) return BuildFromSystem();
    switch (iMode) {
    case UPDATE_MONITOR_INFO:
        return UpdateMonitor(nMonNumber);
    case REFRESH_MONITOR_INFO:
        return RefreshFromSystem();
    default:
        return 0;
    }
}

BOOL CALLBACK MonitorEnumProc(HMONITOR hMonitor, HDC, LPRECT, LPARAM dwData) {
    LONG* piIndex = reinterpret_cast<LONG*>(dwData);
    if (piIndex == nullptr) return TRUE;
    const LONG i = *piIndex;
    // A monitor that came after the count was taken has no record to go to.
    if (gpMonitors != nullptr && i >= 0 && i < giMonitorCapacity && pfnGetMonitorInfo != nullptr) {
        gpMonitors[i].cbSize = sizeof(MONITORINFO);
        pfnGetMonitorInfo(hMonitor, &gpMonitors[i]);
    }
    *piIndex = i + 1;
    return TRUE;
}

void SendMonitorRect(LONG iMonitor, LONG iTouchscreen) {
    if (!IsMonitorInTable(iMonitor)) return;

    const WORD wTouchscreen = static_cast<WORD>(iTouchscreen & 0xFFFF);
    const RECT& rc = gpMonitors[iMonitor].rcMonitor;

    VxdChange(FALSE, wTouchscreen);

    MonitorRectRequest req;
    std::memset(&req, 0, sizeof req);
    req.header.wTag2 = REQ_TAG;
    req.header.wTouchscreen = wTouchscreen;
    req.iMonitor = iMonitor;
    req.iTop = rc.top;
    req.iLeft = rc.left;
    req.iBottom = rc.bottom;
    req.iRight = rc.right;
    // A refusal changes nothing here; the bracket is closed all the same.
    SendRequest(REQ_SET_MONITOR_RECT, &req);

    VxdChange(TRUE, wTouchscreen);
}

void SaveMonitorInfo() {
    if (gpMonitors == nullptr || gpPrevMonitors == nullptr) return;
    LONG n = giNumberOfMonitors < giMonitorCapacity ? giNumberOfMonitors : giMonitorCapacity;
    if (n < 0) n = 0;
    for (LONG i = 0; i < n; ++i) gpPrevMonitors[i] = gpMonitors[i];
    gbHaveSnapshot = true;
}

int IsMonitorInfoUnchanged(LONG iMonitor) {
    if (gpMonitors == nullptr || gpPrevMonitors == nullptr) return 0;
    if (!IsMonitorInTable(iMonitor) || !gbHaveSnapshot) return 0;
    const MONITORINFO& now = gpMonitors[iMonitor];
    const MONITORINFO& was = gpPrevMonitors[iMonitor];
    // cbSize and dwFlags are not compared: a moved work area alone is a
    // change.
    const bool bSame = now.rcMonitor.left == was.rcMonitor.left && now.rcMonitor.right == was.rcMonitor.right &&
                       now.rcMonitor.top == was.rcMonitor.top && now.rcMonitor.bottom == was.rcMonitor.bottom &&
                       now.rcWork.left == was.rcWork.left && now.rcWork.right == was.rcWork.right &&
                       now.rcWork.top == was.rcWork.top && now.rcWork.bottom == was.rcWork.bottom;
    return bSame ? 1 : 0;
}

void UpdateVxdDisplayInfo() {
    // A display change that a build's message box dispatched: see
    // gbBuildingGrid.
    if (gbBuildingGrid) return;

    LONG n = GetSystemMetrics(SM_CMONITORS);
    if (gnMonitorsAtStart < n) n = gnMonitorsAtStart;
    giNumberOfMonitors = n;

    SaveMonitorInfo();
    EnumMonitors(0, REFRESH_MONITOR_INFO);

    if (gpTouchscreens == nullptr) return;
    // The searches move the list's cursor and it is not put back.
    for (LONG i = 0; i < giNumberOfMonitors; ++i) {
        if (gpTouchscreens->FindByMonitor(i) != -1) EnumMonitors(i, UPDATE_MONITOR_INFO);
    }
}
