// Touch packets to mouse input: the packet worker of each touchscreen, which
// reads the driver's touch reports and passes them, quick-touch reports
// through their filter, to the translation of touch/translate.h.
#pragma once

#include "platform/win32.h"
#include "touch/translate.h"

// The packet worker; its parameter is the WorkerNode (touch/workers.h). It
// reads one packet under gcsDriver at every signal of the node's packet event
// and turns it into mouse input, quick-touch reports through their filter.
// Returns 0 once the node's stop event is set (or its wait fails), after
// releasing the button it holds down, if any.
DWORD WINAPI TouchPacketThread(LPVOID pParam);
