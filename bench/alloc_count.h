// The bench binary's counting allocator. Every operator new and delete of
// the process goes through it. The program's own allocations are told apart
// from everything else by their form: the program allocates only with
// `new (std::nothrow)`, while the simulated machine and the standard library
// use the throwing forms. Counting is off until switched on; a block counts
// against the figures it was counted in, whenever it is freed.
#pragma once

#include <cstdint>

namespace bench {

struct HeapFigures {
    int64_t program_bytes = 0;  // live blocks made with new (std::nothrow)
    int64_t program_blocks = 0;
    int64_t other_bytes = 0;    // live blocks made with the throwing forms
    int64_t other_blocks = 0;
};

void set_heap_counting(bool on);
HeapFigures heap_figures();

}  // namespace bench
