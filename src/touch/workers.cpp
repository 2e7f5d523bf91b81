#include "touch/workers.h"

#include <cstring>
#include <new>

#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/registry_check.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "platform/cursor_list.h"
#include "platform/text.h"
#include "touch/packets.h"

std::atomic<WorkerList*> gpWorkers{nullptr};

namespace {

const char kXyEventPrefix[] = "RykXyEvent";
const char kQuickTouchEventPrefix[] = "RykUpdateQuickTouchEvent";

// More nodes than this and StartWorker refuses: the test is a strict
// greater-than, so the list holds at most 33 nodes.
constexpr LONG kMaxWorkersBeforeRefusal = 32;

// Thresholds of a new node, until the driver's values arrive.
constexpr LONG kDefaultQuickTouchDistance = 200;

// "RykXyEvent3", "RykUpdateQuickTouchEvent3": the prefix and the identifier
// in decimal.
void EventName(char (&szName)[64], const char* pszPrefix, LONG iTouchscreen) {
    FormatText(szName, sizeof szName, "%s%d", pszPrefix, static_cast<int>(iTouchscreen));
}

// An auto-reset named event, not signalled, default security.
HANDLE CreateWorkerEvent(const char* pszPrefix, LONG iTouchscreen) {
    char szName[64];
    EventName(szName, pszPrefix, iTouchscreen);
    return CreateEventA(nullptr, FALSE, FALSE, szName);
}

void CloseIfOpen(HANDLE* phHandle) {
    if (*phHandle != 0) CloseHandle(*phHandle);
    *phHandle = 0;
}

// Steps 3 to 9 of a worker's start on its freshly appended node: 0 when the
// worker runs, 1 when a step failed. Whatever a step made is in the node by
// then (the packet event too when its hand-over failed), so that the stop of
// the node releases it.
int StartNode(WorkerNode* pNode, LONG iMonitor, LONG iTouchscreen) {
    gpTouchscreens->AssignMonitor(iMonitor, static_cast<WORD>(iTouchscreen));

    if (EnumMonitors(iMonitor, UPDATE_MONITOR_INFO) != 0) return 1;

    HANDLE hXyEvent = 0;
    DWORD dwXyEventR0 = 0;
    const int iArmed = ArmXyEvent(iTouchscreen, &hXyEvent, &dwXyEventR0);
    pNode->hXyEvent = hXyEvent;
    if (iArmed != ARM_XY_OK) return 1;

    pNode->hXyEventR0 = dwXyEventR0;
    pNode->hXyEvent = hXyEvent;
    pNode->iMonitor = iMonitor;
    pNode->iTouchscreen = iTouchscreen;

    // Both threads end when this is set; without it no thread is started.
    pNode->hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (pNode->hStopEvent == 0) return 1;

    pNode->hXyThread = CreateThread(nullptr, WORKER_STACK_SIZE, TouchPacketThread, pNode, 0, &pNode->dwXyThreadId);
    if (pNode->hXyThread == 0) return 1;

    if (ArmQuickTouchEvent(pNode) != ARM_QT_OK) return 1;

    SetThreadPriority(pNode->hXyThread, THREAD_PRIORITY_HIGHEST);
    return 0;
}

}  // namespace

// ------------------------------------------------------------------ WorkerList

WorkerList::WorkerList() : nCount(0), pCurrent(nullptr), pFirst(nullptr) { InitializeCriticalSection(&csList); }

WorkerList::~WorkerList() {
    // No system call here: the lock is left as it is, since nothing may use
    // a list that is being destroyed.
    WorkerNode* pNode = pFirst;
    while (pNode != nullptr) {
        WorkerNode* pNext = pNode->pNext;
        delete pNode;
        pNode = pNext;
    }
}

void WorkerList::Lock() { EnterCriticalSection(&csList); }

void WorkerList::Unlock() { LeaveCriticalSection(&csList); }

int WorkerList::AddTail() {
    WorkerNode* pNode = new (std::nothrow) WorkerNode;
    if (pNode == nullptr) return 0;
    LinkAtTail(pFirst, pCurrent, pNode);
    ++nCount;

    pNode->iMonitor = 0;
    pNode->iTouchscreen = 0;
    pNode->hXyEvent = 0;
    pNode->hXyThread = 0;
    pNode->hXyEventR0 = 0;
    pNode->dwXyThreadId = 0;
    pNode->iQuickTouchDx.store(kDefaultQuickTouchDistance);
    pNode->iQuickTouchDy.store(kDefaultQuickTouchDistance);
    pNode->hQuickTouchEvent = 0;
    pNode->hQuickTouchThread = 0;
    pNode->hStopEvent = 0;
    return 1;
}

