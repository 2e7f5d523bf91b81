// The registered message "RykXyLdrReportTouch": another program asks which
// touchscreen is pressed next, and is told. The set-up wizard RykXyMap uses
// it to learn which touchscreen stands on which monitor without reading the
// driver itself.
//
// The request, posted to the hidden window (class "RykXyLdrAppClass"):
//   wParam  the asking window (an HWND of the asking program's top-level
//           window, which gets the answer)
//   lParam  the time-out in milliseconds, 1 to REPORT_MAX_TIMEOUT_MS;
//           0 withdraws the waiting request (whoever asked; wParam unused)
// From then on the first press of any touchscreen that a packet worker reads
// answers the request; that touch, from its press to its release, makes no
// mouse input. Only one request waits at a time: a new one replaces it.
//
// The answer, the same registered message posted to the asking window:
//   wParam REPORT_TOUCHED    lParam the touchscreen's identifier
//   wParam REPORT_TIMED_OUT  lParam 0: no press within the time-out
//   wParam REPORT_WITHDRAWN  lParam 0: replaced by a newer request, or
//                            withdrawn with lParam 0
//   wParam REPORT_REFUSED    lParam 0: the time-out is out of range, or no
//                            timer could be set; nothing waits
// Every request that is taken gets exactly one answer. A request whose
// wParam is not a window (IsWindow) is dropped: nobody could be answered.
// Main thread only.
#pragma once

#include "platform/win32.h"

inline constexpr char REPORT_TOUCH_MESSAGE[] = "RykXyLdrReportTouch";
inline constexpr DWORD REPORT_MAX_TIMEOUT_MS = 600000;  // ten minutes

inline constexpr WPARAM REPORT_TOUCHED = 1;
inline constexpr WPARAM REPORT_TIMED_OUT = 2;
inline constexpr WPARAM REPORT_WITHDRAWN = 3;
inline constexpr WPARAM REPORT_REFUSED = 4;

// The hidden window's timer of the waiting request.
inline constexpr UINT_PTR TIMER_TOUCH_REPORT = 1;

// Registered message "RykXyLdrReportTouch"; 0 when it could not be
// registered (the program then runs without it).
extern UINT gmsgReportTouch;

// Handles the request, the worker's WM_RYK_TOUCHREPORTED and the request's
// WM_TIMER for the hidden window hwnd. True, with *plResult 0, when the
// message was one of them.
bool HandleReportMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* plResult);
