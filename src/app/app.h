// The application core: start-up as a single instance, the hidden window and
// its message loop, and the orderly shutdown. The globals here are set up by
// start-up and window creation and used by every subsystem under these names.
#pragma once

#include <atomic>

#include "platform/win32.h"

class TouchscreenList;
class WorkerList;

// The single-instance mutex "RykXyLdrAppMutex", owned by this process from
// its creation; 0 when it could not be created.
extern HANDLE ghInstanceMutex;
// The current touchscreen list; replaced wholesale on a rebuild.
extern TouchscreenList* gpTouchscreens;
// Touchscreens the driver reported without a monitor at start-up.
extern LONG gnUnassignedAtStart;
// Registered message "Quavel4683": notifications broadcast to the
// calibration program.
extern UINT gmsgQuavelNotify;
// Registered message "RykPlexor4683": commands from other programs.
extern UINT gmsgPlexorCommand;
// Held by every packet worker around its packet read.
extern CRITICAL_SECTION gcsDriver;
// The hidden window. The add-monitor watcher reads it from its own thread,
// so it is atomic; it is set as soon as window creation begins.
extern std::atomic<HWND> ghWnd;
// The worker list, made at window creation. The remove-devices watcher,
// which runs from before the window exists, reads it from its own thread.
extern std::atomic<WorkerList*> gpWorkers;
// 1 while the main thread handles an add-monitor message; read by the
// add-monitor watcher from its own thread.
extern std::atomic<LONG> gbAddMonBusy;

// The hidden window's procedure.
LRESULT CALLBACK AppWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Tears the program down after the message loop, or when the Windows
// session ends: add-monitor signal withdrawn, workers stopped,
// remove-devices signal withdrawn, driver closed, gcsDriver deleted, mutex
// released. Only the first call does anything.
void ShutdownApp();

// The program's entry point; returns the process exit code.
extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
