// Press-and-hold in the packet worker: the Win32 side of touch/hold.h. The
// worker waits through WaitForPacketOrHold, which runs out a waiting press
// into a right click by itself, and hands each ordinary report to
// TranslateHeldPacket and each quick-touch report first to
// HoldBeforeOtherReport. With "HoldTimeMs" 0 these come down to the worker's
// own wait and TranslatePacket, with the same calls in the same order.
#pragma once

#include "driver/protocol.h"
#include "platform/win32.h"
#include "touch/hold.h"

// Waits for the packet event or the stop event, the stop event first. While
// a press waits for its time the wait has a time-out; when it runs out the
// press is settled here and the wait goes on: a right click, or, when the
// hold was switched off or right-button mode switched on meanwhile, the left
// button down at the starting point (*pdwButtonState is then down). True for
// a packet signal; false when the worker is to end (its stop event is set or
// the wait failed). A press still waiting then is dropped: nothing was sent
// for it.
bool WaitForPacketOrHold(HANDLE hStopEvent, HANDLE hXyEvent, DWORD* pdwButtonState, HoldState* pHold);

// An ordinary (not quick-touch) report: TranslatePacket, unless the hold
// makes the press wait, drops the report of a right-clicked touch, or sends
// the waiting press (the left button down at the starting point) first.
void TranslateHeldPacket(const TouchPacket* pPacket, DWORD* pdwButtonState, HoldState* pHold);

// Before a quick-touch report: a press that waits goes down at its starting
// point (the worker's button is then down).
void HoldBeforeOtherReport(DWORD* pdwButtonState, HoldState* pHold);
