// The driver channel: opening the device, the change bracket and event
// withdrawal requests as they reach the driver, and the ring-0 conversion.
#include "driver/channel.h"

#include "driver/protocol.h"
#include "unit_support.h"

namespace unit {
namespace {

using ::testing::ValuesIn;

// ------------------------------------------------------------------ OpenDriver

struct OpenCase {
    const char* name;
    bool driver_present;
    bool opened;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class OpenDriverTest : public MachineTest, public ::testing::WithParamInterface<OpenCase> {};

// A second call neither opens a second handle nor retries a failed open.
TEST_P(OpenDriverTest, OpensTheDeviceOnceWithItsFlags) {
    const OpenCase& c = GetParam();
    sim::Config config;
    config.driver = c.driver_present;
    sim::Machine& m = Boot(config);

    OpenDriver();
    const HANDLE hFirst = ghDriver;
    OpenDriver();

    EXPECT_EQ(ghDriver, hFirst);
    EXPECT_NE(ghDriver, HANDLE(0));
    EXPECT_EQ(ghDriver == INVALID_HANDLE_VALUE, !c.opened);

    auto opens = m.trace().events("device_open");
    ASSERT_EQ(opens.size(), 1u);
    const sim::Fields& f = opens[0].fields;
    EXPECT_EQ(f["path"], "\\\\.\\Orvane.vxd");
    EXPECT_EQ(f["access"], 0u);
    EXPECT_EQ(f["share"], 0u);
    EXPECT_EQ(f["disposition"], 0u);
    EXPECT_EQ(f["flags"], 0x04000080u);
    EXPECT_EQ(f["ok"], c.opened);
}

const OpenCase kOpenCases[] = {
    {"DriverPresent", true, true},
    {"DriverMissing", false, false},
};

INSTANTIATE_TEST_SUITE_P(Channel, OpenDriverTest, ValuesIn(kOpenCases),
                         CaseName<OpenCase>);

// ------------------------------------------------------------------ requests

class ChannelRequestTest : public MachineTest {};

TEST_F(ChannelRequestTest, BracketAndWithdrawalAreEncodedByteForByte) {
    sim::Machine& m = Boot(sim::Config(), {Screen(0), Screen(1), Screen(2)});
    OpenDriver();
    HANDLE hEvent = CreateEventA(nullptr, FALSE, FALSE, "RykAddMonEvent");
    DWORD hEventR0 = 0;
    ASSERT_EQ(ToRing0Handle(hEvent, &hEventR0), TO_RING0_OK);

    // A worker's stop: the withdrawal inside a bracket for its touchscreen;
    // any non-zero bEnd closes the bracket. Then a program-wide event's
    // withdrawal, which names touchscreen 0 and carries the ring-0 handle.
    EXPECT_TRUE(VxdChange(FALSE, 2));
    EXPECT_TRUE(ClearVxdEvent(2, 0));
    EXPECT_TRUE(VxdChange(7, 2));
    EXPECT_TRUE(ClearVxdEvent(0, hEventR0));

    struct Expected {
        DWORD code;
        size_t size;
        std::vector<ByteField> fields;
    };
    const Expected expected[] = {
        {REQ_BEGIN_CHANGE, 12, {{2, Le16(10)}, {8, Le16(2)}}},
        {REQ_CLEAR_EVENT, 16, {{2, Le16(10)}, {8, Le16(2)}, {12, Le32(0)}}},
        {REQ_END_CHANGE, 12, {{2, Le16(10)}, {8, Le16(2)}}},
        {REQ_CLEAR_EVENT, 16, {{2, Le16(10)}, {8, Le16(0)}, {12, Le32(hEventR0)}}},
    };
    auto requests = m.driver().requests();
    ASSERT_EQ(requests.size(), std::size(expected));
    for (size_t i = 0; i < requests.size(); ++i)
        ExpectEncoded(requests[i], expected[i].code, expected[i].size, expected[i].fields);

    CloseHandle(hEvent);
}

// No caller looks at the result, but it must be the driver's answer.
TEST_F(ChannelRequestTest, ReturnsTheDriversAnswer) {
    sim::Machine& m = Boot(sim::Config(), {Screen(0), Screen(1)});
    OpenDriver();
    m.driver().refuse(REQ_END_CHANGE, Refusal{.always = true});
    m.driver().refuse(REQ_CLEAR_EVENT, Refusal{.always = true});

    EXPECT_TRUE(VxdChange(FALSE, 1));
    EXPECT_FALSE(ClearVxdEvent(1, 0));
    EXPECT_FALSE(VxdChange(TRUE, 1));
}

// ------------------------------------------------------------------ ToRing0Handle

struct Ring0Case {
    const char* name;
    sim::Windows windows;
    sim::OpenVxd open_vxd_handle;
    int result;
};

void PrintTo(const Ring0Case& c, std::ostream* os) { *os << c.name; }

class ToRing0HandleTest : public MachineTest, public ::testing::WithParamInterface<Ring0Case> {};

TEST_P(ToRing0HandleTest, ConvertsOrTellsWhichStepFailed) {
    const Ring0Case& c = GetParam();
    sim::Config config;
    config.windows = c.windows;
    config.open_vxd_handle = c.open_vxd_handle;
    sim::Machine& m = Boot(config);
    HANDLE hEvent = CreateEventA(nullptr, FALSE, FALSE, "RykRemoveDevicesEvent");

    DWORD hEventR0 = 0xDEADBEEF;
    EXPECT_EQ(ToRing0Handle(hEvent, &hEventR0), c.result);

    if (c.result == TO_RING0_OK) {
        // The handle the driver would set reaches this very event.
        ASSERT_NE(hEventR0, 0u);
        m.kernel().set_event_ring0(hEventR0);
        EXPECT_EQ(WaitForSingleObject(hEvent, 0), WAIT_OBJECT_0);
    } else {
        EXPECT_EQ(hEventR0, 0u);
    }
    CloseHandle(hEvent);
}

const Ring0Case kRing0Cases[] = {
    {"Exported", sim::Windows::v98, sim::OpenVxd::exported, TO_RING0_OK},
    {"Windows95", sim::Windows::v95, sim::OpenVxd::by_version, TO_RING0_OK},
    {"Missing", sim::Windows::v98, sim::OpenVxd::missing, TO_RING0_NOT_FOUND},
    {"WindowsNt4", sim::Windows::nt4, sim::OpenVxd::by_version, TO_RING0_NOT_FOUND},
    {"ReturnsZero", sim::Windows::v98, sim::OpenVxd::returns_zero, TO_RING0_REFUSED},
};

INSTANTIATE_TEST_SUITE_P(Channel, ToRing0HandleTest, ValuesIn(kRing0Cases),
                         CaseName<Ring0Case>);

}  // namespace
}  // namespace unit
