#include "app/commands.h"

#include <new>

#include "app/app.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "hotplug/calibration.h"
#include "hotplug/signals.h"
#include "inventory/registry_check.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "settings/program_settings.h"
#include "settings/trace.h"
#include "touch/packets.h"
#include "touch/workers.h"

namespace {

// Replaces the touchscreen list with a fresh one from the driver. A new list
// whose first request is refused is empty and has queued the quit with code
// 2; the current message is still finished. A list that cannot be allocated
// leaves the program without one, as if the driver had none.
void RebuildTouchscreenList() {
    delete gpTouchscreens;
    gpTouchscreens = new (std::nothrow) TouchscreenList(ghDriver);
    if (gpTouchscreens != nullptr) gpTouchscreens->Enumerate();
}

void BroadcastUpdated(LPARAM lParam) {
    if (TraceOn())
        TraceLine("broadcast", "message=Quavel4683 wparam=%lu lparam=%ld", static_cast<unsigned long>(NOTIFY_UPDATED),
                  static_cast<long>(lParam));
    PostMessageA(HWND_BROADCAST, gmsgQuavelNotify, NOTIFY_UPDATED, lParam);
}

// The sender may be any program: a monitor the table does not hold, or a
// touchscreen the list does not hold, must not reach the driver or the
// workers. The list holds what the driver reported at its last build; a
// touchscreen it lacks may be one the driver does not have at all, and a
// request naming it is a protocol error. One the driver still has but a
// refused rebuild lost is refused all the same: its workers stay as they are
// until a rebuild finds it again.
bool IsAssignable(LONG iMonitor, LONG iTouchscreen) {
    return iMonitor >= 0 && iMonitor < giNumberOfMonitors && gpMonitors != nullptr && gpTouchscreens != nullptr &&
           gpTouchscreens->Contains(iTouchscreen);
}

void AssignMonitorCommand(LPARAM lParam) {
    // 16-bit values, widened without sign.
    const LONG iMonitor = static_cast<LONG>(LOWORD(lParam));
    const LONG iTouchscreen = static_cast<LONG>(HIWORD(lParam));
    // A pair that cannot be assigned is refused as a failed worker start
    // is: reply 1, nothing sent, nothing stopped.
    LONG iResult = 1;
    if (IsAssignable(iMonitor, iTouchscreen)) {
        SendMonitorRect(iMonitor, iTouchscreen);
        iResult = ReassignTouchscreen(iMonitor, iTouchscreen);
    }
    BroadcastUpdated(static_cast<LPARAM>(iResult));
}

void RefreshListCommand(LPARAM lParam) {
    // The program's own settings are read again, so that a change applies
    // without a restart.
    LoadProgramSettings();
    // Workers are not touched either way.
    if (static_cast<DWORD>(lParam) != REFRESH_KEEP_LIST) RebuildTouchscreenList();
    BroadcastUpdated(0);
}

}  // namespace

LRESULT OnAddMonMessage() {
    gbAddMonBusy = 1;
    RescanTouchscreens();
    LaunchCalibration();
    // The session ended during the launch's wait and the program has shut
    // down: the watchers are gone, and nothing more is done.
    if (gbShutdownDone) return 0;
    gbAddMonBusy = 0;
    // Whatever the rescan and the launch found: the watcher may post the
    // next pending operation now.
    SetEvent(ghAddMonDoneEvent);
    return 0;
}

bool OnPlexorCommand(WPARAM wParam, LPARAM lParam, LRESULT* plResult) {
    switch (wParam) {
    case CMD_ASSIGN_MONITOR: AssignMonitorCommand(lParam); break;
    case CMD_REFRESH_LIST: RefreshListCommand(lParam); break;
    case CMD_TOGGLE_RIGHT_BUTTON: gbRightButton = gbRightButton.load() == 0 ? 1 : 0; break;
    case CMD_SET_RIGHT_BUTTON: gbRightButton = (static_cast<DWORD>(lParam) & 0xFFFF0000u) != 0 ? 1 : 0; break;
    default: return false;
    }
    *plResult = 0;
    return true;
}

void RescanTouchscreens() {
    RebuildTouchscreenList();
    TouchscreenList* pList = gpTouchscreens;
    if (pList == nullptr || !pList->MoveFirst()) return;

    // The last touchscreen the driver reported is taken to be the new one.
    pList->MoveLast();
    LONG iMonitor = pList->GetMonitor();
    if (iMonitor == -1 || CheckRegistryEntry() == 0) {
        WriteDefaultAlignment();
        iMonitor = 0;
    }
    const LONG iTouchscreen = pList->GetId();

    // The remove-devices watcher may stop workers at any moment: the node
    // found must stay in the list until it has been used.
    WorkerList* const pWorkers = gpWorkers;
    WorkerListGuard guard(pWorkers);
    if (pWorkers == nullptr) return;
    WorkerNode* pNode = pWorkers->Find(iMonitor, iTouchscreen);
    if (pNode != nullptr) {
        // The re-enumerated touchscreen gets its worker's packet event
        // again; no change bracket, the answer is not examined.
        SendEventRequest(REQ_SET_XY_EVENT, static_cast<WORD>(pNode->iTouchscreen & 0xFFFF), pNode->hXyEventR0);
    } else {
        StartWorker(iMonitor, iTouchscreen);
    }
}

LONG ReassignTouchscreen(LONG iMonitor, LONG iTouchscreen) {
    // The whole walk holds the list's lock, so that the remove-devices
    // watcher cannot stop workers under it.
    WorkerList* const pWorkers = gpWorkers;
    WorkerListGuard guard(pWorkers);
    if (pWorkers == nullptr) return 1;

    bool bMatch = false;
    pWorkers->MoveFirst();
    for (WorkerNode* pNode = pWorkers->GetCurrent(); pNode != nullptr; pNode = pWorkers->GetCurrent()) {
        if (pNode->iTouchscreen == iTouchscreen && pNode->iMonitor == iMonitor) {
            pWorkers->MoveNext();
            bMatch = true;
            break;
        }
        if (pNode->iTouchscreen == iTouchscreen) {
            // The cursor goes back to the node before (already looked at) or
            // on to the one after; the walk goes on from there.
            if (!StopCurrentWorker()) break;
            continue;
        }
        if (!pWorkers->MoveNext()) break;
    }
    if (bMatch) return 0;
    return StartWorker(iMonitor, iTouchscreen) != 0 ? 1 : 0;
}
