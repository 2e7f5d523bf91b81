#include "trace.h"

namespace sim {

void Trace::add(std::string ev, Fields fields) {
    std::lock_guard<std::mutex> lock(mu_);
    TraceEvent e;
    e.t_us = now_us_ ? now_us_(now_ctx_) : 0;
    e.ev = std::move(ev);
    e.fields = fields.is_null() ? Fields::object() : std::move(fields);
    events_.push_back(std::move(e));
}

std::vector<TraceEvent> Trace::events() const {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
}

std::vector<TraceEvent> Trace::events(const std::string& ev) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<TraceEvent> out;
    for (const auto& e : events_)
        if (e.ev == ev) out.push_back(e);
    return out;
}

size_t Trace::count(const std::string& ev) const {
    std::lock_guard<std::mutex> lock(mu_);
    size_t n = 0;
    for (const auto& e : events_)
        if (e.ev == ev) ++n;
    return n;
}

void Trace::clear() {
    std::lock_guard<std::mutex> lock(mu_);
    events_.clear();
}

Fields Trace::to_json(const TraceEvent& e) {
    Fields j = Fields::object();
    j["ev"] = e.ev;
    j["t_us"] = e.t_us;
    for (auto it = e.fields.begin(); it != e.fields.end(); ++it) j[it.key()] = it.value();
    return j;
}

void Trace::set_clock(uint64_t (*now_us)(void*), void* ctx) {
    std::lock_guard<std::mutex> lock(mu_);
    now_us_ = now_us;
    now_ctx_ = ctx;
}

}  // namespace sim
