#include "touch/hold_input.h"

#include "settings/program_settings.h"
#include "settings/trace.h"
#include "touch/translate.h"

namespace {

const char* ActionName(HoldAction action) {
    switch (action) {
    case HOLD_PASS: return "pass";
    case HOLD_DEFER: return "wait";
    case HOLD_PRESS_THEN_PASS: return "press";
    case HOLD_RIGHT_CLICK: return "right-click";
    case HOLD_DROP: return "drop";
    }
    return "?";
}

// The press that waited: the left button down at the starting point, as
// TranslatePacket would have pressed it there.
void PressAtStart(const HoldState& hold, DWORD* pdwButtonState) {
    MoveCursor(hold.iStartX, hold.iStartY);
    MouseInput(MOUSEEVENTF_LEFTDOWN, 0, 0);
    *pdwButtonState = BUTTON_LEFT_DOWN;
}

// A right click at the starting point. The worker's button stays as it
// was: up.
void RightClickAtStart(const HoldState& hold) {
    MoveCursor(hold.iStartX, hold.iStartY);
    MouseClick(true);
}

// A waiting press may still become a right click: the hold is on and the
// mode is left-button. (The worker's button is up while a press waits.)
bool HoldStillOn() { return gdwHoldTimeMs.load() != 0 && gbRightButton.load() == 0; }

}  // namespace

bool WaitForPacketOrHold(HANDLE hStopEvent, HANDLE hXyEvent, DWORD* pdwButtonState, HoldState* pHold) {
    const HANDLE ahWait[2] = {hStopEvent, hXyEvent};
    for (;;) {
        // INFINITE unless a press waits: an idle worker never wakes.
        const DWORD dwWaitMs = pHold->phase == HOLD_PENDING ? HoldWaitMs(*pHold, GetTickCount()) : INFINITE;
        const DWORD dwResult = WaitForMultipleObjects(2, ahWait, FALSE, dwWaitMs);
        if (dwResult == WAIT_OBJECT_0 + 1) return true;
        if (dwResult != WAIT_TIMEOUT) {
            if (pHold->phase == HOLD_PENDING && TraceOn())
                TraceLine("hold", "action=dropped x=%ld y=%ld: the worker stops", static_cast<long>(pHold->iStartX),
                          static_cast<long>(pHold->iStartY));
            return false;
        }
        switch (HoldOnTimeout(pHold, GetTickCount(), HoldStillOn())) {
        case HOLD_RIGHT_CLICK:
            if (TraceOn())
                TraceLine("hold", "action=right-click x=%ld y=%ld time_ms=%lu", static_cast<long>(pHold->iStartX),
                          static_cast<long>(pHold->iStartY), static_cast<unsigned long>(pHold->dwTimeMs));
            RightClickAtStart(*pHold);
            break;
        case HOLD_PRESS_THEN_PASS:
            if (TraceOn())
                TraceLine("hold", "action=press start_x=%ld start_y=%ld: switched off or right-button mode",
                          static_cast<long>(pHold->iStartX), static_cast<long>(pHold->iStartY));
            PressAtStart(*pHold, pdwButtonState);
            break;
        default: break;
        }
    }
}

void TranslateHeldPacket(const TouchPacket* pPacket, DWORD* pdwButtonState, HoldState* pHold) {
    const DWORD dwTimeMs = gdwHoldTimeMs.load();
    // Off and nothing left of a touch from before: the ordinary path, with
    // no clock read.
    if (dwTimeMs == 0 && pHold->phase == HOLD_IDLE) {
        TranslatePacket(pPacket, pdwButtonState);
        return;
    }
    const DWORD dwKind = pPacket->dwFlags & PKT_KIND;
    HoldReport report;
    report.bPressKind = dwKind != 0 && dwKind != 1;
    report.bRelease = (pPacket->dwFlags & PKT_RELEASE) != 0;
    report.bCanHold = dwTimeMs != 0 && gbRightButton.load() == 0 && *pdwButtonState == BUTTON_LEFT_UP;
    report.iX = pPacket->iX;
    report.iY = pPacket->iY;
    const HoldPhase before = pHold->phase;
    const HoldAction action = HoldOnReport(pHold, report, GetTickCount(), dwTimeMs, gdwHoldRadius.load());
    if (TraceOn()) {
        // A right-clicked touch whose release was lost: this report is not
        // part of it, and the dropping ends.
        if (before == HOLD_DROPPING && action != HOLD_DROP && report.bPressKind)
            TraceLine("hold", "action=drop-ended x=%ld y=%ld: not part of the right-clicked touch",
                      static_cast<long>(pPacket->iX), static_cast<long>(pPacket->iY));
        if (action != HOLD_PASS)
            TraceLine("hold", "action=%s x=%ld y=%ld start_x=%ld start_y=%ld", ActionName(action),
                      static_cast<long>(pPacket->iX), static_cast<long>(pPacket->iY),
                      static_cast<long>(pHold->iStartX), static_cast<long>(pHold->iStartY));
    }

    switch (action) {
    case HOLD_PASS: TranslatePacket(pPacket, pdwButtonState); break;
    case HOLD_DEFER:
        // The cursor follows the finger to where the touch began; the
        // reports inside the radius after it make no input.
        if (before != HOLD_PENDING) MoveCursor(pPacket->iX, pPacket->iY);
        break;
    case HOLD_PRESS_THEN_PASS:
        PressAtStart(*pHold, pdwButtonState);
        TranslatePacket(pPacket, pdwButtonState);
        break;
    case HOLD_RIGHT_CLICK: RightClickAtStart(*pHold); break;
    case HOLD_DROP: break;
    }
}

void HoldBeforeOtherReport(DWORD* pdwButtonState, HoldState* pHold) {
    if (HoldOnOtherReport(pHold) != HOLD_PRESS_THEN_PASS) return;
    if (TraceOn())
        TraceLine("hold", "action=press start_x=%ld start_y=%ld: a quick-touch report", static_cast<long>(pHold->iStartX),
                  static_cast<long>(pHold->iStartY));
    PressAtStart(*pHold, pdwButtonState);
}
