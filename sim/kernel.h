// The simulated kernel: kernel objects and handles, threads and waits, the
// simulated clock, windows and message queues, processes and message boxes.
// kernel.cpp holds objects, threads, waits, processes and the clock;
// kernel_windows.cpp windows, message queues and message boxes.
//
// Every thread that calls into the machine is a machine thread: threads the
// machine starts (CreateThread, processes) and threads that merely call a
// Win32 function (a test's own thread), which are attached on first use.
// A machine thread is running unless it is blocked inside the kernel.
// Simulated time passes only while every machine thread is blocked: it then
// jumps to the earliest time-out. All kernel state is guarded by one lock;
// program code (window procedures, thread routines) never runs under it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace sim {

class Machine;
struct ProgramSpec;
struct ThreadInfo;
struct HandleInfo;
struct WindowInfo;
struct WindowClassInfo;
namespace api {
struct Call;
}

// Thrown inside a machine thread that the machine ends (its process ended or
// the machine is being destroyed); caught where the machine started the
// thread. Program code must not swallow it.
struct ThreadKilled {};
// Thrown by ExitThread; caught where the machine started the thread.
struct ThreadExitRequest {
    DWORD code;
};

// The kernel keeps its state to itself. The Win32 functions (api_*.cpp) work
// on it through the member functions below, holding the lock of one Win32
// call (api::Call); tests and tools see it through Machine's views.
class Kernel {
public:
    enum class Kind { Event, Mutex, Thread, Process, Device, Queue, CritSec, Output };

    struct ThreadCtx;
    struct Process;
    struct Waiter;
    struct SentMessage;

    struct Object {
        Kind kind;
        std::string name;
        bool signalled = false;
        bool manual = false;
        ThreadCtx* owner = nullptr;  // mutex, critical section
        int recursion = 0;
        bool abandoned = false;
        ThreadCtx* thread = nullptr;  // thread object; queue object's thread
        Process* process = nullptr;   // process object
        std::vector<Waiter*> waiters;
    };
    using ObjRef = std::shared_ptr<Object>;

    struct Waiter {
        ThreadCtx* t = nullptr;
        std::vector<ObjRef> objs;
        std::vector<uintptr_t> handles;  // as the caller gave them
        bool all = false;
        uint64_t deadline = UINT64_MAX;  // simulated microseconds
        bool done = false;
        DWORD result = WAIT_FAILED;
        DWORD error = 0;
    };

    struct ThreadCtx {
        DWORD id = 0;
        Process* proc = nullptr;
        bool harness = false;      // the thread that drives the machine
        bool started = false;      // started by the machine (has a std::thread)
        bool blocked = false;
        bool ended = false;
        bool kill = false;
        bool exiting = false;  // returning from its routine
        bool killed_is_reported = false;
        Waiter* wait = nullptr;
        std::condition_variable cv;
        std::thread th;
        std::deque<MSG> queue;
        // Messages other threads sent to its windows, oldest first; sent_obj
        // is signalled while there is one. They are handled only where the
        // thread reads its queue (GetMessageA) or runs a modal loop
        // (MessageBoxA), never inside a plain wait.
        std::deque<std::shared_ptr<SentMessage>> sent;
        ObjRef sent_obj;
        uint64_t posted = 0;       // messages ever posted to this thread
        uint64_t posted_seen = 0;  // `posted` when it last looked at its queue
        bool quit = false;
        int quit_code = 0;
        ObjRef queue_obj;
        ObjRef obj;  // the thread object
        DWORD exit_code = STILL_ACTIVE;
        int priority = THREAD_PRIORITY_NORMAL;
        SIZE_T stack_size = 0;
        DWORD last_error = 0;
        std::string label;
        uint64_t wakeups = 0;  // waits that blocked and were then satisfied or timed out
        // SetTimer's timers of its windows: WM_TIMER is made when the queue
        // is empty and one is due (api_gui.cpp).
        struct Timer {
            HWND h = nullptr;
            UINT_PTR id = 0;
            uint32_t ms = 0;
            uint64_t due_us = 0;
        };
        std::vector<Timer> timers;
    };

