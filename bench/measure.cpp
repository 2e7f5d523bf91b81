#include "measure.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include <time.h>

#include "alloc_count.h"
#include "desktop.h"
#include "harness.h"
#include "machine.h"
#include "orvane/driver.h"
#include "platform/win32.h"
#include "touch/workers.h"
#include "app/app.h"

namespace bench {

namespace {

constexpr uint32_t kMoveReport = 5;  // kind 5 without release: a press, then moves with the button down

// One touchscreen's packets: when each was signalled and how long its mouse
// input took. One packet is on its way at a time, so the n-th mouse input
// of a stream answers its n-th packet.
struct Stream {
    std::vector<int64_t> signalled;
    std::vector<int64_t> latency;
    std::atomic<uint32_t> sent{0};
    std::atomic<uint32_t> done{0};
    uint64_t skipped = 0;
    int32_t x = 0, y = 0;
};

struct Recorder {
    std::vector<std::unique_ptr<Stream>> streams;
    std::atomic<uint64_t> stray{0};

    // On the thread that makes the mouse input, as it is recorded.
    void on_mouse() {
        const int64_t t = now_ns();
        const int s = current_stream();
        if (s < 0 || s >= static_cast<int>(streams.size())) {
            stray.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        Stream& st = *streams[s];
        const uint32_t i = st.done.load(std::memory_order_relaxed);
        if (i >= st.sent.load(std::memory_order_acquire)) {
            stray.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        st.latency[i] = t - st.signalled[i];
        st.done.store(i + 1, std::memory_order_release);
    }
};

double percentile(const std::vector<int64_t>& sorted, double q) {
    if (sorted.empty()) return 0;
    size_t i = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
    if (i > 0) --i;
    return static_cast<double>(sorted[std::min(i, sorted.size() - 1)]) / 1000.0;
}

// Feeds the streams for `seconds` and adds what was measured after the
// warm-up to `samples`.
void feed(sim::Machine& m, const char* process, int screens, double rate_hz, double seconds,
          std::vector<int64_t>& samples, StreamResult& r) {
    const bool closed = rate_hz <= 0;
    const double warmup_s = std::min(0.25, seconds / 5);
    const size_t capacity =
        closed ? static_cast<size_t>(seconds * 400000.0 / screens) + 1000 : static_cast<size_t>(rate_hz * seconds) + 1000;
    Recorder rec;
    for (int s = 0; s < screens; ++s) {
        auto st = std::make_unique<Stream>();
        st->signalled.assign(capacity, 0);
        st->latency.assign(capacity, 0);
        touch_point(s, &st->x, &st->y);
        rec.streams.push_back(std::move(st));
    }
    quiet_machine(m);
    m.desktop().set_mouse_observer([&rec](DWORD, LONG, LONG) { rec.on_mouse(); });

    const int64_t period = closed ? 0 : static_cast<int64_t>(1e9 / rate_hz);
    const int64_t t0 = now_ns() + 1000000;
    const int64_t warm = t0 + static_cast<int64_t>(warmup_s * 1e9);
    const int64_t end = t0 + static_cast<int64_t>(seconds * 1e9);
    std::vector<int64_t> due(screens);
    for (int s = 0; s < screens; ++s) due[s] = t0 + period * s / screens;
    int64_t last_clear = t0;

    auto send = [&](int s) {
        Stream& st = *rec.streams[s];
        const uint32_t i = st.sent.load(std::memory_order_relaxed);
        st.signalled[i] = now_ns();
        st.sent.store(i + 1, std::memory_order_release);
        m.driver().queue_packet(s, st.x, st.y, kMoveReport);
    };
    auto idle = [&](int s) {
        Stream& st = *rec.streams[s];
        const uint32_t sent = st.sent.load(std::memory_order_relaxed);
        return st.done.load(std::memory_order_acquire) == sent && sent < capacity;
    };

    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(t0)));
    const ProcessFigures before = process_figures(m, process);
    for (;;) {
        const int64_t now = now_ns();
        if (now >= end) break;
        int64_t next = end;
        for (int s = 0; s < screens; ++s) {
            if (closed) {
                if (idle(s)) send(s);
                continue;
            }
            if (due[s] <= now) {
                // Periods that passed while the feeder itself was late are
                // one chance to send, not several.
                due[s] += ((now - due[s]) / period + 1) * period;
                if (idle(s)) send(s);
                else ++rec.streams[s]->skipped;
            }
            next = std::min(next, due[s]);
        }
        // The machine's own records of the run are not what is measured.
        if (now - last_clear > 20000000) {
            m.trace().clear();
            m.driver().clear_log();
            last_clear = now;
        }
        if (closed) std::this_thread::sleep_for(std::chrono::microseconds(20));
        else std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(next)));
    }
    // The packets still on their way.
    const int64_t give_up = now_ns() + 2000000000;
    for (;;) {
        bool all = true;
        for (auto& st : rec.streams)
            if (st->done.load() != st->sent.load()) all = false;
        if (all || now_ns() > give_up) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const ProcessFigures after = process_figures(m, process);
    m.desktop().set_mouse_observer(nullptr);
    m.trace().clear();
    m.driver().clear_log();

    r.cpu_ns += after.cpu_ns - before.cpu_ns;
    r.wakeups += after.wakeups - before.wakeups;
    r.window_s += static_cast<double>(end - warm) / 1e9;
    for (auto& st : rec.streams) {
        const uint32_t done = st->done.load();
        r.answered += done;
        r.sent += st->sent.load();
        r.skipped += st->skipped;
        for (uint32_t i = 0; i < done; ++i) {
            if (st->signalled[i] < warm || st->signalled[i] >= end) continue;
            samples.push_back(st->latency[i]);
            ++r.delivered;
        }
    }
    r.stray += rec.stray.load();
}

void finish(StreamResult& r, std::vector<int64_t>& samples) {
    std::sort(samples.begin(), samples.end());
    r.p50_us = percentile(samples, 0.50);
    r.p99_us = percentile(samples, 0.99);
    r.max_us = samples.empty() ? 0 : static_cast<double>(samples.back()) / 1000.0;
    r.delivered_per_s = r.window_s > 0 ? static_cast<double>(r.delivered) / r.window_s : 0;
    if (r.answered > 0) {
        r.cpu_us_per_packet = static_cast<double>(r.cpu_ns) / 1000.0 / static_cast<double>(r.answered);
        r.wakeups_per_packet = static_cast<double>(r.wakeups) / static_cast<double>(r.answered);
    }
}

void one_turn(Side side, int screens, double rate_hz, double seconds, std::vector<int64_t>& samples,
              StreamResult& r) {
    if (side == Side::PROGRAM) {
        ProgramRun run(screens);
        register_program_workers(run.machine());
        feed(run.machine(), kProgramProcess, screens, rate_hz, seconds, samples, r);
    } else {
        FloorRun run(screens, screens, side == Side::DESIGN_FLOOR ? FloorKind::DESIGN : FloorKind::BARE);
        feed(run.machine(), kFloorProcess, screens, rate_hz, seconds, samples, r);
    }
}

struct Snapshot {
    ProcessFigures p;
    HeapFigures h;
};

Snapshot snapshot(sim::Machine& m, const char* process) { return {process_figures(m, process), heap_figures()}; }

int worker_count() {
    WorkerList* list = gpWorkers.load();
    return list == nullptr ? 0 : static_cast<int>(list->GetCount());
}

void fill(CycleResult& c, const Snapshot& a, const Snapshot& b) {
    c.threads_before = a.p.threads;
    c.threads_after = b.p.threads;
    c.handles_before = a.p.handles;
    c.handles_after = b.p.handles;
    c.program_heap_before = a.h.program_bytes;
    c.program_heap_after = b.h.program_bytes;
    c.machine_heap_before = a.h.other_bytes;
    c.machine_heap_after = b.h.other_bytes;
}

}  // namespace

