// The modal message box: MessageBoxA runs a message loop of its own on the
// calling thread until the box is closed. The program's window procedure is
// re-entered from it, so what that loop does is checked here: which messages
// it dispatches, and what a quit message does to it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance_util.h"
#include "fixture.h"
#include "platform/win32.h"

namespace conformance {
namespace {

const UINT kFirst = WM_USER + 10;   // recorded; posts kSecond
const UINT kSecond = WM_USER + 11;  // recorded
const UINT kQuitMe = WM_USER + 12;  // recorded; PostQuitMessage(wParam)
const UINT kThreadNote = WM_USER + 13;

// What the window procedure saw, on the box's thread only.
struct BoxThreadLog {
    bool in_box = false;  // the thread is inside MessageBoxA
    std::vector<std::pair<UINT, bool>> seen;  // message, seen inside the box
};
thread_local BoxThreadLog t_log;

LRESULT CALLBACK Recorder(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case kFirst:
        t_log.seen.emplace_back(msg, t_log.in_box);
        PostMessageA(hwnd, kSecond, 0, 0);
        return 0;
    case kSecond:
        t_log.seen.emplace_back(msg, t_log.in_box);
        return 0;
    case kQuitMe:
        t_log.seen.emplace_back(msg, t_log.in_box);
        PostQuitMessage(static_cast<int>(wparam));
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

HWND MakeRecorder(const std::string& class_name) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Recorder;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = class_name.c_str();
    if (RegisterClassA(&wc) == 0) return nullptr;
    return CreateWindowExA(0, class_name.c_str(), "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

int ShowBox(const char* caption) {
    t_log.in_box = true;
    const int result = MessageBoxA(nullptr, "conformance", caption, MB_OK);
    t_log.in_box = false;
    return result;
}

// What the box's thread found out, handed to the test thread.
struct Outcome {
    int box_result = -1;
    std::vector<std::pair<UINT, bool>> seen;
    bool quit_after = false;  // GetMessageA returned FALSE after the box
    WPARAM quit_code = 0;
    bool thread_note_left = false;  // the thread message was still queued
};

// The box's thread ends on its own, or the test dismisses the box: a box
// that does not close within 10 s is dismissed and counts as a failure.
bool WaitEndedOrDismiss(HANDLE thread, const char* caption) {
    if (WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0) return true;
    DismissMessageBox(caption);
    WaitForSingleObject(thread, INFINITE);
    return false;
}

bool WaitForBox(const char* caption) {
    for (int i = 0; i < 1000; ++i) {
        if (MessageBoxOpen(caption)) return true;
        Sleep(10);
    }
    return false;
}

// After the box: a quit still pending comes first from GetMessageA;
// otherwise the queue is drained without blocking.
void ReadQueueAfter(Outcome* out) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            out->quit_after = true;
            out->quit_code = msg.wParam;
            return;
        }
        if (msg.message == kThreadNote && msg.hwnd == nullptr) out->thread_note_left = true;
        DispatchMessageA(&msg);
    }
}

class ModalBoxTest : public ::testing::Test {
protected:
    void SetUp() override { HoldMessageBoxes(); }
};

// Messages posted to the thread's windows are dispatched while the box is
// open, also those the window procedure posts from inside it; a message
// posted to the thread itself is taken by the box's loop and lost. The box
// stays open until it is dismissed, then returns IDOK.
TEST_F(ModalBoxTest, DispatchesTheThreadsWindowMessagesUntilDismissed) {
    const char* caption = "RykModalDispatch";
    const std::string cls = UniqueName("RykModalDispatch");
    Outcome out;
    Handle thread(StartThread([&]() -> DWORD {
        HWND hwnd = MakeRecorder(cls);
        if (hwnd == nullptr) return 1;
        PostMessageA(hwnd, kFirst, 0, 0);
        PostThreadMessageA(GetCurrentThreadId(), kThreadNote, 0, 0);
        out.box_result = ShowBox(caption);
        out.seen = t_log.seen;
        ReadQueueAfter(&out);
        DestroyWindow(hwnd);
        return 0;
    }));
    ASSERT_TRUE(thread);
    ASSERT_TRUE(WaitForBox(caption));
    // Everything posted before is handled while the box stays open.
    Sleep(200);
    EXPECT_TRUE(MessageBoxOpen(caption));
    EXPECT_TRUE(DismissMessageBox(caption));
    ASSERT_TRUE(WaitEndedOrDismiss(thread.get(), caption));

    EXPECT_EQ(out.box_result, IDOK);
    const std::vector<std::pair<UINT, bool>> want = {{kFirst, true}, {kSecond, true}};
    EXPECT_EQ(out.seen, want);
    EXPECT_FALSE(out.thread_note_left) << "a thread message is lost to the box's loop";
    EXPECT_FALSE(out.quit_after);
}

// A quit posted from a window procedure that the box's loop runs closes the
// box without a user, and is posted again: the caller's own loop then gets
// WM_QUIT with the same code.
TEST_F(ModalBoxTest, QuitFromInsideClosesTheBoxAndIsPostedAgain) {
    const char* caption = "RykModalQuitInside";
    const std::string cls = UniqueName("RykModalQuitInside");
    Outcome out;
    Handle thread(StartThread([&]() -> DWORD {
        HWND hwnd = MakeRecorder(cls);
        if (hwnd == nullptr) return 1;
        PostMessageA(hwnd, kQuitMe, 7, 0);
        out.box_result = ShowBox(caption);
        out.seen = t_log.seen;
        ReadQueueAfter(&out);
        DestroyWindow(hwnd);
        return 0;
    }));
    ASSERT_TRUE(thread);
    ASSERT_TRUE(WaitEndedOrDismiss(thread.get(), caption)) << "the box did not close by itself";
    EXPECT_EQ(out.seen, (std::vector<std::pair<UINT, bool>>{{kQuitMe, true}}));
    EXPECT_EQ(out.box_result, IDOK);
    EXPECT_TRUE(out.quit_after);
    EXPECT_EQ(out.quit_code, 7u);
}

// A quit that is already pending when the box is called closes it at once;
// one posted to the thread by another thread while the box is open closes it
// too. Either way the quit is posted again for the caller's loop.
struct QuitCase {
    const char* label;
    bool before;  // PostQuitMessage before the box, else PostThreadMessageA(WM_QUIT) while it is open
};

class ModalBoxQuitTest : public ModalBoxTest, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(ModalBoxQuitTest, ClosesTheBoxAndIsPostedAgain) {
    const QuitCase& c = GetParam();
    const std::string caption = std::string("RykModalQuit") + c.label;
    Outcome out;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(ready, HANDLE(0));
    DWORD tid = 0;
    Handle thread(StartThread([&]() -> DWORD {
        tid = GetCurrentThreadId();
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here on
        SetEvent(ready);
        if (c.before) PostQuitMessage(3);
        out.box_result = ShowBox(caption.c_str());
        ReadQueueAfter(&out);
        return 0;
    }));
    ASSERT_TRUE(thread);
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    if (!c.before) {
        ASSERT_TRUE(WaitForBox(caption.c_str()));
        EXPECT_TRUE(PostThreadMessageA(tid, WM_QUIT, 3, 0));
    }
    ASSERT_TRUE(WaitEndedOrDismiss(thread.get(), caption.c_str())) << "the box did not close by itself";
    EXPECT_EQ(out.box_result, IDOK);
    EXPECT_TRUE(out.quit_after);
    EXPECT_EQ(out.quit_code, 3u);
}

const QuitCase kQuitCases[] = {{"PendingBefore", true}, {"PostedWhileOpen", false}};

INSTANTIATE_TEST_SUITE_P(Modal, ModalBoxQuitTest, ::testing::ValuesIn(kQuitCases), ParamLabel());

}  // namespace
}  // namespace conformance
