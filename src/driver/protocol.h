// The Orvane driver's control codes and the byte layout of every request.
//
// Every request is one buffer, passed to DeviceIoControl as both the input
// and the output buffer with the same size: the size of its layout here,
// exactly. Fields are little-endian; every layout starts with the 12-byte
// RequestHeader. The layouts are plain structures of fixed-width Win32 types
// whose natural alignment already gives the driver's offsets, so no packing
// is needed; the static_asserts below hold every size and offset to the wire.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// ---------------------------------------------------------------- control codes

// The driver's device type: 0x9C40 (40000).
inline constexpr DWORD ORVANE_DEVICE_TYPE = 0x9C40;

// CTL_CODE(0x9C40, function, METHOD_BUFFERED, FILE_ANY_ACCESS). The lean
// <windows.h> leaves out <winioctl.h>, where CTL_CODE lives; without it the
// same formula is spelled out with METHOD_BUFFERED = FILE_ANY_ACCESS = 0.
constexpr DWORD OrvaneControlCode(DWORD function) {
#if defined(CTL_CODE) && defined(METHOD_BUFFERED) && defined(FILE_ANY_ACCESS)
    return static_cast<DWORD>(CTL_CODE(ORVANE_DEVICE_TYPE, function, METHOD_BUFFERED, FILE_ANY_ACCESS));
#else
    return (ORVANE_DEVICE_TYPE << 16) | (0u << 14) | (function << 2) | 0u;
#endif
}

inline constexpr DWORD REQ_SET_XY_EVENT = OrvaneControlCode(0x800);
inline constexpr DWORD REQ_GET_TOUCH = OrvaneControlCode(0x801);
inline constexpr DWORD REQ_SET_MONITOR_RECT = OrvaneControlCode(0x802);
inline constexpr DWORD REQ_CLEAR_EVENT = OrvaneControlCode(0x80B);
inline constexpr DWORD REQ_SET_ADDMON_EVENT = OrvaneControlCode(0x80C);
inline constexpr DWORD REQ_SET_REMOVE_EVENT = OrvaneControlCode(0x80D);
inline constexpr DWORD REQ_SET_QUICKTOUCH_EVENT = OrvaneControlCode(0x80F);
inline constexpr DWORD REQ_BEGIN_CHANGE = OrvaneControlCode(0x902);
inline constexpr DWORD REQ_END_CHANGE = OrvaneControlCode(0x903);
inline constexpr DWORD REQ_GET_TOUCHSCREEN = OrvaneControlCode(0x910);
inline constexpr DWORD REQ_SET_MONITOR_NUMBER = OrvaneControlCode(0x913);
inline constexpr DWORD REQ_GET_ALIGNMENT = OrvaneControlCode(0x914);
inline constexpr DWORD REQ_GET_QUICKTOUCH = OrvaneControlCode(0x917);

static_assert(REQ_SET_XY_EVENT == 0x9C402000u);
static_assert(REQ_GET_TOUCH == 0x9C402004u);
static_assert(REQ_SET_MONITOR_RECT == 0x9C402008u);
static_assert(REQ_CLEAR_EVENT == 0x9C40202Cu);
static_assert(REQ_SET_ADDMON_EVENT == 0x9C402030u);
static_assert(REQ_SET_REMOVE_EVENT == 0x9C402034u);
static_assert(REQ_SET_QUICKTOUCH_EVENT == 0x9C40203Cu);
static_assert(REQ_BEGIN_CHANGE == 0x9C402408u);
static_assert(REQ_END_CHANGE == 0x9C40240Cu);
static_assert(REQ_GET_TOUCHSCREEN == 0x9C402440u);
static_assert(REQ_SET_MONITOR_NUMBER == 0x9C40244Cu);
static_assert(REQ_GET_ALIGNMENT == 0x9C402450u);
static_assert(REQ_GET_QUICKTOUCH == 0x9C40245Cu);

// wTag2 of every request, and wTag1 of REQ_GET_TOUCHSCREEN,
// REQ_SET_MONITOR_NUMBER and REQ_GET_ALIGNMENT.
inline constexpr WORD REQ_TAG = 10;

// iMonitor sent in REQ_GET_TOUCHSCREEN.
inline constexpr LONG REQ_ENUM_MONITOR = 0x0000FFFF;

// ---------------------------------------------------------------- packet flags

