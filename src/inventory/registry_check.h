// Each touchscreen's own registry key: its serial number checked against the
// one the driver reports, and the driver's alignment values written to it.
// Both work on the current record of gpTouchscreens and leave its cursor.
#pragma once

#include "platform/win32.h"

// 1 when the key's "SerialNumber" equals the record's serial number; 0 when
// it differs (the monitor assignment is then cleared in the key and the
// record) or the key or its serial number cannot be read.
int CheckRegistryEntry();

// What CheckRegistryEntry finds in a touchscreen's key; only ENTRY_OWN
// counts as the touchscreen's own entry.
enum RegistryEntryVerdict {
    ENTRY_OWN,           // "SerialNumber" equals the touchscreen's serial number
    ENTRY_NO_KEY,        // no path, or the key cannot be opened for reading and writing
    ENTRY_NO_SERIAL,     // no "SerialNumber" of at most 32 bytes
    ENTRY_OTHER_DEVICE,  // "SerialNumber" differs (CheckRegistryEntry then clears the assignment)
};

// The same judgement for the key at pszPath and the serial number pszSerial,
// without a list and without writing anything: the key is opened as
// CheckRegistryEntry opens it, for reading and writing, and closed again.
// pszKeySerial (may be null) receives the key's "SerialNumber" as read, at
// most 32 characters and a NUL (33 bytes), or "" when none was read.
RegistryEntryVerdict JudgeRegistryEntry(LPCSTR pszPath, LPCSTR pszSerial, LPSTR pszKeySerial);

// Asks the driver for the touchscreen's alignment values and writes them
// into its key.
void WriteDefaultAlignment();
