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
    const bool bRelease = (dwFlags & PKT_RELEASE) != 0;
    const bool bPress = !pState->bInTouch;
    pState->bInTouch = !bRelease;
    if (pState->bSwallowing) {
        if (bRelease) pState->bSwallowing = false;
        return true;
    }
    if (!bPress || !ClaimTouchReport(iTouchscreen)) return false;
    // A touch of one report (a press that carries its release) ends here.
    pState->bSwallowing = !bRelease;
    return true;
}
