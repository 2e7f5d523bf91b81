// The test driver's benchmark feeder (scripts/bench, Wine section): inside the
// process that serves the driver, a feeder thread queues move packets to
// every touchscreen at a given rate and a low-level mouse hook stamps the
// mouse input they cause, so that the time from the driver's SetEvent to the
// input a hook sees is measured the same way for any program that reads the
// driver (RykXyLdr.exe, or the bare program of bench/wine).
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

#include "orvane/driver.h"

namespace ryk_wine {

// The control pipe's bench commands (the answer starts with "ok" or "err"):
//   bench_start HZ SECONDS WARMUP_MS FILE   feeds every touchscreen for SECONDS
//   bench_result                            waits for the feed's end; the
//                                           latencies (us, after the warm-up)
//                                           go to FILE, one a line
//   bench_stats                             the process's handle count
// `module` is the DLL's own handle, for the hook. Returns an empty string for
// a command that is not one of these.
std::string bench_command(sim::orvane::Driver& driver, HMODULE module, const std::vector<std::string>& a);

// A REQ_GET_TOUCH of this process's program answered a packet of
// `touchscreen`: while a feed runs, its input is the next one the hook sees
// that no earlier read is waiting for.
void bench_packet_read(int touchscreen);

}  // namespace ryk_wine
