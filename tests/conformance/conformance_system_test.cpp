// System information: the Windows version, modules and the functions the
// program looks up at run time, the screen and the monitors, the system
// directory and the cursor. Both builds run as Windows 98.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "conformance_util.h"
#include "platform/win32.h"

namespace conformance {
namespace {

// ---------------------------------------------------------------- version

TEST(Version, GetVersionExReportsWindows98) {
    OSVERSIONINFOA info;
    std::memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = 148;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
    EXPECT_EQ(info.dwMajorVersion, 4u);
    EXPECT_EQ(info.dwMinorVersion, 10u);
    EXPECT_EQ(info.dwOSVersionInfoSize, 148u) << "the size field is the caller's";
    EXPECT_NE(std::memchr(info.szCSDVersion, 0, sizeof info.szCSDVersion), nullptr) << "szCSDVersion not terminated";
}

TEST(Version, GetVersionExRefusesAWrongStructureSize) {
    for (const DWORD size : {DWORD{0}, DWORD{147}, DWORD{149}, DWORD{1000}}) {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = size;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(GetVersionExA(&info)) << "size " << size;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "size " << size;
    }
}

// ---------------------------------------------------------------- modules and exports

TEST(Module, TheSystemModulesAreLoadedAndUnknownOnesAreNot) {
    struct Case {
        const char* name;
        bool loaded;
    };
    const Case cases[] = {
        {"KERNEL32", true},   {"USER32", true},           {"kernel32", true},       {"KERNEL32.DLL", true},
        {"user32.dll", true}, {"RYKNOSUCHMODULE", false}, {"RykNoSuch.dll", false},
    };
    for (const Case& c : cases) {
        SetLastError(0xdeadbeef);
        const HMODULE m = GetModuleHandleA(c.name);
        EXPECT_EQ(m != nullptr, c.loaded) << c.name;
        if (!c.loaded) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << c.name;
        }
    }
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr) << "the program's own module";
    EXPECT_EQ(GetModuleHandleA("kernel32"), GetModuleHandleA("KERNEL32.DLL"));
    EXPECT_NE(GetModuleHandleA("KERNEL32"), GetModuleHandleA("USER32"));
}

struct ExportCase {
    const char* module;
    const char* function;
    bool found;
};
void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.module << "!" << c.function; }

const ExportCase kExportCases[] = {
    {"KERNEL32", "OpenVxDHandle", true},      // Windows 95/98/Me only
    {"KERNEL32", "IsDebuggerPresent", true},  // Windows 98 and NT 4.0 on
    {"USER32", "EnumDisplayMonitors", true},  // Windows 98 and 2000 on
    {"USER32", "GetMonitorInfoA", true},      // Windows 98 and 2000 on
    {"KERNEL32", "RykNoSuchFunction", false},   {"USER32", "RykNoSuchFunction", false},
    {"KERNEL32", "EnumDisplayMonitors", false},  // exported by the other module
};

class ExportTest : public ::testing::TestWithParam<ExportCase> {};

TEST_P(ExportTest, GetProcAddressFindsWhatWindows98Exports) {
    const ExportCase& c = GetParam();
    const HMODULE module = GetModuleHandleA(c.module);
    ASSERT_NE(module, nullptr);
    SetLastError(0xdeadbeef);
    const FARPROC p = GetProcAddress(module, c.function);
    EXPECT_EQ(p != nullptr, c.found);
    if (!c.found) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ExportTest, ::testing::ValuesIn(kExportCases),
                         [](const ::testing::TestParamInfo<ExportCase>& param_info) {
                             return std::string(param_info.param.module) + "_" + param_info.param.function;
                         });

// ---------------------------------------------------------------- screen and monitors

