// Processes: starting a program, waiting until it is ready for input, ending
// it. The helper programs come from the machine (fixture.h): a GUI program
// that reads its message queue, one that never does, and a console program.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "conformance_util.h"
#include "fixture.h"
#include "platform/win32.h"

namespace conformance {
namespace {

const char* KindName(ChildKind kind) {
    switch (kind) {
    case ChildKind::ready:
        return "ready";
    case ChildKind::never:
        return "never";
    case ChildKind::console:
        return "console";
    }
    return "?";
}

// A started program; ended and its handles closed when it goes out of scope.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pi_.hProcess != nullptr) {
            DWORD code = 0;
            if (GetExitCodeProcess(pi_.hProcess, &code) && code == static_cast<DWORD>(STILL_ACTIVE))
                TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 10000);
            CloseHandle(pi_.hProcess);
        }
        if (pi_.hThread != nullptr) CloseHandle(pi_.hThread);
    }

    // CreateProcessA's result; GetLastError() is left as CreateProcessA left it.
    BOOL Start(const std::string& command_line) {
        std::vector<char> line(command_line.begin(), command_line.end());
        line.push_back('\0');
        STARTUPINFOA si{};
        si.cb = sizeof si;
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
    }

    const PROCESS_INFORMATION& info() const { return pi_; }
    HANDLE process() const { return pi_.hProcess; }

private:
    PROCESS_INFORMATION pi_{};
};

TEST(Process, AMissingProgramFailsWithFileOrPathNotFound) {
    char system[MAX_PATH];
    const UINT len = GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_GT(len, 0u);
    const std::string dir(system);
    struct Case {
        bool as_application_name;  // else as the command line
        std::string path;
        DWORD error;
    };
    const Case cases[] = {
        // From a command line Windows searches for the program, and a program
        // it cannot find is not found, whatever part of the path is missing.
        {false, dir + "\\RykNoSuchProgram.exe", ERROR_FILE_NOT_FOUND},
        {false, dir + "\\RykNoSuchProgram.exe /with /arguments", ERROR_FILE_NOT_FOUND},
        {false, "\"" + dir + "\\RykNoSuchDir\\RykNoSuchProgram.exe\" /x", ERROR_FILE_NOT_FOUND},
        {false, "RykNoSuchProgram.exe", ERROR_FILE_NOT_FOUND},
        // An application name is opened as it is: a missing directory is a
        // missing path.
        {true, dir + "\\RykNoSuchProgram.exe", ERROR_FILE_NOT_FOUND},
        {true, dir + "\\RykNoSuchDir\\RykNoSuchProgram.exe", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.as_application_name ? "application name " : "command line ") + c.path);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::vector<char> line(c.path.begin(), c.path.end());
        line.push_back('\0');
        SetLastError(0xdeadbeef);
        const BOOL ok =
            c.as_application_name
                ? CreateProcessA(c.path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)
                : CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        EXPECT_FALSE(ok);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST(Process, StartingAProgramFillsProcessInformation) {
    Child child;
    ASSERT_TRUE(child.Start(ChildCommandLine(ChildKind::ready))) << "error " << GetLastError();
    const PROCESS_INFORMATION& pi = child.info();
    EXPECT_NE(pi.hProcess, nullptr);
    EXPECT_NE(pi.hThread, nullptr);
    EXPECT_NE(pi.dwProcessId, 0u);
    EXPECT_NE(pi.dwProcessId, GetCurrentProcessId());
    EXPECT_NE(pi.dwThreadId, 0u);
    EXPECT_NE(pi.dwThreadId, GetCurrentThreadId());

    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_TIMEOUT);
}

struct InputIdleCase {
    const char* label;
    ChildKind kind;
    bool ended_first;  // terminated before the call
    DWORD timeout;
    DWORD result;
};
void PrintTo(const InputIdleCase& c, std::ostream* os) { *os << c.label; }

