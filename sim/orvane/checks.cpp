#include "orvane/checks.h"

#include <algorithm>

#include "text.h"

namespace sim::orvane {

namespace {

std::string hex(uint32_t v) { return sim::hex(v, 8); }

std::string show(int64_t v, bool in_hex) {
    return in_hex ? hex(static_cast<uint32_t>(v)) : std::to_string(v);
}

std::string bracket_for(int32_t id) { return "the bracket for " + std::to_string(id); }

}  // namespace

void check_serialised_read(Call& c) {
    if (c.concurrent_read) c.error("another REQ_GET_TOUCH is inside the driver at the same time");
}

bool check_code(Call& c) {
    if (c.facts == nullptr) c.error("unknown control code " + hex(c.code));
    return c.facts != nullptr;
}

bool check_buffers(Call& c) {
    if (c.in_size != c.size || c.out_size != c.size)
        c.error("buffer sizes " + std::to_string(c.in_size) + " in, " + std::to_string(c.out_size) +
                " out; expected " + std::to_string(c.size) + " both");
    if (c.in != c.out) c.error("input and output are different buffers");

    const bool writable = c.out != nullptr && c.out_size >= c.size;
    return c.readable && (!c.facts->has_output || writable);
}

void check_fields(const Model& m, Call& c) {
    const RequestFacts& f = *c.facts;
    const auto h = c.read<RequestHeader>();
    if (h.wTag2 != REQ_TAG) c.error("wTag2 is " + std::to_string(h.wTag2) + ", expected 10");
    if (f.tagged) {
        if (h.wTag1 != REQ_TAG) c.error("wTag1 is " + std::to_string(h.wTag1) + ", expected 10");
        if (h.dwReserved != 0) c.error("dwReserved is " + hex(h.dwReserved) + ", expected 0");
    }

    for (const FixedValue& v : f.fixed) {
        const int64_t is = read_field(c.buf, v.field);
        if (is != v.value)
            c.error(std::string(v.field.name) + " is " + show(is, v.in_hex) + ", expected " + show(v.value, v.in_hex));
    }

    c.known = m.has_touchscreen(c.ts);
    auto require_known = [&] {
        if (!c.known)
            c.error("names touchscreen " + std::to_string(c.ts) + "; the driver has " +
                    std::to_string(m.screens.size()));
        return c.known;
    };
    auto require_program_wide = [&] {
        if (c.ts != 0) c.error("names touchscreen " + std::to_string(c.ts) + " for a program-wide event");
    };
    auto require_ring0 = [&] {
        if (!c.handle_is_ring0) c.error("hEventR0 " + hex(c.handle) + " is not a ring-0 handle");
        return c.handle_is_ring0;
    };

    c.valid = true;
    switch (f.target) {
    case Target::touchscreen: c.valid = require_known(); break;
    case Target::touchscreen_or_zero:
        if (c.ts != 0) c.valid = require_known();
        break;
    case Target::program_wide: require_program_wide(); break;
    case Target::enumeration_index: break;
    case Target::withdrawn_event:
        if (c.handle == 0) c.valid = require_known();
        else require_program_wide();
        break;
    }
    switch (f.event) {
    case EventHandle::none: break;
    case EventHandle::ring0: c.valid = require_ring0() && c.valid; break;
    case EventHandle::ring0_or_zero:
        if (c.handle != 0) require_ring0();
        break;
    }
}

// A bracket in which a request failed is given up: the program leaves it
// open and goes on, so a later REQ_BEGIN_CHANGE may replace it, and it no
// longer covers other requests.
void check_bracket(Model& m, Call& c) {
    auto it = m.brackets.find(c.thread);
    const bool open = it != m.brackets.end();
    const bool active = open && !it->second.given_up;

    auto require = [&](int32_t id) {
        if (!active) {
            c.error("sent outside a change bracket" +
                    (open ? " (" + bracket_for(it->second.touchscreen) + " was given up)" : std::string()));
        } else if (it->second.touchscreen != id) {
            c.error("sent inside " + bracket_for(it->second.touchscreen) + "; expected " + bracket_for(id));
        }
    };

    switch (c.facts->bracket) {
    case BracketRule::opens:
        if (active)
            c.error("opens " + bracket_for(c.ts) + " while " + bracket_for(it->second.touchscreen) +
                    " is open on this thread");
        m.brackets[c.thread] = {c.ts, false};
        break;
    case BracketRule::closes:
        if (!open) {
            c.error("for " + std::to_string(c.ts) + " without REQ_BEGIN_CHANGE on this thread");
        } else {
            if (it->second.touchscreen != c.ts)
                c.error("for " + std::to_string(c.ts) + " closes " + bracket_for(it->second.touchscreen));
            m.brackets.erase(it);
        }
        break;
    case BracketRule::inside_zero: require(0); break;
    case BracketRule::inside_own: require(c.ts); break;
    case BracketRule::inside_own_if_open:
        if (active) require(c.ts);
        break;
    case BracketRule::inside_own_unless_global:
        if (c.handle == 0) require(c.ts);
        break;
    // A bracket binds only the thread that opened it, so reads may come
    // while other threads (or another program, such as RykXyProbe) hold
    // brackets open.
    case BracketRule::outside:
        if (active)
            c.error("sent inside " + bracket_for(it->second.touchscreen) +
                    " of its own thread; a read request goes without a bracket");
        break;
    case BracketRule::any: break;
    }
}

void give_up_bracket(Model& m, const Call& c) {
    if (c.facts->bracket == BracketRule::opens || c.facts->bracket == BracketRule::closes) return;
    auto it = m.brackets.find(c.thread);
    if (it != m.brackets.end()) it->second.given_up = true;
}

std::vector<std::pair<uint32_t, std::string>> held_events(const Model& m) {
    std::vector<std::pair<uint32_t, std::string>> out;
    if (m.addmon_event) out.emplace_back(m.addmon_event, "add-monitor event " + hex(m.addmon_event));
    if (m.remove_event) out.emplace_back(m.remove_event, "remove-devices event " + hex(m.remove_event));
    for (size_t i = 0; i < m.screens.size(); ++i) {
        const Screen& s = m.screens[i];
        if (s.xy_event)
            out.emplace_back(s.xy_event, "packet event " + hex(s.xy_event) + " of touchscreen " + std::to_string(i));
        if (s.quick_event)
            out.emplace_back(s.quick_event,
                             "quick-touch event " + hex(s.quick_event) + " of touchscreen " + std::to_string(i));
    }
    return out;
}

std::vector<ProtocolError> check_process_ended(const Model& m, uint64_t seq, const std::string& process,
                                               const std::vector<uint32_t>& ring0_handles) {
    std::vector<ProtocolError> errs;
    for (auto& [h, text] : held_events(m)) {
        if (std::find(ring0_handles.begin(), ring0_handles.end(), h) == ring0_handles.end()) continue;
        // The protocol has no request that withdraws a quick-touch event:
        // a program cannot be faulted for leaving one.
        if (text.rfind("quick-touch event", 0) == 0) continue;
        // Nor for one whose withdrawal the driver refused.
        if (std::find(m.withdrawal_refused.begin(), m.withdrawal_refused.end(), h) != m.withdrawal_refused.end())
            continue;
        errs.push_back({seq, 0, "process " + process + " ended while the driver still holds its " + text});
    }
    return errs;
}

}  // namespace sim::orvane
