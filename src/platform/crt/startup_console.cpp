// The entry point of a console program: main with the command line split as
// the C runtime's start-up would split it.
#include "platform/crt/crt.h"
#include "platform/text.h"

// The program's main. C++ does not let a program call main, so it is reached
// under another name bound to main's symbol.
extern "C" int RykProgramMain(int argc, char** argv) __asm__("_main");

// Windows calls the entry point with a stack aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void RykConsoleStartup(void) {
    const char* const pszCommandLine = GetCommandLineA();
    size_t cch = 0;
    while (pszCommandLine[cch] != '\0') ++cch;
    // At most one argument per two characters, and the null after them.
    const int cArgs = static_cast<int>(cch / 2 + 2);
    HANDLE hHeap = GetProcessHeap();
    char* pchBuffer = static_cast<char*>(HeapAlloc(hHeap, 0, cch + 1));
    char** ppszArgs = static_cast<char**>(HeapAlloc(hHeap, 0, static_cast<size_t>(cArgs) * sizeof(char*)));
    if (pchBuffer == nullptr || ppszArgs == nullptr) ExitProcess(kExitNoMemory);
    const int argc = SplitCommandLine(pszCommandLine, pchBuffer, ppszArgs, cArgs);
    // main calls __main itself (the compiler puts the call in).
    RykExit(static_cast<UINT>(RykProgramMain(argc, ppszArgs)));
}
