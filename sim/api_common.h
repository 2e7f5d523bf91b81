// What the Win32 functions of the simulated machine share: the way to the
// kernel and a call's lock and calling thread.
#pragma once

#include <cctype>
#include <string>

#include "kernel.h"
#include "machine.h"
#include "text.h"

namespace sim::api {

inline Kernel& K() { return Machine::current().kernel(); }

using sim::lower;

// One Win32 call: holds the kernel lock for its lifetime and knows the
// calling thread, which it attaches on first use. A thread the machine is
// ending leaves here.
struct Call {
    Kernel& k;
    std::unique_lock<std::mutex> lk;
    Kernel::ThreadCtx* t;
    Call() : k(K()), lk(k.mu_), t(k.self_locked()) { k.check_kill_locked(t); }
    void error(DWORD e) { t->last_error = e; }
    // A call of `api` that can fail on Windows: true when the machine is to
    // fail it now (Machine::fail_call), with `e` as the thread's last error
    // and a `fail` event in the trace. The caller then returns its failure
    // value.
    bool fails(const char* api, DWORD e, bool set_last_error = true) {
        if (!k.fail_locked(t, api)) return false;
        if (set_last_error) error(e);
        Fields f = Fields::object();
        f["function"] = api;
        f["call"] = k.call_count_locked(api);
        f["error"] = e;
        f["thread"] = t->id;
        k.machine().trace().add("fail", f);
        return true;
    }
};

// The same for a function that does not hold a call's lock itself. The
// registry's functions return their error instead of setting it
// (set_last_error false).
inline bool fails_on_cue(const char* api, DWORD e, bool set_last_error = true) {
    Call c;
    return c.fails(api, e, set_last_error);
}

// OpenEventA, OpenMutexA: a new handle of the named object of that kind, or
// nullptr with the error Windows gives (no name, no such object, an object
// of another kind).
inline HANDLE open_named(Call& c, LPCSTR name, Kernel::Kind kind) {
    if (!name) {
        c.error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto obj = c.k.find_named_locked(name);
    if (!obj) {
        c.error(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (obj->kind != kind) {
        c.error(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return c.k.new_handle_locked(obj);  // opening a mutex does not take it
}

// The device context that BeginPaint gives for window `h`, and back.
inline constexpr uintptr_t kPaintDc = 0x40000000;
inline HDC paint_dc(HWND h) { return reinterpret_cast<HDC>(reinterpret_cast<uintptr_t>(h) + kPaintDc); }
inline HWND paint_window(HDC dc) { return reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(dc) - kPaintDc); }

}  // namespace sim::api
