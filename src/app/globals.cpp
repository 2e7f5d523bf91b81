#include "app/app.h"

HANDLE ghInstanceMutex = 0;
TouchscreenList* gpTouchscreens = nullptr;
LONG gnUnassignedAtStart = 0;
UINT gmsgQuavelNotify = 0;
UINT gmsgPlexorCommand = 0;
CRITICAL_SECTION gcsDriver;
std::atomic<HWND> ghWnd{nullptr};
std::atomic<WorkerList*> gpWorkers{nullptr};
std::atomic<LONG> gbAddMonBusy{0};
