// Reading a TOML file one table at a time: typed look-ups by key that, for
// a value of the wrong type or range, throw a ScenarioError naming the file,
// the line and column, and the key's dotted path ("step[3].touch.kind");
// and at the end of a table an error for a key that no look-up asked for.
// It knows no key of the scenario format; scenario.cpp reads the format
// through it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>
#include <toml++/toml.h>

#include "scenario_error.h"

namespace runner {

SourcePos pos_of(const toml::source_region& r, const std::string& file);
// a comes before b in the file.
bool before(const SourcePos& a, const SourcePos& b);
// "an integer", "a table", ... for messages.
const char* type_name(const toml::node& n);
// The value as JSON (dates and times as their TOML text).
nlohmann::ordered_json to_json(const toml::node& n);

// Walks one table: typed look-ups by key, and at the end (finish()) an error
// for the first key, in file order, that no look-up asked for. `path` is
// the table's dotted path in messages ("" for the file's top level); `file`
// must outlive the reader.
class TableReader {
public:
    TableReader(const toml::table& t, std::string path, const std::string& file);

    const toml::table& table() const { return t_; }
    const std::string& path() const { return path_; }
    const std::string& file() const { return file_; }
    // The dotted path of `key` in this table.
    std::string child(std::string_view key) const;
    // Where the table starts, and where `key` stands (the table's start when
    // it is not there).
    SourcePos where() const;
    SourcePos key_pos(std::string_view key) const;

    [[noreturn]] void fail(std::string_view key, const std::string& message) const;
    [[noreturn]] void fail_here(const std::string& message) const;
    // "needs `KEY` (WHAT)", at the table.
    [[noreturn]] void missing(std::string_view key, const std::string& what) const;
    // About element `index` of the array `key`, at the element.
    [[noreturn]] void fail_element(std::string_view key, size_t index, const toml::node& element,
                                   const std::string& message) const;

    // The key's value, or null; from now on the key counts as known.
    const toml::node* find(std::string_view key);
    bool has(std::string_view key) const { return t_.contains(key); }

    // Each of these: nothing when the key is missing; an error when its value
    // is of another type (or out of lo..hi).
    std::optional<int64_t> integer(std::string_view key, int64_t lo, int64_t hi);
    int64_t required_integer(std::string_view key, int64_t lo, int64_t hi);
    std::optional<bool> boolean(std::string_view key);
    // A flag that only makes sense set: `key = true`.
    void must_be_true(std::string_view key);
    std::optional<std::string> string(std::string_view key);
    std::string required_string(std::string_view key);
    const toml::table* table(std::string_view key);
    const toml::array* array(std::string_view key);
    // A reader for the table at `key`; nothing when the key is missing.
    std::optional<TableReader> sub(std::string_view key);
    // A reader for an array element that must be a table, `path` its dotted
    // path ("touchscreen[0]").
    TableReader element(const toml::node& n, std::string path) const;

    // Reports the first key, in file order, that no look-up asked for.
    void finish() const;

private:
    const toml::table& t_;
    std::string path_;
    const std::string& file_;
    std::vector<std::string> known_;
};

}  // namespace runner
