// KERNEL32 functions of the simulated machine: errors, kernel objects, waits,
// threads, critical sections, processes and the driver device.
#include <algorithm>
#include <cstring>

#include "api_common.h"
#include "orvane/driver.h"

using sim::Kernel;
using sim::Machine;

using sim::api::Call;
using sim::api::K;
using sim::api::lower;

namespace {

HANDLE create_object(Kernel::Kind kind, const char* name, bool manual, bool initial_or_owner, const char* api) {
    Call c;
    if (c.fails(api, ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
    bool existed = false, wrong = false;
    auto obj = c.k.create_named_locked(kind, name, &existed, &wrong);
    if (wrong) {
        c.error(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!existed) {
        obj->manual = manual;
        if (kind == Kernel::Kind::Event) obj->signalled = initial_or_owner;
        if (kind == Kernel::Kind::Mutex && initial_or_owner) {
            obj->owner = c.t;
            obj->recursion = 1;
        }
    } else if (kind == Kernel::Kind::Mutex && initial_or_owner && (obj->owner == nullptr || obj->owner == c.t)) {
        // An existing mutex is not taken by CreateMutexA; only its handle is returned.
    }
    HANDLE h = c.k.new_handle_locked(obj);
    c.error(existed ? ERROR_ALREADY_EXISTS : 0);
    return h;
}

}  // namespace

// ------------------------------------------------------------------ errors

DWORD WINAPI GetLastError(void) { return K().get_error(); }
void WINAPI SetLastError(DWORD dwErrCode) { K().set_error(dwErrCode); }

// ------------------------------------------------------------------ events and mutexes

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
    return create_object(Kernel::Kind::Event, lpName, bManualReset != 0, bInitialState != 0, "CreateEventA");
}

HANDLE WINAPI OpenEventA(DWORD, BOOL, LPCSTR lpName) {
    Call c;
    if (c.fails("OpenEventA", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
    return sim::api::open_named(c, lpName, Kernel::Kind::Event);
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    Call c;
    auto obj = c.k.lookup_locked(hEvent, "SetEvent");
    if (!obj) return FALSE;
    if (obj->kind != Kernel::Kind::Event) {
        c.error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    obj->signalled = true;
    c.k.signal_locked(*obj);
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
    Call c;
    auto obj = c.k.lookup_locked(hEvent, "ResetEvent");
    if (!obj) return FALSE;
    if (obj->kind != Kernel::Kind::Event) {
        c.error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    obj->signalled = false;
    return TRUE;
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
    return create_object(Kernel::Kind::Mutex, lpName, false, bInitialOwner != 0, "CreateMutexA");
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    Call c;
    auto obj = c.k.lookup_locked(hMutex, "ReleaseMutex");
    if (!obj) return FALSE;
    if (obj->kind != Kernel::Kind::Mutex) {
        c.error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (obj->owner != c.t) {
        c.error(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--obj->recursion == 0) {
        obj->owner = nullptr;
        c.k.signal_locked(*obj);
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    Call c;
    auto v = reinterpret_cast<uintptr_t>(hObject);
    if (v == static_cast<uintptr_t>(-1) || v == static_cast<uintptr_t>(-2)) return TRUE;
    Kernel::ObjRef obj = c.k.close_handle_locked(v);
    if (!obj) {
        c.error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (obj->kind == Kernel::Kind::Device) Machine::current().trace().add("device_close");
    return TRUE;
}

// ------------------------------------------------------------------ waits

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
    Call c;
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        c.error(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<Kernel::ObjRef> objs;
    std::vector<uintptr_t> handles;
    for (DWORD i = 0; i < nCount; ++i) {
        auto obj = c.k.lookup_locked(lpHandles[i], "WaitForMultipleObjects");
        if (!obj) return WAIT_FAILED;
        if (obj->kind == Kernel::Kind::Device) {
            c.error(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objs.push_back(obj);
        handles.push_back(reinterpret_cast<uintptr_t>(lpHandles[i]));
    }
    return c.k.wait_locked(c.lk, c.t, std::move(objs), std::move(handles), bWaitAll != 0, dwMilliseconds);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    Call c;
    if (dwMilliseconds == 0) return;
    c.k.wait_locked(c.lk, c.t, {}, {}, false, dwMilliseconds);
}

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(K().now_us() / 1000); }

// ------------------------------------------------------------------ threads

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (dwCreationFlags & CREATE_SUSPENDED) sim::not_simulated("CreateThread with CREATE_SUSPENDED");
    Call c;
    if (c.fails("CreateThread", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
    if (!lpStartAddress) {
        c.error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Kernel::ThreadCtx* t = c.k.new_thread_locked(c.t->proc, "thread");
    t->stack_size = dwStackSize;
    HANDLE h = c.k.new_handle_locked(t->obj);
    if (lpThreadId) *lpThreadId = t->id;
    c.k.spawn_locked(t, [lpStartAddress, lpParameter] { return lpStartAddress(lpParameter); }, false);
    return h;
}

void WINAPI ExitThread(DWORD dwExitCode) {
    {
        Call c;
        if (!c.t->started) sim::not_simulated("ExitThread on a thread the machine did not start");
    }
    throw sim::ThreadExitRequest{dwExitCode};
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    Call c;
    auto obj = c.k.lookup_locked(hThread, "GetExitCodeThread");
    if (!obj || obj->kind != Kernel::Kind::Thread || !lpExitCode) {
        c.error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = obj->thread->exit_code;
    return TRUE;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
    Call c;
    if (c.fails("SetThreadPriority", ERROR_ACCESS_DENIED)) return FALSE;
    auto obj = c.k.lookup_locked(hThread, "SetThreadPriority");
    if (!obj || obj->kind != Kernel::Kind::Thread) {
        c.error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (nPriority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
        obj->thread->priority = nPriority;
        return TRUE;
    default:
        c.error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

int WINAPI GetThreadPriority(HANDLE hThread) {
    Call c;
    auto obj = c.k.lookup_locked(hThread, "GetThreadPriority");
    if (!obj || obj->kind != Kernel::Kind::Thread) {
        c.error(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    return obj->thread->priority;
}

DWORD WINAPI GetCurrentThreadId(void) {
    Call c;
    return c.t->id;
}

HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

// ------------------------------------------------------------------ critical sections

namespace {

uint64_t cs_id(LPCRITICAL_SECTION cs) { return reinterpret_cast<uintptr_t>(cs->DebugInfo); }

Kernel::ObjRef cs_lookup(Call& c, LPCRITICAL_SECTION cs, const char* api) {
    if (!cs) sim::not_simulated(std::string(api) + " with a null critical section");
    uint64_t id = cs_id(cs);
    if (auto obj = c.k.critsec_locked(id)) return obj;
    if (c.k.critsec_deleted_locked(id))
        c.k.machine().report_misuse(std::string(api) + ": critical section used after DeleteCriticalSection");
    else
        c.k.machine().report_misuse(std::string(api) + ": critical section was never initialised");
    return nullptr;
}

}  // namespace

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Call c;
    std::memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
    uint64_t id = c.k.new_critsec_locked();
    lpCriticalSection->DebugInfo = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
    lpCriticalSection->LockCount = -1;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Call c;
    auto obj = cs_lookup(c, lpCriticalSection, "EnterCriticalSection");
    if (!obj) return;
    c.k.wait_locked(c.lk, c.t, {obj}, {}, false, INFINITE);
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Call c;
    auto obj = cs_lookup(c, lpCriticalSection, "LeaveCriticalSection");
    if (!obj) return;
    if (obj->owner != c.t) {
        c.k.machine().report_misuse("LeaveCriticalSection by a thread that does not own it");
        return;
    }
    if (--obj->recursion == 0) {
        obj->owner = nullptr;
        c.k.signal_locked(*obj);
    }
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Call c;
    auto obj = cs_lookup(c, lpCriticalSection, "DeleteCriticalSection");
    if (!obj) return;
    if (obj->owner)
        c.k.machine().report_misuse("DeleteCriticalSection while thread " + std::to_string(obj->owner->id) +
                                    " (" + obj->owner->label + ") holds it");
    auto waiters = obj->waiters;
    for (auto* w : waiters) {
        c.k.machine().report_misuse("DeleteCriticalSection while thread " + std::to_string(w->t->id) +
                                    " waits to enter it");
        w->result = WAIT_FAILED;
        c.k.wake_locked(*w);
    }
    uint64_t id = cs_id(lpCriticalSection);
    c.k.delete_critsec_locked(id);
}

// ------------------------------------------------------------------ processes

namespace {

// The program named by a command line, as CreateProcessA searches for it:
// a quoted first token, or else ever longer space-separated prefixes.
const sim::ProgramSpec* find_program(Call& c, const std::string& cmd, std::string* path) {
    auto with_exe = [](std::string p) {
        auto slash = p.find_last_of('\\');
        auto dot = p.find_last_of('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) p += ".exe";
        return p;
    };
    if (!cmd.empty() && cmd[0] == '"') {
        auto end = cmd.find('"', 1);
        *path = with_exe(cmd.substr(1, end == std::string::npos ? std::string::npos : end - 1));
        return c.k.find_program_locked(*path);
    }
    size_t pos = 0;
    while (true) {
        size_t sp = cmd.find(' ', pos);
        std::string candidate = with_exe(cmd.substr(0, sp));
        if (auto* spec = c.k.find_program_locked(candidate)) {
            *path = candidate;
            return spec;
        }
        if (sp == std::string::npos) break;
        pos = sp + 1;
    }
    *path = with_exe(cmd.substr(0, cmd.find(' ')));
    return nullptr;
}

int run_program_spec(const sim::ProgramSpec& spec, const std::string& command_line) {
    if (spec.main) return spec.main(command_line);
    struct Action {
        int at;
        int what;  // 0 ready, 1 exit event
    };
    std::vector<Action> actions;
    if (spec.ready_after_ms >= 0) actions.push_back({spec.ready_after_ms, 0});
    if (spec.sets_exit_event_after_ms >= 0) actions.push_back({spec.sets_exit_event_after_ms, 1});
    std::stable_sort(actions.begin(), actions.end(), [](const Action& a, const Action& b) { return a.at < b.at; });
    int now = 0;
    bool finished = false;
    for (auto& a : actions) {
        if (a.at > now) Sleep(static_cast<DWORD>(a.at - now));
        now = std::max(now, a.at);
        if (a.what == 0) {
            Machine::current().kernel().set_input_idle_current();
        } else {
            HANDLE h = CreateEventA(nullptr, FALSE, FALSE, spec.exit_event.c_str());
            if (h) {
                SetEvent(h);
                CloseHandle(h);
            }
            finished = true;
        }
    }
    if (finished) return 0;
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(never, INFINITE);
    return 0;
}

}  // namespace

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    if (lpEnvironment) sim::not_simulated("CreateProcessA with an environment block");
    if (lpCurrentDirectory) sim::not_simulated("CreateProcessA with a current directory");
    if (dwCreationFlags & CREATE_SUSPENDED) sim::not_simulated("CreateProcessA with CREATE_SUSPENDED");
    std::string cmd = lpCommandLine ? lpCommandLine : "";
    Machine& m = Machine::current();
    sim::Fields f = sim::Fields::object();
    f["command_line"] = cmd;
    if (lpApplicationName) f["application"] = lpApplicationName;
    f["flags"] = dwCreationFlags;
    Call c;
    if (c.fails("CreateProcessA", ERROR_NOT_ENOUGH_MEMORY)) return FALSE;
    if (!lpStartupInfo || !lpProcessInformation) {
        c.error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string path;
    const sim::ProgramSpec* spec = nullptr;
    if (lpApplicationName) {
        path = lpApplicationName;
        spec = c.k.find_program_locked(path);
    } else {
        spec = find_program(c, cmd, &path);
    }
    f["ok"] = spec != nullptr;
    m.trace().add("launch", f);
    if (!spec) {
        // A named application in a folder that does not exist is a missing
        // path; the folders that exist are the system directory's and those
        // holding installed programs.
        bool folder_missing = false;
        if (lpApplicationName) {
            auto slash = path.find_last_of('\\');
            std::string folder = lower(slash == std::string::npos ? std::string() : path.substr(0, slash));
            folder_missing = !folder.empty() && folder.size() > 2 &&
                             folder != lower(m.config().system_directory) && !c.k.folder_has_program_locked(folder);
        }
        c.error(folder_missing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    sim::ProgramSpec copy = *spec;
    Kernel::Process* p = c.k.new_process_locked(path);
    p->command_line = cmd;
    p->console = copy.console;
    Kernel::ThreadCtx* t = c.k.new_thread_locked(p, path + " main");
    lpProcessInformation->hProcess = c.k.new_handle_locked(p->obj);
    lpProcessInformation->hThread = c.k.new_handle_locked(t->obj);
    lpProcessInformation->dwProcessId = p->id;
    lpProcessInformation->dwThreadId = t->id;
    c.k.spawn_locked(t, [copy, cmd] { return static_cast<DWORD>(run_program_spec(copy, cmd)); }, true);
    c.error(0);
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    Machine& m = Machine::current();
    bool self = false;
    {
        Call c;
        auto obj = c.k.lookup_locked(hProcess, "TerminateProcess");
        if (!obj || obj->kind != Kernel::Kind::Process) {
            c.error(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        Kernel::Process* p = obj->process;
        sim::Fields f = sim::Fields::object();
        f["process"] = p->name;
        f["exit_code"] = uExitCode;
        m.trace().add("terminate", f);
        if (p->ended) {
            c.error(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        self = p == c.t->proc;
        c.k.end_process_locked(p, uExitCode, false);
    }
    if (self) throw sim::ThreadKilled{};
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    Call c;
    auto obj = c.k.lookup_locked(hProcess, "GetExitCodeProcess");
    if (!obj || obj->kind != Kernel::Kind::Process || !lpExitCode) {
        c.error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = obj->process->exit_code;
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

DWORD WINAPI GetCurrentProcessId(void) {
    Call c;
    return c.t->proc->id;
}

BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass) {
    Call c;
    if (c.fails("SetPriorityClass", ERROR_ACCESS_DENIED)) return FALSE;
    auto obj = c.k.lookup_locked(hProcess, "SetPriorityClass");
    if (!obj || obj->kind != Kernel::Kind::Process) {
        c.error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (dwPriorityClass) {
    case NORMAL_PRIORITY_CLASS:
    case IDLE_PRIORITY_CLASS:
    case HIGH_PRIORITY_CLASS:
    case REALTIME_PRIORITY_CLASS:
        obj->process->priority_class = dwPriorityClass;
        return TRUE;
    default:
        c.error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

DWORD WINAPI GetPriorityClass(HANDLE hProcess) {
    Call c;
    auto obj = c.k.lookup_locked(hProcess, "GetPriorityClass");
    if (!obj || obj->kind != Kernel::Kind::Process) {
        c.error(ERROR_INVALID_HANDLE);
        return 0;
    }
    return obj->process->priority_class;
}

DWORD WINAPI WaitForInputIdle(HANDLE hProcess, DWORD dwMilliseconds) {
    Call c;
    auto obj = c.k.lookup_locked(hProcess, "WaitForInputIdle");
    if (!obj || obj->kind != Kernel::Kind::Process) {
        c.error(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    Kernel::Process* p = obj->process;
    if (p->ended) {
        c.error(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (p->console) {
        c.error(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    DWORD r = c.k.wait_locked(c.lk, c.t, {p->idle}, {reinterpret_cast<uintptr_t>(hProcess)}, false, dwMilliseconds);
    return r == WAIT_OBJECT_0 ? 0 : r;
}

// ------------------------------------------------------------------ the driver device

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    std::string name = lpFileName ? lpFileName : "";
    if (name.rfind("\\\\.\\", 0) != 0) sim::not_simulated("CreateFileA on a file (" + name + ")");
    if (sim::api::fails_on_cue("CreateFileA", ERROR_NOT_ENOUGH_MEMORY)) return INVALID_HANDLE_VALUE;
    Machine& m = Machine::current();
    bool present = m.config().driver && lower(name.substr(4)) == "orvane.vxd";
    sim::Fields f = sim::Fields::object();
    f["path"] = name;
    f["access"] = dwDesiredAccess;
    f["share"] = dwShareMode;
    f["disposition"] = dwCreationDisposition;
    f["flags"] = dwFlagsAndAttributes;
    f["ok"] = present;
    m.trace().add("device_open", f);
    Call c;
    if (!present) {
        c.error(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto obj = std::make_shared<Kernel::Object>();
    obj->kind = Kernel::Kind::Device;
    c.error(0);
    return c.k.new_handle_locked(obj);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped) {
    if (lpOverlapped) sim::not_simulated("DeviceIoControl with an OVERLAPPED structure");
    DWORD tid = 0;
    {
        Call c;
        auto obj = c.k.lookup_locked(hDevice, "DeviceIoControl");
        if (!obj) return FALSE;
        if (obj->kind != Kernel::Kind::Device) {
            c.error(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        tid = c.t->id;
    }
    uint32_t returned = 0;
    bool ok = Machine::current().driver().ioctl(tid, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                                nOutBufferSize, &returned);
    if (lpBytesReturned) *lpBytesReturned = returned;
    SetLastError(ok ? 0 : ERROR_GEN_FAILURE);
    return ok ? TRUE : FALSE;
}

