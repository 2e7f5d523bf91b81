// The driver's global settings in its service key.
#pragma once

// Reads the driver's global settings: 0 when they were read, 4 when the
// service key cannot be opened for reading and writing, 5 when no value
// could be read.
int LoadDriverSettings();
