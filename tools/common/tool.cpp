#include "tool.h"

#include "monitors/monitor_table.h"
#include "platform/text.h"

namespace ryktool {

// ---------------------------------------------------------------- text

int Length(const char* s) {
    int n = 0;
    while (s[n]) ++n;
    return n;
}

bool Same(const char* a, const char* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void CopyBounded(char* pszDst, int cbDst, const char* pszSrc, int nMax) {
    int i = 0;
    for (; i < cbDst - 1 && i < nMax && pszSrc[i]; ++i) pszDst[i] = pszSrc[i];
    pszDst[i] = 0;
}

bool ParseNumber(const char* s, DWORD dwMax, DWORD* pdwOut) {
    if (!*s) return false;
    DWORD v = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        const DWORD d = static_cast<DWORD>(*s - '0');
        if (v > (dwMax - d) / 10) return false;
        v = v * 10 + d;
    }
    *pdwOut = v;
    return true;
}

// ---------------------------------------------------------------- output

Out::Out(DWORD nStdHandle) : hOut_(GetStdHandle(nStdHandle)), bEscape_(false), nUsed_(0) {}

Out::~Out() { Flush(); }

void Out::Flush() {
    if (nUsed_ > 0 && hOut_ != nullptr && hOut_ != INVALID_HANDLE_VALUE) {
        DWORD dwWritten = 0;
        WriteFile(hOut_, buf_, static_cast<DWORD>(nUsed_), &dwWritten, nullptr);
    }
    nUsed_ = 0;
}

void Out::Put(char c) {
    if (nUsed_ == static_cast<int>(sizeof buf_)) Flush();
    buf_[nUsed_++] = c;
}

void Out::PutEscaped(unsigned char c) {
    if (c == '"' || c == '\\') {
        Put('\\');
        Put(static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7F) {
        char sz[8];
        wsprintfA(sz, "\\u%04x", static_cast<unsigned>(c));
        for (int i = 0; sz[i]; ++i) Put(sz[i]);
    } else {
        Put(static_cast<char>(c));
    }
}

Out& Out::Bytes(const char* s, int n) {
    for (int i = 0; i < n; ++i) {
        if (bEscape_) PutEscaped(static_cast<unsigned char>(s[i]));
        else Put(s[i]);
    }
    return *this;
}

Out& Out::Escaping(bool bOn) {
    bEscape_ = bOn;
    return *this;
}

Out& Out::Text(const char* s) { return Bytes(s, Length(s)); }

Out& Out::Int(LONG v) {
    char sz[16];
    wsprintfA(sz, "%ld", v);
    return Text(sz);
}

Out& Out::Uint(DWORD v) {
    char sz[16];
    wsprintfA(sz, "%lu", v);
    return Text(sz);
}

Out& Out::Hex(DWORD v) {
    char sz[16];
    wsprintfA(sz, "0x%08lX", v);
    return Text(sz);
}

Out& Out::Line() { return Bytes("\r\n", 2); }

Out& Out::Json(const char* s) {
    const bool bWas = bEscape_;
    bEscape_ = false;
    Put('"');
    for (; *s; ++s) PutEscaped(static_cast<unsigned char>(*s));
    Put('"');
    bEscape_ = bWas;
    return *this;
}

Out& Out::JsonBool(bool b) { return Text(b ? "true" : "false"); }

// ---------------------------------------------------------------- command line

void SplitCommandLine(const char* pszCommandLine, Args* a) {
    // The program's own splitter, the one its console start-up gives main:
    // one set of rules for every program.
    a->argc = 0;
    a->bTooLong = Length(pszCommandLine) + 1 > Args::STORE;
    if (a->bTooLong) return;
    const int n = ::SplitCommandLine(pszCommandLine, a->store, a->argv, Args::MAX_ARGS);
    a->bTooLong = n > Args::MAX_ARGS;
    a->argc = n < Args::MAX_ARGS ? n : Args::MAX_ARGS;
}

// ---------------------------------------------------------------- RykXyLdr

Presence LookForRykXyLdr() {
    Presence r;
    r.hWindow = FindWindowA(kAppWindowClass, nullptr);
    HANDLE hMutex = OpenMutexA(SYNCHRONIZE, FALSE, kAppMutex);
    r.bMutex = hMutex != nullptr;
    if (hMutex) CloseHandle(hMutex);
    return r;
}

const char* ServiceKeyFor(OsKind kind) {
    switch (kind) {
    case OS_KIND_NT40: return "SYSTEM\\CurrentControlSet\\Services\\Orvane";
    case OS_KIND_2000: return "SYSTEM\\CurrentControlSet\\Services\\RykTouchscreen";
    default: return "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";
    }
}

const char* OsKindName(OsKind kind) {
    switch (kind) {
    case OS_KIND_95: return "Windows 95";
    case OS_KIND_98: return "Windows 98 or Me";
    case OS_KIND_NT40: return "Windows NT 4.0 or earlier";
    case OS_KIND_2000: return "Windows 2000 or XP";
    default: return "a later or unknown Windows";
    }
}

// ---------------------------------------------------------------- monitors

namespace {

typedef BOOL(WINAPI* GetMonitorInfoProc)(HMONITOR, LPMONITORINFO);
typedef BOOL(WINAPI* EnumDisplayMonitorsProc)(HDC, LPCRECT, MONITORENUMPROC, LPARAM);

struct EnumState {
    MonitorTable* pTable;
    GetMonitorInfoProc pfnGetMonitorInfo;
};

BOOL CALLBACK CollectMonitor(HMONITOR hMonitor, HDC, LPRECT, LPARAM dwData) {
    EnumState* st = reinterpret_cast<EnumState*>(dwData);
    MonitorTable* t = st->pTable;
    MONITORINFO mi;
    mi.cbSize = sizeof mi;
    mi.rcMonitor.left = mi.rcMonitor.top = mi.rcMonitor.right = mi.rcMonitor.bottom = 0;
    mi.dwFlags = 0;
    st->pfnGetMonitorInfo(hMonitor, &mi);
    if (t->nCount < MonitorTable::MAX) {
        t->rc[t->nCount] = mi.rcMonitor;
        t->bPrimary[t->nCount] = (mi.dwFlags & MONITORINFOF_PRIMARY) != 0;
        ++t->nCount;
    }
    ++t->nReported;
    return TRUE;
}

// The Windows 95 build's read of the driver's settings, as RykXyLdr's
// RegistryKey::ReadValues reads them but into storage of its own: every row
// in turn, each into a copy that holds its default. The grid's two counts
// come out in *pdwColumns and *pdwRows; the result is the number of rows
// read, *plError the error of the last row that was not.
LONG ReadGridSettings(HKEY hKey, DWORD* pdwColumns, DWORD* pdwRows, LONG* plError) {
    LONG nRead = 0;
    for (int i = 0; i < DRIVER_SETTINGS_ROWS; ++i) {
        const RegValueEntry& row = DriverSettings[i];
        DWORD dwScratch = 0;
        DWORD* pdw = &dwScratch;
        if (Same(row.pszName, "NumXScreens")) pdw = pdwColumns;
        else if (Same(row.pszName, "NumYScreens")) pdw = pdwRows;
        const DWORD dwBefore = *pdw;
        const DWORD cbStorage = row.cbData < sizeof(DWORD) ? row.cbData : sizeof(DWORD);
        const LONG lQuery = QueryStoredValue(hKey, row.pszName, pdw, cbStorage, nullptr, nullptr);
        if (lQuery == ERROR_SUCCESS) {
            ++nRead;
        } else {
            *pdw = dwBefore;  // what a failed read left is not the value
            *plError = lQuery;
        }
    }
    return nRead;
}

}  // namespace

void BuildMonitorTable(OsKind kind, MonitorTable* t) {
    t->bGrid = kind == OS_KIND_95;
    t->nFailure = 0;
    t->pszFailure = "";
    t->lSettingsError = 0;
    t->nCount = t->nReported = 0;
    t->nColumns = t->nRows = t->cxScreen = t->cyScreen = 0;

    if (t->bGrid) {
        // Opened as RykXyLdr opens it, for reading and writing; opening
        // writes nothing.
        HKEY hKey = nullptr;
        if (OpenKeyReadWrite(ServiceKeyFor(kind), &hKey) != ERROR_SUCCESS) {
            t->nFailure = MONITORS_NO_ACCESS;
            t->pszFailure = "the driver's service key cannot be opened for reading and writing";
            return;
        }
        DWORD dwColumns = 1;
        DWORD dwRows = 1;
        const LONG nRead = ReadGridSettings(hKey, &dwColumns, &dwRows, &t->lSettingsError);
        RegCloseKey(hKey);
        if (nRead == 0) {
            t->nFailure = MONITORS_NO_SETTINGS;
            t->pszFailure = "not one of the driver's settings can be read from its service key";
            return;
        }
        GridShape(dwColumns, dwRows, &t->nColumns, &t->nRows);
        t->cxScreen = GetSystemMetrics(SM_CXSCREEN);
        t->cyScreen = GetSystemMetrics(SM_CYSCREEN);
        const LONG w = t->cxScreen / t->nColumns;
        const LONG h = t->cyScreen / t->nRows;
        for (LONG r = 0; r < t->nRows; ++r) {
            for (LONG k = 0; k < t->nColumns; ++k) {
                ++t->nReported;
                if (t->nCount == MonitorTable::MAX) continue;
                RECT& rc = t->rc[t->nCount];
                rc.left = k * w;
                rc.top = r * h;
                rc.right = (k + 1) * w;
                rc.bottom = (r + 1) * h;
                t->bPrimary[t->nCount] = false;
                ++t->nCount;
            }
        }
        return;
    }

    HMODULE hUser = GetModuleHandleA("USER32");
    if (!hUser) {
        t->nFailure = MONITORS_NO_USER32;
        t->pszFailure = "USER32 is not loaded";
        return;
    }
    EnumState st;
    st.pTable = t;
    st.pfnGetMonitorInfo = reinterpret_cast<GetMonitorInfoProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(hUser, "GetMonitorInfoA")));
    EnumDisplayMonitorsProc pfnEnum =
        reinterpret_cast<EnumDisplayMonitorsProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(hUser, "EnumDisplayMonitors")));
    if (!st.pfnGetMonitorInfo) {
        t->nFailure = MONITORS_NO_GETMONITORINFO;
        t->pszFailure = "USER32 does not export GetMonitorInfoA";
        return;
    }
    if (!pfnEnum) {
        t->nFailure = MONITORS_NO_ENUMDISPLAYMONITORS;
        t->pszFailure = "USER32 does not export EnumDisplayMonitors";
        return;
    }
    pfnEnum(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&st));
}

Out& TableFailure(Out& out, const MonitorTable& t) {
    out.Text(t.pszFailure);
    if (t.nFailure == MONITORS_NO_ACCESS)
        out.Text("; RykXyLdr shows \"You must have administrator privileges to run Plexor.\"");
    else if (t.nFailure == MONITORS_NO_SETTINGS)
        out.Text("; RykXyLdr shows \"Error number ").Int(t.lSettingsError)
            .Text(" occurred while reading the registry\"");
    return out;
}

HWND CreateAnswerWindow(WNDPROC pfnProc, const char* pszClass, const char* pszTitle) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = pfnProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = pszClass;
    RegisterClassA(&wc);
    return CreateWindowExA(0, pszClass, pszTitle, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                           nullptr);
}

}  // namespace ryktool
