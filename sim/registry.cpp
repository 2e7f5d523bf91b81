#include "registry.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

// Access bits beyond the KEY_* rights of win32_api.h.
constexpr DWORD kDelete = 0x00010000;
constexpr DWORD kWriteDac = 0x00040000;
constexpr DWORD kWriteOwner = 0x00080000;
constexpr DWORD kKeyCreateLink = 0x0020;
constexpr DWORD kMaximumAllowed = 0x02000000;
constexpr DWORD kGenericRead = 0x80000000u;
constexpr DWORD kGenericWrite = 0x40000000u;
constexpr DWORD kGenericExecute = 0x20000000u;
constexpr DWORD kGenericAll = 0x10000000u;

// Rights that change a key; a read-only key grants none of them.
constexpr DWORD kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | kKeyCreateLink | kDelete | kWriteDac | kWriteOwner;

struct RootName {
    uintptr_t value;
    const char* prefix;  // in front of paths of handles under this root
};

uintptr_t handle_value(HKEY key) { return reinterpret_cast<uintptr_t>(key); }

const RootName* find_root_name(uintptr_t value) {
    static const RootName names[] = {
        {handle_value(HKEY_CLASSES_ROOT), "HKEY_CLASSES_ROOT"},
        {handle_value(HKEY_CURRENT_USER), "HKEY_CURRENT_USER"},
        {handle_value(HKEY_LOCAL_MACHINE), ""},
        {handle_value(HKEY_USERS), "HKEY_USERS"},
    };
    for (const auto& n : names)
        if (n.value == value) return &n;
    return nullptr;
}

std::string fold(const std::string& s) {
    std::string out = s;
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Sub-key names of a path; empty components (leading, trailing or doubled
// backslashes) are dropped.
std::vector<std::string> split_lenient(const std::string& path) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '\\') {
            if (!cur.empty()) parts.push_back(std::move(cur));
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) parts.push_back(std::move(cur));
    return parts;
}

// The sub-key argument of RegOpenKeyExA and RegCreateKeyExA. Windows NT
// refuses a path that starts with a backslash; trailing and doubled
// backslashes are passed over.
LONG split_api(const char* sub_key, std::vector<std::string>* parts) {
    parts->clear();
    if (sub_key == nullptr || sub_key[0] == '\0') return ERROR_SUCCESS;
    if (sub_key[0] == '\\') return kErrorBadPathname;
    *parts = split_lenient(sub_key);
    return ERROR_SUCCESS;
}

std::string join(const std::string& base, const std::vector<std::string>& parts) {
    std::string out = base;
    for (const auto& p : parts) {
        if (!out.empty()) out += '\\';
        out += p;
    }
    return out;
}

DWORD map_generic(DWORD sam) {
    DWORD out = sam & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (sam & kGenericRead) out |= KEY_READ;
    if (sam & kGenericWrite) out |= KEY_WRITE;
    if (sam & kGenericExecute) out |= KEY_READ;
    if (sam & kGenericAll) out |= KEY_ALL_ACCESS;
    return out;
}

}  // namespace

struct Registry::Key {
    struct Value {
        std::string name;  // first spelling
        RegValue value;
    };
    std::string name;  // first spelling
    bool read_only = false;
    std::map<std::string, std::unique_ptr<Key>> subkeys;  // by folded name
    std::map<std::string, Value> values;                  // by folded name

    Key* child(const std::string& n) const {
        auto it = subkeys.find(fold(n));
        return it == subkeys.end() ? nullptr : it->second.get();
    }
    Key& make_child(const std::string& n) {
        auto& slot = subkeys[fold(n)];
        if (!slot) {
            slot = std::make_unique<Key>();
            slot->name = n;
        }
        return *slot;
    }
    const Value* value(const std::string& n) const {
        auto it = values.find(fold(n));
        return it == values.end() ? nullptr : &it->second;
    }
    void set(const std::string& n, RegValue v) {
        auto& slot = values[fold(n)];
        if (slot.name.empty()) slot.name = n;
        slot.value = std::move(v);
    }
    // The rights a user asking for `sam` gets, or nothing when refused.
    std::optional<DWORD> grant(REGSAM sam) const {
        DWORD want = map_generic(sam);
        if (want & kMaximumAllowed) want = (want & ~kMaximumAllowed) | (read_only ? KEY_READ : KEY_ALL_ACCESS);
        if (read_only && (want & kWriteRights)) return std::nullopt;
        return want;
    }
    DWORD root_rights() const { return read_only ? (KEY_ALL_ACCESS & ~kWriteRights) : KEY_ALL_ACCESS; }
};

