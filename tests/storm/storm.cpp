// rykxy-storm: a seeded, reproducible stress run of RykXyLdr on the simulated
// machine.
//
//   rykxy-storm [--seed N] [--events N | --minutes M] [--touchscreens N] [--trace FILE]
//               [--verbose]
//
// The machine has two monitors and --touchscreens touchscreens (default 4).
// The program starts, and then, one at a time with the machine settled after
// each, random events arrive: touch packets on random touchscreens (most of
// them; kinds 0, 1, 5, 6 and others, with and without PKT_RELEASE), new
// touchscreens with the add-monitor signal, the remove-devices signal, all
// four commands and other wParams with random parameters (monitors and
// touchscreens out of range among them), list rebuilds, display changes,
// refused driver requests, new quick-touch thresholds and waits. Every so
// many events comes a quiet period: refusals end, every touchscreen gets a
// release, time passes.
//
// Checked at every step: no misuse and no protocol error; every packet the
// program read (REQ_GET_TOUCH answered) yields exactly the mouse input of
// the packet table (touch/packets.h) for the mode at that moment, and a
// packet it did not read yields none (it is counted as dropped: a refused
// read, or a touchscreen not served). At every quiet period: no mouse button
// held, and the program's handle and thread counts are those of the first
// quiet period with the same number of threads (nothing that grows). At the
// end WM_CLOSE must end the program with exit code 0.
//
// The seed is printed first; the same seed plays the same run. Exit status
// 0 when every check held, 1 otherwise (the first fault is printed with the
// seed and event number), 2 for a bad command line.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <random>
#include <string>
#include <vector>

#include "app/commands.h"
#include "hotplug/calibration.h"
#include "desktop.h"
#include "driver/protocol.h"
#include "machine.h"
#include "orvane/driver.h"
#include "platform/win32.h"
#include "touch/packets.h"

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

