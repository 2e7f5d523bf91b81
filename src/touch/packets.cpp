#include "touch/packets.h"

#include <cstring>

#include "driver/channel.h"
#include "settings/trace.h"
#include "touch/hold_input.h"
#include "touch/worker_node.h"

std::atomic<LONG> gbRightButton{0};
std::atomic<LONG> giLastX{0};
std::atomic<LONG> giLastY{0};

void MouseInput(DWORD dwFlags, DWORD dx, DWORD dy) {
    if (TraceOn())
        TraceLine("mouse", "flags=%lu dx=%ld dy=%ld", static_cast<unsigned long>(dwFlags), static_cast<long>(dx),
                  static_cast<long>(dy));
    mouse_event(dwFlags, dx, dy, 0, 0);
}

void MoveCursor(LONG x, LONG y) {
    if (TraceOn()) TraceLine("cursor", "x=%ld y=%ld", static_cast<long>(x), static_cast<long>(y));
    SetCursorPos(x, y);
}

namespace {

// The mode's button. Each action below reads the mode once, so its down and
// up (or the comparison and the press) always name the same button.
bool RightMode() { return gbRightButton.load() != 0; }

DWORD UpState(bool bRight) { return bRight ? BUTTON_RIGHT_UP : BUTTON_LEFT_UP; }
DWORD DownState(bool bRight) { return bRight ? BUTTON_RIGHT_DOWN : BUTTON_LEFT_DOWN; }

// A relative move of one unit right and one down; it follows every button-up.
void Nudge() { MouseInput(MOUSEEVENTF_MOVE, 1, 1); }

void ZeroMove() { MouseInput(MOUSEEVENTF_MOVE, 0, 0); }

// Down and up with a move each, then a nudge.
void Click(bool bRight) {
    MouseInput(DownState(bRight), 0, 0);
    MouseInput(UpState(bRight), 0, 0);
    Nudge();
}

void Press(bool bRight) { MouseInput(bRight ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN, 0, 0); }

void Release(bool bRight) {
    MouseInput(bRight ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP, 0, 0);
    Nudge();
}

// The button that the remembered state holds down, if any.
bool IsDown(DWORD dwButtonState) { return dwButtonState == BUTTON_LEFT_DOWN || dwButtonState == BUTTON_RIGHT_DOWN; }
bool HeldIsRight(DWORD dwButtonState) { return dwButtonState == BUTTON_RIGHT_DOWN; }

// |a - b| > limit, in 64 bits so that no pair of coordinates overflows.
bool Beyond(LONG a, LONG b, LONG limit) {
    long long d = static_cast<long long>(a) - static_cast<long long>(b);
    if (d < 0) d = -d;
    return d > static_cast<long long>(limit);
}

// A quick-touch report far from the previous one with PKT_FARTOUCH: a click
// at the previous quick-touch point, then the button held down at the new
// one. The mode is read at each of the two actions.
void FarTouch(const TouchPacket& packet, DWORD* pdwButtonState) {
    // A button held down since before a mode switch is released first, so
    // that the sequence's new press does not leave it down.
    if (IsDown(*pdwButtonState) && HeldIsRight(*pdwButtonState) != RightMode()) {
        Release(HeldIsRight(*pdwButtonState));
        *pdwButtonState = UpState(HeldIsRight(*pdwButtonState));
    }
    MoveCursor(giLastX.load(), giLastY.load());
    Click(RightMode());
    MoveCursor(packet.iX, packet.iY);
    *pdwButtonState = DownState(RightMode());
    MouseInput(*pdwButtonState, 0, 0);
    Nudge();
}

}  // namespace

void TranslatePacket(const TouchPacket* pPacket, DWORD* pdwButtonState) {
    MoveCursor(pPacket->iX, pPacket->iY);
    const DWORD dwKind = pPacket->dwFlags & PKT_KIND;
    const bool bRelease = (pPacket->dwFlags & PKT_RELEASE) != 0;
    const bool bRight = RightMode();

    if (dwKind == 0) {
        Click(bRight);
    } else if (dwKind == 1) {
        ZeroMove();
        if (bRelease) Click(bRight);
    } else if (bRelease) {
        // A button that is down is released with the button that went down,
        // also when the mode was switched since; the new mode applies from
        // the next press.
        Release(IsDown(*pdwButtonState) ? HeldIsRight(*pdwButtonState) : bRight);
        *pdwButtonState = UpState(bRight);
    } else if (*pdwButtonState == UpState(bRight)) {
        Press(bRight);
        *pdwButtonState = DownState(bRight);
    } else {
        ZeroMove();
    }
}

DWORD WINAPI TouchPacketThread(LPVOID pParam) {
    WorkerNode* const pNode = static_cast<WorkerNode*>(pParam);
    const LONG iTouchscreen = pNode->iTouchscreen;
    const HANDLE hXyEvent = pNode->hXyEvent;
    const HANDLE hStopEvent = pNode->hStopEvent;
    DWORD dwButtonState = RightMode() ? BUTTON_RIGHT_UP : BUTTON_LEFT_UP;
    bool bPending = false;  // a kind-0 quick-touch release waits for its click

    TouchPacket packet;
    std::memset(&packet, 0, sizeof packet);

    HoldState hold;  // press-and-hold of this worker's touch (touch/hold_input.h)
    while (WaitForPacketOrHold(hStopEvent, hXyEvent, &hold)) {
        // One packet per wake-up; the driver signals again while more wait.
        EnterCriticalSection(&gcsDriver);
        packet.header.wTag2 = REQ_TAG;
        packet.header.wTouchscreen = static_cast<WORD>(iTouchscreen);
        DWORD cbReturned = 0;
        const BOOL bRead =
            DeviceIoControl(ghDriver, REQ_GET_TOUCH, &packet, sizeof packet, &packet, sizeof packet, &cbReturned, nullptr);
        LeaveCriticalSection(&gcsDriver);
        TraceRequest(REQ_GET_TOUCH, &packet, bRead);
        if (!bRead) continue;  // the packet is lost

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
            if (bFar && bFarTouch) FarTouch(packet, &dwButtonState);
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

void ReleaseHeldButton(DWORD dwButtonState) {
    if (IsDown(dwButtonState)) Release(HeldIsRight(dwButtonState));
}
