// RykXyMap.exe: the GUI program's entry.
#include "map.h"
#include "platform/win32.h"

extern "C" int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RykXyMapMain(); }
