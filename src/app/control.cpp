#include "app/control.h"

bool HandleControlMessage(HWND, UINT, WPARAM, LPARAM, LRESULT*) { return false; }
