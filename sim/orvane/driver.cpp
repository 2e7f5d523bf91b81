#include "orvane/driver.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "orvane/checks.h"
#include "orvane/model.h"
#include "orvane/requests.h"

namespace sim::orvane {

Pixel touch_pixel(const MonitorRect& rect, double u, double v) {
    auto across = [](int32_t lo, int32_t hi, double f) {
        const double span = hi - lo > 0 ? static_cast<double>(hi - lo - 1) : 0.0;
        return static_cast<int32_t>(lo + std::lround(f * span));
    };
    return {across(rect.left, rect.right, u), across(rect.top, rect.bottom, v)};
}

Driver::Driver(Host& host) : host_(host), model_(std::make_unique<Model>()) {}

Driver::~Driver() = default;

// ------------------------------------------------------------------ the device

bool Driver::ioctl(uint32_t thread_id, uint32_t code, void* in, uint32_t in_size, void* out, uint32_t out_size,
                   uint32_t* bytes_returned) {
    Call c;
    c.thread = thread_id;
    c.code = code;
    c.facts = FindRequest(code);
    if (c.facts) {
        c.name = c.facts->name;
        c.size = c.facts->size;
    }
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
        for (const FieldLayout& f : c.facts->fields) c.rec.fields.push_back({f.name, read_field(c.buf, f)});
        if (c.facts->event != EventHandle::none) {
            c.handle = c.read<EventRequest>().hEventR0;
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
        handle_locked(c);
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

// Checks the request, then carries it out through its row of the table or
// refuses it on cue.
void Driver::handle_locked(Call& c) {
    Model& m = *model_;
    check_serialised_read(c);
    if (!check_code(c)) return;
    if (!check_buffers(c)) {
        give_up_bracket(m, c);
        return;
    }
    check_fields(m, c);
    check_bracket(m, c);

    const bool lacks_touchscreen =
        !c.known && (c.facts->target == Target::touchscreen || c.facts->target == Target::enumeration_index);
    if (refused_locked(c.code, c.ts)) {
        if (c.facts->on_refusal) c.facts->on_refusal(m, c);
    } else if (lacks_touchscreen) {
        // Refused: a touchscreen the driver does not have; for the
        // enumeration, past the last one is its end.
    } else {
        c.ok = true;
        c.facts->answer(m, c);
        if (c.ok && c.reply)
            for (const FieldLayout& f : c.facts->reply_fields) c.rec.fields.push_back({f.name, read_field(c.buf, f)});
    }
    if (!c.ok) give_up_bracket(m, c);
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

Screen& Driver::screen_locked(int touchscreen) {
    if (touchscreen < 0 || touchscreen >= static_cast<int>(model_->screens.size()))
        throw std::out_of_range("orvane: no touchscreen " + std::to_string(touchscreen));
    return model_->screens[static_cast<size_t>(touchscreen)];
}

const Screen& Driver::screen_locked(int touchscreen) const {
    if (touchscreen < 0 || touchscreen >= static_cast<int>(model_->screens.size()))
        throw std::out_of_range("orvane: no touchscreen " + std::to_string(touchscreen));
    return model_->screens[static_cast<size_t>(touchscreen)];
}

int Driver::add_touchscreen(const TouchscreenConfig& config) {
    Guard g(mu_);
    Screen s;
    s.config = config;
    s.reported_monitor = config.monitor;
    model_->screens.push_back(std::move(s));
    return static_cast<int>(model_->screens.size()) - 1;
}

int Driver::touchscreen_count() const {
    Guard g(mu_);
    return static_cast<int>(model_->screens.size());
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
    const Pixel p = touch_pixel(*rect, u, v);
    queue_packet(touchscreen, p.x, p.y, flags);
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
        event = model_->addmon_event;
    }
    if (event) host_.set_event(event);
    return event != 0;
}

bool Driver::signal_remove_devices() {
    uint32_t event;
    {
        Guard g(mu_);
        event = model_->remove_event;
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

std::vector<std::string> Driver::held_events() const {
    Guard g(mu_);
    std::vector<std::string> out;
    for (auto& [h, text] : sim::orvane::held_events(*model_)) out.push_back(text);
    return out;
}

std::vector<ProtocolError> Driver::process_ended(const std::string& process,
                                                 const std::vector<uint32_t>& ring0_handles) {
    std::vector<ProtocolError> errs;
    {
        Guard g(mu_);
        errs = check_process_ended(*model_, seq_, process, ring0_handles);
        for (const auto& e : errs) errors_.push_back(e);
    }
    notify({}, errs);
    return errs;
}

uint32_t Driver::add_monitor_event() const {
    Guard g(mu_);
    return model_->addmon_event;
}

uint32_t Driver::remove_devices_event() const {
    Guard g(mu_);
    return model_->remove_event;
}

size_t Driver::queued_packets(int touchscreen) const {
    Guard g(mu_);
    return screen_locked(touchscreen).queue.size();
}

std::vector<OpenBracket> Driver::open_brackets() const {
    Guard g(mu_);
    std::vector<OpenBracket> out;
    for (const auto& [thread, b] : model_->brackets) out.push_back({thread, b.touchscreen, b.given_up});
    return out;
}

}  // namespace sim::orvane