nlohmann::ordered_json to_json(const StreamResult& r) {
    nlohmann::ordered_json j;
    j["screens"] = r.screens;
    j["rate_hz"] = r.rate_hz;
    j["sent"] = r.sent;
    j["delivered"] = r.delivered;
    j["skipped"] = r.skipped;
    j["stray"] = r.stray;
    j["window_s"] = r.window_s;
    j["delivered_per_s"] = r.delivered_per_s;
    j["p50_us"] = r.p50_us;
    j["p99_us"] = r.p99_us;
    j["max_us"] = r.max_us;
    j["cpu_us_per_packet"] = r.cpu_us_per_packet;
    j["wakeups_per_packet"] = r.wakeups_per_packet;
    return j;
}

StreamResult measure_streams(Side side, int screens, double rate_hz, double seconds, int turns) {
    StreamResult r;
    r.screens = screens;
    r.rate_hz = rate_hz;
    std::vector<int64_t> samples;
    for (int t = 0; t < turns; ++t) one_turn(side, screens, rate_hz, seconds, samples, r);
    finish(r, samples);
    return r;
}

StreamSides measure_streams_all(int screens, double rate_hz, double seconds, int turns) {
    StreamSides all;
    StreamResult* results[3] = {&all.program, &all.floor, &all.design};
    const Side sides[3] = {Side::PROGRAM, Side::FLOOR, Side::DESIGN_FLOOR};
    std::vector<int64_t> samples[3];
    for (StreamResult* r : results) {
        r->screens = screens;
        r->rate_hz = rate_hz;
    }
    for (int t = 0; t < turns; ++t)
        for (int k = 0; k < 3; ++k) {
            const int s = (t + k) % 3;
            one_turn(sides[s], screens, rate_hz, seconds, samples[s], *results[s]);
        }
    for (int s = 0; s < 3; ++s) finish(*results[s], samples[s]);
    return all;
}

