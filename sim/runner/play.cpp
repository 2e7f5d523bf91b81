#include "play.h"

#include <algorithm>

#include "desktop.h"
#include "driver/protocol.h"
#include "kernel.h"
#include "machine.h"
#include "orvane/driver.h"
#include "platform/win32.h"
#include "registry.h"

namespace runner {

namespace {

void fill_registry(sim::Registry& reg, const std::vector<RegistryKeyEntry>& keys) {
    for (const auto& k : keys) {
        reg.create_key(HKEY_LOCAL_MACHINE, k.path);
        for (const auto& v : k.values) {
            switch (v.type) {
            case RegistryValueEntry::Type::dword: reg.set_dword(HKEY_LOCAL_MACHINE, k.path, v.name, v.dword); break;
            case RegistryValueEntry::Type::sz: reg.set_string(HKEY_LOCAL_MACHINE, k.path, v.name, v.text); break;
            case RegistryValueEntry::Type::binary:
                reg.set_binary(HKEY_LOCAL_MACHINE, k.path, v.name, std::vector<BYTE>(v.bytes.begin(), v.bytes.end()));
                break;
            }
        }
        if (k.read_only) reg.set_read_only(HKEY_LOCAL_MACHINE, k.path, true);
    }
}

// False when the driver could not place a touch at (u, v).
bool queue_touch(sim::Machine& m, const TouchPoint& s, uint32_t flags) {
    if (s.at) return m.driver().queue_touch_at(s.screen, s.u, s.v, flags);
    m.driver().queue_packet(s.screen, s.x, s.y, flags);
    return true;
}

// The touch point in desktop pixels, for the record, and what may keep the
// program from seeing the touch.
void describe_touch(sim::Machine& m, const TouchPoint& s, sim::Fields& f) {
    if (s.at) {
        if (auto rc = m.driver().monitor_rect(s.screen)) {
            const sim::orvane::Pixel p = sim::orvane::touch_pixel(*rc, s.u, s.v);
            f["x"] = p.x;
            f["y"] = p.y;
        } else {
            f["warning"] = "the driver has no monitor rectangle for touchscreen " + std::to_string(s.screen) +
                           " yet, so it cannot place the touch";
            return;
        }
    } else {
        f["x"] = s.x;
        f["y"] = s.y;
    }
    if (m.driver().xy_event(s.screen) == 0)
        f["warning"] = "no packet event is handed over for touchscreen " + std::to_string(s.screen) +
                       ": the packet waits in the driver's queue";
}

// A step that posts to the program's window: the warning when there is none.
void warn_without_window(sim::Machine& m, sim::Fields& f) {
    if (m.find_window(kWindowClass) == nullptr)
        f["warning"] = std::string("the program has no window of class ") + kWindowClass + ": nothing posted";
}

// Posts `msg` to the program's window, as another program would.
bool post_to_program(sim::Machine& m, UINT msg, WPARAM wparam, LPARAM lparam) {
    HWND w = m.find_window(kWindowClass);
    return w != nullptr && m.post_from_outside(w, msg, wparam, lparam);
}

// The command line a console program gets: its name, then each argument,
// quoted where it holds a blank or a quote (or is empty).
std::string tool_command_line(const stimuli::Tool& s) {
    std::string cmd = s.name + ".exe";
    for (const auto& a : s.args) {
        if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) {
            cmd += " " + a;
            continue;
        }
        cmd += " \"";
        size_t slashes = 0;
        for (char c : a) {
            if (c == '\\') {
                ++slashes;
                cmd += c;
                continue;
            }
            if (c == '"') cmd += std::string(slashes + 1, '\\');
            slashes = 0;
            cmd += c;
        }
        cmd += std::string(slashes, '\\') + "\"";
    }
    return cmd;
}

bool is_read_request(const std::string& name) {
    return name == "REQ_GET_TOUCHSCREEN" || name == "REQ_GET_ALIGNMENT" || name == "REQ_GET_QUICKTOUCH";
}

// A tool started in the background by a `tool` step, until its `tool_wait`.
struct Running {
    DWORD pid = 0;
    size_t first = 0;  // its first trace event
    std::string command_line;
};
using Background = std::map<std::string, Running>;

// RykXyMap is a GUI program; the other tools are console programs.
bool is_console_tool(const std::string& name) { return name != "RykXyMap"; }

// Starts a tool as a process of its own; 0 when this runner has no such
// tool (a failure is noted and its `tool` event recorded).
DWORD start_tool(sim::Machine& m, int step, const stimuli::Tool& s, const Tools& tools,
                 std::vector<std::string>& failures) {
    auto it = tools.find(s.name);
    if (it == tools.end()) {
        sim::Fields f = sim::Fields::object();
        f["name"] = s.name;
        f["command_line"] = tool_command_line(s);
        f["exit_code"] = nullptr;
        m.trace().add("tool", f);
        failures.push_back("step " + std::to_string(step) + " (" + s.name + "): this runner has no " + s.name);
        return 0;
    }
    return m.start_console_process(s.name + ".exe", tool_command_line(s), it->second, is_console_tool(s.name));
}

// Records the end of a tool's run and checks the step's expectations of it:
// its command line, output and exit code, the driver requests its threads
// sent, and the registry writes made since it started.
void finish_tool(sim::Machine& m, int step, const stimuli::Tool& s, const Running& run,
                 std::vector<std::string>& failures) {
    const std::string where = "step " + std::to_string(step) + " (" + s.name + "): ";
    sim::Fields f = sim::Fields::object();
    f["name"] = s.name;
    f["command_line"] = run.command_line;
    const DWORD pid = run.pid;
    const bool ended = m.process_ended(pid);
    const std::vector<DWORD> threads = m.process_thread_ids(pid);
    auto ours = [&](const sim::TraceEvent& e) {
        if (!e.fields.contains("thread")) return false;
        const auto thread = e.fields["thread"].get<DWORD>();
        return std::find(threads.begin(), threads.end(), thread) != threads.end();
    };
    sim::Fields requests = sim::Fields::array();
    int writes = 0;
    bool read_only = true;
    std::vector<std::string> texts;  // its message boxes and topmost windows
    std::vector<std::pair<int64_t, std::string>> topmost;
    const std::vector<sim::TraceEvent> events = m.trace().events();
    for (size_t i = run.first; i < events.size(); ++i) {
        const sim::TraceEvent& e = events[i];
        if (e.ev == "regwrite") {
            ++writes;
            read_only = false;
        }
        if (e.ev == "msgbox" && ours(e)) texts.push_back(e.fields["text"].get<std::string>());
        if (e.ev == "topmost_window" && e.fields["process"].get<std::string>() == s.name + ".exe") {
            texts.push_back(e.fields["text"].get<std::string>());
            topmost.emplace_back(e.fields["monitor"].get<int64_t>(), e.fields["text"].get<std::string>());
        }
        if (e.ev != "ioctl" || !ours(e)) continue;
        const std::string name = e.fields["code"].get<std::string>();
        requests.push_back(name);
        if (!is_read_request(name)) read_only = false;
    }
    const std::string output = m.process_output(pid);
    if (ended) f["exit_code"] = m.process_exit_code(pid);
    else f["exit_code"] = nullptr;
    f["output"] = output;
    f["requests"] = requests;
    f["registry_writes"] = writes;
    m.trace().add("tool", f);

    if (!ended) failures.push_back(where + "did not end");
    if (ended && s.expect_exit && static_cast<int64_t>(m.process_exit_code(pid)) != *s.expect_exit)
        failures.push_back(where + "expected exit code " + std::to_string(*s.expect_exit) + ", it ended with " +
                           std::to_string(m.process_exit_code(pid)));
    for (const auto& want : s.expect_output)
        if (output.find(want) == std::string::npos) failures.push_back(where + "its output lacks \"" + want + "\"");
    if (s.read_only && !read_only)
        failures.push_back(where + "expected to change nothing, but it sent a request other than the driver's "
                                   "read requests or wrote to the registry");
    for (const auto& want : s.expect_text) {
        const bool found = std::any_of(texts.begin(), texts.end(),
                                       [&](const std::string& t) { return t.find(want) != std::string::npos; });
        if (!found) failures.push_back(where + "no message box or topmost window of it says \"" + want + "\"");
    }
    // In order: each expected window after the one before it.
    size_t next = 0;
    for (const auto& want : s.expect_topmost) {
        while (next < topmost.size() &&
               !(topmost[next].first == want.monitor && topmost[next].second.find(want.text) != std::string::npos))
            ++next;
        if (next == topmost.size()) {
            failures.push_back(where + "no topmost window on monitor " + std::to_string(want.monitor) + " that says \"" +
                               want.text + "\" (after the ones matched before it)");
            break;
        }
        ++next;
    }
}

// Runs a tool to its end, or starts it in the background.
void run_tool(sim::Machine& m, int step, const stimuli::Tool& s, const Tools& tools, Background& background,
              std::vector<std::string>& failures) {
    Running run;
    run.first = m.trace().events().size();
    run.command_line = tool_command_line(s);
    if (s.background && background.count(s.name)) {
        failures.push_back("step " + std::to_string(step) + " (" + s.name + "): it runs in the background already");
        return;
    }
    run.pid = start_tool(m, step, s, tools, failures);
    if (run.pid == 0) return;
    if (s.background) {
        sim::Fields f = sim::Fields::object();
        f["name"] = s.name;
        f["command_line"] = run.command_line;
        f["process"] = run.pid;
        m.trace().add("tool_start", f);
        background[s.name] = run;
        return;
    }
    m.settle();
    finish_tool(m, step, s, run, failures);
}

void wait_tool(sim::Machine& m, int step, const stimuli::Tool& s, Background& background,
               std::vector<std::string>& failures) {
    auto it = background.find(s.name);
    if (it == background.end()) {
        failures.push_back("step " + std::to_string(step) + " (" + s.name + "): it was not started in the background");
        return;
    }
    const Running run = it->second;
    background.erase(it);
    // Time moves on until it has ended, or until it waits without a
    // time-out.
    m.settle();
    finish_tool(m, step, s, run, failures);
}

// WM_CLOSE to the program, and once it has ended it starts again as a new
// process: what a user who restarts it does.
void restart_program(sim::Machine& m, DWORD& pid, const ProgramMain& program) {
    post_to_program(m, WM_CLOSE, 0, 0);
    m.settle();
    if (!m.process_ended(pid)) return;
    pid = m.start_process(kProcessName, program);
}

void play_step(sim::Machine& m, const Step& s, DWORD& pid, const ProgramMain& program, const Tools& tools,
               Background& background, std::vector<std::string>& failures) {
    sim::Fields f = sim::Fields::object();
    f["n"] = s.number;
    f["line"] = s.pos.line;
    f["action"] = s.action;
    f["text"] = describe(s);
    if (!s.note.empty()) f["note"] = s.note;
    if (!s.settle) f["settle"] = false;
    f["args"] = s.args;

    // What may keep the program from seeing the stimulus, for the record.
    std::visit(Overloaded{
                   [&](const stimuli::Touch& t) { describe_touch(m, t.point, f); },
                   [&](const stimuli::Tap& t) { describe_touch(m, t.point, f); },
                   [&](const stimuli::QuickTouchParams& q) {
                       if (m.driver().quick_touch_event(q.screen) == 0)
                           f["warning"] = "no quick-touch event is handed over for touchscreen " + std::to_string(q.screen);
                   },
                   [&](const stimuli::AddTouchscreen& a) {
                       if (a.signal && m.driver().add_monitor_event() == 0)
                           f["warning"] = "no add-monitor event is handed over: the driver cannot signal";
                   },
                   [&](const stimuli::RemoveDevices&) {
                       if (m.driver().remove_devices_event() == 0)
                           f["warning"] = "no remove-devices event is handed over: the driver cannot signal";
                   },
                   [&](const stimuli::DismissBox&) {
                       if (m.open_message_boxes() == 0) f["warning"] = "no message box is open: nothing dismissed";
                   },
                   [&](const stimuli::EndSession&) {
                       if (m.process_ended(pid)) f["warning"] = "the program has already ended";
                   },
                   [&](const stimuli::Command&) { warn_without_window(m, f); },
                   [&](const stimuli::Close&) { warn_without_window(m, f); },
                   [&](const stimuli::Restart&) { warn_without_window(m, f); },
                   [&](const stimuli::Key&) {
                       if (m.kernel().foreground_window() == nullptr)
                           f["warning"] = "no window is active: the key goes nowhere";
                   },
                   [](const auto&) {},
               },
               s.stimulus);
    m.trace().add("step", f);

    std::visit(Overloaded{
                   [&](const stimuli::Touch& t) { queue_touch(m, t.point, t.flags); },
                   [&](const stimuli::Tap& t) {
                       // The release only with its press; a tap that cannot be
                       // placed is one fault, not two.
                       if (queue_touch(m, t.point, t.kFlags)) queue_touch(m, t.point, t.kFlags | PKT_RELEASE);
                   },
                   [&](const stimuli::QuickTouchParams& q) { m.driver().set_quick_touch(q.screen, q.dx, q.dy); },
                   [&](const stimuli::AddTouchscreen& a) {
                       m.driver().add_touchscreen(a.touchscreen);
                       if (a.signal) m.driver().signal_add_monitor();
                   },
                   [&](const stimuli::RemoveDevices&) { m.driver().signal_remove_devices(); },
                   [&](const stimuli::Display& d) { m.desktop().change_display(d.monitors); },
                   [&](const stimuli::Command& c) {
                       UINT msg = m.registered_message(c.message);
                       // Registered the way the other program would have, when
                       // the program has not registered it itself.
                       if (msg == 0) msg = RegisterWindowMessageA(c.message.c_str());
                       post_to_program(m, msg, static_cast<WPARAM>(c.wparam), static_cast<LPARAM>(c.lparam));
                   },
                   [&](const stimuli::Refuse& r) { m.driver().refuse(r.refusal.code, r.refusal.rule); },
                   [&](const stimuli::ClearRefusals&) { m.driver().clear_refusals(); },
                   [&](const stimuli::Wait& w) { m.advance_ms(w.ms); },
                   [&](const stimuli::Close&) { post_to_program(m, WM_CLOSE, 0, 0); },
                   [&](const stimuli::HoldBoxes& h) { m.hold_message_boxes(h.hold); },
                   [&](const stimuli::DismissBox& d) {
                       if (d.caption.empty())
                           m.release_message_box();
                       else
                           m.release_message_box(d.caption);
                   },
                   [&](const stimuli::EndSession&) { m.end_session(pid); },
                   [&](const stimuli::Tool& t) { run_tool(m, s.number, t, tools, background, failures); },
                   [&](const stimuli::ToolWait& t) { wait_tool(m, s.number, t.tool, background, failures); },
                   [&](const stimuli::Key& k) { m.press_key(k.vk); },
                   [&](const stimuli::Restart&) { restart_program(m, pid, program); },
                   [&](const stimuli::Registry& r) { fill_registry(m.registry(), r.keys); },
               },
               s.stimulus);
}

}  // namespace

