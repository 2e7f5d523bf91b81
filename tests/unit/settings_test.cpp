// The settings store against the simulated registry: which Windows gives
// which service key, the key object's path and test-open, the reading of a
// value table with its message boxes and byte-level rules, and the start-up
// load of the driver's settings.
#include "settings/settings.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "registry.h"
#include "unit_support.h"

namespace unit {

namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::ValuesIn;

const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";
const char kOrvaneKey[] = "SYSTEM\\CurrentControlSet\\Services\\Orvane";
const char kServiceKey2000[] = "SYSTEM\\CurrentControlSet\\Services\\RykTouchscreen";

// The eleven rows as the driver's settings table must have them.
struct ExpectedRow {
    const char* name;
    DWORD type;
    DWORD size;
    DWORD value;  // default; for "CplLanguage" the two bytes little-endian
};

const ExpectedRow kRows[DRIVER_SETTINGS_ROWS] = {
    {"MouseMode", REG_DWORD, 4, 6},
    {"BeepFlag", REG_DWORD, 4, 1},
    {"BeepTime", REG_DWORD, 4, 20},
    {"BeepFreq", REG_DWORD, 4, 4000},
    {"DefaultDragDelay", REG_DWORD, 4, 200},
    {"MinDragDelay", REG_DWORD, 4, 0},
    {"MaxDragDelay", REG_DWORD, 4, 1000},
    {"NumberOfTouchscreens", REG_DWORD, 4, 1},
    {"NumXScreens", REG_DWORD, 4, 1},
    {"NumYScreens", REG_DWORD, 4, 1},
    {"CplLanguage", REG_BINARY, 2, 0},
};

int RowIndex(const std::string& name) {
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i)
        if (name == kRows[i].name) return i;
    ADD_FAILURE() << "no row " << name;
    return 0;
}

DWORD RowValue(int i) {
    DWORD v = 0;
    std::memcpy(&v, DriverSettings[i].pData, DriverSettings[i].cbData);
    return v;
}

// All eleven values in the key, each distinct from its default: 100 + the
// row's index, and 0x0409 for "CplLanguage".
void WriteAllValues(sim::Registry& reg, const std::string& key) {
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        if (kRows[i].type == REG_BINARY)
            reg.set_binary(HKEY_LOCAL_MACHINE, key, kRows[i].name, {0x09, 0x04});
        else
            reg.set_dword(HKEY_LOCAL_MACHINE, key, kRows[i].name, 100u + static_cast<DWORD>(i));
    }
}

DWORD WrittenValue(int i) { return kRows[i].type == REG_BINARY ? 0x0409u : 100u + static_cast<DWORD>(i); }

std::vector<std::string> BoxTexts(sim::Machine& m) {
    std::vector<std::string> texts;
    for (const auto& e : m.trace().events("msgbox")) texts.push_back(e.fields["text"].get<std::string>());
    return texts;
}

// Exactly n boxes, each "Reg read error" with an empty caption, an OK button
// and no owner window.
void ExpectReadErrorBoxes(sim::Machine& m, size_t n) {
    const auto boxes = m.trace().events("msgbox");
    ASSERT_EQ(boxes.size(), n);
    for (const auto& e : boxes) {
        EXPECT_EQ(e.fields["text"], "Reg read error");
        EXPECT_EQ(e.fields["caption"], "");
        EXPECT_EQ(e.fields["style"], MB_OK);
        EXPECT_EQ(e.fields["owner"], false);
    }
}

class SettingsTest : public MachineTest {
protected:
    void SetUp() override { SaveSettingsState(); }
    void TearDown() override {
        RestoreSettingsState();
        MachineTest::TearDown();
    }

    sim::Machine& BootWindows(sim::Windows w) {
        sim::Config config;
        config.windows = w;
        return Boot(config);
    }
};

// ------------------------------------------------------------------ the table itself

