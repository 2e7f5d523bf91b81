// Fuzz target: the driver's records as the program reads them. The
// simulated driver answers REQ_GET_TOUCHSCREEN and REQ_GET_ALIGNMENT with
// bytes of the input in place of its own, and the program builds its
// touchscreen list from them and runs the registry check and the default
// alignment for every record.
// Input: a touchscreen count byte, then the bytes the answers take in turn.
#include <cstdint>
#include <cstring>
#include <string>

#include "app/app.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/registry_check.h"
#include "inventory/touchscreen_list.h"
#include "machine.h"
#include "orvane/driver.h"
#include "registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    sim::Machine m;
    const int count = 1 + data[0] % 4;
    for (int i = 0; i < count; ++i) {
        sim::orvane::TouchscreenConfig t;
        t.serial = "TS-000" + std::to_string(i);
        t.registry_path = "Enum\\Ryk\\TS-000" + std::to_string(i);
        m.registry().create_key(HKEY_LOCAL_MACHINE, t.registry_path);
        m.registry().set_string(HKEY_LOCAL_MACHINE, t.registry_path, "SerialNumber", t.serial);
        m.driver().add_touchscreen(t);
    }
    size_t at = 1;
    m.driver().set_reply_filter([&](uint32_t code, void* out, uint32_t n) {
        if (code != REQ_GET_TOUCHSCREEN && code != REQ_GET_ALIGNMENT) return;
        // Every byte, the header's identifier and tags too, as the input says.
        for (uint32_t i = 0; i < n && at < size; ++i) static_cast<uint8_t*>(out)[i] = data[at++];
    });
    OpenDriver();
    gpTouchscreens = new TouchscreenList(ghDriver);
    gpTouchscreens->Enumerate();
    if (gpTouchscreens->MoveFirst()) {
        do {
            CheckRegistryEntry();
            WriteDefaultAlignment();
            (void)gpTouchscreens->GetMonitor();
        } while (gpTouchscreens->MoveNext());
    }
    delete gpTouchscreens;
    gpTouchscreens = nullptr;
    CloseHandle(ghDriver);
    ghDriver = 0;
    return 0;
}
