// The press-and-hold and live-trace scenarios of scenarios/, played with the
// real program: the mouse input each one makes, at its simulated time, and,
// for the traced run, that every line of debug output tells what the machine
// saw the program do.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "play.h"
#include "platform/win32.h"
#include "scenario.h"
#include "unit_support.h"

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

namespace {

using runner::RunResult;
using sim::TraceEvent;

// One process plays several scenarios: each starts the program afresh.
RunResult RunFile(const std::string& name) {
    unit::ResetProgramGlobals();
    const runner::Scenario sc = runner::load_scenario(std::string(RYK_SCENARIO_DIR) + "/" + name);
    return runner::play(sc, [] {
        static char command_line[] = "";
        return WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
    });
}

long long Int(const TraceEvent& e, const char* name) { return e.fields.at(name).get<long long>(); }

// Cursor positions and mouse input, each with its time in ms:
// "500 cursor 200,300", "500 mouse 9 0,0".
std::vector<std::string> Input(const RunResult& r) {
    std::vector<std::string> out;
    for (const auto& e : r.events) {
        const std::string t = std::to_string(e.t_us / 1000) + " ";
        if (e.ev == "cursor") out.push_back(t + "cursor " + std::to_string(Int(e, "x")) + "," + std::to_string(Int(e, "y")));
        if (e.ev == "mouse")
            out.push_back(t + "mouse " + std::to_string(Int(e, "flags")) + " " + std::to_string(Int(e, "dx")) + "," +
                          std::to_string(Int(e, "dy")));
    }
    return out;
}

struct InputCase {
    const char* file;
    std::vector<std::string> input;
};

class HoldScenario : public ::testing::TestWithParam<InputCase> {};

TEST_P(HoldScenario, MakesThisInput) {
    const RunResult r = RunFile(GetParam().file);
    EXPECT_TRUE(r.protocol_errors.empty());
    EXPECT_TRUE(r.misuse.empty());
    EXPECT_EQ(Input(r), GetParam().input);
}

const InputCase kInputCases[] = {
    {"hold_right_click.toml",
     {"0 cursor 200,300",                                              // the press waits
      "500 cursor 200,300", "500 mouse 9 0,0", "500 mouse 17 0,0", "500 mouse 1 1,1",  // the right click
      // the tap: press and release read together, so the press goes down
      // at the release
      "500 cursor 400,100", "500 cursor 400,100", "500 mouse 2 0,0", "500 cursor 400,100", "500 mouse 4 0,0",
      "500 mouse 1 1,1"}},
    {"hold_released_early.toml",
     {"0 cursor 200,300", "499 cursor 200,300", "499 mouse 2 0,0", "499 cursor 201,301", "499 mouse 4 0,0",
      "499 mouse 1 1,1"}},
    {"hold_drag.toml",
     {"0 cursor 300,300", "200 cursor 300,300", "200 mouse 2 0,0", "200 cursor 320,300", "200 mouse 1 0,0",
      "200 cursor 400,320", "200 mouse 1 0,0", "200 cursor 400,320", "200 mouse 4 0,0", "200 mouse 1 1,1"}},
    {"hold_off.toml",
     {"0 cursor 200,300", "0 mouse 2 0,0", "2000 cursor 201,300", "2000 mouse 1 0,0", "2000 cursor 201,300",
      "2000 mouse 4 0,0", "2000 mouse 1 1,1"}},
    {"hold_worker_stopped.toml", {"0 cursor 200,300"}},
    // Switched off, then right-button mode: each waiting press goes down as
    // the left button at its start when its time runs out, never a right
    // click.
    {"hold_off_or_right_mode_while_waiting.toml",
     {"0 cursor 200,300", "500 cursor 200,300", "500 mouse 2 0,0", "500 cursor 200,300", "500 mouse 4 0,0",
      "500 mouse 1 1,1",  //
      "500 cursor 400,100", "1000 cursor 400,100", "1000 mouse 2 0,0", "1000 cursor 400,100", "1000 mouse 4 0,0",
      "1000 mouse 1 1,1"}},
    // The held touch's release is lost twice: a far tap at once, and a near
    // tap after the hold time, are each a left click.
    {"hold_release_lost.toml",
     {"0 cursor 200,300", "500 cursor 200,300", "500 mouse 9 0,0", "500 mouse 17 0,0", "500 mouse 1 1,1",
      "500 cursor 400,100", "500 cursor 400,100", "500 mouse 2 0,0", "500 cursor 400,100", "500 mouse 4 0,0",
      "500 mouse 1 1,1",  //
      "500 cursor 600,400", "1000 cursor 600,400", "1000 mouse 9 0,0", "1000 mouse 17 0,0", "1000 mouse 1 1,1",
      "1600 cursor 601,400", "1600 cursor 601,400", "1600 mouse 2 0,0", "1600 cursor 601,400", "1600 mouse 4 0,0",
      "1600 mouse 1 1,1"}},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, HoldScenario, ::testing::ValuesIn(kInputCases),
                         [](const ::testing::TestParamInfo<InputCase>& p) {
                             std::string n = p.param.file;
                             return n.substr(0, n.find('.'));
                         });

std::vector<std::string> DebugLines(const RunResult& r) {
    std::vector<std::string> out;
    for (const auto& e : r.events)
        if (e.ev == "debug_output") out.push_back(e.fields.at("text").get<std::string>());
    return out;
}

// What the program's trace line for a machine event must begin with; empty
// for events the program does not trace.
std::string ExpectedLine(const TraceEvent& e) {
    char buf[256];
    if (e.ev == "cursor") {
        std::snprintf(buf, sizeof buf, "RykXyLdr: cursor x=%lld y=%lld\n", Int(e, "x"), Int(e, "y"));
        return buf;
    }
    if (e.ev == "mouse") {
        std::snprintf(buf, sizeof buf, "RykXyLdr: mouse flags=%lld dx=%lld dy=%lld\n", Int(e, "flags"), Int(e, "dx"),
                      Int(e, "dy"));
        return buf;
    }
    if (e.ev == "ioctl") {
        std::snprintf(buf, sizeof buf, "RykXyLdr: ioctl code=%s thread=%lld ok=%d wTouchscreen=",
                      e.fields.at("code").get<std::string>().c_str(), Int(e, "thread"),
                      e.fields.at("ok").get<bool>() ? 1 : 0);
        return buf;
    }
    if (e.ev == "broadcast") {
        std::snprintf(buf, sizeof buf, "RykXyLdr: broadcast message=%s wparam=%lld lparam=%lld\n",
                      e.fields.at("message").get<std::string>().c_str(), Int(e, "wparam"), Int(e, "lparam"));
        return buf;
    }
    return "";
}

TEST(TraceScenario, EveryEventHasItsLineUntilTheTraceIsSwitchedOff) {
    const RunResult r = RunFile("trace_on.toml");
    ASSERT_TRUE(r.protocol_errors.empty());
    ASSERT_TRUE(r.misuse.empty());

    // The line of a cursor or mouse event comes just before it, the line of
    // a request or a broadcast just after it, from the same thread.
    bool bTraceOn = true;
    size_t nChecked = 0;
    for (size_t i = 0; i < r.events.size(); ++i) {
        const TraceEvent& e = r.events[i];
        if (e.ev == "step" && e.fields.at("action") == "command" && e.fields.at("args").at("wparam") == 3) {
            // CMD_REFRESH_LIST after "Trace" was set to 0: the settings are
            // read first, so no line from here on.
            bTraceOn = false;
        }
        const std::string want = ExpectedLine(e);
        if (want.empty() || !bTraceOn) continue;
        const bool before = e.ev == "cursor" || e.ev == "mouse";
        const TraceEvent* pLine = nullptr;
        for (size_t j = i; before ? j-- > 0 : ++j < r.events.size();) {
            if (r.events[j].ev == "debug_output") {
                pLine = &r.events[j];
                break;
            }
        }
        ASSERT_NE(pLine, nullptr) << "no line for event " << i << " " << e.ev;
        const std::string text = pLine->fields.at("text").get<std::string>();
        EXPECT_EQ(text.substr(0, want.size()), want) << "event " << i;
        ++nChecked;
    }
    EXPECT_GT(nChecked, 0u);

    const std::vector<std::string> lines = DebugLines(r);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(),
              "RykXyLdr: settings key=\"HKEY_LOCAL_MACHINE\\SOFTWARE\\RykXyLdr\" Trace=1 HoldTimeMs=500 HoldRadius=8\n");
    // The hold and its right click are told, and nothing after the refresh.
    bool bHeld = false;
    for (const auto& l : lines) bHeld = bHeld || l.rfind("RykXyLdr: hold action=right-click x=200 y=200", 0) == 0;
    EXPECT_TRUE(bHeld);
    EXPECT_EQ(lines.back().rfind("RykXyLdr: command message=RykPlexor4683 wparam=3 lparam=32768", 0), 0u);
    for (const auto& l : lines) {
        EXPECT_EQ(l.back(), '\n');
        EXPECT_EQ(l.find('\n'), l.size() - 1) << l;
    }
}

