// What the driver model knows about each control request, in one table: one
// row per request code of driver/protocol.h. Whatever depends on the kind of
// request (what is recorded, what is checked, which bracket it needs, how it
// is answered) is looked up here instead of being decided by its code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "driver/protocol.h"

namespace sim::orvane {

struct Model;
struct Call;

// A field of a request's layout, as the driver reads it for its records.
struct FieldLayout {
    const char* name;
    uint32_t offset;
    uint32_t width;  // 2 or 4
    bool is_signed;
};

// wTouchscreen, in every request's header; recorded first whenever the
// input holds it.
inline constexpr FieldLayout kTouchscreenField = {"wTouchscreen", offsetof(RequestHeader, wTouchscreen), 2,
                                                false};

// What the identifier in wTouchscreen must name.
enum class Target {
    touchscreen,          // a touchscreen the driver has
    touchscreen_or_zero,  // that, or 0, which also brackets the program-wide events
    program_wide,         // 0: the event belongs to no touchscreen
    enumeration_index,    // any index: past the last one is the end of the enumeration
    withdrawn_event,      // REQ_CLEAR_EVENT: with hEventR0 0 a touchscreen whose packet event
                          // is withdrawn, otherwise 0 for a program-wide event
};

// A field the program always sends with the same value.
struct FixedValue {
    FieldLayout field;
    int64_t value;
    bool in_hex;  // the error shows the values in hexadecimal
};

// What hEventR0 must hold.
enum class EventHandle {
    none,           // the request has no hEventR0
    ring0,          // a ring-0 handle; the request is not carried out without one
    ring0_or_zero,  // 0, or a ring-0 handle (reported, but the request still goes on)
};

// Where a request stands towards the change bracket of its own thread.
enum class BracketRule {
    opens,                     // REQ_BEGIN_CHANGE
    closes,                    // REQ_END_CHANGE
    inside_own,                // inside the bracket for the touchscreen it names
    inside_zero,               // inside the bracket for touchscreen 0, whatever it names
    inside_own_if_open,        // as inside_own, but it may also come without a bracket
    inside_own_unless_global,  // as inside_own when it names no event (hEventR0 0),
                               // without a bracket for a program-wide one
    outside,                   // a read: never inside a bracket of its own thread
    any,                       // inside or outside one, as it comes
};

// What the driver does with a request it carries out, or with one it was told
// to refuse: reads and changes the model, builds the reply in the call.
using Action = void (*)(Model& m, Call& c);

struct RequestFacts {
    uint32_t code;
    const char* name;         // the constant's name, as driver/protocol.h's RequestName() gives it
    uint32_t size;            // the buffer size in both directions, as RequestSize() gives it
    bool has_output = false;  // the driver writes a reply into the output buffer
    bool tagged = false;      // also carries wTag1 = REQ_TAG and dwReserved = 0
    Target target;
    EventHandle event = EventHandle::none;
    std::span<const FixedValue> fixed = {};
    BracketRule bracket;
    // The input fields recorded after wTouchscreen, in layout order.
    std::span<const FieldLayout> fields = {};
    // The reply fields recorded after them when the request succeeds with a
    // reply.
    std::span<const FieldLayout> reply_fields = {};
    Action answer;                // the request is carried out
    Action on_refusal = nullptr;  // what a refusal still loses or leaves behind
};

// The row for a control code; nullptr for a code the driver does not know.
const RequestFacts* FindRequest(uint32_t code);
// Every row, in the order of driver/protocol.h.
std::span<const RequestFacts> AllRequests();

}  // namespace sim::orvane
