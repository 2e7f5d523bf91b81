// The live trace: when the setting "Trace" is 1, one line per event through
// OutputDebugStringA, which any debug-output viewer and any debugger show.
//
// Every line reads
//   RykXyLdr: EVENT name=value name=value ...
// with the event words of the simulated machine's trace (ioctl, cursor,
// mouse, broadcast, launch, display, ...) and the program's own (startup,
// settings, packet, hold, command, signal, worker), each line whole, so that
// grep finds an event by its word and a field by its name. Numbers are
// decimal, texts in double quotes.
//
// Off (the default), an event costs the one test of TraceOn(): callers write
//   if (TraceOn()) TraceLine("mouse", "flags=%lu dx=%ld dy=%ld", ...);
#pragma once

#include <atomic>

#include "platform/text.h"
#include "platform/win32.h"

// 1 while the trace is on. Written by the main thread when it reads the
// program's settings; read by every thread at each event.
extern std::atomic<LONG> gbTrace;

inline bool TraceOn() { return gbTrace.load(std::memory_order_relaxed) != 0; }

// Writes "RykXyLdr: " pszEvent, a space and the formatted fields (printf
// style), ending in a line break. A line longer than 255 characters is cut;
// it still ends with its line break. Thread-safe: each line is one call.
// The formats FormatText understands (platform/text.h).
// The format is checked as FormatText's is.
void TraceLineUnchecked(const char* pszEvent, const char* pszFormat, ...);
template <typename... Args>
void TraceLine(const char* pszEvent, ryk_format::FormatString<std::type_identity_t<Args>...> format, Args... args) {
    TraceLineUnchecked(pszEvent, format.psz, args...);
}
