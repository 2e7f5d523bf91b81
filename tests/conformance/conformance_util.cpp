#include "conformance_util.h"

#include <atomic>
#include <memory>

namespace conformance {

std::string UniqueName(const std::string& stem) {
    static std::atomic<unsigned> serial{0};
    return "RykConformance." + stem + "." + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(serial.fetch_add(1) + 1);
}

std::string UpperCase(std::string text) {
    for (char& ch : text) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
    return text;
}

namespace {

DWORD WINAPI RunBody(LPVOID param) {
    std::unique_ptr<std::function<DWORD()>> body(static_cast<std::function<DWORD()>*>(param));
    return (*body)();
}

}  // namespace

HANDLE StartThread(std::function<DWORD()> body) {
    auto owned = std::make_unique<std::function<DWORD()>>(std::move(body));
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, RunBody, owned.get(), 0, &id);
    if (h != nullptr) owned.release();  // the thread owns it now
    return h;
}

DWORD CallOnNewThread(std::function<DWORD()> body) {
    Handle thread(StartThread(std::move(body)));
    if (!thread) return 0xFFFFFFFFu;
    WaitForSingleObject(thread.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread.get(), &code);
    return code;
}

void RunOnNewThread(std::function<void()> body) {
    CallOnNewThread([&body]() -> DWORD {
        body();
        return 0;
    });
}

}  // namespace conformance