const InputIdleCase kInputIdleCases[] = {
    // Ready as soon as it waits for messages with an empty queue.
    {"ready", ChildKind::ready, false, 10000, 0},
    // Never ready: the wait runs out.
    {"never", ChildKind::never, false, 300, WAIT_TIMEOUT},
    // A console program has no message queue to wait for: the call fails at
    // once.
    {"console", ChildKind::console, false, 300, WAIT_FAILED},
    // A program that has ended will never be ready: the call fails at once.
    {"ended", ChildKind::never, true, 300, WAIT_FAILED},
};

class InputIdleTest : public ::testing::TestWithParam<InputIdleCase> {};

TEST_P(InputIdleTest, WaitForInputIdleTellsWhetherTheProgramIsReadyForInput) {
    const InputIdleCase& c = GetParam();
    Child child;
    ASSERT_TRUE(child.Start(ChildCommandLine(c.kind))) << "error " << GetLastError();
    if (c.ended_first) {
        ASSERT_TRUE(TerminateProcess(child.process(), 3));
        ASSERT_EQ(WaitForSingleObject(child.process(), 10000), WAIT_OBJECT_0);
    }
    const DWORD before = GetTickCount();
    EXPECT_EQ(WaitForInputIdle(child.process(), c.timeout), c.result);
    if (c.result == WAIT_TIMEOUT) {
        EXPECT_GE(GetTickCount() - before + TickCountStepMs(), c.timeout);
    }
    // The call does not end the program.
    EXPECT_EQ(WaitForSingleObject(child.process(), 0), c.ended_first ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(Kinds, InputIdleTest, ::testing::ValuesIn(kInputIdleCases), ParamLabel());

}  // namespace

void PrintTo(ChildKind kind, std::ostream* os);

namespace {

class TerminateTest : public ::testing::TestWithParam<ChildKind> {};

TEST_P(TerminateTest, TerminateProcessSetsTheExitCodeAndSignalsTheProcess) {
    Child child;
    ASSERT_TRUE(child.Start(ChildCommandLine(GetParam()))) << "error " << GetLastError();
    const PROCESS_INFORMATION& pi = child.info();
    if (GetParam() == ChildKind::ready) {
        EXPECT_EQ(WaitForInputIdle(pi.hProcess, 10000), 0u);
    }

    EXPECT_TRUE(TerminateProcess(pi.hProcess, 0xC0DE));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(pi.hThread, 10000), WAIT_OBJECT_0) << "the main thread ends with its process";
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 0xC0DEu);
    code = 0;
    EXPECT_TRUE(GetExitCodeThread(pi.hThread, &code));
    EXPECT_EQ(code, 0xC0DEu) << "the main thread's exit code is the process's";
}

INSTANTIATE_TEST_SUITE_P(Kinds, TerminateTest,
                         ::testing::Values(ChildKind::ready, ChildKind::never, ChildKind::console),
                         [](const ::testing::TestParamInfo<ChildKind>& param_info) {
                             return std::string(KindName(param_info.param));
                         });

TEST(Process, TerminatingAProgramThatHasEndedFailsWithAccessDenied) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine's TerminateProcess succeeds on a process that has already ended; Windows fails it "
                        "with ERROR_ACCESS_DENIED";
    }
    Child child;
    ASSERT_TRUE(child.Start(ChildCommandLine(ChildKind::never))) << "error " << GetLastError();
    ASSERT_TRUE(TerminateProcess(child.process(), 4));
    ASSERT_EQ(WaitForSingleObject(child.process(), 10000), WAIT_OBJECT_0);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(TerminateProcess(child.process(), 5));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(child.process(), &code));
    EXPECT_EQ(code, 4u) << "a second TerminateProcess changed the exit code";
}

}  // namespace

void PrintTo(ChildKind kind, std::ostream* os) { *os << KindName(kind); }

}  // namespace conformance
