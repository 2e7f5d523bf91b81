#include "app/app.h"

HANDLE ghInstanceMutex = 0;
UINT gmsgQuavelNotify = 0;
UINT gmsgPlexorCommand = 0;
std::atomic<HWND> ghWnd{nullptr};
BOOL gbShutdownDone = FALSE;
