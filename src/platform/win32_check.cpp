// Compile-time checks that the Win32 types the program exchanges with Windows
// have their 32-bit Windows sizes in every build (driver/protocol.h holds the
// driver's layouts to theirs):
// the Windows build sees <windows.h>, the simulated build sees win32_api.h.
// A mismatch here would corrupt every structure passed to GetMonitorInfoA,
// GetVersionExA or DeviceIoControl. This file generates no code.
#include <cstddef>

#include "platform/win32.h"

static_assert(sizeof(DWORD) == 4, "DWORD is 32 bits");
static_assert(sizeof(LONG) == 4, "LONG is 32 bits");
static_assert(sizeof(RECT) == 16, "RECT is four LONGs");
static_assert(sizeof(MONITORINFO) == 40, "MONITORINFO is 40 bytes");
static_assert(offsetof(MONITORINFO, rcWork) == 20 && offsetof(MONITORINFO, dwFlags) == 36,
              "MONITORINFO field offsets");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(offsetof(OSVERSIONINFOA, szCSDVersion) == 20, "OSVERSIONINFOA field offsets");
