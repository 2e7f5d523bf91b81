// A small lock for the driver model, usable where std::mutex is not (MinGW's
// win32 thread model): a critical section on Windows, std::mutex elsewhere.
#pragma once

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <mutex>
#include <thread>
#endif

namespace sim::orvane {

class Lock {
public:
    Lock() {
#ifdef _WIN32
        InitializeCriticalSection(&cs_);
#endif
    }
    ~Lock() {
#ifdef _WIN32
        DeleteCriticalSection(&cs_);
#endif
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void lock() {
#ifdef _WIN32
        EnterCriticalSection(&cs_);
#else
        mu_.lock();
#endif
    }
    void unlock() {
#ifdef _WIN32
        LeaveCriticalSection(&cs_);
#else
        mu_.unlock();
#endif
    }

private:
#ifdef _WIN32
    CRITICAL_SECTION cs_;
#else
    std::mutex mu_;
#endif
};

class Guard {
public:
    explicit Guard(Lock& l) : l_(l) { l_.lock(); }
    ~Guard() { l_.unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    Lock& l_;
};

// Gives up the rest of the calling thread's time slice.
inline void yield_thread() {
#ifdef _WIN32
    Sleep(0);
#else
    std::this_thread::yield();
#endif
}

}  // namespace sim::orvane
