#include "harness.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "app/app.h"
#include "desktop.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "hotplug/calibration.h"
#include "hotplug/signals.h"
#include "inventory/touchscreen_list.h"
#include "machine.h"
#include "monitors/monitor_table.h"
#include "orvane/driver.h"
#include "program_globals.h"
#include "registry.h"
#include "settings/settings.h"
#include "touch/packets.h"
#include "touch/workers.h"

namespace bench {

namespace {

std::string serial(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "TS-%04d", i);
    return buf;
}

// ------------------------------------------------------------ streams

thread_local int tls_stream = -2;  // -2: not looked up yet
std::mutex g_streams_mu;
std::map<std::thread::id, int> g_stream_threads;

// ------------------------------------------------------------ the floor program

struct FloorShared {
    HANDLE device = nullptr;
    HANDLE stop = nullptr;
    int touchscreens = 0;
    CRITICAL_SECTION cs;  // the design floor's one lock around its packet reads
};
FloorShared g_floor;
FloorCalls g_floor_calls[kMaxTouchscreens];

// Thread i's packet event, handed to the driver as touchscreen i's.
HANDLE FloorEvent(int i) {
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (i < g_floor.touchscreens) {
        tls_stream = i;
        DWORD r0 = 0;
        ToRing0Handle(event, &r0);
        EventRequest req;
        std::memset(&req, 0, sizeof req);
        req.header.wTag2 = REQ_TAG;
        req.header.wTouchscreen = static_cast<WORD>(i);
        req.hEventR0 = r0;
        DWORD returned = 0;
        DeviceIoControl(g_floor.device, REQ_SET_XY_EVENT, &req, sizeof req, &req, sizeof req, &returned, nullptr);
    }
    return event;
}

DWORD WINAPI FloorThread(LPVOID param) {
    const int i = static_cast<int>(reinterpret_cast<intptr_t>(param));
    const HANDLE event = FloorEvent(i);
    int32_t x = 0, y = 0;
    touch_point(i, &x, &y);
    const HANDLE wait[2] = {g_floor.stop, event};
    while (WaitForMultipleObjects(2, wait, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        SetCursorPos(x, y);
        mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
    }
    CloseHandle(event);
    return 0;
}

DWORD WINAPI DesignFloorThread(LPVOID param) {
    const int i = static_cast<int>(reinterpret_cast<intptr_t>(param));
    const HANDLE event = FloorEvent(i);
    const FloorCalls& calls = g_floor_calls[i < kMaxTouchscreens ? i : 0];
    TouchPacket packet;
    std::memset(&packet, 0, sizeof packet);
    const HANDLE wait[2] = {g_floor.stop, event};
    while (WaitForMultipleObjects(2, wait, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        EnterCriticalSection(&g_floor.cs);
        packet.header.wTag2 = REQ_TAG;
        packet.header.wTouchscreen = static_cast<WORD>(i);
        DWORD returned = 0;
        const BOOL read = DeviceIoControl(g_floor.device, REQ_GET_TOUCH, &packet, sizeof packet, &packet,
                                          sizeof packet, &returned, nullptr);
        LeaveCriticalSection(&g_floor.cs);
        if (!read) continue;
        for (int c = 0; c < calls.count; ++c) {
            const FloorCall& call = calls.calls[c];
            if (call.op == FloorCall::CURSOR) SetCursorPos(packet.iX, packet.iY);
            else if (call.op == FloorCall::CURSOR_AT) SetCursorPos(call.x, call.y);
            else mouse_event(call.flags, static_cast<DWORD>(call.x), static_cast<DWORD>(call.y), 0, 0);
        }
    }
    CloseHandle(event);
    return 0;
}

LRESULT CALLBACK FloorWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Not inlined: the instruction count (bench/instructions.h) counts the
// threads that start in a function of this name.
__attribute__((noinline)) int FloorMain(int threads, FloorKind kind) {
    const HANDLE mutex = CreateMutexA(nullptr, TRUE, "RykBenchFloorMutex");
    g_floor.device = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0,
                                 FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL, nullptr);
    g_floor.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    InitializeCriticalSection(&g_floor.cs);

    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = FloorWndProc;
    wc.lpszClassName = "RykBenchFloorClass";
    RegisterClassA(&wc);
    CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                    nullptr, nullptr, nullptr);

    std::vector<HANDLE> handles;
    for (int i = 0; i < threads; ++i) {
        DWORD id = 0;
        handles.push_back(
            CreateThread(nullptr, WORKER_STACK_SIZE, kind == FloorKind::DESIGN ? DesignFloorThread : FloorThread,
                         reinterpret_cast<LPVOID>(intptr_t{i}), 0, &id));
    }

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);

    SetEvent(g_floor.stop);
    for (HANDLE h : handles) {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    DeleteCriticalSection(&g_floor.cs);
    CloseHandle(g_floor.stop);
    CloseHandle(g_floor.device);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

void close_window(sim::Machine& m, DWORD pid, const char* cls) {
    if (m.process_ended(pid)) return;
    if (HWND w = m.find_window(cls)) {
        m.post_from_outside(w, WM_CLOSE, 0, 0);
        m.settle();
    }
}

}  // namespace

// ------------------------------------------------------------ the machine

sim::Config machine_config() {
    sim::Config c;
    c.windows = sim::Windows::v98;
    c.monitors.clear();
    for (int i = 0; i < kMonitors; ++i) {
        RECT rc{i * 1024, 0, (i + 1) * 1024, 768};
        c.monitors.push_back({rc, rc});
    }
    return c;
}

void add_touchscreens(sim::Machine& m, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string path = "Enum\\Ryk\\" + serial(i);
        m.registry().create_key(HKEY_LOCAL_MACHINE, path);
        m.registry().set_string(HKEY_LOCAL_MACHINE, path, "SerialNumber", serial(i));
        sim::orvane::TouchscreenConfig ts;
        ts.serial = serial(i);
        ts.monitor = i % kMonitors;
        ts.registry_path = path;
        m.driver().add_touchscreen(ts);
    }
}

