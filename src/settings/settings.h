// The settings store: which Windows the program runs on, where the driver's
// service key lives on it, small objects that name one key under
// HKEY_LOCAL_MACHINE, tables of named registry values, and the driver's
// global settings read from its service key.
//
// Everything here is used by the main thread only and has no lock.
#pragma once

#include "platform/win32.h"

// ---------------------------------------------------------------- operating system

// The kind of Windows the program runs on.
typedef LONG OsKind;

inline constexpr OsKind OS_KIND_OTHER = 0;    // a later NT, another platform, or no version information
inline constexpr OsKind OS_KIND_NT40 = 40;    // Windows NT 4.0 and earlier
inline constexpr OsKind OS_KIND_95 = 95;      // Windows 95 (4.0 and below)
inline constexpr OsKind OS_KIND_98 = 98;      // Windows 98, Me (above 4.0 on the same platform)
inline constexpr OsKind OS_KIND_2000 = 2000;  // Windows NT with major version 5: 2000, XP

// Asks GetVersionExA; OS_KIND_OTHER when it fails.
OsKind GetOsKind();

// The driver's service key under HKEY_LOCAL_MACHINE, as SelectServiceKey
// chose it; empty before the first choice.
extern CHAR gszServiceKey[256];

// Copies the service key's path for this Windows into gszServiceKey:
//   NT 4.0             "SYSTEM\CurrentControlSet\Services\Orvane"
//   2000, XP           "SYSTEM\CurrentControlSet\Services\RykTouchscreen"
//   95, 98, Me, other  "SYSTEM\CurrentControlSet\Services\Class\RykTouchscreen"
void SelectServiceKey();

// ---------------------------------------------------------------- value tables

// One row of a table of named registry values. The row's storage holds its
// default until a read replaces it. A table ends with a row whose name is
// the empty text.
struct RegValueEntry {
    BOOL bLoaded;     // 1 after the value was read; 0 when the last read failed or none was made
    LPCSTR pszName;   // value name; "" ends the table
    DWORD dwType;     // the value's registry type (REG_DWORD, REG_BINARY, REG_SZ)
    DWORD cbData;     // size of the storage in bytes
    LPVOID pData;     // the storage
};

// ---------------------------------------------------------------- registry keys

// Opens a sub-key of HKEY_LOCAL_MACHINE as the program opens every key: for
// reading and writing (KEY_QUERY_VALUE | KEY_SET_VALUE). Opening writes
// nothing. Returns RegOpenKeyExA's result; *phKey is the key on success.
LONG OpenKeyReadWrite(LPCSTR pszPath, HKEY* phKey);

// Reads one named value of an open key into pData, cbStorage bytes, as
// ReadValues reads each row: the registry's type is taken and not looked at,
// and a value that fits the storage replaces its leading bytes. Returns
// RegQueryValueExA's result: ERROR_SUCCESS when the value counts as read,
// ERROR_MORE_DATA when it is larger than the storage. pdwType and pcbData
// (may be null) receive the value's type and the bytes it took. Shows nothing.
LONG QueryStoredValue(HKEY hKey, LPCSTR pszName, LPVOID pData, DWORD cbStorage, LPDWORD pdwType, LPDWORD pcbData);

// One sub-key of HKEY_LOCAL_MACHINE. It holds no open handle: every
// operation opens the key for reading and writing, works and closes it.
class RegistryKey {
public:
    // Keeps at most 255 characters of pszPath and test-opens the key for
    // reading and writing; the outcome of the open is the first LastError.
    explicit RegistryKey(LPCSTR pszPath);

    // Win32 error of the last registry operation recorded here; 0 = success.
    LONG LastError() const;

    // Reads every row of pTable, in table order, into the row's storage.
    // Returns the number of values read. A row whose value is missing or
    // larger than its storage shows "Reg read error" and keeps what its
    // storage held. When the key itself cannot be opened nothing is read,
    // no row is touched and nothing is shown.
    LONG ReadValues(RegValueEntry* pTable);

    CHAR szPath[256];  // always NUL-terminated in its last byte
    LONG nLastError;
};

// ---------------------------------------------------------------- the driver's settings

// The storage of the rows of DriverSettings, each with its default. The
// program itself uses only the grid of the Windows 95 monitor table
// (gdwNumXScreens columns, gdwNumYScreens rows); the rest is the driver's.
extern DWORD gdwMouseMode;             // "MouseMode", 6
extern DWORD gdwBeepFlag;              // "BeepFlag", 1
extern DWORD gdwBeepTime;              // "BeepTime", 20
extern DWORD gdwBeepFreq;              // "BeepFreq", 4000
extern DWORD gdwDefaultDragDelay;      // "DefaultDragDelay", 200
extern DWORD gdwMinDragDelay;          // "MinDragDelay", 0
extern DWORD gdwMaxDragDelay;          // "MaxDragDelay", 1000
extern DWORD gdwNumberOfTouchscreens;  // "NumberOfTouchscreens", 1
extern DWORD gdwNumXScreens;           // "NumXScreens", 1
extern DWORD gdwNumYScreens;           // "NumYScreens", 1
extern BYTE gabCplLanguage[2];         // "CplLanguage" (REG_BINARY), 0

// The driver's global settings: eleven rows and the closing row.
inline constexpr int DRIVER_SETTINGS_ROWS = 11;
extern RegValueEntry DriverSettings[DRIVER_SETTINGS_ROWS + 1];

// The RegistryKey of the driver's service key made last, by
// LoadDriverSettings or by a Windows 95 build of the monitor table; none
// before. Whoever makes a new one releases the one it replaces.
extern RegistryKey* gpServiceKey;

// Reads the driver's global settings: 0 when they were read, 4 when the
// service key cannot be opened for reading and writing (or its RegistryKey
// cannot be allocated), 5 when no value could be read.
int LoadDriverSettings();
