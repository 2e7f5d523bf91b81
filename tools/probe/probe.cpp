// RykXyProbe: what stands in the way of RykXyLdr on this machine, found
// without changing anything.
//
// It looks at what RykXyLdr looks at, in the same way: the Windows version
// and the path it takes, the driver's service key and its eleven settings,
// RykXyLdr's own settings, whether RykXyLdr runs, the driver's touchscreens
// with their registry entries, alignment and quick-touch values, and the
// monitor table. What RykXyLdr will make of them is judged by RykXyLdr's own
// code (ReadProgramSettings, JudgeRegistryEntry, QueryStoredValue,
// GridShape), with the rights of the user who runs the probe. It only
// reads: registry keys are opened for reading (the service key also once for
// reading and writing, as RykXyLdr opens it, and closed again; so is each
// touchscreen's entry), and the
// driver gets only the requests that fetch something (REQ_GET_TOUCHSCREEN,
// REQ_GET_ALIGNMENT, REQ_GET_QUICKTOUCH), never a change bracket. These may
// reach the driver between a running RykXyLdr's requests, as the requests of
// RykXyLdr's own threads do.
//
// Exit codes: 0 no finding, 1 findings, 2 could not look (the driver cannot
// be opened), 64 usage error.
#include "probe.h"

#include "../common/tool.h"
#include "driver/protocol.h"
#include "inventory/registry_check.h"
#include "monitors/monitor_table.h"
#include "settings/program_settings.h"

using namespace ryktool;

namespace {

enum Exit { EXIT_CLEAN = 0, EXIT_FINDINGS = 1, EXIT_CANNOT_LOOK = 2, EXIT_USAGE = 64 };

// The driver's settings as RykXyLdr reads them: its own table gives the
// names, types and sizes; the defaults are repeated here because its storage
// holds whatever RykXyLdr read last.
const DWORD kSettingDefaults[DRIVER_SETTINGS_ROWS] = {6, 1, 20, 4000, 200, 0, 1000, 1, 1, 1, 0};

struct Setting {
    const char* pszName;
    DWORD dwWantType;
    DWORD cbStorage;
    bool bPresent;
    bool bFits;  // RykXyLdr reads it (else "Reg read error")
    DWORD dwType, cbData;
    BYTE abData[64];
    DWORD dwUsed;  // the value RykXyLdr works with: the default with the value's bytes over it
};

struct Touchscreen {
    LONG nId;
    LONG nMonitor;
    char szSerial[18];
    char szPath[256];
    bool bKey;           // its registry key can be opened for reading
    bool bSerialRead;    // "SerialNumber" read (at most 32 bytes)
    char szKeySerial[33];
    bool bSerialMatch;
    bool bMonitorValue;  // "MonitorNumber" present as 4 bytes
    LONG nMonitorValue;
    RegistryEntryVerdict verdict;  // what RykXyLdr's registry check finds
    bool bAlignment;
    AlignmentRequest align;
    bool bQuick;
    LONG nQuickDx, nQuickDy;
    LONG nServedOn;  // the monitor RykXyLdr will serve it on
};

struct Report {
    OSVERSIONINFOA vi;
    bool bVersion;
    OsKind kind;
    bool bOpenVxd;
    const char* pszKey;
    bool bKeyRead, bKeyWrite;
    LONG nKeyError;
    Setting settings[DRIVER_SETTINGS_ROWS];
    Presence app;
    bool bDriver;
    DWORD dwDriverError;
    enum { MAX_LISTED = 64 };
    int nTouchscreens;     // records the driver gave (counting stops after MAX_ENUM)
    int nListed;           // kept in `ts`
    Touchscreen ts[MAX_LISTED];
    MonitorTable monitors;
    ProgramSettings program;  // RykXyLdr's own settings, as it reads them
};

const int MAX_ENUM = 1024;

// ---------------------------------------------------------------- looking

void ReadSettings(Report& r) {
    HKEY hKey = nullptr;
    r.nKeyError = OpenKeyReadWrite(r.pszKey, &hKey);
    r.bKeyWrite = r.nKeyError == ERROR_SUCCESS;
    if (hKey) RegCloseKey(hKey);
    hKey = nullptr;
    const LONG nRead = RegOpenKeyExA(HKEY_LOCAL_MACHINE, r.pszKey, 0, KEY_QUERY_VALUE, &hKey);
    r.bKeyRead = nRead == ERROR_SUCCESS;
    if (!r.bKeyWrite && r.nKeyError == ERROR_SUCCESS) r.nKeyError = nRead;
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        Setting& s = r.settings[i];
        s.pszName = DriverSettings[i].pszName;
        s.dwWantType = DriverSettings[i].dwType;
        s.cbStorage = DriverSettings[i].cbData;
        s.bPresent = s.bFits = false;
        s.dwType = s.cbData = 0;
        s.dwUsed = kSettingDefaults[i];
        if (!r.bKeyRead) continue;
        // The value as it stands, to show it ...
        s.cbData = sizeof s.abData;
        const LONG e = RegQueryValueExA(hKey, s.pszName, nullptr, &s.dwType, s.abData, &s.cbData);
        s.bPresent = e == ERROR_SUCCESS || e == ERROR_MORE_DATA;
        if (e == ERROR_MORE_DATA) s.cbData = sizeof s.abData + 1;  // longer than any storage
        // ... and as RykXyLdr reads it, into storage of the row's size that
        // holds the default.
        DWORD dwStored = s.dwUsed;
        const DWORD cbStorage = s.cbStorage < sizeof dwStored ? s.cbStorage : sizeof dwStored;
        s.bFits = QueryStoredValue(hKey, s.pszName, &dwStored, cbStorage, nullptr, nullptr) == ERROR_SUCCESS;
        if (s.bFits) s.dwUsed = dwStored;
    }
    if (hKey) RegCloseKey(hKey);
}

