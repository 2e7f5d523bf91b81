// FormatText and SplitCommandLine (src/platform/text.h): the program's own
// stand-ins for snprintf and the C runtime's argv, which the Windows build
// uses in place of the C runtime.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

TEST(FormatText, WritesWhatSnprintfWrites) {
    // Each case is checked against the C library's snprintf with the same
    // format and arguments.
    char szOurs[128], szLibc[128];
    auto same = [&](size_t ours, int libc, const char* what) {
        EXPECT_STREQ(szOurs, szLibc) << what;
        EXPECT_EQ(ours, static_cast<size_t>(libc)) << what;
    };
#define RYK_SAME(...) \
    same(FormatText(szOurs, sizeof szOurs, __VA_ARGS__), std::snprintf(szLibc, sizeof szLibc, __VA_ARGS__), #__VA_ARGS__)
    RYK_SAME("plain text");
    RYK_SAME("%d|%i|%d|%d", 0, 42, -7, INT_MIN);
    RYK_SAME("%ld|%ld|%lu", static_cast<long>(LONG_MIN), static_cast<long>(LONG_MAX), static_cast<unsigned long>(ULONG_MAX));
    RYK_SAME("%u|%x|%X|%08X|%lx", 4000000000u, 0xbeefu, 0xbeefu, 0xbeefu, static_cast<unsigned long>(0x12345678));
    RYK_SAME("[%5d][%-5d][%05d][%05x][%3d]", 42, 42, -42, 42u, 12345);
    RYK_SAME("[%s][%8s][%-8s][%.3s][%6.2s]", "abc", "abc", "abc", "abcdef", "abcdef");
    RYK_SAME("[%c][%3c][%-3c]%%", 'x', 'y', 'z');
    RYK_SAME("Error number %d occurred while reading the registry", 1234);
    RYK_SAME(" -t%ld", 3L);
    RYK_SAME("%s%d", "RykXyEvent", 3);
    RYK_SAME("%hd|%hu", 7, 9u);
#undef RYK_SAME
}

TEST(FormatText, CutsAtTheBufferAndReportsTheWholeLength) {
    // (buffer size, expected text); the whole text is "Hello, 12345".
    const struct {
        size_t cch;
        const char* pszExpected;
    } cases[] = {{1, ""}, {2, "H"}, {8, "Hello, "}, {12, "Hello, 1234"}, {13, "Hello, 12345"}, {20, "Hello, 12345"}};
    for (const auto& c : cases) {
        std::string buffer(c.cch + 4, '#');
        const size_t cch = FormatText(buffer.data(), c.cch, "Hello, %d", 12345);
        EXPECT_EQ(cch, 12u) << c.cch;
        EXPECT_STREQ(buffer.c_str(), c.pszExpected) << c.cch;
        // Nothing beyond the buffer is touched.
        EXPECT_EQ(buffer.substr(c.cch), std::string(4, '#')) << c.cch;
    }
    // A buffer of no characters is not written at all.
    char ch = '#';
    EXPECT_EQ(FormatText(&ch, 0, "%s", "abc"), 3u);
    EXPECT_EQ(ch, '#');
}

// A format made at run time: FormatTextV, which writes what it does not
// understand as it stands (FormatText refuses such a format at compile time).
size_t FormatRuntime(char* pch, size_t cch, const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const size_t n = FormatTextV(pch, cch, pszFormat, args);
    va_end(args);
    return n;
}

TEST(FormatText, OddFormatsAreWrittenAsTheyStand) {
    const struct {
        const char* pszFormat;
        const char* pszExpected;
    } cases[] = {{"100%", "100%"}, {"%q%d", "%q7"}, {"a%-zb", "a%-zb"}, {"%5", "%5"}};
    for (const auto& c : cases) {
        char sz[32];
        FormatRuntime(sz, sizeof sz, c.pszFormat, 7);
        EXPECT_STREQ(sz, c.pszExpected) << c.pszFormat;
    }
    char sz[32];
    FormatText(sz, sizeof sz, "[%s]", static_cast<const char*>(nullptr));
    EXPECT_STREQ(sz, "[(null)]");
}

std::vector<std::string> Split(const char* pszCommandLine) {
    std::string buffer(std::string(pszCommandLine).size() + 1, '\0');
    std::vector<char*> args(64, nullptr);
    const int n = SplitCommandLine(pszCommandLine, buffer.data(), args.data(), static_cast<int>(args.size()));
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.emplace_back(args[i]);
    EXPECT_EQ(args[n], nullptr);
    return out;
}

TEST(SplitCommandLine, SplitsAsTheCRuntimeDoes) {
    using V = std::vector<std::string>;
    const struct {
        const char* pszLine;
        V expected;
    } cases[] = {
        {"RykXyCtl.exe", {"RykXyCtl.exe"}},
        {"RykXyCtl.exe assign 1 2", {"RykXyCtl.exe", "assign", "1", "2"}},
        {"  RykXyCtl.exe \t status  ", {"RykXyCtl.exe", "status"}},
        {"\"C:\\Program Files\\RykXyLdr\\RykXyCtl.exe\" status",
         {"C:\\Program Files\\RykXyLdr\\RykXyCtl.exe", "status"}},
        // The program's name keeps its backslashes, even before a quote.
        {"C:\\dir\\\"x y\"\\p.exe a", {"C:\\dir\\x y\\p.exe", "a"}},
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p a\"b c\"d", {"p", "ab cd"}},
        {"p \"\"", {"p", ""}},
        {"p \\\"a", {"p", "\"a"}},         // 1 backslash and a quote: a literal quote
        {"p \\\\\"a b\"", {"p", "\\a b"}},  // 2 backslashes and a quote: one backslash, quoting
        {"p \\\\\\\"a", {"p", "\\\"a"}},    // 3: one backslash and a literal quote
        {"p a\\\\b", {"p", "a\\\\b"}},      // backslashes not before a quote stand
        {"p \"unterminated arg", {"p", "unterminated arg"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(Split(c.pszLine), c.expected) << c.pszLine;
}

TEST(SplitCommandLine, MoreArgumentsThanPointersAreCountedNotStored) {
    char buffer[32];
    char* args[2] = {nullptr, nullptr};
    EXPECT_EQ(SplitCommandLine("p a b c", buffer, args, 2), 4);
    EXPECT_STREQ(args[0], "p");
    EXPECT_STREQ(args[1], "a");
}

TEST(SkipProgramName, FindsWinMainsCommandLine) {
    const struct {
        const char* pszLine;
        const char* pszRest;
    } cases[] = {{"RykXyLdr.exe", ""},
                 {"RykXyLdr.exe  -x y", "-x y"},
                 {"\"C:\\Program Files\\RykXyLdr.exe\" a", "a"},
                 {"\"C:\\unterminated a", ""}};
    for (const auto& c : cases) EXPECT_STREQ(SkipProgramName(c.pszLine), c.pszRest) << c.pszLine;
}

}  // namespace
