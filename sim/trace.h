// The machine's record of everything observable that happened in it, in order,
// stamped with the simulated time. Scenario reports and tests read it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

using Fields = nlohmann::ordered_json;

struct TraceEvent {
    uint64_t t_us = 0;
    std::string ev;
    Fields fields;  // an object; the event's own fields, in the order they were given
};

class Trace {
public:
    // Appends one event. `fields` must be a JSON object (or null for none).
    void add(std::string ev, Fields fields = Fields::object());
    std::vector<TraceEvent> events() const;
    std::vector<TraceEvent> events(const std::string& ev) const;
    size_t count(const std::string& ev) const;
    void clear();

    // One JSON object per event: {"ev":..., "t_us":..., fields...}.
    static Fields to_json(const TraceEvent& e);

    // Set by the machine: where the time stamps come from.
    void set_clock(uint64_t (*now_us)(void*), void* ctx);

private:
    mutable std::mutex mu_;
    std::vector<TraceEvent> events_;
    uint64_t (*now_us_)(void*) = nullptr;
    void* now_ctx_ = nullptr;
};

}  // namespace sim
