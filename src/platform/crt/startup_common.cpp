// Static constructors, atexit and the end of the process.
#include "platform/crt/crt.h"

// The constructor and destructor tables that the linker builds from .ctors
// and .dtors: a -1 (or a count), the functions, and a null at the end.
extern "C" void (*__CTOR_LIST__[])(void);
extern "C" void (*__DTOR_LIST__[])(void);

namespace {

// Enough for the few functions a program of ours registers; more are refused
// (atexit returns nonzero, as the C runtime's does when it is out of room).
constexpr int kMaxAtExit = 32;
void (*gapfnAtExit[kMaxAtExit])(void);
int gnAtExit = 0;
bool gbConstructed = false;

void RunDestructors() {
    for (void (**ppfn)(void) = __DTOR_LIST__ + 1; *ppfn != nullptr; ++ppfn) (*ppfn)();
}

}  // namespace

extern "C" int atexit(void (*pfn)(void)) {
    if (gnAtExit == kMaxAtExit) return -1;
    gapfnAtExit[gnAtExit++] = pfn;
    return 0;
}

extern "C" void __main(void) {
    if (gbConstructed) return;
    gbConstructed = true;
    int n = 0;
    while (__CTOR_LIST__[n + 1] != nullptr) ++n;
    // Last first, as the linker collects them in reverse order of definition.
    for (int i = n; i >= 1; --i) __CTOR_LIST__[i]();
    atexit(RunDestructors);
}

void RykExit(UINT uExitCode) {
    while (gnAtExit > 0) gapfnAtExit[--gnAtExit]();
    ExitProcess(uExitCode);
}

// Called through a class's virtual table slot that has no function.
extern "C" void __cxa_pure_virtual(void) { ExitProcess(kExitPureVirtual); }
