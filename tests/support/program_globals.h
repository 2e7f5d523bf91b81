// The program keeps its state in globals, as a Windows program that runs
// once per process does. Tests and benchmarks run it many times in one
// process: between runs, every global goes back to its state at process
// start.
#pragma once

namespace support {

// Deletes what the globals own and puts each back to its start value. The
// machine the program ran on must be gone first (no thread of the program
// left).
void ResetProgramGlobals();

}  // namespace support
