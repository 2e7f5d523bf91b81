// Each touchscreen's own key against the simulated registry and driver: the
// serial-number check with the clearing of a stale monitor assignment, and
// the writing of the driver's default alignment. Both work on the current
// record of the touchscreen list, leave its cursor, and close the key on
// every path.
#include "inventory/registry_check.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/touchscreen_list.h"
#include "registry.h"
#include "unit_support.h"

namespace unit {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::ValuesIn;

const char kKey[] = "Enum\\Ryk\\TS-0001";
const char kOtherKey[] = "Enum\\Ryk\\TS-0000";

// One registry write as the machine traced it.
struct RegWrite {
    std::string key;
    std::string name;
    std::string type;
    int64_t value;
    bool operator==(const RegWrite&) const = default;
};

void PrintTo(const RegWrite& w, std::ostream* os) {
    *os << "{" << w.key << " " << w.name << " " << w.type << " " << w.value << "}";
}

std::vector<RegWrite> Writes(sim::Machine& m) {
    std::vector<RegWrite> out;
    for (const auto& e : m.trace().events("regwrite")) {
        RegWrite w{e.fields["key"].get<std::string>(), e.fields["name"].get<std::string>(),
                   e.fields["type"].is_string() ? e.fields["type"].get<std::string>() : "?", -1};
        if (e.fields["value"].is_number()) w.value = e.fields["value"].get<int64_t>();
        out.push_back(w);
    }
    return out;
}

RegWrite Dword(const char* name, DWORD value) { return {kKey, name, "REG_DWORD", static_cast<int64_t>(value)}; }

// Touchscreen 0 sits on monitor 0 with a key of its own; touchscreen 1, the
// one under test, is the current record when the operation runs.
class RegistryCheckTest : public MachineTest {
protected:
    sim::Machine& Start(const TouchscreenConfig& screen) {
        sim::Machine& m = Boot(sim::Config(), {Screen(0, "TS-0000", kOtherKey), screen});
        m.registry().set_string(HKEY_LOCAL_MACHINE, kOtherKey, "SerialNumber", "TS-0000");
        OpenDriver();
        gpTouchscreens = new TouchscreenList(ghDriver);
        EXPECT_EQ(gpTouchscreens->Enumerate(), 2);
        gpTouchscreens->MoveFirst();
        gpTouchscreens->MoveNext();
        return m;
    }

    // The cursor is where the caller put it, and touchscreen 0 is as it was.
    static void ExpectCursorAndNeighbourKept() {
        EXPECT_EQ(gpTouchscreens->GetId(), 1);
        gpTouchscreens->MoveFirst();
        EXPECT_EQ(gpTouchscreens->GetMonitor(), 0);
        gpTouchscreens->MoveNext();
    }
};

// ------------------------------------------------------------------ CheckRegistryEntry

struct CheckCase {
    const char* name;
    const char* serial;  // the driver's
    const char* path;    // the driver's registry path for it
    // The touchscreen's key as the user left it; "MonitorNumber" is 1 in it
    // unless this changes it.
    std::function<void(sim::Registry&)> key;
    int result;
    LONG monitor;  // the record's monitor number afterwards (it starts at 1)
    std::vector<RegWrite> writes;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CheckRegistryEntryTest : public RegistryCheckTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckRegistryEntryTest, ComparesTheSerialAndClearsAStaleAssignment) {
    const CheckCase& c = GetParam();
    sim::Machine& m = Start(Screen(1, c.serial, c.path));
    if (c.key) c.key(m.registry());
    const auto before = m.registry().get_dword(HKEY_LOCAL_MACHINE, kKey, "MonitorNumber");

    EXPECT_EQ(CheckRegistryEntry(), c.result);
    EXPECT_EQ(gpTouchscreens->GetMonitor(), c.monitor);
    EXPECT_THAT(Writes(m), ElementsAreArray(c.writes));
    const auto after = m.registry().get_dword(HKEY_LOCAL_MACHINE, kKey, "MonitorNumber");
    if (c.writes.empty()) {
        EXPECT_EQ(after, before);
    } else {
        EXPECT_EQ(after, 0xFFFFFFFFu);
    }
    // The key is closed on every path; the driver is not told.
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());
    EXPECT_THAT(m.driver().requests(REQ_SET_MONITOR_NUMBER), IsEmpty());
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());
    ExpectCursorAndNeighbourKept();
}

std::function<void(sim::Registry&)> Serial(std::string text) {
    return [text](sim::Registry& reg) {
        reg.set_dword(HKEY_LOCAL_MACHINE, kKey, "MonitorNumber", 1);
        reg.set_string(HKEY_LOCAL_MACHINE, kKey, "SerialNumber", text);
    };
}

std::function<void(sim::Registry&)> ReadOnly(std::string text) {
    return [text](sim::Registry& reg) {
        Serial(text)(reg);
        reg.set_read_only(HKEY_LOCAL_MACHINE, kKey, true);
    };
}