TEST_F(SettingsTest, DriverSettingsRowsNamesTypesSizesAndDefaults) {
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        SCOPED_TRACE(kRows[i].name);
        const RegValueEntry& row = DriverSettings[i];
        EXPECT_STREQ(row.pszName, kRows[i].name);
        EXPECT_EQ(row.dwType, kRows[i].type);
        EXPECT_EQ(row.cbData, kRows[i].size);
        EXPECT_EQ(row.bLoaded, FALSE);
        EXPECT_EQ(RowValue(i), kRows[i].value);
        // Each row has storage of its own.
        for (int j = 0; j < i; ++j) EXPECT_NE(row.pData, DriverSettings[j].pData);
    }
    const RegValueEntry& end = DriverSettings[DRIVER_SETTINGS_ROWS];
    ASSERT_NE(end.pszName, nullptr);
    EXPECT_STREQ(end.pszName, "");
    EXPECT_EQ(end.dwType, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(end.cbData, 0u);
    EXPECT_EQ(end.pData, nullptr);
    // The two the monitor grid reads.
    EXPECT_EQ(DriverSettings[RowIndex("NumXScreens")].pData, &gdwNumXScreens);
    EXPECT_EQ(DriverSettings[RowIndex("NumYScreens")].pData, &gdwNumYScreens);
}

// ------------------------------------------------------------------ operating system

struct OsCase {
    const char* name;
    sim::Windows windows;
    OsKind kind;
    const char* key;
};

void PrintTo(const OsCase& c, std::ostream* os) { *os << c.name; }

class OsKindTest : public SettingsTest, public ::testing::WithParamInterface<OsCase> {};

TEST_P(OsKindTest, KindAndServiceKey) {
    const OsCase& c = GetParam();
    BootWindows(c.windows);
    EXPECT_EQ(GetOsKind(), c.kind);
    SelectServiceKey();
    EXPECT_STREQ(gszServiceKey, c.key);
}

const OsCase kOsCases[] = {
    {"Windows95", sim::Windows::v95, 95, kClassKey},
    {"Windows98", sim::Windows::v98, 98, kClassKey},
    {"WindowsMe", sim::Windows::me, 98, kClassKey},
    {"WindowsNt4", sim::Windows::nt4, 40, kOrvaneKey},
    {"Windows2000", sim::Windows::w2000, 2000, kServiceKey2000},
    {"WindowsXp", sim::Windows::xp, 2000, kServiceKey2000},
    {"WindowsVista", sim::Windows::vista, 0, kClassKey},
};

INSTANTIATE_TEST_SUITE_P(Settings, OsKindTest, ValuesIn(kOsCases), CaseName<OsCase>);

// ------------------------------------------------------------------ RegistryKey

// A path of `n` characters: sub-keys of nine characters, each followed by a
// backslash, the last one cut where the length ends.
std::string LongPath(size_t n) {
    std::string s;
    for (int i = 0; s.size() < n; ++i) {
        char part[32];
        std::snprintf(part, sizeof part, "Level%04d\\", i);
        s += part;
    }
    s.resize(n);
    if (s.back() == '\\') s.back() = 'x';
    return s;
}

struct PathCase {
    const char* name;
    size_t length;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class RegistryKeyPathTest : public SettingsTest, public ::testing::WithParamInterface<PathCase> {};

// The object keeps at most 255 characters, and the test-open uses exactly
// what it keeps: the key that exists is the one at the cut path.
TEST_P(RegistryKeyPathTest, KeepsAndOpensAtMost255Characters) {
    const PathCase& c = GetParam();
    sim::Machine& m = BootWindows(sim::Windows::v98);
    const std::string path = LongPath(c.length);
    const std::string kept = path.substr(0, std::min<size_t>(path.size(), 255));
    m.registry().create_key(HKEY_LOCAL_MACHINE, kept);

    RegistryKey key(path.c_str());
    EXPECT_EQ(std::string(key.szPath), kept);
    EXPECT_EQ(key.szPath[255], '\0');
    EXPECT_EQ(key.LastError(), 0);
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());
}

const PathCase kPathCases[] = {
    {"Short", 40},
    {"Exactly255", 255},
    {"Of256", 256},
    {"Of300", 300},
};

INSTANTIATE_TEST_SUITE_P(Settings, RegistryKeyPathTest, ValuesIn(kPathCases), CaseName<PathCase>);

struct OpenCase {
    const char* name;
    bool exists;
    bool read_only;
    LONG error;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class RegistryKeyOpenTest : public SettingsTest, public ::testing::WithParamInterface<OpenCase> {};

// The test-open asks for reading and writing: a key the user may only read
// fails like a missing one. The handle is never kept.
TEST_P(RegistryKeyOpenTest, TestOpenForReadingAndWriting) {
    const OpenCase& c = GetParam();
    sim::Machine& m = BootWindows(sim::Windows::nt4);
    if (c.exists) m.registry().set_dword(HKEY_LOCAL_MACHINE, kOrvaneKey, "MouseMode", 3);
    if (c.read_only) m.registry().set_read_only(HKEY_LOCAL_MACHINE, kOrvaneKey, true);

    RegistryKey key(kOrvaneKey);
    EXPECT_EQ(key.LastError(), c.error);
    EXPECT_EQ(key.nLastError, c.error);
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());
}

