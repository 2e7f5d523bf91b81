// What the conformance tests need from the machine they run on that the Win32
// API itself cannot give them: where the helper programs are, and a registry
// key the user may not write. Implemented once for Windows (fixture_win32.cpp,
// the helpers built next to the test program) and once for the simulated
// machine (fixture_sim.cpp, the helpers installed as programs of the machine).
#pragma once

#include <string>

#include "platform/win32.h"

namespace conformance {

enum class ChildKind {
    ready,    // GUI program: creates a window and reads its message queue
    never,    // GUI program that never reads its message queue
    console,  // console program
};

// The command line that starts a helper program of that kind, for
// CreateProcessA's lpCommandLine (lpApplicationName NULL).
std::string ChildCommandLine(ChildKind kind);

// Makes HKEY_LOCAL_MACHINE\<path> a key the user may read but not write,
// creating it if needed. False where the machine offers no way to do that.
bool MakeKeyReadOnly(const char* path);

// How far GetTickCount may lag behind a wait that has just timed out: on
// Windows the count moves in clock ticks (about 16 ms on NT and under Wine,
// up to 55 ms on Windows 95/98), so a count read right after a wait can still
// be one tick short. 0 on a machine whose tick count is exact.
DWORD TickCountStepMs();

// True when the tests run under Wine, for the few checks where Wine is known
// to differ from Windows.
bool UnderWine();

// Message boxes as a user meets them: from now on a box stays open until it
// is dismissed (on Windows it always does; the simulated machine is told
// to hold its boxes). MessageBoxOpen: a box with this caption is open.
// DismissMessageBox: answers the oldest open box with this caption with its
// OK button, as a user would; false when none is open.
void HoldMessageBoxes();
bool MessageBoxOpen(const char* caption);
bool DismissMessageBox(const char* caption);

}  // namespace conformance
