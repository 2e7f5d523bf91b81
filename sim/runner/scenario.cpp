// Reading scenario files.
//
// The format, in short (scenarios/README.md has it with examples):
//
//   [machine]      windows ("95" "98" "me" "nt4" "2000" "xp" "vista"), monitors
//                  (array of { left, top, right, bottom, work = {...} }, the
//                  first is primary), driver (bool), open_vxd_handle
//                  ("exported" "missing" "returns-zero"; left out: as the
//                  Windows version has it), existing_objects (names),
//                  system_directory, debugger_attached (bool),
//                  refuse_create_window (bool).
//   [registry]     'SUB\KEY' = { Name = value, ..., read_only = true }: sub-keys
//                  of HKEY_LOCAL_MACHINE; an integer is a REG_DWORD (negative
//                  numbers as their 32-bit pattern), a string a REG_SZ,
//                  { binary = [bytes] } a REG_BINARY.
//   [[touchscreen]] in the driver's enumeration order, the identifier being
//                  the index: serial, monitor (-1 none), registry_path,
//                  alignment = { OffsetX, ScrDx, Dx, OffsetY, ScrDy, Dy, SwapXY },
//                  quick_touch = { dx, dy }, remembers_monitor (bool).
//   [calibration]  the calibration program Quavel.exe in the system directory:
//                  ready_after_ms (-1 never), sets_exit_event_after_ms (-1
//                  never), console (bool).
//   [[refuse]]     refusal rules in force before the program starts; the same
//                  fields as the `refuse` step.
//   [[fail]]       Win32 calls of the program that fail: function (one of
//                  sim::Machine::failable_functions()), call (the N-th call
//                  of it, from 1; default 1), onward (every later call too).
//   [[step]]       exactly one stimulus each, and an optional `note`:
//     touch = { screen, x, y | at = [u, v], kind, release, quick, far }
//         one packet; kind is the report kind (0..255), `release` adds
//         PKT_RELEASE (0x100), `quick` adds PKT_QUICKTOUCH (0x80) to the kind,
//         `far` adds PKT_FARTOUCH (0x200). (x, y) are desktop pixels; (u, v)
//         run 0..1 across the touchscreen and are mapped by the driver onto
//         the rectangle it last received for it.
//     tap = { screen, x, y | at = [u, v] }
//         a kind-5 press and then a kind-5 release at the same point, queued
//         together in one step.
//     quick_touch_params = { screen, dx, dy }
//     add_touchscreen = { the [[touchscreen]] fields, signal = true }
//         the driver gets a new touchscreen and then signals add-monitor
//         (unless signal = false).
//     remove_devices = true
//     display = { monitors = [...] }       WM_DISPLAYCHANGE follows
//     command = { wparam, lparam, message = "RykPlexor4683" }
//         posted by another program to the program's window
//     refuse = { request = "REQ_...", times = N | always = true,
//                index = N (REQ_GET_TOUCHSCREEN only), touchscreen = N }
//     refuse = { position = N, onward = true }
//         the request the driver handles in position N (from 1), whatever
//         it is, and with `onward` every later one.
//     clear_refusals = true
//     wait_ms = N
//     close = true                          WM_CLOSE to the program's window
//     hold_boxes = true | false             message boxes stay open from now on
//                                           (until dismissed), or are answered
//                                           OK at once again (the default)
//     dismiss_box = true | "CAPTION"        the oldest open box (with that
//                                           caption) is answered with OK
//     end_session = true                    the user logs off: WM_QUERYENDSESSION,
//                                           WM_ENDSESSION, then the process ends
//     tool = { name = "RykXyCtl" | "RykXyProbe", args = [...], expect_exit,
//              expect_output = [...], read_only = true }
//         runs the tool as a console program to its end
//     registry = { 'SUB\KEY' = { Name = value, ... } }
//         keys and values set as in [registry] (created or replaced); the
//         program is not told
//   A step may also say settle = false: the machine is then not settled
//   after it (pending time-outs of the program do not run out), and the next
//   step must be a wait_ms, so that the order of events stays fixed.
//
// Unknown keys anywhere, values of the wrong type or range, and a step with
// no stimulus or two are errors, reported as FILE:LINE:COLUMN: KEY: MESSAGE
// at the key. Key paths count array elements from 0, except steps, which
// are numbered from 1 as in the timeline ("step[3].touch.kind").
#include "scenario.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include <toml++/toml.h>

#include "driver/protocol.h"
#include "text.h"