Registry::Registry() {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        auto key = std::make_unique<Key>();
        const RootName* n = find_root_name(handle_value(root));
        key->name = n->prefix[0] ? n->prefix : "HKEY_LOCAL_MACHINE";
        roots_[handle_value(root)] = std::move(key);
    }
}

Registry::~Registry() = default;

// ------------------------------------------------------------ harness

Registry::Key& Registry::root_key(HKEY root) const {
    auto it = roots_.find(handle_value(root));
    if (it == roots_.end()) throw std::invalid_argument("sim::Registry: not a root key");
    return *it->second;
}

Registry::Key* Registry::find_key(HKEY root, const std::string& path) const {
    Key* k = &root_key(root);
    for (const auto& part : split_lenient(path)) {
        k = k->child(part);
        if (!k) return nullptr;
    }
    return k;
}

Registry::Key& Registry::make_key(HKEY root, const std::string& path) {
    Key* k = &root_key(root);
    for (const auto& part : split_lenient(path)) k = &k->make_child(part);
    return *k;
}

void Registry::create_key(HKEY root, const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    make_key(root, path);
}

void Registry::set_value(HKEY root, const std::string& path, const std::string& name, DWORD type,
                         std::vector<BYTE> bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    make_key(root, path).set(name, RegValue{type, std::move(bytes)});
}

void Registry::set_dword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    std::vector<BYTE> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    set_value(root, path, name, REG_DWORD, std::move(bytes));
}

void Registry::set_string(HKEY root, const std::string& path, const std::string& name, const std::string& text) {
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    set_value(root, path, name, REG_SZ, std::move(bytes));
}

void Registry::set_binary(HKEY root, const std::string& path, const std::string& name, std::vector<BYTE> bytes) {
    set_value(root, path, name, REG_BINARY, std::move(bytes));
}

void Registry::set_read_only(HKEY root, const std::string& path, bool read_only) {
    std::lock_guard<std::mutex> lock(mu_);
    make_key(root, path).read_only = read_only;
}

bool Registry::key_exists(HKEY root, const std::string& path) const {
    std::lock_guard<std::mutex> lock(mu_);
    return find_key(root, path) != nullptr;
}

std::optional<RegValue> Registry::get_value(HKEY root, const std::string& path, const std::string& name) const {
    std::lock_guard<std::mutex> lock(mu_);
    const Key* k = find_key(root, path);
    if (!k) return std::nullopt;
    const Key::Value* v = k->value(name);
    if (!v) return std::nullopt;
    return v->value;
}

std::optional<DWORD> Registry::get_dword(HKEY root, const std::string& path, const std::string& name) const {
    auto v = get_value(root, path, name);
    if (!v || v->type != REG_DWORD || v->bytes.size() != sizeof(DWORD)) return std::nullopt;
    DWORD d = 0;
    std::memcpy(&d, v->bytes.data(), sizeof d);
    return d;
}

std::optional<std::string> Registry::get_string(HKEY root, const std::string& path, const std::string& name) const {
    auto v = get_value(root, path, name);
    if (!v || v->type != REG_SZ) return std::nullopt;
    auto end = std::find(v->bytes.begin(), v->bytes.end(), BYTE{0});
    return std::string(v->bytes.begin(), end);
}

bool Registry::remove_value(HKEY root, const std::string& path, const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    Key* k = find_key(root, path);
    return k && k->values.erase(fold(name)) > 0;
}

std::vector<std::string> Registry::subkey_names(HKEY root, const std::string& path) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::string> out;
    if (const Key* k = find_key(root, path))
        for (const auto& [folded, sub] : k->subkeys) out.push_back(sub->name);
    return out;
}

std::vector<std::string> Registry::value_names(HKEY root, const std::string& path) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::string> out;
    if (const Key* k = find_key(root, path))
        for (const auto& [folded, v] : k->values) out.push_back(v.name);
    return out;
}

std::vector<std::string> Registry::open_handles() const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::string> out;
    for (const auto& [value, h] : handles_)
        if (!h.closed) out.push_back(h.path);
    return out;
}

// ------------------------------------------------------------ the programs' side

bool Registry::resolve(HKEY key, Target* out) const {
    const uintptr_t v = handle_value(key);
    if (const RootName* n = find_root_name(v)) {
        out->key = roots_.at(v).get();
        out->path = n->prefix;
        out->access = out->key->root_rights();
        out->is_root = true;
        return true;
    }
    auto it = handles_.find(v);
    if (it == handles_.end() || it->second.closed) return false;
    out->key = it->second.key;
    out->path = it->second.path;
    out->access = it->second.access;
    out->is_root = false;
    return true;
}

Registry::HandleState Registry::handle_state(HKEY key) const {
    std::lock_guard<std::mutex> lock(mu_);
    const uintptr_t v = handle_value(key);
    if (find_root_name(v)) return HandleState::root;
    auto it = handles_.find(v);
    if (it == handles_.end()) return HandleState::invalid;
    return it->second.closed ? HandleState::closed : HandleState::open;
}

