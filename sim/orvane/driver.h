// The simulated Orvane touchscreen driver.
//
// It answers the thirteen control requests the way the program relies on the
// real driver to, records every request byte for byte, checks each one
// against the protocol (buffer sizes, tags, identifiers, ring-0 handles,
// change brackets, serialised packet reads) and can refuse any request on
// cue. It knows nothing of the simulated kernel: it signals the program's
// events and reads the clock only through Host.
//
// What each request is (its size, fields, identifier, event handle, bracket
// rule) and how it is answered is one row of orvane/requests.cpp; the
// protocol checks are orvane/checks.cpp.
//
// Thread safety: ioctl() runs on the calling program thread; all other
// members may be called from any thread. Host calls and observer callbacks
// are made outside the driver's own lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "orvane/lock.h"

namespace sim::orvane {

// What the driver needs from the machine it runs in.
struct Host {
    virtual ~Host() = default;
    // Signals a program event through the ring-0 handle it was handed as.
    virtual void set_event(uint32_t ring0_handle) = 0;
    // Whether the value was produced by OpenVxDHandle.
    virtual bool is_ring0_handle(uint32_t value) = 0;
    // Simulated time, for the records.
    virtual uint64_t now_us() = 0;
};

struct Alignment {
    int32_t OffsetX = 0, ScrDx = 0, Dx = 0, OffsetY = 0, ScrDy = 0, Dy = 0, SwapXY = 0;
};

struct TouchscreenConfig {
    std::string serial;         // szSerialNumber; cut to 17 characters
    int32_t monitor = -1;       // iMonitor reported by enumeration; -1 none
    std::string registry_path;  // szRegistryPath; cut to 255 characters
    std::optional<Alignment> alignment;  // REQ_GET_ALIGNMENT leaves the buffer alone without
    int32_t quick_dx = 200, quick_dy = 200;  // REQ_GET_QUICKTOUCH thresholds
    // When set, REQ_SET_MONITOR_NUMBER changes the monitor that later
    // enumerations report, as the real driver keeps the assignment.
    bool remembers_monitor = true;
};

struct Field {
    std::string name;
    int64_t value;
};

// One recorded request.
struct Request {
    uint64_t seq = 0;  // 1, 2, 3, ... in the order the driver handled them
    uint64_t t_us = 0;
    uint32_t thread = 0;
    uint32_t code = 0;
    const char* name = "UNKNOWN";  // RequestName(code), or "UNKNOWN"
    int32_t touchscreen = -1;      // wTouchscreen; -1 when the buffer is too short to hold it
    bool ok = false;               // what DeviceIoControl returned
    // The input fields by their layout names in layout order, starting with
    // "wTouchscreen" (the header's tags are checked, not listed). For a
    // successful REQ_GET_TOUCH also the packet's "iX", "iY", "dwFlags".
    std::vector<Field> fields;
    std::vector<uint8_t> input;  // the input buffer exactly as received
};

// A breach of the protocol. `seq` is the request it was found in; errors
// raised by the harness side (queue_touch_at) carry the last request's seq
// (0 before the first) and thread 0.
struct ProtocolError {
    uint64_t seq = 0;
    uint32_t thread = 0;
    std::string detail;
};

// A refusal rule for one control code. A rule refuses every request it
// matches, or only the next `times` of them when times > 0 (then it is used
// up); `always` refuses without limit whatever `times` says. Filters:
// `index` matches REQ_GET_TOUCHSCREEN with that enumeration index only (no
// other code), `touchscreen` matches requests whose wTouchscreen is that
// identifier. A rule with no filter, `always` false and `times` 0 does
// nothing. A rule with a `position` (from 1) refuses the request the driver
// handles in that position, whatever its code, and with `onward` every later
// one too; its other fields are then not looked at.
struct Refusal {
    bool always = false;
    int times = 0;
    int index = -1;
    int touchscreen = -1;
    uint64_t position = 0;
    bool onward = false;
};

struct MonitorRect {
    int32_t monitor = 0, top = 0, left = 0, bottom = 0, right = 0;
};

struct Pixel {
    int32_t x = 0, y = 0;
};

// Where the driver puts a touch at (u, v), 0..1 across the touchscreen, when
// `rect` is the monitor rectangle it last received for it: u = 0 the left
// edge and 1 the last pixel column; likewise v from top to bottom.
Pixel touch_pixel(const MonitorRect& rect, double u, double v);

// A change bracket that a program thread has open.
struct OpenBracket {
    uint32_t thread = 0;
    int32_t touchscreen = 0;
    bool given_up = false;  // a request inside it was refused
};

struct Model;   // orvane/model.h
struct Screen;  // orvane/model.h
struct Call;    // orvane/model.h

class Driver {
public:
    explicit Driver(Host& host);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // The device: DeviceIoControl on the calling program thread, never under
    // a machine lock. Returns what DeviceIoControl returns.
    bool ioctl(uint32_t thread_id, uint32_t code, void* in, uint32_t in_size, void* out, uint32_t out_size,
               uint32_t* bytes_returned);