namespace runner {

namespace {

SourcePos pos_of(const toml::source_region& r, const std::string& file) {
    return SourcePos{file, static_cast<int>(r.begin.line), static_cast<int>(r.begin.column)};
}

bool before(const SourcePos& a, const SourcePos& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
}

const char* type_name(const toml::node& n) {
    switch (n.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a number with a fraction";
    case toml::node_type::boolean: return "true or false";
    case toml::node_type::date:
    case toml::node_type::time:
    case toml::node_type::date_time: return "a date or time";
    default: return "nothing";
    }
}

nlohmann::ordered_json to_json(const toml::node& n) {
    if (auto* t = n.as_table()) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        for (auto&& [k, v] : *t) j[std::string(k.str())] = to_json(v);
        return j;
    }
    if (auto* a = n.as_array()) {
        nlohmann::ordered_json j = nlohmann::ordered_json::array();
        for (auto& e : *a) j.push_back(to_json(e));
        return j;
    }
    if (auto v = n.value_exact<int64_t>()) return *v;
    if (auto v = n.value_exact<double>()) return *v;
    if (auto v = n.value_exact<bool>()) return *v;
    if (auto v = n.value_exact<std::string>()) return *v;
    std::ostringstream s;
    if (auto* d = n.as_date())
        s << *d;
    else if (auto* t = n.as_time())
        s << *t;
    else if (auto* dt = n.as_date_time())
        s << *dt;
    return s.str();
}

// Walks one table: typed look-ups by key, and at the end an error for the
// first key (in file order) that no look-up asked for.
class TableReader {
public:
    TableReader(const toml::table& t, std::string path, const std::string& file)
        : t_(t), path_(std::move(path)), file_(file) {}

    const toml::table& table() const { return t_; }
    const std::string& path() const { return path_; }
    std::string child(std::string_view key) const { return path_.empty() ? std::string(key) : path_ + "." + std::string(key); }
    SourcePos where() const { return pos_of(t_.source(), file_); }

    SourcePos key_pos(std::string_view key) const {
        for (auto&& [k, v] : t_)
            if (k.str() == key) return pos_of(k.source(), file_);
        return where();
    }

    [[noreturn]] void fail(std::string_view key, const std::string& message) const {
        throw ScenarioError(key_pos(key), child(key), message);
    }
    [[noreturn]] void fail_here(const std::string& message) const { throw ScenarioError(where(), path_, message); }

    const toml::node* find(std::string_view key) {
        known_.emplace_back(key);
        return t_.get(key);
    }

    bool has(std::string_view key) const { return t_.contains(key); }

    std::optional<int64_t> integer(std::string_view key, int64_t lo, int64_t hi) {
        const toml::node* n = find(key);
        if (!n) return std::nullopt;
        auto v = n->value_exact<int64_t>();
        if (!v) fail(key, std::string("must be an integer, not ") + type_name(*n));
        if (*v < lo || *v > hi)
            fail(key, "must be from " + std::to_string(lo) + " to " + std::to_string(hi) + ", not " + std::to_string(*v));
        return v;
    }
    int64_t required_integer(std::string_view key, int64_t lo, int64_t hi) {
        auto v = integer(key, lo, hi);
        if (!v) missing(key, "an integer");
        return *v;
    }
    std::optional<bool> boolean(std::string_view key) {
        const toml::node* n = find(key);
        if (!n) return std::nullopt;
        auto v = n->value_exact<bool>();
        if (!v) fail(key, std::string("must be true or false, not ") + type_name(*n));
        return v;
    }
    // A flag that only makes sense set: `key = true`.
    void must_be_true(std::string_view key) {
        auto v = boolean(key);
        if (v && !*v) fail(key, "can only be true (leave the key out instead)");
    }
    std::optional<std::string> string(std::string_view key) {
        const toml::node* n = find(key);
        if (!n) return std::nullopt;
        auto v = n->value_exact<std::string>();
        if (!v) fail(key, std::string("must be a string, not ") + type_name(*n));
        return v;
    }
    std::string required_string(std::string_view key) {
        auto v = string(key);
        if (!v) missing(key, "a string");
        return *v;
    }
    const toml::table* table(std::string_view key) {
        const toml::node* n = find(key);
        if (!n) return nullptr;
        if (!n->is_table()) fail(key, std::string("must be a table, not ") + type_name(*n));
        return n->as_table();
    }
    const toml::array* array(std::string_view key) {
        const toml::node* n = find(key);
        if (!n) return nullptr;
        if (!n->is_array()) fail(key, std::string("must be an array, not ") + type_name(*n));
        return n->as_array();
    }

    [[noreturn]] void missing(std::string_view key, const std::string& what) const {
        fail_here("needs `" + std::string(key) + "` (" + what + ")");
    }

