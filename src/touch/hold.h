// Press-and-hold right click: what one packet worker decides for the reports
// of one touch when "HoldTimeMs" is not 0.
//
// In left-button mode a report that would press the left button (a kind other
// than 0 and 1, no release, the button up) does not press it at once: the
// press waits. If the touch stays within the radius of where it began until
// the time is up, the touch becomes a right click at its starting point and
// its later reports are dropped up to and including its release. If it moves
// beyond the radius first, or another kind of report comes, the left button
// goes down at the starting point and the report is handled as always. A
// release that comes first is the ordinary left click: the press at the
// starting point, then the release.
//
// A press that waits while the hold is switched off or right-button mode is
// switched on never becomes a right click: the left button goes down at its
// starting point at the next report or, at the latest, when its time runs
// out, whichever comes first.
//
// The dropping of a right-clicked touch also ends at a report that cannot be
// part of it, for when its release was lost (a refused read): a press-kind
// report that comes after the touch was silent for the hold time, or one that
// lies beyond the radius both from where the touch began and from its last
// report. That report is then taken as the start of a new touch.
//
// This is a plain state machine: no Win32 call, no clock of its own. The
// worker gives it each report and the time (GetTickCount's milliseconds; a
// wrap of the counter is harmless), asks it how long to wait, and tells it
// when that wait ran out. One HoldState belongs to one worker thread.
#pragma once

#include <cstdint>

// What the worker does with a report, or at the end of its wait.
enum HoldAction {
    HOLD_PASS,             // handle the report as always
    HOLD_DEFER,            // no input: the press waits (for a report, the cursor goes to its point only at the start)
    HOLD_PRESS_THEN_PASS,  // the left button down at the starting point, then the report (if any) as always
    HOLD_RIGHT_CLICK,      // a right click at the starting point; the report (if any) is dropped
    HOLD_DROP,             // no input: the report belongs to a touch that was right-clicked
};

enum HoldPhase {
    HOLD_IDLE,     // nothing waits
    HOLD_PENDING,  // a press waits for its time
    HOLD_DROPPING  // the touch was right-clicked; its reports are dropped up to its release
};

// One report as the hold sees it.
struct HoldReport {
    bool bPressKind;  // a kind other than 0 and 1 (those hold the button down until a release)
    bool bRelease;    // PKT_RELEASE
    // The report would press the left button now: the feature is on,
    // left-button mode, the worker's button up. Looked at for a report of a
    // press kind without release while nothing waits, and for every report
    // while a press waits (its button is up then, so false means that the
    // hold was switched off or right-button mode switched on).
    bool bCanHold;
    int32_t iX;
    int32_t iY;
};

struct HoldState {
    HoldPhase phase = HOLD_IDLE;
    int32_t iStartX = 0;     // where the waiting press began
    int32_t iStartY = 0;
    uint32_t dwStart = 0;    // when it began, in milliseconds
    uint32_t dwTimeMs = 0;   // the hold time taken when it began
    uint32_t dwRadius = 0;   // the radius taken when it began
    // While a right-clicked touch is dropped: its last report (the right
    // click's point and time until one comes).
    int32_t iLastX = 0;
    int32_t iLastY = 0;
    uint32_t dwLast = 0;
};

// The hold's time and radius are taken from the caller when a press begins
// to wait, so that a change to other values while a touch is down does not
// apply to that touch; only the hold switched off or right-button mode
// switched on (report.bCanHold false) reaches a press that waits.
HoldAction HoldOnReport(HoldState* pState, const HoldReport& report, uint32_t dwNow, uint32_t dwTimeMs,
                        uint32_t dwRadius);

// The worker's wait ran out (or ended early). bCanHold: the hold is still on
// in left-button mode. While a press waits: HOLD_PRESS_THEN_PASS (the left
// button down at the starting point, nothing to pass) when bCanHold is false,
// else HOLD_RIGHT_CLICK when the time is up and HOLD_DEFER while it is not.
// HOLD_PASS when nothing waits.
HoldAction HoldOnTimeout(HoldState* pState, uint32_t dwNow, bool bCanHold);

// A report that the hold does not judge (a quick-touch report) came: a
// waiting press goes down first (HOLD_PRESS_THEN_PASS); otherwise HOLD_PASS.
HoldAction HoldOnOtherReport(HoldState* pState);

// How long the worker may wait for its next report: 0xFFFFFFFF (INFINITE)
// when nothing waits, else the milliseconds left until the time is up (0 when
// it is up already).
uint32_t HoldWaitMs(const HoldState& state, uint32_t dwNow);

// True when (iX, iY) is farther than dwRadius from (iX0, iY0) (Euclidean,
// without overflow for any coordinates).
bool HoldBeyondRadius(int32_t iX0, int32_t iY0, int32_t iX, int32_t iY, uint32_t dwRadius);
