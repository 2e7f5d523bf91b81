// Memory on the simulated machine: the program allocates only through
// operator new(std::nothrow), which returns null when there is no memory.
// These replace the standard library's, so that an allocation can fail on
// cue (Machine::fail_call("new(nothrow)", ...)); otherwise they allocate as
// the ordinary operator new does, and what they return is freed by the
// ordinary operator delete.
#include <new>

#include "kernel.h"
#include "machine.h"

namespace {

bool allocation_fails() {
    sim::Machine* m = sim::Machine::current_or_null();
    return m != nullptr && m->kernel().allocation_fails();
}

}  // namespace

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