void touch_point(int touchscreen, int32_t* x, int32_t* y) {
    *x = (touchscreen % kMonitors) * 1024 + 100 + touchscreen;
    *y = 200 + touchscreen;
}

void quiet_machine(sim::Machine& m) {
    m.driver().set_read_yield(false);
    m.driver().set_observer(nullptr, nullptr);
}

void reset_program_globals() { support::ResetProgramGlobals(); }

ProcessFigures process_figures(sim::Machine& m, const std::string& process) {
    ProcessFigures f;
    f.handles = static_cast<int>(m.open_handles().size());
    const std::vector<sim::ThreadInfo> threads = m.threads();
    // The last process of that name: process ids grow.
    DWORD pid = 0;
    for (const auto& t : threads)
        if (t.process == process) pid = std::max(pid, t.process_id);
    if (pid == 0) return f;
    for (const auto& t : threads) {
        if (t.process_id != pid) continue;
        f.wakeups += t.wakeups;
        if (t.ended) continue;
        ++f.threads;
        if (t.stack_size > 0) f.stack_committed += static_cast<int64_t>((t.stack_size + 4095) / 4096 * 4096);
        const int64_t cpu = m.thread_cpu_ns(t.id);
        if (cpu >= 0) f.cpu_ns += cpu;
    }
    return f;
}

// ------------------------------------------------------------ the program

ProgramRun::ProgramRun(int touchscreens, std::function<void(sim::Machine&)> before_start) {
    reset_program_globals();
    m_ = std::make_unique<sim::Machine>(machine_config());
    add_touchscreens(*m_, touchscreens);
    if (before_start) before_start(*m_);
    pid_ = m_->start_process(kProgramProcess, [this] {
        static char command_line[] = "";
        winmain_ns_ = now_ns();
        return WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
    });
    m_->settle();
}

ProgramRun::~ProgramRun() {
    m_->desktop().set_mouse_observer(nullptr);
    close_window(*m_, pid_, "RykXyLdrAppClass");
    m_->set_on_block(nullptr);
    m_.reset();
    reset_program_globals();
    clear_stream_threads();
}

bool ProgramRun::command(WPARAM wparam, LPARAM lparam) {
    const UINT msg = m_->registered_message("RykPlexor4683");
    const HWND w = m_->find_window("RykXyLdrAppClass");
    return msg != 0 && w != nullptr && m_->post_from_outside(w, msg, wparam, lparam);
}

// ------------------------------------------------------------ the floor

FloorCalls move_calls() {
    FloorCalls c;
    c.count = 2;
    c.calls[0].op = FloorCall::CURSOR;
    c.calls[1].op = FloorCall::MOUSE;
    c.calls[1].flags = MOUSEEVENTF_MOVE;
    return c;
}

void set_floor_calls(int touchscreen, const FloorCalls& calls) {
    if (touchscreen >= 0 && touchscreen < kMaxTouchscreens) g_floor_calls[touchscreen] = calls;
}

FloorRun::FloorRun(int touchscreens, int threads, FloorKind kind, std::function<void(sim::Machine&)> before_start) {
    m_ = std::make_unique<sim::Machine>(machine_config());
    add_touchscreens(*m_, touchscreens);
    if (before_start) before_start(*m_);
    g_floor.device = nullptr;
    g_floor.stop = nullptr;
    g_floor.touchscreens = touchscreens;
    for (FloorCalls& c : g_floor_calls) c = move_calls();
    pid_ = m_->start_process(kFloorProcess, [this, threads, kind] {
        main_ns_ = now_ns();
        return FloorMain(threads, kind);
    });
    m_->settle();
}

FloorRun::~FloorRun() {
    m_->desktop().set_mouse_observer(nullptr);
    close_window(*m_, pid_, "RykBenchFloorClass");
    m_->set_on_block(nullptr);
    m_.reset();
    clear_stream_threads();
}

// ------------------------------------------------------------ streams

int current_stream() {
    if (tls_stream != -2) return tls_stream;
    std::lock_guard<std::mutex> lock(g_streams_mu);
    auto it = g_stream_threads.find(std::this_thread::get_id());
    tls_stream = it == g_stream_threads.end() ? -1 : it->second;
    return tls_stream;
}

void register_program_workers(sim::Machine& m) {
    WorkerList* list = gpWorkers.load();
    if (list == nullptr) return;
    std::map<DWORD, int> by_thread_id;
    const int count = m.driver().touchscreen_count();
    for (int i = 0; i < count; ++i)
        for (int mon = 0; mon < kMonitors; ++mon)
            if (WorkerNode* node = list->Find(mon, i)) by_thread_id[node->dwXyThreadId] = i;
    const std::vector<sim::ThreadInfo> threads = m.threads();
    std::lock_guard<std::mutex> lock(g_streams_mu);
    for (const auto& t : threads) {
        auto it = by_thread_id.find(t.id);
        if (it != by_thread_id.end() && t.host != std::thread::id()) g_stream_threads[t.host] = it->second;
    }
}

void clear_stream_threads() {
    std::lock_guard<std::mutex> lock(g_streams_mu);
    g_stream_threads.clear();
}

}  // namespace bench
