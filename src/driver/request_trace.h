// The live trace's line for a driver request (see settings/trace.h).
#pragma once

#include "platform/win32.h"
#include "settings/trace.h"

// One driver request after DeviceIoControl returned: its name, the calling
// thread, the result and the fields of its layout as they stand after the
// request, by the names of driver/protocol.h. Off, only the flag is tested.
void TraceRequestLine(DWORD dwCode, const void* pBuffer, BOOL bOk);
inline void TraceRequest(DWORD dwCode, const void* pBuffer, BOOL bOk) {
    if (TraceOn()) TraceRequestLine(dwCode, pBuffer, bOk);
}
