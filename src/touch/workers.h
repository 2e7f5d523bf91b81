// The touchscreen workers. Every touchscreen that the program serves has one
// WorkerNode in the one WorkerList (gpWorkers) and two threads that share the
// node: the packet worker TouchPacketThread (touch/packets.h), which turns the
// driver's touch reports into mouse input, and the quick-touch refresher
// QuickTouchThread, which keeps the node's quick-touch thresholds up to date.
//
// Starting a worker ties its touchscreen to a monitor (in the touchscreen
// list and in the driver), hands the monitor's rectangle and the worker's two
// events to the driver and starts both threads. Stopping a worker withdraws
// its packet event from the driver, ends both threads, closes every handle the
// worker owns and removes its node.
//
// Threads and the list. The main thread makes every change to the list, but
// the remove-devices watcher stops all workers from its own thread, so the
// list has a lock of its own. Every walk of the list, every cursor move
// followed by a use of the current node, and every use of a node found in the
// list hold it (Lock/Unlock, or a WorkerListGuard); it is recursive, so the
// main thread can hold it across StartWorker and StopCurrentWorker, which take
// it themselves as well. The worker threads never take it.
#pragma once

#include <atomic>

#include "platform/win32.h"
#include "touch/worker_node.h"

// The worker nodes in the order they were appended, with one cursor. The
// list owns its nodes: AddTail allocates them, RemoveCurrent frees them.
// Operations that need a current node return 0 or none without one.
class WorkerList {
public:
    WorkerList();
    // Frees the nodes that are left, and nothing else: stop the workers
    // first. The program never destroys its list; this is for processes that
    // make several.
    ~WorkerList();
    WorkerList(const WorkerList&) = delete;
    WorkerList& operator=(const WorkerList&) = delete;

    // The list's lock; recursive. See the top of this file.
    void Lock();
    void Unlock();

    // Appends a node and moves the cursor to it. 1, or 0 with the list
    // unchanged when no node could be allocated.
    int AddTail();
    int MoveFirst();  // 1 if the list has a node; the cursor on the first
    // 1 if it moved; 0 at the last node (the cursor stays) or without a
    // current node.
    int MoveNext();
    int MoveLast();  // 1 if the list has a node; the cursor on the last
    LONG GetCount() const;
    WorkerNode* GetCurrent() const;
    // The first node, from the first on, with both numbers; none if there is
    // none. The cursor stays where it is.
    WorkerNode* Find(LONG iMonitor, LONG iTouchscreen) const;
    // Unlinks and frees the current node. The cursor goes to the node before
    // it, or to the node after it when it was the first. 0 without a current
    // node, else 1.
    int RemoveCurrent();

protected:
    LONG nCount;
    WorkerNode* pCurrent;
    WorkerNode* pFirst;
    CRITICAL_SECTION csList;
};

// Holds a list's lock for its lifetime; does nothing for no list.
class WorkerListGuard {
public:
    explicit WorkerListGuard(WorkerList* pList) : pList_(pList) {
        if (pList_ != nullptr) pList_->Lock();
    }
    ~WorkerListGuard() {
        if (pList_ != nullptr) pList_->Unlock();
    }
    WorkerListGuard(const WorkerListGuard&) = delete;
    WorkerListGuard& operator=(const WorkerListGuard&) = delete;

private:
    WorkerList* pList_;
};

// The worker list, made at window creation. The remove-devices watcher,
// which runs from before the window exists, reads it from its own thread.
extern std::atomic<WorkerList*> gpWorkers;

// Requested stack size of every worker thread; the system rounds it up to
// its page size.
inline constexpr SIZE_T WORKER_STACK_SIZE = 512;

// Starts one worker per record of gpTouchscreens, from the first on. A record
// without a monitor, or whose registry entry is not its own, gets its default
// alignment written and is served on monitor 0. A failed start does not stop
// the others. Leaves the touchscreen list's cursor on its last record.
void StartAllWorkers();

// Starts a worker for touchscreen iTouchscreen on monitor iMonitor: 0 when it
// runs, 1 when it was refused (identifier outside the touchscreen list, or 33
// nodes already) or a step failed. A failed step leaves no node: the node is
// stopped at once as StopCurrentWorker stops one (its packet event withdrawn
// inside a change bracket for the touchscreen, its threads ended, every
// handle it got closed, the packet event too) and removed, so that only
// running workers are in the list.
int StartWorker(LONG iMonitor, LONG iTouchscreen);

// Stops the worker of gpWorkers' current node and removes the node; the
// cursor moves as RemoveCurrent moves it. The packet event is withdrawn from
// the driver inside a change bracket for the worker's touchscreen, both
// threads are ended and waited for, and every handle the node holds is
// closed. Returns RemoveCurrent's result (0 without a current node, when
// nothing is done). Callers hold the list's lock across the cursor move that
// chose the node and this call.
int StopCurrentWorker();

// Stops every worker, from the first to the last; the list ends empty.
void StopAllWorkers();

// What ArmXyEvent returns: 0, or the step that failed.
inline constexpr int ARM_XY_OK = 0;
inline constexpr int ARM_XY_NO_EVENT = 1;          // the event cannot be created
inline constexpr int ARM_XY_RING0_REFUSED = 2;     // OpenVxDHandle refused it
inline constexpr int ARM_XY_DRIVER_REFUSED = 3;    // REQ_SET_XY_EVENT refused; the bracket is left open
inline constexpr int ARM_XY_NO_OPENVXDHANDLE = 4;  // KERNEL32 has no OpenVxDHandle

// Hands a new packet event for touchscreen iTouchscreen to the driver.
// *phXyEvent receives the event once it exists, *pdwXyEventR0 the ring-0
// handle once converted.
int ArmXyEvent(LONG iTouchscreen, HANDLE* phXyEvent, DWORD* pdwXyEventR0);

// What ArmQuickTouchEvent returns: 0, or the step that failed.
inline constexpr int ARM_QT_OK = 0;
inline constexpr int ARM_QT_NO_EVENT = 1;          // the event cannot be created
inline constexpr int ARM_QT_NO_THREAD = 2;         // the refresher cannot be created
inline constexpr int ARM_QT_NO_OPENVXDHANDLE = 3;  // KERNEL32 has no OpenVxDHandle
inline constexpr int ARM_QT_RING0_REFUSED = 4;     // OpenVxDHandle refused the event
inline constexpr int ARM_QT_DRIVER_REFUSED = 5;    // REQ_SET_QUICKTOUCH_EVENT refused; the bracket is left open

// Creates the node's quick-touch event, starts its refresher and hands the
// event to the driver inside a change bracket for touchscreen 0. Needs the
// node's hStopEvent.
int ArmQuickTouchEvent(WorkerNode* pNode);

// The wait of both worker threads: on the node's stop event and on the
// thread's own event, the stop event first so that it wins over a pending
// signal. True for the own event; false when the thread is to end: its stop
// event is set, or the wait failed (a wait that fails would fail again at
// once, so it is never retried).
bool WaitForWorkerEvent(HANDLE hStopEvent, HANDLE hEvent);

// The quick-touch refresher; its parameter is the node. At every signal of
// the node's quick-touch event it asks the driver for the touchscreen's
// thresholds and stores them in the node; a refused request leaves them.
// Returns 0 once the node's stop event is set (or its wait fails).
DWORD WINAPI QuickTouchThread(LPVOID pParam);
