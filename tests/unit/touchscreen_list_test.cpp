// The touchscreen list against the simulated driver: the two requests it
// sends, and its edge cases (refusals, the unassigned count, the cursor
// rules of its searches, accessors without a record, unterminated text).
#include "inventory/touchscreen_list.h"

#include <cstring>
#include <functional>

#include "driver/channel.h"
#include "driver/protocol.h"
#include "unit_support.h"

namespace unit {
namespace {

using ::testing::ValuesIn;

// The list with its current record within reach, to hand it a record that the
// simulated driver would never produce.
class ListProbe : public TouchscreenList {
public:
    using TouchscreenList::TouchscreenList;
    TouchscreenRecord* CurrentRecord() { return pCurrent != nullptr ? &pCurrent->record : nullptr; }
};

std::vector<ByteField> TaggedHeader(uint16_t wTouchscreen) {
    return {{0, Le16(10)}, {2, Le16(10)}, {4, Le32(0)}, {8, Le16(wTouchscreen)}};
}

std::vector<ByteField> operator+(std::vector<ByteField> a, const std::vector<ByteField>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ------------------------------------------------------------------ requests

class TouchscreenListRequestTest : public MachineTest {};

TEST_F(TouchscreenListRequestTest, EnumerationAndAssignmentAreEncodedByteForByte) {
    sim::Machine& m = Boot(sim::Config(), {Screen(-1), Screen(0), Screen(1)});
    OpenDriver();
    TouchscreenList list(ghDriver);
    ASSERT_EQ(list.Enumerate(), 3);

    // Index 0, 1, 2, 3 in turn; the fourth is refused and ends the enumeration.
    auto fetches = m.driver().requests(REQ_GET_TOUCHSCREEN);
    ASSERT_EQ(fetches.size(), 4u);
    for (uint16_t i = 0; i < 4; ++i) {
        ExpectEncoded(fetches[i], REQ_GET_TOUCHSCREEN, 620,
                      TaggedHeader(i) + std::vector<ByteField>{{12, Le32(0x0000FFFF)}});
        EXPECT_EQ(fetches[i].ok, i < 3);
    }

    // dwAssign is 1 whatever the monitor, monitor 0 included.
    EXPECT_EQ(list.AssignMonitor(0, 1), 1);
    EXPECT_EQ(list.AssignMonitor(5, 2), 1);
    auto assigns = m.driver().requests(REQ_SET_MONITOR_NUMBER);
    ASSERT_EQ(assigns.size(), 2u);
    ExpectEncoded(assigns[0], REQ_SET_MONITOR_NUMBER, 20,
                  TaggedHeader(1) + std::vector<ByteField>{{12, Le32(0)}, {16, Le32(1)}});
    ExpectEncoded(assigns[1], REQ_SET_MONITOR_NUMBER, 20,
                  TaggedHeader(2) + std::vector<ByteField>{{12, Le32(5)}, {16, Le32(1)}});
    EXPECT_EQ(m.driver().monitor_number(1), 0);
    EXPECT_EQ(m.driver().monitor_number(2), 5);
}

// ------------------------------------------------------------------ edge cases

struct ListCase {
    const char* name;
    std::vector<TouchscreenConfig> screens;
    std::vector<std::pair<DWORD, Refusal>> refusals;  // in force during the enumeration
    LONG count;                                       // Enumerate's result
    bool quits;                                       // a quit message with code 2 is queued
    // Runs on the enumerated list.
    std::function<void(ListProbe&, sim::Machine&)> check;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

// What every accessor gives without a current record: neutral values, and
// the caller's buffers untouched.
void ExpectNeutralAccessors(ListProbe& list) {
    EXPECT_EQ(list.GetId(), 0);
    EXPECT_EQ(list.GetMonitor(), -2);
    char szPath[300];
    std::memset(szPath, 'x', sizeof szPath);
    EXPECT_EQ(list.GetRegistryPath(szPath), 0);
    EXPECT_EQ(szPath[0], 'x');
    char szSerial[32];
    std::memset(szSerial, 'x', sizeof szSerial);
    EXPECT_EQ(list.GetSerialNumber(szSerial), 0);
    EXPECT_EQ(szSerial[0], 'x');
    EXPECT_EQ(list.SetMonitor(3), 0);
    EXPECT_EQ(list.MoveNext(), 0);
}

void ExpectEmpty(ListProbe& list, sim::Machine& m) {
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetUnassignedCount(), 0);
    EXPECT_EQ(list.MoveFirst(), 0);
    EXPECT_EQ(list.MoveLast(), 0);
    ExpectNeutralAccessors(list);
    EXPECT_EQ(list.FindByMonitor(-1), -1);
    EXPECT_EQ(list.AssignMonitor(0, 0), 0);
    EXPECT_TRUE(m.driver().requests(REQ_SET_MONITOR_NUMBER).empty());
}

// The identifiers of the records from the first on, by MoveNext.
std::vector<LONG> Walk(ListProbe& list) {
    std::vector<LONG> ids;
    if (!list.MoveFirst()) return ids;
    do ids.push_back(list.GetId());
    while (list.MoveNext());
    return ids;
}

const ListCase kListCases[] = {
    {"DriverWithoutTouchscreens", {}, {}, 0, true, ExpectEmpty},
    {"FirstRequestRefused", {Screen(0), Screen(1)}, {{REQ_GET_TOUCHSCREEN, Refusal{.index = 0}}}, 0, true,
     ExpectEmpty},
    {"ThreeRecordsThenRefusal",
     {Screen(2, "SN-A", "Enum\\A"), Screen(0, "SN-B", "Enum\\B"), Screen(1, "SN-C", "Enum\\C")},
     {},
     3,
     false,
     [](ListProbe& list, sim::Machine&) {
         EXPECT_EQ(list.GetCount(), 3);
         EXPECT_EQ(list.GetId(), 0) << "the cursor stands on the first record";
         EXPECT_EQ(Walk(list), (std::vector<LONG>{0, 1, 2}));
         // MoveNext on the last record fails and stays there.
         EXPECT_EQ(list.MoveNext(), 0);
         EXPECT_EQ(list.GetId(), 2);
         EXPECT_EQ(list.GetMonitor(), 1);

         ASSERT_EQ(list.MoveFirst(), 1);
         ASSERT_EQ(list.MoveNext(), 1);
         char szPath[256];
         char szSerial[32];
         EXPECT_EQ(list.GetRegistryPath(szPath), 6);
         EXPECT_STREQ(szPath, "Enum\\B");
         EXPECT_EQ(list.GetSerialNumber(szSerial), 4);
         EXPECT_STREQ(szSerial, "SN-B");
     }},
    {"UnassignedCountedByLow16Bits",
     {Screen(0x0000FFFF), Screen(-1), Screen(0x1234FFFF), Screen(0), Screen(1), Screen(0x00010000)},
     {},
     6,
     false,
     [](ListProbe& list, sim::Machine&) {
         EXPECT_EQ(list.GetUnassignedCount(), 3);
         // Outside the enumeration the whole 32-bit value counts.
         EXPECT_EQ(list.GetMonitor(), 0x0000FFFF);
         EXPECT_EQ(list.FindByMonitor(-1), 1);
     }},
    {"FindByMonitorTiesAndMisses",
     {Screen(0), Screen(1), Screen(1)},
     {},
     3,
     false,
     [](ListProbe& list, sim::Machine&) {
         // A tie goes to the first in enumeration order; the cursor stays on it.
         EXPECT_EQ(list.FindByMonitor(1), 1);
         EXPECT_EQ(list.GetId(), 1);
         // A miss puts the cursor back where it was (the search itself ends
         // on the last record, so the cursor is put on another one).
         ASSERT_EQ(list.MoveFirst(), 1);
         EXPECT_EQ(list.FindByMonitor(7), -1);
         EXPECT_EQ(list.GetId(), 0);
         ASSERT_EQ(list.MoveNext(), 1);
         EXPECT_EQ(list.FindByMonitor(-1), -1);
         EXPECT_EQ(list.GetId(), 1);
     }},
    {"AssignMonitorToUnknownIdentifier",
     {Screen(-1), Screen(-1), Screen(-1)},
     {},
     3,
     false,
     [](ListProbe& list, sim::Machine& m) {
         ASSERT_EQ(list.MoveNext(), 1);
         EXPECT_EQ(list.AssignMonitor(2, 9), 0);
         EXPECT_EQ(list.GetId(), 1);
         EXPECT_TRUE(m.driver().requests(REQ_SET_MONITOR_NUMBER).empty());
     }},
    {"AssignMonitorRefusedByDriver",
     {Screen(-1), Screen(-1), Screen(-1)},
     {},
     3,
     false,
     [](ListProbe& list, sim::Machine& m) {
         m.driver().refuse(REQ_SET_MONITOR_NUMBER, Refusal{.always = true});
         EXPECT_EQ(list.AssignMonitor(2, 1), 1);
         EXPECT_EQ(list.GetId(), 0) << "the cursor is put back";
         ASSERT_EQ(m.driver().requests(REQ_SET_MONITOR_NUMBER).size(), 1u);
         EXPECT_FALSE(m.driver().requests(REQ_SET_MONITOR_NUMBER)[0].ok);
         // The record keeps its new number all the same.
         ASSERT_EQ(list.MoveNext(), 1);
         EXPECT_EQ(list.GetMonitor(), 2);
     }},
    {"NoCurrentRecordAfterRestoringAnEmptySlot",
     {Screen(0), Screen(1)},
     {},
     2,
     false,
     [](ListProbe& list, sim::Machine&) {
         list.RestoreCursor();
         ExpectNeutralAccessors(list);
         // A saved position comes back whatever moved the cursor since.
         ASSERT_EQ(list.MoveLast(), 1);
         list.SaveCursor();
         ASSERT_EQ(list.MoveFirst(), 1);
         list.RestoreCursor();
         EXPECT_EQ(list.GetId(), 1);
     }},
    {"UnterminatedTextIsCopiedBounded",
     {Screen(0, "SN", "KEY")},
     {},
     1,
     false,
     [](ListProbe& list, sim::Machine&) {
         TouchscreenRecord* rec = list.CurrentRecord();
         ASSERT_NE(rec, nullptr);
         std::memset(rec->szSerialNumber, 'S', sizeof rec->szSerialNumber);
         std::memset(rec->szRegistryPath, 'P', sizeof rec->szRegistryPath);
         std::memset(rec->szDriverText, 'D', sizeof rec->szDriverText);

         char szSerial[32];
         std::memset(szSerial, 'x', sizeof szSerial);
         EXPECT_EQ(list.GetSerialNumber(szSerial), 17);
         EXPECT_EQ(std::string(szSerial), std::string(17, 'S'));
         EXPECT_EQ(szSerial[18], 'x');

         char szPath[300];
         std::memset(szPath, 'x', sizeof szPath);
         EXPECT_EQ(list.GetRegistryPath(szPath), 255);
         EXPECT_EQ(std::string(szPath), std::string(255, 'P'));
         EXPECT_EQ(szPath[256], 'x');
     }},
};

class TouchscreenListEdgeTest : public MachineTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(TouchscreenListEdgeTest, Enumerated) {
    const ListCase& c = GetParam();
    sim::Machine& m = Boot(sim::Config(), c.screens);
    for (const auto& [code, refusal] : c.refusals) m.driver().refuse(code, refusal);
    OpenDriver();

    ListProbe list(ghDriver);
    EXPECT_EQ(list.Enumerate(), c.count);
    m.driver().clear_refusals();
    c.check(list, m);

    if (c.quits) {
        MSG msg;
        EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
        EXPECT_EQ(msg.wParam, 2u);
    } else {
        EXPECT_EQ(PendingQuit(m), std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(TouchscreenList, TouchscreenListEdgeTest, ValuesIn(kListCases),
                         CaseName<ListCase>);

}  // namespace
}  // namespace unit