    // ---- configuration and stimuli (harness side)

    // Adds a touchscreen; returns its identifier, which is its index.
    int add_touchscreen(const TouchscreenConfig& config);
    int touchscreen_count() const;
    // Queues a packet in desktop pixels and signals the touchscreen's packet
    // event, if one is handed over. Throws std::out_of_range for an unknown
    // touchscreen.
    void queue_packet(int touchscreen, int32_t x, int32_t y, uint32_t flags);
    // Queues a touch at (u, v), 0..1 across the touchscreen, mapped onto the
    // monitor rectangle last received for it (u = 0 the left edge, 1 the last
    // pixel column; likewise v from top to bottom). Returns false, and
    // records a protocol error, when no rectangle was received.
    bool queue_touch_at(int touchscreen, double u, double v, uint32_t flags);
    // Stores new quick-touch thresholds and signals the touchscreen's
    // quick-touch event, if one is handed over.
    void set_quick_touch(int touchscreen, int32_t dx, int32_t dy);
    // Signal the program-wide events; false when none is handed over.
    bool signal_add_monitor();
    bool signal_remove_devices();

    // Replaces what a successful request returns, for hostile-driver tests:
    // called on the program thread, outside the driver's lock, after the
    // answer is in the output buffer and before DeviceIoControl returns; it
    // may rewrite those `size` bytes. Empty: none.
    void set_reply_filter(std::function<void(uint32_t code, void* out, uint32_t size)> filter);
    // Whether each REQ_GET_TOUCH gives up the rest of its time slice inside
    // the driver, so that a second, unserialised read can catch up with it
    // and be caught. On by default; the benchmarks turn it off, as it is a
    // check of the tests and no work of a driver.
    void set_read_yield(bool on) { read_yield_.store(on); }

    // Refusals: rules add up; clear_refusals() drops them all.
    void refuse(uint32_t code, Refusal r);
    void clear_refusals();

    // The process that handed over the ring-0 handles `ring0_handles` has
    // ended (`process` names it). Every one of them the driver still holds
    // as a registered event is a protocol error: the driver would signal an
    // event of a process that no longer exists. Quick-touch events are left
    // out: no request of the protocol withdraws one. So is an event whose
    // withdrawal (REQ_CLEAR_EVENT) the driver itself refused: the process
    // did what it could. The driver keeps
    // holding them all, as the real one would. Returns the errors recorded.
    std::vector<ProtocolError> process_ended(const std::string& process, const std::vector<uint32_t>& ring0_handles);
    // Every event the driver holds, described ("add-monitor event 0x...",
    // "packet event 0x... of touchscreen 1", ...), for reports.
    std::vector<std::string> held_events() const;

    // ---- observation

    std::vector<Request> requests() const;
    std::vector<Request> requests(uint32_t code) const;
    std::vector<ProtocolError> errors() const;
    void clear_log();  // forgets recorded requests and errors
    // Called after each request and each error (a request's errors after the
    // request itself), outside the driver's lock; either may be empty.
    void set_observer(std::function<void(const Request&)> on_request,
                      std::function<void(const ProtocolError&)> on_error);

    // ---- state

    std::optional<MonitorRect> monitor_rect(int touchscreen) const;  // last REQ_SET_MONITOR_RECT
    std::optional<int32_t> monitor_number(int touchscreen) const;   // last REQ_SET_MONITOR_NUMBER
    uint32_t xy_event(int touchscreen) const;                       // 0 when none is handed over
    uint32_t quick_touch_event(int touchscreen) const;              // 0 when none is handed over
    uint32_t add_monitor_event() const;
    uint32_t remove_devices_event() const;
    size_t queued_packets(int touchscreen) const;
    std::vector<OpenBracket> open_brackets() const;

private:
    struct Rule {
        uint32_t code;
        Refusal r;
    };

    Screen& screen_locked(int touchscreen);  // throws std::out_of_range
    const Screen& screen_locked(int touchscreen) const;
    bool refused_locked(uint32_t code, int32_t touchscreen);
    void handle_locked(Call& c);
    void notify(const std::vector<Request>& reqs, const std::vector<ProtocolError>& errs);

    Host& host_;
    mutable Lock mu_;
    std::unique_ptr<Model> model_;  // what the requests work on
    std::vector<Rule> rules_;
    std::vector<Request> log_;
    std::vector<ProtocolError> errors_;
    uint64_t seq_ = 0;
    std::function<void(const Request&)> on_request_;
    std::function<void(const ProtocolError&)> on_error_;
    std::function<void(uint32_t, void*, uint32_t)> reply_filter_;
    std::atomic<int> touch_reads_{0};  // REQ_GET_TOUCH calls inside the driver
    std::atomic<bool> read_yield_{true};
};

}  // namespace sim::orvane
