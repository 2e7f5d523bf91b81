// Playing scenarios against a stand-in program, and reading a run's trace
// for the picture, and the picture's SVG writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/protocol.h"
#include "fake_program.h"
#include "picture.h"
#include "play.h"
#include "scenario.h"
#include "svg.h"

namespace {

using runner::Mark;
using runner::play;
using runner::RunResult;
using sim::TraceEvent;

RunResult RunScenario(const std::string& text) { return play(runner::parse_scenario(text, "t.toml"), fake::Program); }

std::vector<TraceEvent> Events(const RunResult& r, const std::string& ev) {
    std::vector<TraceEvent> out;
    for (const auto& e : r.events)
        if (e.ev == ev) out.push_back(e);
    return out;
}

const std::string kOneScreen = "[[touchscreen]]\nserial = \"TS-1\"\nmonitor = 0\n";

// ------------------------------------------------------------------ ending

struct EndCase {
    const char* name;
    std::string text;
    DWORD exit_code;
    bool runner_closes;  // the program still ran after the last step
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class ProgramEnd : public testing::TestWithParam<EndCase> {};

TEST_P(ProgramEnd, ExitCodeAndWhoEndedIt) {
    const EndCase& c = GetParam();
    const RunResult r = RunScenario(c.text);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(Events(r, "end").size(), c.runner_closes ? 1u : 0u);
    ASSERT_FALSE(r.events.empty());
    EXPECT_EQ(r.events.back().ev, "exit");
    EXPECT_EQ(r.events.back().fields["code"], c.exit_code);
    EXPECT_TRUE(r.protocol_errors.empty());
    EXPECT_TRUE(r.misuse.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ProgramEnd,
    testing::Values(EndCase{"SecondInstance", "[machine]\nexisting_objects = [\"RykXyLdrAppMutex\"]\n" + kOneScreen, 0, false},
                    EndCase{"NoDriver", "[machine]\ndriver = false\n", 1, false},
                    // A refusal in force before the start meets the first request.
                    EndCase{"RefusedAtStart", kOneScreen + "[[refuse]]\nrequest = \"REQ_GET_TOUCHSCREEN\"\ntimes = 1\n", 2,
                            false},
                    EndCase{"ClosedAfterTheSteps", kOneScreen + "[[step]]\nwait_ms = 20\n", 0, true},
                    EndCase{"CloseStep", kOneScreen + "[[step]]\nclose = true\n[[step]]\nwait_ms = 20\n", 0, false}),
    [](const testing::TestParamInfo<EndCase>& i) { return std::string(i.param.name); });

// ------------------------------------------------------------------ stimuli

TEST(Stimuli, CommandReachesTheWindowAsAnotherProgramSendsIt) {
    const RunResult r = RunScenario(kOneScreen +
                            "[[step]]\ncommand = { wparam = 1, lparam = 0x00010000 }\n"
                            "[[step]]\ncommand = { wparam = 5, lparam = 0xFFFF0000 }\n"
                            "[[step]]\ncommand = { wparam = 3, lparam = -1 }\n");
    const auto got = Events(r, "fake_command");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].fields["wparam"], 1);
    EXPECT_EQ(got[0].fields["lparam"], 0x00010000);
    EXPECT_EQ(got[1].fields["wparam"], 5);
    EXPECT_EQ(got[1].fields["lparam"], -65536);  // a 32-bit LPARAM, as Windows hands it over
    EXPECT_EQ(got[2].fields["lparam"], -1);
}

TEST(Stimuli, TapIsPressThenReleaseAtOnePoint) {
    const RunResult r = RunScenario(kOneScreen + "[[step]]\ntap = { screen = 0, x = 300, y = 200 }\n" +
                            "[[step]]\ntouch = { screen = 0, x = 40, y = 50, kind = 1, quick = true, far = true }\n");
    std::vector<std::tuple<int64_t, int64_t, int64_t>> packets;
    for (const auto& e : Events(r, "ioctl"))
        if (e.fields["code"] == "REQ_GET_TOUCH" && e.fields["ok"] == true)
            packets.emplace_back(e.fields["iX"], e.fields["iY"], e.fields["dwFlags"]);
    using P = std::tuple<int64_t, int64_t, int64_t>;
    EXPECT_EQ(packets, (std::vector<P>{P{300, 200, 5}, P{300, 200, 0x105}, P{40, 50, 0x281}}));

    const auto steps = Events(r, "step");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].fields["n"], 1);
    EXPECT_EQ(steps[0].fields["action"], "tap");
    EXPECT_EQ(steps[0].fields["x"], 300);
    EXPECT_FALSE(steps[0].fields.contains("warning"));
}

