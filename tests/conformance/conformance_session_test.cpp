// The end of a Windows session as the program's hidden window meets it:
// Windows sends (does not post) WM_QUERYENDSESSION and then WM_ENDSESSION to
// every top-level window, hidden ones included, from another thread. A sent
// message is handled by the window's own thread only where that thread reads
// its messages; a thread that waits in WaitForSingleObject does not handle
// it, and the sender waits until it does.

#include <gtest/gtest.h>

#include <vector>

#include "conformance_util.h"
#include "platform/win32.h"

namespace conformance {
namespace {

const UINT kDone = WM_USER + 7;  // posted by the sender after its two sends

struct SessionSeen {
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    DWORD thread;
    bool inside_dispatch;  // the loop was inside DispatchMessageA
};

std::vector<SessionSeen> g_seen;  // written by the window's own thread only
bool g_inside_dispatch = false;

LRESULT CALLBACK SessionProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_QUERYENDSESSION || msg == WM_ENDSESSION || msg == kDone)
        g_seen.push_back({msg, wparam, lparam, GetCurrentThreadId(), g_inside_dispatch});
    if (msg == WM_QUERYENDSESSION) return TRUE;
    if (msg == WM_ENDSESSION) return 0;
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

struct Sender {
    HWND hwnd = nullptr;
    LRESULT query = -1;
    LRESULT end = -1;
};

// Does what Windows does at the end of a session, for one window: asks, then
// tells; then posts kDone so that the window's loop can stop.
DWORD WINAPI SendSessionEnd(LPVOID param) {
    auto* s = static_cast<Sender*>(param);
    s->query = SendMessageA(s->hwnd, WM_QUERYENDSESSION, 0, 0);
    s->end = SendMessageA(s->hwnd, WM_ENDSESSION, TRUE, 0);
    PostMessageA(s->hwnd, kDone, 0, 0);
    return 0;
}

TEST(SessionEnd, TheTwoMessagesAreSentInOrderToAHiddenWindowAndHandledWhereItsThreadReadsMessages) {
    g_seen.clear();
    g_inside_dispatch = false;
    WNDCLASSA wc{};
    wc.lpfnWndProc = SessionProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RykConformanceSession";
    RegisterClassA(&wc);  // may already exist from an earlier run of the test
    // Never shown, as the program's window.
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL, 0, 0,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);

    Sender s;
    s.hwnd = hwnd;
    DWORD tid = 0;
    Handle sender(CreateThread(nullptr, 0, SendSessionEnd, &s, 0, &tid));
    ASSERT_TRUE(sender);

    // A plain wait handles no sent message: the sender is still held in its
    // first SendMessageA.
    EXPECT_EQ(WaitForSingleObject(sender.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(g_seen.empty());

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        g_inside_dispatch = true;
        DispatchMessageA(&msg);
        g_inside_dispatch = false;
        if (msg.message == kDone) break;
    }
    EXPECT_EQ(WaitForSingleObject(sender.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));

    ASSERT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(g_seen[0].msg, static_cast<UINT>(WM_QUERYENDSESSION));
    EXPECT_EQ(g_seen[0].wparam, 0u);
    EXPECT_EQ(g_seen[0].lparam, 0);
    EXPECT_EQ(g_seen[1].msg, static_cast<UINT>(WM_ENDSESSION));
    EXPECT_EQ(g_seen[1].wparam, static_cast<WPARAM>(TRUE));
    EXPECT_EQ(g_seen[1].lparam, 0);
    EXPECT_EQ(g_seen[2].msg, kDone);
    for (size_t i = 0; i < g_seen.size(); ++i) {
        EXPECT_EQ(g_seen[i].thread, GetCurrentThreadId()) << "message " << i;
        // The sent ones inside GetMessageA, never given to the loop; the
        // posted one through DispatchMessageA.
        EXPECT_EQ(g_seen[i].inside_dispatch, i == 2) << "message " << i;
    }
    EXPECT_EQ(s.query, TRUE);
    EXPECT_EQ(s.end, 0);
    DestroyWindow(hwnd);
}

}  // namespace
}  // namespace conformance
