#include "app/report.h"

#include "settings/trace.h"
#include "touch/touch_report.h"

UINT gmsgReportTouch = 0;

namespace {

// The window that asked for the waiting request (main thread only); the
// workers know only glTouchReport.
HWND hAsker = nullptr;

void Answer(HWND hTo, WPARAM wCode, LPARAM lParam) {
    if (TraceOn())
        TraceLine("report", "answer=%lu touchscreen=%ld", static_cast<unsigned long>(wCode), static_cast<long>(lParam));
    PostMessageA(hTo, gmsgReportTouch, wCode, lParam);
}

// Ends the waiting request, if any: the workers can no longer claim it, and
// its asker is told the press that claimed it, or wIfArmed.
void EndRequest(HWND hwnd, WPARAM wIfArmed) {
    const LONG lState = glTouchReport.exchange(TOUCH_REPORT_IDLE);
    if (lState == TOUCH_REPORT_IDLE) return;
    KillTimer(hwnd, TIMER_TOUCH_REPORT);
    const HWND hTo = hAsker;
    hAsker = nullptr;
    if (lState >= TOUCH_REPORT_CLAIMED) Answer(hTo, REPORT_TOUCHED, static_cast<LPARAM>(lState - TOUCH_REPORT_CLAIMED));
    else Answer(hTo, wIfArmed, 0);
}

void OnRequest(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    const HWND hFrom = reinterpret_cast<HWND>(wParam);
    const DWORD dwTimeout = static_cast<DWORD>(lParam);
    if (TraceOn())
        TraceLine("report", "request timeout=%lu", static_cast<unsigned long>(dwTimeout));
    if (dwTimeout == 0) {
        EndRequest(hwnd, REPORT_WITHDRAWN);
        return;
    }
    if (hFrom == nullptr || hFrom == hwnd || !IsWindow(hFrom)) return;
    if (dwTimeout > REPORT_MAX_TIMEOUT_MS) {
        Answer(hFrom, REPORT_REFUSED, 0);
        return;
    }
    EndRequest(hwnd, REPORT_WITHDRAWN);
    if (SetTimer(hwnd, TIMER_TOUCH_REPORT, dwTimeout, nullptr) == 0) {
        Answer(hFrom, REPORT_REFUSED, 0);
        return;
    }
    hAsker = hFrom;
    ghTouchReportWnd = hwnd;
    // From here on a worker may claim it.
    glTouchReport.store(TOUCH_REPORT_ARMED);
}

}  // namespace

bool HandleReportMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* plResult) {
    if (message == WM_RYK_TOUCHREPORTED) {
        // Possibly late: a time-out or a newer request may have answered
        // the claim already, and a newer request may wait now.
        if (glTouchReport.load() >= TOUCH_REPORT_CLAIMED) EndRequest(hwnd, REPORT_TIMED_OUT);
    } else if (message == WM_TIMER && wParam == TIMER_TOUCH_REPORT) {
        // A press that claimed the request at this very moment still wins.
        EndRequest(hwnd, REPORT_TIMED_OUT);
        KillTimer(hwnd, TIMER_TOUCH_REPORT);
    } else if (gmsgReportTouch != 0 && message == gmsgReportTouch) {
        OnRequest(hwnd, wParam, lParam);
    } else {
        return false;
    }
    *plResult = 0;
    return true;
}
