// Small helpers shared by the conformance tests. Everything here goes through
// the Win32 API only, so the same code runs on Windows, under Wine and on the
// simulated machine.
#pragma once

#include <functional>
#include <string>

#include "platform/win32.h"

namespace conformance {

// Owns a kernel handle and closes it when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : h_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (h_ != nullptr) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

// A name for kernel objects, window classes and messages that no other test
// and no other run of this program on the same machine uses.
std::string UniqueName(const std::string& stem);

// The ASCII text in capitals.
std::string UpperCase(std::string text);

// Starts `body` on a new thread made with CreateThread; the thread's exit code
// is the body's result. Returns the thread handle (NULL if CreateThread
// failed).
HANDLE StartThread(std::function<DWORD()> body);

// Runs `body` on a new thread and returns its result once the thread has
// ended. A new thread has a message queue of its own, so a test that reads
// messages there is not disturbed by anything an earlier test left behind.
DWORD CallOnNewThread(std::function<DWORD()> body);
void RunOnNewThread(std::function<void()> body);

// Names the cases of a parameterised test by their `label` field.
struct ParamLabel {
    template <typename Info>
    std::string operator()(const Info& param_info) const {
        return param_info.param.label;
    }
};

// Casts a GetProcAddress result to the function type it really has.
template <typename Fn>
Fn ProcAs(FARPROC p) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
}

}  // namespace conformance
