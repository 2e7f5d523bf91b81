#include "wine/orvane_bench.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

#include "wine/lines.h"

namespace ryk_wine {
namespace {

// Each packet makes exactly one mouse input, right after the program's
// thread has read it: so the hook's inputs are matched, oldest first, with
// the packets read (a program's threads may swap two inputs that come within
// microseconds of each other, which moves those two figures by as much). The
// pointer position cannot tell: another thread's SetCursorPos may come
// between a thread's own and its input.
constexpr int kMaxTouchscreens = 64;
constexpr LONG kFirstX = 16, kStepX = 30, kY = 300;
// A packet whose input the hook has not seen by then counts as lost, and the
// touchscreen gets its next one.
constexpr uint64_t kLostAfterUs = 200000;

LONG column(int i) { return kFirstX + kStepX * i; }

struct Feed {
    CRITICAL_SECTION cs;
    bool cs_ready = false;
    sim::orvane::Driver* driver = nullptr;
    int touchscreens = 0;
    uint64_t period_us = 5000;
    uint64_t start_us = 0, warmup_end_us = 0, end_us = 0;
    bool active = false;  // between bench_start and the feed's end
    bool outstanding[kMaxTouchscreens] = {};
    std::deque<int> read;  // touchscreens whose packets were read, oldest first, input not seen yet
    uint64_t set_us[kMaxTouchscreens] = {};
    std::vector<uint32_t> latencies;
    long sent = 0, matched = 0, unmatched = 0, lost = 0;
    HANDLE feeder = nullptr, hooker = nullptr;
    DWORD hook_thread_id = 0;
    HANDLE hook_ready = nullptr;
    HMODULE module = nullptr;
    std::string file;
};

Feed g_feed;

LRESULT CALLBACK bench_hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION) {
        const uint64_t now = now_us();
        EnterCriticalSection(&g_feed.cs);
        int i = -1;
        if (!g_feed.read.empty()) {
            i = g_feed.read.front();
            g_feed.read.pop_front();
        }
        if (i >= 0 && g_feed.outstanding[i]) {
            g_feed.outstanding[i] = false;
            ++g_feed.matched;
            if (g_feed.set_us[i] >= g_feed.warmup_end_us)
                g_feed.latencies.push_back(static_cast<uint32_t>(now - g_feed.set_us[i]));
        } else {
            ++g_feed.unmatched;
        }
        LeaveCriticalSection(&g_feed.cs);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

DWORD WINAPI hook_thread(LPVOID) {
    HHOOK hook = SetWindowsHookExA(WH_MOUSE_LL, bench_hook, g_feed.module, 0);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for WM_QUIT
    SetEvent(g_feed.hook_ready);
    if (!hook) return 1;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    UnhookWindowsHookEx(hook);
    return 0;
}

DWORD WINAPI feeder_thread(LPVOID) {
    Feed& f = g_feed;
    std::vector<uint64_t> due(f.touchscreens);
    // The touchscreens report independently: their phases are spread over
    // one period.
    for (int i = 0; i < f.touchscreens; ++i) due[i] = f.start_us + f.period_us * i / f.touchscreens;
    for (;;) {
        const uint64_t now = now_us();
        if (now >= f.end_us) break;
        for (int i = 0; i < f.touchscreens; ++i) {
            if (now < due[i]) continue;
            EnterCriticalSection(&f.cs);
            bool send = !f.outstanding[i];
            if (!send && now - f.set_us[i] >= kLostAfterUs) {
                ++f.lost;
                send = true;
                // Its read, if any, stays queued: the next input is taken
                // for it, and this touchscreen's next packet is matched late.
            }
            if (send) {
                f.outstanding[i] = true;
                f.set_us[i] = now_us();
                ++f.sent;
            }
            LeaveCriticalSection(&f.cs);
            // A press first, then moves: one mouse input per packet.
            if (send) f.driver->queue_packet(i, column(i), kY, 5);
            due[i] += f.period_us;
            if (due[i] + f.period_us < now) due[i] = now + f.period_us;
        }
        Sleep(1);
    }
    return 0;
}

std::string start(sim::orvane::Driver& driver, HMODULE module, const std::vector<std::string>& a) {
    if (a.size() != 5) return "err bench_start: expected HZ SECONDS WARMUP_MS FILE";
    Feed& f = g_feed;
    if (!f.cs_ready) {
        InitializeCriticalSection(&f.cs);
        f.cs_ready = true;
    }
    if (f.feeder) return "err bench_start: a feed is running";
    const long hz = std::strtol(a[1].c_str(), nullptr, 10);
    const double seconds = std::strtod(a[2].c_str(), nullptr);
    const long warmup_ms = std::strtol(a[3].c_str(), nullptr, 10);
    f.touchscreens = driver.touchscreen_count();
    if (hz <= 0 || seconds <= 0 || warmup_ms < 0 || f.touchscreens <= 0 || f.touchscreens > kMaxTouchscreens)
        return "err bench_start: bad rate, time or number of touchscreens";
    f.driver = &driver;
    f.module = module;
    f.file = a[4];
    f.period_us = 1000000u / static_cast<uint64_t>(hz);
    for (int i = 0; i < kMaxTouchscreens; ++i) f.outstanding[i] = false;
    f.latencies.clear();
    f.latencies.reserve(static_cast<size_t>(seconds * hz * f.touchscreens) + 16);
    f.sent = f.matched = f.unmatched = f.lost = 0;
    f.read.clear();
    f.hook_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    f.hooker = CreateThread(nullptr, 0, hook_thread, nullptr, 0, &f.hook_thread_id);
    if (!f.hooker) return "err bench_start: no hook thread";
    WaitForSingleObject(f.hook_ready, 10000);
    f.start_us = now_us() + 20000;
    f.warmup_end_us = f.start_us + static_cast<uint64_t>(warmup_ms) * 1000u;
    f.end_us = f.start_us + static_cast<uint64_t>(seconds * 1e6);
    f.active = true;
    f.feeder = CreateThread(nullptr, 0, feeder_thread, nullptr, 0, nullptr);
    return f.feeder ? "ok" : "err bench_start: no feeder thread";
}

std::string result() {
    Feed& f = g_feed;
    if (!f.feeder) return "err bench_result: no feed";
    WaitForSingleObject(f.feeder, INFINITE);
    CloseHandle(f.feeder);
    f.feeder = nullptr;
    Sleep(300);  // the last packets' input
    EnterCriticalSection(&f.cs);
    f.active = false;
    LeaveCriticalSection(&f.cs);
    PostThreadMessageA(f.hook_thread_id, WM_QUIT, 0, 0);
    WaitForSingleObject(f.hooker, 10000);
    CloseHandle(f.hooker);
    CloseHandle(f.hook_ready);
    f.hooker = f.hook_ready = nullptr;
    EnterCriticalSection(&f.cs);
    FILE* out = std::fopen(f.file.c_str(), "w");
    if (out) {
        for (uint32_t v : f.latencies) std::fprintf(out, "%lu\n", static_cast<unsigned long>(v));
        std::fclose(out);
    }
    char buf[160];
    std::snprintf(buf, sizeof buf, "ok sent=%ld matched=%ld unmatched=%ld lost=%ld kept=%lu%s", f.sent, f.matched,
                  f.unmatched, f.lost, static_cast<unsigned long>(f.latencies.size()),
                  out ? "" : " (the file could not be written)");
    LeaveCriticalSection(&f.cs);
    return buf;
}

// The process's open handles, found by asking for each handle value in
// turn: Wine 8's GetProcessHandleCount answers 0. Handle values are multiples
// of 4, handed out from the lowest free one.
std::string stats() {
    DWORD handles = 0, flags = 0;
    for (uintptr_t v = 4; v < 0x10000; v += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &flags)) ++handles;
    return "ok handles=" + std::to_string(handles);
}

}  // namespace

void bench_packet_read(int touchscreen) {
    Feed& f = g_feed;
    if (!f.cs_ready) return;
    EnterCriticalSection(&f.cs);
    if (f.active && touchscreen >= 0 && touchscreen < f.touchscreens) f.read.push_back(touchscreen);
    LeaveCriticalSection(&f.cs);
}

std::string bench_command(sim::orvane::Driver& driver, HMODULE module, const std::vector<std::string>& a) {
    if (a.empty()) return "";
    if (a[0] == "bench_start") return start(driver, module, a);
    if (a[0] == "bench_result") return result();
    if (a[0] == "bench_stats") return stats();
    return "";
}

}  // namespace ryk_wine
