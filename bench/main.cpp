// rykxy-bench: the speed and cost of RykXyLdr on the simulated machine, each
// figure beside two floors measured in the same run on the same machine: the
// bare floor (woken threads that make a mouse call) and the design floor
// (woken threads that read their packet under one shared lock and make its
// mouse calls); bench/harness.h.
//
//   rykxy-bench [--quick] [--out DIR] [--micro FILE] [--no-instructions]
//   rykxy-bench --count-instructions [--quick]
//
// Prints one table (figure, program, floor, ratio, design floor, ratio, goal),
// writes DIR/bench.json and DIR/bench.svg (default DIR: the current
// directory). --micro adds the results of rykxy-microbench (Google
// Benchmark's JSON output) to the table. Unless --no-instructions, it runs
// itself once more under valgrind --tool=callgrind with --count-instructions
// for the instructions per packet (bench/instructions.h; the dumps go to
// DIR/callgrind). --quick runs every measurement briefly: it shows that they
// work, its figures mean little.
#include <sys/utsname.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "instructions.h"
#include "measure.h"
#include "svg.h"

using json = nlohmann::ordered_json;

namespace {

struct Row {
    Row(std::string f, std::string u, double p, double fl, std::string g = "", int m = -1)
        : figure(std::move(f)), unit(std::move(u)), program(p), floor(fl), goal(std::move(g)), met(m) {}
    std::string figure;
    std::string unit;
    double program = NAN;
    double floor = NAN;
    double design = NAN;  // the design floor, where it was measured
    std::string goal;     // empty: no goal of its own
    int met = -1;         // -1 no goal, 0 not met, 1 met
    double ratio() const { return floor > 0 ? program / floor : NAN; }
    double design_ratio() const { return design > 0 ? program / design : NAN; }
};

// A row with the design floor beside the floor.
Row row3(std::string figure, std::string unit, double program, double floor, double design) {
    Row r(std::move(figure), std::move(unit), program, floor);
    r.design = design;
    return r;
}

// A goal against the design floor: the program at most (or at least) `x`
// times it.
void goal_vs_design(Row& r, double x, bool at_most) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %.1f x design", at_most ? "<=" : ">=", x);
    r.goal = buf;
    const double q = r.design_ratio();
    r.met = std::isnan(q) ? 0 : (at_most ? q <= x : q >= x) ? 1 : 0;
}

std::string read_first(const char* path, const char* key) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            auto colon = line.find(':');
            if (colon != std::string::npos) {
                std::string v = line.substr(colon + 1);
                v.erase(0, v.find_first_not_of(" \t"));
                return v;
            }
        }
    }
    return "";
}

std::string loadavg() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

json machine_info() {
    json j;
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    utsname u{};
    uname(&u);
    j["host"] = host;
    j["cpu"] = read_first("/proc/cpuinfo", "model name");
    j["cpus"] = std::thread::hardware_concurrency();
    j["kernel"] = std::string(u.sysname) + " " + u.release + " " + u.machine;
    j["compiler"] = std::string("g++ ") + __VERSION__;
    j["load_at_start"] = loadavg();
    return j;
}

