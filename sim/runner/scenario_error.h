// Where a scenario file goes wrong, and the error that says so.
#pragma once

#include <stdexcept>
#include <string>

namespace runner {

// A place in a scenario file (lines and columns count from 1; 0 = unknown).
struct SourcePos {
    std::string file;
    int line = 0;
    int column = 0;
};

// A scenario file that cannot be read or does not follow the format. what()
// is "FILE:LINE:COLUMN: KEY: MESSAGE" (KEY left out when the fault is not
// about one key, e.g. a TOML syntax error; LINE:COLUMN when the file could
// not be read at all).
class ScenarioError : public std::runtime_error {
public:
    ScenarioError(SourcePos pos, std::string key, std::string message);
    const SourcePos& pos() const { return pos_; }
    const std::string& key() const { return key_; }  // dotted path, e.g. "step[3].touch.kind"
    const std::string& message() const { return message_; }

private:
    SourcePos pos_;
    std::string key_;
    std::string message_;
};

}  // namespace runner
