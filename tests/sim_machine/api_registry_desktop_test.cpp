// The registry and desktop Win32 functions on a whole machine: what they
// record in the trace, how they treat handles, what the program sees of the
// monitors and of a display change.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "desktop.h"
#include "machine.h"
#include "registry.h"

namespace {

using sim::Config;
using sim::Fields;
using sim::Machine;
using sim::MonitorConfig;
using sim::Windows;

MonitorConfig mon(LONG l, LONG t, LONG r, LONG b) { return MonitorConfig{{l, t, r, b}, {l, t, r, b}}; }

Config config_of(std::vector<MonitorConfig> monitors, Windows w = Windows::v98) {
    Config c;
    c.windows = w;
    c.monitors = std::move(monitors);
    return c;
}

std::vector<std::string> dumps(const std::vector<sim::TraceEvent>& events) {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e.fields.dump());
    return out;
}

const char kTouch[] = "Enum\\Ryk\\TS-0001";

// ------------------------------------------------------------ registry

TEST(ApiRegistry, EverySuccessfulWriteIsTracedAsStored) {
    const DWORD minus_one = 0xFFFFFFFFu;
    const BYTE serial[] = "A1B2";
    const BYTE lang[] = {9, 4};
    const BYTE expand[] = "x";
    const BYTE latin1[] = "Gr\xFC\xDF";  // "Grüß" in the ANSI code page
    struct Case {
        HKEY root;
        const char* path;
        const char* name;
        DWORD type;
        const BYTE* data;
        DWORD cb;
        const char* expect;  // the event's fields
    } cases[] = {
        {HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber", REG_DWORD, reinterpret_cast<const BYTE*>(&minus_one), 4,
         R"({"key":"Enum\\Ryk\\TS-0001","name":"MonitorNumber","type":"REG_DWORD","value":4294967295})"},
        {HKEY_LOCAL_MACHINE, kTouch, "SerialNumber", REG_SZ, serial, sizeof serial,
         R"({"key":"Enum\\Ryk\\TS-0001","name":"SerialNumber","type":"REG_SZ","value":"A1B2"})"},
        {HKEY_LOCAL_MACHINE, kTouch, "SerialNumber", REG_SZ, serial, 2,
         R"({"key":"Enum\\Ryk\\TS-0001","name":"SerialNumber","type":"REG_SZ","value":"A1"})"},
        {HKEY_LOCAL_MACHINE, "enum\\RYK\\ts-0001\\", "Owner", REG_SZ, latin1, sizeof latin1,
         R"({"key":"enum\\RYK\\ts-0001","name":"Owner","type":"REG_SZ","value":"Grüß"})"},
        {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen", "CplLanguage", REG_BINARY,
         lang, sizeof lang,
         R"({"key":"SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen","name":"CplLanguage","type":"REG_BINARY","value":[9,4]})"},
        {HKEY_LOCAL_MACHINE, kTouch, "Short", REG_DWORD, lang, sizeof lang,
         R"({"key":"Enum\\Ryk\\TS-0001","name":"Short","type":"REG_DWORD","value":[9,4]})"},
        {HKEY_LOCAL_MACHINE, kTouch, nullptr, REG_BINARY, nullptr, 0,
         R"({"key":"Enum\\Ryk\\TS-0001","name":"","type":"REG_BINARY","value":[]})"},
        {HKEY_CURRENT_USER, "Software\\Ryk", "Path", REG_EXPAND_SZ, expand, sizeof expand,
         R"({"key":"HKEY_CURRENT_USER\\Software\\Ryk","name":"Path","type":2,"value":[120,0]})"},
        {HKEY_LOCAL_MACHINE, "", "AtRoot", REG_DWORD, reinterpret_cast<const BYTE*>(&minus_one), 4,
         R"({"key":"","name":"AtRoot","type":"REG_DWORD","value":4294967295})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expect);
        Machine m;
        m.registry().create_key(c.root, c.path);
        HKEY h = nullptr;
        ASSERT_EQ(RegOpenKeyExA(c.root, c.path, 0, KEY_SET_VALUE, &h), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(h, c.name, 0, c.type, c.data, c.cb), ERROR_SUCCESS);
        EXPECT_EQ(dumps(m.trace().events("regwrite")), std::vector<std::string>{c.expect});
        EXPECT_EQ(m.registry().get_value(c.root, c.path, c.name ? c.name : ""),
                  (sim::RegValue{c.type, std::vector<BYTE>(c.data, c.data + c.cb)}));
        EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
        EXPECT_TRUE(m.misuse().empty());
    }
}

TEST(ApiRegistry, RefusedWritesChangeNothingAndAreNotTraced) {
    Machine m;
    const char service[] = "SYSTEM\\CurrentControlSet\\Services\\RykTouchscreen";
    m.registry().set_dword(HKEY_LOCAL_MACHINE, service, "NumXScreens", 2);
    m.registry().set_read_only(HKEY_LOCAL_MACHINE, service, true);
    const DWORD v = 3;
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, service, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &h),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, service, 0, KEY_QUERY_VALUE, &h), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(h, "NumXScreens", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(h, "NumXScreens"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(m.trace().count("regwrite"), 0u);
    EXPECT_EQ(m.registry().get_dword(HKEY_LOCAL_MACHINE, service, "NumXScreens"), 2u);
}

TEST(ApiRegistry, HandleUsedAfterCloseIsRefusedAndReported) {
    DWORD v = 0, cb = 4;
    HKEY out = nullptr;
    struct Case {
        const char* function;
        std::function<LONG(HKEY)> call;
    } cases[] = {
        {"RegQueryValueExA",
         [&](HKEY h) { return RegQueryValueExA(h, "MonitorNumber", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb); }},
        {"RegSetValueExA",
         [&](HKEY h) { return RegSetValueExA(h, "MonitorNumber", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4); }},
        {"RegDeleteValueA", [&](HKEY h) { return RegDeleteValueA(h, "MonitorNumber"); }},
        {"RegOpenKeyExA", [&](HKEY h) { return RegOpenKeyExA(h, nullptr, 0, KEY_READ, &out); }},
        {"RegCreateKeyExA",
         [&](HKEY h) { return RegCreateKeyExA(h, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr); }},
        {"RegCloseKey", [&](HKEY h) { return RegCloseKey(h); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        Machine m;
        m.registry().set_dword(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber", 1);
        HKEY h = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTouch, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        ASSERT_EQ(RegCloseKey(h), ERROR_SUCCESS);
        ASSERT_TRUE(m.misuse().empty());

        EXPECT_EQ(c.call(h), ERROR_INVALID_HANDLE);
        char handle[32];
        std::snprintf(handle, sizeof handle, "0x%llx",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
        EXPECT_EQ(m.misuse(), std::vector<std::string>{std::string(c.function) + ": registry handle " + handle +
                                                       " used after RegCloseKey"});
        EXPECT_EQ(m.registry().get_dword(HKEY_LOCAL_MACHINE, kTouch, "MonitorNumber"), 1u);
        EXPECT_EQ(m.trace().count("regwrite"), 0u);
    }
    EXPECT_EQ(out, nullptr);
}

TEST(ApiRegistry, RegistryHandlesAndKernelHandlesDoNotMix) {
    Machine m;
    m.registry().create_key(HKEY_LOCAL_MACHINE, kTouch);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTouch, 0, KEY_READ, &key), ERROR_SUCCESS);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_NE(reinterpret_cast<uintptr_t>(event), reinterpret_cast<uintptr_t>(key));

    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExA(reinterpret_cast<HKEY>(event), "x", nullptr, nullptr, nullptr, &cb),
              ERROR_INVALID_HANDLE);
    ASSERT_EQ(m.misuse().size(), 1u);
    EXPECT_NE(m.misuse()[0].find("RegQueryValueExA"), std::string::npos) << m.misuse()[0];
    // The NULL that a failed open leaves behind may be closed without a report.
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m.misuse().size(), 1u);

    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(ApiRegistry, RegistryFunctionsLeaveTheLastErrorAlone) {
    Machine m;
    m.registry().set_read_only(HKEY_LOCAL_MACHINE, kTouch, true);
    HKEY h = nullptr;
    DWORD cb = 0;
    const std::function<LONG()> calls[] = {
        [&] { return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "No\\Such\\Key", 0, KEY_READ, &h); },
        [&] { return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTouch, 0, KEY_SET_VALUE, &h); },
        [&] { return RegQueryValueExA(HKEY_LOCAL_MACHINE, "Missing", nullptr, nullptr, nullptr, &cb); },
        [&] { return RegQueryValueExA(HKEY_LOCAL_MACHINE, "Missing", &cb, nullptr, nullptr, &cb); },
    };
    for (const auto& call : calls) {
        SetLastError(1234);
        EXPECT_NE(call(), ERROR_SUCCESS);
        EXPECT_EQ(GetLastError(), 1234u);
    }
}