int WorkerList::MoveFirst() { return CursorToFirst(pFirst, pCurrent); }

int WorkerList::MoveNext() { return CursorToNext(pCurrent); }

int WorkerList::MoveLast() { return CursorToLast(pFirst, pCurrent); }

LONG WorkerList::GetCount() const { return nCount; }

WorkerNode* WorkerList::GetCurrent() const { return pCurrent; }

WorkerNode* WorkerList::Find(LONG iMonitor, LONG iTouchscreen) const {
    for (WorkerNode* pNode = pFirst; pNode != nullptr; pNode = pNode->pNext)
        if (pNode->iMonitor == iMonitor && pNode->iTouchscreen == iTouchscreen) return pNode;
    return nullptr;
}

int WorkerList::RemoveCurrent() {
    WorkerNode* pNode = UnlinkCurrent(pFirst, pCurrent);
    if (pNode == nullptr) return 0;
    --nCount;
    delete pNode;
    return 1;
}

// ------------------------------------------------------------------ starting

void StartAllWorkers() {
    WorkerList* const pList = gpWorkers;
    if (pList == nullptr || gpTouchscreens == nullptr) return;
    WorkerListGuard guard(pList);
    if (!gpTouchscreens->MoveFirst()) return;
    do {
        const LONG iTouchscreen = gpTouchscreens->GetId();
        LONG iMonitor = gpTouchscreens->GetMonitor();
        // The registry check runs only for a touchscreen that has a monitor.
        if (iMonitor == -1 || CheckRegistryEntry() == 0) {
            WriteDefaultAlignment();
            iMonitor = 0;
        }
        StartWorker(iMonitor, iTouchscreen);  // a failure does not stop the others
    } while (gpTouchscreens->MoveNext());
}

int StartWorker(LONG iMonitor, LONG iTouchscreen) {
    WorkerList* const pList = gpWorkers;
    if (pList == nullptr || gpTouchscreens == nullptr) return 1;
    WorkerListGuard guard(pList);

    if (iTouchscreen < 0 || iTouchscreen > gpTouchscreens->GetCount() - 1 ||
        pList->GetCount() > kMaxWorkersBeforeRefusal)
        return 1;

    if (!pList->AddTail()) return 1;
    WorkerNode* const pNode = pList->GetCurrent();
    // Known from the start, so that the stop of a node whose start failed
    // withdraws the event of the right touchscreen.
    pNode->iTouchscreen = iTouchscreen;

    if (StartNode(pNode, iMonitor, iTouchscreen) == 0) return 0;

    // A node whose start failed is no worker: nothing may find it, match it
    // or re-send its event. It is stopped at once, as a later stop would
    // have stopped it (its packet event withdrawn inside a bracket for its
    // touchscreen, its threads ended, its handles closed), and removed; the
    // next assignment or rescan starts the pair anew. The list's lock has
    // been held since AddTail, so the node is still the last one.
    pList->MoveLast();
    StopCurrentWorker();
    return 1;
}

int ArmXyEvent(LONG iTouchscreen, HANDLE* phXyEvent, DWORD* pdwXyEventR0) {
    const HANDLE hEvent = CreateWorkerEvent(kXyEventPrefix, iTouchscreen);
    if (hEvent == 0) return ARM_XY_NO_EVENT;
    *phXyEvent = hEvent;

    DWORD dwEventR0 = 0;
    switch (ToRing0Handle(hEvent, &dwEventR0)) {
    case TO_RING0_NOT_FOUND: return ARM_XY_NO_OPENVXDHANDLE;
    case TO_RING0_REFUSED: return ARM_XY_RING0_REFUSED;
    default: break;
    }
    *pdwXyEventR0 = dwEventR0;

    const WORD wTouchscreen = static_cast<WORD>(iTouchscreen);
    VxdChange(FALSE, wTouchscreen);
    if (!SendEventRequest(REQ_SET_XY_EVENT, wTouchscreen, dwEventR0)) return ARM_XY_DRIVER_REFUSED;
    VxdChange(TRUE, wTouchscreen);
    return ARM_XY_OK;
}