const std::vector<RegWrite> kCleared = {Dword("MonitorNumber", 0xFFFFFFFFu)};

const CheckCase kCheckCases[] = {
    {"Equal", "TS-0001", kKey, Serial("TS-0001"), 1, 1, {}},
    {"CaseDiffers", "TS-0001", kKey, Serial("ts-0001"), 0, -1, kCleared},
    {"LongerInTheKey", "TS-0001", kKey, Serial("TS-0001X"), 0, -1, kCleared},
    {"ShorterInTheKey", "TS-0001", kKey, Serial("TS-000"), 0, -1, kCleared},
    {"EmptyInTheKey", "TS-0001", kKey, Serial(""), 0, -1, kCleared},
    // 31 characters and the NUL fill the 32 bytes exactly and are read.
    {"ThirtyOneCharacters", "TS-0001", kKey, Serial(std::string(31, 'S')), 0, -1, kCleared},
    // Too long to read: nothing written, the assignment stands.
    {"FortyCharacters", "TS-0001", kKey, Serial(std::string(40, 'S')), 0, 1, {}},
    {"ThirtyTwoCharacters", "TS-0001", kKey, Serial(std::string(32, 'S')), 0, 1, {}},
    // 32 bytes without a NUL are compared as the text they make, no further.
    {"NoTerminator", "TS-0001", kKey,
     [](sim::Registry& reg) {
         reg.set_dword(HKEY_LOCAL_MACHINE, kKey, "MonitorNumber", 1);
         reg.set_binary(HKEY_LOCAL_MACHINE, kKey, "SerialNumber", std::vector<BYTE>(32, 'T'));
     },
     0, -1, kCleared},
    // The registry's type is not looked at: a DWORD 0x31 reads as "1".
    {"TypeNotExamined", "1", kKey,
     [](sim::Registry& reg) { reg.set_dword(HKEY_LOCAL_MACHINE, kKey, "SerialNumber", 0x31); }, 1, 1, {}},
    {"NoSerialInTheKey", "TS-0001", kKey,
     [](sim::Registry& reg) { reg.set_dword(HKEY_LOCAL_MACHINE, kKey, "MonitorNumber", 1); }, 0, 1, {}},
    {"MissingKey", "TS-0001", kKey, nullptr, 0, 1, {}},
    {"ReadOnlyKeyThatDiffers", "TS-0001", kKey, ReadOnly("TS-9999"), 0, 1, {}},
    {"ReadOnlyKeyThatMatches", "TS-0001", kKey, ReadOnly("TS-0001"), 0, 1, {}},
    // An empty path would name HKEY_LOCAL_MACHINE itself: never looked at.
    {"EmptyPath", "TS-0001", "",
     [](sim::Registry& reg) { reg.set_string(HKEY_LOCAL_MACHINE, "", "SerialNumber", "OTHER"); }, 0, 1, {}},
};

INSTANTIATE_TEST_SUITE_P(RegistryCheck, CheckRegistryEntryTest, ValuesIn(kCheckCases), CaseName<CheckCase>);

// ------------------------------------------------------------------ WriteDefaultAlignment

struct AlignCase {
    const char* name;
    const char* path;
    std::optional<sim::orvane::Alignment> driver;  // what the driver answers
    bool refused;
    std::function<void(sim::Registry&)> key;
    std::vector<RegWrite> writes;
};

void PrintTo(const AlignCase& c, std::ostream* os) { *os << c.name; }

class WriteDefaultAlignmentTest : public RegistryCheckTest, public ::testing::WithParamInterface<AlignCase> {};

TEST_P(WriteDefaultAlignmentTest, AsksTheDriverAndWritesSevenValuesInOrder) {
    const AlignCase& c = GetParam();
    TouchscreenConfig screen = Screen(-1, "TS-0001", c.path);
    screen.alignment = c.driver;
    sim::Machine& m = Start(screen);
    if (c.key) c.key(m.registry());
    if (c.refused) m.driver().refuse(REQ_GET_ALIGNMENT, Refusal{.always = true});
    m.driver().clear_log();

    WriteDefaultAlignment();

    // One request for the current touchscreen, carrying the values to fall
    // back on, outside any change bracket.
    const auto r = m.driver().requests();
    ASSERT_EQ(r.size(), 1u);
    ExpectEncoded(r[0], REQ_GET_ALIGNMENT, 40,
                  {{0, Le16(10)},
                   {2, Le16(10)},
                   {4, Le32(0)},
                   {8, Le16(1)},
                   {12, Le32(0)},
                   {16, Le32(576)},
                   {20, Le32(3107)},
                   {24, Le32(0)},
                   {28, Le32(432)},
                   {32, Le32(3012)},
                   {36, Le32(0)}});
    EXPECT_EQ(r[0].ok, !c.refused);

    EXPECT_THAT(Writes(m), ElementsAreArray(c.writes));
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());
    ExpectCursorAndNeighbourKept();
    EXPECT_EQ(gpTouchscreens->GetMonitor(), -1);
}

