// The driver model's answers: what each request returns, which state it
// changes, and when the driver sets the program's events.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "orvane_support.h"

namespace orvane_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(OrvaneTest, EnumerationAnswersEachIndexAndFailsThePastTheEnd) {
    struct Want {
        int32_t monitor;
        const char* serial;
        const char* path;
    };
    const Want want[] = {{0, "SN-A0", "Enum\\Orvane\\0000"}, {1, "SN-B1", "Enum\\Orvane\\0001"},
                         {-1, "SN-C2", "Enum\\Orvane\\0002"}};
    for (WORD i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        std::vector<uint8_t> b = Build(REQ_GET_TOUCHSCREEN, i);
        ASSERT_TRUE(Send(driver, kMain, REQ_GET_TOUCHSCREEN, b));
        const auto r = As<TouchscreenRecord>(b);
        EXPECT_EQ(r.header.wTouchscreen, i);
        EXPECT_EQ(r.iMonitor, want[i].monitor);
        EXPECT_STREQ(r.szSerialNumber, want[i].serial);
        EXPECT_STREQ(r.szRegistryPath, want[i].path);
    }
    std::vector<uint8_t> past = Build(REQ_GET_TOUCHSCREEN, 3);
    const std::vector<uint8_t> sent = past;
    EXPECT_FALSE(Send(driver, kMain, REQ_GET_TOUCHSCREEN, past));
    EXPECT_EQ(past, sent);
    EXPECT_THAT(driver.errors(), IsEmpty()) << ErrorText(driver);
}

// Every request that names a touchscreen is refused for one the driver does
// not have (it has 0 to 2), whatever else it carries, and its buffer comes
// back as it was sent.
TEST_F(OrvaneTest, RequestsForATouchscreenItLacksAreRefusedUntouched) {
    const struct {
        DWORD code;
        uint32_t arg;
    } requests[] = {{REQ_SET_XY_EVENT, XyR0(3)}, {REQ_SET_QUICKTOUCH_EVENT, QtR0(3)}, {REQ_GET_TOUCH, 0},
                    {REQ_SET_MONITOR_RECT, 1},  {REQ_SET_MONITOR_NUMBER, 1},          {REQ_GET_ALIGNMENT, 0},
                    {REQ_GET_QUICKTOUCH, 0},    {REQ_GET_TOUCHSCREEN, 0}};
    driver.queue_packet(0, 11, 22, 0);
    for (const auto& r : requests) {
        SCOPED_TRACE(RequestName(r.code));
        std::vector<uint8_t> b = Build(r.code, 3, r.arg);
        const std::vector<uint8_t> sent = b;
        EXPECT_FALSE(Send(driver, kMain, r.code, b));
        EXPECT_EQ(b, sent);
    }
}

TEST(OrvaneEnumeration, TextsLongerThanTheirFieldsEndInsideThem) {
    FakeHost host;
    Driver driver(host);
    driver.add_touchscreen({std::string(40, 'S'), 0, std::string(400, 'P'), std::nullopt});
    std::vector<uint8_t> b = Build(REQ_GET_TOUCHSCREEN, 0);
    ASSERT_TRUE(Send(driver, kMain, REQ_GET_TOUCHSCREEN, b));
    const auto r = As<TouchscreenRecord>(b);
    EXPECT_EQ(std::string(r.szSerialNumber, sizeof r.szSerialNumber), std::string(17, 'S') + '\0');
    EXPECT_EQ(std::string(r.szRegistryPath, sizeof r.szRegistryPath), std::string(255, 'P') + '\0');
}

TEST(OrvaneEnumeration, DriverWithoutTouchscreensFailsIndexZero) {
    FakeHost host;
    Driver driver(host);
    EXPECT_FALSE(Send(driver, kMain, REQ_GET_TOUCHSCREEN, 0));
    EXPECT_THAT(driver.errors(), IsEmpty());
}

