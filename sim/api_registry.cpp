// ADVAPI32 registry functions of the simulated machine. They act on the
// registry of Machine::current() and return their error code; none of them
// touches the thread's last error.
#include <cstdio>
#include <cstring>
#include <string>

#include "api_common.h"
#include "machine.h"
#include "registry.h"

namespace {

using sim::Machine;
using sim::Registry;

std::string handle_text(HKEY key) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(key)));
    return buf;
}

// Reports a registry handle that was closed already, or was never one, when
// `result` says the handle was refused. NULL is refused without a report: a
// program may well close the NULL that a failed open left behind.
LONG checked(const char* function, HKEY key, LONG result) {
    if (result != ERROR_INVALID_HANDLE || key == nullptr) return result;
    Machine& m = Machine::current();
    switch (m.registry().handle_state(key)) {
        case Registry::HandleState::closed:
            m.report_misuse(std::string(function) + ": registry handle " + handle_text(key) +
                            " used after RegCloseKey");
            break;
        case Registry::HandleState::invalid:
            m.report_misuse(std::string(function) + ": " + handle_text(key) + " is not a registry handle");
            break;
        default:
            break;
    }
    return result;
}

// Registry text is ANSI; the trace is JSON and so UTF-8. Bytes above 0x7F are
// taken as Latin-1.
std::string to_utf8(const char* text, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string to_utf8(const std::string& s) { return to_utf8(s.data(), s.size()); }

void trace_write(const std::string& path, const char* name, DWORD type, const BYTE* data, DWORD cb_data) {
    sim::Fields f = sim::Fields::object();
    f["key"] = to_utf8(path);
    f["name"] = to_utf8(name ? std::string(name) : std::string());
    switch (type) {
        case REG_DWORD: f["type"] = "REG_DWORD"; break;
        case REG_SZ: f["type"] = "REG_SZ"; break;
        case REG_BINARY: f["type"] = "REG_BINARY"; break;
        default: f["type"] = type; break;
    }
    if (type == REG_DWORD && cb_data == sizeof(DWORD)) {
        DWORD v = 0;
        std::memcpy(&v, data, sizeof v);
        f["value"] = v;
    } else if (type == REG_SZ) {
        size_t n = 0;
        while (n < cb_data && data[n] != 0) ++n;
        f["value"] = to_utf8(reinterpret_cast<const char*>(data), n);
    } else {
        sim::Fields bytes = sim::Fields::array();
        for (DWORD i = 0; i < cb_data; ++i) bytes.push_back(data[i]);
        f["value"] = std::move(bytes);
    }
    Machine::current().trace().add("regwrite", std::move(f));
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired, PHKEY phkResult) {
    if (sim::api::fails_on_cue("RegOpenKeyExA", ERROR_ACCESS_DENIED, false)) return ERROR_ACCESS_DENIED;
    return checked("RegOpenKeyExA", hKey,
                   Machine::current().registry().reg_open(hKey, lpSubKey, samDesired, phkResult));
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/, DWORD /*dwOptions*/,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
    if (sim::api::fails_on_cue("RegCreateKeyExA", ERROR_ACCESS_DENIED, false)) return ERROR_ACCESS_DENIED;
    return checked("RegCreateKeyExA", hKey,
                   Machine::current().registry().reg_create(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition));
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
    if (lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
    if (sim::api::fails_on_cue("RegQueryValueExA", ERROR_OUTOFMEMORY, false)) return ERROR_OUTOFMEMORY;
    return checked("RegQueryValueExA", hKey,
                   Machine::current().registry().reg_query(hKey, lpValueName, lpType, lpData, lpcbData));
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
    if (sim::api::fails_on_cue("RegSetValueExA", ERROR_ACCESS_DENIED, false)) return ERROR_ACCESS_DENIED;
    std::string path;
    LONG r = Machine::current().registry().reg_set(hKey, lpValueName, dwType, lpData, cbData, &path);
    if (r == ERROR_SUCCESS) trace_write(path, lpValueName, dwType, lpData, cbData);
    return checked("RegSetValueExA", hKey, r);
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    if (sim::api::fails_on_cue("RegDeleteValueA", ERROR_ACCESS_DENIED, false)) return ERROR_ACCESS_DENIED;
    return checked("RegDeleteValueA", hKey, Machine::current().registry().reg_delete_value(hKey, lpValueName));
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    return checked("RegCloseKey", hKey, Machine::current().registry().reg_close(hKey));
}
