// The one way program code reaches the Win32 API.
//
// On Windows this is <windows.h>. Elsewhere the same subset of the API is
// declared here with the same names, types and values, and implemented by the
// machine the program is linked with.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "win32_api.h"
#endif