TEST(Screen, TheMetricsDescribeTheMonitorsThatEnumerationReports) {
    const int cx = GetSystemMetrics(SM_CXSCREEN);
    const int cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_GT(cx, 0);
    EXPECT_GT(cy, 0);

    using EnumFn = BOOL(WINAPI*)(HDC, LPCRECT, MONITORENUMPROC, LPARAM);
    using InfoFn = BOOL(WINAPI*)(HMONITOR, LPMONITORINFO);
    const HMODULE user = GetModuleHandleA("USER32");
    ASSERT_NE(user, nullptr);
    const auto enumerate = ProcAs<EnumFn>(GetProcAddress(user, "EnumDisplayMonitors"));
    const auto info_of = ProcAs<InfoFn>(GetProcAddress(user, "GetMonitorInfoA"));
    ASSERT_NE(enumerate, nullptr);
    ASSERT_NE(info_of, nullptr);

    struct Found {
        HMONITOR monitor;
        RECT rect;
        LPARAM data;
    };
    std::vector<Found> found;
    struct Collector {
        static BOOL CALLBACK Add(HMONITOR m, HDC, LPRECT rc, LPARAM data) {
            reinterpret_cast<std::vector<Found>*>(data)->push_back(Found{m, *rc, data});
            return TRUE;
        }
    };
    ASSERT_TRUE(enumerate(nullptr, nullptr, Collector::Add, reinterpret_cast<LPARAM>(&found)));
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), static_cast<int>(found.size()));

    RECT bounds = found[0].rect;
    int primaries = 0;
    for (const Found& f : found) {
        MONITORINFO mi;
        std::memset(&mi, 0, sizeof mi);
        mi.cbSize = sizeof mi;
        ASSERT_TRUE(info_of(f.monitor, &mi));
        EXPECT_EQ(mi.rcMonitor.left, f.rect.left);
        EXPECT_EQ(mi.rcMonitor.top, f.rect.top);
        EXPECT_EQ(mi.rcMonitor.right, f.rect.right);
        EXPECT_EQ(mi.rcMonitor.bottom, f.rect.bottom);
        if (mi.dwFlags & MONITORINFOF_PRIMARY) {
            ++primaries;
            EXPECT_EQ(mi.rcMonitor.left, 0);
            EXPECT_EQ(mi.rcMonitor.top, 0);
            EXPECT_EQ(mi.rcMonitor.right, cx) << "the primary monitor is SM_CXSCREEN wide";
            EXPECT_EQ(mi.rcMonitor.bottom, cy) << "the primary monitor is SM_CYSCREEN high";
        }
        bounds.left = std::min(bounds.left, f.rect.left);
        bounds.top = std::min(bounds.top, f.rect.top);
        bounds.right = std::max(bounds.right, f.rect.right);
        bounds.bottom = std::max(bounds.bottom, f.rect.bottom);

        // A structure of the wrong size is refused.
        mi.cbSize = 0;
        EXPECT_FALSE(info_of(f.monitor, &mi));
    }
    EXPECT_EQ(primaries, 1);
    EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), bounds.left);
    EXPECT_EQ(GetSystemMetrics(SM_YVIRTUALSCREEN), bounds.top);
    EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), bounds.right - bounds.left);
    EXPECT_EQ(GetSystemMetrics(SM_CYVIRTUALSCREEN), bounds.bottom - bounds.top);

    // The enumeration stops when the callback says so.
    struct First {
        static BOOL CALLBACK Stop(HMONITOR, HDC, LPRECT, LPARAM data) {
            ++*reinterpret_cast<int*>(data);
            return FALSE;
        }
    };
    int calls = 0;
    enumerate(nullptr, nullptr, First::Stop, reinterpret_cast<LPARAM>(&calls));
    EXPECT_EQ(calls, 1);
}

// ---------------------------------------------------------------- system directory

TEST(SystemDirectory, ReturnsItsLengthOrTheSizeNeeded) {
    char full[MAX_PATH];
    const UINT len = GetSystemDirectoryA(full, MAX_PATH);
    ASSERT_GT(len, 0u);
    ASSERT_LT(len, static_cast<UINT>(MAX_PATH));
    EXPECT_EQ(std::strlen(full), len) << "the length is without the NUL";
    EXPECT_EQ(full[1], ':') << full;

    struct Case {
        UINT size;
        UINT result;
        bool copied;
    };
    const Case cases[] = {
        {0, len + 1, false}, {1, len + 1, false}, {len, len + 1, false}, {len + 1, len, true}, {len + 20, len, true},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(len + 40, '#');
        EXPECT_EQ(GetSystemDirectoryA(buffer.data(), c.size), c.result) << "buffer of " << c.size;
        if (c.copied) {
            EXPECT_STREQ(buffer.data(), full);
        }
        for (size_t i = c.size; i < buffer.size(); ++i) {
            if (c.copied && i <= len) continue;
            EXPECT_EQ(buffer[i], '#') << "byte " << i << " past a buffer of " << c.size;
        }
    }
}