TEST_F(OrvaneTest, MonitorRectangleTravelsTopLeftBottomRight) {
    // Monitor 1 at left -800, top 0, right 0, bottom 600.
    const RECT rc = {-800, 0, 0, 600};
    MonitorRectRequest r{};
    r.header.wTag2 = REQ_TAG;
    r.header.wTouchscreen = 1;
    r.iMonitor = 1;
    r.iTop = rc.top;
    r.iLeft = rc.left;
    r.iBottom = rc.bottom;
    r.iRight = rc.right;
    std::vector<uint8_t> b(sizeof r);
    std::memcpy(b.data(), &r, sizeof r);
    EXPECT_THAT(Words(b, 12), ElementsAre(1, 0, -800, 600, 0));

    Send(driver, kMain, REQ_BEGIN_CHANGE, 1);
    ASSERT_TRUE(Send(driver, kMain, REQ_SET_MONITOR_RECT, b));
    Send(driver, kMain, REQ_END_CHANGE, 1);

    const auto got = driver.monitor_rect(1);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->monitor, 1);
    EXPECT_EQ(got->top, 0);
    EXPECT_EQ(got->left, -800);
    EXPECT_EQ(got->bottom, 600);
    EXPECT_EQ(got->right, 0);
    EXPECT_FALSE(driver.monitor_rect(0).has_value());

    const auto rect_reqs = driver.requests(REQ_SET_MONITOR_RECT);
    ASSERT_EQ(rect_reqs.size(), 1u);
    std::vector<std::string> names;
    std::vector<int64_t> values;
    for (const auto& f : rect_reqs[0].fields) {
        names.push_back(f.name);
        values.push_back(f.value);
    }
    EXPECT_THAT(names, ElementsAre("wTouchscreen", "iMonitor", "iTop", "iLeft", "iBottom", "iRight"));
    EXPECT_THAT(values, ElementsAre(1, 1, 0, -800, 600, 0));
    EXPECT_EQ(rect_reqs[0].input, b);
    EXPECT_THAT(driver.errors(), IsEmpty()) << ErrorText(driver);
}

TEST_F(OrvaneTest, MonitorNumberCarriesAssignOneAndIsReportedByTheNextEnumeration) {
    MonitorNumberRequest r{};
    r.header.wTag1 = REQ_TAG;
    r.header.wTag2 = REQ_TAG;
    r.header.wTouchscreen = 2;
    r.iMonitor = 0;
    r.dwAssign = 1;
    std::vector<uint8_t> b(sizeof r);
    std::memcpy(b.data(), &r, sizeof r);
    EXPECT_THAT(Words(b, 12), ElementsAre(0, 1));
    ASSERT_TRUE(Send(driver, kMain, REQ_SET_MONITOR_NUMBER, b));
    EXPECT_EQ(driver.monitor_number(2), 0);
    EXPECT_FALSE(driver.monitor_number(1).has_value());

    std::vector<uint8_t> e = Build(REQ_GET_TOUCHSCREEN, 2);
    ASSERT_TRUE(Send(driver, kMain, REQ_GET_TOUCHSCREEN, e));
    EXPECT_EQ(As<TouchscreenRecord>(e).iMonitor, 0);
    EXPECT_THAT(driver.errors(), IsEmpty()) << ErrorText(driver);
}

TEST(OrvaneEnumeration, DriverThatForgetsAssignmentsReportsTheConfiguredMonitor) {
    FakeHost host;
    Driver driver(host);
    sim::orvane::TouchscreenConfig c;
    c.monitor = -1;
    c.remembers_monitor = false;
    driver.add_touchscreen(c);
    ASSERT_TRUE(Send(driver, kMain, REQ_SET_MONITOR_NUMBER, 0, 3));
    EXPECT_EQ(driver.monitor_number(0), 3);
    std::vector<uint8_t> e = Build(REQ_GET_TOUCHSCREEN, 0);
    ASSERT_TRUE(Send(driver, kMain, REQ_GET_TOUCHSCREEN, e));
    EXPECT_EQ(As<TouchscreenRecord>(e).iMonitor, -1);
}

TEST_F(OrvaneTest, AlignmentIsFilledWhenConfiguredAndLeftAloneOtherwise) {
    std::vector<uint8_t> with = Build(REQ_GET_ALIGNMENT, 1);
    ASSERT_TRUE(Send(driver, kMain, REQ_GET_ALIGNMENT, with));
    EXPECT_THAT(Words(with, 12), ElementsAre(5, 600, 3000, 7, 400, 2900, 1));

    std::vector<uint8_t> without = Build(REQ_GET_ALIGNMENT, 0);
    const std::vector<uint8_t> sent = without;
    EXPECT_TRUE(Send(driver, kMain, REQ_GET_ALIGNMENT, without));
    EXPECT_EQ(without, sent);
    EXPECT_THAT(Words(without, 12), ElementsAre(0, 576, 3107, 0, 432, 3012, 0));
}

