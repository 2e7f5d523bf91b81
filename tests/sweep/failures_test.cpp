// Faults on cue: Win32 calls the simulated machine fails by name and
// occurrence, the driver refusing a request by its position, and the
// scenario keys for both.
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/protocol.h"
#include "machine.h"
#include "orvane/driver.h"
#include "play.h"
#include "registry.h"
#include "scenario.h"

namespace {

using sim::Machine;

// Each failure-capable function, called the way the program calls it, with
// what Windows returns when it fails: a null or false result and the
// thread's last error, or (the registry) the error as the result.
struct FailCase {
    const char* function;
    std::function<bool(DWORD* error)> call;  // true when the call failed; *error what it reported
};

const char kKey[] = "SOFTWARE\\Ryk";

std::vector<FailCase> fail_cases() {
    auto last = [](DWORD* e) { *e = GetLastError(); };
    return {
        {"CreateEventA",
         [=](DWORD* e) {
             SetLastError(0xdeadbeef);
             HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
             last(e);
             if (h) CloseHandle(h);
             return h == nullptr;
         }},
        {"CreateMutexA",
         [=](DWORD* e) {
             HANDLE h = CreateMutexA(nullptr, TRUE, "RykTestMutex");
             last(e);
             if (h) {
                 ReleaseMutex(h);
                 CloseHandle(h);
             }
             return h == nullptr;
         }},
        {"RegisterWindowMessageA",
         [=](DWORD* e) {
             UINT m = RegisterWindowMessageA("RykTestMessage");
             last(e);
             return m == 0;
         }},
        {"RegOpenKeyExA",
         [](DWORD* e) {
             SetLastError(77);
             HKEY k = nullptr;
             *e = static_cast<DWORD>(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &k));
             if (*e == ERROR_SUCCESS) RegCloseKey(k);
             EXPECT_EQ(GetLastError(), 77u) << "a registry function leaves the last error alone";
             return *e != ERROR_SUCCESS;
         }},
        {"new(nothrow)",
         [](DWORD* e) {
             *e = 0;
             GetCurrentThreadId();  // a machine thread from its first Win32 call on
             int* volatile p = new (std::nothrow) int[4];
             const bool failed = p == nullptr;
             delete[] p;
             return failed;
         }},
    };
}

TEST(FailOnCue, TheNthCallFailsAsWindowsFailsIt) {
    const DWORD want_error[] = {ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY,
                                ERROR_ACCESS_DENIED, 0};
    size_t i = 0;
    for (const auto& c : fail_cases()) {
        SCOPED_TRACE(c.function);
        Machine m;
        m.registry().create_key(HKEY_LOCAL_MACHINE, kKey);
        m.fail_call(c.function, 2);
        DWORD e = 0;
        EXPECT_FALSE(c.call(&e)) << "call 1";
        EXPECT_TRUE(c.call(&e)) << "call 2";
        EXPECT_EQ(e, want_error[i]);
        EXPECT_FALSE(c.call(&e)) << "call 3";
        EXPECT_EQ(m.call_counts()[c.function], 3u);
        int fails = 0;
        for (const auto& ev : m.trace().events())
            if (ev.ev == "fail") {
                ++fails;
                EXPECT_EQ(ev.fields["function"], c.function);
                EXPECT_EQ(ev.fields["call"], 2);
            }
        EXPECT_EQ(fails, 1);
        ++i;
    }
}

TEST(FailOnCue, OnwardFailsEveryLaterCallAndRulesAddUp) {
    Machine m;
    m.fail_call("CreateEventA", 2, true);
    m.fail_call("CreateThread", 1);
    std::vector<bool> got;
    for (int n = 0; n < 4; ++n) {
        HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        got.push_back(h == nullptr);
        if (h) CloseHandle(h);
    }
    EXPECT_EQ(got, (std::vector<bool>{false, true, true, true}));
    DWORD id = 0;
    EXPECT_EQ(CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, &id), nullptr);
    m.clear_failures();
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(h, nullptr);
    CloseHandle(h);
}

TEST(FailOnCue, OnlyTheNamedProcessIsCountedAndUnknownNamesAreRefused) {
    Machine m;
    m.set_failing_process("RykXyLdr.exe");
    m.fail_call("CreateEventA", 1);
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // this test's thread is not RykXyLdr.exe's
    EXPECT_NE(h, nullptr);
    CloseHandle(h);
    EXPECT_EQ(m.call_counts().count("CreateEventA"), 0u);
    EXPECT_THROW(m.fail_call("CloseHandle", 1), std::invalid_argument);
}

