// The program's own settings, in its own key
// HKEY_LOCAL_MACHINE\SOFTWARE\RykXyLdr (the driver's key is the driver's).
// All three are REG_DWORD values and all are off unless set:
//
//   "HoldTimeMs"  press-and-hold right click (touch/hold.h): 0 off (the
//                 default), or HOLD_TIME_MIN_MS to HOLD_TIME_MAX_MS
//   "HoldRadius"  how far, in pixels, a held touch may wander and still count
//                 as held: HOLD_RADIUS_MIN to HOLD_RADIUS_MAX, 8 when missing
//   "Trace"       the live trace (settings/trace.h): 0 off (the default) or 1
//
// A missing key or value means the default, silently: no message box, these
// are not the driver's. A value of another type or size, or out of its range,
// turns its feature off (a bad "HoldRadius" turns press-and-hold off), and the
// trace, when it is on, says which value and why.
//
// Read by the main thread at start-up and again at every CMD_REFRESH_LIST,
// so that a change applies without a restart. Packet workers read the values
// at each press, and a waiting press looks again at "HoldTimeMs" at each
// report and when its time runs out: switched off, it goes down as the left
// button instead of becoming a right click (touch/hold.h).
#pragma once

#include <atomic>

#include "platform/win32.h"

inline constexpr char PROGRAM_SETTINGS_KEY[] = "SOFTWARE\\RykXyLdr";

inline constexpr DWORD HOLD_TIME_MIN_MS = 100;
inline constexpr DWORD HOLD_TIME_MAX_MS = 5000;
inline constexpr DWORD HOLD_RADIUS_MIN = 0;
inline constexpr DWORD HOLD_RADIUS_MAX = 200;
inline constexpr DWORD HOLD_RADIUS_DEFAULT = 8;

// In force: 0 when press-and-hold is off.
extern std::atomic<DWORD> gdwHoldTimeMs;
extern std::atomic<DWORD> gdwHoldRadius;
// The trace flag is gbTrace (settings/trace.h).

// One value as the registry gave it, and what it means.
enum SettingOutcome {
    SETTING_MISSING,    // not there (or no key): the default, silently
    SETTING_OK,         // a REG_DWORD of 4 bytes inside its range
    SETTING_BAD_TYPE,   // another type, or not 4 bytes
    SETTING_BAD_RANGE,  // a REG_DWORD outside its range
};

// Judges one value: lQuery is RegQueryValueExA's result (ERROR_MORE_DATA for
// a value longer than 4 bytes), dwType and cbData what it reported, dwValue
// the 4 bytes read. In range: dwMin to dwMax, and 0 as well when bZeroIsOff.
SettingOutcome CheckSetting(LONG lQuery, DWORD dwType, DWORD cbData, DWORD dwValue, DWORD dwMin, DWORD dwMax,
                            bool bZeroIsOff);

// The three values, in the order they are read: the trace first, so that it
// can tell about the other two.
enum ProgramSettingIndex {
    PROGRAM_SETTING_TRACE,
    PROGRAM_SETTING_HOLD_TIME,
    PROGRAM_SETTING_HOLD_RADIUS,
    PROGRAM_SETTINGS_COUNT
};

// What a value may hold, and what a rejected one turns off.
struct ProgramSettingRule {
    const char* pszName;
    DWORD dwMin, dwMax;
    bool bZeroIsOff;     // 0 is in range as well: the feature is off
    const char* pszOff;  // "trace off", "press-and-hold off"
};
extern const ProgramSettingRule ProgramSettingRules[PROGRAM_SETTINGS_COUNT];

// One value as read from the key.
struct ProgramSettingValue {
    SettingOutcome outcome;
    DWORD dwType;   // the registry's type and size (not for SETTING_MISSING);
    DWORD cbData;   // for a value longer than 4 bytes, its whole size
    DWORD dwValue;  // the 4 bytes read: for SETTING_OK and SETTING_BAD_RANGE
};

// The key's values and what is in force with them.
struct ProgramSettings {
    LONG lOpen;  // the key's RegOpenKeyExA result; any failure reads as no key
    ProgramSettingValue values[PROGRAM_SETTINGS_COUNT];
    LONG lTrace;          // 0 or 1
    DWORD dwHoldTimeMs;   // 0 when press-and-hold is off
    DWORD dwHoldRadius;
};

// Reads the key (for reading only) and judges its values by the rules
// above; sets nothing, traces nothing, writes nothing.
void ReadProgramSettings(ProgramSettings* pSettings);

// Reads the three values, sets gbTrace, gdwHoldTimeMs and gdwHoldRadius,
// and, with the trace on, writes one "settings" line with what is in force
// and one line for each value that was rejected.
void LoadProgramSettings();
