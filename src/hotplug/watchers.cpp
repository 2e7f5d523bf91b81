#include "hotplug/watchers.h"

HANDLE ghWatchersEndEvent = 0;
HANDLE ghAddMonDoneEvent = 0;

namespace {

// IsDebuggerPresent, looked up at run time: Windows 95 does not export it.
typedef BOOL(WINAPI* ISDEBUGGERPRESENT_PROC)();

}  // namespace

BOOL MakeWatchersEndEvent() {
    if (ghWatchersEndEvent == 0) ghWatchersEndEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    return ghWatchersEndEvent != 0 ? TRUE : FALSE;
}

void ReportFailedWait(DWORD dwError) {
    // Kept where a debugger looks at the break.
    volatile DWORD dwWaitError = dwError;
    (void)dwWaitError;
    HMODULE hKernel = GetModuleHandleA("KERNEL32");
    if (hKernel == NULL) return;
    FARPROC pfn = GetProcAddress(hKernel, "IsDebuggerPresent");
    if (pfn == NULL) return;
    ISDEBUGGERPRESENT_PROC pfnIsDebuggerPresent =
        reinterpret_cast<ISDEBUGGERPRESENT_PROC>(reinterpret_cast<void (*)()>(pfn));
    if (pfnIsDebuggerPresent()) DebugBreak();
}
