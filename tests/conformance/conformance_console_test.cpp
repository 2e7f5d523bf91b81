// What RykXyCtl and RykXyProbe rely on besides what the program uses:
// wsprintfA's formats, OpenMutexA as a look that creates nothing, a thread's
// queue seen through PeekMessageA and MsgWaitForMultipleObjects, and
// broadcasts reaching a top-level window.

#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

namespace conformance {
namespace {

// ---------------------------------------------------------------- wsprintfA

struct FormatCase {
    std::string got;
    int length;
    const char* want;
};

template <typename... A>
FormatCase Format(const char* want, const char* fmt, A... args) {
    char buf[1024];
    const int n = wsprintfA(buf, fmt, args...);
    return {buf, n, want};
}

TEST(Wsprintf, FormatsTheWaysTheToolsUse) {
    const FormatCase cases[] = {
        Format("-5", "%ld", static_cast<LONG>(-5)),
        Format("4294967295", "%lu", static_cast<DWORD>(0xFFFFFFFFu)),
        Format("0x0000BEEF", "0x%08lX", static_cast<DWORD>(0xBEEF)),
        Format("07 ff", "%02x %02x", 7u, 255u),
        Format("\\u00e9", "\\u%04x", 0xE9u),
        Format("   42|42   |00042", "%5d|%-5d|%05d", 42, 42, 42),
        Format("abc|abcdef", "%.3s|%s", "abcdef", "abcdef"),
        Format("A%", "%c%%", 'A'),
        Format("0xff 0XFF", "%#x %#X", 255u, 255u),
        Format("-2147483648", "%d", static_cast<int>(0x80000000u)),
        Format("", ""),
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(c.got, c.want);
        EXPECT_EQ(c.length, static_cast<int>(c.got.size())) << c.want;
    }
}

// ---------------------------------------------------------------- OpenMutexA

TEST(OpenMutex, FindsAnExistingMutexWithoutTakingIt) {
    HANDLE mine = CreateMutexA(nullptr, FALSE, "RykConformanceOpenMutex");
    ASSERT_NE(mine, nullptr);
    SetLastError(0xDEAD);
    HANDLE seen = OpenMutexA(SYNCHRONIZE, FALSE, "RykConformanceOpenMutex");
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0) << "opening took the mutex";
    EXPECT_TRUE(ReleaseMutex(mine));
    CloseHandle(seen);
    CloseHandle(mine);
}

TEST(OpenMutex, FailsForANameThatDoesNotExistAndCreatesNothing) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "RykConformanceNoSuchMutex"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "RykConformanceNoSuchMutex"), nullptr) << "the first look created it";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// ---------------------------------------------------------------- the message queue

TEST(MessageQueue, PeekAndMsgWaitOnAnEmptyQueue) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(MessageQueue, MsgWaitEndsForAMessagePostedAfterTheLastLook) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 7, 3, 4));
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_ALLINPUT), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 7));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(3));
    EXPECT_EQ(msg.lParam, static_cast<LPARAM>(4));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

TEST(MessageQueue, ABroadcastReachesAHiddenTopLevelWindow) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlainProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RykConformanceAnswer";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                                nullptr);
    ASSERT_NE(hwnd, nullptr);
    const UINT id = RegisterWindowMessageA("RykConformanceBroadcast");
    ASSERT_NE(id, 0u);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    ASSERT_TRUE(PostMessageA(HWND_BROADCAST, id, 2, 1));
    bool seen = false;
    while (!seen && MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == id && msg.hwnd == hwnd) {
                seen = true;
                EXPECT_EQ(msg.wParam, static_cast<WPARAM>(2));
                EXPECT_EQ(msg.lParam, static_cast<LPARAM>(1));
            } else if (msg.hwnd) {
                DispatchMessageA(&msg);
            }
        }
    }
    EXPECT_TRUE(seen);
    DestroyWindow(hwnd);
}

}  // namespace
}  // namespace conformance
