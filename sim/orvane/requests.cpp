#include "orvane/requests.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "orvane/model.h"

namespace sim::orvane {

namespace {

// ------------------------------------------------------------------ answers
//
// Each runs with c.ok already true, after the checks, and may still fail the
// request; c.known and c.valid say what the checks found. A request for a
// touchscreen the driver lacks never gets here (Driver::handle_locked).

template <size_t N>
void copy_text(CHAR (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

void set_xy_event(Model& m, Call& c) {
    if (!c.valid) return;
    Screen& s = m.screens[c.ts];
    s.xy_event = c.handle;
    if (!s.queue.empty()) c.signals.push_back(s.xy_event);  // packets that came before it
}

void set_quick_touch_event(Model& m, Call& c) {
    if (c.valid) m.screens[c.ts].quick_event = c.handle;
}

void set_add_monitor_event(Model& m, Call& c) {
    if (c.valid) m.addmon_event = c.handle;
}

void set_remove_event(Model& m, Call& c) {
    if (c.valid) m.remove_event = c.handle;
}

// hEventR0 0 withdraws the named touchscreen's packet event; any other value
// the program-wide event it names.
void clear_event(Model& m, Call& c) {
    if (c.handle == 0) {
        if (c.known) m.screens[c.ts].xy_event = 0;
        else c.ok = false;
        return;
    }
    if (m.addmon_event == c.handle) m.addmon_event = 0;
    if (m.remove_event == c.handle) m.remove_event = 0;
}

// The program did what it could to withdraw the event: remember it.
void clear_event_refused(Model& m, Call& c) {
    const uint32_t named = c.handle != 0 ? c.handle : c.known ? m.screens[c.ts].xy_event : 0;
    if (named != 0) m.withdrawal_refused.push_back(named);
}

void get_touch(Model& m, Call& c) {
    Screen& s = m.screens[c.ts];
    if (s.queue.empty()) {
        c.ok = false;
        return;
    }
    const Packet p = s.queue.front();
    s.queue.pop_front();
    auto t = c.read<TouchPacket>();
    t.dwSpare = 0;
    t.iX = p.x;
    t.iY = p.y;
    t.iZ = p.z;
    t.dwFlags = p.flags;
    c.write(t);
    c.reply = true;
    if (!s.queue.empty() && s.xy_event) c.signals.push_back(s.xy_event);
}

// The packet the read would have returned is lost.
void get_touch_refused(Model& m, Call& c) {
    if (!c.known) return;
    Screen& s = m.screens[c.ts];
    if (!s.queue.empty()) s.queue.pop_front();
    if (!s.queue.empty() && s.xy_event) c.signals.push_back(s.xy_event);
}

void set_monitor_rect(Model& m, Call& c) {
    const auto r = c.read<MonitorRectRequest>();
    m.screens[c.ts].rect = MonitorRect{r.iMonitor, r.iTop, r.iLeft, r.iBottom, r.iRight};
}

void change_bracket(Model&, Call& c) { c.ok = c.valid; }

void get_touchscreen(Model& m, Call& c) {
    const Screen& s = m.screens[c.ts];
    auto r = c.read<TouchscreenRecord>();
    r.header.wTouchscreen = static_cast<WORD>(c.ts);
    r.header.wPad = 0;
    r.iMonitor = s.reported_monitor;
    for (size_t i = 0; i < sizeof r.abDriverData; ++i) r.abDriverData[i] = static_cast<BYTE>(i);
    copy_text(r.szSerialNumber, s.config.serial);
    copy_text(r.szRegistryPath, s.config.registry_path);
    copy_text(r.szDriverText, "Orvane touchscreen " + std::to_string(c.ts));
    c.write(r);
    c.reply = true;
}

void set_monitor_number(Model& m, Call& c) {
    const auto r = c.read<MonitorNumberRequest>();
    Screen& s = m.screens[c.ts];
    s.monitor_number = r.iMonitor;
    if (s.config.remembers_monitor) s.reported_monitor = r.iMonitor;
}

void get_alignment(Model& m, Call& c) {
    const std::optional<Alignment>& a = m.screens[c.ts].config.alignment;
    if (!a) return;  // accepted; the values sent stand
    auto r = c.read<AlignmentRequest>();
    r.OffsetX = a->OffsetX;
    r.ScrDx = a->ScrDx;
    r.Dx = a->Dx;
    r.OffsetY = a->OffsetY;
    r.ScrDy = a->ScrDy;
    r.Dy = a->Dy;
    r.SwapXY = a->SwapXY;
    c.write(r);
    c.reply = true;
}

void get_quick_touch(Model& m, Call& c) {
    const Screen& s = m.screens[c.ts];
    auto r = c.read<QuickTouchRequest>();
    r.dwQuickTouchParam = 0;
    r.iQuickTouchDx = s.config.quick_dx;
    r.iQuickTouchDy = s.config.quick_dy;
    c.write(r);
    c.reply = true;
}

// ------------------------------------------------------------------ recorded fields

constexpr FieldLayout kEventFields[] = {{"hEventR0", offsetof(EventRequest, hEventR0), 4, false}};

constexpr FieldLayout kTouchReplyFields[] = {{"iX", offsetof(TouchPacket, iX), 4, true},
                                             {"iY", offsetof(TouchPacket, iY), 4, true},
                                             {"dwFlags", offsetof(TouchPacket, dwFlags), 4, false}};

constexpr FieldLayout kMonitorRectFields[] = {{"iMonitor", offsetof(MonitorRectRequest, iMonitor), 4, true},
                                              {"iTop", offsetof(MonitorRectRequest, iTop), 4, true},
                                              {"iLeft", offsetof(MonitorRectRequest, iLeft), 4, true},
                                              {"iBottom", offsetof(MonitorRectRequest, iBottom), 4, true},
                                              {"iRight", offsetof(MonitorRectRequest, iRight), 4, true}};

constexpr FieldLayout kEnumMonitorField = {"iMonitor", offsetof(TouchscreenRecord, iMonitor), 4, true};
constexpr FieldLayout kTouchscreenFields[] = {kEnumMonitorField};
constexpr FixedValue kTouchscreenFixed[] = {{kEnumMonitorField, REQ_ENUM_MONITOR, true}};

constexpr FieldLayout kAssignField = {"dwAssign", offsetof(MonitorNumberRequest, dwAssign), 4, false};
constexpr FieldLayout kMonitorNumberFields[] = {
    {"iMonitor", offsetof(MonitorNumberRequest, iMonitor), 4, true}, kAssignField};
constexpr FixedValue kMonitorNumberFixed[] = {{kAssignField, 1, false}};

constexpr FieldLayout kAlignmentFields[] = {{"OffsetX", offsetof(AlignmentRequest, OffsetX), 4, true},
                                            {"ScrDx", offsetof(AlignmentRequest, ScrDx), 4, true},
                                            {"Dx", offsetof(AlignmentRequest, Dx), 4, true},
                                            {"OffsetY", offsetof(AlignmentRequest, OffsetY), 4, true},
                                            {"ScrDy", offsetof(AlignmentRequest, ScrDy), 4, true},
                                            {"Dy", offsetof(AlignmentRequest, Dy), 4, true},
                                            {"SwapXY", offsetof(AlignmentRequest, SwapXY), 4, true}};

// ------------------------------------------------------------------ the table

using enum Target;
using enum EventHandle;
using enum BracketRule;

constexpr RequestFacts kRequests[] = {
    {.code = REQ_SET_XY_EVENT, .name = "REQ_SET_XY_EVENT", .size = sizeof(EventRequest),
     .target = touchscreen, .event = ring0,
     .bracket = inside_own_if_open,  // the re-send after a rescan comes without a bracket
     .fields = kEventFields, .answer = set_xy_event},
    {.code = REQ_GET_TOUCH, .name = "REQ_GET_TOUCH", .size = sizeof(TouchPacket), .has_output = true,
     .target = touchscreen, .bracket = outside, .reply_fields = kTouchReplyFields,
     .answer = get_touch, .on_refusal = get_touch_refused},
    {.code = REQ_SET_MONITOR_RECT, .name = "REQ_SET_MONITOR_RECT", .size = sizeof(MonitorRectRequest),
     .target = touchscreen, .bracket = inside_own, .fields = kMonitorRectFields, .answer = set_monitor_rect},
    {.code = REQ_CLEAR_EVENT, .name = "REQ_CLEAR_EVENT", .size = sizeof(EventRequest),
     .target = withdrawn_event, .event = ring0_or_zero,
     .bracket = inside_own_unless_global,  // a program-wide event is withdrawn without a bracket
     .fields = kEventFields, .answer = clear_event, .on_refusal = clear_event_refused},
    {.code = REQ_SET_ADDMON_EVENT, .name = "REQ_SET_ADDMON_EVENT", .size = sizeof(EventRequest),
     .target = program_wide, .event = ring0, .bracket = inside_zero, .fields = kEventFields,
     .answer = set_add_monitor_event},
    {.code = REQ_SET_REMOVE_EVENT, .name = "REQ_SET_REMOVE_EVENT", .size = sizeof(EventRequest),
     .target = program_wide, .event = ring0, .bracket = inside_zero, .fields = kEventFields,
     .answer = set_remove_event},
    {.code = REQ_SET_QUICKTOUCH_EVENT, .name = "REQ_SET_QUICKTOUCH_EVENT", .size = sizeof(EventRequest),
     .target = touchscreen, .event = ring0,
     .bracket = inside_zero,  // its bracket names touchscreen 0, whatever the request names
     .fields = kEventFields, .answer = set_quick_touch_event},
    {.code = REQ_BEGIN_CHANGE, .name = "REQ_BEGIN_CHANGE", .size = sizeof(RequestHeader),
     .target = touchscreen_or_zero, .bracket = opens, .answer = change_bracket},
    {.code = REQ_END_CHANGE, .name = "REQ_END_CHANGE", .size = sizeof(RequestHeader),
     .target = touchscreen_or_zero, .bracket = closes, .answer = change_bracket},
    {.code = REQ_GET_TOUCHSCREEN, .name = "REQ_GET_TOUCHSCREEN", .size = sizeof(TouchscreenRecord),
     .has_output = true, .tagged = true, .target = enumeration_index, .fixed = kTouchscreenFixed,
     .bracket = outside, .fields = kTouchscreenFields, .answer = get_touchscreen},
    {.code = REQ_SET_MONITOR_NUMBER, .name = "REQ_SET_MONITOR_NUMBER", .size = sizeof(MonitorNumberRequest),
     .tagged = true, .target = touchscreen, .fixed = kMonitorNumberFixed, .bracket = any,
     .fields = kMonitorNumberFields, .answer = set_monitor_number},
    {.code = REQ_GET_ALIGNMENT, .name = "REQ_GET_ALIGNMENT", .size = sizeof(AlignmentRequest),
     .has_output = true, .tagged = true, .target = touchscreen, .bracket = outside, .fields = kAlignmentFields,
     .answer = get_alignment},
    {.code = REQ_GET_QUICKTOUCH, .name = "REQ_GET_QUICKTOUCH", .size = sizeof(QuickTouchRequest),
     .has_output = true, .target = touchscreen, .bracket = outside, .answer = get_quick_touch},
};

// The table and driver/protocol.h name and size every request alike, and
// the table has a row for each code that header names.
consteval bool agrees_with_protocol() {
    for (const RequestFacts& f : kRequests) {
        const char* name = RequestName(f.code);
        if (name == nullptr || std::string_view(name) != f.name || RequestSize(f.code) != f.size) return false;
    }
    for (DWORD function = 0; function < 0x1000; ++function) {
        const DWORD code = OrvaneControlCode(function);
        if (RequestName(code) == nullptr) continue;
        if (std::none_of(std::begin(kRequests), std::end(kRequests),
                         [&](const RequestFacts& f) { return f.code == code; }))
            return false;
    }
    return true;
}
static_assert(agrees_with_protocol());

}  // namespace

const RequestFacts* FindRequest(uint32_t code) {
    for (const RequestFacts& f : kRequests)
        if (f.code == code) return &f;
    return nullptr;
}

std::span<const RequestFacts> AllRequests() { return kRequests; }

}  // namespace sim::orvane
