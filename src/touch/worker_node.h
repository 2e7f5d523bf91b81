// One touchscreen worker's state, shared by its two threads (the packet
// worker of touch/packets.h and the quick-touch refresher of touch/workers.h)
// and kept in the worker list.
#pragma once

#include <atomic>

#include "platform/win32.h"

// One started worker. A node is created by WorkerList::AddTail with every
// field zero except the thresholds (200 and 200); StartWorker gives it its
// touchscreen identifier at once and fills the rest as it goes; a start that
// fails stops and removes its node at once, so every node in the list is a
// running worker.
struct WorkerNode {
    LONG iMonitor;           // monitor number of the worker's touchscreen
    LONG iTouchscreen;       // the driver's identifier; requests carry its low 16 bits
    HANDLE hXyEvent;         // packet event "RykXyEvent" + identifier
    HANDLE hXyThread;        // TouchPacketThread
    DWORD hXyEventR0;        // the packet event's ring-0 handle, as handed to the driver
    DWORD dwXyThreadId;      // TouchPacketThread's identifier
    // Distance thresholds in screen pixels for quick-touch reports. Written by
    // the refresher, read by the packet worker at every report; each is one
    // 32-bit atomic, so a report may see a new X threshold with the old Y one.
    std::atomic<LONG> iQuickTouchDx;
    std::atomic<LONG> iQuickTouchDy;
    HANDLE hQuickTouchEvent;   // quick-touch event "RykUpdateQuickTouchEvent" + identifier
    HANDLE hQuickTouchThread;  // QuickTouchThread
    WorkerNode* pPrev;         // appended just before this one; none for the first
    WorkerNode* pNext;         // appended just after this one; none for the last
    // Manual-reset, unnamed: set when the worker is stopped. Both threads
    // wait on it together with their own event and end when it is set.
    HANDLE hStopEvent;
};
