// Messages that change the running program: the display change, the
// add-monitor message and the commands of other programs.
#pragma once

#include "platform/win32.h"

// Handles one of those messages for the hidden window. Returns true and
// stores the message result in *plResult when it handled the message; false
// sends the message on to DefWindowProcA.
bool HandleControlMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* plResult);
