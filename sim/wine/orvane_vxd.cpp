// orvane.vxd for Wine: the simulated Orvane driver (sim/orvane/driver.cpp)
// as the device that RykXyLdr.exe opens, so that the real program can run
// under Wine with a driver that answers, checks and records its requests
// exactly as the simulated machine's does.
//
// How the requests get here. In Windows 95/98 mode Wine's CreateFileA of
// "\\.\Orvane.vxd" loads a PE DLL named orvane.vxd from the program's folder
// or the system directory, and Wine hands DeviceIoControl calls on that
// handle to the DLL's export "DeviceIoControl" -- but only for control codes
// whose upper 16 bits are zero, which the driver's codes (device type 0x9C40)
// are not. So when this DLL is loaded it redirects the program's own import
// of KERNEL32 DeviceIoControl to itself: a call on a handle of this device
// goes to the driver model with the code unchanged; any other call goes on to
// KERNEL32. A handle is recognised by a probe: the real DeviceIoControl with
// a code whose upper 16 bits are zero reaches this DLL's export only when the
// handle is this device. The answer is kept per handle.
//
// Wine's OpenVxDHandle returns the Win32 handle it is given, so the driver
// signals the program's events with SetEvent, in-process.
//
// The driver is played from outside the process through a named pipe
// (RYK_ORVANE_PIPE, default \\.\pipe\RykOrvaneTest), served by a control
// thread that the first request starts: one command line in, one answer line
// out (see control_command below). The touchscreens and refusal rules of the
// start come from the file RYK_ORVANE_CONFIG, read at the first request, in
// the same line format as the pipe's "add" and "refuse" commands. Every
// request record and protocol error is appended as a JSON line to the file
// RYK_ORVANE_LOG, in the shape of the simulated machine's trace ("ioctl",
// "protocol_error"), stamped with QueryPerformanceCounter microseconds, which
// all processes of the machine share.
//
// For the record of a run the DLL also notes, from inside the program, what
// the program does that a test cannot see from outside: its message boxes
// (text, caption, style), registry writes, launches and terminations of other
// programs, the closing of the device, and what its topmost windows draw. Those imports are redirected too,
// and each call goes on to the real function unchanged.
//
// One driver for the machine. The first process that sends a request serves
// the control pipe; a process that opens the device while another one serves
// it (RykXyProbe beside the running program) forwards each of its requests
// over the pipe to that process's driver, so that it sees the same
// touchscreens, monitors and refusals, and its requests are recorded with its
// own process and thread. Such a process can only fetch: an event it hands
// over is a handle of its own process, which the serving driver cannot
// signal: such a request is refused and recorded as a protocol error.
//
// DllMain runs under the loader lock: it only redirects imports and starts
// no thread and waits on nothing.

#include "platform/win32.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <exception>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "orvane/driver.h"
#include "wine/control.h"
#include "wine/orvane_bench.h"
#include "wine/lines.h"

using sim::orvane::Driver;

namespace {

using DeviceIoControlFn = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
using MessageBoxAFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using RegOpenKeyExAFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
using RegCloseKeyFn = LONG(WINAPI*)(HKEY);
using RegSetValueExAFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
using CreateProcessAFn = BOOL(WINAPI*)(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                       LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION);
using TerminateProcessFn = BOOL(WINAPI*)(HANDLE, UINT);
using GetProcessIdFn = DWORD(WINAPI*)(HANDLE);
using NtQueryObjectFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

// A code whose upper 16 bits are zero: Wine gives it to this DLL's export
// when the handle is this device.
constexpr DWORD kProbeCode = 0x0000524B;

DeviceIoControlFn g_real_ioctl = ::DeviceIoControl;
CloseHandleFn g_real_close = ::CloseHandle;
MessageBoxAFn g_real_msgbox = nullptr;
RegOpenKeyExAFn g_real_reg_open = nullptr;
RegCloseKeyFn g_real_reg_close = nullptr;
RegSetValueExAFn g_real_reg_set = nullptr;
CreateProcessAFn g_real_create_process = nullptr;
TerminateProcessFn g_real_terminate = nullptr;

// ------------------------------------------------------------------ the machine

struct WineHost : sim::orvane::Host {
    void set_event(uint32_t ring0) override { SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(ring0))); }

    // Wine's OpenVxDHandle returns the event's Win32 handle itself, so a
    // ring-0 handle here is a handle of an event of this process.
    bool is_ring0_handle(uint32_t value) override {
        static NtQueryObjectFn query = reinterpret_cast<NtQueryObjectFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
        if (!query) {
            HANDLE dup = nullptr;
            if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS))
                return false;
            g_real_close(dup);
            return true;
        }
        // OBJECT_TYPE_INFORMATION starts with the type's name as a
        // UNICODE_STRING: two 16-bit lengths (bytes), then the text.
        alignas(8) unsigned char info[512] = {};
        ULONG len = 0;
        if (query(h, 2 /* ObjectTypeInformation */, info, sizeof info, &len) != 0) return false;
        USHORT bytes = 0;
        std::memcpy(&bytes, info, sizeof bytes);
        const wchar_t* text = nullptr;
        std::memcpy(&text, info + sizeof(void*), sizeof text);
        return text && bytes == 10 && std::wmemcmp(text, L"Event", 5) == 0;
    }

    uint64_t now_us() override { return ryk_wine::now_us(); }
};