    // Reports the first key, in file order, that no look-up asked for.
    void finish() const {
        const toml::key* first = nullptr;
        SourcePos first_pos;
        for (auto&& [k, v] : t_) {
            if (std::find(known_.begin(), known_.end(), k.str()) != known_.end()) continue;
            SourcePos p = pos_of(k.source(), file_);
            if (!first || before(p, first_pos)) {
                first = &k;
                first_pos = p;
            }
        }
        if (!first) return;
        std::string list;
        for (const auto& k : known_) list += (list.empty() ? "" : ", ") + k;
        throw ScenarioError(first_pos, child(first->str()),
                            "unknown key" + (list.empty() ? std::string() : " (known here: " + list + ")"));
    }

private:
    const toml::table& t_;
    std::string path_;
    const std::string& file_;
    std::vector<std::string> known_;
};

// An array element that must be a table.
const toml::table& element_table(const toml::node& n, const std::string& path, const std::string& file) {
    if (!n.is_table())
        throw ScenarioError(pos_of(n.source(), file), path, std::string("must be a table, not ") + type_name(n));
    return *n.as_table();
}

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kUint32Max = std::numeric_limits<uint32_t>::max();

RECT read_rect(TableReader& r) {
    RECT rc{};
    rc.left = static_cast<LONG>(r.required_integer("left", kInt32Min, kInt32Max));
    rc.top = static_cast<LONG>(r.required_integer("top", kInt32Min, kInt32Max));
    rc.right = static_cast<LONG>(r.required_integer("right", kInt32Min, kInt32Max));
    rc.bottom = static_cast<LONG>(r.required_integer("bottom", kInt32Min, kInt32Max));
    if (rc.right <= rc.left) r.fail("right", "must be greater than left");
    if (rc.bottom <= rc.top) r.fail("bottom", "must be greater than top");
    return rc;
}

std::vector<sim::MonitorConfig> read_monitors(TableReader& parent, std::string_view key, const std::string& file) {
    const toml::array* a = parent.array(key);
    if (!a) parent.missing(key, "an array of monitor rectangles");
    if (a->empty()) parent.fail(key, "needs at least one monitor");
    std::vector<sim::MonitorConfig> out;
    for (size_t i = 0; i < a->size(); ++i) {
        const std::string path = parent.child(key) + "[" + std::to_string(i) + "]";
        TableReader m(element_table(*a->get(i), path, file), path, file);
        sim::MonitorConfig mc{};
        mc.rc = read_rect(m);
        if (const toml::table* w = m.table("work")) {
            TableReader wr(*w, m.child("work"), file);
            mc.work = read_rect(wr);
            wr.finish();
        } else {
            mc.work = mc.rc;
        }
        m.finish();
        out.push_back(mc);
    }
    return out;
}

sim::orvane::TouchscreenConfig read_touchscreen(TableReader& r, const std::string& file) {
    sim::orvane::TouchscreenConfig c;
    c.serial = r.required_string("serial");
    c.monitor = static_cast<int32_t>(r.integer("monitor", -1, kInt32Max).value_or(-1));
    c.registry_path = r.string("registry_path").value_or("");
    if (const toml::table* a = r.table("alignment")) {
        TableReader ar(*a, r.child("alignment"), file);
        sim::orvane::Alignment al;
        auto field = [&](const char* name) {
            return static_cast<int32_t>(ar.integer(name, kInt32Min, kInt32Max).value_or(0));
        };
        al.OffsetX = field("OffsetX");
        al.ScrDx = field("ScrDx");
        al.Dx = field("Dx");
        al.OffsetY = field("OffsetY");
        al.ScrDy = field("ScrDy");
        al.Dy = field("Dy");
        al.SwapXY = field("SwapXY");
        ar.finish();
        c.alignment = al;
    }
    if (const toml::table* q = r.table("quick_touch")) {
        TableReader qr(*q, r.child("quick_touch"), file);
        c.quick_dx = static_cast<int32_t>(qr.required_integer("dx", kInt32Min, kInt32Max));
        c.quick_dy = static_cast<int32_t>(qr.required_integer("dy", kInt32Min, kInt32Max));
        qr.finish();
    }
    if (auto b = r.boolean("remembers_monitor")) c.remembers_monitor = *b;
    return c;
}

const DWORD kRequests[] = {REQ_SET_XY_EVENT,       REQ_GET_TOUCH,        REQ_SET_MONITOR_RECT,   REQ_CLEAR_EVENT,
                           REQ_SET_ADDMON_EVENT,   REQ_SET_REMOVE_EVENT, REQ_SET_QUICKTOUCH_EVENT, REQ_BEGIN_CHANGE,
                           REQ_END_CHANGE,         REQ_GET_TOUCHSCREEN,  REQ_SET_MONITOR_NUMBER, REQ_GET_ALIGNMENT,
                           REQ_GET_QUICKTOUCH};

RefusalRule read_refusal(TableReader& r) {
    RefusalRule s;
    if (auto position = r.integer("position", 1, kInt32Max)) {
        // The request in that position, whatever it is: no other field but
        // `onward` and, optionally, `request = "any"`.
        s.rule.position = static_cast<uint64_t>(*position);
        s.rule.onward = r.boolean("onward").value_or(false);
        s.request = r.string("request").value_or("any");
        if (s.request != "any") r.fail("request", "a refusal by `position` takes no request name (or \"any\")");
        return s;
    }
    if (r.has("onward")) r.fail("onward", "`onward` goes with `position`");
    s.request = r.required_string("request");
    bool found = false;
    std::string names;
    for (DWORD code : kRequests) {
        names += (names.empty() ? "" : ", ") + std::string(RequestName(code));
        if (s.request == RequestName(code)) {
            s.code = code;
            found = true;
        }
    }
    if (!found) r.fail("request", "unknown request \"" + s.request + "\" (one of " + names + ")");
    s.rule.times = static_cast<int>(r.integer("times", 1, kInt32Max).value_or(0));
    s.rule.always = r.boolean("always").value_or(false);
    s.rule.index = static_cast<int>(r.integer("index", 0, 0xFFFF).value_or(-1));
    s.rule.touchscreen = static_cast<int>(r.integer("touchscreen", 0, 0xFFFF).value_or(-1));
    if (s.rule.index >= 0 && s.code != REQ_GET_TOUCHSCREEN)
        r.fail("index", "only REQ_GET_TOUCHSCREEN has an enumeration index");
    if (s.rule.always && s.rule.times > 0) r.fail("always", "give either `always` or `times`, not both");
    if (!s.rule.always && s.rule.times == 0 && s.rule.index < 0 && s.rule.touchscreen < 0)
        r.fail_here("refuses nothing: give `times`, `always = true`, `index` or `touchscreen`");
    return s;
}

// A point, as `x`/`y` in desktop pixels or `at = [u, v]` across the
// touchscreen.
void read_point(TableReader& r, Step& s, const std::string& file) {
    const bool has_at = r.has("at");
    const bool has_xy = r.has("x") || r.has("y");
    if (has_at && has_xy) r.fail("at", "give either `at` or `x` and `y`, not both");
    if (has_at) {
        const toml::array* a = r.array("at");
        if (a->size() != 2) r.fail("at", "must be [u, v]");
        double uv[2] = {0, 0};
        for (size_t i = 0; i < 2; ++i) {
            const toml::node& n = *a->get(i);
            std::optional<double> d;
            if (auto iv = n.value_exact<int64_t>()) d = static_cast<double>(*iv);
            if (auto fv = n.value_exact<double>()) d = *fv;
            if (!d || !(*d >= 0.0 && *d <= 1.0))
                throw ScenarioError(pos_of(n.source(), file), r.child("at") + "[" + std::to_string(i) + "]",
                                    "must be a number from 0 to 1");
            uv[i] = *d;
        }
        s.at = true;
        s.u = uv[0];
        s.v = uv[1];
    } else {
        if (!r.has("x")) r.missing("x", "desktop pixels; or `at = [u, v]`");
        if (!r.has("y")) r.missing("y", "desktop pixels; or `at = [u, v]`");
        s.x = static_cast<int32_t>(r.required_integer("x", kInt32Min, kInt32Max));
        s.y = static_cast<int32_t>(r.required_integer("y", kInt32Min, kInt32Max));
    }
}

int read_screen(TableReader& r, int touchscreens) {
    auto v = r.integer("screen", 0, 0xFFFF);
    if (!v) r.missing("screen", "a touchscreen identifier");
    if (*v >= touchscreens)
        r.fail("screen", "there is no touchscreen " + std::to_string(*v) + " at this step (" +
                             std::to_string(touchscreens) + " so far)");
    return static_cast<int>(*v);
}

const char* const kStimuli[] = {"touch",   "tap",     "quick_touch_params", "add_touchscreen",
                                "remove_devices", "display", "command",    "refuse",
                                "clear_refusals", "wait_ms", "close", "hold_boxes", "dismiss_box",
                                "end_session", "tool", "registry"};

void read_registry(TableReader& r, std::vector<RegistryKeyEntry>& out, const std::string& file);

Step read_step(TableReader& r, int number, int* touchscreens, const std::string& file) {
    Step s;
    s.number = number;
    s.pos = r.where();
    s.note = r.string("note").value_or("");

    const toml::key* stimulus = nullptr;
    SourcePos stimulus_pos;
    for (auto&& [k, v] : r.table()) {
        if (std::find(std::begin(kStimuli), std::end(kStimuli), k.str()) == std::end(kStimuli)) continue;
        SourcePos p = pos_of(k.source(), file);
        if (stimulus) {
            const bool later = before(stimulus_pos, p);
            const toml::key& second = later ? k : *stimulus;
            const toml::key& first = later ? *stimulus : k;
            throw ScenarioError(later ? p : stimulus_pos, r.child(second.str()),
                                "a step carries one stimulus; this one already has `" + std::string(first.str()) + "`");
        }
        stimulus = &k;
        stimulus_pos = p;
    }
    if (!stimulus) {
        std::string list;
        for (const char* n : kStimuli) {
            r.find(n);
            list += (list.empty() ? "" : ", ") + std::string(n);
        }
        r.finish();  // a misspelt stimulus explains the missing one best
        r.fail_here("a step needs one stimulus (" + list + ")");
    }
    s.action = std::string(stimulus->str());
    const toml::node& value = *r.table().get(s.action);
    s.args = to_json(value);

    // Stimuli whose value is a table are read through their own reader.
    auto sub = [&]() {
        const toml::table* t = r.table(s.action);
        return TableReader(*t, r.child(s.action), file);
    };

    if (s.action == "touch") {
        s.kind = Step::Kind::touch;
        TableReader t = sub();
        s.screen = read_screen(t, *touchscreens);
        read_point(t, s, file);
        auto kind = t.integer("kind", 0, 0xFF);
        if (!kind) t.missing("kind", "the report kind, 0 to 255");
        uint32_t flags = static_cast<uint32_t>(*kind);
        if (t.boolean("quick").value_or(false)) {
            if (flags & PKT_QUICKTOUCH) t.fail("quick", "kind " + std::to_string(*kind) + " already has the quick-touch bit 0x80");
            flags |= PKT_QUICKTOUCH;
        }
        if (t.boolean("release").value_or(false)) flags |= PKT_RELEASE;
        if (t.boolean("far").value_or(false)) flags |= PKT_FARTOUCH;
        s.flags = flags;
        t.finish();
    } else if (s.action == "tap") {
        s.kind = Step::Kind::tap;
        TableReader t = sub();
        s.screen = read_screen(t, *touchscreens);
        read_point(t, s, file);
        s.flags = 5;
        t.finish();
    } else if (s.action == "quick_touch_params") {
        s.kind = Step::Kind::quick_touch_params;
        TableReader t = sub();
        s.screen = read_screen(t, *touchscreens);
        s.dx = static_cast<int32_t>(t.required_integer("dx", kInt32Min, kInt32Max));
        s.dy = static_cast<int32_t>(t.required_integer("dy", kInt32Min, kInt32Max));
        t.finish();
    } else if (s.action == "add_touchscreen") {
        s.kind = Step::Kind::add_touchscreen;
        TableReader t = sub();
        s.touchscreen = read_touchscreen(t, file);
        s.signal = t.boolean("signal").value_or(true);
        t.finish();
        ++*touchscreens;
    } else if (s.action == "remove_devices") {
        s.kind = Step::Kind::remove_devices;
        r.must_be_true(s.action);
    } else if (s.action == "display") {
        s.kind = Step::Kind::display;
        TableReader t = sub();
        s.monitors = read_monitors(t, "monitors", file);
        t.finish();
    } else if (s.action == "command") {
        s.kind = Step::Kind::command;
        TableReader t = sub();
        s.message = t.string("message").value_or("RykPlexor4683");
        if (s.message.empty()) t.fail("message", "must name a registered message");
        s.wparam = static_cast<uint32_t>(t.required_integer("wparam", 0, kUint32Max));
        // Both spellings of a 32-bit lParam: 0xFFFF0000 and -65536.
        s.lparam = static_cast<int32_t>(static_cast<uint32_t>(t.integer("lparam", kInt32Min, kUint32Max).value_or(0)));
        t.finish();
    } else if (s.action == "refuse") {
        s.kind = Step::Kind::refuse;
        TableReader t = sub();
        s.refusal = read_refusal(t);
        t.finish();
    } else if (s.action == "clear_refusals") {
        s.kind = Step::Kind::clear_refusals;
        r.must_be_true(s.action);
    } else if (s.action == "wait_ms") {
        s.kind = Step::Kind::wait;
        s.wait_ms = static_cast<uint64_t>(r.integer(s.action, 0, 24LL * 3600 * 1000).value_or(0));
    } else if (s.action == "close") {
        s.kind = Step::Kind::close;
        r.must_be_true(s.action);
    } else if (s.action == "hold_boxes") {
        s.kind = Step::Kind::hold_boxes;
        auto b = r.boolean(s.action);
        s.hold = b.value_or(false);
    } else if (s.action == "dismiss_box") {
        s.kind = Step::Kind::dismiss_box;
        const toml::node* n = r.find(s.action);
        if (auto b = n->value_exact<bool>()) {
            if (!*b) r.fail(s.action, "can only be true or a caption (leave the step out instead)");
        } else if (auto t = n->value_exact<std::string>()) {
            if (t->empty()) r.fail(s.action, "must be a caption, or true for the oldest open box");
            s.box_caption = *t;
        } else {
            r.fail(s.action, std::string("must be true or a caption, not ") + type_name(*n));
        }
    } else if (s.action == "end_session") {
        s.kind = Step::Kind::end_session;
        r.must_be_true(s.action);
    } else if (s.action == "tool") {
        s.kind = Step::Kind::tool;
        TableReader t = sub();
        s.tool_name = t.required_string("name");
        if (s.tool_name != "RykXyCtl" && s.tool_name != "RykXyProbe")
            t.fail("name", "must be \"RykXyCtl\" or \"RykXyProbe\", not \"" + s.tool_name + "\"");
        auto strings = [&](const char* key, std::vector<std::string>* out) {
            if (const toml::array* a = t.array(key)) {
                for (const toml::node& n : *a) {
                    if (!n.is_string()) t.fail(key, "must be an array of strings");
                    out->push_back(n.as_string()->get());
                }
            }
        };
        strings("args", &s.tool_args);
        s.tool_expect_exit = t.integer("expect_exit", 0, kUint32Max);
        strings("expect_output", &s.tool_expect_output);
        s.tool_read_only = t.boolean("read_only").value_or(false);
        t.finish();
    } else if (s.action == "registry") {
        s.kind = Step::Kind::registry;
        TableReader t = sub();
        read_registry(t, s.registry_keys, file);
        t.finish();
    }
    if (auto b = r.boolean("settle")) s.settle = *b;
    r.finish();
    return s;
}

void read_machine(TableReader& r, sim::Config& c, const std::string& file) {
    if (auto w = r.string("windows")) {
        if (!sim::parse_windows(*w, &c.windows))
            r.fail("windows", "unknown Windows version \"" + *w + "\" (one of 95, 98, me, nt4, 2000, xp, vista)");
    }
    if (r.has("monitors"))
        c.monitors = read_monitors(r, "monitors", file);
    else
        r.find("monitors");
    if (auto d = r.boolean("driver")) c.driver = *d;
    if (auto o = r.string("open_vxd_handle")) {
        if (*o == "exported")
            c.open_vxd_handle = sim::OpenVxd::exported;
        else if (*o == "missing")
            c.open_vxd_handle = sim::OpenVxd::missing;
        else if (*o == "returns-zero")
            c.open_vxd_handle = sim::OpenVxd::returns_zero;
        else
            r.fail("open_vxd_handle", "must be \"exported\", \"missing\" or \"returns-zero\", not \"" + *o + "\"");
    }
    if (const toml::array* a = r.array("existing_objects")) {
        for (size_t i = 0; i < a->size(); ++i) {
            const toml::node& n = *a->get(i);
            auto name = n.value_exact<std::string>();
            if (!name || name->empty())
                throw ScenarioError(pos_of(n.source(), file), r.child("existing_objects") + "[" + std::to_string(i) + "]",
                                    "must be an object name");
            c.existing_objects.push_back(*name);
        }
    }
    if (auto d = r.string("system_directory")) {
        if (d->empty()) r.fail("system_directory", "must not be empty");
        c.system_directory = *d;
    }
    if (auto d = r.boolean("debugger_attached")) c.debugger_attached = *d;
    if (auto d = r.boolean("refuse_create_window")) c.refuse_create_window = *d;
    r.finish();
}

void read_registry(TableReader& r, std::vector<RegistryKeyEntry>& out, const std::string& file) {
    // In file order, so that the machine is filled as the file reads.
    std::vector<std::pair<SourcePos, std::string>> keys;
    for (auto&& [k, v] : r.table()) keys.emplace_back(pos_of(k.source(), file), std::string(k.str()));
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return before(a.first, b.first); });
    for (const auto& [pos, path] : keys) {
        const toml::table* t = r.table(path);
        if (path.empty()) r.fail(path, "names no sub-key");
        TableReader kr(*t, r.child("'" + path + "'"), file);
        RegistryKeyEntry entry;
        entry.path = path;
        for (auto&& [name_key, value] : *t) {
            const std::string name(name_key.str());
            if (name == "read_only") {
                entry.read_only = kr.boolean(name).value_or(false);
                continue;
            }
            kr.find(name);
            RegistryValueEntry v;
            v.name = name;
            if (auto dw = value.value_exact<int64_t>()) {
                if (*dw < kInt32Min || *dw > kUint32Max)
                    kr.fail(name, "a REG_DWORD must fit in 32 bits, not " + std::to_string(*dw));
                v.type = RegistryValueEntry::Type::dword;
                v.dword = static_cast<uint32_t>(*dw);
            } else if (auto s = value.value_exact<std::string>()) {
                v.type = RegistryValueEntry::Type::sz;
                v.text = *s;
            } else if (const toml::table* b = value.as_table()) {
                TableReader br(*b, kr.child(name), file);
                const toml::array* bytes = br.array("binary");
                if (!bytes) br.missing("binary", "an array of bytes, for a REG_BINARY");
                for (size_t i = 0; i < bytes->size(); ++i) {
                    const toml::node& n = *bytes->get(i);
                    auto byte = n.value_exact<int64_t>();
                    if (!byte || *byte < 0 || *byte > 255)
                        throw ScenarioError(pos_of(n.source(), file), br.child("binary") + "[" + std::to_string(i) + "]",
                                            "must be a byte, 0 to 255");
                    v.bytes.push_back(static_cast<uint8_t>(*byte));
                }
                br.finish();
                v.type = RegistryValueEntry::Type::binary;
            } else {
                kr.fail(name, std::string("must be an integer (REG_DWORD), a string (REG_SZ) or { binary = [...] }, not ") +
                                  type_name(value));
            }
            entry.values.push_back(std::move(v));
        }
        out.push_back(std::move(entry));
    }
    r.finish();
}

