// The simulated Windows machine: one object that owns the kernel (objects,
// threads, waits, the clock, windows and messages, processes), the registry,
// the desktop, the Orvane driver and the trace. The Win32 functions declared
// in src/platform/win32_api.h act on the machine that exists at the time of
// the call (Machine::current()); only one exists at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "trace.h"

namespace sim {

class Kernel;
class Registry;
class Desktop;
namespace orvane {
class Driver;
}

enum class Windows { v95, v98, me, nt4, w2000, xp, vista };
enum class OpenVxd { by_version, exported, missing, returns_zero };

struct MonitorConfig {
    RECT rc;    // the monitor's rectangle in virtual-desktop pixels
    RECT work;  // its work area; equal to rc when not given
};

// A program in the simulated file system, started by CreateProcessA.
struct ProgramSpec {
    int ready_after_ms = 0;             // -1: never ready for input
    bool console = false;               // WaitForInputIdle fails for it
    int sets_exit_event_after_ms = -1;  // -1: never; measured from its start
    std::string exit_event = "RykCalExitEvent";
    // Optional own behaviour, run on the program's main thread instead of the
    // above. Its result is the exit code.
    std::function<int(const std::string& command_line)> main;
};

struct Config {
    Windows windows = Windows::v98;
    OpenVxd open_vxd_handle = OpenVxd::by_version;
    // The first monitor is the primary one.
    std::vector<MonitorConfig> monitors = {{{0, 0, 1024, 768}, {0, 0, 1024, 768}}};
    bool driver = true;  // "\\.\Orvane.vxd" can be opened
    // Kernel objects that exist before the program starts. "mutex:Name" or
    // "event:Name"; without a prefix a name containing "Mutex" is a mutex and
    // any other name an event.
    std::vector<std::string> existing_objects;
    std::string system_directory = "C:\\WINDOWS\\SYSTEM";
    bool debugger_attached = false;
    // CreateWindowExA refuses every window (ERROR_NOT_ENOUGH_MEMORY), before
    // any message reaches the window procedure.
    bool refuse_create_window = false;
    // Message boxes stay open from the machine's start, those of a program's
    // start-up included (Machine::hold_message_boxes).
    bool hold_boxes = false;
};

// What the machine tells of its threads, handles and windows: copies taken
// under the kernel's lock (Machine::threads() and the like).
struct ThreadInfo {
    DWORD id = 0;
    DWORD process_id = 0;
    std::string process;  // its process's name
    std::string label;    // "<process> main", "attached", or what CreateThread ran
    bool main = false;     // its process's first thread
    bool started = false;  // the machine runs it (not a caller's thread that attached itself)
    bool ended = false;
    SIZE_T stack_size = 0;  // as CreateThread was asked for it
    uint64_t wakeups = 0;   // waits that blocked and were then satisfied or timed out
    bool process_ready = false;  // its process is ready for input (WaitForInputIdle returns)
    std::thread::id host;        // the host thread that runs it, while there is one
};

struct HandleInfo {
    HANDLE handle = nullptr;
    // "event", "mutex", "thread", "process", "device", "queue", "critsec" or "output"
    std::string kind;
    std::string name;     // the object's name; empty when it has none
    DWORD thread_id = 0;  // a thread handle's thread
};

struct WindowInfo {
    std::string class_name;  // as the class was registered
    std::string title;
    DWORD thread_id = 0;  // the thread that made it, which runs its window procedure
    DWORD process_id = 0;
};

// A window class as a process registered it.
struct WindowClassInfo {
    std::string name;
    std::string menu;  // lpszMenuName
    WNDCLASSA wc{};    // what RegisterClassA was given, its two strings left null
};

const char* windows_name(Windows w);
bool parse_windows(const std::string& s, Windows* out);

class Machine {
public:
    explicit Machine(Config config = Config());
    ~Machine();  // ends every thread the machine started and waits for them
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    static Machine& current();  // aborts when there is none
    static Machine* current_or_null();

    const Config& config() const { return config_; }
    Trace& trace() { return trace_; }
    Kernel& kernel() { return *kernel_; }  // for the simulated Win32 functions
    Registry& registry() { return *registry_; }
    Desktop& desktop() { return *desktop_; }
    orvane::Driver& driver() { return *driver_; }

    uint64_t now_us() const;

    // Returns once every thread of the machine is blocked (in a wait, in
    // GetMessageA with an empty queue, or in a held message box) and no timed
    // wait is left to expire; simulated time advances through every pending
    // time-out meanwhile. The calling thread counts as blocked while it
    // settles.
    void settle();
    // Returns once every other thread of the machine is blocked, without
    // letting simulated time pass: timed waits stay pending. The calling
    // thread counts as running meanwhile.
    void quiesce();
    // Lets `ms` of simulated time pass: the calling thread waits that long,
    // so time-outs due before then expire in order, and it returns with the
    // clock at exactly that time; later time-outs stay pending.
    void advance_ms(uint64_t ms);

    // Starts `main` as the main thread of a new process named `name`; its
    // result is the process's exit code. When it returns the process ends and
    // any thread of it still running is reported as misuse and ended.
    DWORD start_process(const std::string& name, std::function<int()> main);
    bool process_ended(DWORD pid) const;
    DWORD process_exit_code(DWORD pid) const;
    // Starts a console program: GetCommandLineA gives `command_line`, and
    // what it writes to its standard output and error is kept for
    // process_output().
    // `console` false starts a GUI program the same way (WaitForInputIdle
    // then works for it as for any GUI program).
    DWORD start_console_process(const std::string& name, const std::string& command_line, std::function<int()> main,
                                bool console = true);
    std::string process_output(DWORD pid) const;
    std::vector<DWORD> process_thread_ids(DWORD pid) const;