bool Ask(HANDLE hDriver, DWORD dwCode, void* pBuf, DWORD cb) {
    DWORD dwReturned = 0;
    return DeviceIoControl(hDriver, dwCode, pBuf, cb, pBuf, cb, &dwReturned, nullptr) != FALSE;
}

void Zero(void* p, int cb) {
    volatile BYTE* b = static_cast<volatile BYTE*>(p);
    for (int i = 0; i < cb; ++i) b[i] = 0;
}

void LookAtEntry(Touchscreen& t) {
    t.bKey = t.bSerialRead = t.bSerialMatch = t.bMonitorValue = false;
    t.szKeySerial[0] = 0;
    t.nMonitorValue = -1;
    // RykXyLdr's own check, which opens the key for reading and writing and
    // writes nothing while judging.
    t.verdict = JudgeRegistryEntry(t.szPath, t.szSerial, nullptr);
    // What this user may read of it, to show.
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, t.szPath, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return;
    t.bKey = true;
    char szBuf[32];
    DWORD cb = sizeof szBuf;
    if (RegQueryValueExA(hKey, "SerialNumber", nullptr, nullptr, reinterpret_cast<BYTE*>(szBuf), &cb) ==
        ERROR_SUCCESS) {
        t.bSerialRead = true;
        CopyBounded(t.szKeySerial, sizeof t.szKeySerial, szBuf, static_cast<int>(cb));
        t.bSerialMatch = Same(t.szKeySerial, t.szSerial);
    }
    DWORD dwMonitor = 0;
    cb = sizeof dwMonitor;
    DWORD dwType = 0;
    if (RegQueryValueExA(hKey, "MonitorNumber", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwMonitor), &cb) ==
            ERROR_SUCCESS &&
        cb == sizeof dwMonitor) {
        t.bMonitorValue = true;
        t.nMonitorValue = static_cast<LONG>(dwMonitor);
    }
    RegCloseKey(hKey);
}

// The device is opened as RykXyLdr opens it: with FILE_FLAG_DELETE_ON_CLOSE,
// Windows 95/98 unload a dynamically loaded driver when its last handle is
// closed, so a driver that only this look loaded is gone again afterwards.
// REQ_GET_TOUCH is never sent: it takes a packet from the driver's queue,
// and RykXyLdr's workers serialise it under a lock the probe cannot hold.
void LookAtDriver(Report& r) {
    HANDLE hDriver = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0,
                                 FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL, nullptr);
    r.bDriver = hDriver != INVALID_HANDLE_VALUE;
    r.dwDriverError = r.bDriver ? 0 : GetLastError();
    if (!r.bDriver) return;

    for (int i = 0; i < MAX_ENUM; ++i) {
        TouchscreenRecord rec;
        Zero(&rec, sizeof rec);
        rec.header.wTag1 = rec.header.wTag2 = REQ_TAG;
        rec.header.wTouchscreen = static_cast<WORD>(i);
        rec.iMonitor = REQ_ENUM_MONITOR;
        if (!Ask(hDriver, REQ_GET_TOUCHSCREEN, &rec, sizeof rec)) break;
        ++r.nTouchscreens;
        if (r.nListed == Report::MAX_LISTED) continue;
        Touchscreen& t = r.ts[r.nListed++];
        t.nId = rec.header.wTouchscreen;
        t.nMonitor = rec.iMonitor;
        CopyBounded(t.szSerial, sizeof t.szSerial, rec.szSerialNumber, sizeof rec.szSerialNumber);
        CopyBounded(t.szPath, sizeof t.szPath, rec.szRegistryPath, sizeof rec.szRegistryPath);
    }

    for (int i = 0; i < r.nListed; ++i) {
        Touchscreen& t = r.ts[i];
        LookAtEntry(t);

        Zero(&t.align, sizeof t.align);
        t.align.header.wTag1 = t.align.header.wTag2 = REQ_TAG;
        t.align.header.wTouchscreen = static_cast<WORD>(t.nId);
        t.align.ScrDx = 576;
        t.align.Dx = 3107;
        t.align.ScrDy = 432;
        t.align.Dy = 3012;
        t.bAlignment = Ask(hDriver, REQ_GET_ALIGNMENT, &t.align, sizeof t.align);

        QuickTouchRequest q;
        Zero(&q, sizeof q);
        q.header.wTag2 = REQ_TAG;
        q.header.wTouchscreen = static_cast<WORD>(t.nId);
        t.bQuick = Ask(hDriver, REQ_GET_QUICKTOUCH, &q, sizeof q);
        t.nQuickDx = t.bQuick ? q.iQuickTouchDx : 0;
        t.nQuickDy = t.bQuick ? q.iQuickTouchDy : 0;

        // RykXyLdr serves a touchscreen without a monitor, or whose registry
        // entry its check does not find to be its own, on monitor 0.
        t.nServedOn = (t.nMonitor == -1 || t.verdict != ENTRY_OWN) ? 0 : t.nMonitor;
    }
    CloseHandle(hDriver);
}

