// Quavel.exe, the calibration stand-in for Wine runs, as RykXyLdr.exe meets
// it: started with a command line, ready for input, setting
// "RykCalExitEvent" by itself after the time it is given or when it is told
// to close, and keeping a record of its command line. Runs from <build>/wine,
// beside Quavel.exe; exits 0 when every check holds.

#include "platform/win32.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

int g_failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++g_failures;
}

std::string folder_of_this_program() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path);
    return p.substr(0, p.find_last_of('\\'));
}

struct Case {
    const char* name;
    const char* exit_ms;  // RYK_QUAVEL_EXIT_MS
    bool close;           // told to close instead
};

}  // namespace

int main() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string log = std::string(temp) + "quavel-test-" + std::to_string(GetCurrentProcessId()) + ".jsonl";
    const std::string quavel = folder_of_this_program() + "\\Quavel.exe";

    const Case cases[] = {{"sets the exit event by itself", "200", false},
                          {"sets the exit event when told to close", "-1", true}};
    for (const Case& c : cases) {
        DeleteFileA(log.c_str());
        HANDLE exit_event = CreateEventA(nullptr, TRUE, FALSE, "RykCalExitEvent");
        SetEnvironmentVariableA("RYK_QUAVEL_LOG", log.c_str());
        SetEnvironmentVariableA("RYK_QUAVEL_READY_MS", "50");
        SetEnvironmentVariableA("RYK_QUAVEL_EXIT_MS", c.exit_ms);

        std::string command_line = quavel + " -t2";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        const bool started = CreateProcessA(quavel.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                            nullptr, &si, &pi) != FALSE;
        check(started, std::string(c.name) + ": Quavel.exe starts");
        if (!started) return 1;
        check(WaitForInputIdle(pi.hProcess, 20000) == 0, std::string(c.name) + ": it becomes ready for input");
        if (c.close) {
            HWND w = nullptr;
            for (int i = 0; i < 500 && !w; ++i, Sleep(10)) w = FindWindowA("QuavelTestWindow", nullptr);
            check(w != nullptr && PostMessageA(w, WM_CLOSE, 0, 0), std::string(c.name) + ": its window is told to close");
        }
        check(WaitForSingleObject(exit_event, 20000) == WAIT_OBJECT_0,
              std::string(c.name) + ": RykCalExitEvent is set");
        if (c.close)
            check(WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0, std::string(c.name) + ": it ends");
        else
            TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 20000);

        std::ifstream f(log);
        std::string first;
        std::getline(f, first);
        check(first.find("\"ev\":\"quavel_start\"") != std::string::npos && first.find(" -t2\"") != std::string::npos,
              std::string(c.name) + ": its record has its command line");
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        CloseHandle(exit_event);
    }
    DeleteFileA(log.c_str());
    std::printf("%s\n", g_failures ? "quavel_test: FAILED" : "quavel_test: all checks hold");
    return g_failures ? 1 : 0;
}
