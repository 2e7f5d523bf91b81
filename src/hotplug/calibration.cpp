#include "hotplug/calibration.h"

#include <cstring>

#include "hotplug/watchers.h"
#include "inventory/registry_check.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "platform/text.h"
#include "settings/trace.h"

HANDLE ghCalExitEvent = 0;
HANDLE gahCalWatchers[MAX_CAL_WATCHERS];
LONG gnCalWatchers = 0;
BOOL gbInCalibrationWait = FALSE;
BOOL gbCalibrationWaitCancelled = FALSE;

namespace {

const char kCalExitEventName[] = "RykCalExitEvent";
const char kCalProgramName[] = "Quavel";

// STARTUPINFOA as Windows 95 knows it: 68 bytes on the 32-bit system.
const DWORD kStartupInfoSize = 68;
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == kStartupInfoSize);

// Closes the handles of exit watchers that have ended and drops them from
// the table; with dwWaitMs 0 it only looks. TRUE when none is left.
BOOL CollectCalWatchers(DWORD dwWaitMs) {
    LONG nKept = 0;
    for (LONG i = 0; i < gnCalWatchers; ++i) {
        const DWORD dwResult = WaitForSingleObject(gahCalWatchers[i], dwWaitMs);
        if (dwResult == WAIT_OBJECT_0)
            CloseHandle(gahCalWatchers[i]);
        else if (dwResult != WAIT_FAILED)  // still running
            gahCalWatchers[nKept++] = gahCalWatchers[i];
    }
    gnCalWatchers = nKept;
    return gnCalWatchers == 0 ? TRUE : FALSE;
}

// Appends pszText to the text in szBuffer as far as it fits, keeping the
// terminating NUL.
void AppendText(CHAR (&szBuffer)[MAX_PATH], const CHAR* pszText) {
    size_t cch = std::strlen(szBuffer);
    while (*pszText != '\0' && cch + 1 < MAX_PATH) szBuffer[cch++] = *pszText++;
    szBuffer[cch] = '\0';
}

void CloseLaunchHandles(PROCESS_INFORMATION* pInfo) {
    if (pInfo->hThread != 0) CloseHandle(pInfo->hThread);
    if (pInfo->hProcess != 0) CloseHandle(pInfo->hProcess);
    pInfo->hThread = 0;
    pInfo->hProcess = 0;
}

// The 1-based position of the first touchscreen without a monitor, looking
// at no more than nTotal of them; nTotal + 1 when none of them lacks one.
LONG FirstUnassignedPosition(TouchscreenList* pList, LONG nTotal) {
    pList->MoveFirst();
    LONG k = 1;
    while (k <= nTotal) {
        if (pList->GetMonitor() == -1) break;
        pList->MoveNext();
        ++k;
    }
    return k;
}

// What the readiness wait can end with besides WaitForInputIdle's results.
const DWORD kWaitCancelled = 0xFFFFFFFEu;

// WaitForInputIdle for up to CAL_READY_TIMEOUT_MS in all, in slices: a
// plain wait of ten seconds would leave a message sent to the program's
// window unanswered that long, and at the end of the Windows session that is
// the one that tells the program to leave the driver. PeekMessageA without
// removing anything hands the sent messages to the window procedure (which
// lets only the session end run inside the wait, see gbInCalibrationWait)
// and leaves posted ones queued for the message loop. kWaitCancelled when
// the session end shut the program down meanwhile.
DWORD WaitForCalibrationReady(HANDLE hProcess) {
    DWORD dwWaited = 0;
    for (;;) {
        if (gbCalibrationWaitCancelled) return kWaitCancelled;
        DWORD dwSlice = CAL_READY_TIMEOUT_MS - dwWaited;
        if (dwSlice > CAL_READY_SLICE_MS) dwSlice = CAL_READY_SLICE_MS;
        const DWORD dwResult = WaitForInputIdle(hProcess, dwSlice);
        if (dwResult != WAIT_TIMEOUT) return dwResult;
        dwWaited += dwSlice;
        if (dwWaited >= CAL_READY_TIMEOUT_MS) return WAIT_TIMEOUT;
        MSG msg;
        gbInCalibrationWait = TRUE;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
        gbInCalibrationWait = FALSE;
    }
}

}  // namespace

