// What each configured Windows version answers and exports, and the ring-0
// handles handed to the driver.
#include <gtest/gtest.h>

#include "kernel.h"
#include "machine.h"
#include "orvane/driver.h"

namespace {

struct VersionCase {
    sim::Windows windows;
    DWORD platform, major, minor;
    bool open_vxd, multimon, debugger_present;
    int monitors_metric;  // SM_CMONITORS with two monitors
};

class Versions : public testing::TestWithParam<VersionCase> {};

TEST_P(Versions, VersionAndExports) {
    const VersionCase& c = GetParam();
    sim::Config cfg;
    cfg.windows = c.windows;
    cfg.monitors = {{{0, 0, 800, 600}, {}}, {{800, 0, 1600, 600}, {}}};
    sim::Machine m(cfg);
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    ASSERT_TRUE(GetVersionExA(&v));
    EXPECT_EQ(v.dwPlatformId, c.platform);
    EXPECT_EQ(v.dwMajorVersion, c.major);
    EXPECT_EQ(v.dwMinorVersion, c.minor);
    HMODULE k32 = GetModuleHandleA("KERNEL32");
    HMODULE u32 = GetModuleHandleA("user32.dll");
    ASSERT_TRUE(k32 && u32);
    EXPECT_EQ(GetProcAddress(k32, "OpenVxDHandle") != nullptr, c.open_vxd);
    EXPECT_EQ(GetProcAddress(u32, "EnumDisplayMonitors") != nullptr, c.multimon);
    EXPECT_EQ(GetProcAddress(u32, "GetMonitorInfoA") != nullptr, c.multimon);
    EXPECT_EQ(GetProcAddress(k32, "IsDebuggerPresent") != nullptr, c.debugger_present);
    EXPECT_EQ(GetProcAddress(k32, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), c.monitors_metric);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Versions,
    testing::Values(VersionCase{sim::Windows::v95, 1, 4, 0, true, false, false, 0},
                    VersionCase{sim::Windows::v98, 1, 4, 10, true, true, true, 2},
                    VersionCase{sim::Windows::me, 1, 4, 90, true, true, true, 2},
                    VersionCase{sim::Windows::nt4, 2, 4, 0, false, false, true, 0},
                    VersionCase{sim::Windows::w2000, 2, 5, 0, false, true, true, 2},
                    VersionCase{sim::Windows::xp, 2, 5, 1, false, true, true, 2},
                    VersionCase{sim::Windows::vista, 2, 6, 0, false, true, true, 2}),
    [](const auto& p) { return std::string("win") + sim::windows_name(p.param.windows); });

using OpenVxD = DWORD(WINAPI*)(HANDLE);

OpenVxD LookUpOpenVxD() {
    return reinterpret_cast<OpenVxD>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle")));
}

TEST(Ring0, HandlesAreDistinctAndLetTheDriverSetTheEvent) {
    sim::Machine m;
    OpenVxD open = LookUpOpenVxD();
    ASSERT_NE(open, nullptr);
    HANDLE a = CreateEventA(nullptr, FALSE, FALSE, "RykXyEvent0");
    HANDLE b = CreateEventA(nullptr, FALSE, FALSE, "RykXyEvent1");
    DWORD ra = open(a), rb = open(b);
    EXPECT_NE(ra, 0u);
    EXPECT_NE(ra, rb);
    EXPECT_NE(ra, static_cast<DWORD>(reinterpret_cast<uintptr_t>(a)));
    EXPECT_TRUE(m.kernel().is_ring0(ra));
    EXPECT_FALSE(m.kernel().is_ring0(static_cast<DWORD>(reinterpret_cast<uintptr_t>(a))));
    m.kernel().set_event_ring0(rb);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    // The driver's reference keeps the event alive after the program closes it.
    CloseHandle(a);
    m.kernel().set_event_ring0(ra);
    EXPECT_TRUE(m.misuse().empty());
    m.kernel().set_event_ring0(0x1234);
    EXPECT_EQ(m.misuse().size(), 1u);
    CloseHandle(b);
}

TEST(Ring0, ConversionCanBeMadeToFail) {
    sim::Config cfg;
    cfg.open_vxd_handle = sim::OpenVxd::returns_zero;
    sim::Machine m(cfg);
    OpenVxD open = LookUpOpenVxD();
    ASSERT_NE(open, nullptr);
    HANDLE a = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(open(a), 0u);
    CloseHandle(a);
}

TEST(ExistingObjects, NamedObjectsExistBeforeTheProgram) {
    sim::Config cfg;
    cfg.existing_objects = {"RykXyLdrAppMutex", "RykAddMonDoneEvent", "event:Other"};
    sim::Machine m(cfg);
    SetLastError(0xdeadbeef);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "RykXyLdrAppMutex");
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    SetLastError(0xdeadbeef);
    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, "RykAddMonDoneEvent");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE other = OpenEventA(EVENT_ALL_ACCESS, FALSE, "Other");
    EXPECT_NE(other, nullptr);
    CloseHandle(mutex);
    CloseHandle(done);
    CloseHandle(other);
}

TEST(Device, OpensOnlyWhenTheDriverIsPresent) {
    for (bool present : {true, false}) {
        sim::Config cfg;
        cfg.driver = present;
        sim::Machine m(cfg);
        HANDLE h = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0, 0x04000080, nullptr);
        if (present) {
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            EXPECT_TRUE(CloseHandle(h));
        } else {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        }
        auto opens = m.trace().events("device_open");
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].fields["flags"], 0x04000080);
    }
}

}  // namespace
