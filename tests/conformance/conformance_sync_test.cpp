// Kernel objects, waits, threads and critical sections: the behaviour the
// program's single-instance check, its worker threads and its time-outs rely
// on.

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "conformance_util.h"
#include "fixture.h"
#include "platform/win32.h"

namespace conformance {
namespace {

// A handle value that no object of the process has.
const HANDLE kBogusHandle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x00BAD000u));

// ---------------------------------------------------------------- named objects

struct NamedKind {
    const char* label;
    HANDLE (*create)(const char* name);
    // True when a change made through `a` is seen through `b`, i.e. both
    // handles refer to one object. Leaves the object as it found it.
    bool (*same_object)(HANDLE a, HANDLE b);
};
void PrintTo(const NamedKind& c, std::ostream* os) { *os << c.label; }

HANDLE CreateNamedEvent(const char* name) { return CreateEventA(nullptr, TRUE, FALSE, name); }
HANDLE CreateNamedMutex(const char* name) { return CreateMutexA(nullptr, FALSE, name); }

bool EventShared(HANDLE a, HANDLE b) {
    SetEvent(a);
    const bool seen = WaitForSingleObject(b, 0) == WAIT_OBJECT_0;
    ResetEvent(a);
    return seen;
}

bool MutexShared(HANDLE a, HANDLE b) {
    if (WaitForSingleObject(a, 0) != WAIT_OBJECT_0) return false;
    // Another thread cannot take it through b while this thread owns it
    // through a.
    const DWORD other = CallOnNewThread([b]() -> DWORD {
        const DWORD r = WaitForSingleObject(b, 0);
        if (r == WAIT_OBJECT_0) ReleaseMutex(b);
        return r;
    });
    ReleaseMutex(a);
    return other == WAIT_TIMEOUT;
}

const NamedKind kNamedKinds[] = {
    {"event", CreateNamedEvent, EventShared},
    {"mutex", CreateNamedMutex, MutexShared},
};

class NamedObjectTest : public ::testing::TestWithParam<NamedKind> {};

TEST_P(NamedObjectTest, SecondCreateOpensTheSameObjectUntilTheLastHandleCloses) {
    const NamedKind& kind = GetParam();
    const std::string name = UniqueName(kind.label);

    SetLastError(0xdeadbeef);
    Handle first(kind.create(name.c_str()));
    ASSERT_TRUE(first);
    EXPECT_EQ(GetLastError(), 0u) << "a fresh create must leave no error";

    SetLastError(0xdeadbeef);
    Handle second(kind.create(name.c_str()));
    ASSERT_TRUE(second);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(kind.same_object(first.get(), second.get()));
    EXPECT_TRUE(kind.same_object(second.get(), first.get()));

    // Closing one of two handles keeps the object and its name.
    first.reset();
    SetLastError(0xdeadbeef);
    Handle third(kind.create(name.c_str()));
    ASSERT_TRUE(third);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(kind.same_object(second.get(), third.get()));

    // After the last handle is closed the name is free again.
    second.reset();
    third.reset();
    SetLastError(0xdeadbeef);
    Handle fresh(kind.create(name.c_str()));
    ASSERT_TRUE(fresh);
    EXPECT_EQ(GetLastError(), 0u) << "the name outlived the object's last handle";
}

INSTANTIATE_TEST_SUITE_P(Kinds, NamedObjectTest, ::testing::ValuesIn(kNamedKinds), ParamLabel());

TEST(NamedEvent, OpenEventFindsItOnlyWhileAHandleIsOpen) {
    const std::string name = UniqueName("open");

    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    Handle created(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(created);
    Handle opened(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()));
    ASSERT_TRUE(opened);
    EXPECT_TRUE(EventShared(opened.get(), created.get()));

    created.reset();
    opened.reset();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(NamedObject, NamesAreCaseSensitive) {
    const std::string name = UniqueName("Case");
    const std::string upper = UpperCase(name);
    ASSERT_NE(name, upper);
    for (const NamedKind& kind : kNamedKinds) {
        SCOPED_TRACE(kind.label);
        Handle mixed(kind.create(name.c_str()));
        ASSERT_TRUE(mixed);
        SetLastError(0xdeadbeef);
        Handle other(kind.create(upper.c_str()));
        ASSERT_TRUE(other);
        EXPECT_EQ(GetLastError(), 0u) << "a name differing only in letter case opened the same object";
        EXPECT_FALSE(kind.same_object(mixed.get(), other.get()));
    }
    Handle event(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, upper.c_str()), nullptr) << "OpenEventA ignored letter case";
}