void read_calibration(TableReader& r, sim::ProgramSpec& p) {
    p.ready_after_ms = static_cast<int>(r.integer("ready_after_ms", -1, kInt32Max).value_or(0));
    p.sets_exit_event_after_ms = static_cast<int>(r.integer("sets_exit_event_after_ms", -1, kInt32Max).value_or(-1));
    p.console = r.boolean("console").value_or(false);
    r.finish();
}

// The array of tables `key` at the top level ([[key]]).
const toml::array* top_array(TableReader& top, std::string_view key) {
    const toml::node* n = top.find(key);
    if (!n) return nullptr;
    if (!n->is_array()) top.fail(key, "must be written as [[" + std::string(key) + "]] tables");
    return n->as_array();
}

const toml::table& top_table(TableReader& top, std::string_view key) {
    const toml::node* n = top.find(key);
    if (!n->is_table()) top.fail(key, "must be written as a [" + std::string(key) + "] table");
    return *n->as_table();
}

}  // namespace

ScenarioError::ScenarioError(SourcePos pos, std::string key, std::string message)
    : std::runtime_error(pos.file + (pos.line > 0 ? ":" + std::to_string(pos.line) + ":" + std::to_string(pos.column) : "") +
                         ": " + (key.empty() ? std::string() : key + ": ") + message),
      pos_(std::move(pos)),
      key_(std::move(key)),
      message_(std::move(message)) {}

