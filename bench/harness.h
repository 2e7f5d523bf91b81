// What every measurement of the bench shares: the simulated machine it runs
// on (8 monitors side by side, Windows 98, N touchscreens each with its own
// registry entry), RykXyLdr started on it with its real WinMain, the floor
// program that stands beside it, and the machine's view of a process
// (threads, handles, stacks, wake-ups, CPU time).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "machine.h"

namespace bench {

inline int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline constexpr int kMonitors = 8;
inline constexpr const char* kProgramProcess = "RykXyLdr.exe";
inline constexpr const char* kFloorProcess = "floor.exe";  // both floors
inline constexpr int kMaxTouchscreens = 33;

// The machine: kMonitors monitors of 1024x768 in a row, Windows 98.
sim::Config machine_config();
// Touchscreen i reports monitor i % kMonitors and has its own registry entry
// "Enum\Ryk\TS-nnnn" holding its serial number, so the program serves each
// on its own monitor.
void add_touchscreens(sim::Machine& m, int count);
// A point on touchscreen i's monitor, for its packets.
void touch_point(int touchscreen, int32_t* x, int32_t* y);

// Takes out of the machine what is its own test aid and not the work of a
// Windows machine or a driver, for the packet measurements: the driver's
// yield inside each packet read and its trace record of each request. Both
// the program and the floor run on machines made quiet this way.
void quiet_machine(sim::Machine& m);

// Puts every program global back to its state at process start: the program
// runs once per process, the bench runs it many times in one.
void reset_program_globals();

// The process's view from the simulated kernel. Live threads only, the
// process's main thread left out of the stacks.
struct ProcessFigures {
    int threads = 0;
    int handles = 0;              // every open handle of the machine
    int64_t stack_committed = 0;  // requested stack sizes, each rounded up to a 4 KiB page
    uint64_t wakeups = 0;         // of every thread the process ever had
    int64_t cpu_ns = 0;           // CPU time of its live threads
};
ProcessFigures process_figures(sim::Machine& m, const std::string& process);

// RykXyLdr on a fresh machine with `touchscreens` touchscreens, settled.
// Closing it (WM_CLOSE, settle) happens in the destructor.
class ProgramRun {
public:
    explicit ProgramRun(int touchscreens, std::function<void(sim::Machine&)> before_start = {});
    ~ProgramRun();
    sim::Machine& machine() { return *m_; }
    DWORD pid() const { return pid_; }
    int64_t winmain_ns() const { return winmain_ns_; }
    // Posts "RykPlexor4683" with these parameters to the program's window.
    bool command(WPARAM wparam, LPARAM lparam);

private:
    std::unique_ptr<sim::Machine> m_;
    DWORD pid_ = 0;
    int64_t winmain_ns_ = 0;  // when WinMain was entered
};

// The mouse calls a design-floor thread makes for one packet, given by the
// bench beside the packet: the design floor reads its packets but has no
// translation of its own. At most kMaxFloorCalls calls.
struct FloorCall {
    enum Op { CURSOR, CURSOR_AT, MOUSE };  // SetCursorPos to the packet's point / to (x, y); mouse_event
    Op op = CURSOR;
    DWORD flags = 0;  // MOUSE: mouse_event(flags, x, y, 0, 0)
    LONG x = 0, y = 0;
};
inline constexpr int kMaxFloorCalls = 8;
struct FloorCalls {
    int count = 0;
    FloorCall calls[kMaxFloorCalls];
};
// The calls of a move: SetCursorPos to the packet's point and a zero move.
FloorCalls move_calls();
// The calls the design floor makes for touchscreen i's next packets; until
// set, those of a move. Set before the packet is queued.
void set_floor_calls(int touchscreen, const FloorCalls& calls);

// The two floor programs, bare Win32 programs on a fresh machine with
// `touchscreens` touchscreens. Each opens the device, creates a window and
// starts `threads` threads (stack 512 bytes, like the workers), then waits
// for messages. Thread i (i < touchscreens) hands an auto-reset event to the
// driver as touchscreen i's packet event and waits the way a worker waits
// (on a stop event and on its own event). When woken by its event:
//   BARE    makes the mouse call of a packet, SetCursorPos and a zero move,
//           without reading the packet;
//   DESIGN  reads the packet with REQ_GET_TOUCH under one critical section
//           shared by all its threads, as a worker does under gcsDriver, and
//           makes the packet's mouse calls (set_floor_calls) at its point:
//           no translation, no press-and-hold, no trace.
enum class FloorKind { BARE, DESIGN };

class FloorRun {
public:
    FloorRun(int touchscreens, int threads, FloorKind kind = FloorKind::BARE,
             std::function<void(sim::Machine&)> before_start = {});
    ~FloorRun();
    sim::Machine& machine() { return *m_; }
    int64_t main_ns() const { return main_ns_; }

private:
    std::unique_ptr<sim::Machine> m_;
    DWORD pid_ = 0;
    int64_t main_ns_ = 0;
};

// The stream (touchscreen) whose worker or floor thread is the calling
// thread; -1 for any other thread. Worker threads are learnt from the
// program's worker list by register_program_workers.
int current_stream();
void register_program_workers(sim::Machine& m);
void clear_stream_threads();

}  // namespace bench
