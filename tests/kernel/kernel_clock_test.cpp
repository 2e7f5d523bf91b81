// The simulated clock, settling, processes and message boxes: the machine
// behaviour that makes whole-program runs deterministic.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "kernel.h"
#include "machine.h"

namespace {

struct Timed {
    HANDLE event;
    DWORD ms;
    DWORD result = 0;
    DWORD woke_at = 0;
};

DWORD WINAPI TimedWaiter(LPVOID p) {
    auto* t = static_cast<Timed*>(p);
    t->result = WaitForSingleObject(t->event, t->ms);
    t->woke_at = GetTickCount();
    return 0;
}

TEST(Clock, SettleRunsTimeOutsToTheEndWithoutRealTime) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Timed a{ev, 10000}, b{ev, 250};
    HANDLE ta = CreateThread(nullptr, 512, TimedWaiter, &a, 0, nullptr);
    HANDLE tb = CreateThread(nullptr, 512, TimedWaiter, &b, 0, nullptr);
    m.settle();
    EXPECT_EQ(a.result, WAIT_TIMEOUT);
    EXPECT_EQ(b.result, WAIT_TIMEOUT);
    EXPECT_EQ(b.woke_at, 250u);
    EXPECT_EQ(a.woke_at, 10000u);
    EXPECT_EQ(m.now_us(), 10000000u);
    EXPECT_EQ(WaitForSingleObject(ta, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(tb, 0), WAIT_OBJECT_0);
    CloseHandle(ta);
    CloseHandle(tb);
    CloseHandle(ev);
}

TEST(Clock, TimeStandsStillWhileAThreadRuns) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Timed a{ev, 100};
    HANDLE t = CreateThread(nullptr, 512, TimedWaiter, &a, 0, nullptr);
    // This thread is a machine thread and is running: the waiter cannot time out.
    for (int i = 0; i < 1000; ++i) GetTickCount();
    EXPECT_EQ(m.now_us(), 0u);
    SetEvent(ev);
    m.settle();
    EXPECT_EQ(a.result, WAIT_OBJECT_0);
    EXPECT_EQ(a.woke_at, 0u);
    CloseHandle(t);
    CloseHandle(ev);
}

// A waiter that records, at its time-out, whether the harness had already
// woken from its own wait of the same length.
struct TieWaiter {
    HANDLE event;
    DWORD ms;
    std::atomic<bool>* harness_back;
    bool harness_was_back = true;
};

DWORD WINAPI TieWaiterRoutine(LPVOID p) {
    auto* t = static_cast<TieWaiter*>(p);
    WaitForSingleObject(t->event, t->ms);
    t->harness_was_back = t->harness_back->load();
    return 0;
}

TEST(Clock, AProgramTimeOutRunsBeforeTheHarnessWaitOfTheSameMoment) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> back{false};
    TieWaiter w{ev, 300, &back};
    HANDLE t = CreateThread(nullptr, 512, TieWaiterRoutine, &w, 0, nullptr);
    m.quiesce();
    m.advance_ms(300);
    back = true;
    m.settle();
    EXPECT_FALSE(w.harness_was_back);
    CloseHandle(t);
    CloseHandle(ev);
}

TEST(Clock, QuiesceLetsThreadsRunButNotTime) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Timed a{ev, 100};
    Timed b{go, 50};
    HANDLE ta = CreateThread(nullptr, 512, TimedWaiter, &a, 0, nullptr);
    HANDLE tb = CreateThread(nullptr, 512, TimedWaiter, &b, 0, nullptr);
    SetEvent(go);  // b runs to its end; a stays in its timed wait
    m.quiesce();
    EXPECT_EQ(WaitForSingleObject(tb, 0), WAIT_OBJECT_0);
    EXPECT_EQ(b.result, WAIT_OBJECT_0);
    EXPECT_EQ(m.now_us(), 0u);
    EXPECT_EQ(WaitForSingleObject(ta, 0), WAIT_TIMEOUT);
    m.settle();
    EXPECT_EQ(a.result, WAIT_TIMEOUT);
    EXPECT_EQ(a.woke_at, 100u);
    CloseHandle(ta);
    CloseHandle(tb);
    CloseHandle(ev);
    CloseHandle(go);
}

