// Playing a scenario: boot the simulated machine it describes, run the
// program on it, play the steps, end the program and keep the record.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "desktop.h"
#include "scenario.h"
#include "trace.h"

namespace runner {

// The program's entry point as the machine runs it; its result is the
// process's exit code.
using ProgramMain = std::function<int()>;

// The name the program's process gets on the machine.
inline constexpr const char* kProcessName = "RykXyLdr.exe";
// The class of the program's hidden window, where commands and WM_CLOSE go.
inline constexpr const char* kWindowClass = "RykXyLdrAppClass";

struct RunResult {
    // Everything the machine recorded, with the runner's own events: `step`
    // before each step's stimulus (n, line, action, text, args, and where
    // known the touch point x, y and a warning), `end` when the runner closes
    // the program after the last step, and last `exit` (code, or null while
    // the program still runs).
    std::vector<sim::TraceEvent> events;
    bool ended = false;  // the program's process ended
    DWORD exit_code = 0;
    std::vector<std::string> protocol_errors;
    std::vector<std::string> misuse;
    // The machine as the run left it: mouse buttons still down, the events
    // the driver still holds from the program ("add-monitor",
    // "remove-devices", "packet N", "quick-touch N"), the driver requests
    // handled and the program's failure-capable Win32 calls by function.
    sim::MouseButtons buttons;
    std::vector<std::string> driver_events;
    uint64_t driver_requests = 0;
    std::map<std::string, uint64_t> calls;
};

// Runs the scenario. Only one machine exists at a time, so this must not be
// called while another machine exists.
RunResult play(const Scenario& scenario, const ProgramMain& program);

}  // namespace runner