void Look(Report& r) {
    Zero(&r.vi, sizeof r.vi);
    r.vi.dwOSVersionInfoSize = sizeof r.vi;
    r.bVersion = GetVersionExA(&r.vi) != FALSE;
    r.kind = GetOsKind();
    HMODULE hKernel = GetModuleHandleA("KERNEL32");
    r.bOpenVxd = hKernel && GetProcAddress(hKernel, "OpenVxDHandle") != nullptr;
    r.pszKey = ServiceKeyFor(r.kind);
    ReadSettings(r);
    ReadProgramSettings(&r.program);
    r.app = LookForRykXyLdr();
    r.nTouchscreens = r.nListed = 0;
    LookAtDriver(r);
    BuildMonitorTable(r.kind, &r.monitors);
}

// ---------------------------------------------------------------- findings

enum FindingKind {
    F_NO_OPENVXD,
    F_NO_DRIVER,
    F_KEY,
    F_SETTINGS,
    F_TABLE,
    F_NO_MONITOR,
    F_BEYOND_TABLE,
    F_SERIAL,
    F_ENTRY_READ_ONLY,
    F_TOO_MANY,
    F_PROGRAM_KEY,
    F_PROGRAM_SETTING,
};

// RykXyLdr never starts the calibration program at its own start: only the
// rescan after the driver signals an addition does.
const char kCalibrationLater[] =
    " (it starts the calibration program for it only after the driver next signals an added touchscreen or "
    "monitor, not at its start)";

const char* FindingName(FindingKind k) {
    switch (k) {
    case F_NO_OPENVXD: return "no_openvxdhandle";
    case F_NO_DRIVER: return "no_driver";
    case F_KEY: return "service_key";
    case F_SETTINGS: return "missing_settings";
    case F_TABLE: return "no_monitor_table";
    case F_NO_MONITOR: return "no_monitor";
    case F_BEYOND_TABLE: return "monitor_beyond_table";
    case F_SERIAL: return "serial_mismatch";
    case F_ENTRY_READ_ONLY: return "entry_not_writable";
    case F_TOO_MANY: return "too_many_touchscreens";
    case F_PROGRAM_KEY: return "program_settings_key";
    case F_PROGRAM_SETTING: return "program_setting";
    }
    return "";
}

const char* TypeName(DWORD t) {
    switch (t) {
    case REG_DWORD: return "REG_DWORD";
    case REG_SZ: return "REG_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    default: return "another type";
    }
}

// The range of one of RykXyLdr's own settings: "0 or 100 to 5000".
void RangeText(Out& out, const ProgramSettingRule& rule) {
    if (rule.bZeroIsOff) out.Text("0 or ");
    out.Uint(rule.dwMin).Text(" to ").Uint(rule.dwMax);
}

// A setting of RykXyLdr's own that is in force as it stands: read and in
// range, and not turned off by another (a rejected HoldRadius turns a good
// HoldTimeMs off).
bool InEffect(const ProgramSettings& p, int i) {
    if (p.values[i].outcome != SETTING_OK) return false;
    if (i == PROGRAM_SETTING_HOLD_TIME) return p.dwHoldTimeMs == p.values[i].dwValue;
    return true;
}

