// Formats that FormatText and TraceLine must refuse when the program is
// compiled: each case is compiled on its own (RYK_CASE=N) by check.cmake,
// which expects case 0 to compile and every other case to fail, naming the
// reason (format_cases in tests/unit/CMakeLists.txt).
#include <cstddef>

#include "platform/text.h"
#include "settings/trace.h"

void Formats(char* sz, size_t cch) {
#if RYK_CASE == 0
    // What is implemented compiles.
    FormatText(sz, cch, "%d %i %u %x %X %c %s %p %%", 1, 2, 3u, 4u, 5u, 'c', "s", static_cast<void*>(sz));
    FormatText(sz, cch, "%-5d %05lu %08lX %.3s %-8.2s %hd %hu", 1, 2UL, 3UL, "abcd", "ef", 6, 7u);
    FormatText(sz, cch, "no conversion");
    TraceLine("event", "a=%ld b=%s", 1L, "b");
#elif RYK_CASE == 1
    FormatText(sz, cch, "%zu", cch);
#elif RYK_CASE == 2
    FormatText(sz, cch, "%lld", 1LL);
#elif RYK_CASE == 3
    FormatText(sz, cch, "%*d", 3, 4);
#elif RYK_CASE == 4
    FormatText(sz, cch, "%+d", 1);
#elif RYK_CASE == 5
    FormatText(sz, cch, "%f", 1.0);
#elif RYK_CASE == 6
    TraceLine("event", "%5.2d", 1);
#elif RYK_CASE == 7
    FormatText(sz, cch, "%ld", 1);
#elif RYK_CASE == 8
    FormatText(sz, cch, "%s", 1);
#elif RYK_CASE == 9
    FormatText(sz, cch, "%d %d", 1);
#elif RYK_CASE == 10
    TraceLine("event", "%d", 1, 2);
#endif
}
