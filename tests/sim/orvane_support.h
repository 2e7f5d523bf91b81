// Shared pieces of the driver model's tests: a host that records the events
// the driver sets, and builders for well-formed requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/protocol.h"
#include "orvane/driver.h"

namespace orvane_test {

using sim::orvane::Driver;
using sim::orvane::Host;

// Ring-0 handles as this host hands them out: 0xC0DE0000 plus a number.
constexpr uint32_t kAddMonR0 = 0xC0DE0001;
constexpr uint32_t kRemoveR0 = 0xC0DE0002;
constexpr uint32_t XyR0(int ts) { return 0xC0DE0100u + static_cast<uint32_t>(ts); }
constexpr uint32_t QtR0(int ts) { return 0xC0DE0200u + static_cast<uint32_t>(ts); }
constexpr uint32_t kWin32Handle = 0x00000044;  // a Win32 handle, not converted

constexpr uint32_t kMain = 1;
constexpr uint32_t kWatcher = 2;

class FakeHost : public Host {
public:
    void set_event(uint32_t h) override {
        std::function<void(uint32_t)> hook;
        {
            std::lock_guard<std::mutex> g(mu_);
            sets_.push_back(h);
            hook = on_set_;
        }
        if (hook) hook(h);
    }
    bool is_ring0_handle(uint32_t v) override { return (v & 0xFFFF0000u) == 0xC0DE0000u; }
    uint64_t now_us() override { return clock_ += 10; }

    std::vector<uint32_t> sets() const {
        std::lock_guard<std::mutex> g(mu_);
        return sets_;
    }
    size_t count(uint32_t h) const {
        std::lock_guard<std::mutex> g(mu_);
        size_t n = 0;
        for (uint32_t s : sets_) n += s == h;
        return n;
    }
    void on_set(std::function<void(uint32_t)> hook) {
        std::lock_guard<std::mutex> g(mu_);
        on_set_ = std::move(hook);
    }

private:
    mutable std::mutex mu_;
    std::vector<uint32_t> sets_;
    std::function<void(uint32_t)> on_set_;
    std::atomic<uint64_t> clock_{0};
};

// Content of fields that a request does not set: the driver must not rely on it.
constexpr uint8_t kJunk = 0xCD;

// A well-formed request as the program builds it: `arg` is hEventR0 for the
// event requests, iMonitor for REQ_SET_MONITOR_RECT and
// REQ_SET_MONITOR_NUMBER; the rectangle is 0,0 - 1024,768; the alignment
// goes in with its default values.
inline std::vector<uint8_t> Build(DWORD code, WORD ts, uint32_t arg = 0) {
    std::vector<uint8_t> b(RequestSize(code), kJunk);
    RequestHeader h;
    std::memcpy(&h, b.data(), sizeof h);
    h.wTag2 = REQ_TAG;
    h.wTouchscreen = ts;
    if (code == REQ_GET_TOUCHSCREEN || code == REQ_SET_MONITOR_NUMBER || code == REQ_GET_ALIGNMENT) {
        h.wTag1 = REQ_TAG;
        h.dwReserved = 0;
    }
    std::memcpy(b.data(), &h, sizeof h);
    auto put = [&](size_t offset, int64_t v) {
        const auto u = static_cast<uint32_t>(v);
        std::memcpy(b.data() + offset, &u, 4);
    };
    switch (code) {
    case REQ_SET_XY_EVENT:
    case REQ_CLEAR_EVENT:
    case REQ_SET_ADDMON_EVENT:
    case REQ_SET_REMOVE_EVENT:
    case REQ_SET_QUICKTOUCH_EVENT: put(offsetof(EventRequest, hEventR0), arg); break;
    case REQ_SET_MONITOR_RECT:
        put(offsetof(MonitorRectRequest, iMonitor), arg);
        put(offsetof(MonitorRectRequest, iTop), 0);
        put(offsetof(MonitorRectRequest, iLeft), 0);
        put(offsetof(MonitorRectRequest, iBottom), 768);
        put(offsetof(MonitorRectRequest, iRight), 1024);
        break;
    case REQ_GET_TOUCHSCREEN: put(offsetof(TouchscreenRecord, iMonitor), REQ_ENUM_MONITOR); break;
    case REQ_SET_MONITOR_NUMBER:
        put(offsetof(MonitorNumberRequest, iMonitor), arg);
        put(offsetof(MonitorNumberRequest, dwAssign), 1);
        break;
    case REQ_GET_ALIGNMENT: {
        const int32_t defaults[7] = {0, 576, 3107, 0, 432, 3012, 0};
        for (size_t i = 0; i < 7; ++i) put(offsetof(AlignmentRequest, OffsetX) + 4 * i, defaults[i]);
        break;
    }
    default: break;
    }
    return b;
}

// Sends one buffer as input and output, the way the program does.
inline bool Send(Driver& d, uint32_t thread, DWORD code, std::vector<uint8_t>& b) {
    uint32_t n = 0;
    return d.ioctl(thread, code, b.data(), static_cast<uint32_t>(b.size()), b.data(),
                   static_cast<uint32_t>(b.size()), &n);
}

inline bool Send(Driver& d, uint32_t thread, DWORD code, WORD ts, uint32_t arg = 0) {
    std::vector<uint8_t> b = Build(code, ts, arg);
    return Send(d, thread, code, b);
}

template <class T>
bool SendStruct(Driver& d, uint32_t thread, DWORD code, T& r) {
    uint32_t n = 0;
    return d.ioctl(thread, code, &r, sizeof r, &r, sizeof r, &n);
}

template <class T>
T As(const std::vector<uint8_t>& b) {
    T r;
    EXPECT_EQ(b.size(), sizeof r);
    std::memcpy(&r, b.data(), sizeof r);
    return r;
}

inline std::vector<int32_t> Words(const std::vector<uint8_t>& b, size_t from) {
    std::vector<int32_t> out;
    for (size_t i = from; i + 4 <= b.size(); i += 4) {
        int32_t v;
        std::memcpy(&v, b.data() + i, 4);
        out.push_back(v);
    }
    return out;
}

inline std::string ErrorText(const Driver& d) {
    std::string s;
    for (const auto& e : d.errors()) s += "  [" + std::to_string(e.seq) + "] " + e.detail + "\n";
    return s;
}

// A driver with three touchscreens; 0 on monitor 0, 1 on monitor 1, 2 without.
class OrvaneTest : public ::testing::Test {
protected:
    OrvaneTest() {
        driver.add_touchscreen({"SN-A0", 0, "Enum\\Orvane\\0000", std::nullopt});
        driver.add_touchscreen({"SN-B1", 1, "Enum\\Orvane\\0001", sim::orvane::Alignment{5, 600, 3000, 7, 400, 2900, 1}});
        driver.add_touchscreen({"SN-C2", -1, "Enum\\Orvane\\0002", std::nullopt});
    }

    // The worker-start hand-over of the packet event, bracketed.
    void HandOverXy(int ts, uint32_t thread = kMain) {
        const WORD id = static_cast<WORD>(ts);
        Send(driver, thread, REQ_BEGIN_CHANGE, id);
        ASSERT_TRUE(Send(driver, thread, REQ_SET_XY_EVENT, id, XyR0(ts)));
        Send(driver, thread, REQ_END_CHANGE, id);
    }

    FakeHost host;
    Driver driver{host};
};

}  // namespace orvane_test
