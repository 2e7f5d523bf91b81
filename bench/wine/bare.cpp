// ryk-wine-bare.exe: the least a program can do that reads the Orvane driver
// the way RykXyLdr does, for the Wine section of scripts/bench. It is built
// with RykXyLdr.exe's compiler and link options and the same runtime.
//
// It opens the device, enumerates the touchscreens (REQ_GET_TOUCHSCREEN),
// creates a hidden window whose WM_CREATE starts one thread per touchscreen,
// each handed its packet event inside a change bracket, as RykXyLdr's workers
// are. Each thread waits on the stop event and its packet event, reads one
// packet with REQ_GET_TOUCH under one critical section that all of them share,
// and makes that packet's mouse calls (SetCursorPos, then a press, a zero move
// or a release and a nudge, by the button's state): no translation table, no
// press-and-hold, no trace, no quick-touch refresher, no monitor table, no
// registry. WM_CLOSE stops the threads, withdraws the events and ends it.
#include "driver/protocol.h"
#include "platform/win32.h"

namespace {

constexpr int kMaxTouchscreens = 33;
constexpr char kClass[] = "RykXyBareClass";

struct Worker {
    WORD wTouchscreen;
    HANDLE hEvent;
    DWORD dwEventR0;
    HANDLE hThread;
};

HANDLE g_device = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_cs;
HANDLE g_stop = nullptr;
Worker g_workers[kMaxTouchscreens];
int g_count = 0;
WORD g_ids[kMaxTouchscreens];
int g_listed = 0;

BOOL Request(DWORD dwCode, void* pBuffer, DWORD cb) {
    DWORD n = 0;
    return DeviceIoControl(g_device, dwCode, pBuffer, cb, pBuffer, cb, &n, nullptr);
}

void Clear(void* p, DWORD cb) {
    BYTE* b = static_cast<BYTE*>(p);
    for (DWORD i = 0; i < cb; ++i) b[i] = 0;
}

BOOL Change(DWORD dwCode, WORD wTouchscreen) {
    RequestHeader h;
    Clear(&h, sizeof h);
    h.wTag2 = REQ_TAG;
    h.wTouchscreen = wTouchscreen;
    return Request(dwCode, &h, sizeof h);
}

BOOL EventReq(DWORD dwCode, WORD wTouchscreen, DWORD dwEventR0) {
    EventRequest r;
    Clear(&r, sizeof r);
    r.header.wTag2 = REQ_TAG;
    r.header.wTouchscreen = wTouchscreen;
    r.hEventR0 = dwEventR0;
    return Request(dwCode, &r, sizeof r);
}

void Enumerate() {
    for (WORD i = 0; i < kMaxTouchscreens; ++i) {
        TouchscreenRecord rec;
        Clear(&rec, sizeof rec);
        rec.header.wTag1 = REQ_TAG;
        rec.header.wTag2 = REQ_TAG;
        rec.header.wTouchscreen = i;
        rec.iMonitor = REQ_ENUM_MONITOR;
        if (!Request(REQ_GET_TOUCHSCREEN, &rec, sizeof rec)) break;
        g_ids[g_listed++] = rec.header.wTouchscreen;
    }
}

DWORD WINAPI PacketThread(LPVOID pParam) {
    Worker* w = static_cast<Worker*>(pParam);
    const HANDLE waits[2] = {g_stop, w->hEvent};
    bool bDown = false;
    TouchPacket packet;
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        EnterCriticalSection(&g_cs);
        Clear(&packet, sizeof packet);
        packet.header.wTag2 = REQ_TAG;
        packet.header.wTouchscreen = w->wTouchscreen;
        const BOOL bRead = Request(REQ_GET_TOUCH, &packet, sizeof packet);
        LeaveCriticalSection(&g_cs);
        if (!bRead) continue;
        SetCursorPos(packet.iX, packet.iY);
        if (packet.dwFlags & PKT_RELEASE) {
            mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
            mouse_event(MOUSEEVENTF_MOVE, 1, 1, 0, 0);
            bDown = false;
        } else if (!bDown) {
            mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
            bDown = true;
        } else {
            mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
        }
    }
    if (bDown) mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
    return 0;
}

using OpenVxDHandleFn = DWORD(WINAPI*)(HANDLE);

void StartWorkers() {
    const FARPROC pfn = GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle");
    if (pfn == nullptr) return;
    const auto pOpenVxDHandle = reinterpret_cast<OpenVxDHandleFn>(reinterpret_cast<void (*)()>(pfn));
    for (int i = 0; i < g_listed; ++i) {
        Worker& w = g_workers[g_count];
        w.wTouchscreen = g_ids[i];
        w.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (w.hEvent == nullptr) continue;
        w.dwEventR0 = pOpenVxDHandle(w.hEvent);
        Change(REQ_BEGIN_CHANGE, w.wTouchscreen);
        const BOOL bArmed = EventReq(REQ_SET_XY_EVENT, w.wTouchscreen, w.dwEventR0);
        Change(REQ_END_CHANGE, w.wTouchscreen);
        DWORD id = 0;
        w.hThread = bArmed ? CreateThread(nullptr, 0, PacketThread, &w, 0, &id) : nullptr;
        if (w.hThread == nullptr) {
            CloseHandle(w.hEvent);
            continue;
        }
        SetThreadPriority(w.hThread, THREAD_PRIORITY_HIGHEST);
        ++g_count;
    }
}

void StopWorkers() {
    SetEvent(g_stop);
    for (int i = 0; i < g_count; ++i) {
        Worker& w = g_workers[i];
        WaitForSingleObject(w.hThread, INFINITE);
        Change(REQ_BEGIN_CHANGE, w.wTouchscreen);
        EventReq(REQ_CLEAR_EVENT, w.wTouchscreen, 0);
        Change(REQ_END_CHANGE, w.wTouchscreen);
        CloseHandle(w.hThread);
        CloseHandle(w.hEvent);
    }
    g_count = 0;
}

LRESULT CALLBACK BareWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: StartWorkers(); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

}  // namespace

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    g_device = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (g_device == INVALID_HANDLE_VALUE) return 1;
    Enumerate();
    if (g_listed == 0) return 2;
    InitializeCriticalSection(&g_cs);
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WNDCLASSA wc;
    Clear(&wc, sizeof wc);
    wc.lpfnWndProc = BareWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = kClass;
    if (!RegisterClassA(&wc)) return 5;
    if (!CreateWindowExA(0, kClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, hInstance, nullptr)) return 8;
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    StopWorkers();
    CloseHandle(g_device);
    DeleteCriticalSection(&g_cs);
    return static_cast<int>(msg.wParam);
}
