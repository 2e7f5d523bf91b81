#include "instructions.h"

#include <valgrind/callgrind.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>

#include "app/commands.h"
#include "desktop.h"
#include "driver/protocol.h"
#include "harness.h"
#include "machine.h"
#include "registry.h"
#include "orvane/driver.h"
#include "settings/program_settings.h"
#include "touch/translate.h"
#include "trace.h"

namespace bench {

namespace {

// The functions whose threads are counted: collection is switched on when a
// thread enters one and stays on while it runs there, which is for as long as
// the thread lives. Every thread of the program and of the design floor
// starts in one of them.
const char* const kCountedFunctions[] = {
    "WinMain",           "TouchPacketThread*", "QuickTouchThread*", "AddMonWatcher*",
    "RemoveWatcher*",    "CalExitWatcher*",    "*FloorMain*",       "*DesignFloorThread*",
};

// The Win32 functions that the counted threads call while they handle
// packets or idle. An instruction inside one of them is the simulated
// machine's; one outside is the program's own (or the floor's).
const char* const kWin32Functions[] = {
    "WaitForMultipleObjects", "WaitForSingleObject", "EnterCriticalSection", "LeaveCriticalSection",
    "DeviceIoControl",        "SetCursorPos",        "mouse_event",          "GetTickCount",
    "GetCurrentThreadId",     "GetLastError",        "SetLastError",         "SetEvent",
    "GetMessageA",            "DispatchMessageA",    "PostMessageA",
};

constexpr const char* kTag = "rykxy";
constexpr const char* kNotCounted = "";  // dumped as "-"
constexpr const char* kIdle = "idle second, 33 touchscreens";

// ------------------------------------------------------------ the plan

FloorCall Cursor() { return FloorCall{}; }
FloorCall CursorAt(LONG x, LONG y) {
    FloorCall c;
    c.op = FloorCall::CURSOR_AT;
    c.x = x;
    c.y = y;
    return c;
}
FloorCall Mouse(DWORD flags, LONG dx = 0, LONG dy = 0) {
    FloorCall c;
    c.op = FloorCall::MOUSE;
    c.flags = flags;
    c.x = dx;
    c.y = dy;
    return c;
}
FloorCalls Calls(std::initializer_list<FloorCall> list) {
    FloorCalls c;
    for (const FloorCall& call : list)
        if (c.count < kMaxFloorCalls) c.calls[c.count++] = call;
    return c;
}

// One packet of the plan and the mouse calls RykXyLdr makes for it, which
// the design floor is told to make.
struct Step {
    const char* kind;
    DWORD flags;
    LONG x, y;
    FloorCalls calls;
};

// A unit of packets played over and over: once to warm up, uncounted, then
// `reps` times. Each section starts RykXyLdr and the design floor afresh.
struct Section {
    std::vector<Step> unit;
    int reps;
    bool right_button = false;  // CMD_SET_RIGHT_BUTTON before the packets
    DWORD hold_ms = 0;          // "HoldTimeMs" in the program's key
};

constexpr DWORD kMove = 5;  // a kind other than 0 and 1: press, moves, release
constexpr DWORD kQuick = PKT_QUICKTOUCH | 1;
constexpr LONG kX = 100, kY = 200;        // touchscreen 0's point
constexpr LONG kFarX = kX + 600;          // beyond the quick-touch threshold (200) in X
constexpr DWORD kNudgeFlags = MOUSEEVENTF_MOVE;

std::vector<Section> plan(bool quick) {
    const int scale = quick ? 10 : 1;
    const Step press{"press", kMove, kX, kY, Calls({Cursor(), Mouse(MOUSEEVENTF_LEFTDOWN)})};
    const Step release{"release", kMove | PKT_RELEASE, kX, kY,
                       Calls({Cursor(), Mouse(MOUSEEVENTF_LEFTUP), Mouse(kNudgeFlags, 1, 1)})};
    const Step move{"move", kMove, kX, kY, Calls({Cursor(), Mouse(MOUSEEVENTF_MOVE)})};
    auto unnamed = [](Step s) {
        s.kind = kNotCounted;
        return s;
    };
    auto far_touch = [](LONG from_x, LONG to_x) {
        return Step{"far touch", kQuick | PKT_FARTOUCH, to_x, kY,
                    Calls({CursorAt(from_x, kY), Mouse(BUTTON_LEFT_DOWN), Mouse(BUTTON_LEFT_UP), Mouse(kNudgeFlags, 1, 1),
                           Cursor(), Mouse(BUTTON_LEFT_DOWN), Mouse(kNudgeFlags, 1, 1)})};
    };

    std::vector<Section> out;
    out.push_back({{press, release}, 50 / scale});
    {
        Section s{{unnamed(press)}, 1};
        for (int i = 0; i < 500 / scale; ++i) s.unit.push_back(move);
        s.unit.push_back(unnamed(release));
        out.push_back(s);
    }
    // Quick-touch reports near the last one: the filter, then a zero move.
    out.push_back({{{"quick touch", kQuick, kX, kY, Calls({Cursor(), Mouse(MOUSEEVENTF_MOVE)})}}, 500 / scale});
    // Far from the last one with PKT_FARTOUCH, back and forth.
    out.push_back({{far_touch(kX, kFarX), far_touch(kFarX, kX)}, 250 / scale});
    {
        const char* k = "right-button mode";
        Section s{{{k, kMove, kX, kY, Calls({Cursor(), Mouse(MOUSEEVENTF_RIGHTDOWN)})}}, 30 / scale, true};
        for (int i = 0; i < 8; ++i) s.unit.push_back({k, kMove, kX, kY, Calls({Cursor(), Mouse(MOUSEEVENTF_MOVE)})});
        s.unit.push_back({k, kMove | PKT_RELEASE, kX, kY,
                          Calls({Cursor(), Mouse(MOUSEEVENTF_RIGHTUP), Mouse(kNudgeFlags, 1, 1)})});
        out.push_back(s);
    }
    {
        // A touch that stays within the radius and is released before the
        // time is up: the press waits (the cursor goes to its point), the
        // moves make no input, the release presses at the start and
        // releases.
        const char* k = "press-and-hold on";
        Section s{{{k, kMove, kX, kY, Calls({Cursor()})}}, 30 / scale, false, 500};
        for (int i = 0; i < 8; ++i) s.unit.push_back({k, kMove, kX + 2, kY + 1, Calls({})});
        s.unit.push_back({k, kMove | PKT_RELEASE, kX, kY,
                          Calls({CursorAt(kX, kY), Mouse(MOUSEEVENTF_LEFTDOWN), Cursor(), Mouse(MOUSEEVENTF_LEFTUP),
                                 Mouse(kNudgeFlags, 1, 1)})});
        out.push_back(s);
    }
    return out;
}

// ------------------------------------------------------------ counting

// Dumps the counts collected since the last dump whenever the kind changes,
// named "rykxy|side|kind|packets|mouse calls" ("rykxy|-" for what is not
// counted).
class Dumper {
public:
    explicit Dumper(const char* side) : side_(side) {}
    void begin(const std::string& kind) {
        if (kind == kind_) return;
        flush();
        kind_ = kind;
    }
    void add(uint64_t packets, uint64_t calls) {
        packets_ += packets;
        calls_ += calls;
    }
    void flush() {
        std::string label = kTag;
        if (kind_.empty()) {
            label += "|-";
        } else {
            for (const std::string& field : {std::string(side_), kind_, std::to_string(packets_), std::to_string(calls_)}) {
                label += '|';
                label += field;
            }
        }
        CALLGRIND_DUMP_STATS_AT(label.c_str());
        packets_ = calls_ = 0;
        kind_.clear();
    }

private:
    const char* side_;
    std::string kind_;  // empty: not counted
    uint64_t packets_ = 0, calls_ = 0;
};

void tidy(sim::Machine& m) {
    m.trace().clear();
    m.driver().clear_log();
}

// Plays one packet and returns once every thread of the machine waits again
// (no simulated time passes, so a waiting press-and-hold stays waiting):
// the mouse calls made for it.
uint64_t play(sim::Machine& m, const Step& s) {
    set_floor_calls(0, s.calls);
    m.driver().queue_packet(0, s.x, s.y, s.flags);
    m.quiesce();
    const uint64_t calls = m.trace().count("cursor") + m.trace().count("mouse");
    tidy(m);
    return calls;
}

void play_section(sim::Machine& m, const Section& s, Dumper& d) {
    tidy(m);
    d.begin(kNotCounted);
    for (int r = 0; r <= s.reps; ++r)
        for (const Step& step : s.unit) {
            d.begin(r == 0 ? kNotCounted : step.kind);
            d.add(1, play(m, step));
        }
    d.begin(kNotCounted);
}

void play_idle(sim::Machine& m, Dumper& d) {
    tidy(m);
    d.begin(kNotCounted);
    d.begin(kIdle);
    constexpr int kSeconds = 10;
    m.advance_ms(kSeconds * 1000);
    d.add(kSeconds, m.trace().count("cursor") + m.trace().count("mouse"));
    d.begin(kNotCounted);
}

// ------------------------------------------------------------ reading the dumps

struct Dump {
    std::string label;  // the client request's name
    uint64_t total = 0;
    bool have_total = false;
    uint64_t in_win32 = 0;  // inclusive cost of the calls into kWin32Functions from outside them
};

bool is_win32(const std::string& name) {
    const std::string base = name.substr(0, name.find('('));
    for (const char* f : kWin32Functions)
        if (base == f) return true;
    return false;
}

// Callgrind's format: "fn=(id) name" starts a function's lines ("fn=(id)"
// again later), "cfn=" names the function called by the next "calls=" line,
// whose following cost line is that call's inclusive cost; other cost lines
// are the function's own. With the one event Ir, a cost line's last number is
// the instruction count.
Dump read_dump(const std::string& path) {
    Dump d;
    std::ifstream in(path);
    std::map<std::string, bool> win32_by_id;
    bool caller_win32 = false, callee_win32 = false, after_calls = false;
    auto name_of = [&](const std::string& rest) {
        // "(id) name" or "(id)"
        const size_t close = rest.find(')');
        const std::string id = rest.substr(0, close == std::string::npos ? rest.size() : close + 1);
        if (close != std::string::npos && close + 2 <= rest.size()) win32_by_id[id] = is_win32(rest.substr(close + 2));
        return win32_by_id[id];
    };
    std::string line;
    const std::string trigger = "desc: Trigger: Client Request: ";
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (line.rfind(trigger, 0) == 0) {
            d.label = line.substr(trigger.size());
        } else if (line.rfind("totals:", 0) == 0 || (!d.have_total && line.rfind("summary:", 0) == 0)) {
            d.total = std::strtoull(line.c_str() + line.find(':') + 1, nullptr, 10);
            d.have_total = true;
        } else if (line.rfind("fn=", 0) == 0) {
            caller_win32 = name_of(line.substr(3));
        } else if (line.rfind("cfn=", 0) == 0) {
            callee_win32 = name_of(line.substr(4));
        } else if (line.rfind("calls=", 0) == 0) {
            after_calls = true;
        } else if (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '+' || line[0] == '-' ||
                   line[0] == '*') {
            if (after_calls && callee_win32 && !caller_win32) {
                const size_t last = line.find_last_of(' ');
                if (last != std::string::npos) d.in_win32 += std::strtoull(line.c_str() + last + 1, nullptr, 10);
            }
            after_calls = false;
        }
    }
    return d;
}

std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

}  // namespace

