// GoogleTest's own Notification class needs std::mutex and
// std::condition_variable, which MinGW's win32 thread model does not have.
// This one does the same with a Win32 event; GoogleTest takes it instead of
// its own when GTEST_HAS_NOTIFICATION_ is 1. Force-included (-include) into
// every GoogleTest translation unit of the Windows build.
#pragma once

#ifdef __cplusplus
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
#endif
