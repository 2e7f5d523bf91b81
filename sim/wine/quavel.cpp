// Quavel.exe for tests under Wine: a stand-in for the maker's calibration
// program, which RykXyLdr.exe starts from the system directory when a
// touchscreen has no monitor.
//
// It appends a "quavel_start" record with its command line to the file
// RYK_QUAVEL_LOG, becomes ready for input (a window and a message loop)
// RYK_QUAVEL_READY_MS after its start (0 by default; -1: never, it then
// waits without a message loop), and sets "RykCalExitEvent" RYK_QUAVEL_EXIT_MS
// after its start (-1 by default: not by itself) or when it is told to close
// (WM_CLOSE), after which it ends.

#include "platform/win32.h"

#include <cstdlib>
#include <string>

#include "wine/lines.h"

namespace {

ryk_wine::LineFile g_log;

long env_ms(const char* name, long fallback) {
    char buf[64];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::strtol(buf, nullptr, 10) : fallback;
}

void set_exit_event(const char* why) {
    HANDLE e = OpenEventA(EVENT_MODIFY_STATE, FALSE, "RykCalExitEvent");
    ryk_wine::Json j("quavel_exit_event", ryk_wine::now_us());
    j.str("why", why).boolean("ok", e != nullptr && SetEvent(e));
    g_log.write(j.line());
    if (e) CloseHandle(e);
}

DWORD WINAPI exit_event_later(LPVOID ms) {
    Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(ms)));
    set_exit_event("timer");
    return 0;
}

LRESULT CALLBACK wndproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_CLOSE) {
        set_exit_event("close");
        DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    char log[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("RYK_QUAVEL_LOG", log, sizeof log);
    if (n > 0 && n < sizeof log) g_log.open(log);
    ryk_wine::Json start("quavel_start", ryk_wine::now_us());
    start.str("command_line", GetCommandLineA()).num("pid", GetCurrentProcessId());
    g_log.write(start.line());

    const long ready_ms = env_ms("RYK_QUAVEL_READY_MS", 0);
    const long exit_ms = env_ms("RYK_QUAVEL_EXIT_MS", -1);
    if (exit_ms >= 0) {
        DWORD id = 0;
        HANDLE t = CreateThread(nullptr, 0, exit_event_later, reinterpret_cast<LPVOID>(static_cast<uintptr_t>(exit_ms)),
                                0, &id);
        if (t) CloseHandle(t);
    }
    if (ready_ms < 0) {
        // Never ready for input: no message loop, ever.
        HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        WaitForSingleObject(never, INFINITE);
        return 0;
    }
    Sleep(static_cast<DWORD>(ready_ms));

    WNDCLASSA wc{};
    wc.lpfnWndProc = wndproc;
    wc.hInstance = instance;
    wc.lpszClassName = "QuavelTestWindow";
    RegisterClassA(&wc);
    CreateWindowExA(0, wc.lpszClassName, "Quavel", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, instance,
                    nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