// Writes each finding as one sentence, between begin(kind, touchscreen or
// -1) and end(). Returns the number of findings.
template <typename Begin, typename End>
int Findings(const Report& r, Out& out, Begin each, End end) {
    int n = 0;
    auto begin = [&](FindingKind k, LONG nTs) {
        if (n++) end();
        each(k, nTs);
    };
    if (!r.bOpenVxd) {
        begin(F_NO_OPENVXD, -1);
        out.Text("KERNEL32 does not export OpenVxDHandle, so RykXyLdr cannot hand its events to the driver and "
                 "ends at start with exit code 3; it needs Windows 95, 98 or Me.");
    }
    if (!r.bDriver) {
        begin(F_NO_DRIVER, -1);
        out.Text("The driver \\\\.\\Orvane.vxd cannot be opened (error ").Int(static_cast<LONG>(r.dwDriverError))
            .Text("), so RykXyLdr ends at start with exit code 1; install or repair the touchscreen driver.");
    }
    if (!r.bKeyWrite) {
        begin(F_KEY, -1);
        out.Text("The service key ").Text(r.pszKey).Text(" cannot be opened for reading and writing (error ")
            .Int(r.nKeyError)
            .Text("), so RykXyLdr keeps every setting at its default (and on Windows 95 ends at start, after its "
                  "administrator message); reinstall the driver or run RykXyLdr as an administrator.");
    } else {
        int nMissing = 0;
        for (const Setting& s : r.settings)
            if (!s.bFits) ++nMissing;
        if (nMissing) {
            begin(F_SETTINGS, -1);
            out.Text(nMissing == 1 ? "RykXyLdr shows \"Reg read error\" at every start for "
                                   : "RykXyLdr shows \"Reg read error\" at every start for each of ");
            int k = 0;
            for (const Setting& s : r.settings) {
                if (s.bFits) continue;
                out.Text(k == 0 ? "" : (k == nMissing - 1 ? " and " : ", ")).Text(s.pszName);
                ++k;
            }
            out.Text(", missing or too large in ").Text(r.pszKey)
                .Text(", and uses the default instead; restore the values from the driver's installation.");
        }
    }
    if (r.monitors.nFailure) {
        begin(F_TABLE, -1);
        TableFailure(out.Text("RykXyLdr cannot build its monitor table ("), r.monitors)
            .Text(") and ends at start with exit code 2, serving no touchscreen");
        if (r.monitors.nFailure == MONITORS_NO_SETTINGS)
            out.Text("; restore the driver's settings from its installation");
        else if (r.monitors.nFailure == MONITORS_NO_ACCESS)
            out.Text("; run RykXyLdr as an administrator");
        out.Text(".");
    }
    const ProgramSettings& ps = r.program;
    if (ps.lOpen != ERROR_SUCCESS && ps.lOpen != ERROR_FILE_NOT_FOUND) {
        begin(F_PROGRAM_KEY, -1);
        out.Text("RykXyLdr's own key HKEY_LOCAL_MACHINE\\").Text(PROGRAM_SETTINGS_KEY)
            .Text(" cannot be opened for reading (error ").Int(ps.lOpen)
            .Text("), so RykXyLdr takes every value in it as missing: press-and-hold and the trace are off; let "
                  "users read the key.");
    }
    for (int i = 0; i < PROGRAM_SETTINGS_COUNT; ++i) {
        const ProgramSettingRule& rule = ProgramSettingRules[i];
        const ProgramSettingValue& v = ps.values[i];
        if (v.outcome != SETTING_BAD_TYPE && v.outcome != SETTING_BAD_RANGE) continue;
        begin(F_PROGRAM_SETTING, -1);
        out.Text(rule.pszName).Text(" in HKEY_LOCAL_MACHINE\\").Text(PROGRAM_SETTINGS_KEY).Text(" is ");
        if (v.outcome == SETTING_BAD_TYPE)
            out.Text("a ").Text(TypeName(v.dwType)).Text(" of ").Int(static_cast<LONG>(v.cbData))
                .Text(" bytes, not a REG_DWORD of 4 bytes");
        else
            RangeText(out.Uint(v.dwValue).Text(", outside "), rule);
        out.Text(", so RykXyLdr rejects it: ").Text(rule.pszOff).Text("; make it a REG_DWORD from ");
        RangeText(out, rule);
        out.Text(", or delete it.");
    }
    for (int i = 0; i < r.nListed; ++i) {
        const Touchscreen& t = r.ts[i];
        if (t.nMonitor == -1) {
            begin(F_NO_MONITOR, t.nId);
            out.Text("Touchscreen ").Int(t.nId).Text(" (").Text(t.szSerial)
                .Text(") has no monitor: RykXyLdr serves it on monitor 0").Text(kCalibrationLater)
                .Text("; calibrate it, or give it one with RykXyCtl assign MONITOR ")
                .Int(t.nId).Text(".");
            continue;
        }
        if (t.verdict == ENTRY_NO_KEY && t.bKey) {
            begin(F_ENTRY_READ_ONLY, t.nId);
            out.Text("The registry entry of touchscreen ").Int(t.nId).Text(" (").Text(t.szPath)
                .Text(") can be read but not opened for writing by this user, so RykXyLdr, run by this user, "
                      "cannot check its serial ")
                .Text(t.szSerial).Text(": it serves it on monitor 0");
            if (t.nMonitor != 0) out.Text(" instead of monitor ").Int(t.nMonitor);
            out.Text(" and cannot write its default alignment; run RykXyLdr as an administrator, or let its user "
                     "write the entry.");
            continue;
        }
        if (t.verdict != ENTRY_OWN) {
            begin(F_SERIAL, t.nId);
            out.Text("The registry entry of touchscreen ").Int(t.nId).Text(" (").Text(t.szPath).Text(") ");
            if (t.bSerialRead) {
                out.Text("holds serial ").Text(t.szKeySerial).Text(" while the touchscreen reports ").Text(t.szSerial)
                    .Text(": RykXyLdr sets its MonitorNumber to -1 and serves it on monitor 0")
                    .Text(kCalibrationLater).Text("; calibrate it again.");
            } else {
                out.Text(t.bKey ? "has no SerialNumber of at most 31 characters" : "cannot be read")
                    .Text(", so RykXyLdr cannot check its serial ").Text(t.szSerial)
                    .Text(": it serves it on monitor 0").Text(kCalibrationLater)
                    .Text("; repair the entry (reinstall the driver) and calibrate it again.");
            }
            continue;
        }
        if (!r.monitors.nFailure && t.nMonitor >= r.monitors.nReported) {
            begin(F_BEYOND_TABLE, t.nId);
            out.Text("Touchscreen ").Int(t.nId).Text(" is assigned monitor ").Int(t.nMonitor).Text(", but the table has ")
                .Int(r.monitors.nReported)
                .Text(" monitor(s), so RykXyLdr cannot give the driver its rectangle; assign it with RykXyCtl assign "
                      "MONITOR ")
                .Int(t.nId).Text(", MONITOR from 0 to ").Int(r.monitors.nReported - 1).Text(".");
        }
    }
    if (r.nTouchscreens > kMaxServed) {
        begin(F_TOO_MANY, -1);
        out.Text("The driver reports ").Int(r.nTouchscreens).Text(" touchscreens; RykXyLdr serves at most ")
            .Int(kMaxServed).Text(", so the others stay without a worker; disconnect the ones not needed.");
    }
    if (n) end();
    return n;
}

// ---------------------------------------------------------------- text

