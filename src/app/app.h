// The application core: start-up as a single instance, the hidden window and
// its message loop, and the orderly shutdown. The globals here are the
// application's own; those of a subsystem are declared in its header.
#pragma once

#include <atomic>

#include "platform/win32.h"

// The single-instance mutex "RykXyLdrAppMutex", owned by this process from
// its creation; 0 when it could not be created.
extern HANDLE ghInstanceMutex;
// Registered message "Quavel4683": notifications broadcast to the
// calibration program.
extern UINT gmsgQuavelNotify;
// Registered message "RykPlexor4683": commands from other programs.
extern UINT gmsgPlexorCommand;
// The hidden window. The add-monitor watcher reads it from its own thread,
// so it is atomic; it is set as soon as window creation begins.
extern std::atomic<HWND> ghWnd;

// The process exit codes: 0, or the start-up step that failed (WinMain).
inline constexpr int EXIT_NORMAL = 0;  // a normal end, or another instance runs
inline constexpr int EXIT_NO_DRIVER = 1;
// The driver has no touchscreen; after start-up also the end when the
// monitor table or a rebuilt touchscreen list cannot be made.
inline constexpr int EXIT_NO_TOUCHSCREEN = 2;
inline constexpr int EXIT_ADDMON_SIGNAL = 3;
inline constexpr int EXIT_REMOVE_SIGNAL = 4;
inline constexpr int EXIT_WINDOW_CLASS = 5;
inline constexpr int EXIT_QUAVEL_MESSAGE = 6;   // "Quavel4683" cannot be registered
inline constexpr int EXIT_PLEXOR_MESSAGE = 7;   // "RykPlexor4683" cannot be registered
inline constexpr int EXIT_NO_WINDOW = 8;

// The hidden window's procedure.
LRESULT CALLBACK AppWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Set by the first ShutdownApp of a run. From then on nothing reaches the
// driver or gcsDriver again: the window procedure answers the session end
// and hands every other message to DefWindowProcA (Windows ends the process
// some time after WM_ENDSESSION, and the queue may still be read until then).
extern BOOL gbShutdownDone;

// Tears the program down after the message loop, or when the Windows
// session ends: add-monitor signal withdrawn, workers stopped,
// remove-devices signal withdrawn, driver closed (ghDriver is then
// INVALID_HANDLE_VALUE, so that a late request fails instead of reaching
// whatever reuses the handle), gcsDriver deleted, mutex released. Only the
// first call does anything.
void ShutdownApp();

// The program's entry point; returns the process exit code.
extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