// A process started by the harness may reach a timed wait before the
// harness calls the machine again; the harness counts as running from the
// start, so the wait cannot run out meanwhile, however late the harness is.
TEST(Clock, TimeStandsStillFromTheStartOfAProcess) {
    sim::Machine m;
    std::atomic<DWORD> woke_at{0};
    const DWORD pid = m.start_process("Waiter.exe", [&woke_at]() -> int {
        HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        WaitForSingleObject(e, 3000);
        woke_at = GetTickCount();
        CloseHandle(e);
        return 0;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a late harness
    m.quiesce();
    EXPECT_EQ(m.now_us(), 0u);
    EXPECT_FALSE(m.process_ended(pid));
    m.settle();
    EXPECT_TRUE(m.process_ended(pid));
    EXPECT_EQ(woke_at.load(), 3000u);
}

TEST(Clock, AdvanceStopsAtItsTarget) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Timed a{ev, 500};
    HANDLE t = CreateThread(nullptr, 512, TimedWaiter, &a, 0, nullptr);
    // settle() would run the wait out; advance only 200 ms, then signal.
    m.advance_ms(200);
    EXPECT_EQ(m.now_us(), 200000u);
    SetEvent(ev);
    m.settle();
    EXPECT_EQ(a.result, WAIT_OBJECT_0);
    EXPECT_EQ(a.woke_at, 200u);
    CloseHandle(t);
    CloseHandle(ev);
}

TEST(Clock, MessageBoxesAnswerAtOnceUnlessHeld) {
    sim::Machine m;
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
    m.hold_message_boxes(true);
    static std::atomic<int> after{0};
    after = 0;
    HANDLE t = CreateThread(
        nullptr, 512,
        [](LPVOID) -> DWORD {
            MessageBoxA(nullptr, "held", nullptr, MB_ICONWARNING);
            after = 1;
            return 0;
        },
        nullptr, 0, nullptr);
    m.settle();  // the thread is blocked in its message box
    EXPECT_EQ(m.open_message_boxes(), 1u);
    EXPECT_EQ(after.load(), 0);
    EXPECT_TRUE(m.release_message_box());
    m.settle();
    EXPECT_EQ(after.load(), 1);
    auto boxes = m.trace().events("msgbox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].fields["text"], "held");
    EXPECT_EQ(boxes[1].fields["caption"], "Error");  // a NULL caption shows as "Error"
    EXPECT_EQ(boxes[1].fields["style"], MB_ICONWARNING);
    CloseHandle(t);
}

struct IdleCase {
    const char* name;
    int ready_after_ms;
    bool console;
    DWORD expected;
    uint64_t at_us;
};

class InputIdle : public testing::TestWithParam<IdleCase> {};

TEST_P(InputIdle, WaitForInputIdleFollowsTheProgram) {
    const IdleCase& c = GetParam();
    sim::Config cfg;
    sim::Machine m(cfg);
    sim::ProgramSpec spec;
    spec.ready_after_ms = c.ready_after_ms;
    spec.console = c.console;
    m.install_program("C:\\WINDOWS\\SYSTEM\\Quavel.exe", spec);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    char cmd[] = "C:\\WINDOWS\\SYSTEM\\Quavel -t2";
    ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForInputIdle(pi.hProcess, 10000), c.expected);
    EXPECT_EQ(m.now_us(), c.at_us);
    auto launches = m.trace().events("launch");
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].fields["command_line"], "C:\\WINDOWS\\SYSTEM\\Quavel -t2");
    TerminateProcess(pi.hProcess, 666);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 666u);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_TRUE(m.misuse().empty());
}

INSTANTIATE_TEST_SUITE_P(Programs, InputIdle,
                         testing::Values(IdleCase{"ready_after_50ms", 50, false, 0, 50000},
                                         IdleCase{"never_ready", -1, false, WAIT_TIMEOUT, 10000000},
                                         IdleCase{"console", 0, true, WAIT_FAILED, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Processes, ExitEventOfTheCalibrationProgramArrivesOnTime) {
    sim::Machine m;
    sim::ProgramSpec spec;
    spec.ready_after_ms = 50;
    spec.sets_exit_event_after_ms = 500;
    m.install_program("C:\\WINDOWS\\SYSTEM\\Quavel.exe", spec);
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, "RykCalExitEvent");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    char cmd[] = "C:\\WINDOWS\\SYSTEM\\Quavel";
    ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(ev, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(m.now_us(), 500000u);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);  // it has finished
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(ev);
}

TEST(Processes, MissingProgramFailsAndIsRecorded) {
    sim::Machine m;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    char cmd[] = "C:\\WINDOWS\\SYSTEM\\Quavel -t0";
    EXPECT_FALSE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    auto launches = m.trace().events("launch");
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].fields["ok"], false);
}

TEST(Processes, ProgramStartedByTheHarnessEndsWithItsExitCode) {
    sim::Machine m;
    DWORD pid = m.start_process("prog", [] {
        HWND unused = nullptr;
        (void)unused;
        Sleep(30);
        return 7;
    });
    m.settle();
    EXPECT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), 7u);
    EXPECT_EQ(m.now_us(), 30000u);
}

}  // namespace
