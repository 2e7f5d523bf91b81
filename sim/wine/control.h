// The client side of orvane.vxd's control pipe: one command line, one answer.
#pragma once

#include "platform/win32.h"

#include <string>

namespace ryk_wine {

// Sends `command` to the driver's control pipe `pipe` and returns its answer
// ("ok ..." or "err ..."), or text starting with "no answer". The driver's
// control thread starts with the program's first request, so the pipe may
// not be there yet: connecting is tried again for up to `patience_ms`. Once
// connected the command is sent once only, so that it is never played twice.
inline std::string control(const std::string& pipe, const std::string& command, DWORD patience_ms = 10000) {
    const DWORD start = GetTickCount();
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD err = 0;
    for (;;) {
        WaitNamedPipeA(pipe.c_str(), 200);
        h = CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) break;
        err = GetLastError();
        if (GetTickCount() - start >= patience_ms)
            return "no answer from " + pipe + " (error " + std::to_string(err) + ")";
        Sleep(10);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
    char out[4096];
    DWORD got = 0;
    const BOOL ok = TransactNamedPipe(h, const_cast<char*>(command.data()), static_cast<DWORD>(command.size()), out,
                                      sizeof out, &got, nullptr);
    err = GetLastError();
    CloseHandle(h);
    if (!ok) return "no answer from " + pipe + " to the command (error " + std::to_string(err) + ")";
    return std::string(out, got);
}

}  // namespace ryk_wine
