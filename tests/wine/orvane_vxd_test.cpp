// orvane.vxd under Wine, as RykXyLdr.exe meets it: this program opens the
// device the way the program does, sends the driver's real control codes
// through its own import of DeviceIoControl, hands over events with
// OpenVxDHandle, plays the driver from outside through its control pipe and
// reads the driver's record. Runs from <build>/wine, beside orvane.vxd, with
// Wine reporting Windows 98; exits 0 when every check holds.

#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "wine/control.h"

namespace {

int g_failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++g_failures;
}

std::string g_pipe;

std::string control(const std::string& command) {
    const std::string answer = ryk_wine::control(g_pipe, command);
    std::printf("      control %s -> %s\n", command.substr(0, command.find('\t')).c_str(), answer.c_str());
    return answer;
}

HANDLE g_device = INVALID_HANDLE_VALUE;

template <class T>
BOOL send(DWORD code, T& request) {
    DWORD n = 0;
    return DeviceIoControl(g_device, code, &request, sizeof request, &request, sizeof request, &n, nullptr);
}

RequestHeader header(WORD touchscreen) {
    RequestHeader h{};
    h.wTag1 = REQ_TAG;
    h.wTag2 = REQ_TAG;
    h.wTouchscreen = touchscreen;
    return h;
}

BOOL bracket(DWORD code, WORD touchscreen) {
    RequestHeader h = header(touchscreen);
    return send(code, h);
}

// Hands an event to the driver inside a change bracket, as the program does.
bool hand_over(DWORD code, WORD touchscreen, WORD bracket_id, HANDLE event) {
    using OpenVxDHandleFn = DWORD(WINAPI*)(HANDLE);
    auto open_vxd = reinterpret_cast<OpenVxDHandleFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle")));
    if (!open_vxd) return false;
    EventRequest r{};
    r.header = header(touchscreen);
    r.hEventR0 = open_vxd(event);
    return r.hEventR0 != 0 && bracket(REQ_BEGIN_CHANGE, bracket_id) && send(code, r) &&
           bracket(REQ_END_CHANGE, bracket_id);
}

std::string temp_file(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name + std::to_string(GetCurrentProcessId()) + ".txt";
}

std::vector<std::string> lines_of(const std::string& path) {
    std::ifstream f(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(f, line);) out.push_back(line);
    return out;
}

bool has_line(const std::vector<std::string>& lines, std::initializer_list<const char*> parts) {
    for (const auto& l : lines) {
        bool all = true;
        for (const char* p : parts) all = all && l.find(p) != std::string::npos;
        if (all) return true;
    }
    return false;
}

}  // namespace

