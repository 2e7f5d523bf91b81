// Misuse of the API that the machine reports, so that tests can demand none.
#include <atomic>

#include <gtest/gtest.h>

#include "machine.h"

namespace {

bool Mentions(const std::vector<std::string>& v, const std::string& needle) {
    for (const auto& s : v)
        if (s.find(needle) != std::string::npos) return true;
    return false;
}

TEST(Misuse, HandleUsedAfterCloseHandle) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(ev));
    EXPECT_FALSE(SetEvent(ev));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_FAILED);
    EXPECT_FALSE(CloseHandle(ev));
    auto misuse = m.misuse();
    EXPECT_TRUE(Mentions(misuse, "SetEvent: handle"));
    EXPECT_TRUE(Mentions(misuse, "WaitForMultipleObjects: handle"));
    EXPECT_TRUE(Mentions(misuse, "closed twice"));
    EXPECT_EQ(m.trace().count("misuse"), misuse.size());
}

TEST(Misuse, HandleClosedUnderAWaitFailsThatWait) {
    sim::Machine m;
    static HANDLE ev;
    static DWORD result;
    static DWORD error;
    ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE t = CreateThread(
        nullptr, 512,
        [](LPVOID) -> DWORD {
            result = WaitForSingleObject(ev, INFINITE);
            error = GetLastError();
            return 0;
        },
        nullptr, 0, nullptr);
    m.settle();
    CloseHandle(ev);
    m.settle();
    EXPECT_EQ(result, WAIT_FAILED);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Mentions(m.misuse(), "closed while thread"));
    CloseHandle(t);
}

TEST(Misuse, CriticalSectionDeletedWhileHeldOrUsedAfterDeletion) {
    sim::Machine m;
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);  // recursive entry is fine
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(m.misuse().empty());
    DeleteCriticalSection(&cs);
    EXPECT_TRUE(Mentions(m.misuse(), "DeleteCriticalSection while thread"));
    EnterCriticalSection(&cs);
    EXPECT_TRUE(Mentions(m.misuse(), "used after DeleteCriticalSection"));
    CRITICAL_SECTION never{};
    EnterCriticalSection(&never);
    EXPECT_TRUE(Mentions(m.misuse(), "never initialised"));
}

TEST(Misuse, ThreadsLeftRunningWhenTheProcessEnds) {
    sim::Machine m;
    DWORD pid = m.start_process("prog", [] {
        CreateThread(
            nullptr, 512,
            [](LPVOID) -> DWORD {
                HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
                WaitForSingleObject(never, INFINITE);
                return 0;
            },
            nullptr, 0, nullptr);
        Sleep(10);
        return 0;
    });
    m.settle();
    EXPECT_TRUE(m.process_ended(pid));
    EXPECT_TRUE(Mentions(m.misuse(), "still running when process prog ended"));
}

TEST(Misuse, ThreadsThatEndBeforeTheProcessAreFine) {
    sim::Machine m;
    DWORD pid = m.start_process("prog", [] {
        HANDLE t = CreateThread(
            nullptr, 512, [](LPVOID) -> DWORD { return 5; }, nullptr, 0, nullptr);
        WaitForSingleObject(t, INFINITE);
        DWORD code = 0;
        GetExitCodeThread(t, &code);
        CloseHandle(t);
        return static_cast<int>(code);
    });
    m.settle();
    EXPECT_EQ(m.process_exit_code(pid), 5u);
    EXPECT_TRUE(m.misuse().empty()) << testing::PrintToString(m.misuse());
}

TEST(Misuse, DebugBreakWithoutADebugger) {
    {
        sim::Machine m;
        DebugBreak();
        EXPECT_TRUE(Mentions(m.misuse(), "DebugBreak without a debugger"));
    }
    {
        sim::Config cfg;
        cfg.debugger_attached = true;
        sim::Machine m(cfg);
        DebugBreak();
        EXPECT_TRUE(m.misuse().empty());
        EXPECT_EQ(m.trace().count("debugbreak"), 1u);
    }
}

// Counts the machine threads whose routine was left, by return or by the
// machine ending them (which unwinds their stacks).
std::atomic<int> g_left{0};
struct CountsLeaving {
    ~CountsLeaving() { ++g_left; }
};

TEST(Misuse, MachineEndsThreadsStillWaiting) {
    // Destroying the machine must end its threads, however they wait.
    g_left = 0;
    {
        sim::Machine m;
        for (int i = 0; i < 4; ++i)
            CreateThread(
                nullptr, 512,
                [](LPVOID) -> DWORD {
                    CountsLeaving leaving;
                    MSG msg;
                    while (GetMessageA(&msg, nullptr, 0, 0)) {
                    }
                    return 0;
                },
                nullptr, 0, nullptr);
        m.settle();
        EXPECT_EQ(g_left.load(), 0) << "every thread waits for a message that never comes";
    }
    EXPECT_EQ(g_left.load(), 4) << "the machine's end left a thread in its wait";
}

}  // namespace