TEST(Stimuli, TouchAcrossTheScreenLandsWhereTheStepSays) {
    // Touchscreen 0 has the primary monitor (0,0)-(1024,768); touchscreen 1
    // never gets a rectangle, so its (u, v) cannot be placed: the step says
    // so and the driver records the error, once for the whole tap.
    const RunResult r = RunScenario(kOneScreen + "[[touchscreen]]\nserial = \"TS-2\"\n" +
                                    "[[step]]\ntap = { screen = 0, at = [0.25, 1] }\n" +
                                    "[[step]]\ntap = { screen = 1, at = [0.5, 0.5] }\n");
    const auto steps = Events(r, "step");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].fields["x"], 256);  // 0.25 * 1023, rounded
    EXPECT_EQ(steps[0].fields["y"], 767);
    EXPECT_FALSE(steps[0].fields.contains("warning"));
    std::vector<std::pair<int64_t, int64_t>> packets;
    for (const auto& e : Events(r, "ioctl"))
        if (e.fields["code"] == "REQ_GET_TOUCH" && e.fields["ok"] == true) packets.emplace_back(e.fields["iX"], e.fields["iY"]);
    using P = std::pair<int64_t, int64_t>;
    EXPECT_EQ(packets, (std::vector<P>{P{256, 767}, P{256, 767}}));

    EXPECT_TRUE(steps[1].fields.contains("warning"));
    EXPECT_FALSE(steps[1].fields.contains("x"));
    EXPECT_EQ(r.protocol_errors.size(), 1u);
}

// ------------------------------------------------------------------ the picture's reading of a trace

TraceEvent Cursor(int x, int y) { return {0, "cursor", {{"x", x}, {"y", y}}}; }
TraceEvent Mouse(DWORD flags, int dx = 0, int dy = 0) { return {0, "mouse", {{"flags", flags}, {"dx", dx}, {"dy", dy}}}; }
TraceEvent Box(const char* text) { return {0, "msgbox", {{"text", text}, {"caption", "C"}, {"style", 0}}}; }

std::string Describe(const std::vector<Mark>& marks) {
    std::string out;
    for (const auto& m : marks) {
        static const char* const kinds[] = {"position", "click", "drag", "held", "release_only", "message_box"};
        out += std::to_string(m.number) + ":" + kinds[static_cast<int>(m.kind)];
        if (m.button) out += std::string(" ") + m.button;
        for (const auto& p : m.points) out += " " + std::to_string(p.x) + "," + std::to_string(p.y);
        if (!m.text.empty()) out += " " + m.text;
        out += "; ";
    }
    return out;
}

struct MarkCase {
    const char* name;
    std::vector<TraceEvent> events;
    std::string marks;
};

void PrintTo(const MarkCase& c, std::ostream* os) { *os << c.name; }

class Marks : public testing::TestWithParam<MarkCase> {};

TEST_P(Marks, FromTrace) {
    const RECT primary{0, 0, 1024, 768};
    EXPECT_EQ(Describe(runner::find_marks(GetParam().events, primary)), GetParam().marks);
}

constexpr DWORD kDown = MOUSEEVENTF_LEFTDOWN, kUp = MOUSEEVENTF_LEFTUP, kMove = MOUSEEVENTF_MOVE;

INSTANTIATE_TEST_SUITE_P(
    Picture, Marks,
    testing::Values(
        // A tap: press and release at one point, then the nudge.
        MarkCase{"Click",
                 {Cursor(10, 20), Mouse(kDown), Cursor(10, 20), Mouse(kUp), Mouse(kMove, 1, 1)},
                 "1:click L 10,20; "},
        MarkCase{"ClickWithMoveFlags", {Cursor(5, 6), Mouse(kMove | kDown), Mouse(kMove | kUp)}, "1:click L 5,6; "},
        MarkCase{"Drag",
                 {Cursor(10, 20), Mouse(kDown), Cursor(30, 20), Cursor(30, 40), Mouse(kUp), Mouse(kMove, 1, 1)},
                 "1:drag L 10,20 30,20 30,40; "},
        MarkCase{"PositionsOnly", {Cursor(1, 2), Mouse(kMove), Cursor(1, 2), Cursor(3, 4)}, "1:position 1,2; 2:position 3,4; "},
        MarkCase{"RightButton",
                 {Cursor(7, 8), Mouse(MOUSEEVENTF_RIGHTDOWN), Mouse(MOUSEEVENTF_RIGHTUP)},
                 "1:click R 7,8; "},
        MarkCase{"NeverReleased", {Cursor(1, 1), Mouse(kDown), Cursor(9, 9)}, "1:held L 1,1 9,9; "},
        MarkCase{"ReleaseWithoutPress", {Cursor(4, 4), Mouse(kUp)}, "1:release_only L 4,4; "},
        // Numbers follow the order in which things began.
        MarkCase{"Order",
                 {Cursor(1, 1), Box("a"), Cursor(2, 2), Mouse(kDown), Mouse(kUp), Cursor(3, 3)},
                 "1:position 1,1; 2:message_box 1,1 \"C\": a; 3:click L 2,2; 4:position 3,3; "},
        // Absolute moves run 0..65535 across the primary monitor.
        MarkCase{"AbsoluteMove",
                 {Mouse(kMove | MOUSEEVENTF_ABSOLUTE | kDown, 32768, 16384), Mouse(kUp)},
                 "1:click L 512,192; "},
        // A click at the last point, then the button held at the new one.
        MarkCase{"FarTouch",
                 {Cursor(100, 100), Mouse(kMove | kDown), Mouse(kMove | kUp), Mouse(kMove, 1, 1), Cursor(500, 300),
                  Mouse(kMove | kDown), Mouse(kMove, 1, 1)},
                 "1:click L 100,100; 2:held L 500,300 501,301; "}),
    [](const testing::TestParamInfo<MarkCase>& i) { return std::string(i.param.name); });

