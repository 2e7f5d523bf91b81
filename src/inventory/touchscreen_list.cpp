#include "inventory/touchscreen_list.h"

#include <cstring>
#include <new>

#include "driver/channel.h"
#include "platform/cursor_list.h"

TouchscreenList* gpTouchscreens = nullptr;
LONG gnUnassignedAtStart = 0;

namespace {

// Text fields of a record are NUL-terminated inside the field when the driver
// behaves. Our rule for copying them out: never read past the field, copy at
// most cbField - 1 characters and always terminate the copy, so a record
// without its terminator still gives a bounded, terminated string.
int CopyFieldText(LPSTR pszDest, const CHAR* pchField, size_t cbField) {
    size_t cch = 0;
    while (cch + 1 < cbField && pchField[cch] != '\0') ++cch;
    std::memcpy(pszDest, pchField, cch);
    pszDest[cch] = '\0';
    return static_cast<int>(cch);
}

}  // namespace

TouchscreenList::TouchscreenList(HANDLE hDriverIn)
    : hDriver(hDriverIn), nCount(0), nUnassigned(0), pCurrent(nullptr), pFirst(nullptr), pSaved(nullptr) {}

TouchscreenList::~TouchscreenList() {
    // From the last record backwards: each removal leaves the cursor on the
    // record before, until none is left.
    MoveLast();
    while (pCurrent != nullptr) RemoveCurrent();
}

LONG TouchscreenList::Enumerate() {
    nCount = 0;
    while (FetchNext() == 1) ++nCount;
    pCurrent = pFirst;
    return nCount;
}

int TouchscreenList::FetchNext() {
    // A record that cannot be allocated ends the enumeration just as a
    // refusal by the driver does, including the quit when it would have been
    // the list's first record.
    TouchscreenNode* pNode = new (std::nothrow) TouchscreenNode;
    if (pNode == nullptr) {
        if (!MoveLast()) PostQuitMessage(LIST_LOST_EXIT_CODE);
        return 0;
    }
    LinkAtTail(pFirst, pCurrent, pNode);

    TouchscreenRecord& rec = pNode->record;
    std::memset(&rec, 0, sizeof rec);
    rec.header.wTag1 = REQ_TAG;
    rec.header.wTag2 = REQ_TAG;
    rec.header.dwReserved = 0;
    rec.header.wTouchscreen = static_cast<WORD>(nCount & 0xFFFF);  // 0, 1, 2, ... in turn
    rec.iMonitor = REQ_ENUM_MONITOR;

    if (SendRequest(hDriver, REQ_GET_TOUCHSCREEN, &rec)) {
        // During enumeration "no monitor" is judged by the low 16 bits alone.
        if ((static_cast<DWORD>(rec.iMonitor) & 0xFFFF) == 0xFFFF) ++nUnassigned;
        return 1;
    }

    // Refused: the driver has no further touchscreen. The cursor goes back
    // to the last record; without one (not even a first record) the program
    // cannot go on.
    delete UnlinkCurrent(pFirst, pCurrent);
    if (pCurrent == nullptr) PostQuitMessage(LIST_LOST_EXIT_CODE);
    return 0;
}

int TouchscreenList::MoveFirst() { return CursorToFirst(pFirst, pCurrent); }

int TouchscreenList::MoveNext() { return CursorToNext(pCurrent); }

int TouchscreenList::MoveLast() { return CursorToLast(pFirst, pCurrent); }

void TouchscreenList::SaveCursor() { pSaved = pCurrent; }

void TouchscreenList::RestoreCursor() { pCurrent = pSaved; }

LONG TouchscreenList::GetCount() const { return nCount; }

LONG TouchscreenList::GetUnassignedCount() const { return nUnassigned; }

bool TouchscreenList::Contains(LONG iTouchscreen) const {
    for (const TouchscreenNode* pNode = pFirst; pNode != nullptr; pNode = pNode->pNext)
        if (static_cast<LONG>(pNode->record.header.wTouchscreen) == iTouchscreen) return true;
    return false;
}

LONG TouchscreenList::GetId() const {
    if (pCurrent == nullptr) return 0;
    return static_cast<LONG>(pCurrent->record.header.wTouchscreen);
}

LONG TouchscreenList::GetMonitor() const {
    if (pCurrent == nullptr) return -2;
    return pCurrent->record.iMonitor;
}

int TouchscreenList::GetRegistryPath(LPSTR pszPath) const {
    if (pCurrent == nullptr) return 0;
    return CopyFieldText(pszPath, pCurrent->record.szRegistryPath, sizeof pCurrent->record.szRegistryPath);
}

int TouchscreenList::GetSerialNumber(LPSTR pszSerial) const {
    if (pCurrent == nullptr) return 0;
    return CopyFieldText(pszSerial, pCurrent->record.szSerialNumber, sizeof pCurrent->record.szSerialNumber);
}

int TouchscreenList::SetMonitor(LONG iMonitor) {
    if (pCurrent == nullptr) return 0;
    pCurrent->record.iMonitor = iMonitor;
    return 1;
}

LONG TouchscreenList::FindByMonitor(LONG iMonitor) {
    TouchscreenNode* pWas = pCurrent;
    if (!MoveFirst()) return -1;
    for (LONG i = 0; i < nCount; ++i) {
        if (GetMonitor() == iMonitor) return GetId();  // the cursor stays on the match
        MoveNext();
    }
    pCurrent = pWas;
    return -1;
}

int TouchscreenList::AssignMonitor(LONG iMonitor, WORD wTouchscreen) {
    if (pFirst == nullptr) return 0;
    TouchscreenNode* pWas = pCurrent;
    int bFound = 0;
    for (pCurrent = pFirst; pCurrent != nullptr; pCurrent = pCurrent->pNext) {
        if (pCurrent->record.header.wTouchscreen != wTouchscreen) continue;
        SetMonitor(iMonitor);

        MonitorNumberRequest req;
        std::memset(&req, 0, sizeof req);
        req.header.wTag1 = REQ_TAG;
        req.header.wTag2 = REQ_TAG;
        req.header.dwReserved = 0;
        req.header.wTouchscreen = wTouchscreen;
        req.iMonitor = iMonitor;
        req.dwAssign = 1;
        // A refusal changes nothing here: the record keeps its new number.
        SendRequest(hDriver, REQ_SET_MONITOR_NUMBER, &req);
        bFound = 1;
        break;
    }
    pCurrent = pWas;
    return bFound;
}

void TouchscreenList::RemoveCurrent() {
    TouchscreenNode* pNode = UnlinkCurrent(pFirst, pCurrent);
    if (pNode == nullptr) return;
    if (pSaved == pNode) pSaved = nullptr;
    delete pNode;
}