std::string fmt(double v, int decimals = 1) {
    if (std::isnan(v)) return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

void print_table(const std::vector<Row>& rows, const json& machine, bool quick) {
    std::printf("\nRykXyLdr benchmarks%s on %s (%s, %d CPUs, load %s -> %s)\n", quick ? " (quick: figures mean little)" : "",
                machine["host"].get<std::string>().c_str(), machine["cpu"].get<std::string>().c_str(),
                machine["cpus"].get<int>(), machine["load_at_start"].get<std::string>().c_str(),
                machine["load_at_end"].get<std::string>().c_str());
    std::printf("%-64s %10s %10s %6s %10s %6s  %-20s %s\n", "figure", "program", "floor", "ratio", "design", "ratio",
                "goal", "met");
    for (const Row& r : rows) {
        const int dec =
            r.unit == "ns" || r.unit == "B" || r.unit == "packets/s" || r.unit == "instructions" ? 0 : (r.unit == "ms" ? 2 : 1);
        std::string name = r.figure + (r.unit.empty() ? "" : " (" + r.unit + ")");
        std::printf("%-64s %10s %10s %6s %10s %6s  %-20s %s\n", name.c_str(), fmt(r.program, dec).c_str(),
                    fmt(r.floor, dec).c_str(), fmt(r.ratio(), 2).c_str(), fmt(r.design, dec).c_str(),
                    fmt(r.design_ratio(), 2).c_str(), r.goal.c_str(), r.met < 0 ? "" : (r.met ? "yes" : "NO"));
    }
}

json row_json(const Row& r) {
    json j;
    j["figure"] = r.figure;
    j["unit"] = r.unit;
    j["program"] = std::isnan(r.program) ? json(nullptr) : json(r.program);
    j["floor"] = std::isnan(r.floor) ? json(nullptr) : json(r.floor);
    j["ratio"] = std::isnan(r.ratio()) ? json(nullptr) : json(r.ratio());
    j["design_floor"] = std::isnan(r.design) ? json(nullptr) : json(r.design);
    j["design_ratio"] = std::isnan(r.design_ratio()) ? json(nullptr) : json(r.design_ratio());
    j["goal"] = r.goal;
    j["met"] = r.met < 0 ? json(nullptr) : json(r.met == 1);
    return j;
}

// Google Benchmark's JSON: the real time of each benchmark by name, in ns.
std::map<std::string, double> read_micro(const std::string& path) {
    std::map<std::string, double> out;
    std::ifstream in(path);
    if (!in) return out;
    json j = json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.contains("benchmarks")) return out;
    for (const auto& b : j["benchmarks"]) {
        if (b.value("run_type", "iteration") != "iteration") continue;
        double t = b.value("real_time", 0.0);
        const std::string unit = b.value("time_unit", "ns");
        if (unit == "us") t *= 1e3;
        if (unit == "ms") t *= 1e6;
        out[b.value("name", "")] = t;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string out_dir = ".";
    std::string micro_path;
    bool count_child = false;
    bool instructions = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") quick = true;
        else if (a == "--out" && i + 1 < argc) out_dir = argv[++i];
        else if (a == "--micro" && i + 1 < argc) micro_path = argv[++i];
        else if (a == "--no-instructions") instructions = false;
        else if (a == "--count-instructions") count_child = true;
        else {
            std::fprintf(stderr,
                         "usage: rykxy-bench [--quick] [--out DIR] [--micro FILE] [--no-instructions]\n"
                         "       rykxy-bench --count-instructions [--quick]   (under valgrind --tool=callgrind)\n");
            return 2;
        }
    }
    if (count_child) return bench::play_instruction_plan(quick);
    const bench::Durations d = quick ? bench::Durations{0.4, 1, 0.4, 1, 0.5, 20, 3}
                                     : bench::Durations{1.0, 6, 1.0, 3, 10.0, 1000, 21};
    json report;
    report["quick"] = quick;
    report["settings"] = "packet runs on machines without the driver's read yield and request records (quiet_machine)";
    report["machine"] = machine_info();
    std::vector<Row> rows;
    auto log = [](const char* what) {
        std::fprintf(stderr, "rykxy-bench: %s\n", what);
        std::fflush(stderr);
    };

    // 1. Latency at 200 Hz per touchscreen.
    log("latency, 200 Hz per touchscreen");
    json lat = json::array();
    std::vector<bench::StreamSides> latencies;
    auto sides_json = [](const bench::StreamSides& x) {
        json e;
        e["program"] = bench::to_json(x.program);
        e["floor"] = bench::to_json(x.floor);
        e["design_floor"] = bench::to_json(x.design);
        return e;
    };
    for (int n : {1, 4, 16, 33}) {
        const bench::StreamSides x = bench::measure_streams_all(n, 200, d.latency_s, d.latency_turns);
        latencies.push_back(x);
        lat.push_back(sides_json(x));
        const std::string at = " @" + std::to_string(n) + " touchscreens";
        rows.push_back(row3("latency p50" + at, "us", x.program.p50_us, x.floor.p50_us, x.design.p50_us));
        Row p99 = row3("latency p99" + at, "us", x.program.p99_us, x.floor.p99_us, x.design.p99_us);
        if (n == 33) goal_vs_design(p99, 1.2, true);
        rows.push_back(p99);
        rows.push_back(row3("latency max" + at, "us", x.program.max_us, x.floor.max_us, x.design.max_us));
    }
    report["latency"] = lat;

    // 2. Offered rate and saturation at 33 touchscreens.
    log("offered rate and saturation, 33 touchscreens");
    json rates = json::array();
    std::vector<bench::StreamSides> by_rate;
    for (double rate : {200.0, 500.0, 1000.0, 2000.0, 0.0}) {
        const bench::StreamSides x = bench::measure_streams_all(33, rate, d.rate_s, d.rate_turns);
        by_rate.push_back(x);
        rates.push_back(sides_json(x));
    }
    report["rate"] = rates;
    {
        // The most each side delivered at any offered rate: flat out, the
        // feeder's own pace on a loaded machine can be the limit.
        auto best = [&](bench::StreamResult bench::StreamSides::*side) {
            size_t b = 0;
            for (size_t i = 0; i < by_rate.size(); ++i)
                if ((by_rate[i].*side).delivered_per_s > (by_rate[b].*side).delivered_per_s) b = i;
            return by_rate[b].*side;
        };
        const bench::StreamResult sp = best(&bench::StreamSides::program), sf = best(&bench::StreamSides::floor),
                                  sd = best(&bench::StreamSides::design);
        Row sat = row3("saturation @33 touchscreens (most delivered)", "packets/s", sp.delivered_per_s,
                       sf.delivered_per_s, sd.delivered_per_s);
        goal_vs_design(sat, 0.9, false);
        rows.push_back(sat);
        rows.push_back(row3("latency p99 at saturation", "us", sp.p99_us, sf.p99_us, sd.p99_us));
        rows.push_back(
            row3("CPU time per packet at saturation", "us", sp.cpu_us_per_packet, sf.cpu_us_per_packet, sd.cpu_us_per_packet));
        Row wake_sat = row3("wake-ups per packet at saturation", "", sp.wakeups_per_packet, sf.wakeups_per_packet,
                            sd.wakeups_per_packet);
        goal_vs_design(wake_sat, 1.1, true);
        rows.push_back(wake_sat);
        const bench::StreamSides& lat33 = latencies.back();
        rows.push_back(row3("CPU time per packet @33 touchscreens, 200 Hz", "us", lat33.program.cpu_us_per_packet,
                            lat33.floor.cpu_us_per_packet, lat33.design.cpu_us_per_packet));
        Row wake = row3("wake-ups per packet @33 touchscreens, 200 Hz", "", lat33.program.wakeups_per_packet,
                        lat33.floor.wakeups_per_packet, lat33.design.wakeups_per_packet);
        goal_vs_design(wake, 1.1, true);
        rows.push_back(wake);
    }

    // 3. Idle.
    log("idle");
    const bench::IdleResult idle_p = bench::measure_idle(true, d.idle_s);
    const bench::IdleResult idle_f = bench::measure_idle(false, d.idle_s);
    {
        json j;
        auto ij = [](const bench::IdleResult& r) {
            json e;
            e["simulated_s"] = r.simulated_s;
            e["wall_s"] = r.wall_s;
            e["threads"] = r.threads;
            e["wakeups"] = r.wakeups;
            e["cpu_ms"] = r.cpu_ms;
            return e;
        };
        j["program"] = ij(idle_p);
        j["floor"] = ij(idle_f);
        report["idle"] = j;
        Row w{"idle wake-ups, 33 touchscreens, 10 s", "", double(idle_p.wakeups), double(idle_f.wakeups)};
        w.goal = "0";
        w.met = idle_p.wakeups == 0 ? 1 : 0;
        rows.push_back(w);
        rows.push_back({"idle CPU time of all threads", "ms", idle_p.cpu_ms, idle_f.cpu_ms});
    }

    // 4. Memory and handles.
    log("memory and handles");
    const bench::WorkerCost wc_p = bench::measure_worker_cost(true);
    const bench::WorkerCost wc_f = bench::measure_worker_cost(false);
    const bench::CycleResult add_remove = bench::measure_add_remove(d.cycles);
    const bench::CycleResult reassign = bench::measure_reassignment(d.cycles);
    {
        auto wj = [](const bench::WorkerCost& c) {
            json e;
            e["threads"] = c.threads;
            e["handles"] = c.handles;
            e["stack_bytes"] = c.stack_bytes;
            e["program_heap_bytes"] = c.program_heap_bytes;
            e["machine_heap_bytes"] = c.machine_heap_bytes;
            return e;
        };
        auto cj = [](const bench::CycleResult& c) {
            json e;
            e["kind"] = c.kind;
            e["cycles"] = c.cycles;
            e["threads"] = {c.threads_before, c.threads_after};
            e["handles"] = {c.handles_before, c.handles_after};
            e["program_heap_bytes"] = {c.program_heap_before, c.program_heap_after};
            e["machine_heap_bytes"] = {c.machine_heap_before, c.machine_heap_after};
            e["workers_after"] = c.workers_after;
            return e;
        };
        json j;
        j["per_worker"] = {{"program", wj(wc_p)}, {"floor", wj(wc_f)}};
        j["cycles"] = {cj(add_remove), cj(reassign)};
        report["memory"] = j;
        Row mem{"memory committed per worker (stacks + heap)", "KiB", (wc_p.stack_bytes + wc_p.program_heap_bytes) / 1024,
                (wc_f.stack_bytes + wc_f.program_heap_bytes) / 1024};
        mem.goal = "<= 64 KiB";
        mem.met = mem.program <= 64 ? 1 : 0;
        rows.push_back(mem);
        rows.push_back({"threads per worker", "", wc_p.threads, wc_f.threads});
        rows.push_back({"handles per worker", "", wc_p.handles, wc_f.handles});
        for (const bench::CycleResult* c : {&add_remove, &reassign}) {
            const std::string name = "after " + std::to_string(c->cycles) + " " + c->kind + " cycles: ";
            const double threads = c->threads_after - c->threads_before;
            const double handles = c->handles_after - c->handles_before;
            const double heap = double(c->program_heap_after - c->program_heap_before);
            rows.push_back({name + "thread growth", "", threads, NAN, "0", threads == 0 ? 1 : 0});
            rows.push_back({name + "handle growth", "", handles, NAN, "0", handles == 0 ? 1 : 0});
            rows.push_back({name + "heap growth", "B", heap, NAN, "0", heap == 0 ? 1 : 0});
        }
    }

    // 5. Start-up.
    log("start-up");
    const bench::StartupResult st_p = bench::measure_startup(true, 33, 0, d.startups);
    const bench::StartupResult st_f = bench::measure_startup(false, 33, 2 * 33 + 2, d.startups);
    const bench::StartupResult st_0 = bench::measure_startup(false, 33, 0, d.startups);
    {
        auto sj = [](const bench::StartupResult& r) {
            return json{{"median_ms", r.median_ms},
                        {"min_ms", r.min_ms},
                        {"max_ms", r.max_ms},
                        {"runs", r.ms},
                        {"median_main_thread_cpu_ms", r.median_main_cpu_ms},
                        {"main_thread_cpu_ms", r.main_cpu_ms}};
        };
        json j;
        j["program"] = sj(st_p);
        j["floor"] = sj(st_f);
        j["floor_without_threads"] = sj(st_0);
        report["startup"] = j;
        rows.push_back({"start-up, 33 touchscreens, 8 monitors (median)", "ms", st_p.median_ms, st_f.median_ms,
                        "<= 5 ms", st_p.median_ms <= 5 ? 1 : 0});
        rows.push_back({"start-up (fastest run)", "ms", st_p.min_ms, st_f.min_ms});
        rows.push_back({"start-up: CPU time of the main thread (median)", "ms", st_p.median_main_cpu_ms,
                        st_f.median_main_cpu_ms});
        rows.push_back({"start-up of the floor without its 68 threads", "ms", NAN, st_0.median_ms});
    }

    // 6. Instructions per packet, counted by callgrind in a run of its own.
    if (instructions) {
        log("instructions per packet (valgrind --tool=callgrind)");
        std::string error;
        std::error_code ec;
        const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
        const std::vector<bench::InstructionCount> counts =
            bench::run_instruction_count(self, out_dir + "/callgrind", quick, &error);
        if (!error.empty()) std::fprintf(stderr, "rykxy-bench: no instruction counts: %s\n", error.c_str());
        json j = json::array();
        for (const bench::InstructionCount& c : counts) {
            const bool idle = c.kind.rfind("idle", 0) == 0;
            Row r = row3(idle ? "instructions per " + c.kind : "instructions per packet: " + c.kind, "instructions",
                         c.program_per_packet(), NAN, c.floor_per_packet());
            if (!idle) goal_vs_design(r, 1.5, true);
            rows.push_back(r);
            if (!idle)
                rows.push_back(row3("  outside Win32 calls: " + c.kind, "instructions",
                                    c.program_own_per_packet(), NAN, c.floor_own_per_packet()));
            // Both sides are to make the same mouse calls for the same packets.
            if (!idle && c.program_calls != c.floor_calls)
                std::fprintf(stderr, "rykxy-bench: %s: the program made %llu mouse calls, the design floor %llu\n",
                             c.kind.c_str(), static_cast<unsigned long long>(c.program_calls),
                             static_cast<unsigned long long>(c.floor_calls));
            j.push_back({{"kind", c.kind},
                         {"program", {{"packets", c.program_packets},
                                      {"instructions", c.program_instructions},
                                      {"outside_win32_calls", c.program_own},
                                      {"mouse_calls", c.program_calls}}},
                         {"design_floor", {{"packets", c.floor_packets},
                                           {"instructions", c.floor_instructions},
                                           {"outside_win32_calls", c.floor_own},
                                           {"mouse_calls", c.floor_calls}}}});
        }
        report["instructions"] = j;
        if (!error.empty()) report["instructions_error"] = error;
    }

    // Microbenchmarks.
    if (!micro_path.empty()) {
        const auto micro = read_micro(micro_path);
        auto get = [&](const char* name) {
            auto it = micro.find(name);
            return it == micro.end() ? NAN : it->second;
        };
        rows.push_back({"translation of one packet (TranslatePacket)", "ns", get("BM_TranslatePacket"),
                        get("BM_BareMouseCall")});
        rows.push_back({"one packet read (lock + REQ_GET_TOUCH)", "ns", get("BM_PacketRead"), get("BM_BareRead")});
        json mj;
        for (const auto& [k, v] : micro) mj[k] = v;
        report["micro_ns"] = mj;
    }

    report["machine"]["load_at_end"] = loadavg();
    json rj = json::array();
    for (const Row& r : rows) rj.push_back(row_json(r));
    report["table"] = rj;

    print_table(rows, report["machine"], quick);

    const std::string json_path = out_dir + "/bench.json";
    const std::string svg_path = out_dir + "/bench.svg";
    std::ofstream(json_path) << report.dump(2) << "\n";
    std::ofstream(svg_path) << bench::picture(latencies, by_rate, report["machine"], quick);
    std::printf("\nwrote %s and %s\n", json_path.c_str(), svg_path.c_str());
    return 0;
}