TEST(Picture, AssignmentsComeFromSuccessfulRequests) {
    auto ioctl = [](const char* code, bool ok, sim::Fields f) {
        f["code"] = code;
        f["ok"] = ok;
        return TraceEvent{0, "ioctl", f};
    };
    const std::vector<TraceEvent> events = {
        ioctl("REQ_SET_MONITOR_NUMBER", true, {{"wTouchscreen", 0}, {"iMonitor", 1}, {"dwAssign", 1}}),
        ioctl("REQ_SET_MONITOR_RECT", true,
              {{"wTouchscreen", 0}, {"iMonitor", 1}, {"iTop", 0}, {"iLeft", 1024}, {"iBottom", 1024}, {"iRight", 2304}}),
        ioctl("REQ_SET_MONITOR_NUMBER", false, {{"wTouchscreen", 1}, {"iMonitor", 0}, {"dwAssign", 1}}),
        ioctl("REQ_SET_MONITOR_NUMBER", true, {{"wTouchscreen", 2}, {"iMonitor", 0}, {"dwAssign", 1}}),
    };
    const auto a = runner::find_assignments(events);
    ASSERT_EQ(a.count(0), 1u);
    EXPECT_EQ(a.at(0).monitor, 1);
    ASSERT_TRUE(a.at(0).rect.has_value());
    EXPECT_EQ(a.at(0).rect->left, 1024);
    EXPECT_EQ(a.at(0).rect->right, 2304);
    EXPECT_EQ(a.at(0).rect->bottom, 1024);
    EXPECT_EQ(a.count(1), 0u);  // refused: the driver did not take it
    ASSERT_EQ(a.count(2), 1u);
    EXPECT_EQ(a.at(2).monitor, 0);
    EXPECT_FALSE(a.at(2).rect.has_value());
}

// ------------------------------------------------------------------ topmost windows in the picture

TraceEvent Step(int n) { return {0, "step", {{"n", n}}}; }
TraceEvent Topmost(int window, int left, int monitor, const char* text) {
    return {0, "topmost_window",
            {{"window", window}, {"process", "RykXyMap.exe"}, {"left", left}, {"top", 0}, {"right", left + 1024},
             {"bottom", 768}, {"monitor", monitor}, {"text", text}}};
}
TraceEvent Closed(int window) { return {0, "topmost_window_closed", {{"window", window}, {"process", "RykXyMap.exe"}}}; }

std::string DescribeWindows(const std::vector<runner::TopmostWindow>& windows) {
    std::string out;
    for (const auto& w : windows) {
        out += "step " + std::to_string(w.step) + " window " + std::to_string(w.window) + " monitor " +
               std::to_string(w.monitor) + " left " + std::to_string(w.rect.left) + ":";
        for (const auto& t : w.texts) out += " [" + t + "]";
        out += "; ";
    }
    return out;
}

struct TopmostCase {
    const char* name;
    std::vector<TraceEvent> events;
    std::string windows;
};

void PrintTo(const TopmostCase& c, std::ostream* os) { *os << c.name; }

class TopmostWindows : public testing::TestWithParam<TopmostCase> {};

TEST_P(TopmostWindows, FromTrace) { EXPECT_EQ(DescribeWindows(runner::find_topmost_windows(GetParam().events)), GetParam().windows); }

