// KERNEL32 system information of the simulated machine: the Windows version,
// the system directory, modules and their exports, debugger breaks.
#include <cstring>
#include <map>

#include "api_common.h"
#include "desktop.h"

using sim::Machine;
using sim::api::lower;

namespace {

struct VersionInfo {
    DWORD major, minor, build, platform;
    const char* csd;
};

VersionInfo version_of(sim::Windows w) {
    switch (w) {
    case sim::Windows::v95:
        return {4, 0, 0x040003B6, VER_PLATFORM_WIN32_WINDOWS, ""};
    case sim::Windows::v98:
        return {4, 10, 0x040A07CE, VER_PLATFORM_WIN32_WINDOWS, " A "};
    case sim::Windows::me:
        return {4, 90, 0x045A0BB8, VER_PLATFORM_WIN32_WINDOWS, " "};
    case sim::Windows::nt4:
        return {4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6"};
    case sim::Windows::w2000:
        return {5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"};
    case sim::Windows::xp:
        return {5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"};
    case sim::Windows::vista:
        return {6, 0, 6002, VER_PLATFORM_WIN32_NT, "Service Pack 2"};
    }
    return {4, 10, 1998, VER_PLATFORM_WIN32_WINDOWS, ""};
}

bool is_9x(sim::Windows w) { return w == sim::Windows::v95 || w == sim::Windows::v98 || w == sim::Windows::me; }

DWORD WINAPI OpenVxDHandleImpl(HANDLE h) {
    Machine& m = Machine::current();
    if (m.config().open_vxd_handle == sim::OpenVxd::returns_zero) return 0;
    return m.kernel().open_vxd_handle(h);
}

BOOL WINAPI IsDebuggerPresentImpl() { return Machine::current().config().debugger_attached ? TRUE : FALSE; }

// Module handles: fixed values that are never kernel handles.
const std::map<std::string, uintptr_t> kModules = {
    {"kernel32", 0x7FE00000}, {"user32", 0x7FD00000}, {"advapi32", 0x7FC00000}};

std::string module_key(LPCSTR name) {
    std::string s = lower(name);
    if (s.size() > 4 && s.compare(s.size() - 4, 4, ".dll") == 0) s.resize(s.size() - 4);
    return s;
}

template <typename F>
FARPROC fp(F* f) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

// An export of the simulated system: its implementation and whether the
// configured Windows version has it.
struct Export {
    FARPROC proc;
    bool (*present)(const sim::Config&);
};

bool always(const sim::Config&) { return true; }
bool has_open_vxd(const sim::Config& c) {
    switch (c.open_vxd_handle) {
    case sim::OpenVxd::exported:
    case sim::OpenVxd::returns_zero:
        return true;
    case sim::OpenVxd::missing:
        return false;
    case sim::OpenVxd::by_version:
        break;
    }
    return is_9x(c.windows);
}
bool has_multimon(const sim::Config& c) { return c.windows != sim::Windows::v95 && c.windows != sim::Windows::nt4; }
bool has_debugger_present(const sim::Config& c) { return c.windows != sim::Windows::v95; }

const std::map<std::string, std::map<std::string, Export>>& exports() {
    static const std::map<std::string, std::map<std::string, Export>> table = {
        {"kernel32",
         {
             {"OpenVxDHandle", {fp(&OpenVxDHandleImpl), has_open_vxd}},
             {"IsDebuggerPresent", {fp(&IsDebuggerPresentImpl), has_debugger_present}},
             {"CreateEventA", {fp(&CreateEventA), always}},
             {"SetEvent", {fp(&SetEvent), always}},
             {"CloseHandle", {fp(&CloseHandle), always}},
             {"GetVersionExA", {fp(&GetVersionExA), always}},
             {"DebugBreak", {fp(&DebugBreak), always}},
             // Present on NT only; a program for Windows 95 must not rely on them.
             {"SignalObjectAndWait", {nullptr, nullptr}},
             {"InitializeCriticalSectionAndSpinCount", {nullptr, nullptr}},
             {"TryEnterCriticalSection", {nullptr, nullptr}},
         }},
        {"user32",
         {
             {"EnumDisplayMonitors", {fp(&sim::EnumDisplayMonitorsImpl), has_multimon}},
             {"GetMonitorInfoA", {fp(&sim::GetMonitorInfoAImpl), has_multimon}},
             {"SetCursorPos", {fp(&SetCursorPos), always}},
             {"mouse_event", {fp(&mouse_event), always}},
         }},
        {"advapi32", {}},
    };
    return table;
}

}  // namespace

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (!lpVersionInformation || lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    VersionInfo v = version_of(Machine::current().config().windows);
    lpVersionInformation->dwMajorVersion = v.major;
    lpVersionInformation->dwMinorVersion = v.minor;
    lpVersionInformation->dwBuildNumber = v.build;
    lpVersionInformation->dwPlatformId = v.platform;
    std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
    std::strncpy(lpVersionInformation->szCSDVersion, v.csd, sizeof lpVersionInformation->szCSDVersion - 1);
    return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    const std::string& dir = Machine::current().config().system_directory;
    auto len = static_cast<UINT>(dir.size());
    if (!lpBuffer || uSize <= len) return len + 1;
    std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return len;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (!lpModuleName) return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));
    auto it = kModules.find(module_key(lpModuleName));
    if (it == kModules.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(it->second);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if ((reinterpret_cast<uintptr_t>(lpProcName) >> 16) == 0) sim::not_simulated("GetProcAddress by ordinal");
    std::string module;
    for (auto& [name, value] : kModules)
        if (reinterpret_cast<uintptr_t>(hModule) == value) module = name;
    if (module.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const auto& table = exports().at(module);
    auto it = table.find(lpProcName);
    if (it == table.end()) {
        // Names the simulated system does not know are not exports of it.
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (!it->second.proc || !it->second.present(Machine::current().config())) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return it->second.proc;
}

void WINAPI DebugBreak(void) {
    Machine& m = Machine::current();
    sim::Fields f = sim::Fields::object();
    f["thread"] = GetCurrentThreadId();
    f["debugger"] = m.config().debugger_attached;
    m.trace().add("debugbreak", f);
    if (!m.config().debugger_attached)
        m.report_misuse("DebugBreak without a debugger attached: the process would have been ended");
}

// The text goes to the machine's trace as it was given, with the thread that
// wrote it; a debugger or a debug-output viewer would show the same text. A
// null pointer writes nothing.
void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString == nullptr) return;
    Machine& m = Machine::current();
    sim::Fields f = sim::Fields::object();
    f["thread"] = GetCurrentThreadId();
    // ANSI text; the trace is UTF-8, so bytes above 0x7F are taken as Latin-1.
    std::string text;
    for (const char* p = lpOutputString; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    f["text"] = std::move(text);
    m.trace().add("debug_output", f);
}