double InstructionCount::program_per_packet() const {
    return program_packets ? static_cast<double>(program_instructions) / static_cast<double>(program_packets) : 0;
}
double InstructionCount::floor_per_packet() const {
    return floor_packets ? static_cast<double>(floor_instructions) / static_cast<double>(floor_packets) : 0;
}
double InstructionCount::program_own_per_packet() const {
    return program_packets ? static_cast<double>(program_own) / static_cast<double>(program_packets) : 0;
}
double InstructionCount::floor_own_per_packet() const {
    return floor_packets ? static_cast<double>(floor_own) / static_cast<double>(floor_packets) : 0;
}

int play_instruction_plan(bool quick) {
    if (!RUNNING_ON_VALGRIND)
        std::fprintf(stderr, "rykxy-bench: --count-instructions counts nothing outside valgrind --tool=callgrind\n");
    const std::vector<Section> sections = plan(quick);
    {
        Dumper d("program");
        for (const Section& s : sections) {
            ProgramRun run(1, [&s](sim::Machine& m) {
                quiet_machine(m);
                if (s.hold_ms != 0) {
                    m.registry().create_key(HKEY_LOCAL_MACHINE, PROGRAM_SETTINGS_KEY);
                    m.registry().set_dword(HKEY_LOCAL_MACHINE, PROGRAM_SETTINGS_KEY, "HoldTimeMs", s.hold_ms);
                }
            });
            if (s.right_button) {
                run.command(CMD_SET_RIGHT_BUTTON, static_cast<LPARAM>(0x10000));
                run.machine().settle();
            }
            play_section(run.machine(), s, d);
        }
        ProgramRun idle(33, quiet_machine);
        play_idle(idle.machine(), d);
    }
    {
        Dumper d("floor");
        for (const Section& s : sections) {
            FloorRun run(1, 1, FloorKind::DESIGN, quiet_machine);
            play_section(run.machine(), s, d);
        }
        FloorRun idle(33, 33, FloorKind::DESIGN, quiet_machine);
        play_idle(idle.machine(), d);
    }
    return 0;
}

