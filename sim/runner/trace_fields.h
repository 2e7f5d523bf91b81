// Reading the fields of a trace event (sim::Fields, a JSON object) for the
// report and the picture. A field that is missing or of another type reads
// as the fallback, so that an event the reader does not expect never stops
// a report.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"
#include "trace.h"

namespace runner {

// A string as it is; any other value as compact JSON (invalid UTF-8 replaced).
inline std::string plain(const sim::Fields& j) {
    if (j.is_string()) return j.get<std::string>();
    return j.dump(-1, ' ', false, sim::Fields::error_handler_t::replace);
}

inline int64_t int_field(const sim::Fields& f, const char* name, int64_t fallback = 0) {
    auto it = f.find(name);
    if (it == f.end() || !it->is_number_integer()) return fallback;
    return it->get<int64_t>();
}

inline bool bool_field(const sim::Fields& f, const char* name, bool fallback = false) {
    auto it = f.find(name);
    if (it == f.end() || !it->is_boolean()) return fallback;
    return it->get<bool>();
}

// The field as plain() text; "" when it is missing.
inline std::string str_field(const sim::Fields& f, const char* name) {
    auto it = f.find(name);
    if (it == f.end()) return "";
    return plain(*it);
}

// { left, top, right, bottom } as a RECT (missing fields 0).
inline RECT rect_field(const sim::Fields& j) {
    RECT r{};
    r.left = static_cast<LONG>(int_field(j, "left"));
    r.top = static_cast<LONG>(int_field(j, "top"));
    r.right = static_cast<LONG>(int_field(j, "right"));
    r.bottom = static_cast<LONG>(int_field(j, "bottom"));
    return r;
}

}  // namespace runner
