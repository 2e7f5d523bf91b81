// Shared pieces of the unit tests: a fixture that gives each test a fresh
// simulated machine and demands a clean protocol and no API misuse from it,
// the reset of the program's globals between tests, machines and settings
// as tests start from them, and helpers for reading recorded driver requests
// byte by byte.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kernel.h"
#include "machine.h"
#include "orvane/driver.h"
#include "program_globals.h"

namespace unit {

using sim::orvane::Refusal;
using sim::orvane::Request;
using sim::orvane::TouchscreenConfig;

using support::ResetProgramGlobals;

// One test, one machine. The machine is checked for protocol errors and
// misuse when the test ends, and destroyed before the globals are reset.
class MachineTest : public ::testing::Test {
protected:
    sim::Machine& Boot(sim::Config config = sim::Config(), const std::vector<TouchscreenConfig>& screens = {});
    sim::Machine& machine() { return *machine_; }
    void TearDown() override;

private:
    std::unique_ptr<sim::Machine> machine_;
};

// `count` monitors of 1024 x 768 side by side, the first (primary) at the
// origin.
sim::Config SideBySide(size_t count, sim::OpenVxd open_vxd = sim::OpenVxd::by_version);

// The driver's settings table and service key as a test found them, put
// back when it ends, with allocations made to succeed again: each test sees
// the same storage and flags whatever ran before it in this process.
void SaveSettingsState();
void RestoreSettingsState();

// A touchscreen on `monitor` with its own serial number and registry path.
TouchscreenConfig Screen(int32_t monitor, const std::string& serial = "SN", const std::string& path = "KEY");

// Little-endian bytes, as a request carries its fields.
std::vector<uint8_t> Le16(uint16_t v);
std::vector<uint8_t> Le32(uint32_t v);

// A field of a request by its byte offset and its expected bytes.
struct ByteField {
    size_t offset;
    std::vector<uint8_t> bytes;
};

// The request has this control code and buffer size, and carries exactly
// these bytes at these offsets.
void ExpectEncoded(const Request& r, DWORD code, size_t size, const std::vector<ByteField>& fields);

// The exit code of a quit message posted to the calling thread and not yet
// retrieved, if there is one. (GetMessageA would block when there is none.)
std::optional<int> PendingQuit(sim::Machine& m);

// The name of a table row, for the names of parameterised tests.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& row) {
    return row.param.name;
}

}  // namespace unit