TEST(TraceScenario, BadSettingsAreRejectedWithTheirReason) {
    const RunResult r = RunFile("settings_bad.toml");
    ASSERT_TRUE(r.protocol_errors.empty());
    ASSERT_TRUE(r.misuse.empty());
    std::vector<std::string> rejected;
    for (const auto& l : DebugLines(r))
        if (l.rfind("RykXyLdr: settings rejected=", 0) == 0) rejected.push_back(l);
    const std::vector<std::string> want = {
        "RykXyLdr: settings rejected=HoldTimeMs type=REG_SZ cbData=4 range=100..5000: press-and-hold off\n",
        "RykXyLdr: settings rejected=HoldTimeMs value=50 range=100..5000: press-and-hold off\n",
        "RykXyLdr: settings rejected=HoldTimeMs type=REG_BINARY cbData=8 range=100..5000: press-and-hold off\n",
        "RykXyLdr: settings rejected=HoldRadius value=1000 range=0..200: press-and-hold off\n",
        "RykXyLdr: settings rejected=HoldRadius type=REG_BINARY cbData=4 range=0..200: press-and-hold off\n",
        // A trace that was on says why it ends.
        "RykXyLdr: settings rejected=Trace value=2 range=0..1: trace off\n",
    };
    EXPECT_EQ(rejected, want);

    // Every press before the last went down at once; the last one, with
    // every value good again, was held into a right click.
    size_t nLeftDown = 0, nRightDown = 0;
    for (const auto& e : r.events) {
        if (e.ev != "mouse") continue;
        if (Int(e, "flags") == MOUSEEVENTF_LEFTDOWN) ++nLeftDown;
        if (Int(e, "flags") == (MOUSEEVENTF_MOVE | MOUSEEVENTF_RIGHTDOWN)) ++nRightDown;
    }
    EXPECT_EQ(nLeftDown, 5u);
    EXPECT_EQ(nRightDown, 1u);
    // "Trace" 2 switched the trace off: its rejection is the last line.
    const std::vector<std::string> lines = DebugLines(r);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), want.back());
}

}  // namespace
