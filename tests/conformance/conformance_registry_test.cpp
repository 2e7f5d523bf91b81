// The registry: missing keys and values, value sizes and types, what a read
// leaves in the caller's buffer, and keys the user may not write. The tests
// work under HKEY_LOCAL_MACHINE\SOFTWARE\RykConformance and delete every value
// they add.

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "conformance_util.h"
#include "fixture.h"
#include "platform/win32.h"

namespace conformance {
namespace {

const char kRoot[] = "SOFTWARE\\RykConformance";
const BYTE kUntouched = 0xCC;

std::vector<BYTE> Bytes(const char* text_with_nul) {
    return std::vector<BYTE>(text_with_nul, text_with_nul + std::strlen(text_with_nul) + 1);
}

std::vector<BYTE> DwordBytes(DWORD v) {
    std::vector<BYTE> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key_ == nullptr) return;
        for (const std::string& name : added_) RegDeleteValueA(key_, name.c_str());
        RegCloseKey(key_);
    }

    // Stores a value under a name no other test uses; returns the name.
    std::string Put(DWORD type, const std::vector<BYTE>& data) {
        std::string name = UniqueName("Value");
        const LONG rc = RegSetValueExA(key_, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
        EXPECT_EQ(rc, ERROR_SUCCESS) << "RegSetValueExA " << name;
        added_.push_back(name);
        return name;
    }

    HKEY key_ = nullptr;
    std::vector<std::string> added_;
};

TEST_F(RegistryTest, MissingKeysAndValuesAreFileNotFound) {
    const char* missing_keys[] = {"SOFTWARE\\RykConformance\\NoSuchKey", "SOFTWARE\\RykConformanceNoSuchKey\\Below"};
    for (const char* path : missing_keys) {
        HKEY k = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND) << path;
        if (k != nullptr && k != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) RegCloseKey(k);
    }

    for (const bool with_buffer : {true, false}) {
        BYTE buffer[16];
        DWORD size = sizeof buffer;
        DWORD type = 12345;
        EXPECT_EQ(
            RegQueryValueExA(key_, "RykConformance.NoSuchValue", nullptr, &type, with_buffer ? buffer : nullptr, &size),
            ERROR_FILE_NOT_FOUND)
            << (with_buffer ? "with a buffer" : "size only");
    }
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreLetterCase) {
    const std::string name = Put(REG_DWORD, DwordBytes(7));
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\RYKCONFORMANCE", 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(k, UpperCase(name).c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
    RegCloseKey(k);
}

// ---------------------------------------------------------------- reading a value

struct QueryCase {
    const char* label;
    DWORD type;
    std::vector<BYTE> stored;
    bool null_data;     // lpData NULL: ask for the size alone
    DWORD buffer_size;  // *lpcbData on the call
    LONG rc;
    DWORD size_after;  // *lpcbData after the call
};
void PrintTo(const QueryCase& c, std::ostream* os) { *os << c.label; }

const QueryCase kQueryCases[] = {
    {"sz_fits", REG_SZ, Bytes("abc"), false, 16, ERROR_SUCCESS, 4},
    {"sz_fits_exactly", REG_SZ, Bytes("abc"), false, 4, ERROR_SUCCESS, 4},
    {"sz_one_short", REG_SZ, Bytes("abc"), false, 3, ERROR_MORE_DATA, 4},
    {"sz_size_only", REG_SZ, Bytes("abc"), true, 0, ERROR_SUCCESS, 4},
    {"sz_size_only_ignores_given_size", REG_SZ, Bytes("abc"), true, 100, ERROR_SUCCESS, 4},
    {"sz_empty", REG_SZ, Bytes(""), false, 16, ERROR_SUCCESS, 1},
    {"dword_fits", REG_DWORD, DwordBytes(0x12345678), false, 4, ERROR_SUCCESS, 4},
    {"dword_in_larger_buffer", REG_DWORD, DwordBytes(0x12345678), false, 16, ERROR_SUCCESS, 4},
    {"dword_too_small", REG_DWORD, DwordBytes(0x12345678), false, 2, ERROR_MORE_DATA, 4},
    {"dword_size_only", REG_DWORD, DwordBytes(0x12345678), true, 0, ERROR_SUCCESS, 4},
    {"binary_fits", REG_BINARY, {1, 2, 3, 4, 5}, false, 16, ERROR_SUCCESS, 5},
    {"binary_too_small", REG_BINARY, {1, 2, 3, 4, 5}, false, 4, ERROR_MORE_DATA, 5},
    {"binary_zero_buffer", REG_BINARY, {1, 2, 3, 4, 5}, false, 0, ERROR_MORE_DATA, 5},
};