const OpenCase kOpenCases[] = {
    {"Writable", true, false, ERROR_SUCCESS},
    {"Missing", false, false, ERROR_FILE_NOT_FOUND},
    {"ReadOnly", true, true, ERROR_ACCESS_DENIED},
};

INSTANTIATE_TEST_SUITE_P(Settings, RegistryKeyOpenTest, ValuesIn(kOpenCases), CaseName<OpenCase>);

// ------------------------------------------------------------------ ReadValues

struct ReadCase {
    const char* name;
    // Fills the service key (it exists, empty, before this runs).
    std::function<void(sim::Registry&, const std::string& key)> fill;
    std::function<void()> before;  // runs just before the read, when set
    LONG read;                     // ReadValues' result
    size_t boxes;                  // "Reg read error" boxes
    LONG last_error;
    // Rows whose outcome differs from "loaded, holding what WriteAllValues
    // stores": name -> {bLoaded, value}.
    std::map<std::string, std::pair<BOOL, DWORD>> rows;
    bool all_defaults;  // instead: every row unloaded and at its default
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadValuesTest : public SettingsTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadValuesTest, ReadsEveryRowAndReportsEachFailure) {
    const ReadCase& c = GetParam();
    sim::Machine& m = BootWindows(sim::Windows::v98);
    m.registry().create_key(HKEY_LOCAL_MACHINE, kClassKey);
    if (c.fill) c.fill(m.registry(), kClassKey);

    RegistryKey key(kClassKey);
    if (c.before) c.before();
    EXPECT_EQ(key.ReadValues(DriverSettings), c.read);
    EXPECT_EQ(key.LastError(), c.last_error);
    ExpectReadErrorBoxes(m, c.boxes);
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());

    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        SCOPED_TRACE(kRows[i].name);
        BOOL loaded = TRUE;
        DWORD value = WrittenValue(i);
        if (c.all_defaults) {
            loaded = FALSE;
            value = kRows[i].value;
        }
        if (auto it = c.rows.find(kRows[i].name); it != c.rows.end()) std::tie(loaded, value) = it->second;
        EXPECT_EQ(DriverSettings[i].bLoaded, loaded);
        EXPECT_EQ(RowValue(i), value);
    }
}

const ReadCase kReadCases[] = {
    {"AllElevenValues", WriteAllValues, nullptr, 11, 0, ERROR_SUCCESS, {}, false},
    {"OnlyBeepFreqMissing",
     [](sim::Registry& reg, const std::string& key) {
         WriteAllValues(reg, key);
         reg.remove_value(HKEY_LOCAL_MACHINE, key, "BeepFreq");
     },
     nullptr, 10, 1, ERROR_FILE_NOT_FOUND, {{"BeepFreq", {FALSE, 4000}}}, false},
    {"CplLanguageOfFourBytesDoesNotFit",
     [](sim::Registry& reg, const std::string& key) {
         WriteAllValues(reg, key);
         reg.set_binary(HKEY_LOCAL_MACHINE, key, "CplLanguage", {1, 2, 3, 4});
     },
     nullptr, 10, 1, ERROR_MORE_DATA, {{"CplLanguage", {FALSE, 0}}}, false},
    // The registry's type is not compared with the row's.
    {"CplLanguageOfTwoBytesAsDword",
     [](sim::Registry& reg, const std::string& key) {
         WriteAllValues(reg, key);
         reg.set_value(HKEY_LOCAL_MACHINE, key, "CplLanguage", REG_DWORD, {0x07, 0x04});
     },
     nullptr, 11, 0, ERROR_SUCCESS, {{"CplLanguage", {TRUE, 0x0407}}}, false},
    // "3" and its NUL replace the two leading bytes of the default 1.
    {"NumXScreensAsText",
     [](sim::Registry& reg, const std::string& key) {
         WriteAllValues(reg, key);
         reg.set_string(HKEY_LOCAL_MACHINE, key, "NumXScreens", "3");
     },
     nullptr, 11, 0, ERROR_SUCCESS, {{"NumXScreens", {TRUE, 0x33}}}, false},
    {"ShortValueLeavesTheUpperBytes",
     [](sim::Registry& reg, const std::string& key) {
         WriteAllValues(reg, key);
         reg.set_string(HKEY_LOCAL_MACHINE, key, "NumXScreens", "3");
     },
     [] { gdwNumXScreens = 0xAABBCCDDu; }, 11, 0, ERROR_SUCCESS, {{"NumXScreens", {TRUE, 0xAABB0033u}}}, false},
    {"EmptyKey", nullptr, nullptr, 0, 11, ERROR_FILE_NOT_FOUND, {}, true},
    // The last failing row's error stays, though later rows were read.
    {"LastFailureIsKept",
     [](sim::Registry& reg, const std::string& key) {
         WriteAllValues(reg, key);
         reg.remove_value(HKEY_LOCAL_MACHINE, key, "MouseMode");
         reg.set_binary(HKEY_LOCAL_MACHINE, key, "NumYScreens", {1, 2, 3, 4, 5});
     },
     nullptr, 9, 2, ERROR_MORE_DATA, {{"MouseMode", {FALSE, 6}}, {"NumYScreens", {FALSE, 1}}}, false},
    // Opened by the constructor but no longer by the read: nothing touched,
    // nothing shown.
    {"KeyBecameReadOnly", WriteAllValues,
     [] { sim::Machine::current().registry().set_read_only(HKEY_LOCAL_MACHINE, kClassKey, true); }, 0, 0,
     ERROR_ACCESS_DENIED, {}, true},
};

