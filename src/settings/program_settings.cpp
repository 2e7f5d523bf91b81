#include "settings/program_settings.h"

#include "settings/trace.h"

std::atomic<DWORD> gdwHoldTimeMs{0};
std::atomic<DWORD> gdwHoldRadius{HOLD_RADIUS_DEFAULT};

namespace {

const char* TypeName(DWORD dwType) {
    switch (dwType) {
    case REG_SZ: return "REG_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    default: return "other";
    }
}

struct ReadSetting {
    SettingOutcome outcome;
    DWORD dwValue;  // valid for SETTING_OK and SETTING_BAD_RANGE
};

// One value of the open key (or of no key: hKey 0 reads as missing). A
// rejected value is traced, when the trace is on, with what was wrong.
ReadSetting Read(HKEY hKey, const char* pszName, DWORD dwMin, DWORD dwMax, bool bZeroIsOff, const char* pszOff) {
    ReadSetting r = {SETTING_MISSING, 0};
    if (hKey == nullptr) return r;
    DWORD dwType = 0;
    DWORD dwValue = 0;
    DWORD cbData = sizeof dwValue;
    const LONG lQuery =
        RegQueryValueExA(hKey, pszName, nullptr, &dwType, reinterpret_cast<LPBYTE>(&dwValue), &cbData);
    r.outcome = CheckSetting(lQuery, dwType, cbData, dwValue, dwMin, dwMax, bZeroIsOff);
    r.dwValue = dwValue;
    if (!TraceOn()) return r;
    if (r.outcome == SETTING_BAD_TYPE)
        TraceLine("settings", "rejected=%s type=%s cbData=%lu range=%lu..%lu: %s", pszName, TypeName(dwType),
                  static_cast<unsigned long>(cbData), static_cast<unsigned long>(dwMin),
                  static_cast<unsigned long>(dwMax), pszOff);
    else if (r.outcome == SETTING_BAD_RANGE)
        TraceLine("settings", "rejected=%s value=%lu range=%lu..%lu: %s", pszName, static_cast<unsigned long>(dwValue),
                  static_cast<unsigned long>(dwMin), static_cast<unsigned long>(dwMax), pszOff);
    return r;
}

}  // namespace

SettingOutcome CheckSetting(LONG lQuery, DWORD dwType, DWORD cbData, DWORD dwValue, DWORD dwMin, DWORD dwMax,
                            bool bZeroIsOff) {
    if (lQuery == ERROR_FILE_NOT_FOUND) return SETTING_MISSING;
    // ERROR_MORE_DATA: longer than a REG_DWORD. Any other failure is taken
    // the same way: there is a value, and it cannot be used.
    if (lQuery != ERROR_SUCCESS || dwType != REG_DWORD || cbData != sizeof(DWORD)) return SETTING_BAD_TYPE;
    if (bZeroIsOff && dwValue == 0) return SETTING_OK;
    if (dwValue < dwMin || dwValue > dwMax) return SETTING_BAD_RANGE;
    return SETTING_OK;
}

void LoadProgramSettings() {
    // Read access only: the program never writes its own key, and an
    // ordinary user under Windows NT may read it.
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PROGRAM_SETTINGS_KEY, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        hKey = nullptr;

    // The trace first, so that it can tell about the other two.
    const ReadSetting trace = Read(hKey, "Trace", 0, 1, false, "trace off");
    gbTrace.store(trace.outcome == SETTING_OK ? static_cast<LONG>(trace.dwValue) : 0);

    const ReadSetting time =
        Read(hKey, "HoldTimeMs", HOLD_TIME_MIN_MS, HOLD_TIME_MAX_MS, true, "press-and-hold off");
    const ReadSetting radius =
        Read(hKey, "HoldRadius", HOLD_RADIUS_MIN, HOLD_RADIUS_MAX, false, "press-and-hold off");
    if (hKey != nullptr) RegCloseKey(hKey);

    DWORD dwTimeMs = time.outcome == SETTING_OK ? time.dwValue : 0;
    DWORD dwRadius = HOLD_RADIUS_DEFAULT;
    if (radius.outcome == SETTING_OK) dwRadius = radius.dwValue;
    else if (radius.outcome != SETTING_MISSING) dwTimeMs = 0;
    // The radius first: a worker that sees the new time sees its radius.
    gdwHoldRadius.store(dwRadius);
    gdwHoldTimeMs.store(dwTimeMs);

    if (TraceOn())
        TraceLine("settings", "key=\"HKEY_LOCAL_MACHINE\\%s\" Trace=1 HoldTimeMs=%lu HoldRadius=%lu",
                  PROGRAM_SETTINGS_KEY, static_cast<unsigned long>(dwTimeMs),
                  static_cast<unsigned long>(dwRadius));
}
