// USER32 and GDI32 functions of the simulated machine for a program with a
// visible window (the set-up wizard RykXyMap): timers, showing, painting and
// the keyboard's window. Nothing is drawn: the text a window paints is kept
// and, for a visible topmost window, recorded in the trace
// (`topmost_window`), so that a run shows what stood on which monitor.
#include <algorithm>
#include <cstring>

#include "api_common.h"

using sim::Kernel;

using sim::api::Call;

namespace {

// Windows clamps a timer's interval to 10 ms .. 0x7FFFFFFF ms
// (USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM).
uint32_t clamp_interval(UINT ms) {
    if (ms < 10) return 10;
    if (ms > 0x7FFFFFFFu) return 0x7FFFFFFFu;
    return ms;
}

}  // namespace

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (lpTimerFunc) sim::not_simulated("SetTimer with a TIMERPROC");
    if (!hWnd) sim::not_simulated("SetTimer without a window");
    Call c;
    Kernel::Window* w = c.k.window_locked(hWnd);
    if (!w || w->destroying) {
        c.error(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->t != c.t) {
        // A timer belongs to the thread of its window.
        c.error(ERROR_ACCESS_DENIED);
        return 0;
    }
    auto& timers = c.t->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const auto& tm) { return tm.h == hWnd && tm.id == nIDEvent; });
    Kernel::ThreadCtx::Timer tm;
    tm.h = hWnd;
    tm.id = nIDEvent;
    tm.ms = clamp_interval(uElapse);
    tm.due_us = c.k.now_us() + uint64_t(tm.ms) * 1000;
    // The same window and identifier: the timer is replaced (restarted).
    if (it != timers.end()) *it = tm;
    else timers.push_back(tm);
    return nIDEvent == 0 ? 1 : nIDEvent;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    Call c;
    auto& timers = c.t->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const auto& tm) { return tm.h == hWnd && tm.id == uIDEvent; });
    if (it == timers.end()) {
        c.error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    timers.erase(it);
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    Call c;
    Kernel::Window* w = c.k.window_locked(hWnd);
    if (!w || w->destroying) {
        c.error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const BOOL was_visible = w->visible ? TRUE : FALSE;
    if (nCmdShow == SW_HIDE) {
        w->visible = false;
        c.k.record_topmost_locked(*w, true);
        if (c.k.foreground_locked() == hWnd) c.k.set_foreground_locked(nullptr);
        return was_visible;
    }
    if (!w->visible) w->invalid = true;
    w->visible = true;
    if (nCmdShow != SW_SHOWNA && nCmdShow != SW_SHOWNOACTIVATE) c.k.set_foreground_locked(hWnd);
    return was_visible;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    WNDPROC proc = nullptr;
    {
        Call c;
        Kernel::Window* w = c.k.window_locked(hWnd);
        if (!w || w->destroying) {
            c.error(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->t != c.t) sim::not_simulated("UpdateWindow of another thread's window");
        if (!w->invalid) return TRUE;
        proc = w->proc;
    }
    // Sent straight to the window procedure, past the queue.
    proc(hWnd, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT*, BOOL) {
    if (!hWnd) sim::not_simulated("InvalidateRect of every window");
    Call c;
    Kernel::Window* w = c.k.window_locked(hWnd);
    if (!w || w->destroying) {
        c.error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The whole window, whatever part is given: it is all one text.
    w->invalid = true;
    c.k.signal_locked(*w->t->queue_obj);
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    Call c;
    Kernel::Window* w = c.k.window_locked(hWnd);
    if (!w || !lpRect) {
        c.error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->style & (WS_CAPTION | WS_THICKFRAME)) sim::not_simulated("GetClientRect of a window with a frame");
    lpRect->left = lpRect->top = 0;
    lpRect->right = w->rect.right - w->rect.left;
    lpRect->bottom = w->rect.bottom - w->rect.top;
    return TRUE;
}

BOOL WINAPI SetForegroundWindow(HWND hWnd) {
    Call c;
    Kernel::Window* w = c.k.window_locked(hWnd);
    if (!w || w->destroying) return FALSE;
    c.k.set_foreground_locked(hWnd);
    return TRUE;
}

int WINAPI DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
    (void)format;
    Call c;
    Kernel::Window* w = c.k.window_locked(sim::api::paint_window(hdc));
    if (!w || !lpchText || !lprc) {
        c.error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t n = cchText < 0 ? std::strlen(lpchText) : static_cast<size_t>(cchText);
    w->painted.emplace_back(lpchText, n);
    // The height of the text drawn; one line of a nominal 16 pixels per
    // line break, at least one.
    return 16 * (1 + static_cast<int>(std::count(lpchText, lpchText + n, '\n')));
}

int WINAPI FillRect(HDC, const RECT* lprc, HBRUSH) { return lprc ? 1 : 0; }

// ------------------------------------------------------------------ GDI32

namespace {
uintptr_t next_font = 0x50001;
}

HFONT WINAPI CreateFontA(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, LPCSTR) {
    Call c;
    return reinterpret_cast<HFONT>(next_font++);
}

HGDIOBJ WINAPI SelectObject(HDC, HGDIOBJ h) {
    // The object it replaces: the device context's default font.
    return h ? reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x5FFFF)) : nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) { return ho ? TRUE : FALSE; }

HGDIOBJ WINAPI GetStockObject(int i) { return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x60000 + i)); }

int WINAPI SetBkMode(HDC, int) { return 2; /* OPAQUE, the default */ }

COLORREF WINAPI SetTextColor(HDC, COLORREF) { return 0; /* black, the default */ }
