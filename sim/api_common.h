// What the Win32 functions of the simulated machine share: the way to the
// kernel and a call's lock and calling thread.
#pragma once

#include <cctype>
#include <string>

#include "kernel.h"
#include "machine.h"

namespace sim::api {

inline Kernel& K() { return Machine::current().kernel(); }

inline std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One Win32 call: holds the kernel lock for its lifetime and knows the
// calling thread, which it attaches on first use. A thread the machine is
// ending leaves here.
struct Call {
    Kernel& k;
    std::unique_lock<std::mutex> lk;
    Kernel::ThreadCtx* t;
    Call() : k(K()), lk(k.mu), t(k.self_locked()) { k.check_kill_locked(t); }
    void error(DWORD e) { t->last_error = e; }
};

}  // namespace sim::api
