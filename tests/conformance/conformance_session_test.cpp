// The end of a Windows session as the program's hidden window meets it:
// Windows sends (does not post) WM_QUERYENDSESSION and then WM_ENDSESSION to
// every top-level window, hidden ones included, from another thread. A sent
// message is handled by the window's own thread only where that thread reads
// its messages; a thread that waits in WaitForSingleObject does not handle
// it, and the sender waits until it does. PeekMessageA that removes nothing
// handles the sent messages and leaves the posted ones queued. A message box
// is a top-level window of its own thread: the session end reaches it, its
// modal loop answers it as DefWindowProcA does, and the box stays open.

#include <gtest/gtest.h>

#include <vector>

#include "conformance_util.h"
#include "fixture.h"
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

// ---- PeekMessageA(PM_NOREMOVE) between the slices of a wait

const UINT kSentNote = WM_USER + 8;    // sent by another thread
const UINT kPostedNote = WM_USER + 9;  // posted before the send
const UINT kRepostNote = WM_USER + 10;  // posted by the procedure while it handles kSentNote

struct PeekSeen {
    std::vector<UINT> handled;  // in the window procedure, in order
    bool sent_inside_peek = false;
    bool in_peek = false;
};
PeekSeen g_peek;  // the window's own thread only

LRESULT CALLBACK PeekProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == kSentNote || msg == kPostedNote || msg == kRepostNote) g_peek.handled.push_back(msg);
    if (msg == kSentNote) {
        g_peek.sent_inside_peek = g_peek.in_peek;
        PostMessageA(hwnd, kRepostNote, 0, 0);
        return 5;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

struct PeekSender {
    HWND hwnd = nullptr;
    LRESULT result = -1;
};

DWORD WINAPI SendNote(LPVOID param) {
    auto* s = static_cast<PeekSender*>(param);
    s->result = SendMessageA(s->hwnd, kSentNote, 0, 0);
    return 0;
}

TEST(SessionEnd, PeekWithoutRemovingHandlesSentMessagesAndLeavesPostedOnesQueuedInOrder) {
    g_peek = PeekSeen();
    WNDCLASSA wc{};
    wc.lpfnWndProc = PeekProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RykConformancePeek";
    RegisterClassA(&wc);  // may already exist from an earlier run of the test
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(PostMessageA(hwnd, kPostedNote, 0, 0));

    PeekSender s;
    s.hwnd = hwnd;
    DWORD tid = 0;
    Handle sender(CreateThread(nullptr, 0, SendNote, &s, 0, &tid));
    ASSERT_TRUE(sender);
    // A wait in slices with a look at the queue between them, as the
    // program waits for the calibration program.
    for (int i = 0; i < 500; ++i) {
        if (WaitForSingleObject(sender.get(), 10) == WAIT_OBJECT_0) break;
        MSG peeked;
        g_peek.in_peek = true;
        PeekMessageA(&peeked, nullptr, 0, 0, PM_NOREMOVE);
        g_peek.in_peek = false;
    }
    EXPECT_EQ(WaitForSingleObject(sender.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(s.result, 5);
    EXPECT_TRUE(g_peek.sent_inside_peek);
    ASSERT_EQ(g_peek.handled, std::vector<UINT>{kSentNote});

    // Both posted messages are still there, the earlier one first.
    MSG msg;
    std::vector<UINT> queued;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == hwnd) queued.push_back(msg.message);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(queued, (std::vector<UINT>{kPostedNote, kRepostNote}));
    DestroyWindow(hwnd);
}

// ---- a message box at the end of the session

const char kBoxCaption[] = "RykConformanceSessionBox";

DWORD WINAPI ShowSessionBox(LPVOID param) {
    *static_cast<int*>(param) = MessageBoxA(nullptr, "conformance", kBoxCaption, MB_OK);
    return 0;
}

TEST(SessionEnd, AMessageBoxIsATopLevelWindowThatAgreesToTheEndAndStaysOpen) {
    HoldMessageBoxes();
    int result = -1;
    DWORD tid = 0;
    Handle thread(CreateThread(nullptr, 0, ShowSessionBox, &result, 0, &tid));
    ASSERT_TRUE(thread);
    bool open = false;
    for (int i = 0; i < 1000 && !open; ++i) {
        open = MessageBoxOpen(kBoxCaption);
        if (!open) Sleep(10);
    }
    ASSERT_TRUE(open);

    // Found as Windows' session end finds it: a top-level window of the
    // dialog class, the caption its title.
    HWND box = FindWindowA("#32770", kBoxCaption);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(SendMessageA(box, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(SendMessageA(box, WM_ENDSESSION, TRUE, 0), 0);
    EXPECT_TRUE(MessageBoxOpen(kBoxCaption));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 100), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_TRUE(DismissMessageBox(kBoxCaption));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(FindWindowA("#32770", kBoxCaption), nullptr);
}

}  // namespace
}  // namespace conformance