int ArmQuickTouchEvent(WorkerNode* pNode) {
    pNode->hQuickTouchEvent = CreateWorkerEvent(kQuickTouchEventPrefix, pNode->iTouchscreen);
    if (pNode->hQuickTouchEvent == 0) return ARM_QT_NO_EVENT;

    DWORD dwThreadId = 0;
    pNode->hQuickTouchThread = CreateThread(nullptr, WORKER_STACK_SIZE, QuickTouchThread, pNode, 0, &dwThreadId);
    if (dwThreadId == 0) return ARM_QT_NO_THREAD;
    SetThreadPriority(pNode->hQuickTouchThread, THREAD_PRIORITY_HIGHEST);

    DWORD dwEventR0 = 0;
    switch (ToRing0Handle(pNode->hQuickTouchEvent, &dwEventR0)) {
    case TO_RING0_NOT_FOUND: return ARM_QT_NO_OPENVXDHANDLE;
    case TO_RING0_REFUSED: return ARM_QT_RING0_REFUSED;
    default: break;
    }

    // This hand-over is bracketed for touchscreen 0 whatever the worker's
    // touchscreen; the request itself names the worker's.
    VxdChange(FALSE, 0);
    if (!SendEventRequest(REQ_SET_QUICKTOUCH_EVENT, static_cast<WORD>(pNode->iTouchscreen), dwEventR0))
        return ARM_QT_DRIVER_REFUSED;
    VxdChange(TRUE, 0);
    return ARM_QT_OK;
}

// ------------------------------------------------------------------ the refresher

bool WaitForWorkerEvent(HANDLE hStopEvent, HANDLE hEvent) {
    const HANDLE ahWait[2] = {hStopEvent, hEvent};
    return WaitForMultipleObjects(2, ahWait, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

DWORD WINAPI QuickTouchThread(LPVOID pParam) {
    WorkerNode* const pNode = static_cast<WorkerNode*>(pParam);
    const HANDLE hQuickTouchEvent = pNode->hQuickTouchEvent;
    const HANDLE hStopEvent = pNode->hStopEvent;
    const WORD wTouchscreen = static_cast<WORD>(pNode->iTouchscreen);

    while (WaitForWorkerEvent(hStopEvent, hQuickTouchEvent)) {
        // Not under gcsDriver and without a change bracket.
        QuickTouchRequest req;
        std::memset(&req, 0, sizeof req);
        req.header.wTag2 = REQ_TAG;
        req.header.wTouchscreen = wTouchscreen;
        if (SendRequest(REQ_GET_QUICKTOUCH, &req)) {
            pNode->iQuickTouchDx.store(req.iQuickTouchDx);
            pNode->iQuickTouchDy.store(req.iQuickTouchDy);
        }
    }
    return 0;
}

// ------------------------------------------------------------------ stopping

int StopCurrentWorker() {
    WorkerList* const pList = gpWorkers;
    if (pList == nullptr) return 0;
    WorkerListGuard guard(pList);
    WorkerNode* const pNode = pList->GetCurrent();
    if (pNode == nullptr) return 0;

    const WORD wTouchscreen = static_cast<WORD>(pNode->iTouchscreen);
    VxdChange(FALSE, wTouchscreen);
    ClearVxdEvent(wTouchscreen, 0);

    // End both threads before anything they use goes: they leave their wait
    // on the stop event, and neither touches the node, its events or the
    // driver afterwards. A node whose start failed early has no threads.
    if (pNode->hStopEvent != 0) SetEvent(pNode->hStopEvent);
    if (pNode->hXyThread != 0) WaitForSingleObject(pNode->hXyThread, INFINITE);
    if (pNode->hQuickTouchThread != 0) WaitForSingleObject(pNode->hQuickTouchThread, INFINITE);

    CloseIfOpen(&pNode->hXyEvent);
    CloseIfOpen(&pNode->hXyThread);
    // The quick-touch event stays handed to the driver (there is no request
    // to withdraw it); a set on it reaches no one now.
    CloseIfOpen(&pNode->hQuickTouchEvent);
    CloseIfOpen(&pNode->hQuickTouchThread);
    CloseIfOpen(&pNode->hStopEvent);

    VxdChange(TRUE, wTouchscreen);
    return pList->RemoveCurrent();
}

void StopAllWorkers() {
    WorkerList* const pList = gpWorkers;
    if (pList == nullptr) return;
    WorkerListGuard guard(pList);
    while (pList->MoveFirst()) StopCurrentWorker();
}
