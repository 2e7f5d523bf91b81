// The runtime of the Windows programs (src/platform/crt) under Wine, in a
// console program linked as RykXyCtl and RykXyProbe are, without a C
// runtime: main's arguments split from the command line, static constructors
// before main, atexit functions last first and then static destructors,
// operator new and delete, the string functions, and main's result as the
// exit code.
//
// Run with the arguments: plain "two words" quote"inside back\slash a\\b
// (Wine quotes them into the command line; the runtime must split them back).
// Exit code 0 when all holds: main returns 98, and the last static
// destructor turns that into 0 only when the atexit functions ran before it
// in the right order.
#include <cstring>
#include <new>

#include "platform/crt/crt.h"
#include "platform/text.h"

namespace {

int gnFailures = 0;
int gnConstructed = 0;
int gaAtExitOrder[2] = {0, 0};
int gnAtExitRuns = 0;
int gnMainResult = -1;

void Say(const char* pszText) {
    DWORD cb = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), pszText, static_cast<DWORD>(std::strlen(pszText)), &cb, nullptr);
}

void Check(bool bOk, const char* pszWhat) {
    char sz[256];
    FormatText(sz, sizeof sz, "%s: %s\r\n", bOk ? "ok" : "FAIL", pszWhat);
    Say(sz);
    if (!bOk) ++gnFailures;
}

struct Constructed {
    int iOrder;
    Constructed() : iOrder(++gnConstructed) {}
};
Constructed gFirst;
Constructed gSecond;

// Its destructor runs after every atexit function; it decides the exit code.
struct Last {
    ~Last() {
        const bool bOk = gnMainResult == 98 && gnAtExitRuns == 2 && gaAtExitOrder[0] == 2 && gaAtExitOrder[1] == 1;
        Say(bOk ? "ok: atexit functions last first, then static destructors\r\n"
                : "FAIL: atexit functions or static destructors out of order\r\n");
        ExitProcess(bOk ? 0 : 2);
    }
};
Last gLast;

void AtExit1() { gaAtExitOrder[gnAtExitRuns++] = 1; }
void AtExit2() { gaAtExitOrder[gnAtExitRuns++] = 2; }

bool Same(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// Through pointers the compiler cannot see through, so that the runtime's
// own functions run rather than the compiler's inline versions.
void* (*volatile gpfnMemmove)(void*, const void*, size_t) = std::memmove;
void* (*volatile gpfnMemcpy)(void*, const void*, size_t) = std::memcpy;
void* (*volatile gpfnMemset)(void*, int, size_t) = std::memset;
int (*volatile gpfnMemcmp)(const void*, const void*, size_t) = std::memcmp;
int (*volatile gpfnStrncmp)(const char*, const char*, size_t) = std::strncmp;

}  // namespace

extern "C" int atexit(void (*pfn)(void));

int main(int argc, char** argv) {
    Check(gFirst.iOrder == 1 && gSecond.iOrder == 2, "static constructors ran before main, in order");

    const char* const expected[] = {"plain", "two words", "quote\"inside", "back\\slash", "a\\\\b"};
    const int nExpected = static_cast<int>(sizeof expected / sizeof expected[0]);
    Check(argc == nExpected + 1, "argc counts the program and its five arguments");
    for (int i = 1; i < argc && i <= nExpected; ++i) {
        char sz[128];
        FormatText(sz, sizeof sz, "argv[%d] is [%s] (got [%s])", i, expected[i - 1], argv[i]);
        Check(Same(argv[i], expected[i - 1]), sz);
    }
    Check(argv[argc] == nullptr, "argv ends with a null pointer");

    // new and delete over the process heap.
    int* pn = new int[1000];
    for (int i = 0; i < 1000; ++i) pn[i] = i;
    Check(pn[999] == 999, "new int[1000] gives usable memory");
    delete[] pn;
    Check(new (std::nothrow) char[0x7FFFFFF0] == nullptr, "new (nothrow) of 2 GB gives a null pointer");
    auto* pc = new Constructed;
    Check(pc->iOrder == 3, "new runs the constructor");
    delete pc;

    // The string functions.
    char sz[16] = "abcdefgh";
    gpfnMemmove(sz + 2, sz, 6);
    Check(Same(sz, "ababcdef"), "memmove forwards over itself");
    gpfnMemmove(sz, sz + 2, 6);
    Check(Same(sz, "abcdefef"), "memmove backwards over itself");
    gpfnMemcpy(sz, "xyz", 3);
    gpfnMemset(sz + 3, '-', 2);
    Check(Same(sz, "xyz--fef"), "memcpy and memset");
    Check(gpfnMemcmp("ab\x80", "ab\x01", 3) > 0 && gpfnMemcmp("ab", "ab", 2) == 0, "memcmp compares unsigned bytes");
    Check(gpfnStrncmp("abcX", "abcY", 3) == 0 && gpfnStrncmp("ab", "abc", 5) < 0, "strncmp");

    atexit(AtExit1);
    atexit(AtExit2);
    gnMainResult = gnFailures == 0 ? 98 : 1;
    return gnMainResult;
}