RunResult play(const Scenario& sc, const ProgramMain& program) { return play(sc, program, Tools()); }

RunResult play(const Scenario& sc, const ProgramMain& program, const Tools& tools) {
    RunResult result;
    sim::Machine m(sc.config);
    fill_registry(m.registry(), sc.registry);
    for (const auto& ts : sc.touchscreens) m.driver().add_touchscreen(ts);
    if (sc.calibration) m.install_program(calibration_program_path(sc.config.system_directory), *sc.calibration);
    for (const auto& r : sc.refusals) m.driver().refuse(r.code, r.rule);
    m.set_failing_process(kProcessName);
    for (const auto& f : sc.failures) m.fail_call(f.function, f.call, f.onward);

    DWORD pid = m.start_process(kProcessName, program);
    m.settle();
    Background background;
    for (const auto& step : sc.steps) {
        play_step(m, step, pid, program, tools, background, result.tool_failures);
        if (step.settle)
            m.settle();
        else
            m.quiesce();
    }

    for (const auto& [name, run] : background)
        if (!m.process_ended(run.pid))
            result.tool_failures.push_back(name + " started in the background still runs at the end (no tool_wait step)");

    if (!m.process_ended(pid)) {
        sim::Fields f = sim::Fields::object();
        const bool has_window = m.find_window(kWindowClass) != nullptr;
        f["action"] = has_window ? "close" : "none";
        f["text"] = has_window ? std::string("WM_CLOSE to the program's window")
                               : std::string("the program runs without a window of class ") + kWindowClass +
                                     ": it cannot be closed";
        m.trace().add("end", f);
        if (has_window) {
            post_to_program(m, WM_CLOSE, 0, 0);
            m.settle();
        }
    }

    result.ended = m.process_ended(pid);
    result.exit_code = result.ended ? m.process_exit_code(pid) : 0;
    sim::Fields f = sim::Fields::object();
    if (result.ended)
        f["code"] = result.exit_code;
    else
        f["code"] = nullptr;
    if (result.ended) {
        const sim::MouseButtons b = m.desktop().buttons();
        if (b.left) result.buttons_held.push_back("left");
        if (b.right) result.buttons_held.push_back("right");
        if (b.middle) result.buttons_held.push_back("middle");
        if (!result.buttons_held.empty()) f["buttons_held"] = result.buttons_held;
    }
    m.trace().add("exit", f);

    result.buttons = m.desktop().buttons();
    sim::orvane::Driver& d = m.driver();
    if (d.add_monitor_event() != 0) result.driver_events.push_back("add-monitor");
    if (d.remove_devices_event() != 0) result.driver_events.push_back("remove-devices");
    for (int i = 0; i < d.touchscreen_count(); ++i) {
        if (d.xy_event(i) != 0) result.driver_events.push_back("packet " + std::to_string(i));
        if (d.quick_touch_event(i) != 0) result.driver_events.push_back("quick-touch " + std::to_string(i));
    }
    result.driver_requests = d.requests().size();
    result.calls = m.call_counts();

    result.events = m.trace().events();
    result.protocol_errors = m.protocol_errors();
    result.misuse = m.misuse();
    return result;
}

}  // namespace runner
