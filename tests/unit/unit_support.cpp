#include "unit_support.h"

#include <cstring>
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

sim::Config SideBySide(size_t count, sim::OpenVxd open_vxd) {
    sim::Config config;
    config.monitors.clear();
    for (size_t i = 0; i < count; ++i) {
        const LONG left = static_cast<LONG>(1024 * i);
        config.monitors.push_back({{left, 0, left + 1024, 768}, {}});
    }
    config.open_vxd_handle = open_vxd;
    return config;
}

namespace {
struct SavedRow {
    BOOL bLoaded;
    std::vector<BYTE> bytes;
};
std::vector<SavedRow> gSavedRows;
}  // namespace

void SaveSettingsState() {
    gSavedRows.clear();
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        const RegValueEntry& row = DriverSettings[i];
        const BYTE* p = static_cast<const BYTE*>(row.pData);
        gSavedRows.push_back({row.bLoaded, std::vector<BYTE>(p, p + row.cbData)});
    }
}

void RestoreSettingsState() {
    for (size_t i = 0; i < gSavedRows.size(); ++i) {
        RegValueEntry& row = DriverSettings[i];
        row.bLoaded = gSavedRows[i].bLoaded;
        std::memcpy(row.pData, gSavedRows[i].bytes.data(), gSavedRows[i].bytes.size());
    }
    delete gpServiceKey;
    gpServiceKey = nullptr;
    std::memset(gszServiceKey, 0, sizeof gszServiceKey);
    sim::fail_nothrow_allocation(-1);
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
