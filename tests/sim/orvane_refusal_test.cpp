// Refusals on cue: which requests a rule refuses, and what a refused request
// leaves behind.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "orvane_support.h"

namespace orvane_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using sim::orvane::Refusal;

struct RefusalCase {
    const char* name;
    DWORD code;
    std::vector<Refusal> rules;
    std::vector<WORD> touchscreens;  // one request each, in turn
    std::vector<bool> ok;            // what each returns
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class OrvaneRefusal : public OrvaneTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(OrvaneRefusal, RefusesTheMatchingRequests) {
    const RefusalCase& c = GetParam();
    for (const Refusal& r : c.rules) driver.refuse(c.code, r);
    std::vector<bool> ok;
    for (WORD ts : c.touchscreens) ok.push_back(Send(driver, kMain, c.code, ts));
    EXPECT_THAT(ok, ElementsAreArray(c.ok));

    std::vector<bool> recorded;
    for (const auto& r : driver.requests()) recorded.push_back(r.ok);
    EXPECT_EQ(recorded, ok);
    EXPECT_THAT(driver.errors(), ::testing::IsEmpty()) << ErrorText(driver);
}

const RefusalCase kRefusals[] = {
    {"Always", REQ_GET_QUICKTOUCH, {{true}}, {0, 1, 0}, {false, false, false}},
    {"NextTwo", REQ_GET_QUICKTOUCH, {{false, 2}}, {0, 0, 0, 1}, {false, false, true, true}},
    {"AlwaysOutweighsTimes", REQ_GET_QUICKTOUCH, {{true, 1}}, {0, 0}, {false, false}},
    {"EnumerationIndex", REQ_GET_TOUCHSCREEN, {{false, 0, 1}}, {0, 1, 2, 1}, {true, false, true, false}},
    {"EnumerationIndexOnce", REQ_GET_TOUCHSCREEN, {{false, 1, 0}}, {0, 0, 1}, {false, true, true}},
    {"IndexFilterIgnoresOtherCodes", REQ_GET_QUICKTOUCH, {{false, 0, 1}}, {0, 1, 2}, {true, true, true}},
    {"Touchscreen", REQ_GET_QUICKTOUCH, {{false, 0, -1, 2}}, {0, 2, 1, 2}, {true, false, true, false}},
    {"TouchscreenNextOnce", REQ_GET_QUICKTOUCH, {{false, 1, -1, 1}}, {0, 1, 1}, {true, false, true}},
    {"RulesAddUp", REQ_GET_QUICKTOUCH, {{false, 0, -1, 0}, {false, 0, -1, 2}}, {0, 1, 2}, {false, true, false}},
    {"EmptyRuleDoesNothing", REQ_GET_QUICKTOUCH, {{}}, {0, 1}, {true, true}},
    {"OtherCodeUntouched", REQ_GET_ALIGNMENT, {}, {0, 1}, {true, true}},
};
INSTANTIATE_TEST_SUITE_P(Rules, OrvaneRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(OrvaneTest, RefusedRequestLeavesTheBufferUnchanged) {
    const DWORD codes[] = {REQ_GET_TOUCHSCREEN, REQ_GET_ALIGNMENT, REQ_GET_QUICKTOUCH, REQ_GET_TOUCH};
    driver.queue_packet(1, 5, 6, 0);
    for (DWORD code : codes) {
        SCOPED_TRACE(RequestName(code));
        driver.refuse(code, {true});
        std::vector<uint8_t> b = Build(code, 1);
        const std::vector<uint8_t> sent = b;
        EXPECT_FALSE(Send(driver, kMain, code, b));
        EXPECT_EQ(b, sent);
    }
}

TEST_F(OrvaneTest, RefusedHandOversAndAssignmentsChangeNothing) {
    driver.refuse(REQ_SET_XY_EVENT, {true});
    driver.refuse(REQ_SET_QUICKTOUCH_EVENT, {true});
    driver.refuse(REQ_SET_ADDMON_EVENT, {true});
    driver.refuse(REQ_SET_MONITOR_RECT, {true});
    driver.refuse(REQ_SET_MONITOR_NUMBER, {true});
    EXPECT_FALSE(Send(driver, kMain, REQ_SET_XY_EVENT, 1, XyR0(1)));  // an unbracketed re-send
    EXPECT_FALSE(Send(driver, kMain, REQ_SET_MONITOR_NUMBER, 1, 0));
    Send(driver, kMain, REQ_BEGIN_CHANGE, 0);
    EXPECT_FALSE(Send(driver, kMain, REQ_SET_QUICKTOUCH_EVENT, 1, QtR0(1)));
    Send(driver, kMain, REQ_BEGIN_CHANGE, 0);
    EXPECT_FALSE(Send(driver, kMain, REQ_SET_ADDMON_EVENT, 0, kAddMonR0));
    Send(driver, kMain, REQ_BEGIN_CHANGE, 1);
    EXPECT_FALSE(Send(driver, kMain, REQ_SET_MONITOR_RECT, 1, 1));
    Send(driver, kMain, REQ_END_CHANGE, 1);

    EXPECT_EQ(driver.xy_event(1), 0u);
    EXPECT_EQ(driver.quick_touch_event(1), 0u);
    EXPECT_EQ(driver.add_monitor_event(), 0u);
    EXPECT_FALSE(driver.monitor_rect(1).has_value());
    EXPECT_FALSE(driver.monitor_number(1).has_value());
    EXPECT_THAT(driver.errors(), ::testing::IsEmpty()) << ErrorText(driver);

    // A hand-over refused inside its bracket leaves that bracket open, given up.
    Send(driver, kMain, REQ_BEGIN_CHANGE, 2);
    EXPECT_FALSE(Send(driver, kMain, REQ_SET_XY_EVENT, 2, XyR0(2)));
    const auto open = driver.open_brackets();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].thread, kMain);
    EXPECT_EQ(open[0].touchscreen, 2);
    EXPECT_TRUE(open[0].given_up);
}

// A refused packet read loses the packet it would have returned; the event is
// set again for the packets behind it, so the worker is not left waiting.
TEST_F(OrvaneTest, RefusedPacketReadDropsItsPacket) {
    HandOverXy(0);
    driver.queue_packet(0, 1, 1, 0);
    driver.queue_packet(0, 2, 2, 0);
    driver.refuse(REQ_GET_TOUCH, {false, 1});
    std::vector<uint8_t> b = Build(REQ_GET_TOUCH, 0);
    EXPECT_FALSE(Send(driver, kWatcher, REQ_GET_TOUCH, b));
    EXPECT_EQ(host.count(XyR0(0)), 3u);
    EXPECT_EQ(driver.queued_packets(0), 1u);
    ASSERT_TRUE(Send(driver, kWatcher, REQ_GET_TOUCH, b));
    EXPECT_EQ(As<TouchPacket>(b).iX, 2);
    EXPECT_EQ(host.count(XyR0(0)), 3u);  // nothing left behind it

    driver.refuse(REQ_GET_TOUCH, {true});
    driver.queue_packet(0, 3, 3, 0);
    EXPECT_FALSE(Send(driver, kWatcher, REQ_GET_TOUCH, b));
    EXPECT_EQ(driver.queued_packets(0), 0u);
    driver.clear_refusals();
    driver.queue_packet(0, 4, 4, 0);
    ASSERT_TRUE(Send(driver, kWatcher, REQ_GET_TOUCH, b));
    EXPECT_EQ(As<TouchPacket>(b).iX, 4);
}

}  // namespace
}  // namespace orvane_test
