// The simulated machine's registry: a tree of keys under the predefined root
// keys, each key holding named values of a type and raw bytes.
//
// Key and value names compare without regard to letter case; a key or value
// keeps the spelling it was given first. Paths are sub-key names separated by
// single backslashes, e.g. "SYSTEM\CurrentControlSet\Services\Class\RykTouchscreen".
//
// Two sides use it: the harness (tests, scenarios) sets up and reads keys
// and values directly by root and path; the Win32 functions of api_registry.cpp
// go through the reg_* operations below, which work on HKEY handles, check the
// access rights held by a handle and return Win32 error codes.
//
// A key can be made read-only for the user of the machine: the user may read
// it but neither open it for writing nor create sub-keys under it, as an
// ordinary user under Windows NT faces with keys under HKEY_LOCAL_MACHINE.
//
// Every member is safe to call from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace sim {

// Win32 codes the registry returns that win32_api.h does not name.
inline constexpr LONG kErrorBadPathname = 161;  // ERROR_BAD_PATHNAME
inline constexpr LONG kErrorNoAccess = 998;     // ERROR_NOACCESS
inline constexpr DWORD kRegCreatedNewKey = 1;   // REG_CREATED_NEW_KEY
inline constexpr DWORD kRegOpenedExistingKey = 2;  // REG_OPENED_EXISTING_KEY

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    bool operator==(const RegValue&) const = default;
};

class Registry {
public:
    Registry();
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // ------------------------------------------------------------ harness
    // `root` is one of HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
    // HKEY_LOCAL_MACHINE, HKEY_USERS (anything else throws
    // std::invalid_argument). Leading, trailing and doubled backslashes in
    // `path` are ignored; an empty path names the root key itself. An empty
    // value name is the key's default value.

    // Creates the key and any missing key on the way.
    void create_key(HKEY root, const std::string& path);
    // Stores `bytes` as they are, creating keys on the way. Read-only keys do
    // not stop the harness.
    void set_value(HKEY root, const std::string& path, const std::string& name, DWORD type,
                   std::vector<BYTE> bytes);
    void set_dword(HKEY root, const std::string& path, const std::string& name, DWORD value);
    // REG_SZ holding `text` followed by its terminating NUL.
    void set_string(HKEY root, const std::string& path, const std::string& name, const std::string& text);
    void set_binary(HKEY root, const std::string& path, const std::string& name, std::vector<BYTE> bytes);
    // Creates the key when missing. Handles opened before keep their rights.
    void set_read_only(HKEY root, const std::string& path, bool read_only);

    bool key_exists(HKEY root, const std::string& path) const;
    std::optional<RegValue> get_value(HKEY root, const std::string& path, const std::string& name) const;
    // The value when it is a REG_DWORD of exactly 4 bytes.
    std::optional<DWORD> get_dword(HKEY root, const std::string& path, const std::string& name) const;
    // The text of a REG_SZ up to its first NUL.
    std::optional<std::string> get_string(HKEY root, const std::string& path, const std::string& name) const;
    // False when there was no such value.
    bool remove_value(HKEY root, const std::string& path, const std::string& name);
    // Names as stored (first spelling), in case-insensitive order. Empty for a
    // missing key.
    std::vector<std::string> subkey_names(HKEY root, const std::string& path) const;
    std::vector<std::string> value_names(HKEY root, const std::string& path) const;

    // Handles opened by the programs and not closed yet, as the paths they
    // were opened with (see handle_path), in the order they were opened.
    std::vector<std::string> open_handles() const;

    // ------------------------------------------------------------ the programs' side
    enum class HandleState {
        root,     // a predefined root key: valid without opening
        open,     // returned by reg_open or reg_create and not closed
        closed,   // returned earlier and closed since
        invalid,  // anything else, NULL included
    };
    HandleState handle_state(HKEY key) const;
    // The key's path under its root as the program opened it, with single
    // backslashes; roots other than HKEY_LOCAL_MACHINE are named in front
    // ("HKEY_CURRENT_USER\Software\Ryk"). Empty optional for a handle that
    // is not open and not a root.
    std::optional<std::string> handle_path(HKEY key) const;

    // RegOpenKeyExA: opens an existing key only. A NULL or empty sub-key
    // gives `parent` itself for a root key, a new handle to the same key
    // otherwise.
    LONG reg_open(HKEY parent, const char* sub_key, REGSAM sam, HKEY* result);
    // RegCreateKeyExA: opens the key, creating it and any missing key on the
    // way. `disposition` may be NULL.
    LONG reg_create(HKEY parent, const char* sub_key, REGSAM sam, HKEY* result, DWORD* disposition);
    // RegQueryValueExA without lpReserved.
    LONG reg_query(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* cb_data) const;
    // RegSetValueExA. On success `written_path` (may be NULL) receives the
    // handle's path as handle_path gives it.
    LONG reg_set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD cb_data,
                 std::string* written_path);
    LONG reg_delete_value(HKEY key, const char* name);
    LONG reg_close(HKEY key);

    // First handle value given out; every later one is 4 higher. Handle
    // values are never given out twice.
    static constexpr uintptr_t kFirstHandle = 0x70000000u;

private:
    struct Key;
    struct Handle {
        Key* key = nullptr;
        std::string path;  // as handle_path gives it
        DWORD access = 0;  // rights granted at opening
        bool closed = false;
    };
    // What an HKEY stands for while mu_ is held.
    struct Target {
        Key* key = nullptr;
        std::string path;
        DWORD access = 0;
        bool is_root = false;
    };

    Key& root_key(HKEY root) const;  // throws for a non-root
    Key* find_key(HKEY root, const std::string& path) const;
    Key& make_key(HKEY root, const std::string& path);
    bool resolve(HKEY key, Target* out) const;  // under mu_
    LONG open_or_create(HKEY parent, const char* sub_key, REGSAM sam, bool create, HKEY* result,
                        DWORD* disposition);
    HKEY new_handle(Key* key, std::string path, DWORD access);

    mutable std::mutex mu_;
    std::map<uintptr_t, std::unique_ptr<Key>> roots_;
    std::map<uintptr_t, Handle> handles_;
    uintptr_t next_handle_ = kFirstHandle;
};

}  // namespace sim
