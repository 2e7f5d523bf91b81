#include "fake_program.h"

#include <atomic>

#include "driver/protocol.h"
#include "machine.h"
#include "platform/win32.h"

namespace fake {

namespace {

constexpr DWORD kAlreadyExists = ERROR_ALREADY_EXISTS;
UINT g_command = 0;

bool Request(HANDLE device, DWORD code, void* buf, DWORD size) {
    DWORD got = 0;
    return DeviceIoControl(device, code, buf, size, buf, size, &got, nullptr) != FALSE;
}

struct Worker {
    HANDLE device = nullptr;
    HANDLE event = nullptr;
    std::atomic<bool> stop{false};
};

// Reads touchscreen 0's packets: SetCursorPos, then a press for a packet
// without PKT_RELEASE and a release (and a one-pixel nudge) for one with it.
DWORD WINAPI PacketThread(LPVOID param) {
    auto* w = static_cast<Worker*>(param);
    for (;;) {
        WaitForSingleObject(w->event, INFINITE);
        if (w->stop) return 0;
        TouchPacket p{};
        p.header.wTag2 = REQ_TAG;
        p.header.wTouchscreen = 0;
        if (!Request(w->device, REQ_GET_TOUCH, &p, sizeof p)) continue;
        SetCursorPos(p.iX, p.iY);
        if (p.dwFlags & PKT_RELEASE) {
            mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
            mouse_event(MOUSEEVENTF_MOVE, 1, 1, 0, 0);
        } else {
            mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
        }
    }
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == g_command && g_command != 0) {
        sim::Fields f = sim::Fields::object();
        f["wparam"] = static_cast<uint64_t>(wparam);
        f["lparam"] = static_cast<int64_t>(lparam);
        sim::Machine::current().trace().add("fake_command", f);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

}  // namespace

int Program() {
    CreateMutexA(nullptr, FALSE, "RykXyLdrAppMutex");
    if (GetLastError() == kAlreadyExists) return 0;

    HANDLE device = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return 1;

    TouchscreenRecord rec{};
    rec.header.wTag1 = REQ_TAG;
    rec.header.wTag2 = REQ_TAG;
    rec.iMonitor = REQ_ENUM_MONITOR;
    if (!Request(device, REQ_GET_TOUCHSCREEN, &rec, sizeof rec)) {
        CloseHandle(device);
        return 2;
    }

    // Touchscreen 0 covers the primary monitor.
    RequestHeader change{};
    change.wTag2 = REQ_TAG;
    Request(device, REQ_BEGIN_CHANGE, &change, sizeof change);
    MonitorRectRequest rect{};
    rect.header.wTag2 = REQ_TAG;
    rect.iRight = GetSystemMetrics(SM_CXSCREEN);
    rect.iBottom = GetSystemMetrics(SM_CYSCREEN);
    Request(device, REQ_SET_MONITOR_RECT, &rect, sizeof rect);
    Request(device, REQ_END_CHANGE, &change, sizeof change);

    Worker worker;
    worker.device = device;
    worker.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    using OpenVxDHandleFn = DWORD(WINAPI*)(HANDLE);
    auto open_vxd = reinterpret_cast<OpenVxDHandleFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle")));
    if (!open_vxd) {
        CloseHandle(device);
        return 3;
    }
    EventRequest xy{};
    xy.header.wTag2 = REQ_TAG;
    xy.hEventR0 = open_vxd(worker.event);
    Request(device, REQ_SET_XY_EVENT, &xy, sizeof xy);
    DWORD tid = 0;
    HANDLE thread = CreateThread(nullptr, 0, PacketThread, &worker, 0, &tid);

    WNDCLASSA wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RykXyLdrAppClass";
    RegisterClassA(&wc);
    g_command = RegisterWindowMessageA("RykPlexor4683");
    CreateWindowExA(0, "RykXyLdrAppClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);

    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    worker.stop = true;
    SetEvent(worker.event);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    // The driver must not keep signalling the packet event of a process
    // that has ended.
    Request(device, REQ_BEGIN_CHANGE, &change, sizeof change);
    EventRequest clear{};
    clear.header.wTag2 = REQ_TAG;
    Request(device, REQ_CLEAR_EVENT, &clear, sizeof clear);
    Request(device, REQ_END_CHANGE, &change, sizeof change);
    CloseHandle(device);
    return static_cast<int>(msg.wParam);
}

}  // namespace fake
