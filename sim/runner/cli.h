// The command line of rykxy-sim:
//
//   rykxy-sim [--trace FILE] [--svg FILE] [--quiet] [--expect-exit N] [--expect-clean] SCENARIO
//
// Exit status: 0 when the scenario ran and the expectations hold (whatever
// the program's own exit code); 1 when an expectation failed (also one of a
// `tool` step); 2 when the
// scenario file cannot be read or an output file cannot be written; CLI11's
// codes for a wrong command line.
#pragma once

#include "play.h"

namespace runner {

int run_command_line(int argc, char** argv, const ProgramMain& program);
// The same, with the tools that `tool` steps run.
int run_command_line(int argc, char** argv, const ProgramMain& program, const Tools& tools);

}  // namespace runner
