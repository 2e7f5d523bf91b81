// ryk-wine-agent.exe: plays a scenario's steps to the real RykXyLdr.exe from
// inside Wine, for scripts/wine-run, and records what another program can
// see of it.
//
//   ryk-wine-agent.exe PLAN RECORD PROGRAM
//
// PLAN is a file of tab-separated lines that scripts/wine-run writes from the
// scenario:
//   object   mutex:NAME | event:NAME      a kernel object that exists before the start
//   step     N touch S X Y FLAGS          a packet at desktop pixel (X, Y)
//   step     N touch_at S U V FLAGS       a packet at (U, V) across the touchscreen
//   step     N tap S X Y | tap_at S U V   a kind-5 press and its release
//   step     N quick S DX DY              new quick-touch thresholds
//   step     N add SERIAL MONITOR PATH REMEMBERS QDX QDY ALIGNMENT SIGNAL
//   step     N remove                     the remove-devices signal
//   step     N command MESSAGE WPARAM LPARAM
//   step     N refuse CODE ALWAYS TIMES INDEX TOUCHSCREEN
//   step     N clear_refusals | wait MS | close
//   step     N end_session                the user ends the session: see end_session()
//   step     N tool NAME COMMAND_LINE     a console tool run to its end: see run_tool()
//   step     N display_notice             WM_DISPLAYCHANGE sent to the program's window
//   step     N tool_start NAME COMMAND_LINE   a GUI tool started in the background
//   step     N tool_wait NAME             its end awaited: see wait_background_tool()
//   step     N key VK                     a key pressed: see key_step()
//   step     N restart                    the program closed and started again
// Driver steps go to orvane.vxd's control pipe (RYK_ORVANE_PIPE).
//
// RECORD gets JSON lines, stamped with the machine's clock: first
// "agent_start" with the primary screen's size and every monitor's rectangle
// (left, top, right, bottom, one after another); each step as it
// is played ("step", with the touch point and warnings), the mouse input the
// low-level mouse hook sees ("mouse": flags as mouse_event's, and where the
// pointer is after it), the "Quavel4683" broadcasts (and any other broadcast
// of a registered message) that reach the agent's own window, message boxes
// of the program that it dismissed, "end" when it closes the program after
// the last step, and last "exit" with the program's exit code.
//
// After the start and after each step the agent waits until the program has
// settled: its message boxes are dismissed and neither the driver's record
// nor the agent's own has grown for a while. A real machine has no other
// sign of a program that waits.

#include "platform/win32.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "wine/control.h"
#include "wine/lines.h"

