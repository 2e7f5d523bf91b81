// Processes: starting a program, waiting until it is ready for input, ending
// it. The helper programs come from the machine (fixture.h): a GUI program
// that reads its message queue, one that never does, and a console program.

#include <gtest/gtest.h>

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

TEST(Process, AMissingProgramIsFileNotFound) {
    char system[MAX_PATH];
    const UINT len = GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_GT(len, 0u);
    const std::string command_lines[] = {
        std::string(system) + "\\RykNoSuchProgram.exe",
        std::string(system) + "\\RykNoSuchProgram.exe /with /arguments",
        "RykNoSuchProgram.exe",
    };
    for (const std::string& line : command_lines) {
        Child child;
        SetLastError(0);
        EXPECT_FALSE(child.Start(line)) << line;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << line;
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
    ChildKind kind;
    DWORD timeout;
    DWORD result;
};

const InputIdleCase kInputIdleCases[] = {
    // Ready as soon as it waits for messages with an empty queue.
    {ChildKind::ready, 10000, 0},
    // Never ready: the wait runs out.
    {ChildKind::never, 300, WAIT_TIMEOUT},
    // A console program has no message queue to wait for: the call fails at
    // once (Wine returns WAIT_FAILED).
    {ChildKind::console, 300, WAIT_FAILED},
};

class InputIdleTest : public ::testing::TestWithParam<InputIdleCase> {};

TEST_P(InputIdleTest, WaitForInputIdleTellsWhetherTheProgramIsReadyForInput) {
    const InputIdleCase& c = GetParam();
    Child child;
    ASSERT_TRUE(child.Start(ChildCommandLine(c.kind))) << "error " << GetLastError();
    const DWORD before = GetTickCount();
    EXPECT_EQ(WaitForInputIdle(child.process(), c.timeout), c.result);
    if (c.result == WAIT_TIMEOUT) {
        EXPECT_GE(GetTickCount() - before, c.timeout);
    }
    // Still running afterwards in every case.
    EXPECT_EQ(WaitForSingleObject(child.process(), 0), WAIT_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(Kinds, InputIdleTest, ::testing::ValuesIn(kInputIdleCases),
                         [](const ::testing::TestParamInfo<InputIdleCase>& param_info) {
                             return std::string(KindName(param_info.param.kind));
                         });

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
}

INSTANTIATE_TEST_SUITE_P(Kinds, TerminateTest,
                         ::testing::Values(ChildKind::ready, ChildKind::never, ChildKind::console),
                         [](const ::testing::TestParamInfo<ChildKind>& param_info) {
                             return std::string(KindName(param_info.param));
                         });

}  // namespace
}  // namespace conformance