TEST(NamedObject, ANameHeldByAnObjectOfTheOtherKindCannotBeCreated) {
    struct Case {
        HANDLE (*holder)(const char*);
        HANDLE (*second)(const char*);
    };
    const Case cases[] = {{CreateNamedEvent, CreateNamedMutex}, {CreateNamedMutex, CreateNamedEvent}};
    for (const Case& c : cases) {
        const std::string name = UniqueName("clash");
        Handle holder(c.holder(name.c_str()));
        ASSERT_TRUE(holder);
        SetLastError(0xdeadbeef);
        Handle second(c.second(name.c_str()));
        EXPECT_FALSE(second) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << name;
    }
}

// ---------------------------------------------------------------- mutex ownership

TEST(Mutex, InitialOwnerHoldsItRecursivelyAndOnlyTheOwnerReleasesIt) {
    Handle mutex(CreateMutexA(nullptr, TRUE, UniqueName("owned").c_str()));
    ASSERT_TRUE(mutex);
    const HANDLE m = mutex.get();

    // The owner's wait succeeds at once; the mutex is now held twice.
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);

    struct Probe {
        DWORD wait;
        BOOL released;
        DWORD error;
    };
    auto probe_from_other_thread = [m]() {
        Probe p{};
        RunOnNewThread([&p, m]() {
            p.wait = WaitForSingleObject(m, 50);
            if (p.wait == WAIT_OBJECT_0) {
                ReleaseMutex(m);
                return;
            }
            SetLastError(0xdeadbeef);
            p.released = ReleaseMutex(m);
            p.error = GetLastError();
        });
        return p;
    };

    Probe held_twice = probe_from_other_thread();
    EXPECT_EQ(held_twice.wait, WAIT_TIMEOUT);
    EXPECT_FALSE(held_twice.released) << "a thread that does not own the mutex released it";
    EXPECT_EQ(held_twice.error, static_cast<DWORD>(ERROR_NOT_OWNER));

    ASSERT_TRUE(ReleaseMutex(m));
    Probe held_once = probe_from_other_thread();
    EXPECT_EQ(held_once.wait, WAIT_TIMEOUT) << "one release undid two acquisitions";

    ASSERT_TRUE(ReleaseMutex(m));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(m)) << "released a mutex no longer owned";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

    Probe free_now = probe_from_other_thread();
    EXPECT_EQ(free_now.wait, WAIT_OBJECT_0);
}

TEST(Mutex, AMutexWhoseOwnerEndedIsAbandonedToTheNextWaiter) {
    Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
    ASSERT_TRUE(mutex);
    const HANDLE m = mutex.get();
    // The thread takes the mutex and ends without releasing it.
    EXPECT_EQ(CallOnNewThread([m]() { return WaitForSingleObject(m, 0); }), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_ABANDONED_0);
    // The waiter that was told so owns the mutex now.
    EXPECT_EQ(CallOnNewThread([m]() { return WaitForSingleObject(m, 0); }), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0) << "abandoned is reported once";
    EXPECT_TRUE(ReleaseMutex(m));
}

// ---------------------------------------------------------------- events

struct EventCase {
    const char* label;
    BOOL manual_reset;
    BOOL initially_set;
    int set_calls;
    bool reset_after;
    std::vector<DWORD> waits;  // results of successive zero time-out waits
};
void PrintTo(const EventCase& c, std::ostream* os) { *os << c.label; }

const EventCase kEventCases[] = {
    {"auto_never_set", FALSE, FALSE, 0, false, {WAIT_TIMEOUT}},
    {"auto_set_once_serves_one_wait", FALSE, FALSE, 1, false, {WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_TIMEOUT}},
    {"auto_set_twice_still_serves_one_wait", FALSE, FALSE, 2, false, {WAIT_OBJECT_0, WAIT_TIMEOUT}},
    {"auto_initially_set_serves_one_wait", FALSE, TRUE, 0, false, {WAIT_OBJECT_0, WAIT_TIMEOUT}},
    {"auto_reset_clears", FALSE, FALSE, 1, true, {WAIT_TIMEOUT}},
    {"manual_never_set", TRUE, FALSE, 0, false, {WAIT_TIMEOUT}},
    {"manual_stays_set", TRUE, FALSE, 1, false, {WAIT_OBJECT_0, WAIT_OBJECT_0, WAIT_OBJECT_0}},
    {"manual_initially_set_stays_set", TRUE, TRUE, 0, false, {WAIT_OBJECT_0, WAIT_OBJECT_0}},
    {"manual_reset_clears", TRUE, TRUE, 1, true, {WAIT_TIMEOUT}},
};

class EventTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventTest, ZeroTimeoutWaitsSeeTheEventState) {
    const EventCase& c = GetParam();
    Handle event(CreateEventA(nullptr, c.manual_reset, c.initially_set, nullptr));
    ASSERT_TRUE(event);
    for (int i = 0; i < c.set_calls; ++i) {
        ASSERT_TRUE(SetEvent(event.get()));
    }
    if (c.reset_after) {
        ASSERT_TRUE(ResetEvent(event.get()));
    }
    std::vector<DWORD> got;
    for (size_t i = 0; i < c.waits.size(); ++i) got.push_back(WaitForSingleObject(event.get(), 0));
    EXPECT_EQ(got, c.waits);
}

INSTANTIATE_TEST_SUITE_P(Cases, EventTest, ::testing::ValuesIn(kEventCases), ParamLabel());

TEST(Event, SetEventWakesWaitingThreadsAndAnAutoResetEventIsConsumedByTheWaitItEnds) {
    struct Case {
        BOOL manual_reset;
        DWORD second_waiter_after_one_set;  // the other waiting thread
        DWORD later_wait;                   // a zero time-out wait once both are done
    };
    const Case cases[] = {
        {FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
        {TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.manual_reset ? "manual reset" : "auto reset");
        Handle event(CreateEventA(nullptr, c.manual_reset, FALSE, nullptr));
        ASSERT_TRUE(event);
        const HANDLE e = event.get();
        // Whether or not the threads are already waiting when SetEvent comes,
        // one SetEvent of an auto-reset event ends exactly one of the waits.
        Handle waiters[2] = {Handle(StartThread([e]() { return WaitForSingleObject(e, INFINITE); })),
                             Handle(StartThread([e]() { return WaitForSingleObject(e, INFINITE); }))};
        ASSERT_TRUE(waiters[0] && waiters[1]);
        ASSERT_TRUE(SetEvent(e));
        const HANDLE both[2] = {waiters[0].get(), waiters[1].get()};
        const DWORD first = WaitForMultipleObjects(2, both, FALSE, INFINITE);
        ASSERT_LT(first, WAIT_OBJECT_0 + 2);
        const HANDLE other = both[1 - (first - WAIT_OBJECT_0)];
        EXPECT_EQ(WaitForSingleObject(other, 100), c.second_waiter_after_one_set);
        SetEvent(e);  // ends the second wait; an auto-reset event is consumed by it
        EXPECT_EQ(WaitForSingleObject(other, INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(e, 0), c.later_wait);
        for (const HANDLE t : both) {
            DWORD code = 0;
            EXPECT_TRUE(GetExitCodeThread(t, &code));
            EXPECT_EQ(code, WAIT_OBJECT_0) << "a waiter's own wait result";
        }
    }
}

// ---------------------------------------------------------------- wait for any

struct WaitAnyCase {
    const char* label;
    BOOL manual_reset;
    std::vector<int> signalled;  // indexes of the three events that are set
    std::vector<DWORD> waits;    // results of successive zero time-out waits
};
void PrintTo(const WaitAnyCase& c, std::ostream* os) { *os << c.label; }

const WaitAnyCase kWaitAnyCases[] = {
    {"none_set", FALSE, {}, {WAIT_TIMEOUT}},
    {"auto_lowest_first_then_next", FALSE, {1, 2}, {WAIT_OBJECT_0 + 1, WAIT_OBJECT_0 + 2, WAIT_TIMEOUT}},
    {"auto_all_set_in_index_order",
     FALSE,
     {2, 0, 1},
     {WAIT_OBJECT_0, WAIT_OBJECT_0 + 1, WAIT_OBJECT_0 + 2, WAIT_TIMEOUT}},
    {"auto_last_only", FALSE, {2}, {WAIT_OBJECT_0 + 2, WAIT_TIMEOUT}},
    {"manual_lowest_stays_reported", TRUE, {2, 1}, {WAIT_OBJECT_0 + 1, WAIT_OBJECT_0 + 1}},
};

class WaitAnyTest : public ::testing::TestWithParam<WaitAnyCase> {};

TEST_P(WaitAnyTest, ReportsTheLowestSignalledIndexAndLeavesTheOthersSet) {
    const WaitAnyCase& c = GetParam();
    Handle events[3];
    HANDLE raw[3];
    for (int i = 0; i < 3; ++i) {
        events[i].reset(CreateEventA(nullptr, c.manual_reset, FALSE, nullptr));
        ASSERT_TRUE(events[i]);
        raw[i] = events[i].get();
    }
    for (const int i : c.signalled) {
        ASSERT_TRUE(SetEvent(raw[i]));
    }
    std::vector<DWORD> got;
    for (size_t i = 0; i < c.waits.size(); ++i) got.push_back(WaitForMultipleObjects(3, raw, FALSE, 0));
    EXPECT_EQ(got, c.waits);
}

INSTANTIATE_TEST_SUITE_P(Cases, WaitAnyTest, ::testing::ValuesIn(kWaitAnyCases), ParamLabel());

// ---------------------------------------------------------------- timed waits

struct TimedCase {
    const char* label;
    DWORD (*wait)(HANDLE unsignalled, DWORD ms);  // result of a wait that should time out
};
void PrintTo(const TimedCase& c, std::ostream* os) { *os << c.label; }

const TimedCase kTimedCases[] = {
    {"Sleep",
     [](HANDLE, DWORD ms) -> DWORD {
         Sleep(ms);
         return WAIT_TIMEOUT;
     }},
    {"WaitForSingleObject", [](HANDLE h, DWORD ms) { return WaitForSingleObject(h, ms); }},
    {"WaitForMultipleObjects",
     [](HANDLE h, DWORD ms) {
         const HANDLE two[2] = {h, h};
         return WaitForMultipleObjects(2, two, FALSE, ms);
     }},
};

class TimedWaitTest : public ::testing::TestWithParam<TimedCase> {};

TEST_P(TimedWaitTest, TimesOutAndTheTickCountAdvancesByAtLeastTheTimeout) {
    Handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    for (const DWORD ms : {DWORD{120}, DWORD{300}}) {
        const DWORD before = GetTickCount();
        EXPECT_EQ(GetParam().wait(event.get(), ms), WAIT_TIMEOUT);
        const DWORD elapsed = GetTickCount() - before;
        EXPECT_GE(elapsed + TickCountStepMs(), ms)
            << "the wait returned before its time-out had passed on GetTickCount";
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, TimedWaitTest, ::testing::ValuesIn(kTimedCases), ParamLabel());

TEST(Wait, AnInvalidHandleFailsWithErrorInvalidHandle) {
    Handle event(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    ASSERT_TRUE(event);
    struct Case {
        const char* label;
        HANDLE handle;
    };
    const Case cases[] = {{"NULL", nullptr}, {"never issued", kBogusHandle}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(WaitForSingleObject(c.handle, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

        // One bad handle fails the whole wait, even next to a signalled one.
        const HANDLE pair[2] = {event.get(), c.handle};
        SetLastError(0xdeadbeef);
        EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetEvent(c.handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

// ---------------------------------------------------------------- threads

struct ThreadRecord {
    LPVOID param = nullptr;
};

DWORD WINAPI ReturnsFortyTwo(LPVOID param) {
    static_cast<ThreadRecord*>(param)->param = param;
    return 42;
}

DWORD WINAPI ExitsWithSeventeen(LPVOID param) {
    static_cast<ThreadRecord*>(param)->param = param;
    ExitThread(17);
}

TEST(Thread, RunsTheRoutineWithItsParameterAndReportsItsExitCode) {
    struct Case {
        const char* label;
        LPTHREAD_START_ROUTINE routine;
        DWORD code;
    };
    const Case cases[] = {{"routine returns", ReturnsFortyTwo, 42}, {"ExitThread", ExitsWithSeventeen, 17}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ThreadRecord record;
        DWORD id = 0;
        Handle thread(CreateThread(nullptr, 0, c.routine, &record, 0, &id));
        ASSERT_TRUE(thread);
        EXPECT_NE(id, 0u);
        EXPECT_NE(id, GetCurrentThreadId());
        EXPECT_EQ(WaitForSingleObject(thread.get(), INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(record.param, &record);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
        EXPECT_EQ(code, c.code);
        // An ended thread's handle stays signalled.
        EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
    }
}

TEST(Thread, IsStillActiveAndUnsignalledWhileItRuns) {
    Handle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(go);
    const HANDLE g = go.get();
    Handle thread(StartThread([g]() -> DWORD {
        WaitForSingleObject(g, INFINITE);
        return 5;
    }));
    ASSERT_TRUE(thread);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_TIMEOUT);
    SetEvent(g);
    EXPECT_EQ(WaitForSingleObject(thread.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(code, 5u);
}

TEST(Thread, PriorityRoundTrips) {
    Handle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(go);
    const HANDLE g = go.get();
    Handle thread(StartThread([g]() { return WaitForSingleObject(g, INFINITE); }));
    ASSERT_TRUE(thread);
    EXPECT_EQ(GetThreadPriority(thread.get()), THREAD_PRIORITY_NORMAL) << "a new thread's priority";
    const int priorities[] = {THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_BELOW_NORMAL,
                              THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_TIME_CRITICAL,
                              THREAD_PRIORITY_NORMAL};
    for (const int p : priorities) {
        EXPECT_TRUE(SetThreadPriority(thread.get(), p)) << p;
        EXPECT_EQ(GetThreadPriority(thread.get()), p);
    }
    // Values between the named levels are refused and change nothing.
    ASSERT_TRUE(SetThreadPriority(thread.get(), THREAD_PRIORITY_ABOVE_NORMAL));
    std::vector<int> accepted, wrong_error;
    for (const int p : {3, 5, 14, 16, -3, -7, -14, -16}) {
        SetLastError(0xdeadbeef);
        if (SetThreadPriority(thread.get(), p)) {
            accepted.push_back(p);
        } else if (GetLastError() != static_cast<DWORD>(ERROR_INVALID_PARAMETER)) {
            wrong_error.push_back(p);
        }
    }
    EXPECT_EQ(accepted, std::vector<int>{}) << "priorities that should be refused";
    EXPECT_EQ(wrong_error, std::vector<int>{}) << "refused without ERROR_INVALID_PARAMETER";
    EXPECT_EQ(GetThreadPriority(thread.get()), THREAD_PRIORITY_ABOVE_NORMAL);
    SetEvent(g);
    WaitForSingleObject(thread.get(), INFINITE);

    // The current thread through its pseudo handle.
    const int own = GetThreadPriority(GetCurrentThread());
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_HIGHEST);
    SetThreadPriority(GetCurrentThread(), own);
}

TEST(Thread, LastErrorBelongsToEachThread) {
    SetLastError(1111);
    struct Seen {
        DWORD at_start;
        DWORD after_set;
    } seen{};
    RunOnNewThread([&seen]() {
        seen.at_start = GetLastError();
        SetLastError(2222);
        seen.after_set = GetLastError();
    });
    EXPECT_EQ(seen.at_start, 0u) << "a new thread starts with no error";
    EXPECT_EQ(seen.after_set, 2222u);
    EXPECT_EQ(GetLastError(), 1111u) << "another thread's SetLastError changed this thread's error";
}

// ---------------------------------------------------------------- critical sections

class CriticalSectionTest : public ::testing::Test {
protected:
    void SetUp() override { InitializeCriticalSection(&cs_); }
    void TearDown() override { DeleteCriticalSection(&cs_); }

    // Starts a thread that enters the section, notes that it got in, and
    // leaves.
    HANDLE StartContender() {
        return StartThread([this]() -> DWORD {
            EnterCriticalSection(&cs_);
            entered_.store(true);
            LeaveCriticalSection(&cs_);
            return 0;
        });
    }

    CRITICAL_SECTION cs_{};
    std::atomic<bool> entered_{false};
};

TEST_F(CriticalSectionTest, AnotherThreadWaitsUntilTheOwnerHasLeftAsOftenAsItEntered) {
    // The owner enters twice (recursive entry must not block it).
    EnterCriticalSection(&cs_);
    EnterCriticalSection(&cs_);
    Handle contender(StartContender());
    ASSERT_TRUE(contender);

    EXPECT_EQ(WaitForSingleObject(contender.get(), 100), WAIT_TIMEOUT) << "got in while the owner held it twice";
    LeaveCriticalSection(&cs_);
    EXPECT_EQ(WaitForSingleObject(contender.get(), 100), WAIT_TIMEOUT) << "got in while the owner still held it once";
    EXPECT_FALSE(entered_.load());
    LeaveCriticalSection(&cs_);
    EXPECT_EQ(WaitForSingleObject(contender.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(entered_.load());
}

TEST_F(CriticalSectionTest, TwoThreadsAreNeverInsideAtOnce) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    long counter = 0;  // touched only inside the section
    auto worker = [&]() -> DWORD {
        for (int i = 0; i < 2000; ++i) {
            EnterCriticalSection(&cs_);
            if (inside.fetch_add(1) != 0) overlap.store(true);
            const long read = counter;
            if ((i & 63) == 0) Sleep(0);
            counter = read + 1;
            inside.fetch_sub(1);
            LeaveCriticalSection(&cs_);
        }
        return 0;
    };
    Handle a(StartThread(worker));
    Handle b(StartThread(worker));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(WaitForSingleObject(a.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(counter, 4000);
}

}  // namespace
}  // namespace conformance