    // Programs in the simulated file system (full path, case-insensitive; the
    // ".exe" is part of the name).
    void install_program(const std::string& path, ProgramSpec spec);

    // The user logs off or shuts Windows down, for process `pid`: its
    // top-level windows are sent WM_QUERYENDSESSION and, when all agree,
    // WM_ENDSESSION (TRUE); then the process is ended with exit code 0,
    // whatever its threads are doing (see Kernel::end_session). Each message
    // and the end are traced ("session_message", "process_end"). A window
    // gets kSessionAnswerMs to answer; one that does not is ended as "End
    // Task" does. Returns whether the process was ended.
    static constexpr DWORD kSessionAnswerMs = 20000;  // WaitToKillAppTimeout
    static constexpr DWORD kHungAppMs = 5000;         // HungAppTimeout
    bool end_session(DWORD pid);

    // Another program posts a message. `hwnd` may be HWND_BROADCAST.
    bool post_from_outside(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    HWND find_window(const std::string& class_name) const;
    // The user presses and releases key `vk` (WM_KEYDOWN, WM_KEYUP to the
    // active window; trace event `key`). False when no window is active.
    bool press_key(UINT vk);
    UINT registered_message(const std::string& name) const;  // 0 if not registered

    // Message boxes are answered IDOK at once unless held. A held box stays
    // open until released (oldest first, or the oldest with that caption)
    // or until its thread's modal loop meets WM_QUIT; meanwhile that loop
    // dispatches the messages posted to the thread's windows.
    void hold_message_boxes(bool hold);
    bool release_message_box();  // false when none is open
    bool release_message_box(const std::string& caption);
    size_t open_message_boxes() const;

    // What the machine knows of its state, for tests and tools. Each is a
    // copy taken at the call.
    // Every thread the machine has had (ended ones too), oldest first.
    std::vector<ThreadInfo> threads() const;
    std::optional<ThreadInfo> thread(DWORD thread_id) const;
    // The host CPU time a thread the machine runs has used so far; -1 when
    // it has ended, is no such thread or was not started by the machine.
    int64_t thread_cpu_ns(DWORD thread_id) const;
    // Every handle open in the whole machine, in the order of their values.
    std::vector<HandleInfo> open_handles() const;
    // The messages waiting in a thread's queue, oldest first.
    std::vector<MSG> posted_messages(DWORD thread_id) const;
    // The exit code of the WM_QUIT that a thread has pending
    // (PostQuitMessage), if it has one.
    std::optional<int> pending_quit(DWORD thread_id) const;
    std::optional<WindowInfo> window(HWND hwnd) const;  // none once destroyed
    std::optional<WindowClassInfo> window_class(DWORD pid, const std::string& class_name) const;
    DWORD priority_class(DWORD pid) const;  // 0 when there is no such process
    // Whether a message box with this caption is open (held).
    bool message_box_open(const std::string& caption) const;
    // For measurements: `hook` is called each time a machine thread is about
    // to block in a wait, on that thread and under the kernel's lock (it must
    // not call the machine). Set it before the threads it is for start;
    // nullptr removes it.
    void set_on_block(std::function<void(const ThreadInfo&)> hook);

    // Misuse of the API found by the kernel: handles used after CloseHandle,
    // handles closed under a wait, critical sections misused, threads left
    // running at process end, DebugBreak without a debugger.
    std::vector<std::string> misuse() const;
    void report_misuse(const std::string& detail);
    // Protocol errors found by the driver.
    std::vector<std::string> protocol_errors() const;

    // Win32 failures on cue. Each call of a function that can fail on
    // Windows (failable_functions()) made by a thread of a process named
    // `process` (set_failing_process; empty, the default: any thread but the
    // harness's) is counted per function. The `call`-th call (from 1) of
    // `function` then fails as Windows fails it (its failure value and
    // error code), and with `onward` every later call too; the trace gets a
    // `fail` event. Rules add up.
    void fail_call(const std::string& function, uint64_t call, bool onward = false);
    void set_failing_process(const std::string& process);
    void clear_failures();
    // Calls counted so far, by function.
    std::map<std::string, uint64_t> call_counts() const;
    // The functions fail_call knows, in a fixed order.
    static const std::vector<std::string>& failable_functions();

private:
    Config config_;
    Trace trace_;
    std::unique_ptr<Kernel> kernel_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<Desktop> desktop_;
    std::unique_ptr<orvane::Driver> driver_;
    struct DriverHostImpl;
    std::unique_ptr<DriverHostImpl> driver_host_;
    mutable std::mutex misuse_mu_;
    std::vector<std::string> misuse_;
};

// Aborts the process with the name of a Win32 call or feature that the
// simulated machine does not implement.
[[noreturn]] void not_simulated(const std::string& what);

// For tests that call the program's functions from their own thread: the
// next `skip` allocations with new (std::nothrow), by any thread, succeed and
// the one after them fails; -1 lets all succeed again. Machine::fail_call
// counts the program's threads only.
void fail_nothrow_allocation(int skip);

}  // namespace sim
