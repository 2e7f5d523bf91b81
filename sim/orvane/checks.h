// The protocol the driver model holds the program to: each check records what
// it finds as a protocol error of the request (Call::error), in the order the
// driver makes them. Whether a breach keeps the request from being carried
// out is for its answer to decide, from c.known and c.valid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orvane/model.h"

namespace sim::orvane {

// Packet reads are serialised: another REQ_GET_TOUCH must not be inside the
// driver at the same time.
void check_serialised_read(Call& c);

// A control code the driver knows. False when it does not: nothing more is
// checked or done.
bool check_code(Call& c);

// One buffer, as input and output, of the request's size exactly. False when
// the driver cannot carry the request out: the input is too short to hold
// the layout, or a request with a reply has no room for it.
bool check_buffers(Call& c);

// The header's tags, the fields with fixed values, the identifier and the
// event handle. Sets c.known and c.valid (whether the request can be carried
// out as asked).
void check_fields(const Model& m, Call& c);

// The change bracket rule, per program thread; opens and closes the
// thread's bracket for REQ_BEGIN_CHANGE and REQ_END_CHANGE.
void check_bracket(Model& m, Call& c);

// A request inside a bracket failed (refused, or unfit to be carried out):
// the program gives the bracket up, so it no longer covers later requests.
void give_up_bracket(Model& m, const Call& c);

// (handle, description) of every event the driver holds, as described in
// reports ("add-monitor event 0x...", "packet event 0x... of touchscreen 1").
std::vector<std::pair<uint32_t, std::string>> held_events(const Model& m);

// The process that handed over `ring0_handles` (named `process`) has ended:
// each of them that the driver still holds as a registered event, and that
// the process could have withdrawn, is an error. `seq` is the last request's.
std::vector<ProtocolError> check_process_ended(const Model& m, uint64_t seq, const std::string& process,
                                               const std::vector<uint32_t>& ring0_handles);

}  // namespace sim::orvane
