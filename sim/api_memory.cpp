// Memory on the simulated machine: the program allocates only through
// operator new(std::nothrow), which returns null when there is no memory.
// These replace the standard library's, so that an allocation can fail on
// cue (Machine::fail_call("new(nothrow)", ...), counted for the program's
// threads, or sim::fail_nothrow_allocation, for any thread); otherwise they
// allocate as the ordinary operator new does, and what they return is freed
// by the ordinary operator delete.
#include <atomic>
#include <new>

#include "kernel.h"
#include "machine.h"

namespace {

// Allocations that succeed before the one that fails, whatever thread makes
// them; -1: none fails this way.
std::atomic<int> g_nothrow_to_skip{-1};

bool skip_count_fails() {
    int n = g_nothrow_to_skip.load();
    while (n >= 0) {
        if (g_nothrow_to_skip.compare_exchange_weak(n, n - 1)) return n == 0;
    }
    return false;
}

bool allocation_fails() {
    if (skip_count_fails()) return true;
    sim::Machine* m = sim::Machine::current_or_null();
    return m != nullptr && m->kernel().allocation_fails();
}

}  // namespace

namespace sim {

void fail_nothrow_allocation(int skip) { g_nothrow_to_skip = skip; }

}  // namespace sim

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (allocation_fails()) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (allocation_fails()) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
