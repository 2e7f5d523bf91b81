// "Which touchscreen is this?": another program (the set-up wizard RykXyMap)
// asks, through the registered message "RykXyLdrReportTouch" (app/report.h),
// to be told which touchscreen is pressed next. The main thread arms the
// request here; the first packet worker that reads the first report of a
// touch while it is armed claims it, and that whole touch, from its press to
// its release, makes no mouse input. The worker then wakes the main thread,
// which answers the asking program.
//
// The one shared word, glTouchReport, is changed only by atomic exchanges
// and compare-exchanges (lock cmpxchg; KERNEL32's InterlockedCompareExchange
// is missing on Windows 95), so the main thread and any number of workers
// agree on who answers a request: exactly one press claims it, and a
// time-out or a replacement that comes at the same moment either finds it
// still armed (and takes it back) or finds it claimed (and answers with the
// touchscreen).
#pragma once

#include <atomic>

#include "platform/win32.h"

// glTouchReport: TOUCH_REPORT_IDLE, TOUCH_REPORT_ARMED, or
// TOUCH_REPORT_CLAIMED + the touchscreen identifier (0 to 0xFFFF) of the
// press that claimed the request.
inline constexpr LONG TOUCH_REPORT_IDLE = 0;
inline constexpr LONG TOUCH_REPORT_ARMED = 1;
inline constexpr LONG TOUCH_REPORT_CLAIMED = 0x10000;
extern std::atomic<LONG> glTouchReport;

// Where a worker that claimed a press posts WM_RYK_TOUCHREPORTED: the hidden
// window, set by the main thread before it arms the first request.
extern std::atomic<HWND> ghTouchReportWnd;
// Posted by a worker to that window when its press claimed the request;
// wParam and lParam 0 (the touchscreen is in glTouchReport).
inline constexpr UINT WM_RYK_TOUCHREPORTED = WM_USER + 2;

// A packet worker read the first report of a touch of touchscreen
// iTouchscreen: true when that press claimed the armed request (the caller
// then swallows the touch up to its release); false when no request was
// armed or another press claimed it first.
bool ClaimTouchReport(LONG iTouchscreen);

// Whether a report opens, continues or ends a touch, for the worker's
// swallowing: a touch ends with a report that carries PKT_RELEASE, or with a
// plain report of kind 0, which is a whole touch by itself.
struct TouchSwallow {
    bool bInTouch = false;    // a report that does not end a touch came since the last end
    bool bSwallowing = false; // this touch claimed the request: drop its reports
};

// Called for every report a worker reads, before any mouse input: true when
// the report is to be dropped (it belongs to a touch that claimed the
// request, or it is the claiming press itself). Keeps *pState up to date.
bool SwallowReport(TouchSwallow* pState, LONG iTouchscreen, DWORD dwFlags);
