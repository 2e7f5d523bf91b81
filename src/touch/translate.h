// The translation of one touch report into SetCursorPos and mouse_event
// calls, and the button state it keeps for each packet worker. Every mouse
// input of the program goes through MouseInput and MoveCursor here.
#pragma once

#include <atomic>

#include "driver/protocol.h"
#include "platform/win32.h"

// 0: left-button mode (the mode at start); non-zero: right-button mode.
// Written by the main thread's commands, read by every packet worker at each
// use.
extern std::atomic<LONG> gbRightButton;
// Position of the last quick-touch report of any touchscreen, in
// virtual-desktop pixels; 0, 0 at start. Written by the packet workers, as
// two separate stores.
extern std::atomic<LONG> giLastX;
extern std::atomic<LONG> giLastY;

// A worker's remembered button state: the mouse_event flags that produced it.
inline constexpr DWORD BUTTON_LEFT_UP = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP;        // 5
inline constexpr DWORD BUTTON_LEFT_DOWN = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN;    // 3
inline constexpr DWORD BUTTON_RIGHT_UP = MOUSEEVENTF_MOVE | MOUSEEVENTF_RIGHTUP;      // 17
inline constexpr DWORD BUTTON_RIGHT_DOWN = MOUSEEVENTF_MOVE | MOUSEEVENTF_RIGHTDOWN;  // 9

// The two ways the program makes mouse input, each traced when the live
// trace is on: mouse_event(dwFlags, dx, dy, 0, 0) and SetCursorPos(x, y).
void MouseInput(DWORD dwFlags, DWORD dx, DWORD dy);
void MoveCursor(LONG x, LONG y);
// A click of the right or left button: down and up with a move each, then
// the one-pixel nudge that follows every button-up.
void MouseClick(bool bRight);

// Turns one packet into mouse input: the cursor to the packet's point, then,
// by report kind (the low byte of dwFlags) and PKT_RELEASE,
//   kind 0:              a click
//   kind 1:              a zero move; with PKT_RELEASE followed by a click
//   other, no release:   a press if *pdwButtonState is the mode's up value
//                        (it becomes the mode's down value), else a zero move
//   other, PKT_RELEASE:  a release (*pdwButtonState becomes the mode's up value)
// The mode is gbRightButton as it is at the moment of the packet, except
// that a button held down is always released with the button that went
// down, whatever the mode is by then.
void TranslatePacket(const TouchPacket* pPacket, DWORD* pdwButtonState);


// A quick-touch report far from the previous one with PKT_FARTOUCH: a click
// at the previous quick-touch point (giLastX, giLastY), then the button held
// down at the new one. A button held down since before a mode switch is
// released first. The mode is read at each of the two actions.
void TranslateFarTouch(const TouchPacket* pPacket, DWORD* pdwButtonState);

// Releases the button that dwButtonState holds down (button-up and a nudge);
// nothing when it holds none.
void ReleaseHeldButton(DWORD dwButtonState);
