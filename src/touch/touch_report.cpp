#include "touch/touch_report.h"

#include "driver/protocol.h"

std::atomic<LONG> glTouchReport{TOUCH_REPORT_IDLE};
std::atomic<HWND> ghTouchReportWnd{nullptr};

bool ClaimTouchReport(LONG iTouchscreen) {
    // Nearly every report finds nothing armed: one load, no locked write.
    if (glTouchReport.load() != TOUCH_REPORT_ARMED) return false;
    LONG lArmed = TOUCH_REPORT_ARMED;
    const LONG lClaim = TOUCH_REPORT_CLAIMED + (iTouchscreen & 0xFFFF);
    if (!glTouchReport.compare_exchange_strong(lArmed, lClaim)) return false;
    const HWND hWnd = ghTouchReportWnd.load();
    // A lost post (a full queue) is made good by the request's time-out,
    // which finds the claim and answers with it.
    if (hWnd != nullptr) PostMessageA(hWnd, WM_RYK_TOUCHREPORTED, 0, 0);
    return true;
}

bool SwallowReport(TouchSwallow* pState, LONG iTouchscreen, DWORD dwFlags) {
    // A touch ends with PKT_RELEASE; a plain report of kind 0 is a whole
    // touch by itself (it clicks, with or without PKT_RELEASE), so it ends
    // one too. Without that, the taps after a claiming kind-0 tap would be
    // swallowed until some report carried PKT_RELEASE.
    const bool bEnds = (dwFlags & PKT_RELEASE) != 0 || (dwFlags & PKT_KIND) == 0;
    const bool bPress = !pState->bInTouch;
    pState->bInTouch = !bEnds;
    if (pState->bSwallowing) {
        if (bEnds) pState->bSwallowing = false;
        return true;
    }
    if (!bPress || !ClaimTouchReport(iTouchscreen)) return false;
    // A touch of one report (a press that carries its end) ends here.
    pState->bSwallowing = !bEnds;
    return true;
}