// ------------------------------------------------------------ desktop

TEST(ApiDesktop, MonitorCountFollowsTheWindowsVersion) {
    struct Case {
        Windows windows;
        int monitors;
    } cases[] = {{Windows::v95, 0}, {Windows::nt4, 0}, {Windows::v98, 2}, {Windows::me, 2}, {Windows::w2000, 2},
                 {Windows::xp, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(sim::windows_name(c.windows));
        Machine m(config_of({mon(0, 0, 800, 600), mon(800, 0, 2080, 1024)}, c.windows));
        EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), c.monitors);
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
        EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    }
}

TEST(ApiDesktop, CursorAndMouseCallsAreTracedWithTheirArguments) {
    Machine m(config_of({mon(0, 0, 1024, 768)}));
    EXPECT_TRUE(SetCursorPos(5000, -3));
    POINT p{};
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 1023);
    EXPECT_EQ(p.y, 0);
    mouse_event(MOUSEEVENTF_MOVE, static_cast<DWORD>(-1), 1, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE, 0, 0, 0, 0);
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 1022);
    EXPECT_EQ(p.y, 1);
    EXPECT_TRUE(m.desktop().buttons().left);
    EXPECT_EQ(dumps(m.trace().events("cursor")), std::vector<std::string>{R"({"x":5000,"y":-3})"});
    EXPECT_EQ(dumps(m.trace().events("mouse")),
              (std::vector<std::string>{R"({"flags":1,"dx":-1,"dy":1})", R"({"flags":3,"dx":0,"dy":0})"}));
}

