// The channel to the Orvane driver: the one device handle of the process and
// the small operations that several subsystems share. Every request is a
// synchronous DeviceIoControl with one buffer as input and output, sized
// exactly as its layout in driver/protocol.h.
#pragma once

#include "platform/win32.h"

// The driver device "\\.\Orvane.vxd". 0 until OpenDriver has run;
// INVALID_HANDLE_VALUE when the open failed.
extern HANDLE ghDriver;
// Held by every packet worker around its packet read.
extern CRITICAL_SECTION gcsDriver;

// Opens the device once per process and leaves the outcome in ghDriver. A
// second call does nothing, also after a failed open (INVALID_HANDLE_VALUE is
// not 0, so the open is not retried).
void OpenDriver();

// Sends one request to hDevice: its buffer is both input and output, of
// exactly the size of its layout (driver/protocol.h); the byte count the
// driver reports is not used. The live trace records the request with its
// result. Returns what DeviceIoControl returned.
BOOL SendRequest(HANDLE hDevice, DWORD dwCode, void* pBuffer, DWORD cbBuffer);
// The same without the trace, for the packet read under gcsDriver: the
// caller traces it (TraceRequest) once the lock is left.
BOOL SendRequestUntraced(HANDLE hDevice, DWORD dwCode, void* pBuffer, DWORD cbBuffer);

// A request of layout Request to ghDriver (or hDevice), sized by its type.
template <typename Request>
BOOL SendRequest(DWORD dwCode, Request* pRequest) {
    return SendRequest(ghDriver, dwCode, pRequest, sizeof *pRequest);
}
template <typename Request>
BOOL SendRequest(HANDLE hDevice, DWORD dwCode, Request* pRequest) {
    return SendRequest(hDevice, dwCode, pRequest, sizeof *pRequest);
}

// Hands an event to the driver or withdraws it: one request of the
// EventRequest layout (REQ_SET_XY_EVENT, REQ_SET_QUICKTOUCH_EVENT,
// REQ_SET_ADDMON_EVENT, REQ_SET_REMOVE_EVENT, REQ_CLEAR_EVENT) for
// wTouchscreen with hEventR0, without a change bracket of its own. Returns
// what DeviceIoControl returned.
BOOL SendEventRequest(DWORD dwCode, WORD wTouchscreen, DWORD hEventR0);

// REQ_BEGIN_CHANGE when bEnd is 0, REQ_END_CHANGE otherwise, for the given
// touchscreen identifier. Returns what DeviceIoControl returned.
BOOL VxdChange(BOOL bEnd, WORD wTouchscreen);

// REQ_CLEAR_EVENT: tells the driver to stop using an event. A worker's stop
// sends (identifier, 0); the teardown of a program-wide event sends
// (0, its ring-0 handle). Sent without a change bracket of its own. Returns
// what DeviceIoControl returned.
BOOL ClearVxdEvent(WORD wTouchscreen, DWORD hEventR0);

// Outcomes of ToRing0Handle. The callers map the two failures onto step
// codes of their own.
inline constexpr int TO_RING0_OK = 0;
inline constexpr int TO_RING0_NOT_FOUND = 1;  // KERNEL32 does not export OpenVxDHandle
inline constexpr int TO_RING0_REFUSED = 2;    // OpenVxDHandle returned 0

// Converts a Win32 event handle into the ring-0 handle that the driver sets.
// OpenVxDHandle is looked up in KERNEL32 anew at every call; it exists on
// Windows 95 and 98 only. On TO_RING0_OK *pdwEventR0 holds the ring-0 handle;
// otherwise it is 0.
int ToRing0Handle(HANDLE hEvent, DWORD* pdwEventR0);
