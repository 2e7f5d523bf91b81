// Shared pieces of the hot-plug, calibration and control-message tests: the
// whole program run as a process of the simulated machine, a fixture that
// ends the program's watcher threads and forgets its hot-plug handles
// between tests, and readers for what the machine recorded (driver requests
// by name, broadcasts, message boxes, open handles, the worker list).
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "hotplug/calibration.h"
#include "hotplug/signals.h"
#include "registry.h"
#include "touch/workers.h"
#include "unit_support.h"

namespace unit {

inline DWORD StartRykXyLdr(sim::Machine& m) {
    return m.start_process("RykXyLdr", [] {
        return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
    });
}

inline HWND ProgramWindow(sim::Machine& m) { return m.find_window("RykXyLdrAppClass"); }

// Another program posts to RykXyLdr's window; the machine then settles.
inline void PostToProgram(sim::Machine& m, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = ProgramWindow(m);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(m.post_from_outside(hwnd, message, wParam, lParam));
    m.settle();
}

inline void PostCommand(sim::Machine& m, WPARAM wParam, LPARAM lParam) {
    UINT msg = m.registered_message("RykPlexor4683");
    ASSERT_NE(msg, 0u);
    PostToProgram(m, msg, wParam, lParam);
}

inline void CloseRykXyLdr(sim::Machine& m) { PostToProgram(m, WM_CLOSE, 0, 0); }

// Kernel handles open in the whole machine.
inline size_t OpenHandles(sim::Machine& m) {
    return m.open_handles().size();
}

// Driver requests from request number `from_seq` on (1 is the first), by
// name, e.g. "REQ_CLEAR_EVENT".
inline std::vector<std::string> RequestNames(sim::Machine& m, uint64_t from_seq = 1) {
    std::vector<std::string> names;
    for (const Request& r : m.driver().requests())
        if (r.seq >= from_seq) names.push_back(r.name);
    return names;
}

inline uint64_t NextRequestSeq(sim::Machine& m) {
    auto all = m.driver().requests();
    return all.empty() ? 1 : all.back().seq + 1;
}

// A field of a recorded request by its layout name.
inline int64_t FieldOf(const Request& r, const std::string& name) {
    for (const auto& f : r.fields)
        if (f.name == name) return f.value;
    ADD_FAILURE() << r.name << " has no field " << name;
    return -1;
}

// (wParam, lParam) of every broadcast of "Quavel4683", in order.
inline std::vector<std::pair<uint64_t, int64_t>> QuavelBroadcasts(sim::Machine& m) {
    std::vector<std::pair<uint64_t, int64_t>> out;
    for (const auto& e : m.trace().events("broadcast"))
        if (e.fields["message"] == "Quavel4683")
            out.emplace_back(e.fields["wparam"].get<uint64_t>(), e.fields["lparam"].get<int64_t>());
    return out;
}

// Message boxes with this text.
inline size_t MessageBoxes(sim::Machine& m, const std::string& text) {
    size_t n = 0;
    for (const auto& e : m.trace().events("msgbox"))
        if (e.fields["text"] == text) ++n;
    return n;
}

// The command lines of every process start attempt, in order.
inline std::vector<std::string> Launches(sim::Machine& m) {
    std::vector<std::string> out;
    for (const auto& e : m.trace().events("launch")) out.push_back(e.fields["command_line"].get<std::string>());
    return out;
}

// (iMonitor, iTouchscreen) of every node of gpWorkers, in list order. Only
// while the program's main thread waits for messages.
inline std::vector<std::pair<LONG, LONG>> WorkerPairs() {
    std::vector<std::pair<LONG, LONG>> out;
    if (gpWorkers == nullptr) return out;
    WorkerListGuard guard(gpWorkers.load());
    if (!gpWorkers.load()->MoveFirst()) return out;
    do {
        out.emplace_back(gpWorkers.load()->GetCurrent()->iMonitor, gpWorkers.load()->GetCurrent()->iTouchscreen);
    } while (gpWorkers.load()->MoveNext());
    return out;
}

// A machine per test, as MachineTest gives it; the program's watcher threads
// that a test started directly are ended before the machine is checked and
// destroyed.
class HotplugTest : public MachineTest {
protected:
    void SetUp() override { ResetProgramGlobals(); }
    void TearDown() override {
        if (booted_) EndWatchers();
        MachineTest::TearDown();
    }
    sim::Machine& BootMachine(sim::Config config = sim::Config(), const std::vector<TouchscreenConfig>& screens = {}) {
        booted_ = true;
        return Boot(std::move(config), screens);
    }

private:
    bool booted_ = false;
};

}  // namespace unit
