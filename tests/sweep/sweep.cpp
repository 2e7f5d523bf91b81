// rykxy-sweep: plays a scenario again and again with one fault on cue each
// time, and checks that the program copes with every one of them.
//
//   rykxy-sweep [--kind refusal|win32] [--expected FILE] [--timeout S] [--every N] [--verbose] SCENARIO...
//
// A first run of the scenario counts the driver requests it makes and the
// program's failure-capable Win32 calls by function. Then:
//   refusal  for each request position P: one run with the request in
//            position P refused ("request-P"), and one with it and every
//            later request refused ("request-P-onward");
//   win32    for each such function F and each of its calls N: one run with
//            that call failed ("F-N"), and one with it and every later call
//            of F failed ("F-N-onward"; not for F's last call).
// Every run must end on its own or at the WM_CLOSE after the last step
// (nothing stuck in simulated time, nothing hanging in real time), with no
// misuse of the API (which includes a thread left running at the end), no
// protocol error, no mouse button held, an exit code of the program's
// documented set (0 to 8), and, after a normal end (exit code 0 or 2, which
// go through the full shutdown), no event of the program still held by the
// driver.
//
// --every N plays only every N-th case (the first, the N+1-th, ...), for the
// slow sanitizer builds. Each run happens in a child process of its own, so that a crash or a hang
// is one failed case, and the program's globals start fresh.
//
// FILE lists the cases expected to fail for now, one a line:
//   SCENARIO KIND CASE-PATTERN [FAULT-TEXT]  # reason
// CASE-PATTERN is a shell pattern ("CreateWindowExA-*"); FAULT-TEXT, when
// given, must occur in every fault the case shows, so that an entry covers
// only the fault it names. Expected failures are counted apart; an entry
// that no case needed any more is reported, so that the list can be
// emptied.
//
// Exit status: 0 when every case held or failed as expected, 1 otherwise,
// 2 for a bad command line or scenario.
#include <fnmatch.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "play.h"
#include "platform/win32.h"
#include "program_globals.h"
#include "scenario.h"

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

