// Many threads under Wine, as RykXyLdr runs them with many touchscreens: 70
// workers wait on an event each, wake, take one shared critical section and
// post a message to the main thread's GetMessage loop, which wakes the worker
// again. It runs for a number of seconds (first argument, default 30); then
// every count must agree: the messages the loop got, the rounds each worker
// made and the rounds counted under the critical section. Before that, 300
// access violations are raised and mended by a vectored exception handler,
// which Wine must be able to deliver as on Windows. A fault or a missing
// round ends the program with a non-zero exit code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kWorkers = 70;
constexpr UINT kRound = WM_APP + 1;

struct Worker {
    HANDLE thread = nullptr;
    HANDLE wake = nullptr;
    long rounds = 0;  // written by the worker only
};

Worker workers[kWorkers];
CRITICAL_SECTION shared;
long shared_rounds = 0;  // under `shared`
long last_worker = -1;   // under `shared`: who took it last
volatile LONG stop = 0;
HWND loop_window = nullptr;

DWORD WINAPI work(LPVOID param)
{
    const int index = static_cast<int>(reinterpret_cast<INT_PTR>(param));
    Worker& self = workers[index];
    for (;;) {
        if (WaitForSingleObject(self.wake, INFINITE) != WAIT_OBJECT_0)
            return 2;
        if (InterlockedCompareExchange(&stop, 0, 0))
            return 0;
        EnterCriticalSection(&shared);
        ++shared_rounds;
        last_worker = index;
        LeaveCriticalSection(&shared);
        ++self.rounds;
        if (!PostMessageA(loop_window, kRound, static_cast<WPARAM>(index), self.rounds))
            return 3;
    }
}

// The access violations: the page is made readable and writable again and
// the write is retried.
char* fault_page = nullptr;
volatile LONG faults_mended = 0;

LONG CALLBACK mend_fault(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    char* address = reinterpret_cast<char*>(record->ExceptionInformation[1]);
    if (address < fault_page || address >= fault_page + 4096 || record->ExceptionInformation[0] != 1)
        return EXCEPTION_CONTINUE_SEARCH;
    DWORD old = 0;
    if (!VirtualProtect(fault_page, 4096, PAGE_READWRITE, &old))
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&faults_mended);
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool access_violations(int count)
{
    fault_page = static_cast<char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!fault_page)
        return false;
    PVOID handler = AddVectoredExceptionHandler(1, mend_fault);
    if (!handler)
        return false;
    for (int i = 0; i < count; ++i) {
        DWORD old = 0;
        if (!VirtualProtect(fault_page, 4096, PAGE_READONLY, &old))
            return false;
        *reinterpret_cast<volatile int*>(fault_page + (i % 1024) * 4) = i;
    }
    RemoveVectoredExceptionHandler(handler);
    const bool ok = faults_mended == count;
    std::printf("access violations: %d raised, %ld mended\n", count, static_cast<long>(faults_mended));
    VirtualFree(fault_page, 0, MEM_RELEASE);
    return ok;
}

LONG WINAPI report_fault(EXCEPTION_POINTERS* info)
{
    std::printf("FAULT: exception 0x%08lx at %p\n", static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                info->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    ExitProcess(4);
}

}  // namespace

int main(int argc, char** argv)
{
    SetUnhandledExceptionFilter(report_fault);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    if (seconds <= 0) {
        std::printf("usage: threads_test [SECONDS]\n");
        return 64;
    }
    if (!access_violations(300))
        return 1;
    std::fflush(stdout);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RykThreadsTest";
    if (!RegisterClassA(&wc))
        return 1;
    loop_window = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    if (!loop_window)
        return 1;
    InitializeCriticalSection(&shared);

    const DWORD begun = GetTickCount();
    for (int i = 0; i < kWorkers; ++i) {
        workers[i].wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        DWORD id = 0;
        workers[i].thread = CreateThread(nullptr, 0, work, reinterpret_cast<LPVOID>(static_cast<INT_PTR>(i)), 0, &id);
        if (!workers[i].wake || !workers[i].thread) {
            std::printf("cannot start worker %d\n", i);
            return 1;
        }
    }
    std::printf("%d workers started in %lu ms\n", kWorkers, static_cast<unsigned long>(GetTickCount() - begun));
    std::fflush(stdout);
    // The run's end is checked at every message: WM_TIMER comes only when
    // the queue is empty, which with 70 busy workers it seldom is; the timer
    // only wakes the loop should every worker stop posting.
    SetTimer(loop_window, 1, 1000, nullptr);
    const DWORD loop_begun = GetTickCount();
    for (auto& w : workers)
        SetEvent(w.wake);

    long received = 0;
    long received_by[kWorkers] = {};
    bool consistent = true;
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            std::printf("GetMessage ended (%d)\n", static_cast<int>(got));
            return 1;
        }
        if (msg.message == kRound && msg.hwnd == loop_window) {
            const int index = static_cast<int>(msg.wParam);
            if (index < 0 || index >= kWorkers) {
                std::printf("a message from no worker (%d)\n", index);
                return 1;
            }
            ++received;
            // A worker's rounds arrive one by one, in order.
            if (msg.lParam != ++received_by[index])
                consistent = false;
            SetEvent(workers[index].wake);
        }
        if (GetTickCount() - loop_begun >= static_cast<DWORD>(seconds) * 1000u)
            break;
    }
    KillTimer(loop_window, 1);

    const DWORD stopping = GetTickCount();
    InterlockedExchange(&stop, 1);
    for (auto& w : workers)
        SetEvent(w.wake);
    for (auto& w : workers) {
        DWORD code = 1;
        if (WaitForSingleObject(w.thread, 30000) != WAIT_OBJECT_0 || !GetExitCodeThread(w.thread, &code) || code != 0) {
            std::printf("a worker did not end well (exit code %lu)\n", static_cast<unsigned long>(code));
            return 1;
        }
    }
    std::printf("workers ended in %lu ms\n", static_cast<unsigned long>(GetTickCount() - stopping));
    // The rounds posted before the stop and not yet taken out of the queue.
    while (PeekMessageA(&msg, loop_window, kRound, kRound, PM_REMOVE)) {
        const int index = static_cast<int>(msg.wParam);
        if (index >= 0 && index < kWorkers) {
            ++received;
            if (msg.lParam != ++received_by[index])
                consistent = false;
        }
    }

    long made = 0;
    int idle = 0;
    for (int i = 0; i < kWorkers; ++i) {
        made += workers[i].rounds;
        if (workers[i].rounds != received_by[i])
            consistent = false;
        if (workers[i].rounds == 0)
            ++idle;
    }
    std::printf("%d workers, %d s: %ld round trips, %ld rounds made, %ld counted under the lock, %d workers idle\n",
                kWorkers, seconds, received, made, shared_rounds, idle);
    if (!consistent || made != received || made != shared_rounds || idle != 0 || last_worker < 0) {
        std::printf("FAILED: the counts disagree\n");
        std::fflush(stdout);
        return 1;
    }
    std::printf("threads: all counts agree\n");
    std::fflush(stdout);
    DeleteCriticalSection(&shared);
    return 0;
}
