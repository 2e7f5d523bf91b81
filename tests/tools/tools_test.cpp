// RykXyCtl against a stand-in for RykXyLdr whose answers a test chooses:
// the answer is matched to the command, foreign broadcasts are passed over,
// no answer ends in exit code 3, and the answer window exists before the
// command is posted. RykXyProbe run again and again while the real RykXyLdr
// serves touches and sends change brackets for display changes, and once
// while another program holds a change bracket open: the driver finds no
// breach, and the probe sends only read requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/tool.h"
#include "ctl/ctl.h"
#include "desktop.h"
#include "driver/protocol.h"
#include "machine.h"
#include "orvane/driver.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "probe/probe.h"
#include "registry.h"

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

namespace {

struct ToolRun {
    bool ended = false;
    DWORD exit_code = 0;
    std::string output;
    std::vector<DWORD> threads;
};

ToolRun RunTool(sim::Machine& m, const std::string& name, const std::string& args, int (*main)()) {
    ToolRun r;
    const DWORD pid = m.start_console_process(name + ".exe", name + ".exe " + args, main);
    m.settle();
    r.ended = m.process_ended(pid);
    r.exit_code = r.ended ? m.process_exit_code(pid) : 0;
    r.output = m.process_output(pid);
    r.threads = m.process_thread_ids(pid);
    return r;
}

// ------------------------------------------------------------------ a stand-in for RykXyLdr

// What the stand-in broadcasts for each command it gets: pairs of (registered
// message, wParam, lParam).
struct Broadcast {
    const char* message;
    WPARAM wparam;
    LPARAM lparam;
};
std::vector<Broadcast> g_answers;
bool g_quit_after_answer = false;  // as RykXyLdr after a rebuild that found no touchscreen
bool g_answer_window_seen = false;
UINT g_plexor = 0;

LRESULT CALLBACK StandInProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == g_plexor && g_plexor != 0) {
        g_answer_window_seen = FindWindowA("RykXyCtlAnswer", nullptr) != nullptr;
        for (const Broadcast& b : g_answers)
            PostMessageA(HWND_BROADCAST, RegisterWindowMessageA(b.message), b.wparam, b.lparam);
        if (g_quit_after_answer) PostQuitMessage(2);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

int StandIn() {
    g_plexor = RegisterWindowMessageA("RykPlexor4683");
    WNDCLASSA wc = {};
    wc.lpfnWndProc = StandInProc;
    wc.lpszClassName = "RykXyLdrAppClass";
    RegisterClassA(&wc);
    CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
    return 0;
}

struct AnswerCase {
    const char* name;
    std::string args;
    std::vector<Broadcast> answers;
    DWORD exit_code;
    const char* says;
    bool quits = false;  // the stand-in ends after its answer
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class CtlAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(CtlAnswers, AreMatchedToTheCommand) {
    const AnswerCase& c = GetParam();
    g_answers = c.answers;
    g_quit_after_answer = c.quits;
    g_answer_window_seen = false;
    sim::Machine m;
    m.start_process("RykXyLdr.exe", StandIn);
    m.settle();
    const ToolRun r = RunTool(m, "RykXyCtl", c.args, RykXyCtlMain);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_TRUE(g_answer_window_seen) << "the command came before RykXyCtl's answer window existed";
    EXPECT_TRUE(m.misuse().empty());
}

const AnswerCase kAnswers[] = {
    {"AssignDone", "assign 1 0", {{"Quavel4683", 2, 0}}, 0, "serves touchscreen 0 on monitor 1."},
    {"AssignFailed", "assign 1 0", {{"Quavel4683", 2, 1}}, 1, "could not serve touchscreen 0 on monitor 1"},
    {"AssignPassesOverForeignBroadcasts", "assign 1 0",
     {{"Quavel4683", 3, 0}, {"Quavel4683", 2, 7}, {"SomethingElse", 2, 0}, {"Quavel4683", 2, 1}}, 1,
     "could not serve"},
    {"RefreshTakesOnlyItsOwnAnswer", "refresh", {{"Quavel4683", 2, 1}, {"Quavel4683", 2, 0}}, 0,
     "rebuilt its touchscreen list"},
    {"RefreshKeepAnsweredLikeRefresh", "refresh --keep", {{"Quavel4683", 2, 0}}, 0, "kept its touchscreen list"},
    {"NoAnswerInTime", "--timeout 250 refresh", {}, 3, "No answer from RykXyLdr within 250 ms."},
    {"RefreshAnsweredByAProgramThatThenEnded", "refresh", {{"Quavel4683", 2, 0}}, 4,
     "RykXyLdr answered and then ended: its window is gone. The driver gave no touchscreen", true},
    {"AssignAnsweredByAProgramThatThenEnded", "assign 1 0", {{"Quavel4683", 2, 0}}, 4,
     "RykXyLdr answered and then ended: its window is gone.\r\n", true},
    {"OnlyAnswersThatDoNotFitTheCommand", "refresh --timeout 40", {{"Quavel4683", 2, 1}, {"Quavel4683", 1, 0}}, 3,
     "No answer from RykXyLdr within 40 ms."},
};
INSTANTIATE_TEST_SUITE_P(StandIn, CtlAnswers, ::testing::ValuesIn(kAnswers),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CtlAnswers, RightButtonWaitsForNothing) {
    g_answers.clear();
    g_quit_after_answer = false;
    sim::Machine m;
    m.start_process("RykXyLdr.exe", StandIn);
    m.settle();
    const uint64_t before = m.now_us();
    const ToolRun r = RunTool(m, "RykXyCtl", "right-button off", RykXyCtlMain);
    EXPECT_EQ(r.exit_code, 0u) << r.output;
    EXPECT_EQ(m.now_us(), before) << "right-button has no answer to wait for";
}

// ------------------------------------------------------------------ RykXyCtl's own failures

struct OwnFailureCase {
    const char* name;
    const char* function;  // fails at its first call by RykXyCtl
    std::string args;
    const char* says;
};

void PrintTo(const OwnFailureCase& c, std::ostream* os) { *os << c.name; }

class CtlOwnFailures : public ::testing::TestWithParam<OwnFailureCase> {};

TEST_P(CtlOwnFailures, AreReportedAsItsOwnNotAsRykXyLdrNotRunning) {
    const OwnFailureCase& c = GetParam();
    g_answers = {{"Quavel4683", 2, 0}};
    g_quit_after_answer = false;
    sim::Machine m;
    m.start_process("RykXyLdr.exe", StandIn);
    m.settle();
    m.set_failing_process("RykXyCtl.exe");
    m.fail_call(c.function, m.call_counts()[c.function] + 1);  // the stand-in's calls were counted
    const ToolRun r = RunTool(m, "RykXyCtl", c.args, RykXyCtlMain);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exit_code, 5u) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("not running"), std::string::npos) << r.output;
}

