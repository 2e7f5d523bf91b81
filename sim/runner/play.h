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
// The console tools a `tool` step can run, by name ("RykXyCtl",
// "RykXyProbe"): entry points that read GetCommandLineA and return the exit
// code.
using ToolMain = std::function<int()>;
using Tools = std::map<std::string, ToolMain>;

// The name the program's process gets on the machine.
inline constexpr const char* kProcessName = "RykXyLdr.exe";
// The class of the program's hidden window, where commands and WM_CLOSE go.
inline constexpr const char* kWindowClass = "RykXyLdrAppClass";

struct RunResult {
    // Everything the machine recorded, with the runner's own events: `step`
    // before each step's stimulus (n, line, action, text, args, and where
    // known the touch point x, y and a warning), `end` when the runner closes
    // the program after the last step, and last `exit` (code, or null while
    // the program still runs; `buttons_held` lists the mouse buttons still
    // down when the program has ended, when there are any).
    std::vector<sim::TraceEvent> events;
    bool ended = false;  // the program's process ended
    DWORD exit_code = 0;
    std::vector<std::string> protocol_errors;
    std::vector<std::string> misuse;
    // Mouse buttons ("left", "right", "middle") the ended program left down.
    std::vector<std::string> buttons_held;
    // Expectations of `tool` steps that failed, one sentence each.
    std::vector<std::string> tool_failures;
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
// The same, with the tools that `tool` steps run; a step naming a tool not
// given here fails its expectations.
RunResult play(const Scenario& scenario, const ProgramMain& program, const Tools& tools);

}  // namespace runner
