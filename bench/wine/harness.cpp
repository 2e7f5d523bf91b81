// ryk-wine-bench.exe: one measured run of a program under Wine for the Wine
// section of scripts/bench (bench/wine/wine_bench.py drives it).
//
//   ryk-wine-bench.exe PROGRAM CLASS PIPE startup
//   ryk-wine-bench.exe PROGRAM CLASS PIPE latency HZ SECONDS WARMUP_MS FILE
//   ryk-wine-bench.exe PROGRAM CLASS PIPE idle FOLDER
//
// It starts PROGRAM (RykXyLdr.exe or ryk-wine-bare.exe, with the test driver
// orvane.vxd in the system directory) and notes the time from CreateProcessA
// to the moment a window of class CLASS exists ("startup_us"). Then:
// latency has the test driver's feeder (its control pipe PIPE) feed every
// touchscreen at HZ for SECONDS and prints its result ("result ..."; the
// latencies go to FILE); idle prints the process's handle count, creates
// FOLDER\ready and waits until FOLDER\done exists (the host reads the
// process's counters from /proc meanwhile), then prints the handle count
// again. Last it closes the program with WM_CLOSE and prints its exit code.
// Exit status 0 when every step worked.
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "wine/control.h"
#include "wine/lines.h"

namespace {

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int fail(const char* what) {
    std::printf("error %s (%lu)\n", what, static_cast<unsigned long>(GetLastError()));
    std::fflush(stdout);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: ryk-wine-bench PROGRAM CLASS PIPE startup|latency|idle ...\n");
        return 2;
    }
    const std::string program = argv[1], cls = argv[2], pipe = argv[3], action = argv[4];
    if (!(action == "startup" || (action == "latency" && argc == 9) || (action == "idle" && argc == 6))) {
        std::fprintf(stderr, "ryk-wine-bench: bad arguments for %s\n", action.c_str());
        return 2;
    }

    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + program + "\"";
    const uint64_t t0 = ryk_wine::now_us();
    if (!CreateProcessA(program.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return fail("CreateProcessA");
    HWND window = nullptr;
    while (!(window = FindWindowA(cls.c_str(), nullptr))) {
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) return fail("the program ended before its window");
        if (ryk_wine::now_us() - t0 > 60000000u) return fail("no window in 60 s");
    }
    const uint64_t t1 = ryk_wine::now_us();
    std::printf("startup_us %llu\n", static_cast<unsigned long long>(t1 - t0));
    std::printf("pid %lu\n", static_cast<unsigned long>(pi.dwProcessId));
    std::fflush(stdout);

    int status = 0;
    if (action == "latency") {
        Sleep(1000);  // the workers start after the window exists
        const std::string go = ryk_wine::control(
            pipe, std::string("bench_start\t") + argv[5] + "\t" + argv[6] + "\t" + argv[7] + "\t" + argv[8]);
        std::printf("start %s\n", go.c_str());
        if (go.rfind("ok", 0) != 0) status = 1;
        else {
            Sleep(static_cast<DWORD>(std::strtod(argv[6], nullptr) * 1000));
            std::printf("result %s\n", ryk_wine::control(pipe, "bench_result", 60000).c_str());
        }
    } else if (action == "idle") {
        Sleep(1000);
        std::printf("stats %s\n", ryk_wine::control(pipe, "bench_stats").c_str());
        const std::string folder = argv[5];
        const std::string ready = folder + "\\ready";
        HANDLE h = CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return fail("cannot create the ready file");
        CloseHandle(h);
        std::fflush(stdout);
        const uint64_t waited = ryk_wine::now_us();
        while (!exists(folder + "\\done")) {
            if (ryk_wine::now_us() - waited > 300000000u) return fail("no done file in 300 s");
            Sleep(20);
        }
        std::printf("stats %s\n", ryk_wine::control(pipe, "bench_stats").c_str());
    }
    std::fflush(stdout);

    PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 99);
        return fail("the program did not end within 30 s of WM_CLOSE");
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return status;
}