INSTANTIATE_TEST_SUITE_P(Settings, ReadValuesTest, ValuesIn(kReadCases), CaseName<ReadCase>);

// A value read once and missing at the next read keeps what was read; its
// flag says the last read failed.
TEST_F(SettingsTest, ValueMissingLaterKeepsTheLastValueRead) {
    sim::Machine& m = BootWindows(sim::Windows::v98);
    WriteAllValues(m.registry(), kClassKey);
    RegistryKey key(kClassKey);
    ASSERT_EQ(key.ReadValues(DriverSettings), 11);

    m.registry().remove_value(HKEY_LOCAL_MACHINE, kClassKey, "NumXScreens");
    EXPECT_EQ(key.ReadValues(DriverSettings), 10);
    const int i = RowIndex("NumXScreens");
    EXPECT_EQ(DriverSettings[i].bLoaded, FALSE);
    EXPECT_EQ(gdwNumXScreens, 100u + static_cast<DWORD>(i));
    EXPECT_EQ(key.LastError(), ERROR_FILE_NOT_FOUND);

    // A clean read clears the error again.
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kClassKey, "NumXScreens", 2);
    EXPECT_EQ(key.ReadValues(DriverSettings), 11);
    EXPECT_EQ(key.LastError(), ERROR_SUCCESS);
    EXPECT_EQ(gdwNumXScreens, 2u);
    ExpectReadErrorBoxes(m, 1);
}

// A table ends at its first empty name, wherever that is.
TEST_F(SettingsTest, ReadValuesStopsAtTheEmptyName) {
    sim::Machine& m = BootWindows(sim::Windows::v98);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kClassKey, "First", 11);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, kClassKey, "Second", 22);
    DWORD dwFirst = 1, dwSecond = 2;
    RegValueEntry table[] = {
        {FALSE, "First", REG_DWORD, sizeof dwFirst, &dwFirst},
        {FALSE, "", REG_SZ, 0, nullptr},
        {FALSE, "Second", REG_DWORD, sizeof dwSecond, &dwSecond},
    };
    RegistryKey key(kClassKey);
    EXPECT_EQ(key.ReadValues(table), 1);
    EXPECT_EQ(dwFirst, 11u);
    EXPECT_EQ(dwSecond, 2u);
    EXPECT_EQ(table[2].bLoaded, FALSE);
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());
}

// ------------------------------------------------------------------ LoadDriverSettings