    struct ClassInfo {
        WNDCLASSA wc{};
        std::string name;
        std::string menu;
    };

    struct Process {
        DWORD id = 0;
        std::string name;
        std::string command_line;
        std::vector<ThreadCtx*> threads;
        bool ended = false;
        DWORD exit_code = STILL_ACTIVE;
        ObjRef obj;
        ObjRef idle;  // manual-reset: set once the process is ready for input
        bool console = false;
        DWORD priority_class = NORMAL_PRIORITY_CLASS;
        std::map<std::string, ClassInfo> classes;  // by lower-case name
        // A console program started with a command line: what it writes to
        // its standard output and standard error, which share one stream.
        bool captures_output = false;
        std::string output;
        ObjRef output_obj;  // Kind::Output; made by the first GetStdHandle
        HANDLE output_handle = nullptr;
    };

    struct Window {
        HWND h = nullptr;
        std::string cls;
        std::string title;
        WNDPROC proc = nullptr;
        ThreadCtx* t = nullptr;
        Process* p = nullptr;
        bool alive = true;
        bool destroying = false;
        DWORD style = 0;
        DWORD ex_style = 0;
        RECT rect{};           // screen coordinates, as created
        bool visible = false;  // WS_VISIBLE, ShowWindow
        bool invalid = false;  // needs WM_PAINT
        std::vector<std::string> painted;  // DrawTextA since BeginPaint
        std::string recorded;  // the text last recorded as `topmost_window`
        bool is_recorded = false;
    };

    // A message sent from another thread: the sender waits on `reply` until
    // the receiving thread's window procedure has returned `result`.
    struct SentMessage {
        HWND h = nullptr;
        UINT msg = 0;
        WPARAM wparam = 0;
        LPARAM lparam = 0;
        LRESULT result = 0;
        bool answered = false;
        ObjRef reply;  // manual-reset, set with the answer
    };

    // What a session end did to one process (Machine::end_session).
    struct SessionMessage {
        HWND h = nullptr;
        UINT msg = 0;
        WPARAM wparam = 0;
        bool answered = false;
        LRESULT result = 0;
        uint64_t sent_us = 0;
        uint64_t answered_us = 0;
    };
    struct SessionEnd {
        bool found = false;  // the process exists and had not ended
        bool agreed = false;  // every window answered WM_QUERYENDSESSION with TRUE
        bool ended = false;   // the process was ended
        std::vector<SessionMessage> messages;
    };

    struct MessageBoxRecord {
        std::string text;
        std::string caption;
        UINT style = 0;
        ThreadCtx* thread = nullptr;  // the thread whose modal loop runs the box
        ObjRef release;  // set when a held box is released
        // The box's own top-level window (class "#32770", the caption as its
        // title), on the box's thread, while the box is open.
        HWND window = nullptr;
    };

    explicit Kernel(Machine& machine);
    ~Kernel();

    Machine& machine() { return machine_; }
    uint64_t now_us() const { return now_.load(); }

    // ---- used by the Win32 functions, with the lock held (api::Call)
    ThreadCtx* self_locked();  // the calling thread, attached on first use
    void check_kill_locked(ThreadCtx* t);
    void set_error(DWORD e);  // these two take the lock when they need it
    DWORD get_error();

    HANDLE new_handle_locked(ObjRef obj);
    // Looks a handle up for `api`. Reports use after CloseHandle as misuse.
    // Sets ERROR_INVALID_HANDLE and returns null when it is not valid.
    ObjRef lookup_locked(HANDLE h, const char* api);
    // Closes handle `v` and returns its object. A wait pending on this very
    // handle fails (reported as misuse). Null when it is no open handle; a
    // handle closed twice is reported as misuse.
    ObjRef close_handle_locked(uintptr_t v);
    ObjRef create_named_locked(Kind kind, const char* name, bool* existed, bool* wrong_kind);
    ObjRef find_named_locked(const std::string& name);