inline constexpr DWORD PKT_KIND = 0xFF;         // report kind, the low byte
inline constexpr DWORD PKT_QUICKTOUCH = 0x80;   // quick-touch report (inside the kind byte)
inline constexpr DWORD PKT_RELEASE = 0x100;     // release report
inline constexpr DWORD PKT_FARTOUCH = 0x200;    // far-touch handling applies (quick-touch reports)

// ---------------------------------------------------------------- layouts

// The first 12 bytes of every request; REQ_BEGIN_CHANGE and REQ_END_CHANGE
// are this header alone.
struct RequestHeader {
    WORD wTag1;         // REQ_TAG in the three enumeration/assignment requests
    WORD wTag2;         // REQ_TAG in every request
    DWORD dwReserved;   // 0 where wTag1 is set
    WORD wTouchscreen;  // identifier the request is about (0 for program-wide events)
    WORD wPad;
};

// REQ_SET_XY_EVENT, REQ_SET_QUICKTOUCH_EVENT, REQ_SET_ADDMON_EVENT,
// REQ_SET_REMOVE_EVENT, REQ_CLEAR_EVENT.
struct EventRequest {
    RequestHeader header;
    DWORD hEventR0;  // ring-0 event handle, or 0
};

// REQ_GET_TOUCH: one touch report.
struct TouchPacket {
    RequestHeader header;
    DWORD dwSpare;
    LONG iX;  // virtual-desktop pixels
    LONG iY;
    LONG iZ;
    DWORD dwFlags;  // PKT_* flags
};

// REQ_SET_MONITOR_RECT. The order is top, left, bottom, right.
struct MonitorRectRequest {
    RequestHeader header;
    LONG iMonitor;
    LONG iTop;
    LONG iLeft;
    LONG iBottom;
    LONG iRight;
};

// REQ_GET_TOUCHSCREEN: the driver's description of one touchscreen.
struct TouchscreenRecord {
    RequestHeader header;  // wTouchscreen: enumeration index in, identifier out
    LONG iMonitor;         // REQ_ENUM_MONITOR in; assigned monitor or -1 out
    BYTE abDriverData[72];
    CHAR szSerialNumber[18];   // NUL-terminated inside the field
    CHAR szRegistryPath[256];  // sub-key under HKEY_LOCAL_MACHINE, NUL-terminated
    CHAR szDriverText[258];
};

// REQ_SET_MONITOR_NUMBER.
struct MonitorNumberRequest {
    RequestHeader header;
    LONG iMonitor;
    DWORD dwAssign;  // always 1
};

// REQ_GET_ALIGNMENT: sent with default values, returned with the driver's.
struct AlignmentRequest {
    RequestHeader header;
    LONG OffsetX;
    LONG ScrDx;
    LONG Dx;
    LONG OffsetY;
    LONG ScrDy;
    LONG Dy;
    LONG SwapXY;
};

// REQ_GET_QUICKTOUCH.
struct QuickTouchRequest {
    RequestHeader header;
    DWORD dwQuickTouchParam;
    LONG iQuickTouchDx;  // pixels
    LONG iQuickTouchDy;
};

static_assert(sizeof(WORD) == 2 && sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(BYTE) == 1 &&
              sizeof(CHAR) == 1);

static_assert(sizeof(RequestHeader) == 12);
static_assert(offsetof(RequestHeader, wTag1) == 0);
static_assert(offsetof(RequestHeader, wTag2) == 2);
static_assert(offsetof(RequestHeader, dwReserved) == 4);
static_assert(offsetof(RequestHeader, wTouchscreen) == 8);
static_assert(offsetof(RequestHeader, wPad) == 10);

static_assert(sizeof(EventRequest) == 16);
static_assert(offsetof(EventRequest, hEventR0) == 12);

static_assert(sizeof(TouchPacket) == 32);
static_assert(offsetof(TouchPacket, dwSpare) == 12);
static_assert(offsetof(TouchPacket, iX) == 16);
static_assert(offsetof(TouchPacket, iY) == 20);
static_assert(offsetof(TouchPacket, iZ) == 24);
static_assert(offsetof(TouchPacket, dwFlags) == 28);

static_assert(sizeof(MonitorRectRequest) == 32);
static_assert(offsetof(MonitorRectRequest, iMonitor) == 12);
static_assert(offsetof(MonitorRectRequest, iTop) == 16);
static_assert(offsetof(MonitorRectRequest, iLeft) == 20);
static_assert(offsetof(MonitorRectRequest, iBottom) == 24);
static_assert(offsetof(MonitorRectRequest, iRight) == 28);

