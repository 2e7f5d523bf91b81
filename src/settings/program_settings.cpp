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

}  // namespace

const ProgramSettingRule ProgramSettingRules[PROGRAM_SETTINGS_COUNT] = {
    {"Trace", 0, 1, false, "trace off"},
    {"HoldTimeMs", HOLD_TIME_MIN_MS, HOLD_TIME_MAX_MS, true, "press-and-hold off"},
    {"HoldRadius", HOLD_RADIUS_MIN, HOLD_RADIUS_MAX, false, "press-and-hold off"},
};

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

void ReadProgramSettings(ProgramSettings* p) {
    // Read access only: the program never writes its own key, and an
    // ordinary user under Windows NT may read it.
    HKEY hKey = nullptr;
    p->lOpen = RegOpenKeyExA(HKEY_LOCAL_MACHINE, PROGRAM_SETTINGS_KEY, 0, KEY_QUERY_VALUE, &hKey);
    if (p->lOpen != ERROR_SUCCESS) hKey = nullptr;
    for (int i = 0; i < PROGRAM_SETTINGS_COUNT; ++i) {
        const ProgramSettingRule& rule = ProgramSettingRules[i];
        ProgramSettingValue& v = p->values[i];
        v.outcome = SETTING_MISSING;
        v.dwType = v.cbData = v.dwValue = 0;
        if (hKey == nullptr) continue;
        DWORD dwValue = 0;
        DWORD cbData = sizeof dwValue;
        const LONG lQuery =
            RegQueryValueExA(hKey, rule.pszName, nullptr, &v.dwType, reinterpret_cast<LPBYTE>(&dwValue), &cbData);
        v.cbData = cbData;
        v.outcome = CheckSetting(lQuery, v.dwType, cbData, dwValue, rule.dwMin, rule.dwMax, rule.bZeroIsOff);
        if (v.outcome == SETTING_OK || v.outcome == SETTING_BAD_RANGE) v.dwValue = dwValue;
    }
    if (hKey != nullptr) RegCloseKey(hKey);

    const ProgramSettingValue& trace = p->values[PROGRAM_SETTING_TRACE];
    const ProgramSettingValue& time = p->values[PROGRAM_SETTING_HOLD_TIME];
    const ProgramSettingValue& radius = p->values[PROGRAM_SETTING_HOLD_RADIUS];
    p->lTrace = trace.outcome == SETTING_OK ? static_cast<LONG>(trace.dwValue) : 0;
    p->dwHoldTimeMs = time.outcome == SETTING_OK ? time.dwValue : 0;
    p->dwHoldRadius = HOLD_RADIUS_DEFAULT;
    if (radius.outcome == SETTING_OK) p->dwHoldRadius = radius.dwValue;
    else if (radius.outcome != SETTING_MISSING) p->dwHoldTimeMs = 0;
}

namespace {

// With the trace on: which value was rejected, and why.
void TraceRejected(const ProgramSettings& s, int i) {
    const ProgramSettingRule& rule = ProgramSettingRules[i];
    const ProgramSettingValue& v = s.values[i];
    if (v.outcome == SETTING_BAD_TYPE)
        TraceLine("settings", "rejected=%s type=%s cbData=%lu range=%lu..%lu: %s", rule.pszName, TypeName(v.dwType),
                  static_cast<unsigned long>(v.cbData), static_cast<unsigned long>(rule.dwMin),
                  static_cast<unsigned long>(rule.dwMax), rule.pszOff);
    else if (v.outcome == SETTING_BAD_RANGE)
        TraceLine("settings", "rejected=%s value=%lu range=%lu..%lu: %s", rule.pszName,
                  static_cast<unsigned long>(v.dwValue), static_cast<unsigned long>(rule.dwMin),
                  static_cast<unsigned long>(rule.dwMax), rule.pszOff);
}

}  // namespace

void LoadProgramSettings() {
    ProgramSettings s;
    ReadProgramSettings(&s);
    // The trace first, so that it can tell about the other two; a rejected
    // "Trace" is told by the trace that was on until now.
    if (TraceOn()) TraceRejected(s, PROGRAM_SETTING_TRACE);
    gbTrace.store(s.lTrace);
    if (TraceOn())
        for (int i = 0; i < PROGRAM_SETTINGS_COUNT; ++i)
            if (i != PROGRAM_SETTING_TRACE) TraceRejected(s, i);

    // The radius first: a worker that sees the new time sees its radius.
    gdwHoldRadius.store(s.dwHoldRadius);
    gdwHoldTimeMs.store(s.dwHoldTimeMs);

    if (TraceOn())
        TraceLine("settings", "key=\"HKEY_LOCAL_MACHINE\\%s\" Trace=1 HoldTimeMs=%lu HoldRadius=%lu",
                  PROGRAM_SETTINGS_KEY, static_cast<unsigned long>(s.dwHoldTimeMs),
                  static_cast<unsigned long>(s.dwHoldRadius));
}