// ---------------------------------------------------------------- cursor

TEST(Cursor, SetCursorPosMovesTheCursorWithinThePrimaryScreen) {
    // Wine's display driver wants the first display call not to be
    // SetCursorPos.
    POINT start{};
    ASSERT_TRUE(GetCursorPos(&start));

    const LONG cx = GetSystemMetrics(SM_CXSCREEN);
    const LONG cy = GetSystemMetrics(SM_CYSCREEN);
    struct Case {
        POINT set;
        POINT expect;
    };
    const Case cases[] = {
        {{10, 20}, {10, 20}},
        {{0, 0}, {0, 0}},
        {{cx / 2, cy / 3}, {cx / 2, cy / 3}},
        {{cx - 1, cy - 1}, {cx - 1, cy - 1}},
        // Points off the screen are clipped to it; the right and bottom
        // edges are outside.
        {{-50, -50}, {0, 0}},
        {{-1, 10}, {0, 10}},
        {{cx, cy}, {cx - 1, cy - 1}},
        {{cx + 100, 5}, {cx - 1, 5}},
        {{7, cy + 100}, {7, cy - 1}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(SetCursorPos(c.set.x, c.set.y));
        POINT got{-1, -1};
        ASSERT_TRUE(GetCursorPos(&got));
        EXPECT_EQ(got.x, c.expect.x) << "set " << c.set.x << "," << c.set.y;
        EXPECT_EQ(got.y, c.expect.y) << "set " << c.set.x << "," << c.set.y;
    }
    SetCursorPos(start.x, start.y);
}

TEST(Cursor, MouseEventMovesTheCursorRelativelyOrToAbsoluteCoordinates) {
    POINT start{};
    ASSERT_TRUE(GetCursorPos(&start));
    const LONG cx = GetSystemMetrics(SM_CXSCREEN);
    const LONG cy = GetSystemMetrics(SM_CYSCREEN);

    // Relative moves, one after the other from (100, 100). The machine runs
    // without mouse acceleration, so a move of n mickeys is n pixels; moves
    // past an edge stop there and leave nothing owing.
    struct Relative {
        LONG dx, dy;
        POINT expect;
    };
    const Relative relative[] = {
        {10, 5, {110, 105}}, {-30, -200, {80, 0}},           {3, 3, {83, 3}},
        {1, 1, {84, 4}},     {5000, 5000, {cx - 1, cy - 1}}, {-1, -1, {cx - 2, cy - 2}},
    };
    ASSERT_TRUE(SetCursorPos(100, 100));
    for (const Relative& r : relative) {
        mouse_event(MOUSEEVENTF_MOVE, static_cast<DWORD>(r.dx), static_cast<DWORD>(r.dy), 0, 0);
        POINT got{-1, -1};
        ASSERT_TRUE(GetCursorPos(&got));
        EXPECT_EQ(got.x, r.expect.x) << "after a move of " << r.dx << "," << r.dy;
        EXPECT_EQ(got.y, r.expect.y) << "after a move of " << r.dx << "," << r.dy;
    }

    // Absolute coordinates: 0..65535 across the primary monitor, each pixel
    // 65536 / width units wide, rounded down.
    const DWORD absolute[] = {0, 1, 63, 64, 65, 16384, 32767, 32768, 49152, 65471, 65472, 65535};
    for (const DWORD x : absolute) {
        for (const DWORD y : {DWORD{0}, x, DWORD{65535} - x}) {
            mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y, 0, 0);
            POINT got{-1, -1};
            ASSERT_TRUE(GetCursorPos(&got));
            EXPECT_EQ(got.x, static_cast<LONG>(uint64_t{x} * static_cast<uint64_t>(cx) / 65536)) << x << "," << y;
            EXPECT_EQ(got.y, static_cast<LONG>(uint64_t{y} * static_cast<uint64_t>(cy) / 65536)) << x << "," << y;
        }
    }
    SetCursorPos(start.x, start.y);
}

}  // namespace
}  // namespace conformance