int LaunchCalibration() {
    TouchscreenList* pList = gpTouchscreens;
    if (pList == nullptr || !pList->MoveFirst()) return 0;

    const LONG nTotal = pList->GetCount();
    LONG nUnassigned = 0;
    do {
        // A touchscreen whose entry is another device's loses its monitor
        // here (CheckRegistryEntry), so the position search below finds it.
        if (pList->GetMonitor() == -1 || CheckRegistryEntry() == 0) ++nUnassigned;
    } while (pList->MoveNext());

    // Not while touchscreens are still missing for the monitors we started
    // with; a machine that reported no monitors does not hold it up.
    if (gnMonitorsAtStart > nTotal) return 0;
    if (nUnassigned == 0) return 0;

    CHAR szArgument[32] = "";
    if (nUnassigned == 1)
        FormatText(szArgument, sizeof szArgument, " -t%ld",
                   static_cast<long>(FirstUnassignedPosition(pList, nTotal)));
    if (gnUnassignedAtStart != 0) FormatText(szArgument, sizeof szArgument, " -t0");

    // The system directory, "\", "Quavel" and the argument, cut at the
    // buffer's end. The directory's length is not looked at: a directory
    // that does not fit leaves the buffer empty.
    CHAR szCommandLine[MAX_PATH];
    std::memset(szCommandLine, 0, sizeof szCommandLine);
    GetSystemDirectoryA(szCommandLine, MAX_PATH);
    szCommandLine[MAX_PATH - 1] = '\0';
    AppendText(szCommandLine, "\\");
    AppendText(szCommandLine, kCalProgramName);
    AppendText(szCommandLine, szArgument);

    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    if (!StartCalibrationProcess(szCommandLine, &info)) return 0;
    WatchCalibrationExit(&info);
    // Nothing of ours needs the calibration program's handles any more.
    CloseLaunchHandles(&info);
    return 1;
}

int StartCalibrationProcess(LPSTR pszCommandLine, PROCESS_INFORMATION* pInfo) {
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = kStartupInfoSize;
    const BOOL bStarted =
        CreateProcessA(NULL, pszCommandLine, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &si, pInfo);
    if (TraceOn()) TraceLine("launch", "command_line=\"%s\" ok=%d", pszCommandLine, bStarted ? 1 : 0);
    if (!bStarted) return 0;
    // The main thread waits here for up to ten seconds; of the messages sent
    // to the window meanwhile, only the session end is handled.
    const DWORD dwReady = WaitForCalibrationReady(pInfo->hProcess);
    if (dwReady == kWaitCancelled) {
        // The session is ending and takes the calibration program with it.
        CloseLaunchHandles(pInfo);
        return 0;
    }
    if (dwReady != 0) {
        if (TraceOn()) TraceLine("terminate", "exit_code=%u: not ready for input", CAL_NOT_READY_EXIT_CODE);
        TerminateProcess(pInfo->hProcess, CAL_NOT_READY_EXIT_CODE);
        CloseLaunchHandles(pInfo);
        return 0;
    }
    return 1;
}

void CancelCalibrationWait() { gbCalibrationWaitCancelled = TRUE; }

void WatchCalibrationExit(const PROCESS_INFORMATION*) {
    // Watchers of earlier launches that have ended give their slots back.
    CollectCalWatchers(0);
    if (gnCalWatchers >= MAX_CAL_WATCHERS) return;
    if (!MakeWatchersEndEvent()) return;

    if (ghCalExitEvent == 0) {
        ghCalExitEvent = CreateEventA(NULL, FALSE, FALSE, kCalExitEventName);
        if (ghCalExitEvent == 0) return;
    }
    // The watcher's own handle of the same event (an existing event of that
    // name is opened), so that no watcher waits on a handle closed under it.
    HANDLE hWatcherEvent = CreateEventA(NULL, FALSE, FALSE, kCalExitEventName);
    if (hWatcherEvent == 0) return;

    DWORD dwThreadId = 0;
    HANDLE hThread = CreateThread(NULL, WATCHER_STACK_SIZE, CalExitWatcher, hWatcherEvent, 0, &dwThreadId);
    if (hThread == 0) {
        CloseHandle(hWatcherEvent);
        return;
    }
    gahCalWatchers[gnCalWatchers++] = hThread;
}

DWORD WINAPI CalExitWatcher(LPVOID pExitEvent) {
    HANDLE hExitEvent = static_cast<HANDLE>(pExitEvent);
    const HANDLE ahWait[2] = {ghWatchersEndEvent, hExitEvent};
    DWORD dwCode = 0;
    const DWORD dwResult = WaitForMultipleObjects(2, ahWait, FALSE, INFINITE);
    if (dwResult == WAIT_OBJECT_0 + 1) {
        // The calibration program has finished: one more done signal for the
        // add-monitor watcher.
        SetEvent(ghAddMonDoneEvent);
    } else if (dwResult == WAIT_FAILED) {
        ReportFailedWait(GetLastError());
        dwCode = 1;
    }
    CloseHandle(hExitEvent);
    return dwCode;
}

BOOL EndCalibrationWatchers() {
    if (!CollectCalWatchers(WATCHER_END_TIMEOUT_MS)) return FALSE;
    if (ghCalExitEvent != 0) {
        CloseHandle(ghCalExitEvent);
        ghCalExitEvent = 0;
    }
    return TRUE;
}
