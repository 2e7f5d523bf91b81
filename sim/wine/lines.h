// JSON Lines records for the Wine test programs (orvane.vxd, Quavel.exe and
// the scenario agent): a small writer of flat JSON objects, an append-only
// file shared between threads and processes, and the clock they all stamp
// their records with.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ryk_wine {

// Microseconds of QueryPerformanceCounter: one clock for every process of
// the machine, so that records of several processes can be put in order.
inline uint64_t now_us() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    const uint64_t freq = static_cast<uint64_t>(f.QuadPart), count = static_cast<uint64_t>(c.QuadPart);
    return count / freq * 1000000u + count % freq * 1000000u / freq;
}

// One flat JSON object: {"ev":..., "t_us":..., fields...}.
class Json {
public:
    Json(const char* ev, uint64_t t_us) {
        text_ = "{\"ev\":";
        quote(ev);
        text_ += ",\"t_us\":" + std::to_string(t_us);
    }
    Json& str(const char* name, const std::string& value) {
        key(name);
        quote(value);
        return *this;
    }
    Json& num(const char* name, int64_t value) {
        key(name);
        text_ += std::to_string(value);
        return *this;
    }
    Json& boolean(const char* name, bool value) {
        key(name);
        text_ += value ? "true" : "false";
        return *this;
    }
    Json& null(const char* name) {
        key(name);
        text_ += "null";
        return *this;
    }
    Json& nums(const char* name, const std::vector<int64_t>& values) {
        key(name);
        text_ += '[';
        for (size_t i = 0; i < values.size(); ++i) {
            if (i) text_ += ',';
            text_ += std::to_string(values[i]);
        }
        text_ += ']';
        return *this;
    }
    std::string line() const { return text_ + "}\n"; }

private:
    void key(const char* name) {
        text_ += ',';
        quote(name);
        text_ += ':';
    }
    // Text of the program is in the ANSI code page; bytes above 0x7F are
    // written as the Latin-1 characters of the same value.
    void quote(const std::string& s) {
        text_ += '"';
        for (unsigned char ch : s) {
            if (ch == '"' || ch == '\\') {
                text_ += '\\';
                text_ += static_cast<char>(ch);
            } else if (ch < 0x20 || ch >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", ch);
                text_ += buf;
            } else {
                text_ += static_cast<char>(ch);
            }
        }
        text_ += '"';
    }
    std::string text_;
};

// A file that whole lines are appended to, from any thread and any process
// (each line is one WriteFile at the file's end).
class LineFile {
public:
    LineFile() { InitializeCriticalSection(&lock_); }
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;
    ~LineFile() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        DeleteCriticalSection(&lock_);
    }
    bool open(const std::string& path) {
        h_ = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
        return h_ != INVALID_HANDLE_VALUE;
    }
    void write(const std::string& line) {
        if (h_ == INVALID_HANDLE_VALUE) return;
        // One writer at a time within the process: Wine's append to the end
        // of the file is no atomic operation, and two threads appending at
        // once (the agent's mouse hook and its steps, the driver's requests
        // from several of the program's threads) can put both lines at the
        // same offset, the later one over the earlier.
        EnterCriticalSection(&lock_);
        DWORD put = 0;
        WriteFile(h_, line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
        LeaveCriticalSection(&lock_);
    }

private:
    CRITICAL_SECTION lock_;
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace ryk_wine
