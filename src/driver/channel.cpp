#include "driver/channel.h"

#include <cstring>

#include "driver/protocol.h"
#include "driver/request_trace.h"

HANDLE ghDriver = 0;
CRITICAL_SECTION gcsDriver;

namespace {

// KERNEL32's OpenVxDHandle: Win32 event handle in, ring-0 handle out (0 on
// failure). It is never imported, so that the program also loads where it is
// missing; it is reached through GetProcAddress only.
typedef DWORD(WINAPI* OPENVXDHANDLE_PROC)(HANDLE hEvent);

}  // namespace

BOOL SendRequestUntraced(HANDLE hDevice, DWORD dwCode, void* pBuffer, DWORD cbBuffer) {
    DWORD cbReturned = 0;
    return DeviceIoControl(hDevice, dwCode, pBuffer, cbBuffer, pBuffer, cbBuffer, &cbReturned, nullptr);
}

BOOL SendRequest(HANDLE hDevice, DWORD dwCode, void* pBuffer, DWORD cbBuffer) {
    const BOOL bOk = SendRequestUntraced(hDevice, dwCode, pBuffer, cbBuffer);
    TraceRequest(dwCode, pBuffer, bOk);
    return bOk;
}

BOOL SendEventRequest(DWORD dwCode, WORD wTouchscreen, DWORD hEventR0) {
    EventRequest req;
    std::memset(&req, 0, sizeof req);
    req.header.wTag2 = REQ_TAG;
    req.header.wTouchscreen = wTouchscreen;
    req.hEventR0 = hEventR0;
    return SendRequest(dwCode, &req);
}

void OpenDriver() {
    if (ghDriver != 0) return;
    ghDriver = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL,
                           nullptr);
}

BOOL VxdChange(BOOL bEnd, WORD wTouchscreen) {
    RequestHeader req;
    std::memset(&req, 0, sizeof req);
    req.wTag2 = REQ_TAG;
    req.wTouchscreen = wTouchscreen;
    return SendRequest(bEnd ? REQ_END_CHANGE : REQ_BEGIN_CHANGE, &req);
}

BOOL ClearVxdEvent(WORD wTouchscreen, DWORD hEventR0) { return SendEventRequest(REQ_CLEAR_EVENT, wTouchscreen, hEventR0); }

int ToRing0Handle(HANDLE hEvent, DWORD* pdwEventR0) {
    *pdwEventR0 = 0;
    // Looked up at every hand-over; casting through void (*)() keeps the
    // compiler from comparing FARPROC's empty parameter list with ours.
    FARPROC pfn = GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle");
    if (pfn == nullptr) return TO_RING0_NOT_FOUND;
    OPENVXDHANDLE_PROC pfnOpenVxDHandle =
        reinterpret_cast<OPENVXDHANDLE_PROC>(reinterpret_cast<void (*)()>(pfn));
    DWORD hEventR0 = pfnOpenVxDHandle(hEvent);
    if (hEventR0 == 0) return TO_RING0_REFUSED;
    *pdwEventR0 = hEventR0;
    return TO_RING0_OK;
}
