// The driver's touchscreens, one TouchscreenRecord each, in the order in which
// the driver returned them, with one cursor that every user of the list
// shares. There is one current list (gpTouchscreens); it is replaced
// wholesale, never re-enumerated. Used by the main thread only.
#pragma once

#include "driver/protocol.h"
#include "platform/win32.h"

// One touchscreen. The record is kept exactly as exchanged with
// REQ_GET_TOUCHSCREEN: the request is issued on this storage itself.
struct TouchscreenNode {
    TouchscreenRecord record;
    TouchscreenNode* pPrev;  // fetched just before this one; none for the first
    TouchscreenNode* pNext;  // fetched just after this one; none for the last
};

class TouchscreenList {
public:
    // An empty list whose requests go to hDriver (always ghDriver).
    explicit TouchscreenList(HANDLE hDriver);
    // Frees every record.
    ~TouchscreenList();
    TouchscreenList(const TouchscreenList&) = delete;
    TouchscreenList& operator=(const TouchscreenList&) = delete;

    // Fetches records until the driver refuses one; returns the count and
    // leaves the cursor on the first record. Called once, on a new list.
    LONG Enumerate();
    // One REQ_GET_TOUCHSCREEN for the next record: 1 when a record was
    // appended (the cursor on it), 0 when the driver refused. A refused first
    // request of the list also posts the quit message with code 2.
    int FetchNext();

    int MoveFirst();  // 1 if the list has a record
    int MoveNext();   // 1 if it moved; 0 at the end or without a current record
    int MoveLast();   // 1 if the list has a record
    void SaveCursor();
    void RestoreCursor();

    LONG GetCount() const;
    LONG GetUnassignedCount() const;
    // True when a record carries this identifier: the driver reported the
    // touchscreen when the list was built. The cursor stays where it is.
    bool Contains(LONG iTouchscreen) const;
    // True when the cursor stands on a record.
    bool HasCurrent() const { return pCurrent != nullptr; }

    // Accessors of the current record; without one they return 0, -2 and 0
    // and touch nothing.
    LONG GetId() const;       // identifier, zero-extended
    LONG GetMonitor() const;  // monitor number, -1 for none
    // Copy the text with its NUL into pszPath (at least 256 bytes) or
    // pszSerial (at least 18 bytes) and return its length.
    int GetRegistryPath(LPSTR pszPath) const;
    int GetSerialNumber(LPSTR pszSerial) const;

    // Stores a monitor number in the current record only; 1, or 0 without a
    // current record.
    int SetMonitor(LONG iMonitor);
    // Identifier of the first touchscreen on that monitor, with the cursor on
    // it; -1 with the cursor put back when there is none.
    LONG FindByMonitor(LONG iMonitor);
    // Gives the touchscreen wTouchscreen the monitor, here and in the driver
    // (REQ_SET_MONITOR_NUMBER, result not examined). 1 when the touchscreen
    // exists, else 0. The cursor is put back in any case.
    int AssignMonitor(LONG iMonitor, WORD wTouchscreen);

protected:
    // Unlinks and frees the current record; the cursor goes to the one
    // before it, or to the one after it when there is none.
    void RemoveCurrent();

    HANDLE hDriver;
    LONG nCount;       // records appended by Enumerate
    LONG nUnassigned;  // records the driver returned without a monitor
    TouchscreenNode* pCurrent;
    TouchscreenNode* pFirst;
    TouchscreenNode* pSaved;
};

// The exit code the program ends with when a list cannot hold even its first
// record (the program's "no touchscreen" code, 2).
inline constexpr int LIST_LOST_EXIT_CODE = 2;

// The current touchscreen list, made at start-up; replaced wholesale on a
// rebuild.
extern TouchscreenList* gpTouchscreens;
// Touchscreens the driver reported without a monitor at start-up.
extern LONG gnUnassignedAtStart;
