#include "driver/request_trace.h"

#include "driver/protocol.h"

namespace {

// Bounded, terminated copy of a text field that may lack its terminator,
// with double quotes and control characters replaced, so that the line
// stays one line and its fields stay apart.
template <size_t N>
void QuoteField(char (&szOut)[N], const CHAR* pField, size_t cbField) {
    size_t i = 0;
    for (; i < cbField && i + 1 < N && pField[i] != '\0'; ++i) {
        const char c = pField[i];
        szOut[i] = (c == '"' || static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    }
    szOut[i] = '\0';
}

}  // namespace

void TraceRequestLine(DWORD dwCode, const void* pBuffer, BOOL bOk) {
    const char* pszName = RequestName(dwCode);
    if (pszName == nullptr) pszName = "unknown";
    const auto* pHeader = static_cast<const RequestHeader*>(pBuffer);
    const unsigned long dwThread = GetCurrentThreadId();
    const int ok = bOk ? 1 : 0;
    const unsigned wTs = pHeader->wTouchscreen;

    switch (dwCode) {
    case REQ_SET_XY_EVENT:
    case REQ_CLEAR_EVENT:
    case REQ_SET_ADDMON_EVENT:
    case REQ_SET_REMOVE_EVENT:
    case REQ_SET_QUICKTOUCH_EVENT: {
        const auto* p = static_cast<const EventRequest*>(pBuffer);
        TraceLine("ioctl", "code=%s thread=%lu ok=%d wTouchscreen=%u hEventR0=%lu", pszName, dwThread, ok, wTs,
                  static_cast<unsigned long>(p->hEventR0));
        break;
    }
    case REQ_GET_TOUCH: {
        const auto* p = static_cast<const TouchPacket*>(pBuffer);
        TraceLine("ioctl", "code=%s thread=%lu ok=%d wTouchscreen=%u iX=%ld iY=%ld dwFlags=%lu", pszName, dwThread, ok,
                  wTs, static_cast<long>(p->iX), static_cast<long>(p->iY), static_cast<unsigned long>(p->dwFlags));
        break;
    }
    case REQ_SET_MONITOR_RECT: {
        const auto* p = static_cast<const MonitorRectRequest*>(pBuffer);
        TraceLine("ioctl", "code=%s thread=%lu ok=%d wTouchscreen=%u iMonitor=%ld iTop=%ld iLeft=%ld iBottom=%ld iRight=%ld",
                  pszName, dwThread, ok, wTs, static_cast<long>(p->iMonitor), static_cast<long>(p->iTop),
                  static_cast<long>(p->iLeft), static_cast<long>(p->iBottom), static_cast<long>(p->iRight));
        break;
    }
    case REQ_GET_TOUCHSCREEN: {
        const auto* p = static_cast<const TouchscreenRecord*>(pBuffer);
        char szSerial[sizeof p->szSerialNumber + 1];
        QuoteField(szSerial, p->szSerialNumber, sizeof p->szSerialNumber);
        if (bOk)
            TraceLine("ioctl", "code=%s thread=%lu ok=1 wTouchscreen=%u iMonitor=%ld SerialNumber=\"%s\"", pszName,
                      dwThread, wTs, static_cast<long>(p->iMonitor), szSerial);
        else
            TraceLine("ioctl", "code=%s thread=%lu ok=0 wTouchscreen=%u", pszName, dwThread, wTs);
        break;
    }
    case REQ_SET_MONITOR_NUMBER: {
        const auto* p = static_cast<const MonitorNumberRequest*>(pBuffer);
        TraceLine("ioctl", "code=%s thread=%lu ok=%d wTouchscreen=%u iMonitor=%ld dwAssign=%lu", pszName, dwThread, ok,
                  wTs, static_cast<long>(p->iMonitor), static_cast<unsigned long>(p->dwAssign));
        break;
    }
    case REQ_GET_ALIGNMENT: {
        const auto* p = static_cast<const AlignmentRequest*>(pBuffer);
        TraceLine("ioctl",
                  "code=%s thread=%lu ok=%d wTouchscreen=%u OffsetX=%ld ScrDx=%ld Dx=%ld OffsetY=%ld ScrDy=%ld Dy=%ld "
                  "SwapXY=%ld",
                  pszName, dwThread, ok, wTs, static_cast<long>(p->OffsetX), static_cast<long>(p->ScrDx),
                  static_cast<long>(p->Dx), static_cast<long>(p->OffsetY), static_cast<long>(p->ScrDy),
                  static_cast<long>(p->Dy), static_cast<long>(p->SwapXY));
        break;
    }
    case REQ_GET_QUICKTOUCH: {
        const auto* p = static_cast<const QuickTouchRequest*>(pBuffer);
        TraceLine("ioctl", "code=%s thread=%lu ok=%d wTouchscreen=%u iQuickTouchDx=%ld iQuickTouchDy=%ld", pszName,
                  dwThread, ok, wTs, static_cast<long>(p->iQuickTouchDx), static_cast<long>(p->iQuickTouchDy));
        break;
    }
    default:  // REQ_BEGIN_CHANGE, REQ_END_CHANGE and anything unknown: the header alone
        TraceLine("ioctl", "code=%s thread=%lu ok=%d wTouchscreen=%u", pszName, dwThread, ok, wTs);
        break;
    }
}