    // Critical sections, known by the id InitializeCriticalSection gave them.
    uint64_t new_critsec_locked();
    ObjRef critsec_locked(uint64_t id);  // null when unknown or deleted
    bool critsec_deleted_locked(uint64_t id) const;
    void delete_critsec_locked(uint64_t id);

    void signal_locked(Object& o);
    void wake_locked(Waiter& w);
    DWORD wait_locked(std::unique_lock<std::mutex>& lk, ThreadCtx* t, std::vector<ObjRef> objs,
                      std::vector<uintptr_t> handles, bool all, DWORD ms);

    ThreadCtx* new_thread_locked(Process* p, const std::string& label);
    ThreadCtx* thread_by_id_locked(DWORD id);  // null when there is none
    // Runs `body` on a new std::thread as machine thread `t`. When
    // `process_main` is set, the body's return ends the process (as returning
    // from a program's entry point does), reporting threads left running.
    void spawn_locked(ThreadCtx* t, std::function<DWORD()> body, bool process_main);
    void end_process_locked(Process* p, DWORD code, bool report_leftovers);
    Process* new_process_locked(const std::string& name);
    const ProgramSpec* find_program_locked(const std::string& path) const;
    bool folder_has_program_locked(const std::string& lower_folder) const;

    ATOM new_atom_locked();
    // Window `w` joins the machine under a new handle, which is returned.
    HWND new_window_locked(Window w);
    Window* window_locked(HWND h);
    // Every window not destroyed yet, in the order of their handles.
    std::vector<Window*> live_windows_locked();
    UINT register_message_locked(const std::string& name);
    std::string message_name_locked(UINT msg) const;
    // The message Windows makes for thread `t` once its queue is empty:
    // WM_PAINT for its first window that needs painting, else WM_TIMER for a
    // timer that is due (rescheduled when `remove`). *next_us: the earliest
    // time one of its timers is due, UINT64_MAX without timers.
    bool generated_message_locked(ThreadCtx* t, MSG* m, bool remove, uint64_t* next_us);
    // Milliseconds from now until `due_us`, for a wait (INFINITE for
    // UINT64_MAX), at least 1 when it is still in the future.
    DWORD ms_until_locked(uint64_t due_us) const;
    // A visible topmost window was painted or went away: the trace event
    // `topmost_window` when its text changed, `topmost_window_closed`.
    void record_topmost_locked(Window& w, bool closed);
    HWND foreground_locked() const { return foreground_; }
    void set_foreground_locked(HWND h) { foreground_ = h; }
    void post_locked(ThreadCtx* to, HWND h, UINT msg, WPARAM w, LPARAM l);
    // Sends a message to window `h` from thread `from` and waits up to `ms`
    // for the window's thread to handle it. False when the window is gone,
    // belongs to `from` itself, or the time ran out (then the message is
    // withdrawn if it was not taken yet).
    bool send_locked(std::unique_lock<std::mutex>& lk, ThreadCtx* from, HWND h, UINT msg, WPARAM w, LPARAM l,
                     DWORD ms, LRESULT* result);
    // The oldest message sent to thread `t`, taken off its list; null when
    // there is none.
    std::shared_ptr<SentMessage> take_sent_locked(ThreadCtx* t);
    // Puts a message sent to window `h` on its thread `to`'s list and wakes
    // that thread; the answer comes through the returned record's `reply`.
    std::shared_ptr<SentMessage> queue_sent_locked(ThreadCtx* to, HWND h, UINT msg, WPARAM w, LPARAM l);
    void answer_sent_locked(SentMessage& s, LRESULT result);
    // A message box that thread `t` opens: null when boxes are not held
    // (it is then answered at once), else the open box, which stays open
    // until released or closed.
    std::shared_ptr<MessageBoxRecord> hold_message_box_locked(ThreadCtx* t, const std::string& text,
                                                              const std::string& caption, UINT style);
    void close_message_box_locked(const std::shared_ptr<MessageBoxRecord>& box);
    // The box's window goes away with the box; what was posted to it is
    // dropped.
    void retire_box_window_locked(MessageBoxRecord& box);
    void release_box_locked(std::deque<std::shared_ptr<MessageBoxRecord>>::iterator it);