static_assert(sizeof(TouchscreenRecord) == 620);
static_assert(offsetof(TouchscreenRecord, iMonitor) == 12);
static_assert(offsetof(TouchscreenRecord, abDriverData) == 16);
static_assert(offsetof(TouchscreenRecord, szSerialNumber) == 88);
static_assert(offsetof(TouchscreenRecord, szRegistryPath) == 106);
static_assert(offsetof(TouchscreenRecord, szDriverText) == 362);

static_assert(sizeof(MonitorNumberRequest) == 20);
static_assert(offsetof(MonitorNumberRequest, iMonitor) == 12);
static_assert(offsetof(MonitorNumberRequest, dwAssign) == 16);

static_assert(sizeof(AlignmentRequest) == 40);
static_assert(offsetof(AlignmentRequest, OffsetX) == 12);
static_assert(offsetof(AlignmentRequest, ScrDx) == 16);
static_assert(offsetof(AlignmentRequest, Dx) == 20);
static_assert(offsetof(AlignmentRequest, OffsetY) == 24);
static_assert(offsetof(AlignmentRequest, ScrDy) == 28);
static_assert(offsetof(AlignmentRequest, Dy) == 32);
static_assert(offsetof(AlignmentRequest, SwapXY) == 36);

static_assert(sizeof(QuickTouchRequest) == 24);
static_assert(offsetof(QuickTouchRequest, dwQuickTouchParam) == 12);
static_assert(offsetof(QuickTouchRequest, iQuickTouchDx) == 16);
static_assert(offsetof(QuickTouchRequest, iQuickTouchDy) == 20);

// ---------------------------------------------------------------- lookups

// The constant's name ("REQ_GET_TOUCH"), or nullptr for a code the driver
// does not know.
constexpr const char* RequestName(DWORD code) {
    switch (code) {
    case REQ_SET_XY_EVENT: return "REQ_SET_XY_EVENT";
    case REQ_GET_TOUCH: return "REQ_GET_TOUCH";
    case REQ_SET_MONITOR_RECT: return "REQ_SET_MONITOR_RECT";
    case REQ_CLEAR_EVENT: return "REQ_CLEAR_EVENT";
    case REQ_SET_ADDMON_EVENT: return "REQ_SET_ADDMON_EVENT";
    case REQ_SET_REMOVE_EVENT: return "REQ_SET_REMOVE_EVENT";
    case REQ_SET_QUICKTOUCH_EVENT: return "REQ_SET_QUICKTOUCH_EVENT";
    case REQ_BEGIN_CHANGE: return "REQ_BEGIN_CHANGE";
    case REQ_END_CHANGE: return "REQ_END_CHANGE";
    case REQ_GET_TOUCHSCREEN: return "REQ_GET_TOUCHSCREEN";
    case REQ_SET_MONITOR_NUMBER: return "REQ_SET_MONITOR_NUMBER";
    case REQ_GET_ALIGNMENT: return "REQ_GET_ALIGNMENT";
    case REQ_GET_QUICKTOUCH: return "REQ_GET_QUICKTOUCH";
    default: return nullptr;
    }
}

// The buffer size of the request, in both directions; 0 for an unknown code.
constexpr DWORD RequestSize(DWORD code) {
    switch (code) {
    case REQ_SET_XY_EVENT:
    case REQ_CLEAR_EVENT:
    case REQ_SET_ADDMON_EVENT:
    case REQ_SET_REMOVE_EVENT:
    case REQ_SET_QUICKTOUCH_EVENT: return sizeof(EventRequest);
    case REQ_GET_TOUCH: return sizeof(TouchPacket);
    case REQ_SET_MONITOR_RECT: return sizeof(MonitorRectRequest);
    case REQ_BEGIN_CHANGE:
    case REQ_END_CHANGE: return sizeof(RequestHeader);
    case REQ_GET_TOUCHSCREEN: return sizeof(TouchscreenRecord);
    case REQ_SET_MONITOR_NUMBER: return sizeof(MonitorNumberRequest);
    case REQ_GET_ALIGNMENT: return sizeof(AlignmentRequest);
    case REQ_GET_QUICKTOUCH: return sizeof(QuickTouchRequest);
    default: return 0;
    }
}
