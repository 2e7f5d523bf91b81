// The measurements of rykxy-bench. Each runs RykXyLdr and the floor program
// (bench/harness.h) on the simulated machine, in turns, under the same load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace bench {

struct Durations {
    double latency_s;       // per turn, per side, per touchscreen count
    int latency_turns;      // program and floor take turns this often
    double rate_s;          // per offered rate, per side, per turn
    int rate_turns;
    double idle_s;          // wall-clock seconds of the idle measurement
    int cycles;             // add/remove cycles and reassignment cycles
    int startups;           // start-ups per side
};

// Latency and delivered rate of one run of packet streams.
struct StreamResult {
    int screens = 0;
    double rate_hz = 0;  // offered per touchscreen; 0: as fast as the program takes them
    uint64_t sent = 0;
    uint64_t delivered = 0;  // in the measuring window
    uint64_t skipped = 0;    // not offered: the touchscreen's previous packet was still on its way
                             // when its next one was due
    uint64_t stray = 0;      // mouse input that no packet explains
    double window_s = 0;
    double delivered_per_s = 0;
    double p50_us = 0, p99_us = 0, max_us = 0;
    // Over the whole run, warm-up included, per packet whose mouse input was
    // seen: CPU time of all threads of the process, and how often one of
    // them woke from a wait.
    uint64_t answered = 0;
    int64_t cpu_ns = 0;
    uint64_t wakeups = 0;
    double cpu_us_per_packet = 0;
    double wakeups_per_packet = 0;
};

nlohmann::ordered_json to_json(const StreamResult& r);

// Who takes the packets: RykXyLdr or one of the two floor programs
// (bench/harness.h).
enum class Side { PROGRAM, FLOOR, DESIGN_FLOOR };

// Streams at `rate_hz` per touchscreen (0: closed loop) into one side, with
// `screens` touchscreens. Samples of several turns are pooled.
StreamResult measure_streams(Side side, int screens, double rate_hz, double seconds, int turns);

// The same for all three sides, taking turns; the order rotates from turn to
// turn so that no side always meets the same moment of the machine's load.
struct StreamSides {
    StreamResult program, floor, design;
};
StreamSides measure_streams_all(int screens, double rate_hz, double seconds, int turns);

struct IdleResult {
    double simulated_s = 0;
    double wall_s = 0;
    int threads = 0;
    uint64_t wakeups = 0;
    double cpu_ms = 0;
};
IdleResult measure_idle(bool program, double wall_s);

struct WorkerCost {
    double threads = 0, handles = 0;
    double stack_bytes = 0;         // committed: requested sizes rounded up to a page
    double program_heap_bytes = 0;  // the program's own allocations
    double machine_heap_bytes = 0;  // the simulated machine's records for them
};
WorkerCost measure_worker_cost(bool program);

struct CycleResult {
    std::string kind;  // "add/remove" or "reassignment"
    int cycles = 0;
    int threads_before = 0, threads_after = 0;
    int handles_before = 0, handles_after = 0;
    int64_t program_heap_before = 0, program_heap_after = 0;
    int64_t machine_heap_before = 0, machine_heap_after = 0;
    int workers_after = 0;
};
CycleResult measure_add_remove(int cycles);
CycleResult measure_reassignment(int cycles);

struct StartupResult {
    std::vector<double> ms;  // WinMain (or the floor's main) to its first wait for messages
    double median_ms = 0, min_ms = 0, max_ms = 0;
    std::vector<double> main_cpu_ms;  // CPU time of the main thread up to that wait
    double median_main_cpu_ms = 0;
};
// The floor program starts `floor_threads` bare threads.
StartupResult measure_startup(bool program, int screens, int floor_threads, int runs);

}  // namespace bench
