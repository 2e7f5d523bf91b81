// The inside of the driver model: the state its requests read and change,
// and one request on its way through the driver. Only the model's own files
// include this.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "orvane/driver.h"
#include "orvane/requests.h"

namespace sim::orvane {

struct Packet {
    int32_t x, y, z;
    uint32_t flags;
};

struct Screen {
    TouchscreenConfig config;
    int32_t reported_monitor = -1;
    std::optional<MonitorRect> rect;
    std::optional<int32_t> monitor_number;
    uint32_t xy_event = 0;
    uint32_t quick_event = 0;
    std::deque<Packet> queue;
};

struct Bracket {
    int32_t touchscreen;
    bool given_up;
};

// What the requests work on; guarded by the driver's lock.
struct Model {
    std::vector<Screen> screens;  // by identifier
    uint32_t addmon_event = 0;
    uint32_t remove_event = 0;
    std::vector<uint32_t> withdrawal_refused;  // events a refused REQ_CLEAR_EVENT named
    std::map<uint32_t, Bracket> brackets;      // by thread

    bool has_touchscreen(int32_t id) const { return id >= 0 && id < static_cast<int32_t>(screens.size()); }
};

// One ioctl on its way through the driver.
struct Call {
    uint32_t thread = 0;
    uint32_t code = 0;
    const RequestFacts* facts = nullptr;  // nullptr for an unknown code
    const char* name = "UNKNOWN";
    uint32_t size = 0;  // layout size; 0 for an unknown code
    void* in = nullptr;
    uint32_t in_size = 0;
    void* out = nullptr;
    uint32_t out_size = 0;
    bool readable = false;         // the input holds the whole layout
    std::vector<uint8_t> buf;      // the layout's bytes, from the input; the reply is built here
    int32_t ts = -1;               // wTouchscreen
    uint32_t handle = 0;           // hEventR0 of an event request
    bool handle_is_ring0 = false;
    bool concurrent_read = false;  // another REQ_GET_TOUCH was inside the driver
    bool known = false;            // wTouchscreen names a touchscreen the driver has
    bool valid = true;             // the checks leave the request fit to be carried out
    bool ok = false;
    bool reply = false;  // copy buf to the output buffer
    std::vector<uint32_t> signals;
    Request rec;
    std::vector<ProtocolError> errs;

    // Records a breach of the protocol found in this request.
    void error(const std::string& detail) { errs.push_back({rec.seq, thread, std::string(name) + ": " + detail}); }

    // The layout `T` read from the request's bytes, and written back.
    template <class T>
    T read() const {
        T r;
        std::memcpy(&r, buf.data(), sizeof r);
        return r;
    }
    template <class T>
    void write(const T& r) {
        std::memcpy(buf.data(), &r, sizeof r);
    }
};

// A field's value in `bytes`, which hold at least its offset plus its width.
inline int64_t read_field(const std::vector<uint8_t>& bytes, const FieldLayout& f) {
    if (f.width == 2) {
        uint16_t v;
        std::memcpy(&v, bytes.data() + f.offset, 2);
        return f.is_signed ? static_cast<int64_t>(static_cast<int16_t>(v)) : static_cast<int64_t>(v);
    }
    uint32_t v;
    std::memcpy(&v, bytes.data() + f.offset, 4);
    return f.is_signed ? static_cast<int64_t>(static_cast<int32_t>(v)) : static_cast<int64_t>(v);
}

}  // namespace sim::orvane