TEST_F(OrvaneTest, QuickTouchThresholdsAndTheirSignal) {
    std::vector<uint8_t> b = Build(REQ_GET_QUICKTOUCH, 1);
    ASSERT_TRUE(Send(driver, kMain, REQ_GET_QUICKTOUCH, b));
    EXPECT_EQ(As<QuickTouchRequest>(b).iQuickTouchDx, 200);
    EXPECT_EQ(As<QuickTouchRequest>(b).iQuickTouchDy, 200);

    driver.set_quick_touch(1, 30, 40);  // not handed over yet: nothing to set
    EXPECT_THAT(host.sets(), IsEmpty());

    Send(driver, kMain, REQ_BEGIN_CHANGE, 0);
    ASSERT_TRUE(Send(driver, kMain, REQ_SET_QUICKTOUCH_EVENT, 1, QtR0(1)));
    Send(driver, kMain, REQ_END_CHANGE, 0);
    EXPECT_EQ(driver.quick_touch_event(1), QtR0(1));

    driver.set_quick_touch(1, 50, 60);
    EXPECT_THAT(host.sets(), ElementsAre(QtR0(1)));
    b = Build(REQ_GET_QUICKTOUCH, 1);
    ASSERT_TRUE(Send(driver, kMain, REQ_GET_QUICKTOUCH, b));
    EXPECT_EQ(As<QuickTouchRequest>(b).iQuickTouchDx, 50);
    EXPECT_EQ(As<QuickTouchRequest>(b).iQuickTouchDy, 60);
    EXPECT_THAT(driver.errors(), IsEmpty()) << ErrorText(driver);
}

// Three packets queued at once fold into one signal of the auto-reset event;
// the driver sets the event again after each read that leaves packets behind,
// so the worker's one-read-per-wake-up loop gets all three.
TEST_F(OrvaneTest, PacketsAreReadInOrderAndTheEventIsSetAgainWhileAnyRemain) {
    HandOverXy(0);
    driver.queue_packet(0, 10, 20, 0);
    driver.queue_packet(0, -30, 40, PKT_RELEASE);
    driver.queue_packet(0, 50, -60, PKT_QUICKTOUCH | PKT_FARTOUCH | 3);
    EXPECT_EQ(host.count(XyR0(0)), 3u);

    struct Want {
        int32_t x, y;
        DWORD flags;
        size_t sets_after;
    };
    const Want want[] = {{10, 20, 0, 4}, {-30, 40, PKT_RELEASE, 5}, {50, -60, 0x283, 5}};
    std::vector<uint8_t> b = Build(REQ_GET_TOUCH, 0);  // one buffer reused, as the worker does
    for (const Want& w : want) {
        ASSERT_TRUE(Send(driver, kMain + 10, REQ_GET_TOUCH, b));
        const auto p = As<TouchPacket>(b);
        EXPECT_EQ(p.iX, w.x);
        EXPECT_EQ(p.iY, w.y);
        EXPECT_EQ(p.dwFlags, w.flags);
        EXPECT_EQ(host.count(XyR0(0)), w.sets_after);
    }
    EXPECT_EQ(driver.queued_packets(0), 0u);
    EXPECT_FALSE(Send(driver, kMain + 10, REQ_GET_TOUCH, b));

    const auto reads = driver.requests(REQ_GET_TOUCH);
    ASSERT_EQ(reads.size(), 4u);
    std::vector<std::string> names;
    for (const auto& f : reads[0].fields) names.push_back(f.name);
    EXPECT_THAT(names, ElementsAre("wTouchscreen", "iX", "iY", "dwFlags"));
    EXPECT_EQ(reads[3].fields.size(), 1u);  // a failed read has no packet
    EXPECT_THAT(driver.errors(), IsEmpty()) << ErrorText(driver);
}

