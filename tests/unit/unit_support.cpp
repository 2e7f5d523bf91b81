#include "unit_support.h"

#include <mutex>

#include "app/app.h"
#include "driver/channel.h"
#include "hotplug/signals.h"
#include "inventory/touchscreen_list.h"
#include "hotplug/calibration.h"
#include "monitors/monitor_table.h"
#include "settings/program_settings.h"
#include "settings/settings.h"
#include "settings/trace.h"
#include "touch/packets.h"
#include "touch/workers.h"

namespace unit {

sim::Machine& MachineTest::Boot(sim::Config config, const std::vector<TouchscreenConfig>& screens) {
    ResetProgramGlobals();
    machine_ = std::make_unique<sim::Machine>(std::move(config));
    for (const auto& s : screens) machine_->driver().add_touchscreen(s);
    return *machine_;
}

void MachineTest::TearDown() {
    if (machine_) {
        EXPECT_THAT(machine_->protocol_errors(), ::testing::IsEmpty());
        EXPECT_THAT(machine_->misuse(), ::testing::IsEmpty());
        machine_.reset();
    }
    ResetProgramGlobals();
}

TouchscreenConfig Screen(int32_t monitor, const std::string& serial, const std::string& path) {
    TouchscreenConfig c;
    c.monitor = monitor;
    c.serial = serial;
    c.registry_path = path;
    return c;
}

std::vector<uint8_t> Le16(uint16_t v) { return {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)}; }

std::vector<uint8_t> Le32(uint32_t v) {
    return {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>((v >> 8) & 0xFF),
            static_cast<uint8_t>((v >> 16) & 0xFF), static_cast<uint8_t>(v >> 24)};
}

void ExpectEncoded(const Request& r, DWORD code, size_t size, const std::vector<ByteField>& fields) {
    SCOPED_TRACE(std::string("request #") + std::to_string(r.seq) + " " + r.name);
    EXPECT_EQ(r.code, code);
    ASSERT_EQ(r.input.size(), size);
    for (const ByteField& f : fields) {
        ASSERT_LE(f.offset + f.bytes.size(), r.input.size());
        std::vector<uint8_t> got(r.input.begin() + static_cast<std::ptrdiff_t>(f.offset),
                                 r.input.begin() + static_cast<std::ptrdiff_t>(f.offset + f.bytes.size()));
        EXPECT_EQ(got, f.bytes) << "at offset " << f.offset;
    }
}

std::optional<int> PendingQuit(sim::Machine& m) {
    return m.pending_quit(GetCurrentThreadId());
}

}  // namespace unit
