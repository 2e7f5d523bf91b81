// The driver's add-monitor and remove-devices signals: the events handed to
// the driver and the threads that watch them.
#pragma once

#include "platform/win32.h"

// "RykAddMonDoneEvent": set when an add-monitor operation has finished (at
// the end of window creation, after each rescan, when the calibration
// program exits). 0 until ArmAddMonSignal has created it.
extern HANDLE ghAddMonDoneEvent;

// Arm a signal: 0 for success, otherwise the number (1 to 5) of the step
// that failed. A failed arm releases nothing it created.
int ArmAddMonSignal();
int ArmRemoveSignal();

// Withdraw a signal from the driver and close its handles; handles that are
// still 0 are skipped.
void DisarmAddMonSignal();
void DisarmRemoveSignal();
