// rykxy-microbench: Google Benchmark microbenchmarks of the packet path on
// the simulated machine, each beside its floor: the translation of one
// packet into mouse input against the bare mouse calls it makes, and one
// packet read as a worker makes it (under gcsDriver) against the bare
// request.
#include <benchmark/benchmark.h>

#include <cstring>

#include "app/app.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "harness.h"
#include "machine.h"
#include "orvane/driver.h"
#include "touch/packets.h"

namespace {

// A machine with one touchscreen and the driver open, on which the
// benchmark's own thread makes the calls.
struct Bed {
    sim::Machine m{bench::machine_config()};
    Bed() {
        bench::reset_program_globals();
        bench::add_touchscreens(m, 1);
        bench::quiet_machine(m);
        OpenDriver();
        InitializeCriticalSection(&gcsDriver);
    }
    ~Bed() {
        DeleteCriticalSection(&gcsDriver);
        CloseHandle(ghDriver);
        bench::reset_program_globals();
    }
    // The machine's records are not what is measured; they are dropped now
    // and then so that they do not grow without end.
    void tidy(int64_t i) {
        if ((i & 1023) == 0) {
            m.trace().clear();
            m.driver().clear_log();
        }
    }
};

TouchPacket MovePacket() {
    TouchPacket p;
    std::memset(&p, 0, sizeof p);
    p.iX = 300;
    p.iY = 200;
    p.dwFlags = 5;
    return p;
}

void BM_TranslatePacket(benchmark::State& state) {
    Bed bed;
    const TouchPacket p = MovePacket();
    DWORD button = BUTTON_LEFT_DOWN;  // a move with the button held: SetCursorPos and a zero move
    int64_t i = 0;
    for (auto _ : state) {
        TranslatePacket(&p, &button);
        bed.tidy(++i);
    }
}
BENCHMARK(BM_TranslatePacket);

void BM_BareMouseCall(benchmark::State& state) {
    Bed bed;
    int64_t i = 0;
    for (auto _ : state) {
        SetCursorPos(300, 200);
        mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
        bed.tidy(++i);
    }
}
BENCHMARK(BM_BareMouseCall);

TouchPacket ReadRequest() {
    TouchPacket p;
    std::memset(&p, 0, sizeof p);
    p.header.wTag2 = REQ_TAG;
    p.header.wTouchscreen = 0;
    return p;
}

void BM_PacketRead(benchmark::State& state) {
    Bed bed;
    int64_t i = 0;
    for (auto _ : state) {
        bed.m.driver().queue_packet(0, 300, 200, 5);
        TouchPacket p = ReadRequest();
        DWORD returned = 0;
        EnterCriticalSection(&gcsDriver);
        const BOOL ok = DeviceIoControl(ghDriver, REQ_GET_TOUCH, &p, sizeof p, &p, sizeof p, &returned, nullptr);
        LeaveCriticalSection(&gcsDriver);
        benchmark::DoNotOptimize(ok);
        bed.tidy(++i);
    }
}
BENCHMARK(BM_PacketRead);

void BM_BareRead(benchmark::State& state) {
    Bed bed;
    int64_t i = 0;
    for (auto _ : state) {
        bed.m.driver().queue_packet(0, 300, 200, 5);
        TouchPacket p = ReadRequest();
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(ghDriver, REQ_GET_TOUCH, &p, sizeof p, &p, sizeof p, &returned, nullptr);
        benchmark::DoNotOptimize(ok);
        bed.tidy(++i);
    }
}
BENCHMARK(BM_BareRead);

}  // namespace

BENCHMARK_MAIN();
