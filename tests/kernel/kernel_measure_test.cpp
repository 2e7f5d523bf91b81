// The machine's hooks for measurements: the wake-up count of each thread,
// the observer of blocking waits and the observer of mouse input.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "desktop.h"
#include "machine.h"

namespace {

struct Waits {
    HANDLE event;
    int rounds;
};

DWORD WINAPI WaitRounds(LPVOID p) {
    auto* w = static_cast<Waits*>(p);
    for (int i = 0; i < w->rounds; ++i) WaitForSingleObject(w->event, INFINITE);
    return 0;
}

DWORD WINAPI TimedWait(LPVOID p) { return WaitForSingleObject(static_cast<HANDLE>(p), 50); }

uint64_t wakeups_of(sim::Machine& m, DWORD thread_id) {
    const auto t = m.thread(thread_id);
    return t ? t->wakeups : UINT64_MAX;
}

TEST(MeasureHooks, WakeUpsCountWaitsThatBlockedOnly) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, FALSE, TRUE, nullptr);  // the first wait is satisfied at once
    Waits w{ev, 4};
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 512, WaitRounds, &w, 0, &id);
    m.settle();
    EXPECT_EQ(wakeups_of(m, id), 0u);
    for (int i = 0; i < 3; ++i) {
        SetEvent(ev);
        m.settle();
    }
    EXPECT_EQ(wakeups_of(m, id), 3u);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
    CloseHandle(t);
    CloseHandle(ev);
}

TEST(MeasureHooks, ATimeOutIsAWakeUp) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 512, TimedWait, ev, 0, &id);
    m.settle();
    EXPECT_EQ(wakeups_of(m, id), 1u);
    CloseHandle(t);
    CloseHandle(ev);
}

TEST(MeasureHooks, OnBlockSeesEveryBlockingWaitOnItsThread) {
    sim::Machine m;
    std::vector<DWORD> blocked;  // written under the kernel lock
    std::atomic<bool> on_own_thread{true};
    m.set_on_block([&](const sim::ThreadInfo& t) {
        blocked.push_back(t.id);
        if (!t.started) return;
        if (t.host != std::this_thread::get_id()) on_own_thread = false;
    });
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Waits w{ev, 2};
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 512, WaitRounds, &w, 0, &id);
    m.settle();
    SetEvent(ev);
    m.settle();
    SetEvent(ev);
    m.settle();
    m.set_on_block(nullptr);
    EXPECT_EQ(std::count(blocked.begin(), blocked.end(), id), 2);
    EXPECT_TRUE(on_own_thread);
    CloseHandle(t);
    CloseHandle(ev);
}

TEST(MeasureHooks, MouseObserverSeesEachInputAfterItIsRecorded) {
    sim::Machine m;
    struct Seen {
        DWORD flags;
        LONG dx, dy;
    };
    std::vector<Seen> seen;
    m.desktop().set_mouse_observer([&](DWORD flags, LONG dx, LONG dy) {
        seen.push_back({flags, dx, dy});
    });
    mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_MOVE, 1, 1, 0, 0);
    EXPECT_TRUE(m.desktop().buttons().left);
    m.desktop().set_mouse_observer(nullptr);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].flags, DWORD{MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN});
    EXPECT_EQ(seen[1].dx, 1);
    EXPECT_EQ(seen[1].dy, 1);
}

}  // namespace
