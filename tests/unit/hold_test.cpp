// Press-and-hold right click: the hold's state machine as a table of report
// streams, each step with the time it comes at and the action expected, and
// the radius test at its edges.
#include "touch/hold.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace unit {
namespace {

// One input to the machine: a report (press kind, release, may hold, x, y),
// the end of the worker's wait (may hold: the hold still on in left-button
// mode), or a quick-touch report.
struct Input {
    enum Kind { Report, Timeout, Other } kind;
    uint32_t t;  // ms
    bool bPressKind = true;
    bool bRelease = false;
    bool bCanHold = true;
    int32_t x = 0;
    int32_t y = 0;
};

Input Press(uint32_t t, int32_t x, int32_t y) { return {Input::Report, t, true, false, true, x, y}; }
Input Release(uint32_t t, int32_t x, int32_t y) { return {Input::Report, t, true, true, true, x, y}; }
Input Tap(uint32_t t, int32_t x, int32_t y) { return {Input::Report, t, false, false, true, x, y}; }
// A press-kind report that would not press: right-button mode, the button
// already down, or the feature switched off.
Input CannotHold(uint32_t t, int32_t x, int32_t y) { return {Input::Report, t, true, false, false, x, y}; }
// A release read after the feature was switched off or right-button mode
// switched on.
Input ReleaseCannotHold(uint32_t t, int32_t x, int32_t y) { return {Input::Report, t, true, true, false, x, y}; }
Input Timeout(uint32_t t) { return {Input::Timeout, t}; }
// The wait runs out after the feature was switched off or right-button mode
// switched on.
Input TimeoutCannotHold(uint32_t t) { return {Input::Timeout, t, true, false, false}; }
Input Quick(uint32_t t) { return {Input::Other, t}; }

struct Step {
    Input in;
    HoldAction action;
    uint32_t waitAfter;  // HoldWaitMs right after, at the same time
};

constexpr uint32_t kForever = 0xFFFFFFFFu;

struct Case {
    std::string name;
    uint32_t dwTimeMs;
    uint32_t dwRadius;
    uint32_t t0;  // added to every time: the counter's wrap must not matter
    std::vector<Step> steps;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class HoldTable : public ::testing::TestWithParam<Case> {};

TEST_P(HoldTable, ActionsAndWaits) {
    const Case& c = GetParam();
    HoldState state;
    EXPECT_EQ(HoldWaitMs(state, c.t0), kForever);
    int n = 0;
    for (const Step& s : c.steps) {
        ++n;
        const uint32_t now = c.t0 + s.in.t;
        HoldAction a = HOLD_PASS;
        switch (s.in.kind) {
        case Input::Report:
            a = HoldOnReport(&state, HoldReport{s.in.bPressKind, s.in.bRelease, s.in.bCanHold, s.in.x, s.in.y}, now,
                             c.dwTimeMs, c.dwRadius);
            break;
        case Input::Timeout: a = HoldOnTimeout(&state, now, s.in.bCanHold); break;
        case Input::Other: a = HoldOnOtherReport(&state); break;
        }
        EXPECT_EQ(a, s.action) << "step " << n;
        EXPECT_EQ(HoldWaitMs(state, now), s.waitAfter) << "step " << n;
    }
}

const std::vector<Case> kCases = {
    {"OffPassesEverything", 0, 8, 0,
     {{Press(0, 100, 100), HOLD_PASS, kForever}, {Release(900, 100, 100), HOLD_PASS, kForever}}},
    {"HoldBecomesRightClickAndDropsTheRest", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Press(200, 105, 103), HOLD_DEFER, 300},  // inside the radius
      {Timeout(500), HOLD_RIGHT_CLICK, kForever},
      {Press(600, 104, 104), HOLD_DROP, kForever},  // the finger still down
      {Tap(650, 10, 10), HOLD_PASS, kForever},      // other kinds are not part of the touch
      {Release(700, 104, 104), HOLD_DROP, kForever},
      {Press(800, 50, 50), HOLD_DEFER, 500}}},  // the next touch waits anew
    {"ReleasedJustBeforeTheTimeIsALeftClick", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Release(499, 100, 100), HOLD_PRESS_THEN_PASS, kForever},
      {Timeout(500), HOLD_PASS, kForever}}},
    {"ReleaseReadAfterTheTimeIsTheHold", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {Release(500, 100, 100), HOLD_RIGHT_CLICK, kForever}}},
    {"MoveBeyondTheRadiusPressesAtTheStart", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Press(100, 105, 105), HOLD_DEFER, 400},           // 7.07: inside
      {Press(150, 106, 106), HOLD_PRESS_THEN_PASS, kForever},  // 8.49: beyond
      {CannotHold(200, 100, 100), HOLD_PASS, kForever},  // the button is down now: the drag goes on
      {Release(300, 100, 100), HOLD_PASS, kForever}}},
    {"EarlyWakeKeepsWaiting", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {Timeout(499), HOLD_DEFER, 1}, {Timeout(500), HOLD_RIGHT_CLICK, kForever}}},
    {"QuickTouchReportPressesFirst", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {Quick(100), HOLD_PRESS_THEN_PASS, kForever}, {Quick(200), HOLD_PASS, kForever}}},
    {"OtherKindWhilePendingPressesFirst", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {Tap(100, 100, 100), HOLD_PRESS_THEN_PASS, kForever}}},
    {"ModeSwitchWhilePendingPressesFirst", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {CannotHold(100, 100, 100), HOLD_PRESS_THEN_PASS, kForever}}},
    // Switched off or right-button mode while the press waits: never a
    // right click, neither when the wait runs out nor when a report is read
    // after the time.
    {"SwitchedOffWhileWaitingPressesWhenTheTimeRunsOut", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {TimeoutCannotHold(500), HOLD_PRESS_THEN_PASS, kForever},
      {CannotHold(600, 100, 100), HOLD_PASS, kForever}}},
    {"SwitchedOffWhileWaitingPressesAtAnEarlyWake", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {TimeoutCannotHold(200), HOLD_PRESS_THEN_PASS, kForever}}},
    {"SwitchedOffReleaseReadAfterTheTimeIsALeftClick", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {ReleaseCannotHold(700, 100, 100), HOLD_PRESS_THEN_PASS, kForever}}},
    {"SwitchedOffPressReadAfterTheTimeGoesDown", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {CannotHold(700, 100, 100), HOLD_PRESS_THEN_PASS, kForever}}},
    // The right-clicked touch's release was lost (a refused read): a report
    // that cannot be part of that touch ends the dropping and begins a new
    // touch; the touch's own reports, still or sliding on, stay dropped.
    {"LostReleaseThenAPressAfterTheHoldTimeIsANewTouch", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Timeout(500), HOLD_RIGHT_CLICK, kForever},
      {Press(900, 101, 100), HOLD_DROP, kForever},   // 400 ms after the right click
      {Press(1399, 100, 100), HOLD_DROP, kForever},  // 499 ms after the last report
      {Press(1899, 100, 100), HOLD_DEFER, 500}}},    // 500 ms of silence: a new touch
    {"LostReleaseThenAFarPressIsANewTouch", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Timeout(500), HOLD_RIGHT_CLICK, kForever},
      {Press(510, 300, 300), HOLD_DEFER, 500},
      {Release(520, 300, 300), HOLD_PRESS_THEN_PASS, kForever}}},  // its left click
    {"LostReleaseThenAFarReleaseIsHandledAsAlways", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Timeout(500), HOLD_RIGHT_CLICK, kForever},
      {Release(510, 300, 300), HOLD_PASS, kForever},  // a release alone: handled as always
      {Press(520, 300, 300), HOLD_DEFER, 500}}},
    {"TouchSlidingOnAfterItsRightClickStaysDropped", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Timeout(500), HOLD_RIGHT_CLICK, kForever},
      {Press(510, 106, 100), HOLD_DROP, kForever},  // inside the circle
      {Press(520, 113, 100), HOLD_DROP, kForever},  // beyond it, 7 from the last report
      {Press(530, 120, 100), HOLD_DROP, kForever},
      {Release(540, 120, 100), HOLD_DROP, kForever},
      {Press(550, 120, 100), HOLD_DEFER, 500}}},
    {"StillTouchJitteringAcrossItsCircleStaysDropped", 500, 8, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Timeout(500), HOLD_RIGHT_CLICK, kForever},
      {Press(510, 107, 100), HOLD_DROP, kForever},
      {Press(520, 93, 100), HOLD_DROP, kForever},  // 14 from the last report, inside the circle
      {Release(530, 93, 100), HOLD_DROP, kForever}}},
    {"RightModeOrButtonDownDoesNotHold", 500, 8, 0, {{CannotHold(0, 100, 100), HOLD_PASS, kForever}}},
    {"TapsAndReleasesAloneDoNotHold", 500, 8, 0,
     {{Tap(0, 1, 1), HOLD_PASS, kForever}, {Release(10, 1, 1), HOLD_PASS, kForever}}},
    {"TimeoutWithNothingPending", 500, 8, 0, {{Timeout(10), HOLD_PASS, kForever}}},
    {"CounterWrapsDuringTheHold", 500, 8, 0xFFFFFF00u,
     {{Press(0, 100, 100), HOLD_DEFER, 500},
      {Press(300, 100, 100), HOLD_DEFER, 200},  // 0xFFFFFF00 + 300 has wrapped
      {Timeout(500), HOLD_RIGHT_CLICK, kForever}}},
    {"RadiusZeroAnyMoveCancels", 500, 0, 0,
     {{Press(0, 100, 100), HOLD_DEFER, 500}, {Press(10, 100, 100), HOLD_DEFER, 490}, {Press(20, 100, 101), HOLD_PRESS_THEN_PASS, kForever}}},
};

INSTANTIATE_TEST_SUITE_P(Hold, HoldTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

TEST(HoldRadius, EdgesAndExtremes) {
    struct R {
        int32_t x0, y0, x, y;
        uint32_t r;
        bool beyond;
    };
    const R rows[] = {
        {0, 0, 8, 0, 8, false},   // on the circle is inside
        {0, 0, 9, 0, 8, true},
        {0, 0, 5, 6, 8, false},   // 7.8
        {0, 0, 6, 6, 8, true},    // 8.49
        {0, 0, -6, -5, 8, false},
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 8, true},
        {INT32_MIN, 0, INT32_MAX, 0, 0xFFFFFFFFu, true},  // the cap: 2^32 - 1 > 2^31 - 1
        {0, 0, INT32_MAX, INT32_MAX, 0xFFFFFFFFu, true},
        {0, 0, 1000, 1000, 0xFFFFFFFFu, false},
        {5, 5, 5, 5, 0, false},
    };
    for (const R& r : rows)
        EXPECT_EQ(HoldBeyondRadius(r.x0, r.y0, r.x, r.y, r.r), r.beyond)
            << r.x0 << "," << r.y0 << " -> " << r.x << "," << r.y << " r " << r.r;
}

}  // namespace
}  // namespace unit