TEST_F(OrvaneTest, PacketsQueuedBeforeTheHandOverAreSignalledByIt) {
    driver.queue_packet(1, 1, 2, 0);
    EXPECT_THAT(host.sets(), IsEmpty());
    HandOverXy(1);
    EXPECT_THAT(host.sets(), ElementsAre(XyR0(1)));
}

TEST_F(OrvaneTest, TouchscreenCoordinatesMapOntoTheLastRectangleReceived) {
    EXPECT_FALSE(driver.queue_touch_at(1, 0.5, 0.5, 0));
    ASSERT_EQ(driver.errors().size(), 1u);
    EXPECT_NE(driver.errors()[0].detail.find("no monitor rectangle"), std::string::npos);
    EXPECT_EQ(driver.queued_packets(1), 0u);
    driver.clear_log();

    std::vector<uint8_t> r = Build(REQ_SET_MONITOR_RECT, 1, 1);
    const int32_t rect[4] = {0, -800, 600, 0};  // top, left, bottom, right
    std::memcpy(r.data() + offsetof(MonitorRectRequest, iTop), rect, sizeof rect);
    Send(driver, kMain, REQ_BEGIN_CHANGE, 1);
    Send(driver, kMain, REQ_SET_MONITOR_RECT, r);
    Send(driver, kMain, REQ_END_CHANGE, 1);

    struct Case {
        double u, v;
        int32_t x, y;
    };
    const Case cases[] = {
        {0.0, 0.0, -800, 0},  // top left pixel
        {1.0, 1.0, -1, 599},  // bottom right pixel, still on the monitor
        {0.5, 0.5, -400, 300},
        {0.25, 0.75, -600, 449},
    };
    std::vector<uint8_t> b = Build(REQ_GET_TOUCH, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.u << "," << c.v);
        ASSERT_TRUE(driver.queue_touch_at(1, c.u, c.v, PKT_RELEASE));
        ASSERT_TRUE(Send(driver, kMain + 10, REQ_GET_TOUCH, b));
        EXPECT_EQ(As<TouchPacket>(b).iX, c.x);
        EXPECT_EQ(As<TouchPacket>(b).iY, c.y);
        EXPECT_EQ(As<TouchPacket>(b).dwFlags, PKT_RELEASE);
    }
    EXPECT_THAT(driver.errors(), IsEmpty()) << ErrorText(driver);
}

