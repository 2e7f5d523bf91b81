// Fuzz target: registry values of any type and size under the driver's
// service key, read by the settings and by the Windows 95 monitor grid.
// Input: a version byte (even: Windows 95, odd: 98), then values: a name
// byte (one of the names the program reads, or another), a type byte, a
// length byte and that many data bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "machine.h"
#include "monitors/monitor_table.h"
#include "registry.h"
#include "settings/settings.h"

namespace {

const char* const kNames[] = {"MouseMode",        "BeepFlag",     "BeepTime",     "BeepFreq",
                              "DefaultDragDelay", "MinDragDelay", "MaxDragDelay", "NumberOfTouchscreens",
                              "NumXScreens",      "NumYScreens",  "CplLanguage",  "Other"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    sim::Config c;
    c.windows = data[0] % 2 == 0 ? sim::Windows::v95 : sim::Windows::v98;
    sim::Machine m(c);
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";
    m.registry().create_key(HKEY_LOCAL_MACHINE, key);
    size_t i = 1;
    while (i + 3 <= size) {
        const char* name = kNames[data[i] % (sizeof kNames / sizeof kNames[0])];
        const uint8_t type = data[i + 1] % 8;
        const size_t len = data[i + 2];
        i += 3;
        std::vector<BYTE> bytes(data + i, data + std::min(size, i + len));
        i += len;
        if (type == REG_DWORD && bytes.size() >= 4) {
            DWORD v = 0;
            std::memcpy(&v, bytes.data(), 4);
            m.registry().set_dword(HKEY_LOCAL_MACHINE, key, name, v);
        } else if (type == REG_SZ) {
            m.registry().set_string(HKEY_LOCAL_MACHINE, key, name, std::string(bytes.begin(), bytes.end()));
        } else {
            m.registry().set_binary(HKEY_LOCAL_MACHINE, key, name, bytes);
        }
    }
    SelectServiceKey();
    LoadDriverSettings();
    if (c.windows == sim::Windows::v95) EnumMonitors95(0, INIT_MONITOR_INFO);
    ReleaseMonitorArrays();
    delete gpServiceKey;
    gpServiceKey = nullptr;
    return 0;
}
