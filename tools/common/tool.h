// What RykXyCtl and RykXyProbe share: text without the C runtime, buffered
// output to the standard handles, the command line split into words, and
// read-only looks at the machine as RykXyLdr sees it (its window and mutex,
// the driver's service key, the monitor table).
//
// Everything here uses the Win32 API only: wsprintfA for numbers, WriteFile
// for output, no heap. Nothing here writes to the registry or the driver.
#pragma once

#include "platform/win32.h"
#include "settings/settings.h"

namespace ryktool {

// ---------------------------------------------------------------- text
int Length(const char* s);
bool Same(const char* a, const char* b);  // exact, byte by byte
// Copies at most nMax bytes of pszSrc, stopping at a NUL, into pszDst of
// cbDst bytes; the result always ends with a NUL.
void CopyBounded(char* pszDst, int cbDst, const char* pszSrc, int nMax);
// Decimal digits only, at most dwMax; false for anything else.
bool ParseNumber(const char* s, DWORD dwMax, DWORD* pdwOut);

// ---------------------------------------------------------------- output
// Text gathered in a small buffer and written with WriteFile to a standard
// handle. Lines end with CR LF, as on every Windows console.
class Out {
public:
    explicit Out(DWORD nStdHandle);
    ~Out();
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;

    Out& Text(const char* s);
    Out& Bytes(const char* s, int n);
    Out& Int(LONG v);
    Out& Uint(DWORD v);
    Out& Hex(DWORD v);  // 0x%08lX
    Out& Line();        // CR LF
    // A JSON string literal: quoted, with ", \ and control characters
    // escaped and bytes above 0x7F written as \u00XX (Latin-1).
    Out& Json(const char* s);
    Out& JsonBool(bool b);
    // While on, every byte written is escaped as inside a JSON string.
    Out& Escaping(bool bOn);
    void Flush();

private:
    void Put(char c);
    void PutEscaped(unsigned char c);
    HANDLE hOut_;
    bool bEscape_;
    int nUsed_;
    char buf_[1024];
};

// ---------------------------------------------------------------- command line
// The command line split by the program's own splitter (::SplitCommandLine,
// platform/text.h), as the C runtime splits it for main. argv[0] is the
// program. A line of STORE characters or more, or more than MAX_ARGS words,
// is too long.
struct Args {
    enum { MAX_ARGS = 32, STORE = 2048 };
    int argc;
    char* argv[MAX_ARGS];
    bool bTooLong;  // words or text beyond the limits were dropped
    char store[STORE];
};
void SplitCommandLine(const char* pszCommandLine, Args* pArgs);

// ---------------------------------------------------------------- RykXyLdr
inline constexpr char kAppWindowClass[] = "RykXyLdrAppClass";
inline constexpr char kAppMutex[] = "RykXyLdrAppMutex";
inline constexpr char kPlexorMessage[] = "RykPlexor4683";
inline constexpr char kQuavelMessage[] = "Quavel4683";
// RykXyLdr serves at most this many touchscreens (one worker each).
inline constexpr int kMaxServed = 33;

struct Presence {
    HWND hWindow;  // its hidden window, or 0
    bool bMutex;   // its single-instance mutex exists
};
// Looks without creating anything: FindWindowA and OpenMutexA.
Presence LookForRykXyLdr();

// The driver's service key for this kind of Windows, as RykXyLdr chooses it.
const char* ServiceKeyFor(OsKind kind);
const char* OsKindName(OsKind kind);

// ---------------------------------------------------------------- monitors
// The monitor table as RykXyLdr would build it at start, by its own rules
// (OpenKeyReadWrite, QueryStoredValue, GridShape): the Windows 95 grid from
// "NumXScreens" and "NumYScreens", or the system's enumeration.
struct MonitorTable {
    enum { MAX = 32 };
    bool bGrid;         // Windows 95 path
    int nFailure;       // 0, or RykXyLdr's failure code of the build (MONITORS_..., text in pszFailure)
    const char* pszFailure;
    LONG lSettingsError;  // MONITORS_NO_SETTINGS: the error RykXyLdr's message names
    int nCount;         // monitors kept here (at most MAX)
    int nReported;      // monitors in RykXyLdr's table: all the system reports, or all grid cells
    LONG nColumns, nRows, cxScreen, cyScreen;  // grid only
    RECT rc[MAX];
    bool bPrimary[MAX];
};
void BuildMonitorTable(OsKind kind, MonitorTable* pTable);
// Why the table cannot be built, with the message RykXyLdr shows then.
Out& TableFailure(Out& out, const MonitorTable& t);

// A top-level window that is never shown, of a class of its own registered
// here: RykXyLdr's broadcasts and answers reach top-level windows only. 0
// when it cannot be made (GetLastError tells why).
HWND CreateAnswerWindow(WNDPROC pfnProc, const char* pszClass, const char* pszTitle);

}  // namespace ryktool