Scenario parse_scenario(const std::string& text, const std::string& file) {
    toml::table root;
    try {
        root = toml::parse(std::string_view(text), std::string_view(file));
    } catch (const toml::parse_error& e) {
        throw ScenarioError(pos_of(e.source(), file), "", std::string(e.description()));
    }

    Scenario sc;
    sc.file = file;
    TableReader top(root, "", file);

    if (top.has("machine")) {
        TableReader r(top_table(top, "machine"), "machine", file);
        read_machine(r, sc.config, file);
    } else {
        top.find("machine");
    }
    if (top.has("registry")) {
        TableReader r(top_table(top, "registry"), "registry", file);
        read_registry(r, sc.registry, file);
    } else {
        top.find("registry");
    }
    if (const toml::array* a = top_array(top, "touchscreen")) {
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string path = "touchscreen[" + std::to_string(i) + "]";
            TableReader r(element_table(*a->get(i), path, file), path, file);
            sc.touchscreens.push_back(read_touchscreen(r, file));
            r.finish();
        }
    }
    if (top.has("calibration")) {
        TableReader r(top_table(top, "calibration"), "calibration", file);
        sim::ProgramSpec p;
        read_calibration(r, p);
        sc.calibration = p;
    } else {
        top.find("calibration");
    }
    if (const toml::array* a = top_array(top, "refuse")) {
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string path = "refuse[" + std::to_string(i) + "]";
            TableReader r(element_table(*a->get(i), path, file), path, file);
            sc.refusals.push_back(read_refusal(r));
            r.finish();
        }
    }
    if (const toml::array* a = top_array(top, "fail")) {
        const auto& known = sim::Machine::failable_functions();
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string path = "fail[" + std::to_string(i) + "]";
            TableReader r(element_table(*a->get(i), path, file), path, file);
            FailRule f;
            f.function = r.required_string("function");
            if (std::find(known.begin(), known.end(), f.function) == known.end()) {
                std::string names;
                for (const auto& n : known) names += (names.empty() ? "" : ", ") + n;
                r.fail("function", "cannot fail \"" + f.function + "\" on cue (one of " + names + ")");
            }
            f.call = static_cast<uint64_t>(r.integer("call", 1, kInt32Max).value_or(1));
            f.onward = r.boolean("onward").value_or(false);
            r.finish();
            sc.failures.push_back(f);
        }
    }
    int touchscreens = static_cast<int>(sc.touchscreens.size());
    if (const toml::array* a = top_array(top, "step")) {
        for (size_t i = 0; i < a->size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            const std::string path = "step[" + std::to_string(number) + "]";
            TableReader r(element_table(*a->get(i), path, file), path, file);
            sc.steps.push_back(read_step(r, number, &touchscreens, file));
        }
    }
    top.finish();
    return sc;
}