WineHost g_host;
Driver g_driver(g_host);
ryk_wine::LineFile g_log;

CRITICAL_SECTION g_cs;  // the handle lists, the probe and the start
volatile LONG g_probe_hit = 0;
std::map<HANDLE, bool> g_devices;      // handle -> is this device
std::map<HKEY, std::string> g_keys;    // open registry key -> its path under HKEY_LOCAL_MACHINE
bool g_started = false;
HMODULE g_module = nullptr;     // this DLL
bool g_forwarding = false;      // another process serves the driver: requests go over the pipe
DWORD g_control_thread = 0;     // the thread that serves the pipe
DWORD g_forwarded_pid = 0;      // while it plays a forwarded request: the requesting process

std::string env(const char* name) {
    char buf[1024];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string pipe_name() {
    const std::string name = env("RYK_ORVANE_PIPE");
    return name.empty() ? "\\\\.\\pipe\\RykOrvaneTest" : name;
}

// ------------------------------------------------------------------ records

void log_request(const sim::orvane::Request& r) {
    ryk_wine::Json j("ioctl", r.t_us);
    j.str("code", r.name).num("thread", r.thread).boolean("ok", r.ok);
    // scripts/wine-run tells the tools' requests by it, then drops it.
    const bool forwarded = g_forwarded_pid != 0 && GetCurrentThreadId() == g_control_thread;
    j.num("pid", forwarded ? g_forwarded_pid : GetCurrentProcessId());
    for (const auto& f : r.fields) j.num(f.name.c_str(), f.value);
    g_log.write(j.line());
}

void log_error(const sim::orvane::ProtocolError& e) {
    ryk_wine::Json j("protocol_error", ryk_wine::now_us());
    j.str("detail", e.detail).num("thread", e.thread).num("request", static_cast<int64_t>(e.seq));
    g_log.write(j.line());
}

// ------------------------------------------------------------------ control channel

std::vector<std::string> split_tabs(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t tab = s.find('\t', start);
        out.push_back(s.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return out;
}

int32_t to_int(const std::string& s) { return static_cast<int32_t>(std::strtoll(s.c_str(), nullptr, 0)); }

// "add" fields after the command: serial, monitor, registry path,
// remembers_monitor (0/1), quick dx, quick dy, alignment as seven
// comma-separated numbers or "-".
sim::orvane::TouchscreenConfig touchscreen_from(const std::vector<std::string>& a, size_t i) {
    if (a.size() < i + 7) throw std::invalid_argument("add: expected 7 fields");
    sim::orvane::TouchscreenConfig c;
    c.serial = a[i];
    c.monitor = to_int(a[i + 1]);
    c.registry_path = a[i + 2];
    c.remembers_monitor = a[i + 3] != "0";
    c.quick_dx = to_int(a[i + 4]);
    c.quick_dy = to_int(a[i + 5]);
    if (a[i + 6] != "-") {
        int32_t v[7] = {};
        const char* p = a[i + 6].c_str();
        for (int k = 0; k < 7; ++k) {
            char* end = nullptr;
            v[k] = static_cast<int32_t>(std::strtol(p, &end, 0));
            p = *end == ',' ? end + 1 : end;
        }
        c.alignment = sim::orvane::Alignment{v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    }
    return c;
}

// "refuse" fields: control code, always (0/1), times, index, touchscreen.
void refuse_from(const std::vector<std::string>& a, size_t i) {
    if (a.size() < i + 5) throw std::invalid_argument("refuse: expected 5 fields");
    sim::orvane::Refusal r;
    r.always = a[i + 1] != "0";
    r.times = to_int(a[i + 2]);
    r.index = to_int(a[i + 3]);
    r.touchscreen = to_int(a[i + 4]);
    g_driver.refuse(static_cast<uint32_t>(std::strtoul(a[i].c_str(), nullptr, 0)), r);
}

std::string rect_text(int ts) {
    auto rc = g_driver.monitor_rect(ts);
    if (!rc) return "-";
    char buf[96];
    std::snprintf(buf, sizeof buf, "%ld,%ld,%ld,%ld", static_cast<long>(rc->left), static_cast<long>(rc->top),
                  static_cast<long>(rc->right), static_cast<long>(rc->bottom));
    return buf;
}

std::string to_hex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    return out;
}

std::vector<unsigned char> from_hex(const std::string& s) {
    if (s.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    std::vector<unsigned char> out(s.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(digit(s[2 * i]) * 16 + digit(s[2 * i + 1]));
    return out;
}

// The largest request buffer a forwarded request may carry: its line and its
// answer, in hex, must fit the 4096 bytes that each side of the pipe reads.
// The largest request of the protocol, REQ_GET_TOUCHSCREEN's record, has 620.
constexpr uint32_t kMaxForwarded = 1024;

// "forward" fields: process id, thread id, control code, input bytes in hex
// ("-" for none), output size. Answers "ok OK RETURNED HEX": the driver's
// answer (1 or 0), the bytes it returned and the output buffer in hex.
std::string forward_command(const std::vector<std::string>& a) {
    if (a.size() != 6) throw std::invalid_argument("forward: expected 5 fields");
    std::vector<unsigned char> in = a[4] == "-" ? std::vector<unsigned char>() : from_hex(a[4]);
    const uint32_t out_size = static_cast<uint32_t>(std::strtoul(a[5].c_str(), nullptr, 0));
    if (in.size() > kMaxForwarded || out_size > kMaxForwarded) throw std::invalid_argument("forward: too large");
    const uint32_t code = static_cast<uint32_t>(std::strtoul(a[3].c_str(), nullptr, 0));
    if (code == REQ_SET_XY_EVENT || code == REQ_SET_ADDMON_EVENT || code == REQ_SET_REMOVE_EVENT ||
        code == REQ_SET_QUICKTOUCH_EVENT || code == REQ_CLEAR_EVENT) {
        // Its handle is one of the other process: never taken for one here.
        ryk_wine::Json j("protocol_error", ryk_wine::now_us());
        j.str("detail", "orvane.vxd: process " + a[1] + " handed over or withdrew an event through another "
                        "process's driver (request " + a[3] + "): the test driver cannot signal it");
        g_log.write(j.line());
        return "ok 0 0 -";
    }
    std::vector<unsigned char> out(out_size);
    // Callers pass one buffer for both; the copy in `out` starts as the input.
    std::memcpy(out.data(), in.data(), std::min<size_t>(in.size(), out.size()));
    uint32_t n = 0;
    g_forwarded_pid = static_cast<DWORD>(std::strtoul(a[1].c_str(), nullptr, 0));
    const bool ok = g_driver.ioctl(static_cast<uint32_t>(std::strtoul(a[2].c_str(), nullptr, 0)), code,
                                   in.empty() ? nullptr : out.data(), static_cast<uint32_t>(in.size()),
                                   out.empty() ? nullptr : out.data(), out_size, &n);
    g_forwarded_pid = 0;
    return std::string(ok ? "ok 1 " : "ok 0 ") + std::to_string(n) + " " + (out.empty() ? "-" : to_hex(out.data(), out.size()));
}

// One command from outside; the answer starts with "ok" or "err".
//   touch S X Y FLAGS        a packet at desktop pixel (X, Y), signalled
//   touch_at S U V FLAGS     a packet at (U, V) across the rectangle last
//                            received for S; answers "ok X Y"
//   quick S DX DY            new quick-touch thresholds, signalled
//   add FIELDS...            one more touchscreen; answers "ok ID"
//   signal_add, signal_remove   answer "ok 1", or "ok 0" when no event is handed over
//   refuse FIELDS...         a refusal rule; clear_refusals drops them all
//   state S                  "ok xy=H quick=H rect=L,T,R,B|- number=N|-" (number:
//                            the last REQ_SET_MONITOR_NUMBER)
//   events                   "ok addmon=H remove=H count=N"
//   process_end              the program's process is about to be ended: every
//                            event the driver still holds is a protocol error
//                            (all ring-0 handles here are the program's);
//                            answers "ok N" with the number of them
//   forward PID TID CODE HEX SIZE   a request of another process (see above)
//   bench_start, bench_result, bench_stats   the benchmark feeder (wine/orvane_bench.h)
std::string control_command(const std::string& line) {
    const auto a = split_tabs(line);
    const std::string& cmd = a[0];
    char buf[160];
    try {
        if (cmd == "touch" && a.size() == 5) {
            g_driver.queue_packet(to_int(a[1]), to_int(a[2]), to_int(a[3]), static_cast<uint32_t>(to_int(a[4])));
            return "ok";
        }
        if (cmd == "touch_at" && a.size() == 5) {
            const int ts = to_int(a[1]);
            const double u = std::strtod(a[2].c_str(), nullptr), v = std::strtod(a[3].c_str(), nullptr);
            auto rc = g_driver.monitor_rect(ts);
            if (!g_driver.queue_touch_at(ts, u, v, static_cast<uint32_t>(to_int(a[4]))))
                return "err the driver has no monitor rectangle for touchscreen " + a[1];
            auto map = [](int32_t lo, int32_t hi, double f) {
                const double span = hi - lo > 0 ? static_cast<double>(hi - lo - 1) : 0.0;
                return static_cast<long>(lo + static_cast<long>(f * span + (f * span >= 0 ? 0.5 : -0.5)));
            };
            std::snprintf(buf, sizeof buf, "ok %ld %ld", map(rc->left, rc->right, u), map(rc->top, rc->bottom, v));
            return buf;
        }
        if (cmd == "quick" && a.size() == 4) {
            g_driver.set_quick_touch(to_int(a[1]), to_int(a[2]), to_int(a[3]));
            return "ok";
        }
        if (cmd == "forward") return forward_command(a);
        if (cmd.rfind("bench_", 0) == 0) {
            std::string answer = ryk_wine::bench_command(g_driver, g_module, a);
            if (!answer.empty()) return answer;
        }
        if (cmd == "add") return "ok " + std::to_string(g_driver.add_touchscreen(touchscreen_from(a, 1)));
        if (cmd == "signal_add") return g_driver.signal_add_monitor() ? "ok 1" : "ok 0";
        if (cmd == "signal_remove") return g_driver.signal_remove_devices() ? "ok 1" : "ok 0";
        if (cmd == "refuse") {
            refuse_from(a, 1);
            return "ok";
        }
        if (cmd == "clear_refusals") {
            g_driver.clear_refusals();
            return "ok";
        }
        if (cmd == "state" && a.size() == 2) {
            const int ts = to_int(a[1]);
            const auto number = g_driver.monitor_number(ts);
            std::snprintf(buf, sizeof buf, "ok xy=%lu quick=%lu rect=%s number=%s",
                          static_cast<unsigned long>(g_driver.xy_event(ts)),
                          static_cast<unsigned long>(g_driver.quick_touch_event(ts)), rect_text(ts).c_str(),
                          number ? std::to_string(*number).c_str() : "-");
            return buf;
        }
        if (cmd == "process_end") {
            std::vector<uint32_t> own = {g_driver.add_monitor_event(), g_driver.remove_devices_event()};
            for (int i = 0; i < g_driver.touchscreen_count(); ++i) {
                own.push_back(g_driver.xy_event(i));
                own.push_back(g_driver.quick_touch_event(i));
            }
            own.erase(std::remove(own.begin(), own.end(), 0u), own.end());
            return "ok " + std::to_string(g_driver.process_ended("RykXyLdr.exe", own).size());
        }
        if (cmd == "events") {
            std::snprintf(buf, sizeof buf, "ok addmon=%lu remove=%lu count=%d",
                          static_cast<unsigned long>(g_driver.add_monitor_event()),
                          static_cast<unsigned long>(g_driver.remove_devices_event()), g_driver.touchscreen_count());
            return buf;
        }
    } catch (const std::exception& e) {
        return std::string("err ") + e.what();
    }
    return "err unknown command: " + line;
}

DWORD WINAPI control_thread(LPVOID) {
    g_control_thread = GetCurrentThreadId();
    // Wine's null display driver ignores SetCursorPos when it is a process's
    // first display call; this makes sure it is not the program's.
    POINT p;
    GetCursorPos(&p);

    const std::string name = pipe_name();
    auto listen = [&] {
        return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    };
    // While one client is served the next instance already listens, so that
    // a client never finds the pipe missing between two commands.
    HANDLE next = listen();
    for (;;) {
        HANDLE pipe = next;
        if (pipe == INVALID_HANDLE_VALUE) return 1;
        const bool connected = ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
        next = listen();
        if (connected) {
            char in[4096];
            DWORD got = 0;
            if (ReadFile(pipe, in, sizeof in - 1, &got, nullptr)) {
                std::string line(in, got);
                while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
                const std::string answer = control_command(line);
                DWORD put = 0;
                WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &put, nullptr);
                FlushFileBuffers(pipe);
            }
            DisconnectNamedPipe(pipe);
        }
        g_real_close(pipe);
    }
}

// Reads the touchscreens and refusal rules of the start: lines
// "add<TAB>..." and "refuse<TAB>..." as on the pipe; # starts a comment.
void read_config() {
    const std::string path = env("RYK_ORVANE_CONFIG");
    if (path.empty()) return;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    char buf[2048];
    while (std::fgets(buf, sizeof buf, f)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto a = split_tabs(line);
        try {
            if (a[0] == "add") g_driver.add_touchscreen(touchscreen_from(a, 1));
            else if (a[0] == "refuse") refuse_from(a, 1);
        } catch (const std::exception& e) {
            ryk_wine::Json j("protocol_error", ryk_wine::now_us());
            j.str("detail", std::string("orvane.vxd: bad line in ") + path + ": " + e.what());
            g_log.write(j.line());
        }
    }
    std::fclose(f);
}

// The first request of the process: the driver gets its touchscreens and the
// control thread starts. Runs on a program thread, never under the loader
// lock.
void start_once() {
    EnterCriticalSection(&g_cs);
    if (!g_started) {
        g_started = true;
        // A pipe that exists (free, or busy with another client) is served
        // by the driver of another process.
        if (WaitNamedPipeA(pipe_name().c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
            g_forwarding = true;
            LeaveCriticalSection(&g_cs);
            return;
        }
        read_config();
        g_driver.set_observer(log_request, log_error);
        DWORD id = 0;
        HANDLE t = CreateThread(nullptr, 0, control_thread, nullptr, 0, &id);
        if (t) g_real_close(t);
    }
    LeaveCriticalSection(&g_cs);
}

bool is_device(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
    EnterCriticalSection(&g_cs);
    auto it = g_devices.find(h);
    bool ours;
    if (it != g_devices.end()) {
        ours = it->second;
    } else {
        g_probe_hit = 0;
        DWORD n = 0;
        g_real_ioctl(h, kProbeCode, nullptr, 0, nullptr, 0, &n, nullptr);
        ours = g_probe_hit != 0;
        g_devices[h] = ours;
    }
    LeaveCriticalSection(&g_cs);
    return ours;
}

// ------------------------------------------------------------------ redirected imports

// A request of this process played by the driver of the process that serves
// the pipe; false (ERROR_GEN_FAILURE) when that driver refuses it or cannot
// be reached.
bool forward_ioctl(DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size, DWORD* returned) {
    *returned = 0;
    if (in_size > kMaxForwarded || out_size > kMaxForwarded) return false;
    char head[96];
    std::snprintf(head, sizeof head, "forward\t%lu\t%lu\t%lu\t", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetCurrentThreadId()), static_cast<unsigned long>(code));
    const std::string line = std::string(head) +
                             (in && in_size ? to_hex(static_cast<const unsigned char*>(in), in_size) : "-") + "\t" +
                             std::to_string(out_size);
    const std::string answer = ryk_wine::control(pipe_name(), line);
    // "ok OK RETURNED HEX"
    unsigned ok_flag = 0;
    unsigned long n = 0;
    char hex[2 * kMaxForwarded + 2] = {};
    if (std::sscanf(answer.c_str(), "ok %u %lu %2048s", &ok_flag, &n, hex) != 3) {
        ryk_wine::Json j("protocol_error", ryk_wine::now_us());
        j.str("detail", "orvane.vxd: a forwarded request got no answer: " + answer);
        g_log.write(j.line());
        return false;
    }
    if (out && out_size && std::strcmp(hex, "-") != 0) {
        try {
            const std::vector<unsigned char> bytes = from_hex(hex);
            std::memcpy(out, bytes.data(), std::min<size_t>(bytes.size(), out_size));
        } catch (const std::exception&) {
            return false;
        }
    }
    *returned = static_cast<DWORD>(std::min<unsigned long>(n, out_size));
    return ok_flag == 1;
}

// This process's request: to its own driver, or forwarded.
bool play_ioctl(DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size, DWORD* returned) {
    start_once();
    if (g_forwarding) return forward_ioctl(code, in, in_size, out, out_size, returned);
    uint32_t n = 0;
    const bool ok = g_driver.ioctl(GetCurrentThreadId(), code, in, in_size, out, out_size, &n);
    *returned = n;
    if (ok && code == REQ_GET_TOUCH && out && out_size >= sizeof(TouchPacket))
        ryk_wine::bench_packet_read(static_cast<const TouchPacket*>(out)->header.wTouchscreen);
    return ok;
}

BOOL WINAPI device_io_control(HANDLE h, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                              LPDWORD returned, LPOVERLAPPED overlapped) {
    if (!is_device(h)) return g_real_ioctl(h, code, in, in_size, out, out_size, returned, overlapped);
    DWORD n = 0;
    const bool ok = play_ioctl(code, in, in_size, out, out_size, &n);
    if (returned) *returned = n;
    if (!ok) SetLastError(ERROR_GEN_FAILURE);
    return ok ? TRUE : FALSE;
}

BOOL WINAPI close_handle(HANDLE h) {
    bool device = false;
    EnterCriticalSection(&g_cs);
    auto it = g_devices.find(h);
    if (it != g_devices.end()) {
        device = it->second;
        g_devices.erase(it);
    }
    LeaveCriticalSection(&g_cs);
    if (device) g_log.write(ryk_wine::Json("device_close", ryk_wine::now_us()).line());
    return g_real_close(h);
}

int WINAPI message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    ryk_wine::Json j("msgbox", ryk_wine::now_us());
    j.str("text", text ? text : "").str("caption", caption ? caption : "Error").num("style", style);
    j.boolean("owner", owner != nullptr).num("thread", GetCurrentThreadId());
    j.num("pid", GetCurrentProcessId());  // scripts/wine-run tells a tool's boxes by it, then drops it
    g_log.write(j.line());
    return g_real_msgbox(owner, text, caption, style);
}

std::string key_path(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return "";
    EnterCriticalSection(&g_cs);
    auto it = g_keys.find(key);
    std::string p = it != g_keys.end() ? it->second : std::string("?");
    LeaveCriticalSection(&g_cs);
    return p;
}

LONG WINAPI reg_open(HKEY parent, LPCSTR sub, DWORD options, REGSAM sam, PHKEY result) {
    const LONG r = g_real_reg_open(parent, sub, options, sam, result);
    if (r == ERROR_SUCCESS && result) {
        std::string p = key_path(parent);
        if (sub && *sub) {
            if (!p.empty()) p += '\\';
            p.append(sub);
        }
        EnterCriticalSection(&g_cs);
        g_keys[*result] = p;
        LeaveCriticalSection(&g_cs);
    }
    return r;
}

LONG WINAPI reg_close(HKEY key) {
    EnterCriticalSection(&g_cs);
    g_keys.erase(key);
    LeaveCriticalSection(&g_cs);
    return g_real_reg_close(key);
}

LONG WINAPI reg_set(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    const LONG r = g_real_reg_set(key, name, reserved, type, data, size);
    if (r != ERROR_SUCCESS) return r;
    ryk_wine::Json j("regwrite", ryk_wine::now_us());
    j.str("key", key_path(key)).str("name", name ? name : "");
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD v = 0;
        std::memcpy(&v, data, sizeof v);
        j.str("type", "REG_DWORD").num("value", v);
    } else if (type == REG_SZ) {
        DWORD n = 0;
        while (n < size && data[n] != 0) ++n;
        j.str("type", "REG_SZ").str("value", std::string(reinterpret_cast<const char*>(data), n));
    } else {
        std::vector<int64_t> bytes(data, data + size);
        if (type == REG_BINARY) j.str("type", "REG_BINARY");
        else j.num("type", type);
        j.nums("value", bytes);
    }
    g_log.write(j.line());
    return r;
}

BOOL WINAPI create_process(LPCSTR app, LPSTR cmd, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta, BOOL inherit,
                           DWORD flags, LPVOID envb, LPCSTR dir, LPSTARTUPINFOA si, LPPROCESS_INFORMATION pi) {
    const BOOL ok = g_real_create_process(app, cmd, pa, ta, inherit, flags, envb, dir, si, pi);
    const DWORD err = GetLastError();
    ryk_wine::Json j("launch", ryk_wine::now_us());
    j.str("command_line", cmd ? cmd : "");
    if (app) j.str("application", app);
    j.num("flags", flags).boolean("ok", ok != FALSE);
    if (ok && pi) j.num("pid", pi->dwProcessId);
    g_log.write(j.line());
    SetLastError(err);
    return ok;
}

BOOL WINAPI terminate_process(HANDLE process, UINT code) {
    static GetProcessIdFn get_id = reinterpret_cast<GetProcessIdFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessId")));
    ryk_wine::Json j("terminate", ryk_wine::now_us());
    if (get_id) j.num("pid", get_id(process));
    j.num("exit_code", code);
    g_log.write(j.line());
    return g_real_terminate(process, code);
}

// ------------------------------------------------------------------ topmost windows
//
// What a program's topmost windows show (the set-up wizard's prompt on each
// monitor), recorded as the simulated machine records it: the lines a
// visible WS_EX_TOPMOST window drew with DrawTextA between BeginPaint and
// EndPaint, as one "topmost_window" record each time they differ from the
// last one of that window, with the monitor that holds the window's centre
// (its position in EnumDisplayMonitors' order); "topmost_window_closed" when
// such a window that was recorded is destroyed.

using BeginPaintFn = HDC(WINAPI*)(HWND, LPPAINTSTRUCT);
using EndPaintFn = BOOL(WINAPI*)(HWND, const PAINTSTRUCT*);
using DrawTextAFn = int(WINAPI*)(HDC, LPCSTR, int, LPRECT, UINT);
using DestroyWindowFn = BOOL(WINAPI*)(HWND);
BeginPaintFn g_real_begin_paint = nullptr;
EndPaintFn g_real_end_paint = nullptr;
DrawTextAFn g_real_draw_text = nullptr;
DestroyWindowFn g_real_destroy_window = nullptr;

struct Painted {
    std::vector<std::string> lines;  // since BeginPaint
    std::string recorded;
    bool is_recorded = false;
};
std::map<HWND, Painted> g_painted;  // under g_cs

bool is_topmost(HWND w) { return w && (GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

struct MonitorSearch {
    POINT centre;
    int index = 0;
    int found = -1;
};

BOOL CALLBACK find_monitor(HMONITOR, HDC, LPRECT rc, LPARAM param) {
    auto* s = reinterpret_cast<MonitorSearch*>(param);
    if (s->found < 0 && s->centre.x >= rc->left && s->centre.x < rc->right && s->centre.y >= rc->top &&
        s->centre.y < rc->bottom)
        s->found = s->index;
    ++s->index;
    return TRUE;
}

std::string process_name() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    const char* base = std::strrchr(path, '\\');
    return base ? base + 1 : path;
}

HDC WINAPI begin_paint(HWND w, LPPAINTSTRUCT ps) {
    if (is_topmost(w)) {
        EnterCriticalSection(&g_cs);
        g_painted[w].lines.clear();
        LeaveCriticalSection(&g_cs);
    }
    return g_real_begin_paint(w, ps);
}

int WINAPI draw_text(HDC dc, LPCSTR text, int n, LPRECT rc, UINT format) {
    HWND w = WindowFromDC(dc);
    if (is_topmost(w) && text && !(format & DT_CALCRECT)) {
        EnterCriticalSection(&g_cs);
        g_painted[w].lines.push_back(n < 0 ? std::string(text) : std::string(text, static_cast<size_t>(n)));
        LeaveCriticalSection(&g_cs);
    }
    return g_real_draw_text(dc, text, n, rc, format);
}

BOOL WINAPI end_paint(HWND w, const PAINTSTRUCT* ps) {
    const BOOL r = g_real_end_paint(w, ps);
    if (!is_topmost(w) || !IsWindowVisible(w)) return r;
    EnterCriticalSection(&g_cs);
    Painted& p = g_painted[w];
    std::string text;
    for (const auto& line : p.lines) {
        if (!text.empty()) text += "\n";
        text += line;
    }
    const bool fresh = !p.is_recorded || text != p.recorded;
    p.is_recorded = true;
    p.recorded = text;
    LeaveCriticalSection(&g_cs);
    if (!fresh) return r;
    RECT rc{};
    GetWindowRect(w, &rc);
    MonitorSearch m;
    m.centre = {rc.left + (rc.right - rc.left) / 2, rc.top + (rc.bottom - rc.top) / 2};
    EnumDisplayMonitors(nullptr, nullptr, find_monitor, reinterpret_cast<LPARAM>(&m));
    ryk_wine::Json j("topmost_window", ryk_wine::now_us());
    j.num("window", static_cast<int64_t>(reinterpret_cast<uintptr_t>(w))).str("process", process_name());
    j.num("left", rc.left).num("top", rc.top).num("right", rc.right).num("bottom", rc.bottom);
    j.num("monitor", m.found).str("text", text).num("pid", GetCurrentProcessId());
    g_log.write(j.line());
    return r;
}

BOOL WINAPI destroy_window(HWND w) {
    bool recorded = false;
    EnterCriticalSection(&g_cs);
    auto it = g_painted.find(w);
    if (it != g_painted.end()) {
        recorded = it->second.is_recorded;
        g_painted.erase(it);
    }
    LeaveCriticalSection(&g_cs);
    if (recorded) {
        ryk_wine::Json j("topmost_window_closed", ryk_wine::now_us());
        j.num("window", static_cast<int64_t>(reinterpret_cast<uintptr_t>(w))).str("process", process_name());
        g_log.write(j.line());
    }
    return g_real_destroy_window(w);
}

// The import address table slot of DLL!function in `module`, or null.
void** import_slot(HMODULE module, const char* dll, const char* function) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk
                                                                                       : d->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

// Points the program's import of DLL!function at `hook`; stores the function
// it pointed at in `*real` (left alone when the program does not import it).
template <class Fn>
void redirect(HMODULE module, const char* dll, const char* function, Fn hook, Fn* real) {
    void** slot = import_slot(module, dll, function);
    if (!slot) return;
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return;
    *real = reinterpret_cast<Fn>(*slot);
    *slot = reinterpret_cast<void*>(hook);
    VirtualProtect(slot, sizeof *slot, old, &old);
}

void attach() {
    InitializeCriticalSection(&g_cs);
    const std::string log = env("RYK_ORVANE_LOG");
    if (!log.empty()) g_log.open(log);
    HMODULE program = GetModuleHandleA(nullptr);
    redirect(program, "KERNEL32.dll", "DeviceIoControl", &device_io_control, &g_real_ioctl);
    redirect(program, "KERNEL32.dll", "CloseHandle", &close_handle, &g_real_close);
    redirect(program, "KERNEL32.dll", "CreateProcessA", &create_process, &g_real_create_process);
    redirect(program, "KERNEL32.dll", "TerminateProcess", &terminate_process, &g_real_terminate);
    redirect(program, "USER32.dll", "MessageBoxA", &message_box, &g_real_msgbox);
    redirect(program, "USER32.dll", "BeginPaint", &begin_paint, &g_real_begin_paint);
    redirect(program, "USER32.dll", "EndPaint", &end_paint, &g_real_end_paint);
    redirect(program, "USER32.dll", "DrawTextA", &draw_text, &g_real_draw_text);
    redirect(program, "USER32.dll", "DestroyWindow", &destroy_window, &g_real_destroy_window);
    redirect(program, "ADVAPI32.dll", "RegOpenKeyExA", &reg_open, &g_real_reg_open);
    redirect(program, "ADVAPI32.dll", "RegCloseKey", &reg_close, &g_real_reg_close);
    redirect(program, "ADVAPI32.dll", "RegSetValueExA", &reg_set, &g_real_reg_set);
    ryk_wine::Json j("device_open", ryk_wine::now_us());
    j.str("path", "\\\\.\\Orvane.vxd").boolean("ok", true);
    g_log.write(j.line());
}

}  // namespace

// The device's own DeviceIoControl, which Wine calls for codes whose upper 16
// bits are zero (exported as "DeviceIoControl", see orvane.def).
extern "C" BOOL WINAPI OrvaneDeviceIoControl(DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                                             LPDWORD returned, LPOVERLAPPED) {
    if (code == kProbeCode) {
        g_probe_hit = 1;
        return TRUE;
    }
    DWORD n = 0;
    const bool ok = play_ioctl(code, in, in_size, out, out_size, &n);
    if (returned) *returned = n;
    return ok ? TRUE : FALSE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        attach();
    }
    return TRUE;
}
