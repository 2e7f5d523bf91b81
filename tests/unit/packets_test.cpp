// Touch packets to mouse input: the translation of one packet as a table,
// packet streams through real workers on the simulated driver (quick-touch
// filter, far-touch sequence, button modes, dropped packets), and many
// reports on several touchscreens at once.
#include "touch/packets.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "desktop.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "touch/workers.h"
#include "served_support.h"
#include "unit_support.h"

namespace unit {
namespace {

using ::testing::ValuesIn;

// ------------------------------------------------------------------ mouse input as text

using Inputs = std::vector<std::string>;

Inputs operator+(Inputs a, const Inputs& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string CursorAt(LONG x, LONG y) { return "cursor " + std::to_string(x) + "," + std::to_string(y); }
std::string MouseCall(DWORD flags, LONG dx = 0, LONG dy = 0) {
    return "mouse " + std::to_string(flags) + " " + std::to_string(dx) + "," + std::to_string(dy);
}

Inputs At(LONG x, LONG y) { return {CursorAt(x, y)}; }
const Inputs kNudge = {MouseCall(MOUSEEVENTF_MOVE, 1, 1)};
const Inputs kZeroMove = {MouseCall(MOUSEEVENTF_MOVE)};
const Inputs kClickLeft = Inputs{MouseCall(3), MouseCall(5)} + kNudge;
const Inputs kClickRight = Inputs{MouseCall(9), MouseCall(17)} + kNudge;
const Inputs kPressLeft = {MouseCall(MOUSEEVENTF_LEFTDOWN)};
const Inputs kPressRight = {MouseCall(MOUSEEVENTF_RIGHTDOWN)};
const Inputs kReleaseLeft = Inputs{MouseCall(MOUSEEVENTF_LEFTUP)} + kNudge;
const Inputs kReleaseRight = Inputs{MouseCall(MOUSEEVENTF_RIGHTUP)} + kNudge;
const Inputs kNone = {};

// A click at the last quick-touch point, then the button down at the new one.
Inputs FarTouchLeft(LONG lastX, LONG lastY, LONG x, LONG y) {
    return At(lastX, lastY) + kClickLeft + At(x, y) + Inputs{MouseCall(3)} + kNudge;
}
Inputs FarTouchRight(LONG lastX, LONG lastY, LONG x, LONG y) {
    return At(lastX, lastY) + kClickRight + At(x, y) + Inputs{MouseCall(9)} + kNudge;
}

// SetCursorPos and mouse_event calls in the order the machine saw them.
Inputs MouseInput(sim::Machine& m) {
    Inputs out;
    for (const sim::TraceEvent& e : m.trace().events()) {
        if (e.ev == "cursor")
            out.push_back(CursorAt(e.fields["x"].get<LONG>(), e.fields["y"].get<LONG>()));
        else if (e.ev == "mouse")
            out.push_back(MouseCall(e.fields["flags"].get<DWORD>(), e.fields["dx"].get<LONG>(),
                                    e.fields["dy"].get<LONG>()));
    }
    return out;
}

class ServedTest : public ServedFixture {
protected:
    // One worker per touchscreen, all on monitor 0, with nothing recorded yet.
    void StartWorkers(sim::Machine& m, int count) {
        for (int i = 0; i < count; ++i) ASSERT_EQ(StartWorker(0, i), 0) << "touchscreen " << i;
        m.settle();
        m.trace().clear();
        m.driver().clear_log();
    }
};

// ------------------------------------------------------------------ TranslatePacket

struct TranslateCase {
    const char* name;
    bool right;  // gbRightButton at the packet
    DWORD flags;
    DWORD before;
    Inputs input;  // after the packet's SetCursorPos
    DWORD after;
};

void PrintTo(const TranslateCase& c, std::ostream* os) { *os << c.name; }

class TranslatePacketTest : public MachineTest, public ::testing::WithParamInterface<TranslateCase> {};

TEST_P(TranslatePacketTest, MouseInputAndButtonState) {
    const TranslateCase& c = GetParam();
    sim::Machine& m = Boot();
    gbRightButton = c.right ? 1 : 0;

    TouchPacket packet{};
    packet.iX = -800;  // virtual-desktop pixels left of the primary monitor
    packet.iY = 300;
    packet.dwFlags = c.flags;
    DWORD dwState = c.before;
    TranslatePacket(&packet, &dwState);

    EXPECT_EQ(MouseInput(m), At(-800, 300) + c.input);
    EXPECT_EQ(dwState, c.after);
}

const TranslateCase kTranslateCases[] = {
    {"KindZeroClicksLeft", false, 0, 5, kClickLeft, 5},
    {"KindZeroWithReleaseClicksAndKeepsState", false, PKT_RELEASE, 3, kClickLeft, 3},
    {"KindZeroClicksRight", true, 0, 17, kClickRight, 17},
    {"KindOneOnlyMoves", false, 1, 3, kZeroMove, 3},
    {"KindOneReleaseMovesThenClicks", false, 1 | PKT_RELEASE, 5, kZeroMove + kClickLeft, 5},
    {"KindOneReleaseClicksRight", true, 1 | PKT_RELEASE, 9, kZeroMove + kClickRight, 9},
    {"PressWhenLeftUp", false, 5, 5, kPressLeft, 3},
    {"PressWhenRightUp", true, 5, 17, kPressRight, 9},
    {"NoPressWhileDown", false, 5, 3, kZeroMove, 3},
    {"RightUpIsNotUpInLeftMode", false, 6, 17, kZeroMove, 17},
    {"LeftUpIsNotUpInRightMode", true, 2, 5, kZeroMove, 5},
    {"ReleaseLeft", false, 5 | PKT_RELEASE, 3, kReleaseLeft, 5},
    {"ReleaseWhileAlreadyUp", false, 5 | PKT_RELEASE, 5, kReleaseLeft, 5},
    {"ReleaseUpInTheModeOfThePacket", true, 6 | PKT_RELEASE, 5, kReleaseRight, 17},
    // A held button is released with itself; the state is the mode's up.
    {"ReleaseHeldLeftInRightMode", true, 6 | PKT_RELEASE, 3, kReleaseLeft, 17},
    {"ReleaseHeldRightInLeftMode", false, 6 | PKT_RELEASE, 9, kReleaseRight, 5},
    {"KindFFIsAnotherKind", false, 0xFF, 5, kPressLeft, 3},
    {"FarTouchAndHighBitsAreIgnored", false, 2 | PKT_FARTOUCH | 0x00F00000, 5, kPressLeft, 3},
};

INSTANTIATE_TEST_SUITE_P(Packets, TranslatePacketTest, ValuesIn(kTranslateCases), CaseName<TranslateCase>);

// ------------------------------------------------------------------ packet streams through workers

// One stimulus: a packet, a mode switch, new quick-touch thresholds from the
// driver, or a refusal of the next packet read. The machine settles after
// each, so the order is the order of the table.
struct Feed {
    enum What { packet, mode, thresholds, refuse_read } what;
    int screen = 0;
    LONG a = 0, b = 0;  // packet: x, y; thresholds: dx, dy; mode: a = right
    DWORD flags = 0;
};

Feed Packet(LONG x, LONG y, DWORD flags, int screen = 0) { return {Feed::packet, screen, x, y, flags}; }
Feed RightMode(bool right) { return {Feed::mode, 0, right ? 1 : 0, 0, 0}; }
Feed Thresholds(LONG dx, LONG dy, int screen = 0) { return {Feed::thresholds, screen, dx, dy, 0}; }
Feed RefuseNextRead() { return {Feed::refuse_read, 0, 0, 0, 0}; }

constexpr DWORD Q = PKT_QUICKTOUCH;
constexpr DWORD R = PKT_RELEASE;
constexpr DWORD F = PKT_FARTOUCH;

struct StreamCase {
    const char* name;
    int screens;
    bool right;     // the mode when the workers start
    POINT last;     // giLastX, giLastY before the first feed
    std::vector<Feed> feeds;
    Inputs input;
    POINT last_after;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class PacketStreamTest : public ServedTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(PacketStreamTest, MouseInputAndLastQuickTouchPoint) {
    const StreamCase& c = GetParam();
    std::vector<TouchscreenConfig> screens;
    for (int i = 0; i < c.screens; ++i) screens.push_back(Screen(0));
    sim::Machine& m = Serve(screens);
    gbRightButton = c.right ? 1 : 0;
    StartWorkers(m, c.screens);
    giLastX = c.last.x;
    giLastY = c.last.y;

    for (const Feed& f : c.feeds) {
        switch (f.what) {
        case Feed::packet: m.driver().queue_packet(f.screen, f.a, f.b, f.flags); break;
        case Feed::mode: gbRightButton = f.a; break;
        case Feed::thresholds: m.driver().set_quick_touch(f.screen, f.a, f.b); break;
        case Feed::refuse_read: m.driver().refuse(REQ_GET_TOUCH, Refusal{.times = 1}); break;
        }
        m.settle();
    }

    EXPECT_EQ(MouseInput(m), c.input);
    EXPECT_EQ(giLastX.load(), c.last_after.x);
    EXPECT_EQ(giLastY.load(), c.last_after.y);
    // One read per packet, each for its own touchscreen.
    size_t nPackets = 0;
    for (const Feed& f : c.feeds) nPackets += f.what == Feed::packet;
    const auto reads = m.driver().requests(REQ_GET_TOUCH);
    ASSERT_EQ(reads.size(), nPackets);
    size_t i = 0;
    for (const Feed& f : c.feeds) {
        if (f.what != Feed::packet) continue;
        ExpectEncoded(reads[i], REQ_GET_TOUCH, sizeof(TouchPacket),
                      {{2, Le16(REQ_TAG)}, {8, Le16(static_cast<uint16_t>(f.screen))}});
        ++i;
    }
}

const StreamCase kStreamCases[] = {
    {"LeftPressMovesRelease", 1, false, {0, 0},
     {Packet(10, 20, 5), Packet(30, 40, 5), Packet(50, 60, 5), Packet(50, 60, 5 | R), Packet(70, 80, 5)},
     At(10, 20) + kPressLeft + At(30, 40) + kZeroMove + At(50, 60) + kZeroMove + At(50, 60) + kReleaseLeft +
         At(70, 80) + kPressLeft,
     {0, 0}},
    {"RightPressMovesRelease", 1, true, {0, 0},
     {Packet(10, 20, 5), Packet(30, 40, 5), Packet(30, 40, 5 | R)},
     At(10, 20) + kPressRight + At(30, 40) + kZeroMove + At(30, 40) + kReleaseRight,
     {0, 0}},
    {"KindZeroClicksEveryReport", 1, false, {0, 0},
     {Packet(10, 10, 0), Packet(20, 20, 0 | R)},
     At(10, 10) + kClickLeft + At(20, 20) + kClickLeft,
     {0, 0}},
    {"KindOneMovesUntilItsRelease", 1, false, {0, 0},
     {Packet(10, 10, 1), Packet(20, 20, 1), Packet(30, 30, 1 | R)},
     At(10, 10) + kZeroMove + At(20, 20) + kZeroMove + At(30, 30) + kZeroMove + kClickLeft,
     {0, 0}},
    {"ReleaseWhileUpStillReleases", 1, false, {0, 0},
     {Packet(10, 10, 7 | R)},
     At(10, 10) + kReleaseLeft,
     {0, 0}},
    {"SwitchToRightWaitsForARelease", 1, false, {0, 0},
     {RightMode(true), Packet(10, 10, 5), Packet(20, 20, 5), Packet(20, 20, 5 | R), Packet(30, 30, 5)},
     At(10, 10) + kZeroMove + At(20, 20) + kZeroMove + At(20, 20) + kReleaseRight + At(30, 30) + kPressRight,
     {0, 0}},
    {"ReleaseAfterSwitchReleasesTheHeldButton", 1, false, {0, 0},
     {Packet(10, 10, 5), RightMode(true), Packet(15, 15, 5), Packet(20, 20, 5 | R), Packet(30, 30, 5)},
     At(10, 10) + kPressLeft + At(15, 15) + kZeroMove + At(20, 20) + kReleaseLeft + At(30, 30) + kPressRight,
     {0, 0}},
    {"FarTouchAfterSwitchReleasesTheHeldButtonFirst", 1, false, {0, 0},
     {Packet(10, 10, 5), RightMode(true), Packet(600, 0, Q | F | 5), Packet(600, 0, 5 | R)},
     At(10, 10) + kPressLeft + kReleaseLeft + FarTouchRight(0, 0, 600, 0) + At(600, 0) + kReleaseRight,
     {600, 0}},
    {"QuickReleaseWaitsForTheNextReport", 1, false, {100, 100},
     {Packet(110, 100, Q | R), Packet(120, 105, Q), Packet(130, 110, Q)},
     At(120, 105) + kClickLeft,
     {130, 110}},
    {"QuickReleaseThenFarClickKeepsThePendingClick", 1, false, {100, 100},
     {Packet(110, 100, Q | R), Packet(600, 100, Q | F | R), Packet(610, 100, Q), Packet(620, 100, Q)},
     At(600, 100) + kClickLeft + At(610, 100) + kClickLeft,
     {620, 100}},
    {"QuickCodeZeroFarWithoutFarTouchIsSilent", 1, false, {0, 0},
     {Packet(900, 0, Q)},
     kNone,
     {900, 0}},
    {"FarTouchForCodesOneFiveSix", 1, false, {0, 0},
     {Packet(300, 0, Q | F | 1), Packet(600, 0, Q | F | 5), Packet(900, 0, Q | F | 6), Packet(900, 0, 5),
      Packet(900, 0, 5 | R)},
     FarTouchLeft(0, 0, 300, 0) + FarTouchLeft(300, 0, 600, 0) + FarTouchLeft(600, 0, 900, 0) + At(900, 0) +
         kZeroMove + At(900, 0) + kReleaseLeft,
     {900, 0}},
    {"FarTouchInRightMode", 1, true, {50, 60},
     {Packet(50, 400, Q | F | 5), Packet(50, 400, 5 | R)},
     FarTouchRight(50, 60, 50, 400) + At(50, 400) + kReleaseRight,
     {50, 400}},
    {"DistanceEqualToThresholdIsNotFar", 1, false, {100, 100},
     {Packet(300, 100, Q | F | 1), Packet(501, 100, Q | F | 1), Packet(501, 300, Q | F | 1),
      Packet(501, 501, Q | F | 1)},
     At(300, 100) + kZeroMove + FarTouchLeft(300, 100, 501, 100) + At(501, 300) + kZeroMove +
         FarTouchLeft(501, 300, 501, 501),
     {501, 501}},
    {"DistancesAreSigned", 1, false, {100, -100},
     {Packet(-100, -300, Q | F | 1), Packet(-301, -300, Q | F | 1), Packet(-301, -99, Q | F | 1)},
     At(-100, -300) + kZeroMove + FarTouchLeft(-100, -300, -301, -300) + FarTouchLeft(-301, -300, -301, -99),
     {-301, -99}},
    {"FarWithoutFarTouchIsTranslated", 1, false, {0, 0},
     {Packet(900, 0, Q | 1), Packet(0, 700, Q | 5), Packet(0, 700, Q | 5 | R)},
     At(900, 0) + kZeroMove + At(0, 700) + kPressLeft + At(0, 700) + kReleaseLeft,
     {0, 700}},
    {"SilentCodesStillMoveTheLastPoint", 1, false, {0, 0},
     {Packet(10, 10, Q | 2), Packet(20, 20, Q | 3), Packet(30, 30, Q | 4), Packet(40, 40, Q | 7),
      Packet(-5, 7, 0xFF | R), Packet(999, 999, 0)},
     At(999, 999) + kClickLeft,
     {-5, 7}},
    {"ThresholdsFollowTheDriver", 1, false, {0, 0},
     {Thresholds(50, 40), Packet(51, 0, Q | F | 1), Thresholds(300, 300), Packet(301, 0, Q | F | 1)},
     FarTouchLeft(0, 0, 51, 0) + At(301, 0) + kZeroMove,
     {301, 0}},
    {"YThresholdJudgesWhenXIsNear", 1, false, {0, 0},
     {Thresholds(1000, 10), Packet(900, 11, Q | F | 1)},
     FarTouchLeft(0, 0, 900, 11),
     {900, 11}},
    {"LastPointIsSharedByTouchscreens", 2, false, {0, 0},
     {Packet(500, 0, Q | F | 1, 1), Packet(520, 0, Q | F | 1, 0), Packet(520, 0, 5 | R, 1)},
     FarTouchLeft(0, 0, 500, 0) + At(520, 0) + kZeroMove + At(520, 0) + kReleaseLeft,
     {520, 0}},
    {"RefusedReadDropsTheOrdinaryPacket", 1, false, {0, 0},
     {RefuseNextRead(), Packet(10, 10, 5), Packet(20, 20, 5)},
     At(20, 20) + kPressLeft,
     {0, 0}},
    // The dropped report neither clicks the pending release nor becomes the
    // last quick-touch point.
    {"RefusedReadDropsTheQuickTouchPacket", 1, false, {100, 100},
     {Packet(110, 100, Q | R), RefuseNextRead(), Packet(600, 600, Q), Packet(120, 100, Q | F | 1),
      Packet(130, 100, Q)},
     At(120, 100) + kZeroMove + At(130, 100) + kClickLeft,
     {130, 100}},
};

INSTANTIATE_TEST_SUITE_P(Packets, PacketStreamTest, ValuesIn(kStreamCases), CaseName<StreamCase>);

// A worker that is stopped while its touchscreen holds a button down
// releases that button as it ends; one whose button is up sends nothing.
struct StopHeldCase {
    const char* name;
    bool right;                // the mode at the press
    bool switched;             // the mode is switched after the press
    std::vector<Feed> feeds;   // before the stop
    Inputs at_stop;            // the mouse input of the stop
};

void PrintTo(const StopHeldCase& c, std::ostream* os) { *os << c.name; }

class StopHeldTest : public ServedTest, public ::testing::WithParamInterface<StopHeldCase> {};

TEST_P(StopHeldTest, ReleasesWhatTheWorkerHolds) {
    const StopHeldCase& c = GetParam();
    sim::Machine& m = Serve({Screen(0)});
    gbRightButton = c.right ? 1 : 0;
    StartWorkers(m, 1);
    for (const Feed& f : c.feeds) {
        if (f.what == Feed::packet) m.driver().queue_packet(f.screen, f.a, f.b, f.flags);
        m.settle();
    }
    if (c.switched) gbRightButton = c.right ? 0 : 1;
    const size_t before = MouseInput(m).size();

    StopAllWorkers();
    m.settle();

    const Inputs all = MouseInput(m);
    EXPECT_EQ(Inputs(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), c.at_stop);
    const sim::MouseButtons buttons = m.desktop().buttons();
    EXPECT_EQ(buttons, sim::MouseButtons{}) << "nothing is held after the stop";
}

const StopHeldCase kStopHeldCases[] = {
    {"LeftHeld", false, false, {Packet(10, 10, 5)}, kReleaseLeft},
    {"RightHeld", true, false, {Packet(10, 10, 5)}, kReleaseRight},
    {"LeftHeldAcrossASwitch", false, true, {Packet(10, 10, 5)}, kReleaseLeft},
    {"FarTouchHeld", false, false, {Packet(600, 0, Q | F | 5)}, kReleaseLeft},
    {"Released", false, false, {Packet(10, 10, 5), Packet(10, 10, 5 | R)}, kNone},
    {"NeverPressed", false, false, {}, kNone},
};

INSTANTIATE_TEST_SUITE_P(Packets, StopHeldTest, ValuesIn(kStopHeldCases), CaseName<StopHeldCase>);

class PacketReadTest : public ServedTest {};

// Two packets queued together, the first one refused: the driver loses it
// and signals again for the second, which the worker reads.
TEST_F(PacketReadTest, RefusedReadDropsOnePacketOfTwoQueued) {
    sim::Machine& m = Serve({Screen(0)});
    StartWorkers(m, 1);
    m.driver().refuse(REQ_GET_TOUCH, Refusal{.times = 1});
    m.driver().queue_packet(0, 10, 10, 0);
    m.driver().queue_packet(0, 20, 20, 0);
    m.settle();

    EXPECT_EQ(MouseInput(m), At(20, 20) + kClickLeft);
    const auto reads = m.driver().requests(REQ_GET_TOUCH);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_FALSE(reads[0].ok);
    EXPECT_TRUE(reads[1].ok);
}

// ------------------------------------------------------------------ many reports at once

// Four touchscreens each stream 1,000 reports at the same time, queued in
// batches. Every report must give exactly the input the translation gives
// it: nothing lost, nothing doubled, and each touchscreen's points in their
// order.
struct StressCase {
    const char* name;
    DWORD (*flags)(int i);
    POINT (*point)(int screen, int i);
    bool disturb;  // thresholds and mode change while the reports stream
    std::map<std::string, size_t> mouse_per_report;
};

void PrintTo(const StressCase& c, std::ostream* os) { *os << c.name; }

class StressTest : public ServedTest, public ::testing::WithParamInterface<StressCase> {};

constexpr int kStressScreens = 4;
constexpr int kStressReports = 1000;
constexpr int kStressBatch = 100;

TEST_P(StressTest, EveryReportGivesItsInputOnce) {
    const StressCase& c = GetParam();
    sim::Machine& m = Serve(std::vector<TouchscreenConfig>(kStressScreens, Screen(0)));
    StartWorkers(m, kStressScreens);
    // The first quick-touch report is near the last point, too.
    giLastX = c.point(0, 0).x;
    giLastY = c.point(0, 0).y;

    for (int first = 0; first < kStressReports; first += kStressBatch) {
        for (int s = 0; s < kStressScreens; ++s) {
            for (int i = first; i < first + kStressBatch; ++i) {
                const POINT pt = c.point(s, i);
                m.driver().queue_packet(s, pt.x, pt.y, c.flags(i));
            }
            if (c.disturb) {
                m.driver().set_quick_touch(s, (first / kStressBatch) % 2 ? 100 : 200, 150);
                gbRightButton = (first / kStressBatch + s) % 2;
            }
        }
        m.settle();
    }

    std::map<int, std::vector<POINT>> points;  // by touchscreen
    std::map<std::string, size_t> mouse;
    for (const sim::TraceEvent& e : m.trace().events()) {
        if (e.ev == "cursor") {
            const POINT pt{e.fields["x"].get<LONG>(), e.fields["y"].get<LONG>()};
            for (int s = 0; s < kStressScreens; ++s)
                if (c.point(s, 0).y == pt.y) points[s].push_back(pt);
        } else if (e.ev == "mouse") {
            ++mouse[MouseCall(e.fields["flags"].get<DWORD>(), e.fields["dx"].get<LONG>(), e.fields["dy"].get<LONG>())];
        }
    }

    for (int s = 0; s < kStressScreens; ++s) {
        SCOPED_TRACE("touchscreen " + std::to_string(s));
        ASSERT_EQ(points[s].size(), static_cast<size_t>(kStressReports));
        for (int i = 0; i < kStressReports; ++i) {
            const POINT want = c.point(s, i);
            ASSERT_EQ(points[s][i].x, want.x) << "report " << i;
        }
    }
    std::map<std::string, size_t> want;
    for (const auto& [call, n] : c.mouse_per_report) want[call] = n * kStressScreens * kStressReports;
    EXPECT_EQ(mouse, want);

    const auto reads = m.driver().requests(REQ_GET_TOUCH);
    EXPECT_EQ(reads.size(), static_cast<size_t>(kStressScreens * kStressReports));
    for (const auto& r : reads) EXPECT_TRUE(r.ok);
}

const StressCase kStressCases[] = {
    // Kind-0 reports, with and without release: each a click at its point.
    // x counts the reports, y names the touchscreen.
    {"OrdinaryClicks", [](int i) { return i % 2 ? PKT_RELEASE : DWORD{0}; },
     [](int s, int i) { return POINT{i, 100 * s}; }, false,
     {{MouseCall(3), 1}, {MouseCall(5), 1}, {MouseCall(MOUSEEVENTF_MOVE, 1, 1), 1}}},
    // Quick-touch code-1 reports with far-touch handling, all within a few
    // pixels of one another across the touchscreens, so that no threshold
    // the driver hands over makes one far: each is a move and a zero move,
    // whatever the mode, while the refreshers and the mode change under the
    // workers.
    {"NearQuickTouchesWhileThresholdsChange", [](int) { return PKT_QUICKTOUCH | PKT_FARTOUCH | 1; },
     [](int s, int i) { return POINT{500 + i % 7, 300 + s}; }, true,
     {{MouseCall(MOUSEEVENTF_MOVE), 1}}},
};

INSTANTIATE_TEST_SUITE_P(Packets, StressTest, ValuesIn(kStressCases), CaseName<StressCase>);

}  // namespace
}  // namespace unit