struct LoadCase {
    const char* name;
    sim::Windows windows;
    const char* values_in;  // key that gets all eleven values; nullptr: none
    const char* empty_key;  // key created without values; nullptr: none
    bool read_only;         // the key of this Windows is read-only
    int result;
    size_t boxes;
    bool loaded;      // every value read
    LONG key_error;   // LastError of gpServiceKey, which stays unless the load succeeded
    const char* key;  // gszServiceKey afterwards
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class LoadDriverSettingsTest : public SettingsTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadDriverSettingsTest, ResultKeyObjectAndValues) {
    const LoadCase& c = GetParam();
    sim::Machine& m = BootWindows(c.windows);
    if (c.values_in) WriteAllValues(m.registry(), c.values_in);
    if (c.empty_key) m.registry().create_key(HKEY_LOCAL_MACHINE, c.empty_key);
    if (c.read_only) m.registry().set_read_only(HKEY_LOCAL_MACHINE, c.key, true);

    EXPECT_EQ(LoadDriverSettings(), c.result);
    EXPECT_STREQ(gszServiceKey, c.key);
    ExpectReadErrorBoxes(m, c.boxes);
    EXPECT_THAT(m.registry().open_handles(), IsEmpty());
    if (c.result == 0) {
        EXPECT_EQ(gpServiceKey, nullptr);
    } else {
        ASSERT_NE(gpServiceKey, nullptr);
        EXPECT_STREQ(gpServiceKey->szPath, c.key);
        EXPECT_EQ(gpServiceKey->LastError(), c.key_error);
    }
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        SCOPED_TRACE(kRows[i].name);
        EXPECT_EQ(DriverSettings[i].bLoaded, c.loaded ? TRUE : FALSE);
        EXPECT_EQ(RowValue(i), c.loaded ? WrittenValue(i) : kRows[i].value);
    }
}

const LoadCase kLoadCases[] = {
    {"Windows98", sim::Windows::v98, kClassKey, nullptr, false, 0, 0, true, 0, kClassKey},
    {"WindowsNt4", sim::Windows::nt4, kOrvaneKey, nullptr, false, 0, 0, true, 0, kOrvaneKey},
    {"Windows2000", sim::Windows::w2000, kServiceKey2000, nullptr, false, 0, 0, true, 0, kServiceKey2000},
    // The key of another Windows is not looked at.
    {"ValuesUnderAnotherWindowsKey", sim::Windows::nt4, kClassKey, nullptr, false, 4, 0, false,
     ERROR_FILE_NOT_FOUND, kOrvaneKey},
    {"NoServiceKey", sim::Windows::v98, nullptr, nullptr, false, 4, 0, false, ERROR_FILE_NOT_FOUND, kClassKey},
    {"UnwritableKey", sim::Windows::w2000, kServiceKey2000, nullptr, true, 4, 0, false, ERROR_ACCESS_DENIED,
     kServiceKey2000},
    {"EmptyServiceKey", sim::Windows::v98, nullptr, kClassKey, false, 5, 11, false, ERROR_FILE_NOT_FOUND,
     kClassKey},
};

INSTANTIATE_TEST_SUITE_P(Settings, LoadDriverSettingsTest, ValuesIn(kLoadCases), CaseName<LoadCase>);

// A key object that cannot be allocated leaves the defaults and no key
// object: the same outcome as a key that cannot be opened.
TEST_F(SettingsTest, KeyObjectThatCannotBeAllocated) {
    sim::Machine& m = BootWindows(sim::Windows::v98);
    WriteAllValues(m.registry(), kClassKey);
    sim::fail_nothrow_allocation(0);
    EXPECT_EQ(LoadDriverSettings(), 4);
    EXPECT_EQ(gpServiceKey, nullptr);
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) EXPECT_EQ(RowValue(i), kRows[i].value) << kRows[i].name;
    EXPECT_THAT(m.trace().events("msgbox"), IsEmpty());

    // Nothing stays broken: the next load reads.
    EXPECT_EQ(LoadDriverSettings(), 0);
    EXPECT_EQ(gdwMouseMode, 100u);
}

// A second load replaces the key object the first one left.
TEST_F(SettingsTest, RepeatedLoadReplacesTheKeyObject) {
    sim::Machine& m = BootWindows(sim::Windows::v98);
    EXPECT_EQ(LoadDriverSettings(), 4);
    ASSERT_NE(gpServiceKey, nullptr);
    EXPECT_EQ(gpServiceKey->LastError(), ERROR_FILE_NOT_FOUND);

    m.registry().create_key(HKEY_LOCAL_MACHINE, kClassKey);
    EXPECT_EQ(LoadDriverSettings(), 5);
    ASSERT_NE(gpServiceKey, nullptr);
    EXPECT_EQ(gpServiceKey->LastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_THAT(BoxTexts(m), ElementsAreArray(std::vector<std::string>(11, "Reg read error")));

    WriteAllValues(m.registry(), kClassKey);
    EXPECT_EQ(LoadDriverSettings(), 0);
    EXPECT_EQ(gpServiceKey, nullptr);
}

}  // namespace
}  // namespace unit