void ValueText(Out& out, const Setting& s) {
    if (s.dwType == REG_DWORD && s.cbData == 4) {
        DWORD v = 0;
        BYTE* p = reinterpret_cast<BYTE*>(&v);
        for (int k = 0; k < 4; ++k) p[k] = s.abData[k];
        out.Int(static_cast<LONG>(v));
    } else if (s.dwType == REG_SZ) {
        char sz[65];
        CopyBounded(sz, sizeof sz, reinterpret_cast<const char*>(s.abData), static_cast<int>(s.cbData));
        out.Text("\"").Text(sz).Text("\"");
    } else {
        for (DWORD k = 0; k < s.cbData && k < sizeof s.abData; ++k) {
            char sz[4];
            wsprintfA(sz, k ? " %02x" : "%02x", static_cast<unsigned>(s.abData[k]));
            out.Text(sz);
        }
    }
}

const char* OutcomeName(SettingOutcome o) {
    switch (o) {
    case SETTING_OK: return "ok";
    case SETTING_BAD_TYPE: return "bad_type";
    case SETTING_BAD_RANGE: return "bad_range";
    default: return "missing";
    }
}

const char* VerdictName(RegistryEntryVerdict v) {
    switch (v) {
    case ENTRY_OWN: return "own";
    case ENTRY_NO_KEY: return "no_key";
    case ENTRY_NO_SERIAL: return "no_serial";
    default: return "other_device";
    }
}

void ProgramSettingsText(const ProgramSettings& p, Out& out) {
    out.Text("Program settings: HKEY_LOCAL_MACHINE\\").Text(PROGRAM_SETTINGS_KEY);
    if (p.lOpen == ERROR_FILE_NOT_FOUND) out.Text(" (no key: every value missing)");
    else if (p.lOpen != ERROR_SUCCESS) out.Text(" (cannot be read, error ").Int(p.lOpen).Text(": every value missing)");
    out.Line();
    for (int i = 0; i < PROGRAM_SETTINGS_COUNT; ++i) {
        const ProgramSettingRule& rule = ProgramSettingRules[i];
        const ProgramSettingValue& v = p.values[i];
        out.Text("  ").Text(rule.pszName).Text(": ");
        if (v.outcome == SETTING_MISSING) {
            out.Text("missing (the default)").Line();
            continue;
        }
        if (v.outcome == SETTING_BAD_TYPE) {
            out.Text("a ").Text(TypeName(v.dwType)).Text(" of ").Int(static_cast<LONG>(v.cbData))
                .Text(" bytes (rejected, not a REG_DWORD of 4 bytes: ").Text(rule.pszOff).Text(")").Line();
            continue;
        }
        out.Uint(v.dwValue).Text(" (REG_DWORD, 4 bytes; ");
        if (v.outcome == SETTING_BAD_RANGE) {
            RangeText(out.Text("rejected, outside "), rule);
            out.Text(": ").Text(rule.pszOff);
        } else if (InEffect(p, i)) {
            out.Text("in effect");
        } else {
            out.Text("not in effect: HoldRadius is rejected");
        }
        out.Text(")").Line();
    }
    out.Text("  in effect: press-and-hold ");
    if (p.dwHoldTimeMs) out.Text("after ").Int(static_cast<LONG>(p.dwHoldTimeMs)).Text(" ms within ")
                            .Int(static_cast<LONG>(p.dwHoldRadius)).Text(" pixels");
    else out.Text("off");
    out.Text(", trace ").Text(p.lTrace ? "on" : "off").Line();
}