    // Counts a call of `api` by `t` when `t` is one of the threads whose
    // calls are counted, and says whether this call is to fail
    // (Machine::fail_call).
    bool fail_locked(ThreadCtx* t, const char* api);
    uint64_t call_count_locked(const char* api);  // calls of `api` counted so far
    // The same for an allocation through operator new(std::nothrow) by the
    // calling thread ("new(nothrow)"), which may run outside any Win32 call:
    // false at once for a thread that is not a machine thread or is the
    // harness's. Takes the lock.
    bool allocation_fails();
    void set_input_idle_current();  // the calling process is ready for input; takes the lock

    // Ring-0 handles handed to the driver (each takes the lock).
    DWORD open_vxd_handle(HANDLE h);
    void set_event_ring0(uint32_t r0);
    bool is_ring0(uint32_t r0);

    // ---- used by the machine and the harness (each takes the lock)
    void settle();
    // Waits until every other machine thread waits, without letting time
    // move on: time-outs that are pending stay pending.
    void quiesce();
    void advance_ms(uint64_t ms);
    DWORD start_process(const std::string& name, std::function<int()> main);
    // `console` false: a GUI program with a command line (the set-up wizard).
    DWORD start_console_process(const std::string& name, const std::string& command_line, std::function<int()> main,
                                bool console = true);
    std::string process_output(DWORD pid);
    std::vector<DWORD> process_thread_ids(DWORD pid);
    bool process_ended(DWORD pid);
    DWORD process_exit_code(DWORD pid);
    void install_program(const std::string& path, const ProgramSpec& spec);
    bool post_from_outside(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    // Sends a message to every window of the machine, as Windows sends a
    // broadcast such as WM_DISPLAYCHANGE: each window's thread takes it
    // before its posted messages, also inside a PeekMessageA or a modal
    // loop; nobody outside waits for the answers.
    void send_to_all_windows(UINT msg, WPARAM wparam, LPARAM lparam);
    // The user ends the session (log-off or shut-down) as Windows does for
    // one process: WM_QUERYENDSESSION (0, 0) is sent to each of its top-level
    // windows; when every one answers TRUE, WM_ENDSESSION (TRUE, 0) is sent
    // to each and then the process is ended with exit code 0, whatever its
    // threads are doing. When one answers FALSE the windows that agreed get
    // WM_ENDSESSION (FALSE, 0) and the process runs on. Each message waits up
    // to `answer_ms` for its answer; a window that does not answer in time is
    // ended as "End Task" ends it (exit code 0, nothing more sent).
    // Traced: "session_message" as each is sent, "session_answer" with the
    // answer (a warning when it took `hung_ms` or more), "process_end".
    SessionEnd end_session(DWORD pid, DWORD answer_ms, DWORD hung_ms);
    HWND find_window(const std::string& class_name);
    // The user presses and releases a key: WM_KEYDOWN and WM_KEYUP posted
    // to the foreground window (the window last activated). False when
    // there is none.
    bool press_key(UINT vk);
    HWND foreground_window();  // the active window, or null
    UINT registered_message(const std::string& name);
    void hold_message_boxes(bool hold);
    // The box whose window is `h` is answered with OK, as its OK button or
    // WM_CLOSE answers it; false when no open box has that window.
    bool release_message_box_window(HWND h);
    // Dismisses the oldest open box (with this caption, when one is given).
    bool release_message_box(const std::string* caption = nullptr);
    size_t open_message_boxes();
    bool message_box_open(const std::string& caption);
    void create_existing_object(const std::string& spec);

    // ---- Win32 failures on cue (Machine::fail_call)
    struct FailRule {
        std::string function;
        uint64_t call = 0;  // from 1
        bool onward = false;
    };
    void add_fail_rule(FailRule rule);
    void clear_fail_rules();
    void set_failing_process(const std::string& process);
    std::map<std::string, uint64_t> call_counts();

    // ---- what the machine tells of its state (Machine's views)
    std::vector<ThreadInfo> threads();
    std::optional<ThreadInfo> thread(DWORD id);
    int64_t thread_cpu_ns(DWORD id);
    std::vector<HandleInfo> open_handles();
    std::vector<MSG> posted_messages(DWORD thread_id);
    std::optional<int> pending_quit(DWORD thread_id);
    std::optional<WindowInfo> window(HWND h);
    std::optional<WindowClassInfo> window_class(DWORD pid, const std::string& class_name);
    DWORD priority_class(DWORD pid);
    // For measurements: `hook` is called under the lock each time a machine
    // thread is about to block in a wait, on that thread. Set it before the
    // threads it is for start.
    void set_on_block(std::function<void(const ThreadInfo&)> hook);

    // Ends every thread the machine started and waits for them.
    void shutdown();

private:
    friend struct api::Call;  // holds the lock for the length of one Win32 call

    ThreadCtx* harness_locked();  // the calling thread, as the harness
    bool available_locked(Object& o, ThreadCtx* t);
    bool try_satisfy_locked(Waiter& w);
    // Blocks the calling thread until `w` is satisfied, times out or fails.
    DWORD block_locked(std::unique_lock<std::mutex>& lk, ThreadCtx* t, Waiter& w);
    void running_dropped_locked();
    void advance_locked();
    bool has_deadline_locked() const;
    void thread_ended_locked(ThreadCtx* t, DWORD code);
    void kill_thread_locked(ThreadCtx* t);
    Process* process_by_id_locked(DWORD pid) const;
    ThreadInfo thread_info_locked(const ThreadCtx& t) const;

    // ---- state
    mutable std::mutex mu_;
    Machine& machine_;
    std::atomic<uint64_t> now_{0};
    int running_ = 0;
    std::condition_variable settle_cv_;
    uint64_t generation_;
    uintptr_t next_handle_ = 0x40;
    uintptr_t next_hwnd_ = 0x10020;
    DWORD next_thread_id_ = 0x20;
    DWORD next_process_id_ = 0x100;
    uint32_t next_ring0_ = 0xC1A00010u;
    uint64_t next_critsec_ = 1;
    UINT next_message_id_ = 0xC000;
    ATOM next_atom_ = 0xC100;
    std::map<uintptr_t, ObjRef> handles_;
    std::map<uintptr_t, Process*> handle_owner_;  // handles made by a process's threads
    std::set<uintptr_t> closed_;
    std::map<std::string, std::weak_ptr<Object>> names_;
    std::vector<ObjRef> system_objects_;  // objects that existed before the program
    std::map<uint32_t, ObjRef> ring0_;
    std::map<uint32_t, DWORD> ring0_process_;  // ring-0 handle -> the process that made it
    std::map<uint64_t, ObjRef> critsecs_;
    std::set<uint64_t> deleted_critsecs_;
    std::vector<std::unique_ptr<ThreadCtx>> threads_;
    std::vector<std::unique_ptr<Process>> processes_;
    std::map<uintptr_t, Window> windows_;
    std::map<std::string, UINT> messages_;  // lower-case name -> id
    std::map<UINT, std::string> message_names_;
    std::map<std::string, std::shared_ptr<ProgramSpec>> programs_;  // lower-case path
    std::deque<std::shared_ptr<MessageBoxRecord>> held_boxes_;
    bool hold_boxes_ = false;
    HWND foreground_ = nullptr;  // the active window, which gets the keyboard
    Process* default_process_ = nullptr;  // threads that attach themselves
    bool shutting_down_ = false;
    std::vector<FailRule> fail_rules_;
    std::map<std::string, uint64_t> call_counts_;
    std::string fail_process_;  // empty: every thread but the harness's
    std::function<void(const ThreadInfo&)> on_block_;
};

}  // namespace sim