const OwnFailureCase kOwnFailures[] = {
    {"AnswerWindow", "CreateWindowExA", "refresh",
     "RykXyCtl could not send the command: CreateWindowExA of its answer window failed (error 8)."},
    {"RegisteredMessage", "RegisterWindowMessageA", "assign 0 0",
     "RykXyCtl could not send the command: RegisterWindowMessageA failed"},
    {"PostOfAssign", "PostMessageA", "assign 0 0",
     "RykXyCtl could not send the command: PostMessageA to RykXyLdr's window failed (error 1816)."},
    {"PostOfRightButton", "PostMessageA", "right-button on",
     "RykXyCtl could not send the command: PostMessageA to RykXyLdr's window failed (error 1816)."},
};
INSTANTIATE_TEST_SUITE_P(StandIn, CtlOwnFailures, ::testing::ValuesIn(kOwnFailures),
                         [](const auto& p) { return std::string(p.param.name); });

// ------------------------------------------------------------------ command lines

struct UsageCase {
    const char* name;
    std::string args;
    const char* says;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class CtlUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CtlUsage, IsRefusedBeforeAnythingIsSent) {
    const UsageCase& c = GetParam();
    g_answers = {{"Quavel4683", 2, 0}};
    sim::Machine m;
    m.start_process("RykXyLdr.exe", StandIn);
    m.settle();
    const size_t broadcasts = m.trace().count("broadcast");
    const ToolRun r = RunTool(m, "RykXyCtl", c.args, RykXyCtlMain);
    EXPECT_EQ(r.exit_code, 64u) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_EQ(m.trace().count("broadcast"), broadcasts) << "a command was sent";
}