void Human(const Report& r, Out& out, int* pnFindings) {
    out.Text("Windows: ");
    if (r.bVersion)
        out.Text("version ").Int(static_cast<LONG>(r.vi.dwMajorVersion)).Text(".")
            .Int(static_cast<LONG>(r.vi.dwMinorVersion)).Text(" build ")
            .Int(static_cast<LONG>(r.vi.dwBuildNumber & 0xFFFF)).Text(", platform ")
            .Int(static_cast<LONG>(r.vi.dwPlatformId)).Text(", ");
    else
        out.Text("no version information, ");
    out.Text(OsKindName(r.kind)).Line();
    out.Text("  monitors: ").Text(r.monitors.bGrid ? "the Windows 95 grid (NumXScreens x NumYScreens)"
                                                    : "the system's enumeration (EnumDisplayMonitors)")
        .Line();
    out.Text("  OpenVxDHandle: ").Text(r.bOpenVxd ? "exported by KERNEL32" : "missing").Line();

    out.Text("Service key: HKEY_LOCAL_MACHINE\\").Text(r.pszKey);
    if (!r.bKeyRead) out.Text(" (cannot be read, error ").Int(r.nKeyError).Text(")");
    else if (!r.bKeyWrite) out.Text(" (read only for this user, error ").Int(r.nKeyError).Text(")");
    out.Line();
    for (const Setting& s : r.settings) {
        out.Text("  ").Text(s.pszName).Text(": ");
        if (!s.bPresent) {
            out.Text("missing (RykXyLdr shows \"Reg read error\" and uses ").Int(static_cast<LONG>(s.dwUsed))
                .Text(")");
        } else {
            ValueText(out, s);
            out.Text(" (").Text(TypeName(s.dwType)).Text(", ").Int(static_cast<LONG>(s.cbData)).Text(" bytes");
            if (!s.bFits) out.Text("; larger than its ").Int(static_cast<LONG>(s.cbStorage))
                              .Text(" bytes: RykXyLdr shows \"Reg read error\"");
            else if (s.dwType != s.dwWantType)
                out.Text("; read as raw bytes, RykXyLdr uses ").Int(static_cast<LONG>(s.dwUsed));
            out.Text(")");
        }
        out.Line();
    }

    ProgramSettingsText(r.program, out);

    out.Text("RykXyLdr: ").Text(r.app.hWindow ? "runs (its window" : "not running (no window")
        .Text(r.app.bMutex ? ", its mutex exists)" : ", no mutex)").Line();

    out.Text("Driver: ");
    if (!r.bDriver) {
        out.Text("\\\\.\\Orvane.vxd cannot be opened (error ").Int(static_cast<LONG>(r.dwDriverError)).Text(")").Line();
    } else {
        out.Text("\\\\.\\Orvane.vxd opened, ").Int(r.nTouchscreens).Text(" touchscreen(s)").Line();
        for (int i = 0; i < r.nListed; ++i) {
            const Touchscreen& t = r.ts[i];
            out.Text("  touchscreen ").Int(t.nId).Text(": serial ").Text(t.szSerial).Text(", monitor ").Int(t.nMonitor)
                .Text(", registry ").Text(t.szPath).Line();
            out.Text("    registry entry: ");
            if (!t.bKey) out.Text("cannot be read");
            else if (!t.bSerialRead) out.Text("no readable SerialNumber");
            else out.Text("SerialNumber ").Text(t.szKeySerial).Text(t.bSerialMatch ? " (matches)" : " (DIFFERS)");
            if (t.bMonitorValue) out.Text(", MonitorNumber ").Int(t.nMonitorValue);
            else if (t.bKey) out.Text(", no MonitorNumber");
            if (t.bKey && t.verdict == ENTRY_NO_KEY) out.Text("; cannot be opened for writing by this user");
            out.Line();
            const AlignmentRequest& a = t.align;
            out.Text("    alignment").Text(t.bAlignment ? "" : " (refused; the values sent)").Text(": OffsetX ")
                .Int(a.OffsetX).Text(" ScrDx ").Int(a.ScrDx).Text(" Dx ").Int(a.Dx).Text(" OffsetY ").Int(a.OffsetY)
                .Text(" ScrDy ").Int(a.ScrDy).Text(" Dy ").Int(a.Dy).Text(" SwapXY ").Int(a.SwapXY).Line();
            out.Text("    quick touch: ");
            if (t.bQuick) out.Text("dx ").Int(t.nQuickDx).Text(" dy ").Int(t.nQuickDy);
            else out.Text("refused");
            out.Line();
            if (r.monitors.nFailure) out.Text("    RykXyLdr serves it nowhere: it ends at start without a monitor table");
            else out.Text("    RykXyLdr serves it on monitor ").Int(t.nServedOn);
            out.Line();
        }
        if (r.nListed < r.nTouchscreens)
            out.Text("  (").Int(r.nTouchscreens - r.nListed).Text(" more not listed)").Line();
    }

    const MonitorTable& m = r.monitors;
    out.Text("Monitor table: ");
    if (m.nFailure) TableFailure(out.Text("RykXyLdr cannot build it: "), m).Line();
    if (!m.nFailure) {
        if (m.bGrid)
            out.Int(m.nColumns).Text(" x ").Int(m.nRows).Text(" cells of the primary screen (").Int(m.cxScreen)
                .Text(" x ").Int(m.cyScreen).Text(")").Line();
        else
            out.Int(m.nReported).Text(" monitor(s) in the order Windows reports them").Line();
    }
    if (m.nCount < m.nReported) out.Text("  (the first ").Int(m.nCount).Text(" listed)").Line();
    for (int i = 0; i < m.nCount; ++i) {
        const RECT& rc = m.rc[i];
        out.Text("  monitor ").Int(i).Text(": (").Int(rc.left).Text(", ").Int(rc.top).Text(") to (").Int(rc.right)
            .Text(", ").Int(rc.bottom).Text(")");
        if (m.bPrimary[i]) out.Text(" primary");
        int k = 0;
        for (int j = 0; j < r.nListed; ++j) {
            if (r.ts[j].nServedOn != i) continue;
            out.Text(k++ ? ", " : ", touchscreen ").Int(r.ts[j].nId);
        }
        out.Line();
    }

    out.Text("Findings:").Line();
    const int n = Findings(
        r, out, [&](FindingKind, LONG) { out.Text("  - "); }, [&] { out.Line(); });
    if (!n) out.Text("  none").Line();
    *pnFindings = n;
}

void JsonKey(Out& out, const char* k) { out.Json(k).Text(":"); }