INSTANTIATE_TEST_SUITE_P(
    Picture, TopmostWindows,
    testing::Values(
        TopmostCase{"NoneBeforeTheFirstStep", {Topmost(7, 0, 0, "a")}, "step 0 window 7 monitor 0 left 0: [a]; "},
        // Painting the same text again adds nothing; another text is kept in order.
        TopmostCase{"RepaintedAndChanged",
                    {Step(2), Topmost(7, 0, 0, "a"), Step(3), Topmost(7, 0, 0, "a"), Topmost(7, 0, 0, "b"), Closed(7)},
                    "step 2 window 7 monitor 0 left 0: [a] [b]; "},
        TopmostCase{"OnePerMonitorInTurn",
                    {Step(2), Topmost(7, 0, 0, "a"), Closed(7), Step(4), Topmost(8, 1024, 1, "b"), Closed(8)},
                    "step 2 window 7 monitor 0 left 0: [a]; step 4 window 8 monitor 1 left 1024: [b]; "},
        // A handle shown again after it closed is another window.
        TopmostCase{"HandleShownAgain",
                    {Step(1), Topmost(7, 0, 0, "a"), Closed(7), Step(5), Topmost(7, 1024, 1, "a")},
                    "step 1 window 7 monitor 0 left 0: [a]; step 5 window 7 monitor 1 left 1024: [a]; "},
        TopmostCase{"ClosedWithoutShowing", {Closed(7)}, ""}),
    [](const testing::TestParamInfo<TopmostCase>& i) { return std::string(i.param.name); });

// The picture draws each window on its monitor with the step it came in and
// what it first drew, line by line; all its texts are listed below.
TEST(Picture, DrawsTopmostWindowsWithStepAndFirstText) {
    const runner::Scenario sc = runner::parse_scenario(
        "[machine]\nmonitors = [ { left = 0, top = 0, right = 1024, bottom = 768 },\n"
        "             { left = 1024, top = 0, right = 2048, bottom = 768 } ]\n",
        "t.toml");
    RunResult r;
    r.events = {Step(2), Topmost(7, 1024, 1, "Touch this screen\nMonitor 1 of 2"), Topmost(7, 1024, 1, "Touched <0>"),
                Closed(7)};
    const std::string svg = runner::render_svg(sc, r);
    // The window's rectangle: monitor 1 at scale 1000/2048 from x 30, inset 3.
    EXPECT_NE(svg.find(R"(<rect x="533.0" y="87.0" width="494.0" height="369.0" fill="#fff4e6")"), std::string::npos) << svg;
    EXPECT_NE(svg.find(">step 2 · RykXyMap.exe</text>"), std::string::npos);
    EXPECT_NE(svg.find(R"(font-weight="bold" fill="#d9480f">Touch this screen</text>)"), std::string::npos);
    EXPECT_NE(svg.find(">Monitor 1 of 2</text>"), std::string::npos);
    EXPECT_NE(svg.find(
                  ">step 2 · RykXyMap.exe · monitor 1 (1024,0)-(2048,768): Touch this screen / Monitor 1 of 2 · then: "
                  "Touched &lt;0&gt;</text>"),
              std::string::npos);
}

// ------------------------------------------------------------------ the picture's SVG writer

struct SvgCase {
    const char* name;
    runner::svg::Element element;
    const char* svg;
};

void PrintTo(const SvgCase& c, std::ostream* os) { *os << c.name; }

class SvgElement : public testing::TestWithParam<SvgCase> {};

TEST_P(SvgElement, WritesWellFormedMarkup) { EXPECT_EQ(GetParam().element.str(), GetParam().svg); }

using runner::svg::Element;

INSTANTIATE_TEST_SUITE_P(
    Picture, SvgElement,
    testing::Values(
        SvgCase{"EmptyClosesItself", Element("rect").attr("x", 12.34).attr("width", "10"), R"(<rect x="12.3" width="10"/>)"},
        SvgCase{"EmptyTextStaysAnElementWithContent", Element("text").text(""), "<text></text>"},
        // Captions and file names come from the program and the scenario:
        // markup characters and control characters must not break the file.
        SvgCase{"TextEscaped", Element("text").text("a<b & \"c\">\x01\x1f\t\n"),
                "<text>a&lt;b &amp; &quot;c&quot;&gt;  \t\n</text>"},
        SvgCase{"AttributeEscaped", Element("g").attr("id", "x\"y<&"), R"(<g id="x&quot;y&lt;&amp;"/>)"},
        SvgCase{"ChildrenInOrderWithoutBreaks",
                Element("g").attr("transform", "translate(1.0,2.0)").add(Element("circle").attr("r", "4")).add(
                    Element("text").text("7")),
                R"svg(<g transform="translate(1.0,2.0)"><circle r="4"/><text>7</text></g>)svg"}),
    [](const testing::TestParamInfo<SvgCase>& i) { return std::string(i.param.name); });

}  // namespace