namespace {

using Json = nlohmann::json;

int program_main() {
    static char command_line[] = "";
    // Each start is a new process (a `restart` step starts it again).
    support::ResetProgramGlobals();
    return WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
}

// What a child reports of its run.
Json summarise(const runner::RunResult& r) {
    Json j;
    j["ended"] = r.ended;
    j["exit"] = r.exit_code;
    j["misuse"] = r.misuse;
    j["protocol_errors"] = r.protocol_errors;
    Json b = Json::array();
    if (r.buttons.left) b.push_back("left");
    if (r.buttons.right) b.push_back("right");
    if (r.buttons.middle) b.push_back("middle");
    j["buttons"] = b;
    // The quick-touch event stays with the driver by design: there is no
    // request that withdraws it.
    Json held = Json::array();
    for (const auto& e : r.driver_events)
        if (e.rfind("quick-touch", 0) != 0) held.push_back(e);
    j["driver_events"] = held;
    // A withdrawal the driver refused leaves its event there; the program
    // cannot do more.
    bool clear_refused = false;
    for (const auto& e : r.events)
        if (e.ev == "ioctl" && e.fields.value("code", "") == "REQ_CLEAR_EVENT" && !e.fields.value("ok", true))
            clear_refused = true;
    j["clear_refused"] = clear_refused;
    j["requests"] = r.driver_requests;
    j["calls"] = r.calls;
    return j;
}

// Plays `sc` in a child process. Returns the child's summary, or an object
// with "crash" when the child did not report.
Json play_in_child(const runner::Scenario& sc, int timeout_s) {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("rykxy-sweep: pipe");
        std::exit(2);
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("rykxy-sweep: fork");
        std::exit(2);
    }
    if (pid == 0) {
        close(fds[0]);
        const std::string out = summarise(runner::play(sc, program_main)).dump();
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(fds[1]);
        std::exit(0);
    }
    close(fds[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    bool timed_out = false;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int pr = poll(&p, 1, static_cast<int>(left.count()));
        if (pr < 0) continue;
        if (pr == 0) {
            timed_out = true;
            break;
        }
        char buf[4096];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (timed_out) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    Json j;
    if (timed_out) {
        j["crash"] = "no end within " + std::to_string(timeout_s) + " s of real time (a hang)";
        return j;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        j["crash"] = WIFSIGNALED(status) ? "the run died of signal " + std::to_string(WTERMSIG(status))
                                         : "the run's process ended with status " + std::to_string(WEXITSTATUS(status));
        return j;
    }
    try {
        return Json::parse(text);
    } catch (const std::exception&) {
        j["crash"] = "the run reported nothing readable";
        return j;
    }
}

// The faults of one run against the checks; empty when it held.
std::vector<std::string> check(const Json& j) {
    std::vector<std::string> f;
    if (j.contains("crash")) {
        f.push_back(j["crash"].get<std::string>());
        return f;
    }
    if (!j["ended"].get<bool>()) f.push_back("the program did not end (stuck)");
    for (const auto& m : j["misuse"]) f.push_back("misuse: " + m.get<std::string>());
    for (const auto& e : j["protocol_errors"]) {
        // The harness's own: a step that places a touch across a
        // touchscreen that the program never gave a rectangle (because of
        // the fault) cannot be played; that is not the program's doing.
        if (e.get<std::string>().rfind("queue_touch_at:", 0) == 0) continue;
        f.push_back("protocol error: " + e.get<std::string>());
    }
    for (const auto& b : j["buttons"]) f.push_back("mouse button held: " + b.get<std::string>());
    const auto code = j["exit"].get<uint64_t>();
    if (j["ended"].get<bool>() && code > 8) f.push_back("exit code " + std::to_string(code) + " is not one of 0..8");
    if (j["ended"].get<bool>() && (code == 0 || code == 2) && !j["clear_refused"].get<bool>())
        for (const auto& e : j["driver_events"])
            f.push_back("after a normal end the driver still holds the " + e.get<std::string>() + " event");
    return f;
}

struct Case {
    std::string id;  // "request 5 onward", "CreateThread 2"
    runner::Scenario sc;
};

struct Expected {
    std::string scenario, kind, pattern, fault, reason;
    bool seen_fail = false;
};

std::vector<Expected> read_expected(const std::string& path) {
    std::vector<Expected> out;
    std::ifstream in(path);
    if (!in) {
        std::cerr << "rykxy-sweep: cannot read " << path << "\n";
        std::exit(2);
    }
    std::string line;
    while (std::getline(in, line)) {
        std::string reason;
        if (auto hash = line.find('#'); hash != std::string::npos) {
            reason = line.substr(hash + 1);
            line = line.substr(0, hash);
        }
        std::istringstream s(line);
        Expected e;
        if (!(s >> e.scenario >> e.kind >> e.pattern)) continue;
        std::getline(s, e.fault);
        const auto a = e.fault.find_first_not_of(" \t");
        const auto b = e.fault.find_last_not_of(" \t");
        e.fault = a == std::string::npos ? "" : e.fault.substr(a, b - a + 1);
        e.reason = reason;
        out.push_back(e);
    }
    return out;
}

std::string base_name(const std::string& path) {
    std::string n = path.substr(path.find_last_of('/') + 1);
    if (auto dot = n.rfind(".toml"); dot != std::string::npos) n = n.substr(0, dot);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    std::string kind = "refusal", expected_path;
    bool verbose = false;
    int timeout_s = 120;
    size_t every = 1;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--kind" && i + 1 < argc)
            kind = argv[++i];
        else if (a == "--expected" && i + 1 < argc)
            expected_path = argv[++i];
        else if (a == "--timeout" && i + 1 < argc)
            timeout_s = std::atoi(argv[++i]);
        else if (a == "--every" && i + 1 < argc)
            every = static_cast<size_t>(std::max(1, std::atoi(argv[++i])));
        else if (a == "--verbose" || a == "-v")
            verbose = true;
        else if (!a.empty() && a[0] == '-') {
            std::cerr << "usage: rykxy-sweep [--kind refusal|win32] [--expected FILE] [--timeout S] [--every N] [--verbose] "
                         "SCENARIO...\n";
            return 2;
        } else
            files.push_back(a);
    }
    if (files.empty() || (kind != "refusal" && kind != "win32")) {
        std::cerr << "usage: rykxy-sweep [--kind refusal|win32] [--expected FILE] [--timeout S] [--every N] [--verbose] "
                     "SCENARIO...\n";
        return 2;
    }
    std::vector<Expected> expected;
    if (!expected_path.empty()) expected = read_expected(expected_path);

    uint64_t total_run = 0, total_held = 0, total_expected = 0, total_failed = 0;
    for (const auto& file : files) {
        runner::Scenario base;
        try {
            base = runner::load_scenario(file);
        } catch (const runner::ScenarioError& e) {
            std::cerr << "rykxy-sweep: " << e.what() << "\n";
            return 2;
        }
        const std::string name = base_name(file);
        const Json first = play_in_child(base, timeout_s);
        if (first.contains("crash")) {
            std::cout << name << ": the scenario itself fails: " << first["crash"].get<std::string>() << "\n";
            ++total_failed;
            continue;
        }

        std::vector<Case> cases;
        if (kind == "refusal") {
            const auto n = first["requests"].get<uint64_t>();
            for (uint64_t p = 1; p <= n; ++p)
                for (bool onward : {false, true}) {
                    Case c{"request-" + std::to_string(p) + (onward ? "-onward" : ""), base};
                    runner::RefusalRule r;
                    r.request = "any";
                    r.rule.position = p;
                    r.rule.onward = onward;
                    c.sc.refusals.push_back(r);
                    cases.push_back(std::move(c));
                }
        } else {
            for (const auto& [function, count] : first["calls"].items())
                for (uint64_t n = 1; n <= count.get<uint64_t>(); ++n)
                    for (bool onward : {false, true}) {
                        // The last call failed "onward" is that call failed.
                        if (onward && n == count.get<uint64_t>()) continue;
                        Case c{function + "-" + std::to_string(n) + (onward ? "-onward" : ""), base};
                        c.sc.failures.push_back({function, n, onward});
                        cases.push_back(std::move(c));
                    }
        }

        uint64_t run = 0, held = 0, as_expected = 0, failed = 0;
        for (size_t ci = 0; ci < cases.size(); ci += every) {
            const Case& c = cases[ci];
            const auto faults = check(play_in_child(c.sc, timeout_s));
            ++run;
            Expected* ex = nullptr;
            for (auto& e : expected) {
                if (e.scenario != name || e.kind != kind || fnmatch(e.pattern.c_str(), c.id.c_str(), 0) != 0) continue;
                bool covers = !faults.empty();
                for (const auto& f : faults) covers = covers && f.find(e.fault) != std::string::npos;
                if (covers) ex = &e;
            }
            if (faults.empty()) {
                ++held;
                if (verbose) std::cout << name << " " << c.id << ": held\n";
                continue;
            }
            if (ex) {
                ++as_expected;
                ex->seen_fail = true;
                if (verbose)
                    std::cout << name << " " << c.id << ": failed as expected (" << ex->reason << "): " << faults[0]
                              << "\n";
                continue;
            }
            ++failed;
            std::cout << name << " " << c.id << ": FAILED\n";
            for (const auto& f : faults) std::cout << "    " << f << "\n";
        }
        std::cout << name << ": " << kind << " pairs run " << run << ", held " << held;
        if (as_expected) std::cout << ", failed as expected " << as_expected;
        if (failed) std::cout << ", FAILED " << failed;
        std::cout << "\n";
        total_run += run;
        total_held += held;
        total_expected += as_expected;
        total_failed += failed;
    }
    for (const auto& e : expected)
        if (!e.seen_fail && e.kind == kind)
            for (const auto& f : files)
                if (base_name(f) == e.scenario)
                    std::cout << "note: expected failure no longer seen: " << e.scenario << " " << e.kind << " "
                              << e.pattern << "\n";
    std::cout << "total: " << kind << " pairs run " << total_run << ", held " << total_held << ", failed as expected "
              << total_expected << ", failed " << total_failed << "\n";
    return total_failed == 0 ? 0 : 1;
}