void Json(const Report& r, Out& out, int* pnFindings) {
    out.Text("{");
    JsonKey(out, "windows");
    out.Text("{");
    JsonKey(out, "version_known");
    out.JsonBool(r.bVersion).Text(",");
    JsonKey(out, "platform");
    out.Int(static_cast<LONG>(r.vi.dwPlatformId)).Text(",");
    JsonKey(out, "major");
    out.Int(static_cast<LONG>(r.vi.dwMajorVersion)).Text(",");
    JsonKey(out, "minor");
    out.Int(static_cast<LONG>(r.vi.dwMinorVersion)).Text(",");
    JsonKey(out, "build");
    out.Int(static_cast<LONG>(r.vi.dwBuildNumber & 0xFFFF)).Text(",");
    JsonKey(out, "os_kind");
    out.Int(r.kind).Text(",");
    JsonKey(out, "monitor_path");
    out.Json(r.monitors.bGrid ? "grid" : "enumeration").Text(",");
    JsonKey(out, "open_vxd_handle");
    out.JsonBool(r.bOpenVxd).Text("},");

    JsonKey(out, "service_key");
    out.Text("{");
    JsonKey(out, "path");
    out.Json(r.pszKey).Text(",");
    JsonKey(out, "readable");
    out.JsonBool(r.bKeyRead).Text(",");
    JsonKey(out, "writable");
    out.JsonBool(r.bKeyWrite).Text(",");
    JsonKey(out, "error");
    out.Int(r.nKeyError).Text(",");
    JsonKey(out, "settings");
    out.Text("[");
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        const Setting& s = r.settings[i];
        out.Text(i ? ",{" : "{");
        JsonKey(out, "name");
        out.Json(s.pszName).Text(",");
        JsonKey(out, "state");
        out.Json(!s.bPresent ? "missing" : (s.bFits ? "ok" : "too_large")).Text(",");
        if (s.bPresent) {
            JsonKey(out, "type");
            out.Json(TypeName(s.dwType)).Text(",");
            JsonKey(out, "size");
            out.Int(static_cast<LONG>(s.cbData)).Text(",");
        }
        JsonKey(out, "used");
        out.Int(static_cast<LONG>(s.dwUsed)).Text("}");
    }
    out.Text("]},");

    const ProgramSettings& ps = r.program;
    JsonKey(out, "program_settings");
    out.Text("{");
    JsonKey(out, "path");
    out.Json(PROGRAM_SETTINGS_KEY).Text(",");
    JsonKey(out, "readable");
    out.JsonBool(ps.lOpen == ERROR_SUCCESS).Text(",");
    JsonKey(out, "error");
    out.Int(ps.lOpen).Text(",");
    JsonKey(out, "values");
    out.Text("[");
    for (int i = 0; i < PROGRAM_SETTINGS_COUNT; ++i) {
        const ProgramSettingValue& v = ps.values[i];
        out.Text(i ? ",{" : "{");
        JsonKey(out, "name");
        out.Json(ProgramSettingRules[i].pszName).Text(",");
        JsonKey(out, "state");
        out.Json(OutcomeName(v.outcome)).Text(",");
        if (v.outcome != SETTING_MISSING) {
            JsonKey(out, "type");
            out.Json(TypeName(v.dwType)).Text(",");
            JsonKey(out, "size");
            out.Int(static_cast<LONG>(v.cbData)).Text(",");
        }
        if (v.outcome == SETTING_OK || v.outcome == SETTING_BAD_RANGE) {
            JsonKey(out, "value");
            out.Uint(v.dwValue).Text(",");
        }
        JsonKey(out, "in_effect");
        out.JsonBool(InEffect(ps, i)).Text("}");
    }
    out.Text("],");
    JsonKey(out, "trace");
    out.JsonBool(ps.lTrace != 0).Text(",");
    JsonKey(out, "hold_time_ms");
    out.Int(static_cast<LONG>(ps.dwHoldTimeMs)).Text(",");
    JsonKey(out, "hold_radius");
    out.Int(static_cast<LONG>(ps.dwHoldRadius)).Text("},");

    JsonKey(out, "rykxyldr");
    out.Text("{");
    JsonKey(out, "window");
    out.JsonBool(r.app.hWindow != nullptr).Text(",");
    JsonKey(out, "mutex");
    out.JsonBool(r.app.bMutex).Text("},");

    JsonKey(out, "driver");
    out.Text("{");
    JsonKey(out, "opened");
    out.JsonBool(r.bDriver).Text(",");
    JsonKey(out, "error");
    out.Int(static_cast<LONG>(r.dwDriverError)).Text(",");
    JsonKey(out, "count");
    out.Int(r.nTouchscreens).Text(",");
    JsonKey(out, "touchscreens");
    out.Text("[");
    for (int i = 0; i < r.nListed; ++i) {
        const Touchscreen& t = r.ts[i];
        out.Text(i ? ",{" : "{");
        JsonKey(out, "id");
        out.Int(t.nId).Text(",");
        JsonKey(out, "serial");
        out.Json(t.szSerial).Text(",");
        JsonKey(out, "monitor");
        out.Int(t.nMonitor).Text(",");
        JsonKey(out, "registry_path");
        out.Json(t.szPath).Text(",");
        JsonKey(out, "registry");
        out.Text("{");
        JsonKey(out, "readable");
        out.JsonBool(t.bKey).Text(",");
        JsonKey(out, "serial");
        if (t.bSerialRead) out.Json(t.szKeySerial);
        else out.Text("null");
        out.Text(",");
        JsonKey(out, "serial_match");
        out.JsonBool(t.bSerialMatch).Text(",");
        JsonKey(out, "check");
        out.Json(VerdictName(t.verdict)).Text(",");
        JsonKey(out, "monitor_number");
        if (t.bMonitorValue) out.Int(t.nMonitorValue);
        else out.Text("null");
        out.Text("},");
        JsonKey(out, "alignment");
        out.Text("{");
        JsonKey(out, "answered");
        out.JsonBool(t.bAlignment).Text(",");
        const AlignmentRequest& a = t.align;
        const char* names[7] = {"OffsetX", "ScrDx", "Dx", "OffsetY", "ScrDy", "Dy", "SwapXY"};
        const LONG values[7] = {a.OffsetX, a.ScrDx, a.Dx, a.OffsetY, a.ScrDy, a.Dy, a.SwapXY};
        for (int k = 0; k < 7; ++k) {
            JsonKey(out, names[k]);
            out.Int(values[k]).Text(k < 6 ? "," : "},");
        }
        JsonKey(out, "quick_touch");
        if (t.bQuick) {
            out.Text("{");
            JsonKey(out, "dx");
            out.Int(t.nQuickDx).Text(",");
            JsonKey(out, "dy");
            out.Int(t.nQuickDy).Text("},");
        } else {
            out.Text("null,");
        }
        JsonKey(out, "served_on");
        if (r.monitors.nFailure) out.Text("null}");
        else out.Int(t.nServedOn).Text("}");
    }
    out.Text("]},");

    const MonitorTable& m = r.monitors;
    JsonKey(out, "monitors");
    out.Text("{");
    JsonKey(out, "grid");
    out.JsonBool(m.bGrid).Text(",");
    JsonKey(out, "failure");
    if (m.nFailure) {
        out.Text("\"").Escaping(true);
        TableFailure(out, m).Escaping(false).Text("\"");
    } else {
        out.Text("null");
    }
    out.Text(",");
    if (m.bGrid && !m.nFailure) {
        JsonKey(out, "columns");
        out.Int(m.nColumns).Text(",");
        JsonKey(out, "rows");
        out.Int(m.nRows).Text(",");
    }
    JsonKey(out, "table");
    out.Text("[");
    for (int i = 0; i < m.nCount; ++i) {
        const RECT& rc = m.rc[i];
        out.Text(i ? ",{" : "{");
        JsonKey(out, "number");
        out.Int(i).Text(",");
        JsonKey(out, "left");
        out.Int(rc.left).Text(",");
        JsonKey(out, "top");
        out.Int(rc.top).Text(",");
        JsonKey(out, "right");
        out.Int(rc.right).Text(",");
        JsonKey(out, "bottom");
        out.Int(rc.bottom).Text(",");
        JsonKey(out, "primary");
        out.JsonBool(m.bPrimary[i]).Text(",");
        JsonKey(out, "touchscreens");
        out.Text("[");
        int k = 0;
        for (int j = 0; j < r.nListed; ++j)
            if (r.ts[j].nServedOn == i) out.Text(k++ ? "," : "").Int(r.ts[j].nId);
        out.Text("]}");
    }
    out.Text("],");
    JsonKey(out, "failure_code");
    out.Int(m.nFailure).Text("},");

    // Each finding as {"kind", "touchscreen", "text"}; the sentence is
    // escaped as it is written.
    JsonKey(out, "findings");
    out.Text("[");
    int n = 0;
    Findings(
        r, out,
        [&](FindingKind k, LONG nTs) {
            out.Text(n++ ? ",{" : "{");
            JsonKey(out, "kind");
            out.Json(FindingName(k)).Text(",");
            JsonKey(out, "touchscreen");
            if (nTs >= 0) out.Int(nTs);
            else out.Text("null");
            out.Text(",");
            JsonKey(out, "text");
            out.Text("\"").Escaping(true);
        },
        [&] { out.Escaping(false).Text("\"}"); });
    out.Text("],");
    JsonKey(out, "exit_code");
    out.Int(!r.bDriver ? EXIT_CANNOT_LOOK : (n ? EXIT_FINDINGS : EXIT_CLEAN)).Text("}").Line();
    *pnFindings = n;
}

}  // namespace