Scenario load_scenario(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ScenarioError(SourcePos{path, 0, 0}, "", "cannot open the scenario file");
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) throw ScenarioError(SourcePos{path, 0, 0}, "", "cannot read the scenario file");
    return parse_scenario(s.str(), path);
}

std::string calibration_program_path(const std::string& system_directory) {
    std::string p = system_directory;
    if (!p.empty() && p.back() != '\\') p += '\\';
    return p + "Quavel.exe";
}

namespace {

std::string number_text(double d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
}

std::string point_text(const Step& s) {
    if (s.at) return "at (" + number_text(s.u) + ", " + number_text(s.v) + ")";
    return "at (" + std::to_string(s.x) + ", " + std::to_string(s.y) + ")";
}

using sim::hex;

std::string rect_text(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

}  // namespace

std::string describe(const RefusalRule& r) {
    if (r.rule.position > 0)
        return "refuse request " + std::to_string(r.rule.position) + (r.rule.onward ? " and every later one" : "");
    std::string t = "refuse " + r.request;
    if (r.rule.index >= 0) t += " for index " + std::to_string(r.rule.index);
    if (r.rule.touchscreen >= 0) t += " for touchscreen " + std::to_string(r.rule.touchscreen);
    if (r.rule.always)
        t += ", always";
    else if (r.rule.times == 1)
        t += ", once";
    else if (r.rule.times > 1)
        t += ", " + std::to_string(r.rule.times) + " times";
    else
        t += ", every time";
    return t;
}

std::string describe(const Step& s) {
    switch (s.kind) {
    case Step::Kind::touch: {
        std::string t = "touch touchscreen " + std::to_string(s.screen) + " " + point_text(s) + ", kind " +
                        std::to_string(s.flags & PKT_KIND & ~PKT_QUICKTOUCH);
        if (s.flags & PKT_QUICKTOUCH) t += ", quick";
        if (s.flags & PKT_RELEASE) t += ", release";
        if (s.flags & PKT_FARTOUCH) t += ", far";
        return t + " (flags " + hex(s.flags, 3) + ")";
    }
    case Step::Kind::tap: return "tap touchscreen " + std::to_string(s.screen) + " " + point_text(s);
    case Step::Kind::quick_touch_params:
        return "quick-touch thresholds of touchscreen " + std::to_string(s.screen) + " become dx " + std::to_string(s.dx) +
               ", dy " + std::to_string(s.dy);
    case Step::Kind::add_touchscreen:
        return "add touchscreen " + s.touchscreen.serial + " (monitor " + std::to_string(s.touchscreen.monitor) +
               (s.touchscreen.registry_path.empty() ? "" : ", " + s.touchscreen.registry_path) + ")" +
               (s.signal ? " and signal add-monitor" : ", no signal");
    case Step::Kind::remove_devices: return "signal remove-devices";
    case Step::Kind::display: {
        std::string t = "display changes to";
        for (const auto& m : s.monitors) t += " " + rect_text(m.rc);
        return t;
    }
    case Step::Kind::command:
        return "another program posts " + s.message + " wparam " + std::to_string(s.wparam) + " lparam " +
               hex(static_cast<uint32_t>(s.lparam), 8);
    case Step::Kind::refuse: return describe(s.refusal);
    case Step::Kind::clear_refusals: return "the driver answers every request again";
    case Step::Kind::wait: return "wait " + std::to_string(s.wait_ms) + " ms";
    case Step::Kind::close: return "WM_CLOSE to the program's window";
    case Step::Kind::hold_boxes:
        return s.hold ? "message boxes stay open until dismissed" : "message boxes are answered OK at once";
    case Step::Kind::dismiss_box:
        return s.box_caption.empty() ? "the user answers the oldest open message box with OK"
                                     : "the user answers the open message box \"" + s.box_caption + "\" with OK";
    case Step::Kind::end_session: return "the user ends the Windows session";
    case Step::Kind::tool: {
        std::string t = "run " + s.tool_name;
        for (const auto& a : s.tool_args) t += " " + a;
        return t;
    }
    case Step::Kind::registry: {
        std::string text = "registry values set:";
        for (const auto& k : s.registry_keys)
            for (const auto& v : k.values) text += " " + k.path + "\\" + v.name;
        return text;
    }
    }
    return s.action;
}

}  // namespace runner