std::vector<InstructionCount> run_instruction_count(const std::string& self, const std::string& dir, bool quick,
                                                    std::string* error) {
    namespace fs = std::filesystem;
    if (std::system("command -v valgrind >/dev/null 2>&1") != 0) {
        *error = "valgrind is not installed";
        return {};
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().filename().string().rfind("callgrind.out", 0) == 0) fs::remove(e.path(), ec);
    std::string cmd = "valgrind --tool=callgrind --collect-atstart=no --dump-line=no";
    for (const char* f : kCountedFunctions) {
        cmd += " --toggle-collect=";
        cmd += shell_quote(f);
    }
    cmd += " --callgrind-out-file=";
    cmd += shell_quote(dir + "/callgrind.out");
    cmd += " --log-file=";
    cmd += shell_quote(dir + "/valgrind.log");
    cmd += " ";
    cmd += shell_quote(self);
    cmd += " --count-instructions";
    if (quick) cmd += " --quick";
    if (std::system(cmd.c_str()) != 0) {
        *error = "the callgrind run failed (" + dir + "/valgrind.log)";
        return {};
    }
    std::vector<InstructionCount> counts = read_instruction_counts(dir);
    if (counts.empty()) *error = "the callgrind run left no counts in " + dir;
    return counts;
}

std::vector<InstructionCount> read_instruction_counts(const std::string& dir) {
    namespace fs = std::filesystem;
    // The dumps are callgrind.out.1, .2, ... in the order they were made.
    std::map<long, fs::path> dumps;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        const std::string prefix = "callgrind.out.";
        if (name.rfind(prefix, 0) != 0) continue;
        char* end = nullptr;
        const long n = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (end != nullptr && *end == '\0') dumps[n] = e.path();
    }
    std::vector<InstructionCount> out;
    for (const auto& [n, path] : dumps) {
        const Dump dump = read_dump(path.string());
        const std::string& label = dump.label;
        const bool have_total = dump.have_total;
        const uint64_t total = dump.total;
        // rykxy|side|kind|packets|calls
        std::vector<std::string> f;
        size_t start = 0;
        for (size_t bar; (bar = label.find('|', start)) != std::string::npos; start = bar + 1)
            f.push_back(label.substr(start, bar - start));
        f.push_back(label.substr(start));
        if (f.size() != 5 || f[0] != kTag || !have_total) continue;
        auto it = std::find_if(out.begin(), out.end(), [&](const InstructionCount& c) { return c.kind == f[2]; });
        if (it == out.end()) {
            out.push_back(InstructionCount{});
            out.back().kind = f[2];
            it = out.end() - 1;
        }
        const uint64_t packets = std::strtoull(f[3].c_str(), nullptr, 10);
        const uint64_t calls = std::strtoull(f[4].c_str(), nullptr, 10);
        const uint64_t own = total - std::min(total, dump.in_win32);
        if (f[1] == "program") {
            it->program_packets += packets;
            it->program_instructions += total;
            it->program_own += own;
            it->program_calls += calls;
        } else {
            it->floor_packets += packets;
            it->floor_instructions += total;
            it->floor_own += own;
            it->floor_calls += calls;
        }
    }
    return out;
}

}  // namespace bench