namespace {

struct Options {
    uint64_t seed = 0;
    uint64_t events = 2000;
    double minutes = 0;  // when > 0, instead of events
    int touchscreens = 4;
    bool verbose = false;
    std::string trace;  // where the trace goes at the first fault
};

struct Mouse {
    std::string what;  // "cursor" or "mouse"
    int64_t a = 0, b = 0, c = 0;
    bool operator==(const Mouse&) const = default;
};

std::string text(const std::vector<Mouse>& v) {
    std::string s;
    for (const auto& m : v)
        s += (s.empty() ? "" : ", ") + m.what + "(" + std::to_string(m.a) + "," + std::to_string(m.b) +
             (m.what == "mouse" ? "," + std::to_string(m.c) : "") + ")";
    return s.empty() ? "nothing" : s;
}

Mouse cursor(int64_t x, int64_t y) { return {"cursor", x, y, 0}; }
Mouse mouse(int64_t flags, int64_t dx = 0, int64_t dy = 0) { return {"mouse", flags, dx, dy}; }

// The mouse input a packet the program read may give (touch/packets.h); two
// choices for a press, which depends on the worker's button state.
// What a touchscreen's worker holds down, as the storm saw it: a release
// lets go of the button that went down, whatever the mode is by then.
enum class Held { none, left, right, unknown };

std::vector<std::vector<Mouse>> expected_input(int32_t x, int32_t y, uint32_t flags, bool right, Held held) {
    const int64_t down_move = MOUSEEVENTF_MOVE | (right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
    const int64_t up_move = MOUSEEVENTF_MOVE | (right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
    const std::vector<Mouse> click = {mouse(down_move), mouse(up_move), mouse(MOUSEEVENTF_MOVE, 1, 1)};
    const uint32_t kind = flags & PKT_KIND;
    const bool release = (flags & PKT_RELEASE) != 0;
    std::vector<Mouse> base = {cursor(x, y)};
    auto with = [&](std::vector<Mouse> tail) {
        std::vector<Mouse> v = base;
        v.insert(v.end(), tail.begin(), tail.end());
        return v;
    };
    if (kind == 0) return {with(click)};
    if (kind == 1) {
        std::vector<Mouse> t = {mouse(MOUSEEVENTF_MOVE)};
        if (release) t.insert(t.end(), click.begin(), click.end());
        return {with(t)};
    }
    if (release) {
        const auto up = [&](bool r) {
            return with({mouse(r ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP), mouse(MOUSEEVENTF_MOVE, 1, 1)});
        };
        switch (held) {
        case Held::left: return {up(false)};
        case Held::right: return {up(true)};
        case Held::none: return {up(right)};
        case Held::unknown: return {up(false), up(true)};
        }
    }
    return {with({mouse(right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN)}), with({mouse(MOUSEEVENTF_MOVE)})};
}

class Storm {
public:
    explicit Storm(const Options& o) : o_(o), rng_(o.seed) {}

    int run();

private:
    template <typename T>
    T pick(T lo, T hi) {
        return std::uniform_int_distribution<T>(lo, hi)(rng_);
    }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    bool fault(const std::string& what) {
        std::cout << "storm: FAULT at event " << n_ << " (seed " << o_.seed << "): " << what << std::endl;
        if (faults_++ == 0 && !o_.trace.empty()) {
            std::ofstream out(o_.trace);
            for (const auto& e : m_->trace().events()) out << sim::Trace::to_json(e).dump() << "\n";
            std::cout << "storm: the trace since the last quiet period is in " << o_.trace << std::endl;
        }
        return false;
    }
    std::vector<sim::MonitorConfig> random_monitors();
    bool touch_event();
    void other_event();
    bool quiet_period();
    bool check_new_events();
    void counts(size_t* handles, size_t* ended, size_t* threads, std::string* kinds = nullptr);
    std::map<size_t, std::string> baseline_kinds_;

    Options o_;
    std::mt19937_64 rng_;
    sim::Machine* m_ = nullptr;
    DWORD pid_ = 0;
    uint64_t n_ = 0;
    size_t seen_ = 0;  // trace events looked at
    size_t seen_misuse_ = 0, seen_errors_ = 0;
    int faults_ = 0;
    uint64_t touches_ = 0, translated_ = 0, dropped_ = 0, quiet_ = 0, others_ = 0;
    // By touchscreen. Anything but a touch may stop a worker, which lets go
    // of its button, or let a worker read a packet that waited: what it
    // holds is then not known for sure until its next press or release.
    std::map<int, Held> held_;
    void forget_held() {
        for (int ts = 0; ts < m_->driver().touchscreen_count(); ++ts) held_[ts] = Held::unknown;
    }
    std::map<size_t, size_t> baseline_;  // threads -> handles at the first quiet period with that many
};

std::vector<sim::MonitorConfig> Storm::random_monitors() {
    std::vector<sim::MonitorConfig> v;
    const int count = pick(1, 3);
    LONG left = 0;
    for (int i = 0; i < count; ++i) {
        const LONG w = pick<LONG>(640, 1600), h = pick<LONG>(480, 1200);
        const LONG top = i == 0 ? 0 : pick<LONG>(-300, 300);
        RECT rc{left, top, left + w, top + h};
        v.push_back({rc, rc});
        left += w;
    }
    return v;
}

void Storm::counts(size_t* handles, size_t* ended, size_t* threads, std::string* kinds) {
    const std::vector<sim::ThreadInfo> all_threads = m_->threads();
    const std::vector<sim::HandleInfo> open = m_->open_handles();
    std::set<DWORD> ended_threads;
    for (const auto& t : all_threads)
        if (t.ended) ended_threads.insert(t.id);
    // Two kinds of handle the program keeps on purpose and within bounds
    // are left out: its handle of "RykCalExitEvent", kept from the first
    // calibration launch on, and the handles of calibration watchers that
    // have ended, collected at the next launch (at most MAX_CAL_WATCHERS;
    // counted in *ended).
    *handles = 0;
    *ended = 0;
    for (const auto& h : open) {
        if (h.name == "RykCalExitEvent") continue;
        if (h.kind == "thread" && ended_threads.count(h.thread_id) != 0) {
            ++*ended;
            continue;
        }
        ++*handles;
    }
    if (kinds) {
        std::map<std::string, int> by;
        for (const auto& h : open) by[h.kind + (h.name.empty() ? "" : " " + h.name)]++;
        for (const auto& [n, c] : by) *kinds += n + " x" + std::to_string(c) + "; ";
    }
    *threads = 0;
    for (const auto& t : all_threads)
        if (t.process_id == pid_ && !t.ended) ++*threads;
}

// Looks at the trace events since the last look: misuse, protocol errors.
bool Storm::check_new_events() {
    const auto misuse = m_->misuse();
    const auto errors = m_->protocol_errors();
    bool ok = true;
    for (size_t i = seen_misuse_; i < misuse.size(); ++i) ok = fault("misuse: " + misuse[i]);
    for (size_t i = seen_errors_; i < errors.size(); ++i) ok = fault("protocol error: " + errors[i]);
    seen_misuse_ = misuse.size();
    seen_errors_ = errors.size();
    return ok;
}

bool Storm::touch_event() {
    sim::orvane::Driver& d = m_->driver();
    const int ts = pick(0, d.touchscreen_count() - 1);
    const auto mons = m_->desktop().monitors();
    const auto& mon = mons[pick<size_t>(0, mons.size() - 1)].rc;
    const int32_t x = pick<int32_t>(mon.left - 20, mon.right + 20);
    const int32_t y = pick<int32_t>(mon.top - 20, mon.bottom + 20);
    static const uint32_t kinds[] = {0, 1, 5, 5, 5, 6, 2, 7, 0x40};
    uint32_t flags = kinds[pick<size_t>(0, std::size(kinds) - 1)];
    if (chance(0.4)) flags |= PKT_RELEASE;

    const bool right = gbRightButton.load() != 0;
    const size_t from = m_->trace().events().size();
    d.queue_packet(ts, x, y, flags);
    m_->settle();
    const auto events = m_->trace().events();
    ++touches_;

    bool read = false;
    std::vector<Mouse> got;
    for (size_t i = from; i < events.size(); ++i) {
        const auto& e = events[i];
        if (e.ev == "ioctl" && e.fields.value("code", "") == "REQ_GET_TOUCH" && e.fields.value("ok", false)) read = true;
        if (e.ev == "cursor") got.push_back(cursor(e.fields["x"].get<int64_t>(), e.fields["y"].get<int64_t>()));
        if (e.ev == "mouse")
            got.push_back(mouse(e.fields["flags"].get<int64_t>(), e.fields["dx"].get<int64_t>(),
                                e.fields["dy"].get<int64_t>()));
    }
    // A packet left in the queue (no worker reads this touchscreen now) is
    // dropped at the next refresh of the queue; one refused is lost.
    if (!read) {
        ++dropped_;
        if (!got.empty()) return fault("a packet that was not read gave mouse input: " + text(got));
        return true;
    }
    ++translated_;
    const auto held = held_.count(ts) ? held_[ts] : Held::none;
    const auto wanted = expected_input(x, y, flags, right, held);
    for (const auto& want : wanted) {
        if (got != want) continue;
        for (const Mouse& e : got) {
            if (e == mouse(MOUSEEVENTF_LEFTDOWN)) held_[ts] = Held::left;
            if (e == mouse(MOUSEEVENTF_RIGHTDOWN)) held_[ts] = Held::right;
        }
        if ((flags & PKT_KIND) > 1 && (flags & PKT_RELEASE)) held_[ts] = Held::none;
        return true;
    }
    std::string wants;
    for (const auto& want : wanted) wants += (wants.empty() ? "" : " or ") + text(want);
    return fault("packet (" + std::to_string(x) + ", " + std::to_string(y) + ") flags " + std::to_string(flags) +
                 " on touchscreen " + std::to_string(ts) + (right ? " in right-button mode" : "") + " gave " +
                 text(got) + ", the table says " + wants);
}

void Storm::other_event() {
    forget_held();
    sim::orvane::Driver& d = m_->driver();
    const HWND w = m_->find_window("RykXyLdrAppClass");
    const UINT cmd = m_->registered_message("RykPlexor4683");
    ++others_;
    int what = pick(0, 29);
    if (what == 1 && chance(0.7)) what = 10;  // remove-devices stops the reading: rarer
    if (what >= 10) {
        // Most often an assignment with a valid monitor and touchscreen,
        // which brings an unassigned touchscreen back.
        if (w && cmd && what < 20) {
            const int monitors = static_cast<int>(m_->desktop().monitors().size());
            m_->post_from_outside(
                w, cmd, CMD_ASSIGN_MONITOR,
                static_cast<LPARAM>((pick(0, d.touchscreen_count() - 1) << 16) | pick(0, monitors - 1)));
            m_->settle();
            return;
        }
        what = pick(2, 9);
    }
    switch (what) {
    case 0:
        if (d.touchscreen_count() < o_.touchscreens + 3) {
            sim::orvane::TouchscreenConfig c;
            c.serial = "TS-S" + std::to_string(d.touchscreen_count());
            c.monitor = pick(-1, 2);
            d.add_touchscreen(c);
            d.signal_add_monitor();
        }
        break;
    case 1: d.signal_remove_devices(); break;
    case 2:
    case 3: {  // a command: the four, others, any parameters
        if (!w || !cmd) break;
        static const WPARAM wparams[] = {CMD_ASSIGN_MONITOR, 2, CMD_REFRESH_LIST, CMD_TOGGLE_RIGHT_BUTTON,
                                         CMD_SET_RIGHT_BUTTON, 0, 6};
        WPARAM wp = chance(0.9) ? wparams[pick<size_t>(0, std::size(wparams) - 1)] : pick<WPARAM>(0, 0xFFFFFFFFu);
        LPARAM lp;
        switch (pick(0, 3)) {
        case 0: lp = static_cast<LPARAM>(static_cast<int32_t>(pick<uint32_t>(0, 0xFFFFFFFFu))); break;
        case 1: lp = static_cast<LPARAM>((pick(0, 8) << 16) | pick(0, 4)); break;  // touchscreen, monitor
        case 2: lp = static_cast<LPARAM>(REFRESH_KEEP_LIST); break;
        default: lp = static_cast<LPARAM>(pick(0, 1) << 16); break;
        }
        m_->post_from_outside(w, cmd, wp, lp);
        break;
    }
    case 4:  // a list rebuild
        if (w && cmd) m_->post_from_outside(w, cmd, CMD_REFRESH_LIST, 0);
        break;
    case 5: m_->desktop().change_display(random_monitors()); break;
    case 6: {  // a refused request; never the enumeration, whose refusal ends the program
        static const uint32_t codes[] = {REQ_GET_TOUCH, REQ_GET_TOUCH, REQ_SET_MONITOR_RECT, REQ_GET_QUICKTOUCH,
                                         REQ_SET_MONITOR_NUMBER, REQ_GET_ALIGNMENT};
        sim::orvane::Refusal r;
        r.times = pick(1, 3);
        if (chance(0.5)) r.touchscreen = pick(0, d.touchscreen_count() - 1);
        if (r.touchscreen >= 0) r.times = pick(1, 2);
        d.refuse(codes[pick<size_t>(0, std::size(codes) - 1)], r);
        break;
    }
    case 7: d.set_quick_touch(pick(0, d.touchscreen_count() - 1), pick(0, 400), pick(0, 400)); break;
    default: m_->advance_ms(pick<uint64_t>(1, 500)); break;
    }
    m_->settle();
}

bool Storm::quiet_period() {
    forget_held();
    ++quiet_;
    sim::orvane::Driver& d = m_->driver();
    d.clear_refusals();
    for (int i = 0; i < d.touchscreen_count(); ++i) {
        if (d.queued_packets(i) > 0) continue;  // not served now: a release would only wait
        d.queue_packet(i, 10, 10, 5 | PKT_RELEASE);
        m_->settle();
    }
    m_->advance_ms(2000);
    m_->settle();
    bool ok = check_new_events();
    const auto b = m_->desktop().buttons();
    if (b.left || b.right || b.middle) ok = fault("a mouse button is held after the quiet period");
    size_t handles = 0, ended = 0, threads = 0;
    std::string kinds;
    counts(&handles, &ended, &threads, &kinds);
    if (ended > static_cast<size_t>(MAX_CAL_WATCHERS))
        ok = fault(std::to_string(ended) + " handles of ended threads are open (" + kinds + ")");
    auto [it, first] = baseline_.emplace(threads, handles);
    if (first) baseline_kinds_[threads] = kinds;
    if (!first && handles != it->second)
        ok = fault("after a quiet period with " + std::to_string(threads) + " threads the machine has " +
                   std::to_string(handles) + " handles open (" + kinds + "), at the first such period " +
                   std::to_string(it->second) + " (" + baseline_kinds_[threads] + ")");
    if (o_.verbose)
        std::cout << "storm: quiet period " << quiet_ << " at event " << n_ << ": " << threads << " threads, "
                  << handles << " handles" << std::endl;
    return ok;
}

int Storm::run() {
    sim::Config cfg;
    cfg.monitors = {{{0, 0, 1024, 768}, {0, 0, 1024, 768}}, {{1024, 0, 2048, 768}, {1024, 0, 2048, 768}}};
    sim::Machine m(cfg);
    m_ = &m;
    for (int i = 0; i < o_.touchscreens; ++i) {
        sim::orvane::TouchscreenConfig c;
        c.serial = "TS-000" + std::to_string(i + 1);
        c.monitor = i % 2;
        m.driver().add_touchscreen(c);
    }
    sim::ProgramSpec quavel;
    quavel.sets_exit_event_after_ms = 50;
    m.install_program(cfg.system_directory + "\\Quavel.exe", quavel);

    pid_ = m.start_process("RykXyLdr.exe", [] {
        static char command_line[] = "";
        return WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
    });
    m.settle();
    if (m.process_ended(pid_)) {
        fault("the program ended at start-up with exit code " + std::to_string(m.process_exit_code(pid_)));
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    auto done = [&] {
        if (o_.minutes > 0)
            return std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(o_.minutes * 60);
        return n_ >= o_.events;
    };
    // Trace events pile up; the run keeps only counts, so the trace is
    // cleared at each quiet period.
    while (!done() && faults_ == 0) {
        ++n_;
        if (n_ % 200 == 0) {
            quiet_period();
            m.trace().clear();
            continue;
        }
        if (chance(0.75))
            touch_event();
        else
            other_event();
        check_new_events();
        if (m.process_ended(pid_)) {
            fault("the program ended during the storm with exit code " + std::to_string(m.process_exit_code(pid_)));
            break;
        }
    }
    if (faults_ == 0) {
        quiet_period();
        if (HWND w = m.find_window("RykXyLdrAppClass")) m.post_from_outside(w, WM_CLOSE, 0, 0);
        m.settle();
        if (!m.process_ended(pid_))
            fault("the program did not end at WM_CLOSE");
        else if (m.process_exit_code(pid_) != 0)
            fault("the program ended with exit code " + std::to_string(m.process_exit_code(pid_)));
        check_new_events();
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("storm: seed %llu, %llu events in %.1f s (%.2f min, %.1f s simulated): %llu touches, %llu translated, "
                "%llu dropped, %llu other events, %llu quiet periods, %d fault(s)\n",
                static_cast<unsigned long long>(o_.seed), static_cast<unsigned long long>(n_), secs, secs / 60,
                static_cast<double>(m.now_us()) / 1e6, static_cast<unsigned long long>(touches_),
                static_cast<unsigned long long>(translated_), static_cast<unsigned long long>(dropped_),
                static_cast<unsigned long long>(others_), static_cast<unsigned long long>(quiet_), faults_);
    return faults_ == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::cerr << "rykxy-storm: " << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--seed")
            o.seed = std::strtoull(next(), nullptr, 0);
        else if (a == "--events")
            o.events = std::strtoull(next(), nullptr, 0);
        else if (a == "--minutes")
            o.minutes = std::atof(next());
        else if (a == "--touchscreens")
            o.touchscreens = std::max(1, std::min(8, std::atoi(next())));
        else if (a == "--trace")
            o.trace = next();
        else if (a == "--verbose" || a == "-v")
            o.verbose = true;
        else {
            std::cerr << "usage: rykxy-storm [--seed N] [--events N | --minutes M] [--touchscreens N] [--trace FILE] "
                         "[--verbose]\n";
            return 2;
        }
    }
    std::cout << "storm: seed " << o.seed << " (replay with --seed " << o.seed << ")" << std::endl;
    return Storm(o).run();
}
