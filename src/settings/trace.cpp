#include "settings/trace.h"

#include <cstdarg>

#include "platform/text.h"

std::atomic<LONG> gbTrace{0};

namespace {

const char kPrefix[] = "RykXyLdr: ";

}  // namespace

void TraceLineUnchecked(const char* pszEvent, const char* pszFormat, ...) {
    char szLine[256];
    size_t cb = FormatText(szLine, sizeof szLine, "%s%s ", kPrefix, pszEvent);
    if (cb > sizeof szLine - 1) cb = sizeof szLine - 1;
    va_list args;
    va_start(args, pszFormat);
    cb += FormatTextV(szLine + cb, sizeof szLine - cb, pszFormat, args);
    va_end(args);
    // Room for the line break: a cut line loses its last character instead.
    if (cb > sizeof szLine - 2) cb = sizeof szLine - 2;
    szLine[cb] = '\n';
    szLine[cb + 1] = '\0';
    OutputDebugStringA(szLine);
}
