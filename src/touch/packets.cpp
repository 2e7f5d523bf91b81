#include "touch/packets.h"

#include <cstring>

#include "driver/channel.h"
#include "driver/request_trace.h"
#include "touch/hold_input.h"
#include "touch/touch_report.h"
#include "touch/worker_node.h"

namespace {

// |a - b| > limit, in 64 bits so that no pair of coordinates overflows.
bool Beyond(LONG a, LONG b, LONG limit) {
    long long d = static_cast<long long>(a) - static_cast<long long>(b);
    if (d < 0) d = -d;
    return d > static_cast<long long>(limit);
}

}  // namespace

DWORD WINAPI TouchPacketThread(LPVOID pParam) {
    WorkerNode* const pNode = static_cast<WorkerNode*>(pParam);
    const LONG iTouchscreen = pNode->iTouchscreen;
    const HANDLE hXyEvent = pNode->hXyEvent;
    const HANDLE hStopEvent = pNode->hStopEvent;
    DWORD dwButtonState = gbRightButton.load() != 0 ? BUTTON_RIGHT_UP : BUTTON_LEFT_UP;
    bool bPending = false;  // a kind-0 quick-touch release waits for its click

    TouchPacket packet;
    std::memset(&packet, 0, sizeof packet);

    HoldState hold;  // press-and-hold of this worker's touch (touch/hold_input.h)
    TouchSwallow swallow;  // a touch that answers "RykXyLdrReportTouch" (touch/touch_report.h)
    while (WaitForPacketOrHold(hStopEvent, hXyEvent, &dwButtonState, &hold)) {
        // One packet per wake-up; the driver signals again while more wait.
        EnterCriticalSection(&gcsDriver);
        packet.header.wTag2 = REQ_TAG;
        packet.header.wTouchscreen = static_cast<WORD>(iTouchscreen);
        const BOOL bRead = SendRequestUntraced(ghDriver, REQ_GET_TOUCH, &packet, sizeof packet);
        LeaveCriticalSection(&gcsDriver);
        TraceRequest(REQ_GET_TOUCH, &packet, bRead);
        if (!bRead) continue;  // the packet is lost
        // A touch that another program asked about makes no mouse input.
        if (SwallowReport(&swallow, iTouchscreen, packet.dwFlags)) continue;

        if ((packet.dwFlags & PKT_QUICKTOUCH) == 0) {
            TranslateHeldPacket(&packet, &dwButtonState, &hold);
            continue;
        }
        HoldBeforeOtherReport(&dwButtonState, &hold);

        // A quick-touch report: its code is the kind byte without the
        // quick-touch bit, and TranslatePacket sees that code as the kind.
        const DWORD dwCode = (packet.dwFlags & PKT_KIND) - PKT_QUICKTOUCH;
        packet.dwFlags &= ~PKT_QUICKTOUCH;
        const bool bRelease = (packet.dwFlags & PKT_RELEASE) != 0;
        const bool bFarTouch = (packet.dwFlags & PKT_FARTOUCH) != 0;
        // Far from the last quick-touch report of any touchscreen: beyond
        // the X threshold, or else beyond the Y threshold.
        const bool bFar = Beyond(packet.iX, giLastX.load(), pNode->iQuickTouchDx.load()) ||
                          Beyond(packet.iY, giLastY.load(), pNode->iQuickTouchDy.load());

        switch (dwCode) {
        case 0:
            if (bFar && bFarTouch) {
                TranslatePacket(&packet, &dwButtonState);
            } else if (bRelease) {
                bPending = true;
            } else if (bPending) {
                TranslatePacket(&packet, &dwButtonState);
                bPending = false;
            }
            break;
        case 1:
        case 5:
        case 6:
            if (bFar && bFarTouch) TranslateFarTouch(&packet, &dwButtonState);
            else TranslatePacket(&packet, &dwButtonState);
            break;
        default:  // no mouse input for the other codes
            break;
        }

        giLastX.store(packet.iX);
        giLastY.store(packet.iY);
    }
    // The worker is being stopped: a button it holds down is released, so
    // that nothing stays pressed in the whole system.
    ReleaseHeldButton(dwButtonState);
    return 0;
}
