// The driver model's protocol checks: each breach is reported, and the
// sequences the program legitimately sends raise none.
#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "orvane_support.h"

namespace orvane_test {
namespace {

using ::testing::IsEmpty;

// One request of a sequence. `arg` as for Build(); `tweak` spoils the
// buffer; `refused` makes the driver refuse this one request.
struct Step {
    uint32_t thread;
    DWORD code;
    WORD ts = 0;
    uint32_t arg = 0;
    std::function<void(std::vector<uint8_t>&)> tweak = {};
    bool refused = false;
};

Step Begin(WORD ts, uint32_t thread = kMain) { return {thread, REQ_BEGIN_CHANGE, ts}; }
Step End(WORD ts, uint32_t thread = kMain) { return {thread, REQ_END_CHANGE, ts}; }
Step Do(DWORD code, WORD ts, uint32_t arg = 0, uint32_t thread = kMain) { return {thread, code, ts, arg}; }
Step Refused(DWORD code, WORD ts, uint32_t arg = 0, uint32_t thread = kMain) {
    return {thread, code, ts, arg, {}, true};
}
template <class T>
Step Spoilt(DWORD code, WORD ts, std::function<void(T&)> spoil) {
    return {kMain, code, ts, 0, [spoil](std::vector<uint8_t>& b) {
                T r;
                std::memcpy(&r, b.data(), sizeof r);
                spoil(r);
                std::memcpy(b.data(), &r, sizeof r);
            }};
}

struct SequenceCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> errors;  // a piece of each expected error's text, in order
};

void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class OrvaneSequence : public OrvaneTest, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(OrvaneSequence, ReportsExactlyTheBreaches) {
    const SequenceCase& c = GetParam();
    for (const Step& s : c.steps) {
        std::vector<uint8_t> b = Build(s.code, s.ts, s.arg);
        if (s.tweak) s.tweak(b);
        if (s.refused) driver.refuse(s.code, {false, 1});
        Send(driver, s.thread, s.code, b);
    }
    const auto errors = driver.errors();
    ASSERT_EQ(errors.size(), c.errors.size()) << ErrorText(driver);
    for (size_t i = 0; i < errors.size(); ++i)
        EXPECT_NE(errors[i].detail.find(c.errors[i]), std::string::npos)
            << "error " << i << ": " << errors[i].detail << "\nexpected to contain: " << c.errors[i];
}

// What the program sends, and must be able to send without a complaint.
const SequenceCase kCorrect[] = {
    {"Enumeration", {Do(REQ_GET_TOUCHSCREEN, 0), Do(REQ_GET_TOUCHSCREEN, 1), Do(REQ_GET_TOUCHSCREEN, 2),
                     Do(REQ_GET_TOUCHSCREEN, 3)}, {}},
    {"ArmingBothProgramWideEvents",
     {Begin(0), Do(REQ_SET_ADDMON_EVENT, 0, kAddMonR0), End(0), Begin(0), Do(REQ_SET_REMOVE_EVENT, 0, kRemoveR0),
      End(0)}, {}},
    {"WorkerStart",
     {Do(REQ_SET_MONITOR_NUMBER, 2, 0), Begin(2), Do(REQ_SET_MONITOR_RECT, 2, 0), End(2), Begin(2),
      Do(REQ_SET_XY_EVENT, 2, XyR0(2)), End(2), Begin(0), Do(REQ_SET_QUICKTOUCH_EVENT, 2, QtR0(2)), End(0)}, {}},
    {"WorkerStopOnTheWatcherInterleavedWithAMainThreadBracket",
     {Begin(1), Begin(0, kWatcher), Do(REQ_CLEAR_EVENT, 0, 0, kWatcher), Do(REQ_SET_MONITOR_RECT, 1, 1),
      End(0, kWatcher), End(1)}, {}},
    {"ReSendAfterRescanAndTeardownNeedNoBracket",
     {Do(REQ_SET_XY_EVENT, 1, XyR0(1)), Do(REQ_CLEAR_EVENT, 0, kAddMonR0), Do(REQ_CLEAR_EVENT, 0, kRemoveR0)}, {}},
    {"UnbracketedReads",
     {Do(REQ_GET_QUICKTOUCH, 2), Do(REQ_GET_ALIGNMENT, 1), Do(REQ_GET_TOUCH, 0, 0, 5)}, {}},
    // A reader on a thread of its own (RykXyProbe's, or a quick-touch
    // refresher) between the steps of another thread's brackets.
    {"ReadsOfAnotherThreadInsideABracket",
     {Begin(1), Do(REQ_GET_TOUCHSCREEN, 0, 0, kWatcher), Do(REQ_SET_MONITOR_RECT, 1, 1),
      Do(REQ_GET_ALIGNMENT, 1, 0, kWatcher), Do(REQ_GET_QUICKTOUCH, 1, 0, kWatcher), End(1),
      Begin(0), Do(REQ_GET_TOUCHSCREEN, 1, 0, kWatcher), Do(REQ_SET_ADDMON_EVENT, 0, kAddMonR0), End(0)}, {}},
    {"ReadInsideAGivenUpBracket",
     {Begin(1), Refused(REQ_SET_XY_EVENT, 1, XyR0(1)), Do(REQ_GET_TOUCHSCREEN, 0)}, {}},
    {"RefusedMonitorRectangleIsStillClosed",
     {Begin(1), Refused(REQ_SET_MONITOR_RECT, 1, 1), End(1), Begin(0), End(0)}, {}},
    {"BeginAfterARefusedHandOver",
     {Begin(1), Refused(REQ_SET_XY_EVENT, 1, XyR0(1)), Begin(2), Do(REQ_SET_MONITOR_RECT, 2), End(2)}, {}},
    {"ReSendWhileARefusedHandOverLeftItsBracketOpen",
     {Begin(0), Refused(REQ_SET_QUICKTOUCH_EVENT, 1, QtR0(1)), Do(REQ_SET_XY_EVENT, 2, XyR0(2))}, {}},
    {"RefusedBeginStillOpensTheBracket",
     {Refused(REQ_BEGIN_CHANGE, 1), Do(REQ_SET_MONITOR_RECT, 1, 1), End(1)}, {}},
};
INSTANTIATE_TEST_SUITE_P(Correct, OrvaneSequence, ::testing::ValuesIn(kCorrect),
                         [](const auto& p) { return std::string(p.param.name); });

const SequenceCase kBrackets[] = {
    {"MonitorRectangleOutsideABracket", {Do(REQ_SET_MONITOR_RECT, 1, 1)}, {"outside a change bracket"}},
    {"MonitorRectangleInsideAnotherTouchscreensBracket",
     {Begin(0), Do(REQ_SET_MONITOR_RECT, 1, 1), End(0)}, {"expected the bracket for 1"}},
    {"QuickTouchHandOverBracketedWithItsOwnIdentifier",
     {Begin(2), Do(REQ_SET_QUICKTOUCH_EVENT, 2, QtR0(2)), End(2)}, {"expected the bracket for 0"}},
    {"HandOverInsideAnotherTouchscreensBracket",
     {Begin(0), Do(REQ_SET_XY_EVENT, 1, XyR0(1)), End(0)}, {"expected the bracket for 1"}},
    {"AddMonitorArmedWithoutABracket", {Do(REQ_SET_ADDMON_EVENT, 0, kAddMonR0)}, {"outside a change bracket"}},
    {"WorkerStopWithoutABracket", {Do(REQ_CLEAR_EVENT, 1, 0)}, {"outside a change bracket"}},
    {"BracketOpenedOnAnotherThread",
     {Begin(1, kWatcher), Do(REQ_SET_MONITOR_RECT, 1, 1), End(1, kWatcher)}, {"outside a change bracket"}},
    {"ReadsInsideTheirOwnThreadsBracket",
     {Begin(1), Do(REQ_GET_ALIGNMENT, 1), Do(REQ_GET_TOUCHSCREEN, 0), Do(REQ_GET_QUICKTOUCH, 1), End(1)},
     {"REQ_GET_ALIGNMENT: sent inside the bracket for 1 of its own thread",
      "REQ_GET_TOUCHSCREEN: sent inside the bracket for 1 of its own thread",
      "REQ_GET_QUICKTOUCH: sent inside the bracket for 1 of its own thread"}},
    {"EndWithoutBegin", {End(1)}, {"without REQ_BEGIN_CHANGE"}},
    {"EndForAnotherIdentifier", {Begin(1), End(2)}, {"closes the bracket for 1"}},
    {"NestedBegin", {Begin(1), Begin(2), End(2)}, {"while the bracket for 1 is open"}},
    {"NestedBeginAfterASuccessfulHandOver",
     {Begin(1), Do(REQ_SET_XY_EVENT, 1, XyR0(1)), Begin(0)}, {"while the bracket for 1 is open"}},
    {"GivenUpBracketCoversNothing",
     {Begin(1), Refused(REQ_SET_XY_EVENT, 1, XyR0(1)), Do(REQ_SET_MONITOR_RECT, 1, 1)},
     {"outside a change bracket (the bracket for 1 was given up)"}},
};
INSTANTIATE_TEST_SUITE_P(Brackets, OrvaneSequence, ::testing::ValuesIn(kBrackets),
                         [](const auto& p) { return std::string(p.param.name); });

const SequenceCase kFields[] = {
    {"WrongTag2", {Spoilt<TouchPacket>(REQ_GET_TOUCH, 0, [](TouchPacket& p) { p.header.wTag2 = 9; })},
     {"wTag2 is 9"}},
    {"WrongTag2InABracket", {Spoilt<RequestHeader>(REQ_BEGIN_CHANGE, 0, [](RequestHeader& h) { h.wTag2 = 0; }),
                             End(0)},
     {"REQ_BEGIN_CHANGE: wTag2 is 0"}},
    {"WrongTag1InEnumeration",
     {Spoilt<TouchscreenRecord>(REQ_GET_TOUCHSCREEN, 0, [](TouchscreenRecord& r) { r.header.wTag1 = 0xCDCD; })},
     {"wTag1 is 52685"}},
    {"ReservedNotZeroInMonitorNumber",
     {Spoilt<MonitorNumberRequest>(REQ_SET_MONITOR_NUMBER, 0,
                                   [](MonitorNumberRequest& r) { r.header.dwReserved = 0xCDCDCDCD; })},
     {"dwReserved is 0xCDCDCDCD"}},
    {"ReservedNotZeroInAlignment",
     {Spoilt<AlignmentRequest>(REQ_GET_ALIGNMENT, 0, [](AlignmentRequest& r) { r.header.dwReserved = 1; })},
     {"dwReserved is 0x00000001"}},
    {"EnumerationMonitorNotFFFF",
     {Spoilt<TouchscreenRecord>(REQ_GET_TOUCHSCREEN, 0, [](TouchscreenRecord& r) { r.iMonitor = -1; })},
     {"iMonitor is 0xFFFFFFFF"}},
    {"AssignNotOne",
     {Spoilt<MonitorNumberRequest>(REQ_SET_MONITOR_NUMBER, 0, [](MonitorNumberRequest& r) { r.dwAssign = 0; })},
     {"dwAssign is 0"}},
    {"PacketReadForAnUnknownTouchscreen", {Do(REQ_GET_TOUCH, 3)}, {"names touchscreen 3; the driver has 3"}},
    {"MonitorNumberForAnUnknownTouchscreen", {Do(REQ_SET_MONITOR_NUMBER, 7, 0)}, {"names touchscreen 7"}},
    {"HandOverForAnUnknownTouchscreen", {Begin(5), Do(REQ_SET_XY_EVENT, 5, XyR0(5))},
     {"REQ_BEGIN_CHANGE: names touchscreen 5", "REQ_SET_XY_EVENT: names touchscreen 5"}},
    {"HandOverOfAWin32Handle", {Begin(0), Do(REQ_SET_XY_EVENT, 0, kWin32Handle), End(0)},
     {"hEventR0 0x00000044 is not a ring-0 handle"}},
    {"HandOverOfNoHandle", {Begin(0), Do(REQ_SET_REMOVE_EVENT, 0, 0), End(0)},
     {"hEventR0 0x00000000 is not a ring-0 handle"}},
    {"ProgramWideEventNamingATouchscreen", {Begin(0), Do(REQ_SET_ADDMON_EVENT, 1, kAddMonR0), End(0)},
     {"names touchscreen 1 for a program-wide event"}},
    {"TeardownWithdrawalNamingATouchscreen", {Do(REQ_CLEAR_EVENT, 1, kAddMonR0)},
     {"names touchscreen 1 for a program-wide event"}},
};
INSTANTIATE_TEST_SUITE_P(Fields, OrvaneSequence, ::testing::ValuesIn(kFields),
                         [](const auto& p) { return std::string(p.param.name); });

// Buffer shape: sizes, one buffer for both directions, known codes.
struct BufferCase {
    const char* name;
    DWORD code;
    uint32_t in_size, out_size;
    bool separate_out;
    bool answered;  // the request still goes through
    std::vector<std::string> errors;
};

void PrintTo(const BufferCase& c, std::ostream* os) { *os << c.name; }

class OrvaneBuffers : public OrvaneTest, public ::testing::WithParamInterface<BufferCase> {};

TEST_P(OrvaneBuffers, AreCheckedAndAnsweredAsFarAsPossible) {
    const BufferCase& c = GetParam();
    driver.queue_packet(0, 11, 22, 0);
    std::vector<uint8_t> in = Build(RequestSize(c.code) ? c.code : REQ_GET_TOUCH, 0);
    in.resize(std::max<size_t>(in.size(), c.in_size) + 8, kJunk);
    std::vector<uint8_t> other(in.size(), 0);
    void* out = c.separate_out ? other.data() : in.data();
    uint32_t n = 0;
    EXPECT_EQ(driver.ioctl(kMain, c.code, in.data(), c.in_size, out, c.out_size, &n), c.answered);
    const auto errors = driver.errors();
    ASSERT_EQ(errors.size(), c.errors.size()) << ErrorText(driver);
    for (size_t i = 0; i < errors.size(); ++i) EXPECT_NE(errors[i].detail.find(c.errors[i]), std::string::npos);
    if (c.answered && c.code == REQ_GET_TOUCH) {
        TouchPacket p;
        std::memcpy(&p, out, sizeof p);
        EXPECT_EQ(p.iX, 11);
    }
}

const BufferCase kBuffers[] = {
    {"Exact", REQ_GET_TOUCH, 32, 32, false, true, {}},
    {"ShortBuffer", REQ_GET_TOUCH, 28, 28, false, false, {"buffer sizes 28 in, 28 out; expected 32 both"}},
    {"LongBuffer", REQ_GET_TOUCH, 36, 36, false, true, {"buffer sizes 36 in, 36 out; expected 32 both"}},
    {"OutputSizeDiffers", REQ_GET_TOUCH, 32, 16, false, false, {"buffer sizes 32 in, 16 out"}},
    {"NoOutputWanted", REQ_SET_MONITOR_NUMBER, 20, 0, false, true, {"buffer sizes 20 in, 0 out"}},
    {"SeparateOutputBuffer", REQ_GET_TOUCH, 32, 32, true, true, {"input and output are different buffers"}},
    {"UnknownCode", 0x9C402010u, 32, 32, false, false, {"unknown control code 0x9C402010"}},
};
INSTANTIATE_TEST_SUITE_P(Shapes, OrvaneBuffers, ::testing::ValuesIn(kBuffers),
                         [](const auto& p) { return std::string(p.param.name); });

// The program holds a lock around every packet read, so two reads are never
// inside the driver together. The host's hook starts a second read on
// another thread while the first is still in the driver (setting the event
// again for the packet left behind).
TEST_F(OrvaneTest, TwoPacketReadsInsideTheDriverAtOnceAreReported) {
    HandOverXy(0);
    driver.queue_packet(0, 1, 1, 0);
    driver.queue_packet(0, 2, 2, 0);
    driver.queue_packet(0, 3, 3, 0);
    bool once = true;
    host.on_set([&](uint32_t) {
        if (!once) return;
        once = false;
        std::thread second([&] {
            std::vector<uint8_t> b = Build(REQ_GET_TOUCH, 0);
            Send(driver, 21, REQ_GET_TOUCH, b);
        });
        second.join();
    });
    std::vector<uint8_t> b = Build(REQ_GET_TOUCH, 0);
    ASSERT_TRUE(Send(driver, 20, REQ_GET_TOUCH, b));
    const auto errors = driver.errors();
    ASSERT_EQ(errors.size(), 1u) << ErrorText(driver);
    EXPECT_EQ(errors[0].thread, 21u);
    EXPECT_NE(errors[0].detail.find("another REQ_GET_TOUCH is inside the driver"), std::string::npos);
}

// Serialised reads from several workers, with other requests and stimuli
// arriving at the same time, raise nothing and lose no packet. (Run under
// ThreadSanitizer this also checks the model's own locking.)
TEST_F(OrvaneTest, SerialisedReadsAmidOtherTrafficAreClean) {
    constexpr int kPackets = 200;
    for (int ts = 0; ts < 3; ++ts) HandOverXy(ts);
    std::mutex cs;  // the program's gcsDriver
    std::vector<std::thread> workers;
    std::vector<int> got(3, 0);
    for (int ts = 0; ts < 3; ++ts)
        workers.emplace_back([&, ts] {
            std::vector<uint8_t> b = Build(REQ_GET_TOUCH, static_cast<WORD>(ts));
            while (got[ts] < kPackets) {
                bool ok;
                {
                    std::lock_guard<std::mutex> g(cs);
                    ok = Send(driver, 30 + static_cast<uint32_t>(ts), REQ_GET_TOUCH, b);
                }
                if (ok)
                    ++got[ts];
                else
                    std::this_thread::yield();
            }
        });
    std::thread other([&] {
        for (int i = 0; i < kPackets; ++i) {
            Send(driver, kMain, REQ_GET_QUICKTOUCH, static_cast<WORD>(i % 3));
            Send(driver, kMain, REQ_BEGIN_CHANGE, 1);
            Send(driver, kMain, REQ_SET_MONITOR_RECT, 1, 1);
            Send(driver, kMain, REQ_END_CHANGE, 1);
        }
    });
    for (int i = 0; i < kPackets; ++i)
        for (int ts = 0; ts < 3; ++ts) driver.queue_packet(ts, i, ts, 0);
    for (auto& w : workers) w.join();
    other.join();
    EXPECT_EQ(got, std::vector<int>(3, kPackets));
    EXPECT_THAT(driver.errors(), IsEmpty()) << ErrorText(driver);
}

}  // namespace
}  // namespace orvane_test
