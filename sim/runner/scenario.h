// A scenario: the simulated machine RykXyLdr starts on and the stimuli played
// to it afterwards, read from a TOML file whose format scenarios/README.md
// describes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "machine.h"
#include "scenario_error.h"
#include "orvane/driver.h"

namespace runner {

struct RegistryValueEntry {
    enum class Type { dword, sz, binary };
    std::string name;
    Type type = Type::dword;
    uint32_t dword = 0;
    std::string text;
    std::vector<uint8_t> bytes;
};

// One sub-key of HKEY_LOCAL_MACHINE with its values.
struct RegistryKeyEntry {
    std::string path;
    std::vector<RegistryValueEntry> values;
    bool read_only = false;
};

// A refusal rule for the driver: `code` is the control code named by
// `request`.
struct RefusalRule {
    std::string request;
    uint32_t code = 0;
    sim::orvane::Refusal rule;
};

// A Win32 call of the program that fails on cue: the `call`-th call (from
// 1) of `function`, and with `onward` every later one.
struct FailRule {
    std::string function;
    uint64_t call = 1;
    bool onward = false;
};

// Where a touch goes on touchscreen `screen`: desktop pixels (x, y), or
// with `at` (u, v) across the touchscreen, 0..1.
struct TouchPoint {
    int screen = 0;
    bool at = false;
    double u = 0, v = 0;
    int32_t x = 0, y = 0;
};

// The stimuli a step can play, one type each; scenarios/README.md describes
// them as a scenario writes them.
namespace stimuli {

struct Touch {  // one packet
    TouchPoint point;
    uint32_t flags = 0;  // the packet's dwFlags
};
struct Tap {  // a kind-5 press and its release at one point
    static constexpr uint32_t kFlags = 5;
    TouchPoint point;
};
struct QuickTouchParams {  // new quick-touch thresholds, signalled
    int screen = 0;
    int32_t dx = 0, dy = 0;
};
struct AddTouchscreen {  // a new touchscreen, then the add-monitor signal
    sim::orvane::TouchscreenConfig touchscreen;
    bool signal = true;
};
struct RemoveDevices {};  // the remove-devices signal
struct Display {          // the user changes the display settings
    std::vector<sim::MonitorConfig> monitors;
};
struct Command {  // a registered message from another program
    std::string message = "RykPlexor4683";
    uint32_t wparam = 0;
    int32_t lparam = 0;  // 32 bits as on Windows; sign-extended when posted
};
struct Refuse {  // a refusal rule for the driver from now on
    RefusalRule refusal;
};
struct ClearRefusals {};  // the driver answers everything again
struct Wait {             // simulated time passes
    uint64_t ms = 0;
};
struct Close {};      // WM_CLOSE to the program's window
struct HoldBoxes {    // message boxes stay open from now on, or not
    bool hold = false;
};
struct DismissBox {  // a user answers an open message box with OK
    std::string caption;  // empty: the oldest open box
};
struct EndSession {};  // the user logs off: the program's windows are asked
                       // and told, then the process is ended
struct Tool {          // RykXyCtl, RykXyProbe or RykXyMap runs to its end
    std::string name;  // "RykXyCtl", "RykXyProbe" or "RykXyMap"
    std::vector<std::string> args;
    // Started and left running: a later `tool_wait` step waits for its end
    // and checks the expectations below (none are allowed here then).
    bool background = false;
    // What the step expects of the run.
    std::optional<int64_t> expect_exit;
    std::vector<std::string> expect_output;  // each must occur in its output
    bool read_only = false;  // only the driver's read requests, no registry write
    // Each occurs in a message box or a topmost window of the tool.
    std::vector<std::string> expect_text;
    // Topmost windows of the tool, in this order: on monitor `monitor`
    // (-1: on none), with a text that contains `text`.
    struct Topmost {
        int64_t monitor = 0;
        std::string text;
    };
    std::vector<Topmost> expect_topmost;
};
struct ToolWait {  // waits for a tool started in the background, then as Tool
    Tool tool;     // its name and expectations; args and background unused
};
struct Key {  // the user presses and releases a key on the active window
    uint32_t vk = 0;
};
struct Restart {};  // WM_CLOSE to the program, then it is started again
struct Registry {  // values of HKEY_LOCAL_MACHINE set, as an administrator would
    std::vector<RegistryKeyEntry> keys;  // as in [registry]
};

}  // namespace stimuli

using Stimulus = std::variant<stimuli::Touch, stimuli::Tap, stimuli::QuickTouchParams, stimuli::AddTouchscreen,
                              stimuli::RemoveDevices, stimuli::Display, stimuli::Command, stimuli::Refuse,
                              stimuli::ClearRefusals, stimuli::Wait, stimuli::Close, stimuli::HoldBoxes,
                              stimuli::DismissBox, stimuli::EndSession, stimuli::Tool, stimuli::Registry,
                              stimuli::ToolWait, stimuli::Key, stimuli::Restart>;

struct Step {
    int number = 0;  // 1, 2, 3, ... in file order
    SourcePos pos;   // where the step's table starts
    std::string action;  // the stimulus's key, e.g. "tap"
    std::string note;    // the step's own `note`, shown in the timeline
    // false: after this step the program runs until all its threads wait,
    // but time does not move on, so time-outs that the program has pending
    // do not run out before the next step.
    bool settle = true;
    nlohmann::ordered_json args;  // the stimulus's value as written
    Stimulus stimulus;
};

// For std::visit: one call operator from each lambda.
template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

struct Scenario {
    std::string file;
    sim::Config config;
    std::vector<RegistryKeyEntry> registry;
    std::vector<sim::orvane::TouchscreenConfig> touchscreens;
    std::optional<sim::ProgramSpec> calibration;  // installed as <system_directory>\Quavel.exe
    std::vector<RefusalRule> refusals;            // in force before the program starts
    std::vector<FailRule> failures;               // Win32 calls of the program that fail
    std::vector<Step> steps;
};

// Reads a scenario file. Throws ScenarioError.
Scenario load_scenario(const std::string& path);
// Reads a scenario from `text`; `file` is the name used in messages.
Scenario parse_scenario(const std::string& text, const std::string& file);

// The full path of the calibration program for a system directory.
std::string calibration_program_path(const std::string& system_directory);

// Text for a step, e.g. "tap touchscreen 0 at (0.25, 0.5)".
std::string describe(const Step& step);
// Text for a refusal rule, e.g. "refuse REQ_GET_TOUCH, once".
std::string describe(const RefusalRule& refusal);

}  // namespace runner
