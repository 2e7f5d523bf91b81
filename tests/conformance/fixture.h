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

// Makes HKEY_LOCAL_MACHINE\<path> (an existing key) a key the user may read but
// not write. False where the machine offers no way to do that.
bool MakeKeyReadOnly(const char* path);

// True when the tests run under Wine rather than Windows or the simulated
// machine, for the few checks where Wine is known to differ from Windows.
bool UnderWine();

}  // namespace conformance