int main() {
    const std::string config = temp_file("orvane-config-"), log = temp_file("orvane-log-");
    g_pipe = "\\\\.\\pipe\\RykOrvaneVxdTest" + std::to_string(GetCurrentProcessId());
    {
        std::ofstream f(config);
        f << "# two touchscreens\n"
          << "add\tTS-0001\t0\tEnum\\Ryk\\TS-0001\t1\t200\t200\t-\n"
          << "add\tTS-0002\t-1\tEnum\\Ryk\\TS-0002\t1\t50\t60\t1,2,3,4,5,6,7\n";
    }
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("RYK_ORVANE_CONFIG", config.c_str());
    SetEnvironmentVariableA("RYK_ORVANE_LOG", log.c_str());
    SetEnvironmentVariableA("RYK_ORVANE_PIPE", g_pipe.c_str());

    // Opened exactly as the program opens it.
    g_device = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0, 0x04000080, nullptr);
    check(g_device != INVALID_HANDLE_VALUE, "CreateFileA(\\\\.\\Orvane.vxd) loads orvane.vxd and opens the device");
    if (g_device == INVALID_HANDLE_VALUE) return 1;

    // The enumeration: one record per index, the first index past the last
    // touchscreen fails.
    struct Expected {
        WORD index;
        bool ok;
        const char* serial;
        LONG monitor;
        const char* path;
    };
    const Expected records[] = {{0, true, "TS-0001", 0, "Enum\\Ryk\\TS-0001"},
                                {1, true, "TS-0002", -1, "Enum\\Ryk\\TS-0002"},
                                {2, false, "", 0, ""}};
    for (const auto& e : records) {
        TouchscreenRecord r{};
        r.header = header(e.index);
        r.iMonitor = REQ_ENUM_MONITOR;
        const bool ok = send(REQ_GET_TOUCHSCREEN, r) != FALSE;
        const std::string what = "REQ_GET_TOUCHSCREEN index " + std::to_string(e.index);
        check(ok == e.ok, what + (e.ok ? " succeeds" : " fails"));
        if (ok && e.ok) {
            check(r.header.wTouchscreen == e.index && r.iMonitor == e.monitor &&
                      std::strcmp(r.szSerialNumber, e.serial) == 0 && std::strcmp(r.szRegistryPath, e.path) == 0,
                  what + " reports " + e.serial + ", monitor " + std::to_string(e.monitor) + ", " + e.path);
        }
    }

    // Values that come back in the request's own buffer.
    AlignmentRequest align{};
    align.header = header(1);
    align.ScrDx = 576;
    check(send(REQ_GET_ALIGNMENT, align) && align.OffsetX == 1 && align.ScrDx == 2 && align.SwapXY == 7,
          "REQ_GET_ALIGNMENT returns touchscreen 1's alignment");
    AlignmentRequest defaults{};
    defaults.header = header(0);
    defaults.ScrDx = 576;
    defaults.Dx = 3107;
    check(send(REQ_GET_ALIGNMENT, defaults) && defaults.ScrDx == 576 && defaults.Dx == 3107,
          "REQ_GET_ALIGNMENT leaves the values sent when the touchscreen has no alignment");
    QuickTouchRequest quick{};
    quick.header = header(1);
    check(send(REQ_GET_QUICKTOUCH, quick) && quick.iQuickTouchDx == 50 && quick.iQuickTouchDy == 60,
          "REQ_GET_QUICKTOUCH returns touchscreen 1's thresholds");

    // Events handed over through OpenVxDHandle are set by the driver when it
    // is told from outside.
    HANDLE addmon = CreateEventA(nullptr, FALSE, FALSE, "RykAddMonEvent");
    check(hand_over(REQ_SET_ADDMON_EVENT, 0, 0, addmon), "the add-monitor event is handed over");
    check(control("signal_add") == "ok 1", "the control pipe signals add-monitor");
    check(WaitForSingleObject(addmon, 10000) == WAIT_OBJECT_0, "the add-monitor event is set");

    HANDLE xy = CreateEventA(nullptr, FALSE, FALSE, "RykXyEvent0");
    check(hand_over(REQ_SET_XY_EVENT, 0, 0, xy), "touchscreen 0's packet event is handed over");
    check(control("touch\t0\t100\t200\t5") == "ok", "the control pipe queues a touch");
    check(WaitForSingleObject(xy, 10000) == WAIT_OBJECT_0, "the packet event is set");
    TouchPacket p{};
    p.header = header(0);
    check(send(REQ_GET_TOUCH, p) && p.iX == 100 && p.iY == 200 && p.dwFlags == 5,
          "REQ_GET_TOUCH returns the packet (100, 200) kind 5");
    check(!send(REQ_GET_TOUCH, p), "REQ_GET_TOUCH fails when no packet waits");

    // Refusals from outside.
    check(control("refuse\t0x9C402004\t0\t1\t-1\t-1") == "ok", "the control pipe adds a refusal");
    control("touch\t0\t1\t2\t0");
    WaitForSingleObject(xy, 10000);
    check(!send(REQ_GET_TOUCH, p), "the refused REQ_GET_TOUCH fails");
    check(control("state\t0").rfind("ok xy=", 0) == 0, "the control pipe answers state queries");
    check(control("bogus").rfind("err", 0) == 0, "an unknown command is answered with err");

    // A breach of the protocol is recorded.
    TouchPacket bad{};
    bad.header = header(0);
    bad.header.wTag2 = 3;
    send(REQ_GET_TOUCH, bad);

    // A handle that is not the device goes on to KERNEL32 untouched.
    DWORD n = 0;
    TouchPacket other{};
    check(!DeviceIoControl(xy, REQ_GET_TOUCH, &other, sizeof other, &other, sizeof other, &n, nullptr),
          "DeviceIoControl on an event handle is not the driver's");

    CloseHandle(g_device);

    const auto rec = lines_of(log);
    check(has_line(rec, {"\"ev\":\"device_open\""}), "the record starts with the device's opening");
    check(has_line(rec, {"\"ev\":\"ioctl\"", "\"code\":\"REQ_GET_TOUCHSCREEN\"", "\"ok\":false", "\"wTouchscreen\":2"}),
          "the record has the failed enumeration request");
    check(has_line(rec, {"\"code\":\"REQ_GET_TOUCH\"", "\"ok\":true", "\"iX\":100", "\"iY\":200", "\"dwFlags\":5"}),
          "the record has the packet read with its packet");
    check(has_line(rec, {"\"code\":\"REQ_SET_ADDMON_EVENT\"", "\"hEventR0\":"}),
          "the record has the add-monitor hand-over");
    check(has_line(rec, {"\"ev\":\"protocol_error\"", "wTag2 is 3"}), "the record has the protocol error");
    check(!has_line(rec, {"\"ev\":\"protocol_error\"", "not a ring-0 handle"}),
          "handles from OpenVxDHandle count as ring-0 handles");
    check(has_line(rec, {"\"ev\":\"device_close\""}), "the record has the device's closing");
    size_t requests = 0;
    for (const auto& l : rec) requests += l.find("\"ev\":\"ioctl\"") != std::string::npos;
    // 3 enumeration, 2 alignment, 1 quick-touch, 2 hand-overs of 3, 3 packet
    // reads and the bad one: the event handle's request is not among them.
    check(requests == 3 + 2 + 1 + 6 + 3 + 1, "every device request and nothing else is recorded (" +
                                                 std::to_string(requests) + ")");

    DeleteFileA(config.c_str());
    DeleteFileA(log.c_str());
    std::printf("%s\n", g_failures ? "orvane_vxd_test: FAILED" : "orvane_vxd_test: all checks hold");
    return g_failures ? 1 : 0;
}
