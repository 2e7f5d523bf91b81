#include "settings/settings.h"

#include <new>

namespace {

// Every key is opened for reading and writing: a key that the user may read
// but not write (an ordinary user under Windows NT) fails like a missing one.
constexpr REGSAM kKeyAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

const char kKeyNt4[] = "SYSTEM\\CurrentControlSet\\Services\\Orvane";
const char kKey2000[] = "SYSTEM\\CurrentControlSet\\Services\\RykTouchscreen";
const char kKeyClass[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen";

// Copies at most cbDest - 1 characters and always terminates the copy.
void CopyText(CHAR* pszDest, size_t cbDest, LPCSTR pszSrc) {
    size_t i = 0;
    if (pszSrc != nullptr)
        for (; i + 1 < cbDest && pszSrc[i] != '\0'; ++i) pszDest[i] = pszSrc[i];
    for (; i < cbDest; ++i) pszDest[i] = '\0';
}

}  // namespace

// ---------------------------------------------------------------- operating system

CHAR gszServiceKey[256] = "";

OsKind GetOsKind() {
    OSVERSIONINFOA vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
    if (!GetVersionExA(&vi)) return OS_KIND_OTHER;

    // The version fields are DWORDs and are compared as such.
    const DWORD dwMajor = vi.dwMajorVersion;
    const DWORD dwMinor = vi.dwMinorVersion;
    switch (vi.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        if (dwMajor > 4u || (dwMajor == 4u && dwMinor > 0u)) return OS_KIND_98;
        return OS_KIND_95;
    case VER_PLATFORM_WIN32_NT:
        if (dwMajor <= 4u) return OS_KIND_NT40;
        if (dwMajor == 5u) return OS_KIND_2000;
        return OS_KIND_OTHER;
    default:
        return OS_KIND_OTHER;
    }
}

void SelectServiceKey() {
    LPCSTR pszKey = kKeyClass;
    switch (GetOsKind()) {
    case OS_KIND_NT40: pszKey = kKeyNt4; break;
    case OS_KIND_2000: pszKey = kKey2000; break;
    default: break;  // 95, 98 and anything unknown
    }
    CopyText(gszServiceKey, sizeof gszServiceKey, pszKey);
}

// ---------------------------------------------------------------- registry keys

LONG OpenKeyReadWrite(LPCSTR pszPath, HKEY* phKey) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0, kKeyAccess, phKey);
}

LONG QueryStoredValue(HKEY hKey, LPCSTR pszName, LPVOID pData, DWORD cbStorage, LPDWORD pdwType, LPDWORD pcbData) {
    DWORD cbData = cbStorage;
    DWORD dwType = 0;
    const LONG lQuery = RegQueryValueExA(hKey, pszName, nullptr, &dwType, static_cast<LPBYTE>(pData), &cbData);
    if (pdwType != nullptr) *pdwType = dwType;
    if (pcbData != nullptr) *pcbData = cbData;
    return lQuery;
}

RegistryKey::RegistryKey(LPCSTR pszPath) : szPath(), nLastError(0) {
    CopyText(szPath, sizeof szPath, pszPath);

    HKEY hKey = nullptr;
    nLastError = OpenKeyReadWrite(szPath, &hKey);
    if (nLastError == ERROR_SUCCESS) RegCloseKey(hKey);
}

LONG RegistryKey::LastError() const { return nLastError; }

LONG RegistryKey::ReadValues(RegValueEntry* pTable) {
    HKEY hKey = nullptr;
    const LONG lOpen = OpenKeyReadWrite(szPath, &hKey);
    if (lOpen != ERROR_SUCCESS) {
        nLastError = lOpen;
        return 0;
    }

    nLastError = 0;
    LONG nRead = 0;
    // A missing name ends a table as the empty one does.
    for (RegValueEntry* pRow = pTable; pRow->pszName != nullptr && pRow->pszName[0] != '\0'; ++pRow) {
        // Any value that fits the storage is accepted as raw bytes.
        const LONG lQuery = QueryStoredValue(hKey, pRow->pszName, pRow->pData, pRow->cbData, nullptr, nullptr);
        if (lQuery == ERROR_SUCCESS) {
            ++nRead;
            pRow->bLoaded = TRUE;
        } else {
            MessageBoxA(nullptr, "Reg read error", "", MB_OK);
            pRow->bLoaded = FALSE;
            nLastError = lQuery;
        }
    }

    RegCloseKey(hKey);
    return nRead;
}

// ---------------------------------------------------------------- the driver's settings

DWORD gdwMouseMode = 6;
DWORD gdwBeepFlag = 1;
DWORD gdwBeepTime = 20;
DWORD gdwBeepFreq = 4000;
DWORD gdwDefaultDragDelay = 200;
DWORD gdwMinDragDelay = 0;
DWORD gdwMaxDragDelay = 1000;
DWORD gdwNumberOfTouchscreens = 1;
DWORD gdwNumXScreens = 1;
DWORD gdwNumYScreens = 1;
BYTE gabCplLanguage[2] = {0, 0};

RegValueEntry DriverSettings[DRIVER_SETTINGS_ROWS + 1] = {
    {FALSE, "MouseMode", REG_DWORD, sizeof gdwMouseMode, &gdwMouseMode},
    {FALSE, "BeepFlag", REG_DWORD, sizeof gdwBeepFlag, &gdwBeepFlag},
    {FALSE, "BeepTime", REG_DWORD, sizeof gdwBeepTime, &gdwBeepTime},
    {FALSE, "BeepFreq", REG_DWORD, sizeof gdwBeepFreq, &gdwBeepFreq},
    {FALSE, "DefaultDragDelay", REG_DWORD, sizeof gdwDefaultDragDelay, &gdwDefaultDragDelay},
    {FALSE, "MinDragDelay", REG_DWORD, sizeof gdwMinDragDelay, &gdwMinDragDelay},
    {FALSE, "MaxDragDelay", REG_DWORD, sizeof gdwMaxDragDelay, &gdwMaxDragDelay},
    {FALSE, "NumberOfTouchscreens", REG_DWORD, sizeof gdwNumberOfTouchscreens, &gdwNumberOfTouchscreens},
    {FALSE, "NumXScreens", REG_DWORD, sizeof gdwNumXScreens, &gdwNumXScreens},
    {FALSE, "NumYScreens", REG_DWORD, sizeof gdwNumYScreens, &gdwNumYScreens},
    {FALSE, "CplLanguage", REG_BINARY, sizeof gabCplLanguage, gabCplLanguage},
    {FALSE, "", REG_SZ, 0, nullptr},
};

RegistryKey* gpServiceKey = nullptr;

int LoadDriverSettings() {
    SelectServiceKey();

    delete gpServiceKey;
    gpServiceKey = new (std::nothrow) RegistryKey(gszServiceKey);
    // Without a key object the key cannot be used: the defaults stand.
    if (gpServiceKey == nullptr) return 4;
    if (gpServiceKey->LastError() != 0) return 4;

    if (gpServiceKey->ReadValues(DriverSettings) == 0) return 5;

    // The monitor table makes its own key object before it needs one.
    delete gpServiceKey;
    gpServiceKey = nullptr;
    return 0;
}