const UsageCase kUsage[] = {
    {"NoCommand", "", "no command given"},
    {"MonitorNotANumber", "assign one 0", "MONITOR must be a number from 0 to 65535, not \"one\""},
    {"MonitorNegative", "assign -1 0", "unknown option \"-1\""},
    {"TouchscreenTooLarge", "assign 0 65536", "TOUCHSCREEN must be a number from 0 to 65535, not \"65536\""},
    {"AssignWithOneNumber", "assign 0", "assign needs MONITOR and TOUCHSCREEN"},
    {"AssignWithThreeNumbers", "assign 0 0 0", "the first one not understood is \"0\""},
    {"TimeoutWithoutValue", "refresh --timeout", "--timeout needs a number"},
    {"TimeoutZero", "--timeout 0 refresh", "--timeout takes milliseconds from 1 to 3600000, not \"0\""},
    {"KeepOnAssign", "assign 0 0 --keep", "--keep belongs to refresh, not to \"assign\""},
    {"QuotedWordWithBlank", "\"right button\" on", "unknown command \"right button\""},
    {"EscapedQuote", "right-button \\\"on\\\"", "right-button takes on, off or toggle, not \"\"on\"\""},
};
TEST(CommandLine, ToolsSplitItAsTheProgramsStartUpDoes) {
    const char* const lines[] = {
        "RykXyCtl.exe right-button \"o\"\"n\"",         // "" inside quotes
        "C:\\dir\\\"x y\"\\RykXyCtl.exe status",        // a quote inside the program's name
        "\"C:\\Program Files\\RykXyCtl.exe\" assign 1 2",
        "p a\\\\\"b c\" \\\"d",
    };
    for (const char* line : lines) {
        ryktool::Args a;
        ryktool::SplitCommandLine(line, &a);
        std::string buffer(std::string(line).size() + 1, '\0');
        std::vector<char*> argv(64, nullptr);
        const int n = ::SplitCommandLine(line, buffer.data(), argv.data(), static_cast<int>(argv.size()));
        ASSERT_EQ(a.argc, n) << line;
        for (int i = 0; i < n; ++i) EXPECT_STREQ(a.argv[i], argv[i]) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(CommandLine, CtlUsage, ::testing::ValuesIn(kUsage),
                         [](const auto& p) { return std::string(p.param.name); });

// ------------------------------------------------------------------ the program's own settings

struct ProgramSettingsCase {
    const char* name;
    std::vector<std::pair<const char*, sim::RegValue>> values;  // under SOFTWARE\RykXyLdr; none: no key
    std::vector<const char*> text;  // in the text output
    std::vector<const char*> json;  // in the --json output
};

void PrintTo(const ProgramSettingsCase& c, std::ostream* os) { *os << c.name; }

sim::RegValue Dword(DWORD v) {
    return {REG_DWORD, {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                        static_cast<BYTE>(v >> 24)}};
}

class ProbeProgramSettings : public ::testing::TestWithParam<ProgramSettingsCase> {};

TEST_P(ProbeProgramSettings, ShowEachValueWhatIsInEffectAndAFindingForEachRejectedOne) {
    const ProgramSettingsCase& c = GetParam();
    sim::Machine m;
    for (const auto& [name, value] : c.values)
        m.registry().set_value(HKEY_LOCAL_MACHINE, "SOFTWARE\\RykXyLdr", name, value.type, value.bytes);
    const ToolRun text = RunTool(m, "RykXyProbe", "", RykXyProbeMain);
    for (const char* want : c.text) EXPECT_NE(text.output.find(want), std::string::npos) << want << "\n" << text.output;
    const ToolRun json = RunTool(m, "RykXyProbe", "--json", RykXyProbeMain);
    for (const char* want : c.json) EXPECT_NE(json.output.find(want), std::string::npos) << want << "\n" << json.output;
    EXPECT_TRUE(m.misuse().empty());
}

const ProgramSettingsCase kProgramSettings[] = {
    {"NoKey",
     {},
     {"Program settings: HKEY_LOCAL_MACHINE\\SOFTWARE\\RykXyLdr (no key: every value missing)",
      "  HoldTimeMs: missing (the default)", "  in effect: press-and-hold off, trace off"},
     {"\"program_settings\":{\"path\":\"SOFTWARE\\\\RykXyLdr\",\"readable\":false,\"error\":2,",
      "\"trace\":false,\"hold_time_ms\":0,\"hold_radius\":8}"}},
    {"AllInRange",
     {{"HoldTimeMs", Dword(500)}, {"HoldRadius", Dword(12)}, {"Trace", Dword(1)}},
     {"  Trace: 1 (REG_DWORD, 4 bytes; in effect)", "  HoldTimeMs: 500 (REG_DWORD, 4 bytes; in effect)",
      "  HoldRadius: 12 (REG_DWORD, 4 bytes; in effect)",
      "  in effect: press-and-hold after 500 ms within 12 pixels, trace on"},
     {"{\"name\":\"HoldTimeMs\",\"state\":\"ok\",\"type\":\"REG_DWORD\",\"size\":4,\"value\":500,\"in_effect\":true}",
      "\"trace\":true,\"hold_time_ms\":500,\"hold_radius\":12}"}},
    {"HoldTimeBelowItsRange",
     {{"HoldTimeMs", Dword(50)}},
     {"  HoldTimeMs: 50 (REG_DWORD, 4 bytes; rejected, outside 0 or 100 to 5000: press-and-hold off)",
      "HoldTimeMs in HKEY_LOCAL_MACHINE\\SOFTWARE\\RykXyLdr is 50, outside 0 or 100 to 5000, so RykXyLdr rejects "
      "it: press-and-hold off; make it a REG_DWORD from 0 or 100 to 5000, or delete it."},
     {"{\"name\":\"HoldTimeMs\",\"state\":\"bad_range\",\"type\":\"REG_DWORD\",\"size\":4,\"value\":50,"
      "\"in_effect\":false}",
      "{\"kind\":\"program_setting\",\"touchscreen\":null,\"text\":\"HoldTimeMs in"}},
    {"BadRadiusTurnsAGoodHoldTimeOff",
     {{"HoldTimeMs", Dword(500)}, {"HoldRadius", Dword(300)}},
     {"  HoldTimeMs: 500 (REG_DWORD, 4 bytes; not in effect: HoldRadius is rejected)",
      "  HoldRadius: 300 (REG_DWORD, 4 bytes; rejected, outside 0 to 200: press-and-hold off)",
      "  in effect: press-and-hold off, trace off", "HoldRadius in HKEY_LOCAL_MACHINE\\SOFTWARE\\RykXyLdr is 300"},
     {"\"value\":500,\"in_effect\":false}", "\"hold_time_ms\":0,\"hold_radius\":8}"}},
    {"RadiusAsLargeAsADwordGoes",
     {{"HoldRadius", Dword(0xFFFFFFFFu)}},
     {"  HoldRadius: 4294967295 (REG_DWORD, 4 bytes; rejected, outside 0 to 200: press-and-hold off)"},
     {"\"value\":4294967295,"}},
    {"WrongTypeAndSize",
     {{"Trace", {REG_SZ, {'1', 0}}}, {"HoldTimeMs", {REG_BINARY, {0xF4, 0x01, 0, 0, 0}}}},
     {"  Trace: a REG_SZ of 2 bytes (rejected, not a REG_DWORD of 4 bytes: trace off)",
      "  HoldTimeMs: a REG_BINARY of 5 bytes (rejected, not a REG_DWORD of 4 bytes: press-and-hold off)",
      "Trace in HKEY_LOCAL_MACHINE\\SOFTWARE\\RykXyLdr is a REG_SZ of 2 bytes, not a REG_DWORD of 4 bytes, so "
      "RykXyLdr rejects it: trace off; make it a REG_DWORD from 0 to 1, or delete it."},
     {"{\"name\":\"Trace\",\"state\":\"bad_type\",\"type\":\"REG_SZ\",\"size\":2,\"in_effect\":false}",
      "{\"name\":\"HoldTimeMs\",\"state\":\"bad_type\",\"type\":\"REG_BINARY\",\"size\":5,"}},
};
INSTANTIATE_TEST_SUITE_P(Registry, ProbeProgramSettings, ::testing::ValuesIn(kProgramSettings),
                         [](const auto& p) { return std::string(p.param.name); });

// ------------------------------------------------------------------ the probe beside the real program

TEST(ProbeBesideRykXyLdr, OnlyReadsWhileRykXyLdrServesTouchesAndChangesMonitors) {
    sim::Config cfg;
    const std::vector<sim::MonitorConfig> two = {{{0, 0, 1024, 768}, {0, 0, 1024, 768}},
                                                 {{1024, 0, 2048, 768}, {1024, 0, 2048, 768}}};
    const std::vector<sim::MonitorConfig> moved = {{{0, 0, 1024, 768}, {0, 0, 1024, 740}},
                                                   {{-1024, 0, 0, 768}, {-1024, 0, 0, 768}}};
    cfg.monitors = two;
    sim::Machine m(cfg);
    for (int i = 0; i < 2; ++i) {
        sim::orvane::TouchscreenConfig ts;
        ts.serial = i == 0 ? "TS-0001" : "TS-0002";
        ts.monitor = i;
        ts.registry_path = "Enum\\Ryk\\" + ts.serial;
        m.driver().add_touchscreen(ts);
    }
    sim::Registry& reg = m.registry();
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";
    reg.create_key(HKEY_LOCAL_MACHINE, key);
    const std::pair<const char*, DWORD> settings[] = {
        {"MouseMode", 6},        {"BeepFlag", 1},     {"BeepTime", 20},     {"BeepFreq", 4000},
        {"DefaultDragDelay", 200}, {"MinDragDelay", 0}, {"MaxDragDelay", 1000}, {"NumberOfTouchscreens", 2},
        {"NumXScreens", 1},      {"NumYScreens", 1}};
    for (const auto& [name, value] : settings) reg.set_dword(HKEY_LOCAL_MACHINE, key, name, value);
    reg.set_binary(HKEY_LOCAL_MACHINE, key, "CplLanguage", {0, 0});
    for (const char* serial : {"TS-0001", "TS-0002"}) {
        const std::string path = std::string("Enum\\Ryk\\") + serial;
        reg.create_key(HKEY_LOCAL_MACHINE, path);
        reg.set_string(HKEY_LOCAL_MACHINE, path, "SerialNumber", serial);
    }
    const DWORD app = m.start_process("RykXyLdr.exe", [] {
        static char none[] = "";
        return WinMain(GetModuleHandleA(nullptr), nullptr, none, SW_SHOWDEFAULT);
    });
    m.settle();
    ASSERT_FALSE(m.process_ended(app));
    const size_t writes = m.trace().count("regwrite");

    for (int round = 0; round < 12; ++round) {
        // Started together: the program's brackets for the new monitor
        // rectangles, its packet reads and the probe's reads meet in the
        // driver in whatever order the threads run.
        const DWORD probe = m.start_console_process("RykXyProbe.exe", "RykXyProbe.exe --json", RykXyProbeMain);
        m.desktop().change_display(round % 2 ? two : moved);
        m.driver().queue_packet(0, 10, 10, 5);
        m.driver().queue_packet(1, 20, 20, 5 | PKT_RELEASE);
        m.settle();
        ASSERT_TRUE(m.process_ended(probe));
        EXPECT_EQ(m.process_exit_code(probe), 0u) << m.process_output(probe);
        const std::vector<DWORD> threads = m.process_thread_ids(probe);
        for (const auto& rq : m.driver().requests()) {
            if (std::find(threads.begin(), threads.end(), rq.thread) == threads.end()) continue;
            EXPECT_TRUE(rq.code == REQ_GET_TOUCHSCREEN || rq.code == REQ_GET_ALIGNMENT ||
                        rq.code == REQ_GET_QUICKTOUCH)
                << rq.name;
        }
    }
    EXPECT_EQ(m.trace().count("regwrite"), writes);
    EXPECT_TRUE(m.protocol_errors().empty()) << m.protocol_errors().front();
    EXPECT_TRUE(m.misuse().empty()) << m.misuse().front();
    EXPECT_FALSE(m.process_ended(app));
    m.post_from_outside(m.find_window("RykXyLdrAppClass"), WM_CLOSE, 0, 0);
    m.settle();
}

// A program that holds a change bracket open the way RykXyLdr's
// SendMonitorRect brackets its request, but waits inside it until the test
// lets it go: REQ_BEGIN_CHANGE for touchscreen 0, then (once "RykTestGo" is
// set) REQ_SET_MONITOR_RECT and REQ_END_CHANGE.
int BracketHolder() {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "RykTestGo");
    HANDLE dev = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    DWORD n = 0;
    RequestHeader h = {};
    h.wTag2 = REQ_TAG;
    DeviceIoControl(dev, REQ_BEGIN_CHANGE, &h, sizeof h, &h, sizeof h, &n, nullptr);
    WaitForSingleObject(go, INFINITE);
    MonitorRectRequest r = {};
    r.header.wTag2 = REQ_TAG;
    r.iRight = 1024;
    r.iBottom = 768;
    DeviceIoControl(dev, REQ_SET_MONITOR_RECT, &r, sizeof r, &r, sizeof r, &n, nullptr);
    RequestHeader e = {};
    e.wTag2 = REQ_TAG;
    DeviceIoControl(dev, REQ_END_CHANGE, &e, sizeof e, &e, sizeof e, &n, nullptr);
    CloseHandle(dev);
    CloseHandle(go);
    return 0;
}

TEST(ProbeBesideRykXyLdr, ReadsInsideAnotherProgramsOpenBracketAreNoBreach) {
    sim::Machine m;
    sim::orvane::TouchscreenConfig ts;
    ts.serial = "TS-0001";
    ts.monitor = 0;
    m.driver().add_touchscreen(ts);
    const DWORD app = m.start_process("RykXyLdr.exe", [] {
        static char none[] = "";
        return WinMain(GetModuleHandleA(nullptr), nullptr, none, SW_SHOWDEFAULT);
    });
    m.settle();
    const DWORD holder = m.start_process("Holder.exe", BracketHolder);
    m.settle();
    ASSERT_EQ(m.driver().open_brackets().size(), 1u);

    const size_t first = m.driver().requests().size();
    const ToolRun r = RunTool(m, "RykXyProbe", "", RykXyProbeMain);
    ASSERT_TRUE(r.ended);
    const auto requests = m.driver().requests();
    size_t reads = 0;
    for (size_t i = first; i < requests.size(); ++i) {
        if (std::find(r.threads.begin(), r.threads.end(), requests[i].thread) == r.threads.end()) continue;
        ++reads;
        EXPECT_TRUE(requests[i].code == REQ_GET_TOUCHSCREEN || requests[i].code == REQ_GET_ALIGNMENT ||
                    requests[i].code == REQ_GET_QUICKTOUCH)
            << requests[i].name;
    }
    EXPECT_EQ(reads, 4u) << "two enumeration requests, the alignment and the quick-touch values";
    EXPECT_EQ(m.driver().open_brackets().size(), 1u) << "the bracket is still the holder's alone";

    HANDLE go = OpenEventA(EVENT_MODIFY_STATE, FALSE, "RykTestGo");
    SetEvent(go);
    CloseHandle(go);
    m.settle();
    EXPECT_TRUE(m.process_ended(holder));
    EXPECT_TRUE(m.driver().open_brackets().empty());
    EXPECT_TRUE(m.protocol_errors().empty()) << m.protocol_errors().front();
    EXPECT_TRUE(m.misuse().empty()) << m.misuse().front();
    m.post_from_outside(m.find_window("RykXyLdrAppClass"), WM_CLOSE, 0, 0);
    m.settle();
    EXPECT_TRUE(m.process_ended(app));
}

}  // namespace
