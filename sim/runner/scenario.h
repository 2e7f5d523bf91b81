// A scenario: the simulated machine RykXyLdr starts on and the stimuli played
// to it afterwards, read from a TOML file. scenarios/README.md describes the
// file format for the people who write scenarios; scenario.cpp has the same
// rules at the top.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

struct Step {
    enum class Kind {
        touch,               // one packet
        tap,                 // a kind-5 press and its release at one point
        quick_touch_params,  // new quick-touch thresholds, signalled
        add_touchscreen,     // a new touchscreen, then the add-monitor signal
        remove_devices,      // the remove-devices signal
        display,             // the user changes the display settings
        command,             // a registered message from another program
        refuse,              // a refusal rule for the driver from now on
        clear_refusals,      // the driver answers everything again
        wait,                // simulated time passes
        close,               // WM_CLOSE to the program's window
        hold_boxes,          // message boxes stay open from now on, or not
        dismiss_box,         // a user answers an open message box with OK
        end_session,         // the user logs off: the program's windows are
                             // asked and told, then the process is ended
        tool,                // RykXyCtl or RykXyProbe runs to its end
        registry,            // values of HKEY_LOCAL_MACHINE set (as an administrator would)
    };

    int number = 0;  // 1, 2, 3, ... in file order
    SourcePos pos;   // where the step's table starts
    Kind kind = Kind::wait;
    std::string action;  // the stimulus's key, e.g. "tap"
    std::string note;    // the step's own `note`, shown in the timeline
    // false: after this step the program runs until all its threads wait,
    // but time does not move on, so time-outs that the program has pending
    // do not run out before the next step.
    bool settle = true;
    nlohmann::ordered_json args;  // the stimulus's value as written

    // touch, tap, quick_touch_params
    int screen = 0;
    bool at = false;         // (u, v) across the touchscreen instead of (x, y)
    double u = 0, v = 0;     // 0..1
    int32_t x = 0, y = 0;    // desktop pixels
    uint32_t flags = 0;      // touch: the packet's dwFlags
    int32_t dx = 0, dy = 0;  // quick_touch_params

    // add_touchscreen
    sim::orvane::TouchscreenConfig touchscreen;
    bool signal = true;

    // display
    std::vector<sim::MonitorConfig> monitors;

    // command
    std::string message = "RykPlexor4683";
    uint32_t wparam = 0;
    int32_t lparam = 0;  // 32 bits as on Windows; sign-extended when posted

    // refuse
    RefusalRule refusal;

    // wait
    uint64_t wait_ms = 0;

    // hold_boxes
    bool hold = false;
    // dismiss_box: the caption of the box to answer; empty: the oldest open
    std::string box_caption;
    // tool: the program ("RykXyCtl" or "RykXyProbe"), its arguments, and what
    // the step expects of its run
    std::string tool_name;
    std::vector<std::string> tool_args;
    std::optional<int64_t> tool_expect_exit;
    std::vector<std::string> tool_expect_output;  // each must occur in its output
    bool tool_read_only = false;  // only the driver's read requests, no registry write
    // registry: the keys and values to set, as in [registry]
    std::vector<RegistryKeyEntry> registry_keys;
};

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