// The mapping the runner also uses to report where a touch lands. A
// rectangle without width or height (a program's bad rectangle) puts every
// touch on its left or top edge instead of outside it.
TEST(OrvaneTouchPixel, PlacesTouchesInsideTheRectangle) {
    struct Case {
        const char* name;
        sim::orvane::MonitorRect rect;  // monitor, top, left, bottom, right
        double u, v;
        int32_t x, y;
    };
    const Case cases[] = {
        {"TopLeft", {0, 0, 0, 768, 1024}, 0.0, 0.0, 0, 0},
        {"BottomRightIsTheLastPixel", {0, 0, 0, 768, 1024}, 1.0, 1.0, 1023, 767},
        {"RoundsToTheNearestPixel", {0, 0, 0, 768, 1024}, 0.5, 0.5, 512, 384},
        {"LeftOfThePrimary", {1, -100, -1280, 924, 0}, 1.0, 0.0, -1, -100},
        {"NoWidth", {0, 0, 50, 768, 50}, 0.7, 1.0, 50, 767},
        {"RightLeftOfLeft", {0, 0, 50, 768, 10}, 1.0, 0.0, 50, 0},
        {"BottomAboveTop", {0, 300, 0, 200, 1024}, 0.0, 1.0, 0, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::orvane::Pixel p = sim::orvane::touch_pixel(c.rect, c.u, c.v);
        EXPECT_EQ(p.x, c.x);
        EXPECT_EQ(p.y, c.y);
    }
}

TEST_F(OrvaneTest, EventsAreHandedOverSignalledAndWithdrawn) {
    Send(driver, kMain, REQ_BEGIN_CHANGE, 0);
    ASSERT_TRUE(Send(driver, kMain, REQ_SET_ADDMON_EVENT, 0, kAddMonR0));
    Send(driver, kMain, REQ_END_CHANGE, 0);
    Send(driver, kMain, REQ_BEGIN_CHANGE, 0);
    ASSERT_TRUE(Send(driver, kMain, REQ_SET_REMOVE_EVENT, 0, kRemoveR0));
    Send(driver, kMain, REQ_END_CHANGE, 0);
    HandOverXy(2);

    EXPECT_TRUE(driver.signal_add_monitor());
    EXPECT_TRUE(driver.signal_remove_devices());
    driver.queue_packet(2, 0, 0, 0);
    EXPECT_THAT(host.sets(), ElementsAre(kAddMonR0, kRemoveR0, XyR0(2)));

    // The stop of worker 2, from the remove-devices watcher.
    Send(driver, kWatcher, REQ_BEGIN_CHANGE, 2);
    EXPECT_TRUE(Send(driver, kWatcher, REQ_CLEAR_EVENT, 2, 0));
    Send(driver, kWatcher, REQ_END_CHANGE, 2);
    EXPECT_EQ(driver.xy_event(2), 0u);

    // Teardown withdraws the program-wide events by their handles.
    EXPECT_TRUE(Send(driver, kMain, REQ_CLEAR_EVENT, 0, kAddMonR0));
    EXPECT_EQ(driver.add_monitor_event(), 0u);
    EXPECT_EQ(driver.remove_devices_event(), kRemoveR0);
    EXPECT_TRUE(Send(driver, kMain, REQ_CLEAR_EVENT, 0, kRemoveR0));
    EXPECT_EQ(driver.remove_devices_event(), 0u);

    EXPECT_FALSE(driver.signal_add_monitor());
    EXPECT_FALSE(driver.signal_remove_devices());
    driver.queue_packet(2, 0, 0, 0);
    EXPECT_EQ(host.sets().size(), 3u);
    EXPECT_THAT(driver.open_brackets(), IsEmpty());
    EXPECT_THAT(driver.errors(), IsEmpty()) << ErrorText(driver);
}

TEST_F(OrvaneTest, RecordsKeepTheInputBytesThreadAndOrder) {
    std::vector<uint8_t> b = Build(REQ_GET_ALIGNMENT, 1);
    const std::vector<uint8_t> sent = b;
    Send(driver, 7, REQ_GET_ALIGNMENT, b);
    std::vector<uint8_t> odd = {1, 2, 3};
    uint32_t n = 99;
    EXPECT_FALSE(driver.ioctl(8, 0x9C402FFC, odd.data(), 3, odd.data(), 3, &n));

    const auto reqs = driver.requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].seq, 1u);
    EXPECT_EQ(reqs[0].thread, 7u);
    EXPECT_STREQ(reqs[0].name, "REQ_GET_ALIGNMENT");
    EXPECT_EQ(reqs[0].touchscreen, 1);
    EXPECT_TRUE(reqs[0].ok);
    EXPECT_EQ(reqs[0].input, sent);  // as received, not as answered
    EXPECT_NE(b, sent);

    EXPECT_EQ(reqs[1].seq, 2u);
    EXPECT_LT(reqs[0].t_us, reqs[1].t_us);
    EXPECT_STREQ(reqs[1].name, "UNKNOWN");
    EXPECT_EQ(reqs[1].touchscreen, -1);
    EXPECT_FALSE(reqs[1].ok);
    EXPECT_EQ(reqs[1].input, odd);
    EXPECT_EQ(n, 0u);
}

// Callbacks run outside the driver's lock: an observer may call back into it.
TEST_F(OrvaneTest, ObserverSeesEachRequestThenItsErrors) {
    std::vector<std::string> seen;
    driver.set_observer(
        [&](const sim::orvane::Request& r) {
            seen.push_back(std::string(r.name) + " #" + std::to_string(driver.requests().size()));
        },
        [&](const sim::orvane::ProtocolError& e) {
            seen.push_back("error @" + std::to_string(e.seq) + " of " + std::to_string(driver.errors().size()));
        });
    Send(driver, kMain, REQ_GET_QUICKTOUCH, 0);
    Send(driver, kMain, REQ_END_CHANGE, 0);
    driver.queue_touch_at(0, 0, 0, 0);
    EXPECT_THAT(seen, ElementsAre("REQ_GET_QUICKTOUCH #1", "REQ_END_CHANGE #2", "error @2 of 1",
                                  "error @2 of 2"));
}

}  // namespace
}  // namespace orvane_test
