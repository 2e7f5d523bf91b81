#include "report.h"

#include <cctype>
#include <cstdio>
#include <map>

#include "platform/win32.h"
#include "text.h"
#include "trace_fields.h"

namespace runner {

namespace {

using Json = sim::Fields;

using sim::hex;

// Handles and flag words read best in hex.
bool hex_field(const std::string& name) {
    return name == "dwFlags" || (name.size() > 1 && name[0] == 'h' && std::isupper(static_cast<unsigned char>(name[1])));
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string mouse_flags(uint64_t flags) {
    static const std::pair<uint64_t, const char*> names[] = {
        {MOUSEEVENTF_MOVE, "MOVE"},           {MOUSEEVENTF_LEFTDOWN, "LEFTDOWN"},     {MOUSEEVENTF_LEFTUP, "LEFTUP"},
        {MOUSEEVENTF_RIGHTDOWN, "RIGHTDOWN"}, {MOUSEEVENTF_RIGHTUP, "RIGHTUP"},       {MOUSEEVENTF_MIDDLEDOWN, "MIDDLEDOWN"},
        {MOUSEEVENTF_MIDDLEUP, "MIDDLEUP"},   {MOUSEEVENTF_ABSOLUTE, "ABSOLUTE"}};
    std::string t;
    uint64_t rest = flags;
    for (const auto& [bit, name] : names) {
        if (!(flags & bit)) continue;
        t += (t.empty() ? "" : "|") + std::string(name);
        rest &= ~bit;
    }
    if (rest || t.empty()) t += (t.empty() ? "" : "|") + hex(rest);
    return t;
}

// The fields that `skip` does not name, as name=value.
std::string other_fields(const Json& f, std::initializer_list<const char*> skip) {
    std::string t;
    for (auto it = f.begin(); it != f.end(); ++it) {
        bool skipped = false;
        for (const char* s : skip) skipped = skipped || it.key() == s;
        if (skipped) continue;
        std::string v = (hex_field(it.key()) && it->is_number_integer()) ? hex(it->get<uint64_t>()) : plain(*it);
        t += (t.empty() ? "" : " ") + it.key() + "=" + v;
    }
    return t;
}

std::string time_text(uint64_t t_us) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%10.3f ms", static_cast<double>(t_us) / 1000.0);
    return buf;
}

}  // namespace

std::string event_text(const sim::TraceEvent& e) {
    const Json& f = e.fields;
    if (e.ev == "ioctl") {
        std::string t = "ioctl " + str_field(f, "code");
        const std::string rest = other_fields(f, {"code", "thread", "ok"});
        if (!rest.empty()) t += "  " + rest;
        if (!bool_field(f, "ok", true)) t += "  FAILED";
        return t + "  (thread " + std::to_string(int_field(f, "thread")) + ")";
    }
    if (e.ev == "cursor") return "cursor (" + std::to_string(int_field(f, "x")) + ", " + std::to_string(int_field(f, "y")) + ")";
    if (e.ev == "mouse")
        return "mouse " + mouse_flags(static_cast<uint64_t>(int_field(f, "flags"))) + " dx=" +
               std::to_string(int_field(f, "dx")) + " dy=" + std::to_string(int_field(f, "dy"));
    if (e.ev == "broadcast")
        return "broadcast " + str_field(f, "message") + " wparam=" + str_field(f, "wparam") + " lparam=" + str_field(f, "lparam");
    if (e.ev == "msgbox")
        return "message box " + quoted(str_field(f, "caption")) + ": " + quoted(str_field(f, "text")) + " style=" +
               hex(static_cast<uint64_t>(int_field(f, "style")));
    if (e.ev == "regwrite") {
        std::string key = str_field(f, "key");
        return "regwrite " + key + (key.empty() ? "" : "\\") + str_field(f, "name") + " = " +
               (f.contains("value") && f["value"].is_string() ? quoted(str_field(f, "value")) : str_field(f, "value")) +
               " (" + str_field(f, "type") + ")";
    }
    if (e.ev == "launch")
        return "launch " + quoted(str_field(f, "command_line")) + (bool_field(f, "ok", true) ? "" : "  NOT FOUND");
    if (e.ev == "terminate") return "terminate " + str_field(f, "process") + " exit code " + str_field(f, "exit_code");
    if (e.ev == "device_open") return "device open " + str_field(f, "path") + (bool_field(f, "ok", true) ? "" : "  FAILED");
    if (e.ev == "device_close") return "device closed";
    if (e.ev == "display") {
        std::string t = "display changed:";
        if (f.contains("monitors") && f["monitors"].is_array())
            for (const auto& m : f["monitors"]) t += " " + rect_text(rect_field(m));
        return t;
    }
    if (e.ev == "debugbreak")
        return "DebugBreak on thread " + str_field(f, "thread") + (bool_field(f, "debugger") ? " (debugger attached)" : "");
    if (e.ev == "protocol_error") {
        std::string t = "PROTOCOL ERROR: " + str_field(f, "detail");
        if (f.contains("request")) t += " (request #" + str_field(f, "request") + ")";
        return t;
    }
    if (e.ev == "misuse") return "MISUSE: " + str_field(f, "detail");
    if (e.ev == "session_message")
        return "sent " + str_field(f, "message") + " wparam=" + str_field(f, "wparam") + " lparam=" +
               str_field(f, "lparam") + " to window " + hex(static_cast<uint64_t>(int_field(f, "window")));
    if (e.ev == "session_answer") {
        std::string t = str_field(f, "message") + (bool_field(f, "answered") ? " answered " + str_field(f, "result")
                                                                                : std::string(" NOT ANSWERED")) +
                        " after " + str_field(f, "waited_ms") + " ms";
        if (f.contains("warning")) t += "  warning: " + str_field(f, "warning");
        return t;
    }
    if (e.ev == "process_end")
        return "process " + str_field(f, "process") + " ended by Windows (" + str_field(f, "how") + "), exit code " +
               str_field(f, "exit_code");
    if (e.ev == "debug_output") {
        std::string text = str_field(f, "text");
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return "debug output \"" + text + "\"  (thread " + str_field(f, "thread") + ")";
    }
    if (e.ev == "fail")
        return "failed on cue: " + str_field(f, "function") + " call " + str_field(f, "call") + ", error " +
               str_field(f, "error") + "  (thread " + std::to_string(int_field(f, "thread")) + ")";
    if (e.ev == "step") {
        std::string t = "== step " + str_field(f, "n") + " (line " + str_field(f, "line") + "): " + str_field(f, "text");
        if (f.contains("x") && f.contains("y") && f.contains("args") && f["args"].is_object() && f["args"].contains("at"))
            t += " -> (" + str_field(f, "x") + ", " + str_field(f, "y") + ")";
        if (f.contains("settle")) t += "  (not settled)";
        if (f.contains("note")) t += "  # " + str_field(f, "note");
        if (f.contains("warning")) t += "\n" + std::string(13, ' ') + "   warning: " + str_field(f, "warning");
        return t;
    }
    if (e.ev == "tool") {
        std::string t = "tool " + str_field(f, "command_line") + ": ";
        if (f.contains("exit_code") && f["exit_code"].is_null()) t += "did not end";
        else t += "exit code " + str_field(f, "exit_code");
        if (f.contains("requests") && f["requests"].is_array() && !f["requests"].empty())
            t += ", " + std::to_string(f["requests"].size()) + " driver request(s)";
        if (f.contains("registry_writes") && int_field(f, "registry_writes") > 0)
            t += ", " + str_field(f, "registry_writes") + " registry write(s)";
        if (f.contains("output") && f["output"].is_string()) {
            std::string line;
            for (char c : f["output"].get<std::string>()) {
                if (c == '\r') continue;
                if (c == '\n') {
                    t += "\n" + std::string(16, ' ') + "| " + line;
                    line.clear();
                } else {
                    line += c;
                }
            }
            if (!line.empty()) t += "\n" + std::string(16, ' ') + "| " + line;
        }
        return t;
    }
    if (e.ev == "end") return "== end of scenario: " + str_field(f, "text");
    if (e.ev == "exit") {
        if (f.contains("code") && f["code"].is_null()) return "== the program is still running";
        return "== the program ended with exit code " + str_field(f, "code");
    }
    const std::string rest = other_fields(f, {});
    return e.ev + (rest.empty() ? "" : "  " + rest);
}

void write_timeline(std::ostream& out, const Scenario& sc, const RunResult& r) {
    const sim::Config& c = sc.config;
    out << "scenario " << sc.file << "\n";
    out << "  machine: " << windows_text(c.windows) << ", driver " << (c.driver ? "present" : "absent");
    switch (c.open_vxd_handle) {
    case sim::OpenVxd::by_version: break;
    case sim::OpenVxd::exported: out << ", OpenVxDHandle exported"; break;
    case sim::OpenVxd::missing: out << ", OpenVxDHandle missing"; break;
    case sim::OpenVxd::returns_zero: out << ", OpenVxDHandle returns 0"; break;
    }
    out << "\n";
    for (size_t i = 0; i < c.monitors.size(); ++i)
        out << "  monitor " << i << ": " << rect_text(c.monitors[i].rc) << (i == 0 ? " primary" : "") << "\n";
    for (size_t i = 0; i < sc.touchscreens.size(); ++i) {
        const auto& t = sc.touchscreens[i];
        out << "  touchscreen " << i << ": " << t.serial << ", monitor " << t.monitor;
        if (!t.registry_path.empty()) out << ", " << t.registry_path;
        out << "\n";
    }
    for (const auto& name : c.existing_objects) out << "  existing object: " << name << "\n";
    for (const auto& k : sc.registry)
        out << "  registry: " << k.path << " (" << k.values.size() << " values" << (k.read_only ? ", read-only" : "") << ")\n";
    if (sc.calibration)
        out << "  calibration program: " << calibration_program_path(c.system_directory) << " (ready after "
            << sc.calibration->ready_after_ms << " ms, exit event after " << sc.calibration->sets_exit_event_after_ms
            << " ms)\n";
    for (const auto& rf : sc.refusals) out << "  from the start: " << describe(rf) << "\n";
    out << "\n";
    for (const auto& e : r.events) out << time_text(e.t_us) << "  " << event_text(e) << "\n";
    out << "\n";
}

void write_summary(std::ostream& out, const RunResult& r) {
    if (r.ended)
        out << "exit code " << r.exit_code << "\n";
    else
        out << "the program did not end\n";
    out << "protocol errors " << r.protocol_errors.size() << ", misuse " << r.misuse.size() << "\n";
    for (const auto& d : r.protocol_errors) out << "  protocol error: " << d << "\n";
    for (const auto& d : r.misuse) out << "  misuse: " << d << "\n";
    if (!r.buttons_held.empty()) {
        out << "mouse buttons left down by the ended program:";
        for (const auto& b : r.buttons_held) out << " " << b;
        out << "\n";
    }

    std::map<std::string, size_t> n;
    size_t failed = 0;
    for (const auto& e : r.events) {
        ++n[e.ev];
        if (e.ev == "ioctl" && !bool_field(e.fields, "ok", true)) ++failed;
    }
    out << "driver requests " << n["ioctl"] << " (" << failed << " failed), cursor positions " << n["cursor"]
        << ", mouse events " << n["mouse"] << ", message boxes " << n["msgbox"] << ", registry writes " << n["regwrite"]
        << ", broadcasts " << n["broadcast"] << ", launches " << n["launch"] << "\n";
}

void write_jsonl(std::ostream& out, const RunResult& r) {
    for (const auto& e : r.events)
        out << sim::Trace::to_json(e).dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

const char* windows_text(sim::Windows w) {
    switch (w) {
    case sim::Windows::v95: return "Windows 95";
    case sim::Windows::v98: return "Windows 98";
    case sim::Windows::me: return "Windows Me";
    case sim::Windows::nt4: return "Windows NT 4.0";
    case sim::Windows::w2000: return "Windows 2000";
    case sim::Windows::xp: return "Windows XP";
    case sim::Windows::vista: return "Windows Vista";
    }
    return "Windows";
}

std::string rect_text(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

}  // namespace runner