// The driver refuses by position: the request it handles in that place,
// whatever its code, and with `onward` every later one.
TEST(RefuseByPosition, TheRequestInThatPlaceAndWithOnwardEveryLaterOne) {
    for (bool onward : {false, true}) {
        SCOPED_TRACE(onward ? "onward" : "one");
        Machine m;
        sim::orvane::TouchscreenConfig ts;
        ts.serial = "TS-0001";
        m.driver().add_touchscreen(ts);
        sim::orvane::Refusal r;
        r.position = 2;
        r.onward = onward;
        m.driver().refuse(0, r);
        HANDLE dev = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        ASSERT_NE(dev, INVALID_HANDLE_VALUE);
        std::vector<bool> ok;
        for (int n = 0; n < 3; ++n) {
            RequestHeader req{};
            req.wTag2 = REQ_TAG;
            DWORD got = 0;
            ok.push_back(DeviceIoControl(dev, n == 1 ? REQ_END_CHANGE : REQ_BEGIN_CHANGE, &req, sizeof req, nullptr, 0,
                                         &got, nullptr) != FALSE);
        }
        CloseHandle(dev);
        EXPECT_EQ(ok, (std::vector<bool>{true, false, !onward}));
    }
}

// ------------------------------------------------------------ scenario keys

TEST(FaultKeys, FailAndRefusePositionAreRead) {
    const runner::Scenario sc = runner::parse_scenario(
        "[[refuse]]\nposition = 7\nonward = true\n"
        "[[refuse]]\nposition = 3\nrequest = \"any\"\n"
        "[[fail]]\nfunction = \"CreateThread\"\ncall = 2\n"
        "[[fail]]\nfunction = \"new(nothrow)\"\nonward = true\n",
        "f.toml");
    ASSERT_EQ(sc.refusals.size(), 2u);
    EXPECT_EQ(sc.refusals[0].rule.position, 7u);
    EXPECT_TRUE(sc.refusals[0].rule.onward);
    EXPECT_EQ(runner::describe(sc.refusals[0]), "refuse request 7 and every later one");
    EXPECT_EQ(sc.refusals[1].rule.position, 3u);
    EXPECT_FALSE(sc.refusals[1].rule.onward);
    ASSERT_EQ(sc.failures.size(), 2u);
    EXPECT_EQ(sc.failures[0].function, "CreateThread");
    EXPECT_EQ(sc.failures[0].call, 2u);
    EXPECT_FALSE(sc.failures[0].onward);
    EXPECT_EQ(sc.failures[1].function, "new(nothrow)");
    EXPECT_EQ(sc.failures[1].call, 1u);
    EXPECT_TRUE(sc.failures[1].onward);
}

struct BadKey {
    const char* text;
    const char* key;
    const char* message;
};

TEST(FaultKeys, MistakesAreLocated) {
    const BadKey cases[] = {
        {"[[fail]]\nfunction = \"CloseHandle\"\n", "fail[0].function", "cannot fail"},
        {"[[fail]]\ncall = 1\n", "fail[0]", "function"},
        {"[[fail]]\nfunction = \"CreateThread\"\ncall = 0\n", "fail[0].call", ""},
        {"[[fail]]\nfunction = \"CreateThread\"\ntimes = 2\n", "fail[0].times", "unknown key"},
        {"[[refuse]]\nposition = 0\n", "refuse[0].position", ""},
        {"[[refuse]]\nposition = 2\nrequest = \"REQ_GET_TOUCH\"\n", "refuse[0].request", "position"},
        {"[[refuse]]\nrequest = \"REQ_GET_TOUCH\"\nalways = true\nonward = true\n", "refuse[0].onward", "position"},
        {"[[refuse]]\nposition = 2\ntimes = 1\n", "refuse[0].times", "unknown key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            runner::parse_scenario(c.text, "bad.toml");
            ADD_FAILURE() << "accepted";
        } catch (const runner::ScenarioError& e) {
            EXPECT_EQ(e.key(), c.key);
            EXPECT_NE(e.message().find(c.message), std::string::npos) << e.message();
            EXPECT_GT(e.pos().line, 0);
        }
    }
}

// A whole run: a failure from the scenario reaches the program, and the run
// reports the calls it counted.
TEST(FaultKeys, PlayAppliesFailuresToTheProgramOnly) {
    runner::Scenario sc = runner::parse_scenario("[[fail]]\nfunction = \"CreateEventA\"\ncall = 1\n", "p.toml");
    const runner::RunResult r = runner::play(sc, [] {
        HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        const int code = (a == nullptr ? 1 : 0) + (b == nullptr ? 2 : 0);
        if (a) CloseHandle(a);
        if (b) CloseHandle(b);
        return code;
    });
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(r.calls.at("CreateEventA"), 2u);
}

}  // namespace
