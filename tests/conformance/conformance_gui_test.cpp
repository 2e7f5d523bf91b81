// Timers and painting as the set-up wizard RykXyMap and RykXyLdr's report
// time-out use them: WM_TIMER is made only when nothing is posted, once
// however long it waited, and stops with KillTimer or the window; WM_PAINT
// is made for a window shown visible until BeginPaint/EndPaint validate it;
// a popup window's client rectangle is its whole size.

#include <gtest/gtest.h>

#include <vector>

#include "platform/win32.h"

namespace conformance {
namespace {

std::vector<UINT> gSeen;

LRESULT CALLBACK GuiProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_TIMER || m == WM_PAINT || m == WM_USER) gSeen.push_back(m);
    if (m == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(h, &ps);
        EndPaint(h, &ps);
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

HWND MakeWindow(DWORD style) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = GuiProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ConformanceGui";
    RegisterClassA(&wc);  // already registered by an earlier test: fine
    return CreateWindowExA(WS_EX_TOPMOST, "ConformanceGui", "", style, 10, 20, 300, 200, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

// Dispatches what GetMessageA gives until `count` of the recorded messages
// have come.
void Pump(size_t count) {
    MSG msg;
    while (gSeen.size() < count && GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
}

TEST(GuiTest, TimerComesAfterPostedMessagesOnceAndStopsWithKillTimer) {
    gSeen.clear();
    HWND h = MakeWindow(WS_POPUP);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(SetTimer(h, 7, 50, nullptr), 0u);
    Sleep(200);  // four intervals pass unread
    PostMessageA(h, WM_USER, 0, 0);
    Pump(2);
    EXPECT_EQ(gSeen, (std::vector<UINT>{WM_USER, WM_TIMER}));
    // One WM_TIMER for the intervals missed: nothing more is due at once.
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_TIMER);
    EXPECT_TRUE(KillTimer(h, 7));
    EXPECT_FALSE(KillTimer(h, 7));
    DestroyWindow(h);
}

TEST(GuiTest, VisibleWindowIsPaintedOnceAndHasItsSizeAsClientArea) {
    gSeen.clear();
    HWND h = MakeWindow(WS_POPUP | WS_VISIBLE);
    ASSERT_NE(h, nullptr);
    RECT rc;
    ASSERT_TRUE(GetClientRect(h, &rc));
    EXPECT_EQ(rc.right - rc.left, 300);
    EXPECT_EQ(rc.bottom - rc.top, 200);
    Pump(1);
    EXPECT_EQ(gSeen, (std::vector<UINT>{WM_PAINT}));
    // Validated: no second WM_PAINT until the window is invalidated.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    EXPECT_EQ(gSeen.size(), 1u);
    InvalidateRect(h, nullptr, TRUE);
    UpdateWindow(h);
    EXPECT_EQ(gSeen, (std::vector<UINT>{WM_PAINT, WM_PAINT}));
    DestroyWindow(h);
}

}  // namespace
}  // namespace conformance