IdleResult measure_idle(bool program, double wall_s) {
    IdleResult r;
    auto measure = [&](sim::Machine& m, const char* process) {
        const ProcessFigures a = process_figures(m, process);
        const uint64_t sim0 = m.now_us();
        const int64_t t0 = now_ns();
        m.advance_ms(10000);
        const int64_t spent = now_ns() - t0;
        const int64_t rest = static_cast<int64_t>(wall_s * 1e9) - spent;
        if (rest > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(rest));
        const ProcessFigures b = process_figures(m, process);
        r.simulated_s = static_cast<double>(m.now_us() - sim0) / 1e6;
        r.wall_s = static_cast<double>(now_ns() - t0) / 1e9;
        r.threads = b.threads;
        r.wakeups = b.wakeups - a.wakeups;
        r.cpu_ms = static_cast<double>(b.cpu_ns - a.cpu_ns) / 1e6;
    };
    if (program) {
        ProgramRun run(33);
        measure(run.machine(), kProgramProcess);
    } else {
        FloorRun run(33, 2 * 33 + 2);
        measure(run.machine(), kFloorProcess);
    }
    return r;
}

WorkerCost measure_worker_cost(bool program) {
    WorkerCost c;
    constexpr int n = 33;
    set_heap_counting(true);
    if (program) {
        ProgramRun run(n);
        const Snapshot a = snapshot(run.machine(), kProgramProcess);
        // The remove-devices signal stops every worker.
        run.machine().driver().signal_remove_devices();
        run.machine().settle();
        run.machine().trace().clear();
        run.machine().driver().clear_log();
        const Snapshot b = snapshot(run.machine(), kProgramProcess);
        c.threads = (a.p.threads - b.p.threads) / double(n);
        c.handles = (a.p.handles - b.p.handles) / double(n);
        c.stack_bytes = static_cast<double>(a.p.stack_committed - b.p.stack_committed) / n;
        c.program_heap_bytes = static_cast<double>(a.h.program_bytes - b.h.program_bytes) / n;
        c.machine_heap_bytes = static_cast<double>(a.h.other_bytes - b.h.other_bytes) / n;
    } else {
        Snapshot a, b;
        {
            FloorRun run(n, n);
            run.machine().trace().clear();
            run.machine().driver().clear_log();
            a = snapshot(run.machine(), kFloorProcess);
            const HeapFigures h = heap_figures();
            a.h = h;
        }
        {
            FloorRun run(0, 0);
            run.machine().trace().clear();
            run.machine().driver().clear_log();
            b = snapshot(run.machine(), kFloorProcess);
        }
        c.threads = (a.p.threads - b.p.threads) / double(n);
        c.handles = (a.p.handles - b.p.handles) / double(n);
        c.stack_bytes = static_cast<double>(a.p.stack_committed - b.p.stack_committed) / n;
        c.program_heap_bytes = static_cast<double>(a.h.program_bytes - b.h.program_bytes) / n;
        c.machine_heap_bytes = static_cast<double>(a.h.other_bytes - b.h.other_bytes) / n;
    }
    set_heap_counting(false);
    return c;
}