// What an enumeration callback saw, reached through its LPARAM.
struct Enumerated {
    struct Call {
        HMONITOR monitor;
        HDC hdc;
        RECT rc;
        MONITORINFO info;
        BOOL info_ok;
    };
    std::vector<Call> calls;
    size_t stop_after = SIZE_MAX;
};

BOOL CALLBACK record_monitor(HMONITOR monitor, HDC hdc, LPRECT rc, LPARAM data) {
    auto* e = reinterpret_cast<Enumerated*>(data);
    Enumerated::Call call{monitor, hdc, *rc, {}, FALSE};
    call.info.cbSize = sizeof call.info;
    // Asking for the monitor's record from inside the callback, as the
    // program does.
    call.info_ok = sim::GetMonitorInfoAImpl(monitor, &call.info);
    e->calls.push_back(call);
    return e->calls.size() < e->stop_after ? TRUE : FALSE;
}

bool same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(ApiDesktop, EnumerationReportsEveryMonitorInOrder) {
    const std::vector<MonitorConfig> monitors = {MonitorConfig{{0, 0, 1024, 768}, {0, 0, 1024, 738}},
                                                 mon(-1280, 0, 0, 1024), mon(1024, 0, 1824, 600)};
    Machine m(config_of(monitors));
    for (size_t stop_after : {SIZE_MAX, size_t{1}, size_t{2}}) {
        SCOPED_TRACE(stop_after);
        Enumerated e;
        e.stop_after = stop_after;
        EXPECT_TRUE(sim::EnumDisplayMonitorsImpl(nullptr, nullptr, record_monitor, reinterpret_cast<LPARAM>(&e)));
        ASSERT_EQ(e.calls.size(), std::min(stop_after, monitors.size()));
        for (size_t i = 0; i < e.calls.size(); ++i) {
            SCOPED_TRACE(i);
            const auto& c = e.calls[i];
            EXPECT_EQ(c.monitor, sim::Desktop::monitor_handle(i));
            EXPECT_EQ(c.hdc, nullptr);
            EXPECT_TRUE(same(c.rc, monitors[i].rc));
            ASSERT_TRUE(c.info_ok);
            EXPECT_TRUE(same(c.info.rcMonitor, monitors[i].rc));
            EXPECT_TRUE(same(c.info.rcWork, monitors[i].work));
            EXPECT_EQ(c.info.dwFlags, i == 0 ? static_cast<DWORD>(MONITORINFOF_PRIMARY) : 0u);
        }
    }
}

TEST(ApiDesktop, MonitorAddedBetweenCountAndEnumerationIsEnumerated) {
    Machine m(config_of({mon(0, 0, 1024, 768), mon(1024, 0, 2048, 768)}));
    ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), 2);
    int hook_runs = 0;
    m.desktop().set_before_enumeration([&] {
        ++hook_runs;
        m.desktop().change_display({mon(0, 0, 1024, 768), mon(1024, 0, 2048, 768), mon(2048, 0, 3072, 768)});
    });
    for (int round = 0; round < 2; ++round) {
        Enumerated e;
        EXPECT_TRUE(sim::EnumDisplayMonitorsImpl(nullptr, nullptr, record_monitor, reinterpret_cast<LPARAM>(&e)));
        ASSERT_EQ(e.calls.size(), 3u);
        EXPECT_TRUE(same(e.calls[2].rc, RECT{2048, 0, 3072, 768}));
    }
    EXPECT_EQ(hook_runs, 1);
    EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 3);
}

