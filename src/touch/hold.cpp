#include "touch/hold.h"

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Milliseconds since the press began; unsigned, so a wrap of the counter in
// between still gives the right difference.
uint32_t Elapsed(const HoldState& state, uint32_t dwNow) { return dwNow - state.dwStart; }

bool TimeIsUp(const HoldState& state, uint32_t dwNow) { return Elapsed(state, dwNow) >= state.dwTimeMs; }

// The right click is sent at dwNow: the touch's reports are dropped from
// here on, and the right click at its starting point is its last sign.
void BeginDropping(HoldState* pState, uint32_t dwNow) {
    pState->phase = HOLD_DROPPING;
    pState->iLastX = pState->iStartX;
    pState->iLastY = pState->iStartY;
    pState->dwLast = dwNow;
}

// The touch was right-clicked: its reports are dropped up to and including
// its release; reports of kinds 0 and 1 are not part of it and pass.
HoldAction Dropping(HoldState* pState, const HoldReport& report, uint32_t dwNow) {
    if (!report.bPressKind) return HOLD_PASS;
    pState->iLastX = report.iX;
    pState->iLastY = report.iY;
    pState->dwLast = dwNow;
    if (report.bRelease) pState->phase = HOLD_IDLE;
    return HOLD_DROP;
}

// A press-kind report that cannot be part of the right-clicked touch, whose
// release was lost:
// - a press (no release) after the touch was silent for the hold time: a
//   finger still down goes on reporting long before that; a release after
//   such a silence is taken as the touch's own;
// - a report beyond the radius both from where the touch began (a finger
//   held still stays inside that circle) and from its last report (a finger
//   that slides on after its right click is followed).
bool NotOfTheDroppedTouch(const HoldState& state, const HoldReport& report, uint32_t dwNow) {
    if (!report.bRelease && dwNow - state.dwLast >= state.dwTimeMs) return true;
    return HoldBeyondRadius(state.iStartX, state.iStartY, report.iX, report.iY, state.dwRadius) &&
           HoldBeyondRadius(state.iLastX, state.iLastY, report.iX, report.iY, state.dwRadius);
}

// Nothing waits: a report that would press the left button makes the press
// wait, with the settings of this moment.
HoldAction BeginIfPress(HoldState* pState, const HoldReport& report, uint32_t dwNow, uint32_t dwTimeMs,
                        uint32_t dwRadius) {
    if (dwTimeMs == 0 || !report.bPressKind || report.bRelease || !report.bCanHold) return HOLD_PASS;
    pState->phase = HOLD_PENDING;
    pState->iStartX = report.iX;
    pState->iStartY = report.iY;
    pState->dwStart = dwNow;
    pState->dwTimeMs = dwTimeMs;
    pState->dwRadius = dwRadius;
    return HOLD_DEFER;
}

}  // namespace

bool HoldBeyondRadius(int32_t iX0, int32_t iY0, int32_t iX, int32_t iY, uint32_t dwRadius) {
    // A radius beyond 2^31 - 1 pixels is as good as endless; capping it keeps
    // both squares below 2^62 and their sum inside 64 bits.
    const unsigned long long r = dwRadius > 0x7FFFFFFFu ? 0x7FFFFFFFu : dwRadius;
    long long dx = static_cast<long long>(iX) - iX0;
    long long dy = static_cast<long long>(iY) - iY0;
    if (dx < 0) dx = -dx;
    if (dy < 0) dy = -dy;
    const auto ux = static_cast<unsigned long long>(dx);
    const auto uy = static_cast<unsigned long long>(dy);
    if (ux > r || uy > r) return true;
    return ux * ux + uy * uy > r * r;
}

HoldAction HoldOnReport(HoldState* pState, const HoldReport& report, uint32_t dwNow, uint32_t dwTimeMs,
                        uint32_t dwRadius) {
    switch (pState->phase) {
    case HOLD_IDLE: return BeginIfPress(pState, report, dwNow, dwTimeMs, dwRadius);

    case HOLD_PENDING:
        // Switched off, or right-button mode switched on, since the press
        // began: it goes down now, whatever the time.
        if (!report.bCanHold) {
            pState->phase = HOLD_IDLE;
            return HOLD_PRESS_THEN_PASS;
        }
        // The time ran out before this report was read: the hold is complete
        // and this report is the first one to drop.
        if (TimeIsUp(*pState, dwNow)) {
            BeginDropping(pState, dwNow);
            Dropping(pState, report, dwNow);
            return HOLD_RIGHT_CLICK;
        }
        if (report.bPressKind && !report.bRelease &&
            !HoldBeyondRadius(pState->iStartX, pState->iStartY, report.iX, report.iY, pState->dwRadius))
            return HOLD_DEFER;
        // Moved away, released, or another kind: the press that waited goes
        // down now.
        pState->phase = HOLD_IDLE;
        return HOLD_PRESS_THEN_PASS;

    case HOLD_DROPPING:
        if (report.bPressKind && NotOfTheDroppedTouch(*pState, report, dwNow)) {
            // The right-clicked touch has ended unseen: this report begins
            // the next one.
            pState->phase = HOLD_IDLE;
            return BeginIfPress(pState, report, dwNow, dwTimeMs, dwRadius);
        }
        return Dropping(pState, report, dwNow);
    }
    return HOLD_PASS;
}

HoldAction HoldOnTimeout(HoldState* pState, uint32_t dwNow, bool bCanHold) {
    if (pState->phase != HOLD_PENDING) return HOLD_PASS;
    // Switched off, or right-button mode switched on, while the press
    // waited: never a right click.
    if (!bCanHold) {
        pState->phase = HOLD_IDLE;
        return HOLD_PRESS_THEN_PASS;
    }
    if (!TimeIsUp(*pState, dwNow)) return HOLD_DEFER;
    BeginDropping(pState, dwNow);
    return HOLD_RIGHT_CLICK;
}

HoldAction HoldOnOtherReport(HoldState* pState) {
    if (pState->phase != HOLD_PENDING) return HOLD_PASS;
    pState->phase = HOLD_IDLE;
    return HOLD_PRESS_THEN_PASS;
}

uint32_t HoldWaitMs(const HoldState& state, uint32_t dwNow) {
    if (state.phase != HOLD_PENDING) return kInfinite;
    const uint32_t dwElapsed = Elapsed(state, dwNow);
    return dwElapsed >= state.dwTimeMs ? 0 : state.dwTimeMs - dwElapsed;
}
