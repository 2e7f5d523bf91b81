// Fuzz target: streams of touch packets with any flags and coordinates, and
// mode switches between them, through the translation into mouse input.
// Input: records of 13 bytes: an operation byte (bit 7 set: switch to the
// mode of bit 0 first), then iX, iY and dwFlags, little-endian.
// Checked: no crash or undefined behaviour; the worker's button state is
// always one of the four; after a release the mode's button is up.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "desktop.h"
#include "machine.h"
#include "touch/packets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static sim::Machine* machine = [] {
        sim::Config c;
        c.monitors = {{{0, 0, 1024, 768}, {0, 0, 1024, 768}}, {{1024, -200, 2304, 824}, {1024, -200, 2304, 824}}};
        return new sim::Machine(c);
    }();
    machine->trace().clear();
    machine->desktop().mouse_input(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_RIGHTUP, 0, 0);
    gbRightButton = 0;
    DWORD state = BUTTON_LEFT_UP;
    for (size_t i = 0; i + 13 <= size; i += 13) {
        const uint8_t op = data[i];
        if (op & 0x80) gbRightButton = op & 1;
        TouchPacket p;
        std::memset(&p, 0, sizeof p);
        std::memcpy(&p.iX, data + i + 1, 4);
        std::memcpy(&p.iY, data + i + 5, 4);
        std::memcpy(&p.dwFlags, data + i + 9, 4);
        const bool right = gbRightButton.load() != 0;
        TranslatePacket(&p, &state);
        if (state != BUTTON_LEFT_UP && state != BUTTON_LEFT_DOWN && state != BUTTON_RIGHT_UP &&
            state != BUTTON_RIGHT_DOWN)
            std::abort();
        const DWORD kind = p.dwFlags & PKT_KIND;
        if (kind >= 2 && (p.dwFlags & PKT_RELEASE) != 0) {
            const auto b = machine->desktop().buttons();
            if (right ? b.right : b.left) std::abort();
        }
    }
    return 0;
}