TEST(ApiDesktop, MonitorInfoChecksItsArguments) {
    Machine m(config_of({mon(0, 0, 1024, 768), mon(1024, 0, 2048, 768)}));
    HMONITOR second = sim::Desktop::monitor_handle(1);
    struct Case {
        HMONITOR monitor;
        DWORD cb_size;
        BOOL expect;
    } cases[] = {
        {second, 40, TRUE},
        {second, 72, TRUE},  // MONITORINFOEXA
        {second, 39, FALSE},
        {second, 0, FALSE},
        {second, 44, FALSE},
        {nullptr, 40, FALSE},
        {sim::Desktop::monitor_handle(2), 40, FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.monitor << " cbSize " << c.cb_size);
        struct {
            MONITORINFO info;
            char device[32];
            char guard[8];
        } buf;
        std::memset(&buf, 0xCC, sizeof buf);
        buf.info.cbSize = c.cb_size;
        ASSERT_EQ(sim::GetMonitorInfoAImpl(c.monitor, &buf.info), c.expect);
        EXPECT_EQ(buf.info.cbSize, c.cb_size);
        if (c.expect) {
            EXPECT_TRUE(same(buf.info.rcMonitor, RECT{1024, 0, 2048, 768}));
            EXPECT_EQ(buf.info.dwFlags, 0u);
        } else {
            EXPECT_EQ(buf.info.dwFlags, 0xCCCCCCCCu) << "a refused call leaves the record alone";
        }
        if (c.cb_size == 72) {
            EXPECT_STREQ(buf.device, "\\\\.\\DISPLAY2");
        }
        for (char g : buf.guard) EXPECT_EQ(static_cast<unsigned char>(g), 0xCC);
    }
    // A monitor that went away takes its handle with it.
    m.desktop().change_display({mon(0, 0, 1024, 768)});
    MONITORINFO info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(sim::GetMonitorInfoAImpl(second, &info));
}

// What the display-change test's window procedure was given.
struct DisplayChangeSeen {
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    int cx_screen = 0;
};
std::vector<DisplayChangeSeen> g_display_changes;

LRESULT CALLBACK display_change_window(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_DISPLAYCHANGE || msg == WM_USER)
        g_display_changes.push_back({msg, wparam, lparam, GetSystemMetrics(SM_CXSCREEN)});
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Windows sends WM_DISPLAYCHANGE to every top-level window: its thread takes
// it ahead of the messages posted before it, inside any PeekMessageA, and the
// new monitors are in place when it arrives.
TEST(ApiDesktop, DisplayChangeIsTracedAndSentToEveryWindow) {
    Machine m(config_of({mon(0, 0, 1024, 768)}));
    g_display_changes.clear();
    WNDCLASSA wc{};
    wc.lpfnWndProc = display_change_window;
    wc.lpszClassName = "RykDisplayChangeTest";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND hwnd = CreateWindowExA(0, "RykDisplayChangeTest", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER, 0, 0));

    m.desktop().change_display({MonitorConfig{{0, 0, 1280, 1024}, {0, 0, 1280, 994}}, mon(-800, 0, 0, 600)});

    EXPECT_EQ(dumps(m.trace().events("display")),
              std::vector<std::string>{
                  R"({"monitors":[{"left":0,"top":0,"right":1280,"bottom":1024},{"left":-800,"top":0,"right":0,"bottom":600}]})"});
    // A look at the queue that takes nothing hands the sent message over.
    MSG msg{};
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_EQ(g_display_changes.size(), 1u);
    EXPECT_EQ(g_display_changes[0].message, static_cast<UINT>(WM_DISPLAYCHANGE));
    EXPECT_EQ(g_display_changes[0].wparam, WPARAM{32});
    EXPECT_EQ(LOWORD(g_display_changes[0].lparam), 1280);
    EXPECT_EQ(HIWORD(g_display_changes[0].lparam), 1024);
    EXPECT_EQ(g_display_changes[0].cx_screen, 1280);
    // The posted message is still there, after it.
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 2);
    EXPECT_TRUE(DestroyWindow(hwnd));
}

}  // namespace
