// The machine's registry model on its own: paths, letter case, read-only
// keys, handle rights and lifetimes, value sizes.
#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "registry.h"

namespace {

using sim::Registry;
using sim::RegValue;

const std::string kService = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";
const std::string kTouch = "Enum\\Ryk\\TS-0001";

constexpr DWORD kGenericRead = 0x80000000u;
constexpr DWORD kGenericWrite = 0x40000000u;
constexpr DWORD kMaximumAllowed = 0x02000000u;

std::vector<BYTE> bytes_of(const std::string& s, bool with_nul) {
    std::vector<BYTE> b(s.begin(), s.end());
    if (with_nul) b.push_back(0);
    return b;
}

std::vector<BYTE> dword_bytes(DWORD v) {
    std::vector<BYTE> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

class RegistryTest : public ::testing::Test {
protected:
    // Opens HKLM\path; fails the test unless the result is `expect`.
    HKEY open(const std::string& path, REGSAM sam, LONG expect = ERROR_SUCCESS) {
        HKEY h = nullptr;
        EXPECT_EQ(reg.reg_open(HKEY_LOCAL_MACHINE, path.c_str(), sam, &h), expect) << path;
        return h;
    }

    DWORD query_dword(HKEY h, const char* name) {
        DWORD v = 0, type = 0, cb = sizeof v;
        EXPECT_EQ(reg.reg_query(h, name, &type, reinterpret_cast<BYTE*>(&v), &cb), ERROR_SUCCESS) << name;
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        return v;
    }

    Registry reg;
};

// ------------------------------------------------------------ paths and names

TEST_F(RegistryTest, PathSpellingsThatNameTheSameKey) {
    reg.set_dword(HKEY_LOCAL_MACHINE, kService, "NumXScreens", 2);
    struct Case {
        std::string path;
        LONG expect;
    } cases[] = {
        {kService, ERROR_SUCCESS},
        {"system\\currentcontrolset\\SERVICES\\class\\ryktouchscreen", ERROR_SUCCESS},
        {kService + "\\", ERROR_SUCCESS},
        {kService + "\\\\", ERROR_SUCCESS},
        {"SYSTEM\\\\CurrentControlSet\\Services\\Class\\RykTouchscreen", ERROR_SUCCESS},
        {"\\" + kService, sim::kErrorBadPathname},
        {"SYSTEM\\CurrentControlSet\\Services\\RykTouchscreen", ERROR_FILE_NOT_FOUND},
        {kService + "\\Extra", ERROR_FILE_NOT_FOUND},
        {"SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscree", ERROR_FILE_NOT_FOUND},
        {"SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen2", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        HKEY h = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
        ASSERT_EQ(reg.reg_open(HKEY_LOCAL_MACHINE, c.path.c_str(), KEY_QUERY_VALUE, &h), c.expect);
        if (c.expect == ERROR_SUCCESS) {
            EXPECT_EQ(query_dword(h, "NumXScreens"), 2u);
            EXPECT_EQ(reg.reg_close(h), ERROR_SUCCESS);
        } else {
            EXPECT_EQ(h, nullptr);
        }
    }
    // Opening never creates.
    EXPECT_FALSE(reg.key_exists(HKEY_LOCAL_MACHINE, kService + "\\Extra"));
    EXPECT_FALSE(reg.key_exists(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\RykTouchscreen"));
    // The harness takes stray backslashes as they come.
    EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, "\\" + kService + "\\", "numxscreens"), 2u);
}

TEST_F(RegistryTest, KeysAndValuesKeepTheirFirstSpelling) {
    reg.set_string(HKEY_LOCAL_MACHINE, kTouch, "SerialNumber", "A1");
    HKEY h = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(reg.reg_create(HKEY_LOCAL_MACHINE, "ENUM\\RYK\\ts-0001\\Sub", KEY_ALL_ACCESS, &h, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, sim::kRegCreatedNewKey);
    HKEY parent = open("enum\\ryk\\TS-0001", KEY_SET_VALUE);
    const BYTE serial[] = "B2";
    ASSERT_EQ(reg.reg_set(parent, "SERIALNUMBER", REG_SZ, serial, sizeof serial, nullptr), ERROR_SUCCESS);
    reg.set_dword(HKEY_LOCAL_MACHINE, kTouch, "monitornumber", 1);
    reg.set_dword(HKEY_LOCAL_MACHINE, "ENUM\\ryk\\Ts-0001", "MonitorNumber", 2);

    EXPECT_EQ(reg.subkey_names(HKEY_LOCAL_MACHINE, ""), std::vector<std::string>{"Enum"});
    EXPECT_EQ(reg.subkey_names(HKEY_LOCAL_MACHINE, "enum\\RYK"), std::vector<std::string>{"TS-0001"});
    EXPECT_EQ(reg.subkey_names(HKEY_LOCAL_MACHINE, kTouch), std::vector<std::string>{"Sub"});
    EXPECT_EQ(reg.value_names(HKEY_LOCAL_MACHINE, kTouch), (std::vector<std::string>{"monitornumber", "SerialNumber"}));
    EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, kTouch, "MONITORNUMBER"), 2u);
    EXPECT_EQ(reg.get_string(HKEY_LOCAL_MACHINE, kTouch, "serialnumber"), "B2");
}

TEST_F(RegistryTest, RootKeysAreSeparateTrees) {
    reg.set_dword(HKEY_CURRENT_USER, "Software\\Ryk", "Beep", 1);
    HKEY h = nullptr;
    EXPECT_EQ(reg.reg_open(HKEY_LOCAL_MACHINE, "Software\\Ryk", KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(reg.reg_open(HKEY_CURRENT_USER, "Software\\Ryk", KEY_READ, &h), ERROR_SUCCESS);
    EXPECT_EQ(query_dword(h, "Beep"), 1u);
    EXPECT_THROW(reg.set_dword(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000009u)), "x", "y", 1),
                 std::invalid_argument);
}

TEST_F(RegistryTest, HandlePathIsThePathTheProgramOpened) {
    reg.create_key(HKEY_LOCAL_MACHINE, kTouch);
    reg.create_key(HKEY_CURRENT_USER, "Software\\Ryk");
    HKEY enum_key = open("Enum", KEY_READ);
    struct Case {
        HKEY parent;
        const char* sub_key;
        std::string expect;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, "Enum\\Ryk\\TS-0001", kTouch},
        {HKEY_LOCAL_MACHINE, "enum\\ryk\\ts-0001\\", "enum\\ryk\\ts-0001"},
        {HKEY_LOCAL_MACHINE, "Enum\\\\Ryk", "Enum\\Ryk"},
        {enum_key, "Ryk\\TS-0001", kTouch},
        {enum_key, nullptr, "Enum"},
        {HKEY_CURRENT_USER, "Software\\Ryk", "HKEY_CURRENT_USER\\Software\\Ryk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expect);
        HKEY h = nullptr;
        ASSERT_EQ(reg.reg_open(c.parent, c.sub_key, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        EXPECT_EQ(reg.handle_path(h), c.expect);
        std::string written;
        const BYTE b = 1;
        ASSERT_EQ(reg.reg_set(h, "x", REG_BINARY, &b, 1, &written), ERROR_SUCCESS);
        EXPECT_EQ(written, c.expect);
        reg.reg_close(h);
    }
    EXPECT_EQ(reg.handle_path(HKEY_LOCAL_MACHINE), "");
    EXPECT_EQ(reg.handle_path(HKEY_CURRENT_USER), "HKEY_CURRENT_USER");
}

// ------------------------------------------------------------ access rights

TEST_F(RegistryTest, ReadOnlyKeyRefusesEveryWriteRight) {
    reg.set_dword(HKEY_LOCAL_MACHINE, kService, "NumXScreens", 2);
    reg.set_read_only(HKEY_LOCAL_MACHINE, kService, true);
    reg.create_key(HKEY_LOCAL_MACHINE, "SYSTEM\\Writable");
    struct Case {
        REGSAM sam;
        LONG on_read_only;
    } cases[] = {
        {KEY_QUERY_VALUE, ERROR_SUCCESS},
        {KEY_READ, ERROR_SUCCESS},
        {kGenericRead, ERROR_SUCCESS},
        {kMaximumAllowed, ERROR_SUCCESS},
        {0, ERROR_SUCCESS},
        {KEY_SET_VALUE, ERROR_ACCESS_DENIED},
        {KEY_QUERY_VALUE | KEY_SET_VALUE, ERROR_ACCESS_DENIED},
        {KEY_CREATE_SUB_KEY, ERROR_ACCESS_DENIED},
        {KEY_WRITE, ERROR_ACCESS_DENIED},
        {KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
        {kGenericWrite, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "sam 0x" << std::hex << c.sam);
        HKEY h = nullptr;
        EXPECT_EQ(reg.reg_open(HKEY_LOCAL_MACHINE, kService.c_str(), c.sam, &h), c.on_read_only);
        if (h) reg.reg_close(h);
        h = nullptr;
        EXPECT_EQ(reg.reg_create(HKEY_LOCAL_MACHINE, kService.c_str(), c.sam, &h, nullptr), c.on_read_only);
        if (h) reg.reg_close(h);
        // The same rights on a key that the user may write are all granted.
        h = nullptr;
        EXPECT_EQ(reg.reg_open(HKEY_LOCAL_MACHINE, "SYSTEM\\Writable", c.sam, &h), ERROR_SUCCESS);
        reg.reg_close(h);
    }
    // What a handle with MAXIMUM_ALLOWED got on a read-only key does not
    // include writing.
    HKEY h = open(kService, kMaximumAllowed);
    EXPECT_EQ(query_dword(h, "NumXScreens"), 2u);
    const DWORD v = 3;
    EXPECT_EQ(reg.reg_set(h, "NumXScreens", REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, kService, "NumXScreens"), 2u);
}

TEST_F(RegistryTest, NoSubKeyIsCreatedUnderAReadOnlyKey) {
    reg.set_read_only(HKEY_LOCAL_MACHINE, kService, true);
    for (const std::string sub : {"\\New", "\\New\\Deeper"}) {
        HKEY h = nullptr;
        EXPECT_EQ(reg.reg_create(HKEY_LOCAL_MACHINE, (kService + sub).c_str(), KEY_QUERY_VALUE, &h, nullptr),
                  ERROR_ACCESS_DENIED);
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_TRUE(reg.subkey_names(HKEY_LOCAL_MACHINE, kService).empty());
    // A read-only root can still be read through its predefined handle.
    reg.set_dword(HKEY_USERS, "", "Flag", 7);
    reg.set_read_only(HKEY_USERS, "", true);
    EXPECT_EQ(query_dword(HKEY_USERS, "Flag"), 7u);
    const DWORD v = 0;
    EXPECT_EQ(reg.reg_set(HKEY_USERS, "Flag", REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4, nullptr),
              ERROR_ACCESS_DENIED);
    HKEY h = nullptr;
    EXPECT_EQ(reg.reg_open(HKEY_USERS, nullptr, KEY_SET_VALUE, &h), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, HandleDoesOnlyWhatItWasOpenedFor) {
    reg.set_dword(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber", 1);
    enum Op { query, set, remove };
    struct Case {
        REGSAM sam;
        Op op;
        LONG expect;
    } cases[] = {
        {KEY_SET_VALUE, query, ERROR_ACCESS_DENIED},  {KEY_WRITE, query, ERROR_ACCESS_DENIED},
        {KEY_QUERY_VALUE, set, ERROR_ACCESS_DENIED},  {KEY_READ, set, ERROR_ACCESS_DENIED},
        {KEY_QUERY_VALUE, remove, ERROR_ACCESS_DENIED}, {KEY_QUERY_VALUE | KEY_SET_VALUE, query, ERROR_SUCCESS},
        {KEY_QUERY_VALUE | KEY_SET_VALUE, set, ERROR_SUCCESS}, {KEY_WRITE, set, ERROR_SUCCESS},
        {KEY_ALL_ACCESS, query, ERROR_SUCCESS},       {KEY_SET_VALUE, remove, ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "sam 0x" << std::hex << c.sam << " op " << c.op);
        reg.set_dword(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber", 1);
        HKEY h = open(kTouch, c.sam);
        DWORD v = 9, cb = 4;
        switch (c.op) {
            case query:
                EXPECT_EQ(reg.reg_query(h, "MonitorNumber", nullptr, reinterpret_cast<BYTE*>(&v), &cb), c.expect);
                EXPECT_EQ(v, c.expect == ERROR_SUCCESS ? 1u : 9u);
                break;
            case set:
                EXPECT_EQ(reg.reg_set(h, "MonitorNumber", REG_DWORD, reinterpret_cast<BYTE*>(&v), 4, nullptr),
                          c.expect);
                EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber"),
                          c.expect == ERROR_SUCCESS ? 9u : 1u);
                break;
            case remove:
                EXPECT_EQ(reg.reg_delete_value(h, "monitornumber"), c.expect);
                EXPECT_EQ(reg.get_value(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber").has_value(),
                          c.expect != ERROR_SUCCESS);
                break;
        }
        reg.reg_close(h);
    }
}

TEST_F(RegistryTest, RightsAreFixedWhenTheKeyIsOpened) {
    reg.create_key(HKEY_LOCAL_MACHINE, kService);
    HKEY before = open(kService, KEY_QUERY_VALUE | KEY_SET_VALUE);
    reg.set_read_only(HKEY_LOCAL_MACHINE, kService, true);
    const DWORD v = 2;
    EXPECT_EQ(reg.reg_set(before, "NumXScreens", REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4, nullptr),
              ERROR_SUCCESS);
    open(kService, KEY_QUERY_VALUE | KEY_SET_VALUE, ERROR_ACCESS_DENIED);
    reg.set_read_only(HKEY_LOCAL_MACHINE, kService, false);
    HKEY after = open(kService, KEY_QUERY_VALUE | KEY_SET_VALUE);
    EXPECT_NE(after, nullptr);
}

// ------------------------------------------------------------ values

TEST_F(RegistryTest, QueryReportsSizesAndRefusesSmallBuffers) {
    const std::string forty(40, 'S');
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> stored;
        DWORD buffer;       // size given in *lpcbData
        bool with_data;     // lpData given
        LONG expect;
        DWORD expect_size;  // *lpcbData afterwards
    } cases[] = {
        {"text fits", REG_SZ, bytes_of("TS-0001", true), 32, true, ERROR_SUCCESS, 8},
        {"text fits exactly with its NUL", REG_SZ, bytes_of("TS-0001", true), 8, true, ERROR_SUCCESS, 8},
        {"text one byte short", REG_SZ, bytes_of("TS-0001", true), 7, true, ERROR_MORE_DATA, 8},
        {"40 characters into 32 bytes", REG_SZ, bytes_of(forty, true), 32, true, ERROR_MORE_DATA, 41},
        {"size only", REG_SZ, bytes_of("TS-0001", true), 0, false, ERROR_SUCCESS, 8},
        {"dword", REG_DWORD, dword_bytes(0xFFFFFFFFu), 4, true, ERROR_SUCCESS, 4},
        {"dword into 2 bytes", REG_DWORD, dword_bytes(5), 2, true, ERROR_MORE_DATA, 4},
        {"dword into no bytes", REG_DWORD, dword_bytes(5), 0, true, ERROR_MORE_DATA, 4},
        {"2 bytes into 4", REG_BINARY, {0x09, 0x04}, 4, true, ERROR_SUCCESS, 2},
        {"empty value", REG_BINARY, {}, 4, true, ERROR_SUCCESS, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reg.set_value(HKEY_LOCAL_MACHINE, kTouch, "V", c.type, c.stored);
        HKEY h = open(kTouch, KEY_QUERY_VALUE);
        std::vector<BYTE> buf(64, 0xCC);
        DWORD type = 0xDEAD, cb = c.buffer;
        ASSERT_EQ(reg.reg_query(h, "V", &type, c.with_data ? buf.data() : nullptr, &cb), c.expect);
        EXPECT_EQ(cb, c.expect_size);
        EXPECT_EQ(type, c.type);
        std::vector<BYTE> expect_buf(64, 0xCC);
        if (c.with_data && c.expect == ERROR_SUCCESS) std::copy(c.stored.begin(), c.stored.end(), expect_buf.begin());
        EXPECT_EQ(buf, expect_buf) << "the buffer holds the value when it fits and is untouched otherwise";
        reg.reg_close(h);
    }
}

TEST_F(RegistryTest, QueryArgumentsAndMissingValues) {
    reg.set_dword(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber", 0);
    HKEY h = open(kTouch, KEY_QUERY_VALUE);
    DWORD type = 0;
    EXPECT_EQ(reg.reg_query(h, "MonitorNumber", &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    BYTE buf[4];
    EXPECT_EQ(reg.reg_query(h, "MonitorNumber", nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
    DWORD cb = 4;
    EXPECT_EQ(reg.reg_query(h, "SerialNumber", &type, buf, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg.reg_query(h, nullptr, &type, buf, &cb), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, SetStoresExactlyTheBytesGiven) {
    reg.create_key(HKEY_LOCAL_MACHINE, kTouch);
    const BYTE serial[] = "TS-0001";
    const DWORD minus_one = 0xFFFFFFFFu;
    struct Case {
        const char* what;
        DWORD type;
        const BYTE* data;
        DWORD cb;
        LONG expect;
        std::vector<BYTE> stored;
    } cases[] = {
        {"text with its NUL", REG_SZ, serial, 8, ERROR_SUCCESS, bytes_of("TS-0001", true)},
        {"text without its NUL", REG_SZ, serial, 7, ERROR_SUCCESS, bytes_of("TS-0001", false)},
        {"a prefix", REG_SZ, serial, 2, ERROR_SUCCESS, bytes_of("TS", false)},
        {"dword", REG_DWORD, reinterpret_cast<const BYTE*>(&minus_one), 4, ERROR_SUCCESS, dword_bytes(minus_one)},
        {"nothing", REG_BINARY, nullptr, 0, ERROR_SUCCESS, {}},
        {"no data but a size", REG_BINARY, nullptr, 4, sim::kErrorNoAccess, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reg.remove_value(HKEY_LOCAL_MACHINE, kTouch, "V");
        HKEY h = open(kTouch, KEY_SET_VALUE | KEY_QUERY_VALUE);
        ASSERT_EQ(reg.reg_set(h, "V", c.type, c.data, c.cb, nullptr), c.expect);
        if (c.expect == ERROR_SUCCESS) {
            EXPECT_EQ(reg.get_value(HKEY_LOCAL_MACHINE, kTouch, "V"), (RegValue{c.type, c.stored}));
            DWORD cb = 0;
            EXPECT_EQ(reg.reg_query(h, "V", nullptr, nullptr, &cb), ERROR_SUCCESS);
            EXPECT_EQ(cb, c.cb);
        } else {
            EXPECT_FALSE(reg.get_value(HKEY_LOCAL_MACHINE, kTouch, "V").has_value());
        }
        reg.reg_close(h);
    }
}

TEST_F(RegistryTest, UnnamedValueAndDeletion) {
    reg.create_key(HKEY_LOCAL_MACHINE, kTouch);
    HKEY h = open(kTouch, KEY_ALL_ACCESS);
    const BYTE b = 4;
    ASSERT_EQ(reg.reg_set(h, nullptr, REG_BINARY, &b, 1, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(reg.get_value(HKEY_LOCAL_MACHINE, kTouch, ""), (RegValue{REG_BINARY, {4}}));
    DWORD cb = 0;
    EXPECT_EQ(reg.reg_query(h, "", nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 1u);
    EXPECT_EQ(reg.reg_delete_value(h, ""), ERROR_SUCCESS);
    EXPECT_EQ(reg.reg_delete_value(h, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(reg.remove_value(HKEY_LOCAL_MACHINE, kTouch, ""));
    EXPECT_FALSE(reg.remove_value(HKEY_LOCAL_MACHINE, "No\\Such\\Key", "x"));
}

TEST_F(RegistryTest, HarnessReadersCheckTypeAndSize) {
    reg.set_value(HKEY_LOCAL_MACHINE, kTouch, "Short", REG_DWORD, {1, 0});
    reg.set_binary(HKEY_LOCAL_MACHINE, kTouch, "Bin", dword_bytes(3));
    reg.set_value(HKEY_LOCAL_MACHINE, kTouch, "NoNul", REG_SZ, bytes_of("abc", false));
    EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, kTouch, "Short"), std::nullopt);
    EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, kTouch, "Bin"), std::nullopt);
    EXPECT_EQ(reg.get_string(HKEY_LOCAL_MACHINE, kTouch, "Bin"), std::nullopt);
    EXPECT_EQ(reg.get_string(HKEY_LOCAL_MACHINE, kTouch, "NoNul"), "abc");
    EXPECT_EQ(reg.get_value(HKEY_LOCAL_MACHINE, kTouch, "NoNul")->bytes.size(), 3u);
}

// ------------------------------------------------------------ opening and handles

TEST_F(RegistryTest, EmptySubKeyOpensTheParent) {
    reg.set_dword(HKEY_LOCAL_MACHINE, "", "AtRoot", 5);
    for (const char* empty : {static_cast<const char*>(nullptr), ""}) {
        HKEY h = nullptr;
        ASSERT_EQ(reg.reg_open(HKEY_LOCAL_MACHINE, empty, KEY_READ, &h), ERROR_SUCCESS);
        EXPECT_EQ(h, HKEY_LOCAL_MACHINE);

        reg.create_key(HKEY_LOCAL_MACHINE, kTouch);
        HKEY parent = open(kTouch, KEY_READ);
        HKEY again = nullptr;
        ASSERT_EQ(reg.reg_open(parent, empty, KEY_READ, &again), ERROR_SUCCESS);
        EXPECT_NE(again, parent);
        EXPECT_EQ(reg.reg_close(again), ERROR_SUCCESS);
        EXPECT_EQ(reg.handle_state(parent), Registry::HandleState::open);
        EXPECT_EQ(reg.reg_close(parent), ERROR_SUCCESS);
    }
    EXPECT_EQ(query_dword(HKEY_LOCAL_MACHINE, "AtRoot"), 5u);
}

TEST_F(RegistryTest, CreateMakesTheWholePathAndSaysWhetherItDid) {
    HKEY h = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(reg.reg_create(HKEY_LOCAL_MACHINE, kTouch.c_str(), KEY_ALL_ACCESS, &h, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, sim::kRegCreatedNewKey);
    EXPECT_TRUE(reg.key_exists(HKEY_LOCAL_MACHINE, "Enum\\Ryk"));
    reg.reg_close(h);
    ASSERT_EQ(reg.reg_create(HKEY_LOCAL_MACHINE, "ENUM\\Ryk\\ts-0001", KEY_ALL_ACCESS, &h, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, sim::kRegOpenedExistingKey);
    reg.reg_close(h);
    EXPECT_EQ(reg.reg_create(HKEY_LOCAL_MACHINE, nullptr, KEY_ALL_ACCESS, &h, &disposition),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(reg.reg_create(HKEY_LOCAL_MACHINE, ("\\" + kTouch).c_str(), KEY_ALL_ACCESS, &h, &disposition),
              sim::kErrorBadPathname);
    EXPECT_EQ(reg.reg_open(HKEY_LOCAL_MACHINE, kTouch.c_str(), KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, HandlesAreNeverGivenOutTwice) {
    reg.create_key(HKEY_LOCAL_MACHINE, kTouch);
    std::vector<uintptr_t> seen;
    for (int i = 0; i < 8; ++i) {
        HKEY h = open(kTouch, KEY_READ);
        const auto v = reinterpret_cast<uintptr_t>(h);
        EXPECT_GE(v, Registry::kFirstHandle);
        EXPECT_EQ(v % 4, 0u);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), v), 0) << std::hex << v;
        seen.push_back(v);
        if (i % 2) reg.reg_close(h);
    }
}

TEST_F(RegistryTest, ClosedHandleIsRefusedEverywhere) {
    reg.set_dword(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber", 1);
    HKEY h = open(kTouch, KEY_ALL_ACCESS);
    ASSERT_EQ(reg.handle_state(h), Registry::HandleState::open);
    ASSERT_EQ(reg.reg_close(h), ERROR_SUCCESS);
    EXPECT_EQ(reg.handle_state(h), Registry::HandleState::closed);
    EXPECT_EQ(reg.handle_path(h), std::nullopt);

    DWORD v = 0, cb = 4, type = 0;
    HKEY out = nullptr;
    struct Case {
        const char* what;
        std::function<LONG()> call;
    } cases[] = {
        {"query", [&] { return reg.reg_query(h, "MonitorNumber", &type, reinterpret_cast<BYTE*>(&v), &cb); }},
        {"set", [&] { return reg.reg_set(h, "MonitorNumber", REG_DWORD, reinterpret_cast<BYTE*>(&v), 4, nullptr); }},
        {"delete", [&] { return reg.reg_delete_value(h, "MonitorNumber"); }},
        {"open below", [&] { return reg.reg_open(h, nullptr, KEY_READ, &out); }},
        {"create below", [&] { return reg.reg_create(h, "Sub", KEY_READ, &out, nullptr); }},
        {"close again", [&] { return reg.reg_close(h); }},
        {"NULL", [&] { return reg.reg_close(nullptr); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber"), 1u);
    EXPECT_FALSE(reg.key_exists(HKEY_LOCAL_MACHINE, kTouch + "\\Sub"));
    EXPECT_EQ(reg.handle_state(nullptr), Registry::HandleState::invalid);
    EXPECT_EQ(reg.handle_state(reinterpret_cast<HKEY>(Registry::kFirstHandle + 0x1000)),
              Registry::HandleState::invalid);
}

TEST_F(RegistryTest, RootKeysNeedNoOpeningAndSurviveClosing) {
    reg.set_dword(HKEY_LOCAL_MACHINE, "", "AtRoot", 5);
    EXPECT_EQ(reg.handle_state(HKEY_LOCAL_MACHINE), Registry::HandleState::root);
    EXPECT_EQ(reg.reg_close(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(reg.reg_close(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(query_dword(HKEY_LOCAL_MACHINE, "AtRoot"), 5u);
    const DWORD v = 6;
    EXPECT_EQ(reg.reg_set(HKEY_LOCAL_MACHINE, "AtRoot", REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, "", "AtRoot"), 6u);
}

TEST_F(RegistryTest, OpenHandlesListsWhatWasNotClosed) {
    reg.create_key(HKEY_LOCAL_MACHINE, kTouch);
    reg.create_key(HKEY_LOCAL_MACHINE, kService);
    HKEY a = open(kTouch, KEY_READ);
    HKEY b = open(kService, KEY_READ);
    open(kTouch, KEY_READ);  // never closed
    reg.reg_close(a);
    reg.reg_close(b);
    EXPECT_EQ(reg.open_handles(), std::vector<std::string>{kTouch});
}

// ------------------------------------------------------------ threads

TEST_F(RegistryTest, ConcurrentProgramsAndHarnessSeeEveryWrite) {
    constexpr int kThreads = 4;
    constexpr DWORD kValues = 50;
    reg.create_key(HKEY_LOCAL_MACHINE, kService);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (DWORD i = 0; i < kValues; ++i) {
                HKEY h = nullptr;
                if (reg.reg_create(HKEY_LOCAL_MACHINE, kService.c_str(), KEY_ALL_ACCESS, &h, nullptr) != ERROR_SUCCESS)
                    return;
                const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
                reg.reg_set(h, name.c_str(), REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4, nullptr);
                DWORD cb = 0;
                reg.reg_query(h, "T0_0", nullptr, nullptr, &cb);
                reg.reg_close(h);
                reg.set_dword(HKEY_LOCAL_MACHINE, kTouch + std::to_string(t), "N", i);
                (void)reg.open_handles();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(reg.value_names(HKEY_LOCAL_MACHINE, kService).size(), size_t{kThreads} * kValues);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(reg.get_dword(HKEY_LOCAL_MACHINE, kService, "T" + std::to_string(t) + "_49"), 49u);
    EXPECT_TRUE(reg.open_handles().empty());
}

}  // namespace
