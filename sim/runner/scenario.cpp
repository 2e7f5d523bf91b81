// Reading scenario files: the tables, keys and steps of the format, read
// through toml_reader.h. scenarios/README.md is the format's description;
// a change here goes there too.
#include "scenario.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>

#include "driver/protocol.h"
#include "orvane/requests.h"
#include "toml_reader.h"

namespace runner {

namespace {

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

std::vector<sim::MonitorConfig> read_monitors(TableReader& parent, std::string_view key) {
    const toml::array* a = parent.array(key);
    if (!a) parent.missing(key, "an array of monitor rectangles");
    if (a->empty()) parent.fail(key, "needs at least one monitor");
    std::vector<sim::MonitorConfig> out;
    for (size_t i = 0; i < a->size(); ++i) {
        const std::string path = parent.child(key) + "[" + std::to_string(i) + "]";
        TableReader m = parent.element(*a->get(i), path);
        sim::MonitorConfig mc{};
        mc.rc = read_rect(m);
        if (auto w = m.sub("work")) {
            mc.work = read_rect(*w);
            w->finish();
        } else {
            mc.work = mc.rc;
        }
        m.finish();
        out.push_back(mc);
    }
    return out;
}

sim::orvane::TouchscreenConfig read_touchscreen(TableReader& r) {
    sim::orvane::TouchscreenConfig c;
    c.serial = r.required_string("serial");
    c.monitor = static_cast<int32_t>(r.integer("monitor", -1, kInt32Max).value_or(-1));
    c.registry_path = r.string("registry_path").value_or("");
    if (auto ar = r.sub("alignment")) {
        sim::orvane::Alignment al;
        auto field = [&](const char* name) {
            return static_cast<int32_t>(ar->integer(name, kInt32Min, kInt32Max).value_or(0));
        };
        al.OffsetX = field("OffsetX");
        al.ScrDx = field("ScrDx");
        al.Dx = field("Dx");
        al.OffsetY = field("OffsetY");
        al.ScrDy = field("ScrDy");
        al.Dy = field("Dy");
        al.SwapXY = field("SwapXY");
        ar->finish();
        c.alignment = al;
    }
    if (auto qr = r.sub("quick_touch")) {
        c.quick_dx = static_cast<int32_t>(qr->required_integer("dx", kInt32Min, kInt32Max));
        c.quick_dy = static_cast<int32_t>(qr->required_integer("dy", kInt32Min, kInt32Max));
        qr->finish();
    }
    if (auto b = r.boolean("remembers_monitor")) c.remembers_monitor = *b;
    return c;
}

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
    for (const sim::orvane::RequestFacts& request : sim::orvane::AllRequests()) {
        names += (names.empty() ? "" : ", ") + std::string(request.name);
        if (s.request == request.name) {
            s.code = request.code;
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

int read_screen(TableReader& r, int touchscreens) {
    auto v = r.integer("screen", 0, 0xFFFF);
    if (!v) r.missing("screen", "a touchscreen identifier");
    if (*v >= touchscreens)
        r.fail("screen", "there is no touchscreen " + std::to_string(*v) + " at this step (" +
                             std::to_string(touchscreens) + " so far)");
    return static_cast<int>(*v);
}

// A touchscreen `screen` and a point on it, as `x`/`y` in desktop pixels or
// `at = [u, v]` across the touchscreen.
TouchPoint read_point(TableReader& r, int touchscreens) {
    TouchPoint p;
    p.screen = read_screen(r, touchscreens);
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
            if (!d || !(*d >= 0.0 && *d <= 1.0)) r.fail_element("at", i, n, "must be a number from 0 to 1");
            uv[i] = *d;
        }
        p.at = true;
        p.u = uv[0];
        p.v = uv[1];
    } else {
        if (!r.has("x")) r.missing("x", "desktop pixels; or `at = [u, v]`");
        if (!r.has("y")) r.missing("y", "desktop pixels; or `at = [u, v]`");
        p.x = static_cast<int32_t>(r.required_integer("x", kInt32Min, kInt32Max));
        p.y = static_cast<int32_t>(r.required_integer("y", kInt32Min, kInt32Max));
    }
    return p;
}

const char* const kStimuli[] = {"touch",   "tap",     "quick_touch_params", "add_touchscreen",
                                "remove_devices", "display", "command",    "refuse",
                                "clear_refusals", "wait_ms", "close", "hold_boxes", "dismiss_box",
                                "end_session", "tool", "registry", "tool_wait", "key", "restart"};

void read_registry(TableReader& r, std::vector<RegistryKeyEntry>& out);

// The stimulus `action` of the step table `r`. `touchscreens`: how many the
// driver has at this step; an add_touchscreen step counts its own.
Stimulus read_stimulus(TableReader& r, const std::string& action, int* touchscreens) {
    // Stimuli whose value is a table are read through their own reader.
    auto sub = [&]() { return *r.sub(action); };

    if (action == "touch") {
        stimuli::Touch s;
        TableReader t = sub();
        s.point = read_point(t, *touchscreens);
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
        return s;
    }
    if (action == "tap") {
        stimuli::Tap s;
        TableReader t = sub();
        s.point = read_point(t, *touchscreens);
        t.finish();
        return s;
    }
    if (action == "quick_touch_params") {
        stimuli::QuickTouchParams s;
        TableReader t = sub();
        s.screen = read_screen(t, *touchscreens);
        s.dx = static_cast<int32_t>(t.required_integer("dx", kInt32Min, kInt32Max));
        s.dy = static_cast<int32_t>(t.required_integer("dy", kInt32Min, kInt32Max));
        t.finish();
        return s;
    }
    if (action == "add_touchscreen") {
        stimuli::AddTouchscreen s;
        TableReader t = sub();
        s.touchscreen = read_touchscreen(t);
        s.signal = t.boolean("signal").value_or(true);
        t.finish();
        ++*touchscreens;
        return s;
    }
    if (action == "remove_devices") {
        r.must_be_true(action);
        return stimuli::RemoveDevices{};
    }
    if (action == "display") {
        stimuli::Display s;
        TableReader t = sub();
        s.monitors = read_monitors(t, "monitors");
        t.finish();
        return s;
    }
    if (action == "command") {
        stimuli::Command s;
        TableReader t = sub();
        s.message = t.string("message").value_or("RykPlexor4683");
        if (s.message.empty()) t.fail("message", "must name a registered message");
        s.wparam = static_cast<uint32_t>(t.required_integer("wparam", 0, kUint32Max));
        // Both spellings of a 32-bit lParam: 0xFFFF0000 and -65536.
        s.lparam = static_cast<int32_t>(static_cast<uint32_t>(t.integer("lparam", kInt32Min, kUint32Max).value_or(0)));
        t.finish();
        return s;
    }
    if (action == "refuse") {
        stimuli::Refuse s;
        TableReader t = sub();
        s.refusal = read_refusal(t);
        t.finish();
        return s;
    }
    if (action == "clear_refusals") {
        r.must_be_true(action);
        return stimuli::ClearRefusals{};
    }
    if (action == "wait_ms") {
        return stimuli::Wait{static_cast<uint64_t>(r.integer(action, 0, 24LL * 3600 * 1000).value_or(0))};
    }
    if (action == "close") {
        r.must_be_true(action);
        return stimuli::Close{};
    }
    if (action == "hold_boxes") {
        return stimuli::HoldBoxes{r.boolean(action).value_or(false)};
    }
    if (action == "dismiss_box") {
        stimuli::DismissBox s;
        const toml::node* n = r.find(action);
        if (auto b = n->value_exact<bool>()) {
            if (!*b) r.fail(action, "can only be true or a caption (leave the step out instead)");
        } else if (auto t = n->value_exact<std::string>()) {
            if (t->empty()) r.fail(action, "must be a caption, or true for the oldest open box");
            s.caption = *t;
        } else {
            r.fail(action, std::string("must be true or a caption, not ") + type_name(*n));
        }
        return s;
    }
    if (action == "end_session") {
        r.must_be_true(action);
        return stimuli::EndSession{};
    }
    if (action == "tool" || action == "tool_wait") {
        const bool wait = action == "tool_wait";
        stimuli::Tool s;
        TableReader t = sub();
        s.name = t.required_string("name");
        if (s.name != "RykXyCtl" && s.name != "RykXyProbe" && s.name != "RykXyMap")
            t.fail("name", "must be \"RykXyCtl\", \"RykXyProbe\" or \"RykXyMap\", not \"" + s.name + "\"");
        auto strings = [&](const char* key, std::vector<std::string>* out) {
            if (const toml::array* a = t.array(key)) {
                for (const toml::node& n : *a) {
                    if (!n.is_string()) t.fail(key, "must be an array of strings");
                    out->push_back(n.as_string()->get());
                }
            }
        };
        if (!wait) {
            strings("args", &s.args);
            s.background = t.boolean("background").value_or(false);
        }
        s.expect_exit = t.integer("expect_exit", 0, kUint32Max);
        strings("expect_output", &s.expect_output);
        s.read_only = t.boolean("read_only").value_or(false);
        strings("expect_text", &s.expect_text);
        if (const toml::array* a = t.array("expect_topmost")) {
            for (const toml::node& n : *a) {
                const toml::table* e = n.as_table();
                const toml::node* mon = e ? e->get("monitor") : nullptr;
                const toml::node* text = e ? e->get("text") : nullptr;
                if (!e || e->size() != 2 || !mon || !mon->is_integer() || !text || !text->is_string())
                    t.fail("expect_topmost", "must be an array of { monitor = N, text = \"...\" }");
                s.expect_topmost.push_back({mon->as_integer()->get(), text->as_string()->get()});
            }
        }
        if (s.background && (s.expect_exit || !s.expect_output.empty() || s.read_only || !s.expect_text.empty() ||
                             !s.expect_topmost.empty()))
            t.fail("background", "a tool in the background is checked by its `tool_wait` step, not here");
        t.finish();
        if (wait) return stimuli::ToolWait{s};
        return s;
    }
    if (action == "key") {
        stimuli::Key s;
        const toml::node* n = r.find(action);
        if (auto name = n->value_exact<std::string>()) {
            if (*name == "Esc") s.vk = VK_ESCAPE;
            else if (*name == "Enter") s.vk = VK_RETURN;
            else r.fail(action, "must be \"Esc\", \"Enter\" or a virtual-key code, not \"" + *name + "\"");
        } else {
            s.vk = static_cast<uint32_t>(r.required_integer(action, 1, 0xFE));
        }
        return s;
    }
    if (action == "restart") {
        r.must_be_true(action);
        return stimuli::Restart{};
    }
    // registry: the one left in kStimuli
    stimuli::Registry s;
    TableReader t = sub();
    read_registry(t, s.keys);
    t.finish();
    return s;
}

Step read_step(TableReader& r, int number, int* touchscreens) {
    Step s;
    s.number = number;
    s.pos = r.where();
    s.note = r.string("note").value_or("");

    const toml::key* stimulus = nullptr;
    SourcePos stimulus_pos;
    for (auto&& [k, v] : r.table()) {
        if (std::find(std::begin(kStimuli), std::end(kStimuli), k.str()) == std::end(kStimuli)) continue;
        SourcePos p = pos_of(k.source(), r.file());
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

    s.stimulus = read_stimulus(r, s.action, touchscreens);
    if (auto b = r.boolean("settle")) s.settle = *b;
    r.finish();
    return s;
}

void read_machine(TableReader& r, sim::Config& c) {
    if (auto w = r.string("windows")) {
        if (!sim::parse_windows(*w, &c.windows))
            r.fail("windows", "unknown Windows version \"" + *w + "\" (one of 95, 98, me, nt4, 2000, xp, vista)");
    }
    if (r.has("monitors"))
        c.monitors = read_monitors(r, "monitors");
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
            if (!name || name->empty()) r.fail_element("existing_objects", i, n, "must be an object name");
            c.existing_objects.push_back(*name);
        }
    }
    if (auto d = r.string("system_directory")) {
        if (d->empty()) r.fail("system_directory", "must not be empty");
        c.system_directory = *d;
    }
    if (auto d = r.boolean("debugger_attached")) c.debugger_attached = *d;
    if (auto d = r.boolean("refuse_create_window")) c.refuse_create_window = *d;
    if (auto d = r.boolean("hold_boxes")) c.hold_boxes = *d;
    r.finish();
}

void read_registry(TableReader& r, std::vector<RegistryKeyEntry>& out) {
    // In file order, so that the machine is filled as the file reads.
    std::vector<std::pair<SourcePos, std::string>> keys;
    for (auto&& [k, v] : r.table()) keys.emplace_back(pos_of(k.source(), r.file()), std::string(k.str()));
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return before(a.first, b.first); });
    for (const auto& [pos, path] : keys) {
        const toml::table* t = r.table(path);
        if (path.empty()) r.fail(path, "names no sub-key");
        TableReader kr(*t, r.child("'" + path + "'"), r.file());
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
                TableReader br(*b, kr.child(name), kr.file());
                const toml::array* bytes = br.array("binary");
                if (!bytes) br.missing("binary", "an array of bytes, for a REG_BINARY");
                for (size_t i = 0; i < bytes->size(); ++i) {
                    const toml::node& n = *bytes->get(i);
                    auto byte = n.value_exact<int64_t>();
                    if (!byte || *byte < 0 || *byte > 255) br.fail_element("binary", i, n, "must be a byte, 0 to 255");
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
        read_machine(r, sc.config);
    } else {
        top.find("machine");
    }
    if (top.has("registry")) {
        TableReader r(top_table(top, "registry"), "registry", file);
        read_registry(r, sc.registry);
    } else {
        top.find("registry");
    }
    if (const toml::array* a = top_array(top, "touchscreen")) {
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string path = "touchscreen[" + std::to_string(i) + "]";
            TableReader r = top.element(*a->get(i), path);
            sc.touchscreens.push_back(read_touchscreen(r));
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
            TableReader r = top.element(*a->get(i), path);
            sc.refusals.push_back(read_refusal(r));
            r.finish();
        }
    }
    if (const toml::array* a = top_array(top, "fail")) {
        const auto& known = sim::Machine::failable_functions();
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string path = "fail[" + std::to_string(i) + "]";
            TableReader r = top.element(*a->get(i), path);
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
            TableReader r = top.element(*a->get(i), path);
            sc.steps.push_back(read_step(r, number, &touchscreens));
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

}  // namespace runner