int RykXyProbeMain() {
    Args args;
    SplitCommandLine(GetCommandLineA(), &args);
    bool bJson = false;
    for (int i = 1; i < args.argc; ++i) {
        if (Same(args.argv[i], "--json")) {
            bJson = true;
        } else if (Same(args.argv[i], "--help") || Same(args.argv[i], "-h") || Same(args.argv[i], "/?")) {
            Out out(STD_OUTPUT_HANDLE);
            out.Text("Usage: RykXyProbe [--json]\r\n"
                     "Reports what stands in the way of RykXyLdr on this machine, without changing anything:\r\n"
                     "Windows and the path RykXyLdr takes, the driver's settings, whether RykXyLdr runs, the\r\n"
                     "touchscreens, the monitor table, and findings with what to do about each.\r\n"
                     "  --json  the same as one JSON object, for support scripts\r\n"
                     "Exit codes: 0 no finding; 1 findings; 2 could not look (no driver); 64 usage error.\r\n");
            return EXIT_CLEAN;
        } else {
            Out err(STD_ERROR_HANDLE);
            err.Text("RykXyProbe: unknown argument \"").Text(args.argv[i]).Text("\"").Line()
                .Text("Try RykXyProbe --help.").Line();
            return EXIT_USAGE;
        }
    }
    if (args.bTooLong) {
        Out err(STD_ERROR_HANDLE);
        err.Text("RykXyProbe: the command line is too long").Line();
        return EXIT_USAGE;
    }

    Report r;
    Look(r);
    Out out(STD_OUTPUT_HANDLE);
    int nFindings = 0;
    if (bJson) Json(r, out, &nFindings);
    else Human(r, out, &nFindings);
    if (!r.bDriver) return EXIT_CANNOT_LOOK;
    return nFindings ? EXIT_FINDINGS : EXIT_CLEAN;
}
