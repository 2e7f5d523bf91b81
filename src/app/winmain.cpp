// Start-up, message loop and shutdown. Start-up runs in a fixed order in
// which every step rests on the one before; a step that fails ends the
// program at once with an exit code naming the step (EXIT_* in app/app.h, 1
// to 8 in the order of the steps; 0 when another instance runs). No start-up
// failure shows anything; the exit code is the only report.
#include <new>

#include "app/app.h"
#include "app/report.h"
#include "driver/channel.h"
#include "hotplug/calibration.h"
#include "hotplug/signals.h"
#include "inventory/touchscreen_list.h"
#include "settings/program_settings.h"
#include "settings/settings.h"
#include "settings/trace.h"
#include "touch/workers.h"

namespace {

static_assert(LIST_LOST_EXIT_CODE == EXIT_NO_TOUCHSCREEN, "a lost list ends the program as no touchscreen does");

const char kMutexName[] = "RykXyLdrAppMutex";
const char kClassName[] = "RykXyLdrAppClass";

// The end of start-up, for the trace: the exit code and the step it names.
int StartupEnds(int iExitCode) {
    static const char* const kSteps[] = {"another instance runs",       "the driver cannot be opened",
                                         "the driver has no touchscreen", "the add-monitor signal cannot be armed",
                                         "the remove-devices signal cannot be armed",
                                         "the window class cannot be registered", "\"Quavel4683\" cannot be registered",
                                         "\"RykPlexor4683\" cannot be registered",
                                         "the hidden window cannot be created"};
    static_assert(sizeof kSteps / sizeof kSteps[0] == EXIT_NO_WINDOW + 1, "a text for every start-up exit code");
    if (TraceOn()) TraceLine("startup", "exit=%d: %s", iExitCode, kSteps[iExitCode]);
    return iExitCode;
}

// What a failure after the add-monitor signal was armed releases: that
// signal, the remove-devices signal when it was armed, and the driver, in
// the order of a normal shutdown. The driver must not be left signalling an
// event of a process that has ended.
int FailAfterArming(int iExitCode) {
    DisarmAddMonSignal();
    DisarmRemoveSignal();
    CloseHandle(ghDriver);
    return StartupEnds(iExitCode);
}

}  // namespace

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    gbShutdownDone = FALSE;
    gbCalibrationWaitCancelled = FALSE;

    // The program's own settings first, so that the trace sees start-up.
    LoadProgramSettings();

    // One instance only. A creation that fails for another reason does not
    // stop us; shutdown then has no mutex to release.
    ghInstanceMutex = CreateMutexA(nullptr, TRUE, kMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) return StartupEnds(EXIT_NORMAL);

    OpenDriver();
    if (ghDriver == INVALID_HANDLE_VALUE) return StartupEnds(EXIT_NO_DRIVER);

    // A list that cannot be allocated is treated as a driver without
    // touchscreens.
    gpTouchscreens = new (std::nothrow) TouchscreenList(ghDriver);
    if (gpTouchscreens != nullptr) gpTouchscreens->Enumerate();
    if (gpTouchscreens == nullptr || !gpTouchscreens->MoveFirst()) {
        CloseHandle(ghDriver);
        return StartupEnds(EXIT_NO_TOUCHSCREEN);
    }

    gnUnassignedAtStart = gpTouchscreens->GetUnassignedCount();

    // The driver's settings before any event is handed to the driver: a
    // missing value shows "Reg read error", and while such a box is open
    // there is no window of ours to hear the session end. Ended then, the
    // process leaves the driver nothing to signal. The reads touch the
    // registry only, so the driver sees the same requests in the same order.
    // Missing settings do not stop us; the defaults stand.
    LoadDriverSettings();

    if (ArmAddMonSignal() != ARM_SIGNAL_OK) {
        // The driver is not asked to withdraw anything; a watcher that the
        // arming started is ended, though, so that none outlives WinMain.
        EndWatchers();
        CloseHandle(ghDriver);
        return StartupEnds(EXIT_ADDMON_SIGNAL);
    }

    if (ArmRemoveSignal() != ARM_SIGNAL_OK) return FailAfterArming(EXIT_REMOVE_SIGNAL);

    WNDCLASSA wc;
    wc.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = AppWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = "GenericAppMenu";  // no such menu resource: the window has no menu
    wc.lpszClassName = kClassName;
    if (RegisterClassA(&wc) == 0) return FailAfterArming(EXIT_WINDOW_CLASS);

    gmsgQuavelNotify = RegisterWindowMessageA("Quavel4683");
    if (gmsgQuavelNotify == 0) return FailAfterArming(EXIT_QUAVEL_MESSAGE);

    gmsgPlexorCommand = RegisterWindowMessageA("RykPlexor4683");
    if (gmsgPlexorCommand == 0) return FailAfterArming(EXIT_PLEXOR_MESSAGE);

    // Without it the program serves touches all the same; only the set-up
    // wizard cannot ask which touchscreen is touched (app/report.h).
    gmsgReportTouch = RegisterWindowMessageA(REPORT_TOUCH_MESSAGE);

    // Window creation starts the workers, which use the lock from their
    // first packet on.
    InitializeCriticalSection(&gcsDriver);

    // Never shown. Its WM_CREATE builds the worker list and the monitor
    // table and starts the workers before this call returns.
    ghWnd = CreateWindowExA(0, kClassName, "", WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL, 0, 0, CW_USEDEFAULT,
                            CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr);
    ghAddMonWnd = ghWnd.load();
    if (ghWnd.load() == nullptr) {
        // Without the window nothing can end the program: it is a start-up
        // failure. Released as for codes 5 to 7, and what this step set up
        // besides: any worker that window creation started, then the lock.
        StopAllWorkers();
        DeleteCriticalSection(&gcsDriver);
        return FailAfterArming(EXIT_NO_WINDOW);
    }

    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    if (TraceOn()) TraceLine("startup", "window=%s: message loop", ghWnd.load() != nullptr ? "created" : "none");

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    // After a session end that already shut down, nothing is left to do.
    if (!gbShutdownDone && TraceOn()) TraceLine("shutdown", "exit=%d", static_cast<int>(msg.wParam));
    ShutdownApp();
    return static_cast<int>(msg.wParam);
}

void ShutdownApp() {
    // Runs once: after the message loop, or earlier when the Windows session
    // ends, and then not again after the loop.
    if (gbShutdownDone) return;
    gbShutdownDone = TRUE;
    // A wait for the calibration program that the session end interrupted
    // gives up once this returns.
    CancelCalibrationWait();
    DisarmAddMonSignal();
    StopAllWorkers();
    DisarmRemoveSignal();
    if (ghDriver != 0 && ghDriver != INVALID_HANDLE_VALUE) CloseHandle(ghDriver);
    ghDriver = INVALID_HANDLE_VALUE;
    DeleteCriticalSection(&gcsDriver);
    if (ghInstanceMutex != 0) ReleaseMutex(ghInstanceMutex);
}
