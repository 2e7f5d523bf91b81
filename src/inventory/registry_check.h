// Each touchscreen's own registry key: its serial number checked against the
// one the driver reports, and the driver's alignment values written to it.
// Both work on the current record of gpTouchscreens and leave its cursor.
#pragma once

// 1 when the key's "SerialNumber" equals the record's serial number; 0 when
// it differs (the monitor assignment is then cleared in the key and the
// record) or the key or its serial number cannot be read.
int CheckRegistryEntry();

// Asks the driver for the touchscreen's alignment values and writes them
// into its key.
void WriteDefaultAlignment();
