// conformance_child.exe: a helper GUI program that the process tests start.
//   conformance_child ready   creates a window and reads its message queue;
//                             ends on WM_CLOSE, when the named event
//                             "RykConformanceChildExit" is set, or after a
//                             minute at the latest
//   conformance_child never   never reads its message queue; ends after 5 s
// Neither outlives a test run by long even if the test that started it dies.
#include <windows.h>

#include <cstring>

namespace {

LRESULT CALLBACK ChildProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

int Never() {
    for (int i = 0; i < 50; ++i) Sleep(100);
    return 0;
}

int Ready(HINSTANCE instance) {
    HANDLE exit_event = CreateEventA(nullptr, TRUE, FALSE, "RykConformanceChildExit");
    WNDCLASSA wc{};
    wc.lpfnWndProc = ChildProc;
    wc.hInstance = instance;
    wc.lpszClassName = "RykConformanceChild";
    if (RegisterClassA(&wc) == 0) return 2;
    HWND hwnd = CreateWindowExA(0, "RykConformanceChild", "RykConformanceChild", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) return 3;
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const DWORD r = MsgWaitForMultipleObjects(1, &exit_event, FALSE, 1000, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        if (GetTickCount() - start > 60000) break;
    }
    DestroyWindow(hwnd);
    return 0;
}

}  // namespace

// lpCmdLine holds the arguments only, without the program's path.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    if (arguments != nullptr && std::strcmp(arguments, "never") == 0) return Never();
    return Ready(instance);
}