namespace {

ryk_wine::LineFile g_record;
std::atomic<long> g_records{0};
std::string g_pipe;
std::string g_driver_log;
std::string g_quavel_log;

void record(const ryk_wine::Json& j) {
    g_record.write(j.line());
    ++g_records;
}

void note(const std::string& text) {
    ryk_wine::Json j("agent_note", ryk_wine::now_us());
    j.str("text", text);
    record(j);
}

std::string env(const char* name) {
    char buf[1024];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::vector<std::string> split_tabs(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t tab = s.find('\t', start);
        out.push_back(s.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

long long to_ll(const std::string& s) { return std::strtoll(s.c_str(), nullptr, 0); }

// ------------------------------------------------------------------ watcher thread

LRESULT CALLBACK mouse_hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION) {
        const auto* m = reinterpret_cast<const MSLLHOOKSTRUCT*>(lparam);
        DWORD flags = 0;
        switch (wparam) {
        case WM_MOUSEMOVE: flags = MOUSEEVENTF_MOVE; break;
        case WM_LBUTTONDOWN: flags = MOUSEEVENTF_LEFTDOWN; break;
        case WM_LBUTTONUP: flags = MOUSEEVENTF_LEFTUP; break;
        case WM_RBUTTONDOWN: flags = MOUSEEVENTF_RIGHTDOWN; break;
        case WM_RBUTTONUP: flags = MOUSEEVENTF_RIGHTUP; break;
        case WM_MBUTTONDOWN: flags = MOUSEEVENTF_MIDDLEDOWN; break;
        case WM_MBUTTONUP: flags = MOUSEEVENTF_MIDDLEUP; break;
        default: break;
        }
        ryk_wine::Json j("mouse", ryk_wine::now_us());
        j.num("flags", flags).num("x", m->pt.x).num("y", m->pt.y).boolean("injected", (m->flags & LLMHF_INJECTED) != 0);
        if (!flags) j.num("message", static_cast<int64_t>(wparam));
        record(j);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK watcher_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg >= 0xC000 && msg <= 0xFFFF) {
        char name[256] = {};
        if (!GetClipboardFormatNameA(msg, name, sizeof name)) std::snprintf(name, sizeof name, "0x%04X", msg);
        ryk_wine::Json j("broadcast", ryk_wine::now_us());
        j.str("message", name).num("wparam", static_cast<int64_t>(wparam)).num("lparam", static_cast<int64_t>(lparam));
        record(j);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

HANDLE g_watcher_ready = nullptr;

// Owns the window that receives broadcasts and the low-level mouse hook;
// both need a thread that does nothing but pump messages.
DWORD WINAPI watcher_thread(LPVOID) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = watcher_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RykWineAgentWatcher";
    RegisterClassA(&wc);
    CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    if (!SetWindowsHookExA(WH_MOUSE_LL, mouse_hook, GetModuleHandleA(nullptr), 0)) note("no low-level mouse hook");
    SetEvent(g_watcher_ready);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
    return 0;
}

// ------------------------------------------------------------------ the program

PROCESS_INFORMATION g_program{};
std::string g_folder;  // the program's folder, where the tools are too

struct BoxSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK find_boxes(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == s->pid && std::string(cls) == "#32770") s->found.push_back(hwnd);
    return TRUE;
}

// A tool started in the background by a `tool` step, until its `tool_wait`.
struct Background {
    PROCESS_INFORMATION pi{};
    std::string command_line;
};
std::map<std::string, Background> g_background;

// Answers the open message boxes of the tools that run in the background
// with OK, as their user would (held boxes are the program's only);
// returns whether there was one.
bool dismiss_tool_boxes() {
    bool any = false;
    for (auto& [name, b] : g_background) {
        BoxSearch s{b.pi.dwProcessId, {}};
        EnumWindows(find_boxes, reinterpret_cast<LPARAM>(&s));
        for (HWND box : s.found) {
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            any = true;
        }
    }
    return any;
}

std::set<HWND> g_seen_boxes;      // every box of the program seen so far
std::vector<HWND> g_open_boxes;   // held boxes, oldest first
bool g_hold_boxes = false;        // boxes stay open until a dismiss step

void answer_box(HWND box) {
    char caption[256] = {}, text[1024] = {};
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    ryk_wine::Json j("msgbox_dismissed", ryk_wine::now_us());
    j.str("caption", caption).str("text", text);
    record(j);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// Answers the program's open message boxes with their OK button, as a user
// would, or, while boxes are held, notes the new ones in the order they
// opened; returns whether a box was answered or newly seen.
bool dismiss_message_boxes() {
    BoxSearch s{g_program.dwProcessId, {}};
    EnumWindows(find_boxes, reinterpret_cast<LPARAM>(&s));
    bool changed = false;
    for (HWND box : s.found) {
        const bool is_new = g_seen_boxes.insert(box).second;
        if (g_hold_boxes) {
            if (is_new) {
                g_open_boxes.push_back(box);
                changed = true;
            }
            continue;
        }
        if (is_new) answer_box(box);
        else PostMessageA(box, WM_COMMAND, IDOK, 0);
        changed = true;
    }
    if (!g_hold_boxes) g_open_boxes.clear();
    return changed;
}

// The user answers the oldest held box (with that caption, when one is
// given) with OK; false when none is open.
bool dismiss_oldest_box(const std::string& caption) {
    dismiss_message_boxes();
    for (auto it = g_open_boxes.begin(); it != g_open_boxes.end(); ++it) {
        if (!IsWindow(*it)) continue;
        char text[256] = {};
        GetWindowTextA(*it, text, sizeof text);
        if (!caption.empty() && caption != text) continue;
        answer_box(*it);
        g_open_boxes.erase(it);
        return true;
    }
    return false;
}

long long file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return -1;
    return (static_cast<long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

bool program_ended() { return WaitForSingleObject(g_program.hProcess, 0) == WAIT_OBJECT_0; }

// A calibration program that never gets ready (RYK_QUAVEL_READY_MS -1)
// runs: the program then waits out its time-out for it, silently, and ends
// it. Settling waits for that as the simulated machine does.
bool never_ready_calibration_runs() {
    const char* ready = std::getenv("RYK_QUAVEL_READY_MS");
    if (!ready || std::atol(ready) >= 0) return false;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    bool found = false;
    for (BOOL more = Process32First(snap, &pe); more && !found; more = Process32Next(snap, &pe))
        found = lstrcmpiA(pe.szExeFile, "Quavel.exe") == 0;
    CloseHandle(snap);
    return found;
}

// How long nothing observable must happen before the program counts as
// settled: RYK_SETTLE_QUIET_MS, given by wine-run to outlast the program's
// press-and-hold time, or 500 ms.
DWORD settle_quiet_ms() {
    const char* quiet = std::getenv("RYK_SETTLE_QUIET_MS");
    const long ms = quiet ? std::atol(quiet) : 0;
    return ms > 0 ? static_cast<DWORD>(ms) : 500;
}

// A top-level window of a process: any, or a visible topmost one.
struct WindowOfProcess {
    DWORD pid;
    bool topmost;
    HWND found;
};

BOOL CALLBACK find_window_of(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<WindowOfProcess*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s->pid) return TRUE;
    if (s->topmost && !(IsWindowVisible(hwnd) && (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST))) return TRUE;
    s->found = hwnd;
    return FALSE;
}

HWND window_of(DWORD pid, bool topmost) {
    WindowOfProcess s{pid, topmost, nullptr};
    EnumWindows(find_window_of, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Whether a tool of the background was busy: a message sent to one of its
// windows is answered once its thread reads its messages again. (Under
// Wine's X11 driver without a window manager, destroying a window can hold
// the thread for up to 2 s, which settling alone cannot see.)
bool tools_were_busy() {
    bool busy = false;
    for (auto& [name, b] : g_background) {
        const HWND w = window_of(b.pi.dwProcessId, false);
        if (!w) continue;
        const DWORD t0 = GetTickCount();
        DWORD_PTR result = 0;
        SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
        if (GetTickCount() - t0 >= 30) busy = true;
    }
    return busy;
}

// Waits until nothing observable has happened for the quiet time (and the
// tools of the background read their messages), dismissing message boxes
// meanwhile; gives up after `limit_ms` with a note.
void settle(DWORD limit_ms = 20000) {
    const DWORD quiet_ms = settle_quiet_ms();
    const DWORD start = GetTickCount();
    DWORD last_change = start;
    long long last = -2;
    for (;;) {
        const bool box = dismiss_message_boxes() | dismiss_tool_boxes();
        const long long now = file_size(g_driver_log) + file_size(g_quavel_log) * 7 + g_records.load() * 131;
        const DWORD t = GetTickCount();
        if (box || now != last || never_ready_calibration_runs()) {
            last = now;
            last_change = t;
        }
        if (t - last_change >= (program_ended() ? quiet_ms / 2 : quiet_ms)) {
            if (!tools_were_busy()) return;
            last_change = GetTickCount();
            continue;
        }
        if (t - start >= limit_ms) {
            note("the program did not settle within " + std::to_string(limit_ms) + " ms");
            return;
        }
        Sleep(20);
    }
}

HWND program_window() { return FindWindowA("RykXyLdrAppClass", nullptr); }

// ------------------------------------------------------------------ steps

std::string driver(const std::string& command) {
    if (file_size(g_driver_log) < 0) return "err the program has not opened the driver";
    return ryk_wine::control(g_pipe, command, 5000);
}

void touch_step(ryk_wine::Json& step, const std::string& step_number, const std::vector<std::string>& a, bool at,
                bool tap) {
    // a: S X Y [FLAGS]  or  S U V [FLAGS]
    const std::string flags = tap ? "5" : a[4];
    std::string answer = driver(std::string(at ? "touch_at" : "touch") + "\t" + a[1] + "\t" + a[2] + "\t" + a[3] +
                                "\t" + flags);
    if (answer.rfind("ok", 0) != 0) {
        step.str("warning", answer);
        record(step);
        return;
    }
    if (at) {
        long x = 0, y = 0;
        std::sscanf(answer.c_str(), "ok %ld %ld", &x, &y);
        step.num("x", x).num("y", y);
    } else {
        step.num("x", to_ll(a[2])).num("y", to_ll(a[3]));
    }
    const std::string state = driver("state\t" + a[1]);
    if (state.find("xy=0 ") != std::string::npos)
        step.str("warning", "no packet event is handed over for touchscreen " + a[1] +
                                ": the packet waits in the driver's queue");
    record(step);
    if (tap) {
        const std::string release = std::to_string(5 | 0x100);
        answer = driver(std::string(at ? "touch_at" : "touch") + "\t" + a[1] + "\t" + a[2] + "\t" + a[3] + "\t" +
                        release);
        if (answer.rfind("ok", 0) != 0) {
            ryk_wine::Json w("step_warning", ryk_wine::now_us());
            w.num("n", to_ll(step_number)).str("warning", "the release: " + answer);
            record(w);
        }
    }
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK find_top_level(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s->pid) return TRUE;
    // Wine, like Windows NT, gives every thread with a window a hidden
    // "Default IME" window of class IME, which the session end reaches too.
    // Windows 95 and 98 (outside East Asia) make none, nor does the
    // simulated machine; the program never sees it. Left out.
    char cls[8] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpiA(cls, "IME") != 0) s->found.push_back(hwnd);
    return TRUE;
}

// Ends the session for the program as Windows (and wineboot --end-session)
// does: WM_QUERYENDSESSION (0, 0) sent to each of its top-level windows,
// hidden ones included; when all answer TRUE, WM_ENDSESSION (TRUE, 0) to
// each, else WM_ENDSESSION (FALSE, 0) to those that agreed. Each send waits
// up to 20 s for its answer. After an agreed end the driver checks, from
// inside the process, that it holds no event of it ("process_end" on the
// control pipe), and the process is terminated with exit code 0, whatever
// its threads are doing. Recorded as rykxy-sim traces it: "session_message",
// "session_answer", "process_end".
void end_session() {
    WindowSearch s{g_program.dwProcessId, {}};
    EnumWindows(find_top_level, reinterpret_cast<LPARAM>(&s));
    bool hung = false;
    auto send = [&](HWND h, UINT msg, WPARAM wp) {
        const char* name = msg == WM_QUERYENDSESSION ? "WM_QUERYENDSESSION" : "WM_ENDSESSION";
        ryk_wine::Json m("session_message", ryk_wine::now_us());
        m.str("message", name).num("wparam", static_cast<int64_t>(wp)).num("lparam", 0);
        m.num("window", static_cast<int64_t>(reinterpret_cast<uintptr_t>(h)));
        record(m);
        const DWORD start = GetTickCount();
        DWORD_PTR result = 0;
        const bool answered =
            SendMessageTimeoutA(h, msg, wp, 0, SMTO_NORMAL, 20000, &result) != 0;
        const DWORD waited = GetTickCount() - start;
        ryk_wine::Json a("session_answer", ryk_wine::now_us());
        a.str("message", name).boolean("answered", answered);
        if (answered) a.num("result", static_cast<int64_t>(result));
        a.num("waited_ms", waited);
        if (waited >= 5000) a.str("warning", "not answered within 5000 ms: Windows shows the program as not responding");
        record(a);
        if (!answered && IsWindow(h)) hung = true;
        return answered ? static_cast<LRESULT>(result) : 0;
    };
    bool agreed = true;
    std::vector<HWND> yes;
    for (HWND h : s.found) {
        if (program_ended()) break;
        const LRESULT r = send(h, WM_QUERYENDSESSION, 0);
        if (hung) break;
        if (r == 0 && IsWindow(h)) {
            agreed = false;
            break;
        }
        yes.push_back(h);
    }
    if (!hung) {
        for (HWND h : agreed ? s.found : yes) {
            if (program_ended()) break;
            send(h, WM_ENDSESSION, agreed ? TRUE : FALSE);
            if (hung) break;
        }
    }
    if ((!agreed && !hung) || program_ended()) return;
    const std::string check = driver("process_end");
    if (check.rfind("ok", 0) != 0) note("the driver's end check: " + check);
    ryk_wine::Json e("process_end", ryk_wine::now_us());
    e.str("process", "RykXyLdr.exe").str("how", hung ? "end_task" : "session_end").num("exit_code", 0);
    record(e);
    TerminateProcess(g_program.hProcess, 0);
    WaitForSingleObject(g_program.hProcess, 10000);
}

// Runs the console tool NAME.exe from the program's folder as a process of
// its own beside the program, with COMMAND_LINE, its standard output and
// error one pipe, to its end (60 s at most), answering the program's message
// boxes meanwhile. Recorded as "tool" with its process id, command line,
// exit code (null when it did not end) and output; scripts/wine-run adds the
// driver requests of that process.
void run_tool(ryk_wine::Json& step, const std::vector<std::string>& a) {
    record(step);
    const std::string folder = g_folder;
    const std::string path = folder + "\\" + a[1] + ".exe";
    std::string command_line = a[2];
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    auto tool_event = [&] {  // stamped when the tool has ended, as rykxy-sim records it
        ryk_wine::Json t("tool", ryk_wine::now_us());
        t.str("name", a[1]).str("command_line", command_line);
        return t;
    };
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) {
        record(tool_event().null("exit_code").str("output", "").str("warning", "no pipe for its output"));
        return;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = write_end;
    si.hStdError = write_end;
    PROCESS_INFORMATION pi{};
    const bool started = CreateProcessA(path.c_str(), &command_line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, folder.c_str(), &si, &pi) != 0;
    CloseHandle(write_end);
    if (!started) {
        CloseHandle(read_end);
        record(tool_event().null("exit_code").str("output", "").str("warning", "cannot start " + path));
        return;
    }
    std::string output;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD avail = 0;
        const BOOL open = PeekNamedPipe(read_end, nullptr, 0, nullptr, &avail, nullptr);
        if (open && avail) {
            char buf[4096];
            DWORD n = 0;
            if (ReadFile(read_end, buf, sizeof buf, &n, nullptr) && n) output.append(buf, n);
            continue;
        }
        const bool ended = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
        if ((!open || ended) && (ended || GetTickCount() - start >= 60000)) {
            if (open && ended) {  // what is left in the pipe
                while (PeekNamedPipe(read_end, nullptr, 0, nullptr, &avail, nullptr) && avail) {
                    char buf[4096];
                    DWORD n = 0;
                    if (!ReadFile(read_end, buf, sizeof buf, &n, nullptr) || !n) break;
                    output.append(buf, n);
                }
            }
            break;
        }
        if (GetTickCount() - start >= 60000) break;
        dismiss_message_boxes();
        Sleep(10);
    }
    CloseHandle(read_end);
    DWORD code = 0;
    ryk_wine::Json t = tool_event();
    t.num("pid", pi.dwProcessId);
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code)) {
        t.num("exit_code", code);
    } else {
        TerminateProcess(pi.hProcess, 0xDEAD);
        t.null("exit_code");
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    t.str("output", output);
    record(t);
}

std::string g_program_path;  // the program, to start it again

// Starts the program (again) and waits until it reads its input.
bool start_program() {
    std::string command_line = "\"" + g_program_path + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(g_program_path.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        g_folder.c_str(), &si, &g_program))
        return false;
    WaitForInputIdle(g_program.hProcess, 20000);
    return true;
}

// A GUI tool started in the background: it runs on while the next steps
// are played (its message boxes answered OK), until its `tool_wait`.
void start_background_tool(ryk_wine::Json& step, const std::vector<std::string>& a) {
    record(step);
    const std::string path = g_folder + "\\" + a[1] + ".exe";
    Background b;
    b.command_line = a[2];
    std::string cmd = a[2];
    STARTUPINFOA si{};
    si.cb = sizeof si;
    ryk_wine::Json t("tool_start", ryk_wine::now_us());
    t.str("name", a[1]).str("command_line", a[2]);
    if (!CreateProcessA(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, g_folder.c_str(), &si, &b.pi)) {
        note("cannot start " + path + " (error " + std::to_string(GetLastError()) + ")");
        t.null("process");
        record(t);
        return;
    }
    t.num("process", b.pi.dwProcessId);
    record(t);
    WaitForInputIdle(b.pi.hProcess, 20000);
    g_background[a[1]] = b;
}

// Waits for a tool of the background to end (its boxes answered OK) and
// records its "tool" event.
void wait_background_tool(ryk_wine::Json& step, const std::vector<std::string>& a) {
    record(step);
    auto it = g_background.find(a[1]);
    if (it == g_background.end()) {
        note(a[1] + " was not started in the background");
        return;
    }
    Background b = it->second;
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(b.pi.hProcess, 20) != WAIT_OBJECT_0) {
        dismiss_tool_boxes();
        dismiss_message_boxes();
        if (GetTickCount() - start >= 120000) break;
    }
    g_background.erase(it);
    ryk_wine::Json t("tool", ryk_wine::now_us());
    t.str("name", a[1]).str("command_line", b.command_line).num("pid", b.pi.dwProcessId);
    DWORD code = 0;
    if (WaitForSingleObject(b.pi.hProcess, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(b.pi.hProcess, &code)) {
        t.num("exit_code", code);
    } else {
        TerminateProcess(b.pi.hProcess, 0xDEAD);
        t.null("exit_code");
    }
    t.str("output", "");
    CloseHandle(b.pi.hProcess);
    CloseHandle(b.pi.hThread);
    record(t);
}

// A key pressed on the keyboard goes to the window in the foreground; under
// Wine's null display driver nothing is in the foreground, so it goes to the
// topmost window of a tool of the background, which a user would be looking
// at.
void key_step(ryk_wine::Json& step, const std::vector<std::string>& a) {
    const UINT vk = static_cast<UINT>(to_ll(a[1]));
    HWND w = nullptr;
    for (auto& [name, b] : g_background)
        if (HWND t = window_of(b.pi.dwProcessId, true)) w = t;
    if (!w) w = GetForegroundWindow();
    if (!w) step.str("warning", "no window to take the key");
    record(step);
    if (!w) return;
    PostMessageA(w, WM_KEYDOWN, vk, 1);
    PostMessageA(w, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
}

// The test driver lives in the program's process and starts from
// RYK_ORVANE_CONFIG in each new one, while the real driver outlives the
// program and keeps what it was told: the monitor a touchscreen that
// remembers its monitor was given (REQ_SET_MONITOR_NUMBER) is what the next
// enumeration reports. So before a restart that monitor goes into the
// touchscreen's "add" line of the file.
void carry_driver_memory() {
    const std::string path = env("RYK_ORVANE_CONFIG");
    if (path.empty()) return;
    std::vector<std::string> lines;
    {
        std::ifstream f(path);
        for (std::string line; std::getline(f, line);) lines.push_back(line);
    }
    int index = 0;
    for (auto& line : lines) {
        auto a = split_tabs(line);
        if (a.size() < 8 || a[0] != "add") continue;
        const std::string state = driver("state\t" + std::to_string(index++));
        const size_t at = state.find("number=");
        if (a[4] != "1" || at == std::string::npos || state.compare(at + 7, 1, "-") == 0) continue;
        a[2] = std::to_string(to_ll(state.substr(at + 7)));
        line = a[0];
        for (size_t i = 1; i < a.size(); ++i) line += "\t" + a[i];
    }
    std::ofstream out(path, std::ios::trunc);
    for (const auto& line : lines) out << line << "\n";
}

// WM_CLOSE to the program, and once it has ended it starts again as a new
// process: what a user who restarts it does.
void restart_step(ryk_wine::Json& step) {
    record(step);
    carry_driver_memory();
    HWND w = program_window();
    if (w) PostMessageA(w, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(g_program.hProcess, 30000) != WAIT_OBJECT_0) {
        note("the program did not end for its restart");
        return;
    }
    CloseHandle(g_program.hProcess);
    CloseHandle(g_program.hThread);
    if (!start_program()) note("the program could not be started again");
}

void play(const std::vector<std::string>& f) {
    // f: step N KIND ARGS...
    const std::vector<std::string> a(f.begin() + 2, f.end());
    const std::string& kind = a[0];
    ryk_wine::Json step("step", ryk_wine::now_us());
    step.num("n", to_ll(f[1]));
    if (kind == "touch" || kind == "touch_at") return touch_step(step, f[1], a, kind == "touch_at", false);
    if (kind == "tap" || kind == "tap_at") return touch_step(step, f[1], a, kind == "tap_at", true);

    std::string answer = "ok";
    if (kind == "command" || kind == "close") {
        HWND w = program_window();
        if (!w) step.str("warning", "the program has no window of class RykXyLdrAppClass: nothing posted");
        record(step);
        if (!w) return;
        if (kind == "close")
            PostMessageA(w, WM_CLOSE, 0, 0);
        else
            PostMessageA(w, RegisterWindowMessageA(a[1].c_str()), static_cast<WPARAM>(to_ll(a[2])),
                         static_cast<LPARAM>(static_cast<int32_t>(static_cast<uint32_t>(to_ll(a[3])))));
        return;
    }
    if (kind == "display_notice") {
        // What the program hears of a change of the display settings:
        // WM_DISPLAYCHANGE sent to its window, with the bits per pixel and
        // the primary screen's size (Wine sends none for a change made from
        // outside, and cannot change its monitors while it runs).
        HWND w = program_window();
        if (!w) step.str("warning", "the program has no window of class RykXyLdrAppClass: nothing sent");
        record(step);
        if (!w) return;
        DWORD_PTR result = 0;
        HDC dc = GetDC(nullptr);
        const int bpp = dc ? GetDeviceCaps(dc, BITSPIXEL) : 32;
        if (dc) ReleaseDC(nullptr, dc);
        if (!SendMessageTimeoutA(w, WM_DISPLAYCHANGE, static_cast<WPARAM>(bpp),
                                 MAKELPARAM(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)), SMTO_NORMAL,
                                 10000, &result))
            note("WM_DISPLAYCHANGE was not answered within 10 s");
        return;
    }
    if (kind == "end_session") {
        if (program_ended()) step.str("warning", "the program has already ended");
        record(step);
        if (!program_ended()) end_session();
        return;
    }
    if (kind == "tool") return run_tool(step, a);
    if (kind == "tool_start") return start_background_tool(step, a);
    if (kind == "tool_wait") return wait_background_tool(step, a);
    if (kind == "key") return key_step(step, a);
    if (kind == "restart") return restart_step(step);
    if (kind == "hold_boxes") {
        record(step);
        g_hold_boxes = a.size() > 1 && a[1] == "1";
        if (!g_hold_boxes) dismiss_message_boxes();
        return;
    }
    if (kind == "dismiss_box") {
        if (!dismiss_oldest_box(a.size() > 1 ? a[1] : std::string()))
            step.str("warning", "no message box is open: nothing dismissed");
        record(step);
        return;
    }
    if (kind == "wait") {
        record(step);
        Sleep(static_cast<DWORD>(to_ll(a[1])));
        return;
    }
    if (kind == "registry") {
        // KEY NAME TYPE DATA, repeated: values of HKEY_LOCAL_MACHINE set as
        // an administrator would, the program not told.
        for (size_t i = 1; i + 3 < a.size(); i += 4) {
            HKEY key = nullptr;
            std::string warning;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, a[i].c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                nullptr) != ERROR_SUCCESS) {
                warning = "cannot create the key " + a[i];
            } else {
                const std::string& type = a[i + 2];
                const std::string& data = a[i + 3];
                LONG rc;
                if (type == "dword") {
                    const DWORD d = static_cast<DWORD>(to_ll(data));
                    rc = RegSetValueExA(key, a[i + 1].c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), sizeof d);
                } else if (type == "binary") {
                    std::vector<BYTE> bytes;
                    for (size_t j = 0; j + 1 < data.size(); j += 2)
                        bytes.push_back(static_cast<BYTE>(std::strtoul(data.substr(j, 2).c_str(), nullptr, 16)));
                    rc = RegSetValueExA(key, a[i + 1].c_str(), 0, REG_BINARY, bytes.data(),
                                        static_cast<DWORD>(bytes.size()));
                } else {
                    rc = RegSetValueExA(key, a[i + 1].c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                        static_cast<DWORD>(data.size() + 1));
                }
                if (rc != ERROR_SUCCESS) warning = "cannot set " + a[i] + "\\" + a[i + 1];
                RegCloseKey(key);
            }
            if (!warning.empty()) step.str("warning", warning);
        }
        record(step);
        return;
    }
    // Driver steps.
    record(step);
    if (kind == "quick") {
        answer = driver("quick\t" + a[1] + "\t" + a[2] + "\t" + a[3]);
    } else if (kind == "add") {
        std::string cmd = "add";
        for (size_t i = 1; i + 1 < a.size(); ++i) cmd += "\t" + a[i];
        answer = driver(cmd);
        if (answer.rfind("ok", 0) == 0 && a.back() == "1") answer = driver("signal_add");
    } else if (kind == "remove") {
        answer = driver("signal_remove");
    } else if (kind == "refuse") {
        answer = driver("refuse\t" + a[1] + "\t" + a[2] + "\t" + a[3] + "\t" + a[4] + "\t" + a[5]);
    } else if (kind == "clear_refusals") {
        answer = driver("clear_refusals");
    } else {
        answer = "err unknown step " + kind;
    }
    if (answer.rfind("ok", 0) != 0 || answer == "ok 0") {
        ryk_wine::Json w("step_warning", ryk_wine::now_us());
        w.num("n", to_ll(f[1])).str("warning", answer == "ok 0" ? "no event is handed over: the driver cannot signal"
                                                              : answer);
        record(w);
    }
}

