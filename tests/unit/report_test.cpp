// "RykXyLdrReportTouch": the whole program on the simulated machine answers
// another program's window with the touchscreen that is pressed next, makes
// no mouse input for that touch, and answers time-outs, replacements,
// withdrawals and refusals; a request from no window is dropped.
#include <ostream>
#include <vector>

#include "app/report.h"
#include "driver/protocol.h"
#include "hotplug_support.h"

namespace unit {
namespace {

using Answers = std::vector<std::pair<WPARAM, LPARAM>>;

size_t MouseInputs(sim::Machine& m) {
    size_t n = 0;
    for (const auto& e : m.trace().events()) n += e.ev == "mouse" ? 1 : 0;
    return n;
}

LRESULT CALLBACK AskerProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

class ReportTest : public HotplugTest {
protected:
    sim::Machine& Start() {
        sim::Machine& m = BootMachine(SideBySide(2), {Screen(0, "TS-0001", "K1"), Screen(1, "TS-0002", "K2")});
        pid_ = StartRykXyLdr(m);
        m.settle();
        msg_ = m.registered_message(REPORT_TOUCH_MESSAGE);
        EXPECT_NE(msg_, 0u);
        // The asking program's windows, on the test's own thread.
        WNDCLASSA wc = {};
        wc.lpfnWndProc = AskerProc;
        wc.lpszClassName = "ReportAsker";
        RegisterClassA(&wc);
        for (HWND& h : askers_)
            h = CreateWindowExA(0, "ReportAsker", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        return m;
    }
    // Posted, and handled without letting time move on (a settle would run
    // the request's time-out out).
    void Ask(sim::Machine& m, WPARAM wParam, LPARAM lTimeout) {
        ASSERT_TRUE(m.post_from_outside(ProgramWindow(m), msg_, wParam, lTimeout));
        m.quiesce();
    }
    void Ask(sim::Machine& m, int asker, LPARAM lTimeout) { Ask(m, reinterpret_cast<WPARAM>(askers_[asker]), lTimeout); }
    // The answers that reached asker `i` so far (the queue is emptied).
    Answers Taken(int i) {
        Answers out;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == msg_) answers_[msg.hwnd == askers_[0] ? 0 : 1].emplace_back(msg.wParam, msg.lParam);
        }
        out.swap(answers_[i]);
        return out;
    }
    void TearDown() override {
        if (pid_ != 0 && !machine().process_ended(pid_)) CloseRykXyLdr(machine());
        HotplugTest::TearDown();
    }
    DWORD pid_ = 0;
    UINT msg_ = 0;
    HWND askers_[2] = {};
    Answers answers_[2];
};

// The touch that answers, report by report, and the touch after it, which
// is a click again: a report of kind 0 is a whole touch (it clicks by itself,
// with or without PKT_RELEASE), so it ends the swallowed touch too.
struct Packet {
    LONG x, y;
    DWORD flags;
};
struct SwallowCase {
    const char* name;
    std::vector<Packet> answering, next;
};
std::ostream& operator<<(std::ostream& os, const SwallowCase& c) { return os << c.name; }

class ReportSwallowTest : public ReportTest, public ::testing::WithParamInterface<SwallowCase> {};

TEST_P(ReportSwallowTest, ThePressAnswersItsTouchMakesNoMouseInputAndTheNextTouchClicks) {
    const SwallowCase& c = GetParam();
    sim::Machine& m = Start();
    Ask(m, 0, 30000);
    const size_t before = MouseInputs(m);
    for (const Packet& p : c.answering) m.driver().queue_packet(1, p.x, p.y, p.flags);
    m.quiesce();
    EXPECT_EQ(Taken(0), (Answers{{REPORT_TOUCHED, 1}}));
    EXPECT_EQ(MouseInputs(m), before);
    for (const Packet& p : c.next) m.driver().queue_packet(1, p.x, p.y, p.flags);
    m.settle();
    EXPECT_GT(MouseInputs(m), before);
    EXPECT_TRUE(Taken(0).empty());
}

constexpr DWORD kRelease = PKT_RELEASE;
const SwallowCase kSwallowCases[] = {
    {"press_move_release", {{1500, 300, 5}, {1510, 300, 5}, {1510, 300, 5 | kRelease}}, {{1100, 100, 5}, {1100, 100, 5 | kRelease}}},
    {"one_report_with_release", {{1500, 300, 5 | kRelease}}, {{1100, 100, 5}, {1100, 100, 5 | kRelease}}},
    {"kind_0_tap_then_a_tap", {{1500, 300, 0}}, {{1100, 100, 0}}},
    {"kind_0_tap_with_release_then_a_tap", {{1500, 300, 0 | kRelease}}, {{1100, 100, 0}}},
    {"kind_1_touch_then_a_kind_1_touch", {{1500, 300, 1}, {1500, 300, 1 | kRelease}}, {{1100, 100, 1}, {1100, 100, 1 | kRelease}}},
};
INSTANTIATE_TEST_SUITE_P(Cases, ReportSwallowTest, ::testing::ValuesIn(kSwallowCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct AnswerCase {
    const char* name;
    LPARAM timeout;        // of the first request, from asker 0
    int second;            // -1 none; 0 or 1: that asker asks again (30000 ms); 2: a withdrawal (lParam 0)
    Answers first, other;  // what asker 0 and asker 1 get, no touch coming
};
std::ostream& operator<<(std::ostream& os, const AnswerCase& c) { return os << c.name; }

class ReportAnswerTest : public ReportTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ReportAnswerTest, AnsweredOnce) {
    const AnswerCase& c = GetParam();
    sim::Machine& m = Start();
    Ask(m, 0, c.timeout);
    if (c.second == 2) Ask(m, static_cast<WPARAM>(0), 0);
    else if (c.second >= 0) Ask(m, c.second, 30000);
    m.settle();  // time runs on through every time-out
    EXPECT_EQ(Taken(0), c.first);
    EXPECT_EQ(Taken(1), c.other);
}

const AnswerCase kAnswerCases[] = {
    {"time_out", 500, -1, {{REPORT_TIMED_OUT, 0}}, {}},
    {"replaced_by_another_window", 30000, 1, {{REPORT_WITHDRAWN, 0}}, {{REPORT_TIMED_OUT, 0}}},
    {"withdrawn", 30000, 2, {{REPORT_WITHDRAWN, 0}}, {}},
    {"beyond_ten_minutes_refused", 600001, -1, {{REPORT_REFUSED, 0}}, {}},
    {"ten_minutes_taken", 600000, -1, {{REPORT_TIMED_OUT, 0}}, {}},
};
INSTANTIATE_TEST_SUITE_P(Cases, ReportAnswerTest, ::testing::ValuesIn(kAnswerCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ReportTest, ARequestFromNoWindowIsDroppedAndTouchesStayClicks) {
    sim::Machine& m = Start();
    Ask(m, static_cast<WPARAM>(0x1234), 30000);
    const size_t before = MouseInputs(m);
    m.driver().queue_packet(0, 100, 100, 5);
    m.driver().queue_packet(0, 100, 100, 5 | PKT_RELEASE);
    m.settle();
    EXPECT_GT(MouseInputs(m), before);
}

}  // namespace
}  // namespace unit