std::optional<std::string> Registry::handle_path(HKEY key) const {
    std::lock_guard<std::mutex> lock(mu_);
    Target t;
    if (!resolve(key, &t)) return std::nullopt;
    return t.path;
}

HKEY Registry::new_handle(Key* key, std::string path, DWORD access) {
    const uintptr_t v = next_handle_;
    next_handle_ += 4;
    handles_[v] = Handle{key, std::move(path), access, false};
    return reinterpret_cast<HKEY>(v);
}

LONG Registry::open_or_create(HKEY parent, const char* sub_key, REGSAM sam, bool create, HKEY* result,
                              DWORD* disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    if (create && sub_key == nullptr) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mu_);
    Target base;
    if (!resolve(parent, &base)) return ERROR_INVALID_HANDLE;
    std::vector<std::string> parts;
    if (LONG e = split_api(sub_key, &parts); e != ERROR_SUCCESS) {
        *result = nullptr;
        return e;
    }

    // Walk as far as the keys exist.
    Key* k = base.key;
    size_t found = 0;
    for (; found < parts.size(); ++found) {
        Key* next = k->child(parts[found]);
        if (!next) break;
        k = next;
    }

    bool created = false;
    if (found < parts.size()) {
        if (!create) {
            *result = nullptr;
            return ERROR_FILE_NOT_FOUND;
        }
        // A new sub-key needs the right to create sub-keys in its parent;
        // the keys created below it are the user's own.
        if (k->read_only) {
            *result = nullptr;
            return ERROR_ACCESS_DENIED;
        }
        for (; found < parts.size(); ++found) k = &k->make_child(parts[found]);
        created = true;
    }

    auto rights = k->grant(sam);
    if (!rights) {
        *result = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    if (!create && parts.empty() && base.is_root) {
        *result = parent;  // a root opens as itself
        return ERROR_SUCCESS;
    }
    *result = new_handle(k, join(base.path, parts), *rights);
    return ERROR_SUCCESS;
}

LONG Registry::reg_open(HKEY parent, const char* sub_key, REGSAM sam, HKEY* result) {
    return open_or_create(parent, sub_key, sam, false, result, nullptr);
}

LONG Registry::reg_create(HKEY parent, const char* sub_key, REGSAM sam, HKEY* result, DWORD* disposition) {
    return open_or_create(parent, sub_key, sam, true, result, disposition);
}

LONG Registry::reg_query(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* cb_data) const {
    std::lock_guard<std::mutex> lock(mu_);
    Target t;
    if (!resolve(key, &t)) return ERROR_INVALID_HANDLE;
    if (!(t.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (data != nullptr && cb_data == nullptr) return ERROR_INVALID_PARAMETER;
    const Key::Value* v = t.key->value(name ? name : "");
    if (!v) return ERROR_FILE_NOT_FOUND;
    const auto& bytes = v->value.bytes;
    const auto size = static_cast<DWORD>(bytes.size());
    if (type) *type = v->value.type;
    if (cb_data == nullptr) return ERROR_SUCCESS;
    if (data != nullptr) {
        if (*cb_data < size) {
            *cb_data = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(data, bytes.data(), size);
    }
    *cb_data = size;
    return ERROR_SUCCESS;
}

LONG Registry::reg_set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD cb_data,
                       std::string* written_path) {
    std::lock_guard<std::mutex> lock(mu_);
    Target t;
    if (!resolve(key, &t)) return ERROR_INVALID_HANDLE;
    if (!(t.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (data == nullptr && cb_data != 0) return kErrorNoAccess;
    std::vector<BYTE> bytes;
    if (cb_data) bytes.assign(data, data + cb_data);
    t.key->set(name ? name : "", RegValue{type, std::move(bytes)});
    if (written_path) *written_path = t.path;
    return ERROR_SUCCESS;
}

LONG Registry::reg_delete_value(HKEY key, const char* name) {
    std::lock_guard<std::mutex> lock(mu_);
    Target t;
    if (!resolve(key, &t)) return ERROR_INVALID_HANDLE;
    if (!(t.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return t.key->values.erase(fold(name ? name : "")) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG Registry::reg_close(HKEY key) {
    std::lock_guard<std::mutex> lock(mu_);
    const uintptr_t v = handle_value(key);
    if (find_root_name(v)) return ERROR_SUCCESS;
    auto it = handles_.find(v);
    if (it == handles_.end() || it->second.closed) return ERROR_INVALID_HANDLE;
    it->second.closed = true;
    return ERROR_SUCCESS;
}

}  // namespace sim
