#include "inventory/registry_check.h"

#include <cstring>

#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/touchscreen_list.h"
#include "settings/settings.h"

namespace {

// Room for "SerialNumber" in the key, NUL included.
constexpr DWORD kSerialBytes = 32;

// The values sent in REQ_GET_ALIGNMENT; a driver that does not answer leaves
// them in the buffer, and they are what gets written then.
constexpr LONG kDefaultOffsetX = 0;
constexpr LONG kDefaultScrDx = 576;
constexpr LONG kDefaultDx = 3107;
constexpr LONG kDefaultOffsetY = 0;
constexpr LONG kDefaultScrDy = 432;
constexpr LONG kDefaultDy = 3012;
constexpr LONG kDefaultSwapXY = 0;

// A current record to work on: the list's cursor stands on one. (A record
// may itself carry any monitor number, -2 included.)
bool HaveCurrentRecord() { return gpTouchscreens != nullptr && gpTouchscreens->HasCurrent(); }

// Opens a touchscreen's key for reading and writing, like every key the
// program opens. An empty path would name HKEY_LOCAL_MACHINE itself, which
// is no touchscreen's key: it counts as a key that cannot be opened.
bool OpenEntry(LPCSTR pszPath, HKEY* phKey) {
    if (pszPath == nullptr || pszPath[0] == '\0') return false;
    return OpenKeyReadWrite(pszPath, phKey) == ERROR_SUCCESS;
}

// Opens the current record's key.
bool OpenTouchscreenKey(HKEY* phKey) {
    CHAR szPath[256] = "";
    gpTouchscreens->GetRegistryPath(szPath);
    return OpenEntry(szPath, phKey);
}

// Compares the open key's "SerialNumber" with pszSerial. szKeySerial
// receives the value as read ("" when none was).
RegistryEntryVerdict JudgeOpenEntry(HKEY hKey, LPCSTR pszSerial, CHAR (&szKeySerial)[kSerialBytes + 1]) {
    // One byte more than the registry may fill, and cleared: a value that
    // comes without its NUL still ends inside the buffer.
    std::memset(szKeySerial, 0, sizeof szKeySerial);
    DWORD cbSerial = kSerialBytes;
    DWORD dwType = 0;
    if (RegQueryValueExA(hKey, "SerialNumber", nullptr, &dwType, reinterpret_cast<LPBYTE>(szKeySerial),
                         &cbSerial) != ERROR_SUCCESS) {
        // Missing or too long. What a failed read left is not a serial.
        std::memset(szKeySerial, 0, sizeof szKeySerial);
        return ENTRY_NO_SERIAL;
    }
    return std::strcmp(szKeySerial, pszSerial) == 0 ? ENTRY_OWN : ENTRY_OTHER_DEVICE;
}

void WriteDword(HKEY hKey, LPCSTR pszName, LONG iValue) {
    const DWORD dwValue = static_cast<DWORD>(iValue);
    RegSetValueExA(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
}

}  // namespace

int CheckRegistryEntry() {
    if (!HaveCurrentRecord()) return 0;

    HKEY hKey = nullptr;
    if (!OpenTouchscreenKey(&hKey)) return 0;

    CHAR szSerial[kSerialBytes];
    std::memset(szSerial, 0, sizeof szSerial);
    gpTouchscreens->GetSerialNumber(szSerial);

    CHAR szKeySerial[kSerialBytes + 1];
    const RegistryEntryVerdict verdict = JudgeOpenEntry(hKey, szSerial, szKeySerial);
    // Missing or too long: nothing is written and the record keeps its
    // monitor.
    if (verdict == ENTRY_OTHER_DEVICE) {
        // The key belongs to another device: its monitor assignment no longer
        // holds, here or in the record. The driver is not told.
        WriteDword(hKey, "MonitorNumber", -1);
        gpTouchscreens->SetMonitor(-1);
    }

    RegCloseKey(hKey);
    return verdict == ENTRY_OWN ? 1 : 0;
}

RegistryEntryVerdict JudgeRegistryEntry(LPCSTR pszPath, LPCSTR pszSerial, LPSTR pszKeySerial) {
    if (pszKeySerial != nullptr) pszKeySerial[0] = '\0';
    HKEY hKey = nullptr;
    if (!OpenEntry(pszPath, &hKey)) return ENTRY_NO_KEY;
    CHAR szKeySerial[kSerialBytes + 1];
    const RegistryEntryVerdict verdict = JudgeOpenEntry(hKey, pszSerial, szKeySerial);
    RegCloseKey(hKey);
    if (pszKeySerial != nullptr) std::memcpy(pszKeySerial, szKeySerial, sizeof szKeySerial);
    return verdict;
}

void WriteDefaultAlignment() {
    if (!HaveCurrentRecord()) return;

    AlignmentRequest req;
    std::memset(&req, 0, sizeof req);
    req.header.wTag1 = REQ_TAG;
    req.header.wTag2 = REQ_TAG;
    req.header.dwReserved = 0;
    req.header.wTouchscreen = static_cast<WORD>(gpTouchscreens->GetId() & 0xFFFF);
    req.OffsetX = kDefaultOffsetX;
    req.ScrDx = kDefaultScrDx;
    req.Dx = kDefaultDx;
    req.OffsetY = kDefaultOffsetY;
    req.ScrDy = kDefaultScrDy;
    req.Dy = kDefaultDy;
    req.SwapXY = kDefaultSwapXY;
    // Whether the driver answered or not, the buffer holds the values to
    // write: its own, or the ones sent.
    SendRequest(REQ_GET_ALIGNMENT, &req);

    HKEY hKey = nullptr;
    if (!OpenTouchscreenKey(&hKey)) return;

    // In this order; a failed write does not stop the others.
    WriteDword(hKey, "OffsetX", req.OffsetX);
    WriteDword(hKey, "ScrDx", req.ScrDx);
    WriteDword(hKey, "Dx", req.Dx);
    WriteDword(hKey, "OffsetY", req.OffsetY);
    WriteDword(hKey, "ScrDy", req.ScrDy);
    WriteDword(hKey, "Dy", req.Dy);
    WriteDword(hKey, "SwapXY", req.SwapXY);

    RegCloseKey(hKey);
}