void PlainKey(sim::Registry& reg) {
    reg.set_string(HKEY_LOCAL_MACHINE, kKey, "SerialNumber", "TS-0001");
    reg.set_dword(HKEY_LOCAL_MACHINE, kKey, "MonitorNumber", 0xFFFFFFFFu);
}

const std::vector<RegWrite> kDefaults = {Dword("OffsetX", 0), Dword("ScrDx", 576), Dword("Dx", 3107),
                                         Dword("OffsetY", 0), Dword("ScrDy", 432), Dword("Dy", 3012),
                                         Dword("SwapXY", 0)};

const AlignCase kAlignCases[] = {
    {"DriverRefuses", kKey, sim::orvane::Alignment{1, 2, 3, 4, 5, 6, 7}, true, PlainKey, kDefaults},
    {"DriverLeavesTheBufferAlone", kKey, std::nullopt, false, PlainKey, kDefaults},
    {"DriverAnswers",
     kKey,
     sim::orvane::Alignment{10, 1024, 4000, -5, 768, 3900, 1},
     false,
     PlainKey,
     {Dword("OffsetX", 10), Dword("ScrDx", 1024), Dword("Dx", 4000), Dword("OffsetY", 0xFFFFFFFBu),
      Dword("ScrDy", 768), Dword("Dy", 3900), Dword("SwapXY", 1)}},
    // The request goes out; nothing can be written.
    {"MissingKey", kKey, std::nullopt, false, nullptr, {}},
    {"ReadOnlyKey", kKey, std::nullopt, false,
     [](sim::Registry& reg) {
         PlainKey(reg);
         reg.set_read_only(HKEY_LOCAL_MACHINE, kKey, true);
     },
     {}},
    {"EmptyPath", "", std::nullopt, false, nullptr, {}},
};

INSTANTIATE_TEST_SUITE_P(RegistryCheck, WriteDefaultAlignmentTest, ValuesIn(kAlignCases), CaseName<AlignCase>);

// "SerialNumber" and "MonitorNumber" stay as they were.
TEST_F(RegistryCheckTest, AlignmentLeavesSerialAndMonitorAlone) {
    sim::Machine& m = Start(Screen(-1, "TS-0001", kKey));
    PlainKey(m.registry());
    WriteDefaultAlignment();
    EXPECT_EQ(m.registry().get_string(HKEY_LOCAL_MACHINE, kKey, "SerialNumber"), "TS-0001");
    EXPECT_EQ(m.registry().get_dword(HKEY_LOCAL_MACHINE, kKey, "MonitorNumber"), 0xFFFFFFFFu);
    EXPECT_EQ(m.registry().get_dword(HKEY_LOCAL_MACHINE, kKey, "ScrDy"), 432u);
}

// A record is a record whatever monitor number it carries, -2 (which the
// list's accessors answer without a current record) included.
TEST_F(RegistryCheckTest, RecordOnMonitorMinusTwoIsCheckedAndAligned) {
    sim::Machine& m = Start(Screen(-2, "TS-0001", kKey));
    Serial("TS-0001")(m.registry());
    m.driver().clear_log();

    EXPECT_EQ(CheckRegistryEntry(), 1);
    WriteDefaultAlignment();
    EXPECT_EQ(m.driver().requests(REQ_GET_ALIGNMENT).size(), 1u);
    EXPECT_EQ(m.registry().get_dword(HKEY_LOCAL_MACHINE, kKey, "ScrDy"), 432u);
    ExpectCursorAndNeighbourKept();
}

// Without a current record there is no key and no touchscreen to ask about.
struct NoRecordCase {
    const char* name;
    bool list;  // a list exists, but has no record
};

void PrintTo(const NoRecordCase& c, std::ostream* os) { *os << c.name; }

class NoRecordTest : public MachineTest, public ::testing::WithParamInterface<NoRecordCase> {};

TEST_P(NoRecordTest, NothingIsReadWrittenOrSent) {
    const NoRecordCase& c = GetParam();
    sim::Machine& m = Boot(sim::Config(), {});
    m.registry().set_string(HKEY_LOCAL_MACHINE, "", "SerialNumber", "X");
    OpenDriver();
    if (c.list) gpTouchscreens = new TouchscreenList(ghDriver);
    m.driver().clear_log();

    EXPECT_EQ(CheckRegistryEntry(), 0);
    WriteDefaultAlignment();
    EXPECT_THAT(m.driver().requests(), IsEmpty());
    EXPECT_THAT(Writes(m), IsEmpty());
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());
}

const NoRecordCase kNoRecordCases[] = {
    {"NoList", false},
    {"EmptyList", true},
};

INSTANTIATE_TEST_SUITE_P(RegistryCheck, NoRecordTest, ValuesIn(kNoRecordCases), CaseName<NoRecordCase>);

}  // namespace
}  // namespace unit
