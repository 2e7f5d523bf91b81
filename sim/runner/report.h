// What the runner tells about a run: the readable timeline and summary on
// standard output, and the trace as JSON Lines.
#pragma once

#include <ostream>
#include <string>

#include "play.h"
#include "scenario.h"

namespace runner {

// One timeline line for an event, without its time, e.g.
// "ioctl REQ_SET_MONITOR_RECT  wTouchscreen=0 iMonitor=1 iTop=0 ...".
std::string event_text(const sim::TraceEvent& e);

// The scenario's machine in a few lines, then one line per event with its
// simulated time.
void write_timeline(std::ostream& out, const Scenario& sc, const RunResult& r);
// The exit code, the protocol errors and misuse (counted and listed), and
// counts of what the program did.
void write_summary(std::ostream& out, const RunResult& r);
// One JSON object per line and event: "ev" and "t_us" first, then the
// event's fields.
void write_jsonl(std::ostream& out, const RunResult& r);

// "Windows 98" and the like, for headings.
const char* windows_text(sim::Windows w);
// "(left,top)-(right,bottom)".
std::string rect_text(const RECT& r);

}  // namespace runner
