#include "orvane/driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "text.h"

namespace sim::orvane {

namespace {

struct FieldLayout {
    const char* name;
    size_t offset;
    size_t width;  // 2 or 4
    bool is_signed;
};

constexpr FieldLayout kTouchscreenField = {"wTouchscreen", offsetof(RequestHeader, wTouchscreen), 2, false};

// The input fields of each request, in layout order, after wTouchscreen.
std::vector<FieldLayout> input_fields(uint32_t code) {
    switch (code) {
    case REQ_SET_XY_EVENT:
    case REQ_CLEAR_EVENT:
    case REQ_SET_ADDMON_EVENT:
    case REQ_SET_REMOVE_EVENT:
    case REQ_SET_QUICKTOUCH_EVENT: return {{"hEventR0", offsetof(EventRequest, hEventR0), 4, false}};
    case REQ_SET_MONITOR_RECT:
        return {{"iMonitor", offsetof(MonitorRectRequest, iMonitor), 4, true},
                {"iTop", offsetof(MonitorRectRequest, iTop), 4, true},
                {"iLeft", offsetof(MonitorRectRequest, iLeft), 4, true},
                {"iBottom", offsetof(MonitorRectRequest, iBottom), 4, true},
                {"iRight", offsetof(MonitorRectRequest, iRight), 4, true}};
    case REQ_GET_TOUCHSCREEN: return {{"iMonitor", offsetof(TouchscreenRecord, iMonitor), 4, true}};
    case REQ_SET_MONITOR_NUMBER:
        return {{"iMonitor", offsetof(MonitorNumberRequest, iMonitor), 4, true},
                {"dwAssign", offsetof(MonitorNumberRequest, dwAssign), 4, false}};
    case REQ_GET_ALIGNMENT:
        return {{"OffsetX", offsetof(AlignmentRequest, OffsetX), 4, true},
                {"ScrDx", offsetof(AlignmentRequest, ScrDx), 4, true},
                {"Dx", offsetof(AlignmentRequest, Dx), 4, true},
                {"OffsetY", offsetof(AlignmentRequest, OffsetY), 4, true},
                {"ScrDy", offsetof(AlignmentRequest, ScrDy), 4, true},
                {"Dy", offsetof(AlignmentRequest, Dy), 4, true},
                {"SwapXY", offsetof(AlignmentRequest, SwapXY), 4, true}};
    default: return {};
    }
}

int64_t read_field(const std::vector<uint8_t>& bytes, const FieldLayout& f) {
    if (f.width == 2) {
        uint16_t v;
        std::memcpy(&v, bytes.data() + f.offset, 2);
        return f.is_signed ? static_cast<int64_t>(static_cast<int16_t>(v)) : static_cast<int64_t>(v);
    }
    uint32_t v;
    std::memcpy(&v, bytes.data() + f.offset, 4);
    return f.is_signed ? static_cast<int64_t>(static_cast<int32_t>(v)) : static_cast<int64_t>(v);
}

bool has_output(uint32_t code) {
    return code == REQ_GET_TOUCH || code == REQ_GET_TOUCHSCREEN || code == REQ_GET_ALIGNMENT ||
           code == REQ_GET_QUICKTOUCH;
}

bool is_event_request(uint32_t code) {
    return code == REQ_SET_XY_EVENT || code == REQ_CLEAR_EVENT || code == REQ_SET_ADDMON_EVENT ||
           code == REQ_SET_REMOVE_EVENT || code == REQ_SET_QUICKTOUCH_EVENT;
}

// The three requests that also carry wTag1 and dwReserved.
bool is_tagged_request(uint32_t code) {
    return code == REQ_GET_TOUCHSCREEN || code == REQ_SET_MONITOR_NUMBER || code == REQ_GET_ALIGNMENT;
}

std::string hex(uint32_t v) { return sim::hex(v, 8); }

template <size_t N>
void copy_text(CHAR (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

// One ioctl on its way through the driver.
struct Driver::Call {
    uint32_t thread = 0;
    uint32_t code = 0;
    const char* name = "UNKNOWN";
    uint32_t size = 0;  // layout size; 0 for an unknown code
    void* in = nullptr;
    uint32_t in_size = 0;
    void* out = nullptr;
    uint32_t out_size = 0;
    bool readable = false;        // the input holds the whole layout
    std::vector<uint8_t> buf;     // the layout's bytes, from the input; the reply is built here
    int32_t ts = -1;              // wTouchscreen
    uint32_t handle = 0;          // hEventR0 of an event request
    bool handle_is_ring0 = false;
    bool concurrent_read = false;  // another REQ_GET_TOUCH was inside the driver
    bool ok = false;
    bool reply = false;  // copy buf to the output buffer
    std::vector<uint32_t> signals;
    Request rec;
    std::vector<ProtocolError> errs;
};

Driver::Driver(Host& host) : host_(host) {}

// ------------------------------------------------------------------ the device

bool Driver::ioctl(uint32_t thread_id, uint32_t code, void* in, uint32_t in_size, void* out, uint32_t out_size,
                   uint32_t* bytes_returned) {
    Call c;
    c.thread = thread_id;
    c.code = code;
    c.size = RequestSize(code);
    if (const char* n = RequestName(code)) c.name = n;
    c.in = in;
    c.in_size = in ? in_size : 0;
    c.out = out;
    c.out_size = out ? out_size : 0;
    c.readable = c.size != 0 && c.in_size >= c.size;

    c.rec.t_us = host_.now_us();
    c.rec.thread = thread_id;
    c.rec.code = code;
    c.rec.name = c.name;
    if (c.in_size > 0) {
        const auto* p = static_cast<const uint8_t*>(in);
        c.rec.input.assign(p, p + c.in_size);
    }
    if (c.in_size >= kTouchscreenField.offset + kTouchscreenField.width) {
        c.ts = static_cast<int32_t>(read_field(c.rec.input, kTouchscreenField));
        c.rec.fields.push_back({kTouchscreenField.name, c.ts});
    }
    c.rec.touchscreen = c.ts;
    if (c.readable) {
        c.buf.assign(c.rec.input.begin(), c.rec.input.begin() + c.size);
        for (const FieldLayout& f : input_fields(code)) c.rec.fields.push_back({f.name, read_field(c.buf, f)});
        if (is_event_request(code)) {
            EventRequest r;
            std::memcpy(&r, c.buf.data(), sizeof r);
            c.handle = r.hEventR0;
            c.handle_is_ring0 = c.handle != 0 && host_.is_ring0_handle(c.handle);
        }
    }

    const bool touch_read = code == REQ_GET_TOUCH;
    if (touch_read) {
        c.concurrent_read = touch_reads_.fetch_add(1) > 0;
        // Let a second, unserialised read catch up with this one.
        if (read_yield_.load(std::memory_order_relaxed)) yield_thread();
    }

    std::function<void(const Request&)> on_request;
    std::function<void(const ProtocolError&)> on_error;
    std::function<void(uint32_t, void*, uint32_t)> reply_filter;
    {
        Guard g(mu_);
        c.rec.seq = ++seq_;
        if (c.concurrent_read) error_locked(c, "another REQ_GET_TOUCH is inside the driver at the same time");
        answer_locked(c);
        if (c.ok && c.reply) std::memcpy(out, c.buf.data(), c.size);
        c.rec.ok = c.ok;
        log_.push_back(c.rec);
        for (const ProtocolError& e : c.errs) errors_.push_back(e);
        on_request = on_request_;
        on_error = on_error_;
        reply_filter = reply_filter_;
    }
    if (reply_filter && c.ok && c.reply && out != nullptr) reply_filter(code, out, c.size);

    for (uint32_t h : c.signals) host_.set_event(h);
    if (touch_read) touch_reads_.fetch_sub(1);

    if (on_request) on_request(c.rec);
    if (on_error)
        for (const ProtocolError& e : c.errs) on_error(e);

    if (bytes_returned) *bytes_returned = c.ok && c.reply ? c.size : 0;
    return c.ok;
}

void Driver::error_locked(Call& c, std::string detail) {
    c.errs.push_back({c.rec.seq, c.thread, std::string(c.name) + ": " + detail});
}

bool Driver::refused_locked(uint32_t code, int32_t touchscreen) {
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        const Refusal& r = it->r;
        if (r.position > 0) {
            if (seq_ == r.position || (r.onward && seq_ > r.position)) return true;
            continue;
        }
        if (it->code != code) continue;
        if (r.index >= 0 && (code != REQ_GET_TOUCHSCREEN || touchscreen != r.index)) continue;
        if (r.touchscreen >= 0 && touchscreen != r.touchscreen) continue;
        if (r.always) return true;
        if (r.times > 0) {
            if (--it->r.times == 0) rules_.erase(it);
            return true;
        }
        if (r.index >= 0 || r.touchscreen >= 0) return true;
    }
    return false;
}

// The bracket rule, per program thread. A bracket in which a request failed
// is given up: the program leaves it open and goes on, so a later
// REQ_BEGIN_CHANGE may replace it, and it no longer covers other requests.
void Driver::check_brackets_locked(Call& c) {
    auto it = brackets_.find(c.thread);
    const bool open = it != brackets_.end();
    const bool active = open && !it->second.given_up;
    auto describe = [&](int32_t id) { return "the bracket for " + std::to_string(id); };

    auto require = [&](int32_t id) {
        if (!active) {
            error_locked(c, "sent outside a change bracket" +
                                (open ? " (" + describe(it->second.touchscreen) + " was given up)" : std::string()));
        } else if (it->second.touchscreen != id) {
            error_locked(c, "sent inside " + describe(it->second.touchscreen) + "; expected " + describe(id));
        }
    };

    switch (c.code) {
    case REQ_BEGIN_CHANGE:
        if (active)
            error_locked(c, "opens " + describe(c.ts) + " while " + describe(it->second.touchscreen) +
                                " is open on this thread");
        brackets_[c.thread] = {c.ts, false};
        break;
    case REQ_END_CHANGE:
        if (!open) {
            error_locked(c, "for " + std::to_string(c.ts) + " without REQ_BEGIN_CHANGE on this thread");
        } else {
            if (it->second.touchscreen != c.ts)
                error_locked(c, "for " + std::to_string(c.ts) + " closes " + describe(it->second.touchscreen));
            brackets_.erase(it);
        }
        break;
    case REQ_SET_QUICKTOUCH_EVENT:  // its bracket names touchscreen 0, whatever the request names
    case REQ_SET_ADDMON_EVENT:
    case REQ_SET_REMOVE_EVENT: require(0); break;
    case REQ_SET_MONITOR_RECT: require(c.ts); break;
    case REQ_SET_XY_EVENT:  // the re-send after a rescan comes without a bracket
        if (active) require(c.ts);
        break;
    case REQ_CLEAR_EVENT:  // a program-wide event is withdrawn without a bracket
        if (c.handle == 0) require(c.ts);
        break;
    // Requests that fetch something go without a bracket of their own
    // thread; a bracket binds only the thread that opened it, so they may
    // come while other threads (or another program, such as RykXyProbe) hold
    // brackets open.
    case REQ_GET_TOUCH:
    case REQ_GET_TOUCHSCREEN:
    case REQ_GET_ALIGNMENT:
    case REQ_GET_QUICKTOUCH:
        if (active)
            error_locked(c, "sent inside " + describe(it->second.touchscreen) +
                                " of its own thread; a read request goes without a bracket");
        break;
    default: break;
    }
}

void Driver::answer_locked(Call& c) {
    if (c.size == 0) {
        error_locked(c, "unknown control code " + hex(c.code));
        return;
    }
    if (c.in_size != c.size || c.out_size != c.size)
        error_locked(c, "buffer sizes " + std::to_string(c.in_size) + " in, " + std::to_string(c.out_size) +
                            " out; expected " + std::to_string(c.size) + " both");
    if (c.in != c.out) error_locked(c, "input and output are different buffers");

    const bool writable = c.out != nullptr && c.out_size >= c.size;
    if (!c.readable || (has_output(c.code) && !writable)) {
        auto it = brackets_.find(c.thread);
        if (it != brackets_.end() && c.code != REQ_BEGIN_CHANGE && c.code != REQ_END_CHANGE)
            it->second.given_up = true;
        return;
    }

    RequestHeader h;
    std::memcpy(&h, c.buf.data(), sizeof h);
    if (h.wTag2 != REQ_TAG) error_locked(c, "wTag2 is " + std::to_string(h.wTag2) + ", expected 10");
    if (is_tagged_request(c.code)) {
        if (h.wTag1 != REQ_TAG) error_locked(c, "wTag1 is " + std::to_string(h.wTag1) + ", expected 10");
        if (h.dwReserved != 0) error_locked(c, "dwReserved is " + hex(h.dwReserved) + ", expected 0");
    }

    const int32_t count = static_cast<int32_t>(screens_.size());
    const bool known = c.ts >= 0 && c.ts < count;
    auto require_known = [&] {
        if (!known)
            error_locked(c, "names touchscreen " + std::to_string(c.ts) + "; the driver has " +
                                std::to_string(count));
        return known;
    };
    auto require_ring0 = [&] {
        if (!c.handle_is_ring0) error_locked(c, "hEventR0 " + hex(c.handle) + " is not a ring-0 handle");
        return c.handle_is_ring0;
    };
    auto require_program_wide = [&] {
        if (c.ts != 0) error_locked(c, "names touchscreen " + std::to_string(c.ts) + " for a program-wide event");
    };

    // Checks that do not depend on the driver's answer.
    bool valid = true;
    switch (c.code) {
    case REQ_SET_XY_EVENT:
    case REQ_SET_QUICKTOUCH_EVENT:
        valid = require_known();
        valid = require_ring0() && valid;
        break;
    case REQ_SET_ADDMON_EVENT:
    case REQ_SET_REMOVE_EVENT:
        require_program_wide();
        valid = require_ring0();
        break;
    case REQ_CLEAR_EVENT:
        if (c.handle == 0) {
            valid = require_known();
        } else {
            require_program_wide();
            require_ring0();
        }
        break;
    case REQ_BEGIN_CHANGE:
    case REQ_END_CHANGE:
        if (c.ts != 0) valid = require_known();  // 0 also brackets the program-wide events
        break;
    case REQ_GET_TOUCHSCREEN: {
        TouchscreenRecord r;
        std::memcpy(&r, c.buf.data(), sizeof r);
        if (r.iMonitor != REQ_ENUM_MONITOR)
            error_locked(c, "iMonitor is " + hex(static_cast<uint32_t>(r.iMonitor)) + ", expected 0x0000FFFF");
        break;
    }
    case REQ_SET_MONITOR_NUMBER: {
        MonitorNumberRequest r;
        std::memcpy(&r, c.buf.data(), sizeof r);
        if (r.dwAssign != 1) error_locked(c, "dwAssign is " + std::to_string(r.dwAssign) + ", expected 1");
        valid = require_known();
        break;
    }
    default:  // REQ_GET_TOUCH, REQ_SET_MONITOR_RECT, REQ_GET_ALIGNMENT, REQ_GET_QUICKTOUCH
        valid = require_known();
        break;
    }

    check_brackets_locked(c);

    const bool refused = refused_locked(c.code, c.ts);
    if (refused && c.code == REQ_CLEAR_EVENT) {
        const uint32_t named = c.handle != 0 ? c.handle : known ? screens_[c.ts].xy_event : 0;
        if (named != 0) withdrawal_refused_.push_back(named);
    }
    if (refused) {
        if (c.code == REQ_GET_TOUCH && known) {  // the packet it would have returned is lost
            Screen& s = screens_[c.ts];
            if (!s.queue.empty()) s.queue.pop_front();
            if (!s.queue.empty() && s.xy_event) c.signals.push_back(s.xy_event);
        }
    } else {
        c.ok = true;
        switch (c.code) {
        case REQ_SET_XY_EVENT:
            if (known && valid) {
                Screen& s = screens_[c.ts];
                s.xy_event = c.handle;
                if (!s.queue.empty()) c.signals.push_back(s.xy_event);  // packets that came before it
            } else if (!known) {
                c.ok = false;
            }
            break;
        case REQ_SET_QUICKTOUCH_EVENT:
            if (known && valid) screens_[c.ts].quick_event = c.handle;
            else if (!known) c.ok = false;
            break;
        case REQ_SET_ADDMON_EVENT:
            if (valid) addmon_event_ = c.handle;
            break;
        case REQ_SET_REMOVE_EVENT:
            if (valid) remove_event_ = c.handle;
            break;
        case REQ_CLEAR_EVENT:
            if (c.handle == 0) {
                if (known) screens_[c.ts].xy_event = 0;
                else c.ok = false;
            } else {
                if (addmon_event_ == c.handle) addmon_event_ = 0;
                if (remove_event_ == c.handle) remove_event_ = 0;
            }
            break;
        case REQ_GET_TOUCH: {
            if (!known || screens_[c.ts].queue.empty()) {
                c.ok = false;
                break;
            }
            Screen& s = screens_[c.ts];
            const Packet p = s.queue.front();
            s.queue.pop_front();
            TouchPacket t;
            std::memcpy(&t, c.buf.data(), sizeof t);
            t.dwSpare = 0;
            t.iX = p.x;
            t.iY = p.y;
            t.iZ = p.z;
            t.dwFlags = p.flags;
            std::memcpy(c.buf.data(), &t, sizeof t);
            c.reply = true;
            c.rec.fields.push_back({"iX", p.x});
            c.rec.fields.push_back({"iY", p.y});
            c.rec.fields.push_back({"dwFlags", static_cast<int64_t>(p.flags)});
            if (!s.queue.empty() && s.xy_event) c.signals.push_back(s.xy_event);
            break;
        }
        case REQ_SET_MONITOR_RECT: {
            if (!known) {
                c.ok = false;
                break;
            }
            MonitorRectRequest r;
            std::memcpy(&r, c.buf.data(), sizeof r);
            screens_[c.ts].rect = MonitorRect{r.iMonitor, r.iTop, r.iLeft, r.iBottom, r.iRight};
            break;
        }
        case REQ_BEGIN_CHANGE:
        case REQ_END_CHANGE: c.ok = valid; break;
        case REQ_GET_TOUCHSCREEN: {
            if (c.ts < 0 || c.ts >= count) {  // past the last touchscreen: the end of the enumeration
                c.ok = false;
                break;
            }
            const Screen& s = screens_[c.ts];
            TouchscreenRecord r;
            std::memcpy(&r, c.buf.data(), sizeof r);
            r.header.wTouchscreen = static_cast<WORD>(c.ts);
            r.header.wPad = 0;
            r.iMonitor = s.reported_monitor;
            for (size_t i = 0; i < sizeof r.abDriverData; ++i) r.abDriverData[i] = static_cast<BYTE>(i);
            copy_text(r.szSerialNumber, s.config.serial);
            copy_text(r.szRegistryPath, s.config.registry_path);
            copy_text(r.szDriverText, "Orvane touchscreen " + std::to_string(c.ts));
            std::memcpy(c.buf.data(), &r, sizeof r);
            c.reply = true;
            break;
        }
        case REQ_SET_MONITOR_NUMBER: {
            if (!known) {
                c.ok = false;
                break;
            }
            MonitorNumberRequest r;
            std::memcpy(&r, c.buf.data(), sizeof r);
            Screen& s = screens_[c.ts];
            s.monitor_number = r.iMonitor;
            if (s.config.remembers_monitor) s.reported_monitor = r.iMonitor;
            break;
        }
        case REQ_GET_ALIGNMENT: {
            if (!known) {
                c.ok = false;
                break;
            }
            const std::optional<Alignment>& a = screens_[c.ts].config.alignment;
            if (!a) break;  // accepted; the values sent stand
            AlignmentRequest r;
            std::memcpy(&r, c.buf.data(), sizeof r);
            r.OffsetX = a->OffsetX;
            r.ScrDx = a->ScrDx;
            r.Dx = a->Dx;
            r.OffsetY = a->OffsetY;
            r.ScrDy = a->ScrDy;
            r.Dy = a->Dy;
            r.SwapXY = a->SwapXY;
            std::memcpy(c.buf.data(), &r, sizeof r);
            c.reply = true;
            break;
        }
        case REQ_GET_QUICKTOUCH: {
            if (!known) {
                c.ok = false;
                break;
            }
            const Screen& s = screens_[c.ts];
            QuickTouchRequest r;
            std::memcpy(&r, c.buf.data(), sizeof r);
            r.dwQuickTouchParam = 0;
            r.iQuickTouchDx = s.config.quick_dx;
            r.iQuickTouchDy = s.config.quick_dy;
            std::memcpy(c.buf.data(), &r, sizeof r);
            c.reply = true;
            break;
        }
        default: c.ok = false; break;
        }
    }

    if (!c.ok && c.code != REQ_BEGIN_CHANGE && c.code != REQ_END_CHANGE) {
        auto it = brackets_.find(c.thread);
        if (it != brackets_.end()) it->second.given_up = true;
    }
}

void Driver::notify(const std::vector<Request>& reqs, const std::vector<ProtocolError>& errs) {
    std::function<void(const Request&)> on_request;
    std::function<void(const ProtocolError&)> on_error;
    {
        Guard g(mu_);
        on_request = on_request_;
        on_error = on_error_;
    }
    if (on_request)
        for (const Request& r : reqs) on_request(r);
    if (on_error)
        for (const ProtocolError& e : errs) on_error(e);
}

// ------------------------------------------------------------------ harness side

Driver::Screen& Driver::screen_locked(int touchscreen) {
    if (touchscreen < 0 || touchscreen >= static_cast<int>(screens_.size()))
        throw std::out_of_range("orvane: no touchscreen " + std::to_string(touchscreen));
    return screens_[static_cast<size_t>(touchscreen)];
}

const Driver::Screen& Driver::screen_locked(int touchscreen) const {
    if (touchscreen < 0 || touchscreen >= static_cast<int>(screens_.size()))
        throw std::out_of_range("orvane: no touchscreen " + std::to_string(touchscreen));
    return screens_[static_cast<size_t>(touchscreen)];
}

int Driver::add_touchscreen(const TouchscreenConfig& config) {
    Guard g(mu_);
    Screen s;
    s.config = config;
    s.reported_monitor = config.monitor;
    screens_.push_back(std::move(s));
    return static_cast<int>(screens_.size()) - 1;
}

int Driver::touchscreen_count() const {
    Guard g(mu_);
    return static_cast<int>(screens_.size());
}

void Driver::queue_packet(int touchscreen, int32_t x, int32_t y, uint32_t flags) {
    uint32_t event = 0;
    {
        Guard g(mu_);
        Screen& s = screen_locked(touchscreen);
        s.queue.push_back({x, y, 0, flags});
        event = s.xy_event;
    }
    if (event) host_.set_event(event);
}

bool Driver::queue_touch_at(int touchscreen, double u, double v, uint32_t flags) {
    std::optional<MonitorRect> rect;
    ProtocolError err;
    {
        Guard g(mu_);
        rect = screen_locked(touchscreen).rect;
        if (!rect) {
            err = {seq_, 0,
                   "queue_touch_at: no monitor rectangle received for touchscreen " + std::to_string(touchscreen)};
            errors_.push_back(err);
        }
    }
    if (!rect) {
        notify({}, {err});
        return false;
    }
    auto map = [](int32_t lo, int32_t hi, double f) {
        const double span = hi - lo > 0 ? static_cast<double>(hi - lo - 1) : 0.0;
        return static_cast<int32_t>(lo + std::lround(f * span));
    };
    queue_packet(touchscreen, map(rect->left, rect->right, u), map(rect->top, rect->bottom, v), flags);
    return true;
}

void Driver::set_quick_touch(int touchscreen, int32_t dx, int32_t dy) {
    uint32_t event = 0;
    {
        Guard g(mu_);
        Screen& s = screen_locked(touchscreen);
        s.config.quick_dx = dx;
        s.config.quick_dy = dy;
        event = s.quick_event;
    }
    if (event) host_.set_event(event);
}

bool Driver::signal_add_monitor() {
    uint32_t event;
    {
        Guard g(mu_);
        event = addmon_event_;
    }
    if (event) host_.set_event(event);
    return event != 0;
}

bool Driver::signal_remove_devices() {
    uint32_t event;
    {
        Guard g(mu_);
        event = remove_event_;
    }
    if (event) host_.set_event(event);
    return event != 0;
}

void Driver::refuse(uint32_t code, Refusal r) {
    Guard g(mu_);
    rules_.push_back({code, r});
}

void Driver::set_reply_filter(std::function<void(uint32_t, void*, uint32_t)> filter) {
    Guard g(mu_);
    reply_filter_ = std::move(filter);
}

void Driver::clear_refusals() {
    Guard g(mu_);
    rules_.clear();
}

// ------------------------------------------------------------------ observation

std::vector<Request> Driver::requests() const {
    Guard g(mu_);
    return log_;
}

std::vector<Request> Driver::requests(uint32_t code) const {
    Guard g(mu_);
    std::vector<Request> out;
    for (const Request& r : log_)
        if (r.code == code) out.push_back(r);
    return out;
}

std::vector<ProtocolError> Driver::errors() const {
    Guard g(mu_);
    return errors_;
}

void Driver::clear_log() {
    Guard g(mu_);
    log_.clear();
    errors_.clear();
}

void Driver::set_observer(std::function<void(const Request&)> on_request,
                          std::function<void(const ProtocolError&)> on_error) {
    Guard g(mu_);
    on_request_ = std::move(on_request);
    on_error_ = std::move(on_error);
}

std::optional<MonitorRect> Driver::monitor_rect(int touchscreen) const {
    Guard g(mu_);
    return screen_locked(touchscreen).rect;
}

std::optional<int32_t> Driver::monitor_number(int touchscreen) const {
    Guard g(mu_);
    return screen_locked(touchscreen).monitor_number;
}

uint32_t Driver::xy_event(int touchscreen) const {
    Guard g(mu_);
    return screen_locked(touchscreen).xy_event;
}

uint32_t Driver::quick_touch_event(int touchscreen) const {
    Guard g(mu_);
    return screen_locked(touchscreen).quick_event;
}

std::vector<std::pair<uint32_t, std::string>> Driver::held_locked() const {
    std::vector<std::pair<uint32_t, std::string>> out;
    if (addmon_event_) out.emplace_back(addmon_event_, "add-monitor event " + hex(addmon_event_));
    if (remove_event_) out.emplace_back(remove_event_, "remove-devices event " + hex(remove_event_));
    for (size_t i = 0; i < screens_.size(); ++i) {
        const Screen& s = screens_[i];
        if (s.xy_event)
            out.emplace_back(s.xy_event, "packet event " + hex(s.xy_event) + " of touchscreen " + std::to_string(i));
        if (s.quick_event)
            out.emplace_back(s.quick_event,
                             "quick-touch event " + hex(s.quick_event) + " of touchscreen " + std::to_string(i));
    }
    return out;
}

std::vector<std::string> Driver::held_events() const {
    Guard g(mu_);
    std::vector<std::string> out;
    for (auto& [h, text] : held_locked()) out.push_back(text);
    return out;
}

std::vector<ProtocolError> Driver::process_ended(const std::string& process,
                                                 const std::vector<uint32_t>& ring0_handles) {
    std::vector<ProtocolError> errs;
    {
        Guard g(mu_);
        for (auto& [h, text] : held_locked()) {
            if (std::find(ring0_handles.begin(), ring0_handles.end(), h) == ring0_handles.end()) continue;
            // The protocol has no request that withdraws a quick-touch event:
            // a program cannot be faulted for leaving one.
            if (text.rfind("quick-touch event", 0) == 0) continue;
            if (std::find(withdrawal_refused_.begin(), withdrawal_refused_.end(), h) != withdrawal_refused_.end())
                continue;
            errs.push_back({seq_, 0, "process " + process + " ended while the driver still holds its " + text});
        }
        for (const auto& e : errs) errors_.push_back(e);
    }
    notify({}, errs);
    return errs;
}

uint32_t Driver::add_monitor_event() const {
    Guard g(mu_);
    return addmon_event_;
}

uint32_t Driver::remove_devices_event() const {
    Guard g(mu_);
    return remove_event_;
}

size_t Driver::queued_packets(int touchscreen) const {
    Guard g(mu_);
    return screen_locked(touchscreen).queue.size();
}

std::vector<OpenBracket> Driver::open_brackets() const {
    Guard g(mu_);
    std::vector<OpenBracket> out;
    for (const auto& [thread, b] : brackets_) out.push_back({thread, b.touchscreen, b.given_up});
    return out;
}

}  // namespace sim::orvane
