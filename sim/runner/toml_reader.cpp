#include "toml_reader.h"

#include <algorithm>
#include <sstream>

namespace runner {

ScenarioError::ScenarioError(SourcePos pos, std::string key, std::string message)
    : std::runtime_error(pos.file + (pos.line > 0 ? ":" + std::to_string(pos.line) + ":" + std::to_string(pos.column) : "") +
                         ": " + (key.empty() ? std::string() : key + ": ") + message),
      pos_(std::move(pos)),
      key_(std::move(key)),
      message_(std::move(message)) {}

SourcePos pos_of(const toml::source_region& r, const std::string& file) {
    return SourcePos{file, static_cast<int>(r.begin.line), static_cast<int>(r.begin.column)};
}

bool before(const SourcePos& a, const SourcePos& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
}

const char* type_name(const toml::node& n) {
    switch (n.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a number with a fraction";
    case toml::node_type::boolean: return "true or false";
    case toml::node_type::date:
    case toml::node_type::time:
    case toml::node_type::date_time: return "a date or time";
    default: return "nothing";
    }
}

nlohmann::ordered_json to_json(const toml::node& n) {
    if (auto* t = n.as_table()) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        for (auto&& [k, v] : *t) j[std::string(k.str())] = to_json(v);
        return j;
    }
    if (auto* a = n.as_array()) {
        nlohmann::ordered_json j = nlohmann::ordered_json::array();
        for (auto& e : *a) j.push_back(to_json(e));
        return j;
    }
    if (auto v = n.value_exact<int64_t>()) return *v;
    if (auto v = n.value_exact<double>()) return *v;
    if (auto v = n.value_exact<bool>()) return *v;
    if (auto v = n.value_exact<std::string>()) return *v;
    std::ostringstream s;
    if (auto* d = n.as_date())
        s << *d;
    else if (auto* t = n.as_time())
        s << *t;
    else if (auto* dt = n.as_date_time())
        s << *dt;
    return s.str();
}

TableReader::TableReader(const toml::table& t, std::string path, const std::string& file)
    : t_(t), path_(std::move(path)), file_(file) {}

std::string TableReader::child(std::string_view key) const {
    return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
}

SourcePos TableReader::where() const { return pos_of(t_.source(), file_); }

SourcePos TableReader::key_pos(std::string_view key) const {
    for (auto&& [k, v] : t_)
        if (k.str() == key) return pos_of(k.source(), file_);
    return where();
}

void TableReader::fail(std::string_view key, const std::string& message) const {
    throw ScenarioError(key_pos(key), child(key), message);
}

void TableReader::fail_here(const std::string& message) const { throw ScenarioError(where(), path_, message); }

void TableReader::missing(std::string_view key, const std::string& what) const {
    fail_here("needs `" + std::string(key) + "` (" + what + ")");
}

void TableReader::fail_element(std::string_view key, size_t index, const toml::node& element,
                               const std::string& message) const {
    throw ScenarioError(pos_of(element.source(), file_), child(key) + "[" + std::to_string(index) + "]", message);
}

const toml::node* TableReader::find(std::string_view key) {
    known_.emplace_back(key);
    return t_.get(key);
}

std::optional<int64_t> TableReader::integer(std::string_view key, int64_t lo, int64_t hi) {
    const toml::node* n = find(key);
    if (!n) return std::nullopt;
    auto v = n->value_exact<int64_t>();
    if (!v) fail(key, std::string("must be an integer, not ") + type_name(*n));
    if (*v < lo || *v > hi)
        fail(key, "must be from " + std::to_string(lo) + " to " + std::to_string(hi) + ", not " + std::to_string(*v));
    return v;
}

int64_t TableReader::required_integer(std::string_view key, int64_t lo, int64_t hi) {
    auto v = integer(key, lo, hi);
    if (!v) missing(key, "an integer");
    return *v;
}

std::optional<bool> TableReader::boolean(std::string_view key) {
    const toml::node* n = find(key);
    if (!n) return std::nullopt;
    auto v = n->value_exact<bool>();
    if (!v) fail(key, std::string("must be true or false, not ") + type_name(*n));
    return v;
}

void TableReader::must_be_true(std::string_view key) {
    auto v = boolean(key);
    if (v && !*v) fail(key, "can only be true (leave the key out instead)");
}

std::optional<std::string> TableReader::string(std::string_view key) {
    const toml::node* n = find(key);
    if (!n) return std::nullopt;
    auto v = n->value_exact<std::string>();
    if (!v) fail(key, std::string("must be a string, not ") + type_name(*n));
    return v;
}

std::string TableReader::required_string(std::string_view key) {
    auto v = string(key);
    if (!v) missing(key, "a string");
    return *v;
}

const toml::table* TableReader::table(std::string_view key) {
    const toml::node* n = find(key);
    if (!n) return nullptr;
    if (!n->is_table()) fail(key, std::string("must be a table, not ") + type_name(*n));
    return n->as_table();
}

const toml::array* TableReader::array(std::string_view key) {
    const toml::node* n = find(key);
    if (!n) return nullptr;
    if (!n->is_array()) fail(key, std::string("must be an array, not ") + type_name(*n));
    return n->as_array();
}

std::optional<TableReader> TableReader::sub(std::string_view key) {
    const toml::table* t = table(key);
    if (!t) return std::nullopt;
    return TableReader(*t, child(key), file_);
}

TableReader TableReader::element(const toml::node& n, std::string path) const {
    if (!n.is_table())
        throw ScenarioError(pos_of(n.source(), file_), path, std::string("must be a table, not ") + type_name(n));
    return TableReader(*n.as_table(), std::move(path), file_);
}

void TableReader::finish() const {
    const toml::key* first = nullptr;
    SourcePos first_pos;
    for (auto&& [k, v] : t_) {
        if (std::find(known_.begin(), known_.end(), k.str()) != known_.end()) continue;
        SourcePos p = pos_of(k.source(), file_);
        if (!first || before(p, first_pos)) {
            first = &k;
            first_pos = p;
        }
    }
    if (!first) return;
    std::string list;
    for (const auto& k : known_) list += (list.empty() ? "" : ", ") + k;
    throw ScenarioError(first_pos, child(first->str()),
                        "unknown key" + (list.empty() ? std::string() : " (known here: " + list + ")"));
}

}  // namespace runner
