// Small text helpers that the simulated machine, its driver model and the
// scenario runner share.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

// "0x" and v in hexadecimal digits, at least `width` of them (zero-padded),
// upper-case unless `lower_case`.
inline std::string hex(uint64_t v, int width = 0, bool lower_case = false) {
    char buf[32];
    std::snprintf(buf, sizeof buf, lower_case ? "0x%0*llx" : "0x%0*llX", width, static_cast<unsigned long long>(v));
    return buf;
}

// s in lower case (ASCII), as Windows compares names of objects, classes,
// messages and files.
inline std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace sim