class QueryTest : public RegistryTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryTest, ReportsTypeAndSizeAndFillsOnlyTheValuesBytes) {
    const QueryCase& c = GetParam();
    const std::string name = Put(c.type, c.stored);

    std::vector<BYTE> buffer(32, kUntouched);
    DWORD size = c.buffer_size;
    DWORD type = 12345;
    const LONG rc = RegQueryValueExA(key_, name.c_str(), nullptr, &type, c.null_data ? nullptr : buffer.data(), &size);
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(size, c.size_after);
    if (rc == ERROR_SUCCESS) {
        EXPECT_EQ(type, c.type);
    }

    const size_t written = rc == ERROR_SUCCESS && !c.null_data ? c.stored.size() : 0;
    EXPECT_EQ(std::vector<BYTE>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(written)),
              std::vector<BYTE>(c.stored.begin(), c.stored.begin() + static_cast<std::ptrdiff_t>(written)));
    // Past the value (and past the buffer size given, whatever the result)
    // the caller's bytes are left alone.
    const size_t keep_from = rc == ERROR_SUCCESS ? written : c.buffer_size;
    for (size_t i = keep_from; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], kUntouched) << "byte " << i << " was overwritten";

    // lpType may be NULL.
    size = 32;
    EXPECT_EQ(RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, buffer.data(), &size), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Cases, QueryTest, ::testing::ValuesIn(kQueryCases), ParamLabel());

TEST_F(RegistryTest, AShorterValueReadIntoALargerBufferReplacesOnlyTheLeadingBytes) {
    const std::string name = Put(REG_SZ, Bytes("abcdefgh"));
    char buffer[16];
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_SUCCESS);
    ASSERT_EQ(size, 9u);

    // Overwriting the value with a shorter one replaces it (no leftover tail
    // in the registry); reading it into the same buffer replaces the first
    // bytes only.
    const std::vector<BYTE> shorter = Bytes("xy");
    ASSERT_EQ(RegSetValueExA(key_, name.c_str(), 0, REG_SZ, shorter.data(), static_cast<DWORD>(shorter.size())),
              ERROR_SUCCESS);
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(buffer, 9), std::string("xy\0defgh", 9));
}

TEST_F(RegistryTest, DwordValuesRoundTrip) {
    for (const DWORD v : {DWORD{0}, DWORD{1}, DWORD{0x7FFFFFFF}, DWORD{0x80000000}, DWORD{0xFFFFFFFF}}) {
        const std::string name = Put(REG_DWORD, DwordBytes(v));
        DWORD got = ~v;
        DWORD size = sizeof got;
        DWORD type = REG_NONE;
        EXPECT_EQ(RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(&got), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(got, v);
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    }
}

TEST_F(RegistryTest, DeletedValuesAreGone) {
    const std::string name = Put(REG_DWORD, DwordBytes(3));
    ASSERT_EQ(RegDeleteValueA(key_, name.c_str()), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key_, name.c_str()), ERROR_FILE_NOT_FOUND);
}

// ---------------------------------------------------------------- read-only keys

TEST_F(RegistryTest, AKeyTheUserMayNotWriteRefusesWriteAccess) {
    const std::string path = std::string(kRoot) + "\\ReadOnly";
    if (!MakeKeyReadOnly(path.c_str())) {
        GTEST_SKIP() << "this machine cannot make a registry key read-only for the test (Wine runs every program "
                        "with full access to its registry)";
    }

    struct Case {
        REGSAM access;
        LONG rc;
    };
    const Case cases[] = {
        {KEY_SET_VALUE, ERROR_ACCESS_DENIED},  {KEY_WRITE, ERROR_ACCESS_DENIED},
        {KEY_ALL_ACCESS, ERROR_ACCESS_DENIED}, {KEY_READ, ERROR_SUCCESS},
        {KEY_QUERY_VALUE, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        HKEY opened = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, c.access, &opened), c.rc)
            << "access 0x" << std::hex << c.access;
        if (c.rc == ERROR_SUCCESS && opened != nullptr) RegCloseKey(opened);
    }
    // Creating an existing key opens it, with the same check.
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              &created, nullptr),
              ERROR_ACCESS_DENIED);
    if (created != nullptr) RegCloseKey(created);
}

}  // namespace
}  // namespace conformance
