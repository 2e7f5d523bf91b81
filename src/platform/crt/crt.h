// The Windows build's own small runtime, in place of the C runtime DLL
// (msvcrt.dll) and the statically linked MinGW runtime: start-up of a GUI
// program (WinMain) or a console program (main), static constructors and
// atexit functions, operator new and delete over the process heap, and the
// few string functions that the compiler or the program calls. Only the
// Windows build compiles it; the simulated build uses the ordinary runtime.
#pragma once

#include "platform/win32.h"

// Runs the static constructors once (also called by main's prologue).
extern "C" void __main(void);

// Runs the functions registered with atexit, last first, and the static
// destructors, then ends the process with uExitCode.
[[noreturn]] void RykExit(UINT uExitCode);

// The exit code of a program whose plain (throwing) operator new found no
// memory: there are no exceptions, so the program ends, as Windows reports a
// process that ran out of memory.
constexpr UINT kExitNoMemory = 0xC0000017;  // STATUS_NO_MEMORY

// The exit code of a program that called a pure virtual function (a fault of
// the program itself).
constexpr UINT kExitPureVirtual = 255;