// Ends what the program left running (calibration programs it started), so
// that the run leaves no process behind.
void end_leftovers() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    for (BOOL more = Process32First(snap, &pe); more; more = Process32Next(snap, &pe)) {
        if (lstrcmpiA(pe.szExeFile, "Quavel.exe") != 0) continue;
        HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, pe.th32ProcessID);
        if (p) {
            TerminateProcess(p, 0);
            CloseHandle(p);
            note("ended a Quavel.exe left running");
        }
    }
    CloseHandle(snap);
}

BOOL CALLBACK add_monitor(HMONITOR, HDC, LPRECT rc, LPARAM param) {
    auto* out = reinterpret_cast<std::vector<int64_t>*>(param);
    out->insert(out->end(), {rc->left, rc->top, rc->right, rc->bottom});
    return TRUE;
}

// left, top, right, bottom of each monitor, in the order the program will
// enumerate them, for scripts/wine-run to check the desktop against the
// scenario's.
std::vector<int64_t> monitor_rects() {
    std::vector<int64_t> out;
    EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&out));
    return out;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc != 4) {
        std::fprintf(stderr, "usage: ryk-wine-agent.exe PLAN RECORD PROGRAM\n");
        return 2;
    }
    const std::string plan = __argv[1], out = __argv[2], program = __argv[3];
    if (!g_record.open(out)) {
        std::fprintf(stderr, "ryk-wine-agent: cannot write %s\n", out.c_str());
        return 2;
    }
    g_pipe = env("RYK_ORVANE_PIPE");
    if (g_pipe.empty()) g_pipe = "\\\\.\\pipe\\RykOrvaneTest";
    g_driver_log = env("RYK_ORVANE_LOG");
    g_quavel_log = env("RYK_QUAVEL_LOG");

    std::vector<std::vector<std::string>> lines;
    {
        std::ifstream f(plan);
        if (!f) {
            std::fprintf(stderr, "ryk-wine-agent: cannot read %s\n", plan.c_str());
            return 2;
        }
        for (std::string line; std::getline(f, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) lines.push_back(split_tabs(line));
        }
    }

    // The pointer starts in the middle of the primary monitor, as on the
    // simulated machine. GetCursorPos first: the null display driver ignores
    // SetCursorPos as a process's first display call.
    POINT p;
    GetCursorPos(&p);
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    SetCursorPos(w / 2, h / 2);
    {
        ryk_wine::Json j("agent_start", ryk_wine::now_us());
        j.num("screen_width", w).num("screen_height", h).nums("monitors", monitor_rects());
        record(j);
    }

    g_watcher_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD tid = 0;
    CloseHandle(CreateThread(nullptr, 0, watcher_thread, nullptr, 0, &tid));
    WaitForSingleObject(g_watcher_ready, 10000);

    // "hold_boxes" before the first step: boxes stay open from the start.
    for (const auto& f : lines)
        if (f[0] == "hold_boxes") g_hold_boxes = true;

    std::vector<HANDLE> objects;
    for (const auto& f : lines) {
        if (f[0] != "object" || f.size() < 2) continue;
        const std::string& o = f[1];
        if (o.rfind("event:", 0) == 0)
            objects.push_back(CreateEventA(nullptr, FALSE, FALSE, o.substr(6).c_str()));
        else
            objects.push_back(CreateMutexA(nullptr, FALSE, o.substr(o.rfind("mutex:", 0) == 0 ? 6 : 0).c_str()));
    }

    g_folder = program.substr(0, program.find_last_of("\\/"));
    g_program_path = program;
    if (!start_program()) {
        std::fprintf(stderr, "ryk-wine-agent: cannot start %s (error %lu)\n", program.c_str(), GetLastError());
        return 2;
    }
    settle();

    bool closed = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto& f = lines[i];
        if (f[0] != "step" || f.size() < 3) continue;
        play(f);
        // "nosettle" after a step (settle = false): the next step follows at
        // once, so that a time-out the program has pending does not run out
        // in between; Wine's time runs on meanwhile, as it does.
        // While a tool runs in the background the steps settle all the
        // same: under Wine a tap must come after the tool has asked for it,
        // which settling waits for, and the tool's time-outs are long.
        if (i + 1 < lines.size() && !lines[i + 1].empty() && lines[i + 1][0] == "nosettle" &&
            g_background.empty()) {
            dismiss_message_boxes();
        } else {
            settle();
        }
        closed = f[2] == "close";
    }
    // A last step that closed the program: it ends in its own time (after
    // waiting for its calibration program, say), which settling cannot tell
    // from waiting for input; it is not closed a second time.
    if (closed) WaitForSingleObject(g_program.hProcess, 30000);

    if (!program_ended()) {
        HWND win = program_window();
        ryk_wine::Json j("end", ryk_wine::now_us());
        j.str("action", win ? "close" : "none");
        record(j);
        if (win) {
            PostMessageA(win, WM_CLOSE, 0, 0);
            settle();
        }
    }
    DWORD code = 0;
    const bool ended = WaitForSingleObject(g_program.hProcess, 30000) == WAIT_OBJECT_0;
    ryk_wine::Json exit("exit", ryk_wine::now_us());
    if (ended && GetExitCodeProcess(g_program.hProcess, &code)) {
        exit.num("code", code);
    } else {
        exit.null("code");
        TerminateProcess(g_program.hProcess, 0xDEAD);
        note("the program did not end; it was terminated");
    }
    record(exit);
    end_leftovers();
    for (HANDLE o : objects) CloseHandle(o);
    return 0;
}
