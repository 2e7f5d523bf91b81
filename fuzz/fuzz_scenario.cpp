// Fuzz target: the scenario parser. Any text gets a scenario or a
// ScenarioError that names the file; nothing else (another exception ends
// the run as a crash).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        runner::parse_scenario(text, "fuzz.toml");
    } catch (const runner::ScenarioError& e) {
        if (e.pos().file != "fuzz.toml") std::abort();
    }
    return 0;
}