CycleResult measure_add_remove(int cycles) {
    CycleResult c;
    c.kind = "add/remove";
    c.cycles = cycles;
    set_heap_counting(true);
    {
        ProgramRun run(1);
        sim::Machine& m = run.machine();
        auto cycle = [&] {
            // Every worker stops; the add-monitor signal's rescan serves the
            // newest touchscreen again, with a new worker.
            m.driver().signal_remove_devices();
            m.settle();
            m.driver().signal_add_monitor();
            m.settle();
        };
        cycle();
        m.trace().clear();
        m.driver().clear_log();
        const Snapshot a = snapshot(m, kProgramProcess);
        for (int i = 0; i < cycles; ++i) {
            cycle();
            if (i % 50 == 49) {
                m.trace().clear();
                m.driver().clear_log();
            }
        }
        m.trace().clear();
        m.driver().clear_log();
        const Snapshot b = snapshot(m, kProgramProcess);
        fill(c, a, b);
        c.workers_after = worker_count();
    }
    set_heap_counting(false);
    return c;
}

CycleResult measure_reassignment(int cycles) {
    CycleResult c;
    c.kind = "reassignment";
    c.cycles = cycles;
    set_heap_counting(true);
    {
        ProgramRun run(1);
        sim::Machine& m = run.machine();
        int monitor = 0;
        auto cycle = [&] {
            // CMD_ASSIGN_MONITOR: touchscreen 0 to the other monitor; its
            // worker stops and a new one starts.
            monitor = 1 - monitor;
            run.command(1, static_cast<LPARAM>(monitor & 0xFFFF));
            m.settle();
        };
        cycle();
        cycle();
        m.trace().clear();
        m.driver().clear_log();
        const Snapshot a = snapshot(m, kProgramProcess);
        for (int i = 0; i < cycles; ++i) {
            cycle();
            if (i % 50 == 49) {
                m.trace().clear();
                m.driver().clear_log();
            }
        }
        if (monitor != 0) cycle();  // back where the baseline was taken
        m.trace().clear();
        m.driver().clear_log();
        const Snapshot b = snapshot(m, kProgramProcess);
        fill(c, a, b);
        c.workers_after = worker_count();
    }
    set_heap_counting(false);
    return c;
}

StartupResult measure_startup(bool program, int screens, int floor_threads, int runs) {
    StartupResult r;
    for (int i = 0; i < runs; ++i) {
        std::atomic<int64_t> first_wait{0};
        std::atomic<int64_t> main_cpu{0};
        const char* process = program ? kProgramProcess : kFloorProcess;
        auto hook = [&first_wait, &main_cpu, process](sim::Machine& m) {
            quiet_machine(m);
            m.set_on_block([&first_wait, &main_cpu, process](const sim::ThreadInfo& t) {
                // The main thread's first wait for messages: the first wait
                // after GetMessageA made the process ready for input. The
                // hook runs on that thread.
                if (first_wait.load() == 0 && t.process == process && t.main && t.process_ready) {
                    first_wait.store(now_ns());
                    timespec ts;
                    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
                    main_cpu.store(int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec);
                }
            });
        };
        int64_t start = 0;
        if (program) {
            ProgramRun run(screens, hook);
            start = run.winmain_ns();
        } else {
            FloorRun run(screens, floor_threads, FloorKind::BARE, hook);
            start = run.main_ns();
        }
        r.ms.push_back(static_cast<double>(first_wait.load() - start) / 1e6);
        r.main_cpu_ms.push_back(static_cast<double>(main_cpu.load()) / 1e6);
    }
    {
        std::vector<double> c = r.main_cpu_ms;
        std::sort(c.begin(), c.end());
        if (!c.empty()) r.median_main_cpu_ms = c[c.size() / 2];
    }
    std::vector<double> s = r.ms;
    std::sort(s.begin(), s.end());
    if (!s.empty()) {
        r.median_ms = s[s.size() / 2];
        r.min_ms = s.front();
        r.max_ms = s.back();
    }
    return r;
}

}  // namespace bench
