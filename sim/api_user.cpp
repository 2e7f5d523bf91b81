// USER32 functions of the simulated machine: window classes, windows,
// message queues, registered messages, painting stubs and message boxes.
// Window procedures always run on the calling thread without the kernel lock.
#include <algorithm>
#include <cstring>

#include "api_common.h"

using sim::Kernel;
using sim::Machine;

using sim::api::Call;
using sim::api::K;
using sim::api::lower;

namespace {

bool is_int_resource(LPCSTR p) { return (reinterpret_cast<uintptr_t>(p) >> 16) == 0; }

// Hands every message that other threads sent to the calling thread to its
// window procedure, oldest first, as Windows does inside the functions that
// read the message queue and inside modal loops. The procedure runs without
// the kernel lock; its result goes back to the sender.
void deliver_sent(Call& c) {
    while (auto s = c.k.take_sent_locked(c.t)) {
        Kernel::Window* w = c.k.window_locked(s->h);
        WNDPROC proc = w && !w->destroying ? w->proc : nullptr;
        LRESULT r = 0;
        if (proc) {
            c.lk.unlock();
            try {
                r = proc(s->h, s->msg, s->wparam, s->lparam);
            } catch (...) {
                c.lk.lock();
                c.k.answer_sent_locked(*s, 0);
                throw;
            }
            c.lk.lock();
        }
        c.k.answer_sent_locked(*s, r);
        c.k.check_kill_locked(c.t);
    }
}

}  // namespace

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
    Call c;
    if (c.fails("RegisterClassA", ERROR_NOT_ENOUGH_MEMORY)) return 0;
    if (!lpWndClass || !lpWndClass->lpszClassName || is_int_resource(lpWndClass->lpszClassName) ||
        !lpWndClass->lpfnWndProc) {
        c.error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string name = lpWndClass->lpszClassName;
    auto& classes = c.t->proc->classes;
    if (classes.count(lower(name))) {
        c.error(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    Kernel::ClassInfo info;
    info.wc = *lpWndClass;
    info.name = name;
    if (lpWndClass->lpszMenuName && !is_int_resource(lpWndClass->lpszMenuName)) info.menu = lpWndClass->lpszMenuName;
    info.wc.lpszClassName = nullptr;
    info.wc.lpszMenuName = nullptr;
    classes[lower(name)] = info;
    return c.k.new_atom_locked();
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    HWND h = nullptr;
    WNDPROC proc = nullptr;
    {
        Call c;
        if (Machine::current().config().refuse_create_window) {
            c.error(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (!lpClassName || is_int_resource(lpClassName)) sim::not_simulated("CreateWindowExA with a class atom");
        if (hWndParent) sim::not_simulated("CreateWindowExA of a child or owned window");
        if (c.fails("CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
        auto& classes = c.t->proc->classes;
        auto it = classes.find(lower(lpClassName));
        if (it == classes.end()) {
            c.error(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        Kernel::Window w;
        w.cls = it->second.name;
        w.title = lpWindowName ? lpWindowName : "";
        w.proc = it->second.wc.lpfnWndProc;
        w.t = c.t;
        w.p = c.t->proc;
        w.style = dwStyle;
        w.ex_style = dwExStyle;
        if (X != CW_USEDEFAULT && nWidth != CW_USEDEFAULT) {
            w.rect.left = X;
            w.rect.top = Y;
            w.rect.right = X + nWidth;
            w.rect.bottom = Y + nHeight;
        }
        proc = w.proc;
        h = c.k.new_window_locked(std::move(w));
    }
    CREATESTRUCTA cs{};
    cs.lpCreateParams = lpParam;
    cs.hInstance = hInstance;
    cs.hMenu = hMenu;
    cs.hwndParent = hWndParent;
    cs.cy = nHeight;
    cs.cx = nWidth;
    cs.y = Y;
    cs.x = X;
    cs.style = static_cast<LONG>(dwStyle);
    cs.lpszName = lpWindowName;
    cs.lpszClass = lpClassName;
    cs.dwExStyle = dwExStyle;
    auto lp = reinterpret_cast<LPARAM>(&cs);
    if (proc(h, WM_NCCREATE, 0, lp) == 0) {
        Call c;
        if (auto* w = c.k.window_locked(h)) w->alive = false;
        return nullptr;
    }
    if (proc(h, WM_CREATE, 0, lp) == -1) {
        DestroyWindow(h);
        return nullptr;
    }
    // Created visible, a top-level window is shown and activated: it needs
    // painting and gets the keyboard.
    if (dwStyle & WS_VISIBLE) {
        Call c;
        if (auto* w = c.k.window_locked(h)) {
            w->visible = true;
            w->invalid = true;
            c.k.set_foreground_locked(h);
        }
    }
    return h;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    WNDPROC proc = nullptr;
    {
        Call c;
        Kernel::Window* w = c.k.window_locked(hWnd);
        if (!w || w->destroying) {
            c.error(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->t != c.t) {
            c.error(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        w->destroying = true;
        proc = w->proc;
    }
    proc(hWnd, WM_DESTROY, 0, 0);
    proc(hWnd, WM_NCDESTROY, 0, 0);
    Call c;
    if (Kernel::Window* w = c.k.window_locked(hWnd)) {
        c.k.record_topmost_locked(*w, true);
        w->alive = false;
        auto& q = w->t->queue;
        for (auto it = q.begin(); it != q.end();)
            it = it->hwnd == hWnd ? q.erase(it) : it + 1;
        // Its timers go with it, and it no longer has the keyboard.
        auto& timers = w->t->timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const auto& tm) { return tm.h == hWnd; }),
                     timers.end());
        if (c.k.foreground_locked() == hWnd) c.k.set_foreground_locked(nullptr);
    }
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    Call c;
    Kernel::Window* w = c.k.window_locked(hWnd);
    return w && !w->destroying ? TRUE : FALSE;
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
    Call c;
    for (Kernel::Window* w : c.k.live_windows_locked()) {
        if (w->destroying) continue;
        if (lpClassName && lower(w->cls) != lower(lpClassName)) continue;
        if (lpWindowName && w->title != lpWindowName) continue;
        return w->h;
    }
    c.error(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_QUERYENDSESSION:
        // A window that does not handle it agrees to the end of the session.
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_PAINT: {
        // Validates the window, as BeginPaint and EndPaint would.
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    default:
        return 0;
    }
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (hWnd || wMsgFilterMin || wMsgFilterMax) sim::not_simulated("GetMessageA with a filter");
    Call c;
    while (true) {
        // Sent messages first: they never reach the queue.
        deliver_sent(c);
        c.t->posted_seen = c.t->posted;
        auto& q = c.t->queue;
        if (!q.empty()) {
            *lpMsg = q.front();
            q.pop_front();
            lpMsg->pt.x = 0;
            lpMsg->pt.y = 0;
            return lpMsg->message == WM_QUIT ? FALSE : TRUE;
        }
        if (c.t->quit) {
            c.t->quit = false;
            std::memset(lpMsg, 0, sizeof *lpMsg);
            lpMsg->message = WM_QUIT;
            lpMsg->wParam = static_cast<WPARAM>(c.t->quit_code);
            lpMsg->time = static_cast<DWORD>(c.k.now_us() / 1000);
            return FALSE;
        }
        // WM_PAINT and WM_TIMER are made only now, when nothing is queued.
        uint64_t next_us = UINT64_MAX;
        if (c.k.generated_message_locked(c.t, lpMsg, true, &next_us)) return TRUE;
        // A thread waiting for messages makes its process ready for input.
        if (!c.t->proc->idle->signalled) {
            c.t->proc->idle->signalled = true;
            c.k.signal_locked(*c.t->proc->idle);
        }
        c.k.wait_locked(c.lk, c.t, {c.t->queue_obj, c.t->sent_obj}, {}, false, c.k.ms_until_locked(next_us));
    }
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (hWnd || wMsgFilterMin || wMsgFilterMax) sim::not_simulated("PeekMessageA with a filter");
    Call c;
    // Sent messages are handled here, as in GetMessageA.
    deliver_sent(c);
    c.t->posted_seen = c.t->posted;  // what MsgWaitForMultipleObjects counts as new input
    auto& q = c.t->queue;
    if (!q.empty()) {
        if (lpMsg) {
            *lpMsg = q.front();
            lpMsg->pt.x = 0;
            lpMsg->pt.y = 0;
        }
        if (wRemoveMsg & PM_REMOVE) q.pop_front();
        return TRUE;
    }
    if (c.t->quit) {
        if (wRemoveMsg & PM_REMOVE) c.t->quit = false;
        if (lpMsg) {
            std::memset(lpMsg, 0, sizeof *lpMsg);
            lpMsg->message = WM_QUIT;
            lpMsg->wParam = static_cast<WPARAM>(c.t->quit_code);
            lpMsg->time = static_cast<DWORD>(c.k.now_us() / 1000);
        }
        return TRUE;
    }
    MSG generated;
    uint64_t next_us = UINT64_MAX;
    if (c.k.generated_message_locked(c.t, &generated, (wRemoveMsg & PM_REMOVE) != 0, &next_us)) {
        if (lpMsg) *lpMsg = generated;
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Call c;
    Kernel::ThreadCtx* t = c.k.thread_by_id_locked(idThread);
    if (t && !t->ended) {
        c.k.post_locked(t, nullptr, Msg, wParam, lParam);
        return TRUE;
    }
    c.error(ERROR_INVALID_THREAD_ID);
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    WNDPROC proc = nullptr;
    {
        Call c;
        if (!lpMsg || !lpMsg->hwnd) return 0;
        Kernel::Window* w = c.k.window_locked(lpMsg->hwnd);
        if (!w) {
            c.error(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (w->t != c.t) {
            c.error(ERROR_ACCESS_DENIED);
            return 0;
        }
        proc = w->proc;
    }
    return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Machine& m = Machine::current();
    Call c;
    if (c.fails("PostMessageA", ERROR_NOT_ENOUGH_QUOTA)) return FALSE;
    if (hWnd == HWND_BROADCAST) {
        sim::Fields f = sim::Fields::object();
        f["message"] = c.k.message_name_locked(Msg);
        f["wparam"] = static_cast<uint64_t>(wParam);
        f["lparam"] = static_cast<int64_t>(lParam);
        m.trace().add("broadcast", f);
        for (Kernel::Window* w : c.k.live_windows_locked())
            if (!w->destroying) c.k.post_locked(w->t, w->h, Msg, wParam, lParam);
        return TRUE;
    }
    if (!hWnd) {
        c.k.post_locked(c.t, nullptr, Msg, wParam, lParam);
        return TRUE;
    }
    Kernel::Window* w = c.k.window_locked(hWnd);
    if (!w || w->destroying) {
        c.error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    c.k.post_locked(w->t, hWnd, Msg, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                                   PDWORD_PTR lpdwResult) {
    if (fuFlags != SMTO_NORMAL) sim::not_simulated("SendMessageTimeoutA with flags other than SMTO_NORMAL");
    if (lpdwResult) *lpdwResult = 0;
    WNDPROC proc = nullptr;
    {
        Call c;
        if (hWnd == HWND_BROADCAST) sim::not_simulated("SendMessageTimeoutA to HWND_BROADCAST");
        Kernel::Window* w = c.k.window_locked(hWnd);
        if (!w || w->destroying) {
            c.error(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (w->t != c.t) {
            // Another thread's window: it handles the message when it next
            // reads its queue; this thread waits for the answer, at most
            // uTimeout ms (the message is then withdrawn). A receiving
            // thread that ends answers 0.
            LRESULT r = 0;
            if (!c.k.send_locked(c.lk, c.t, hWnd, Msg, wParam, lParam, uTimeout, &r)) {
                c.error(c.k.window_locked(hWnd) ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
                return 0;
            }
            if (lpdwResult) *lpdwResult = static_cast<DWORD_PTR>(r);
            return 1;
        }
        proc = w->proc;
    }
    const LRESULT r = proc(hWnd, Msg, wParam, lParam);
    if (lpdwResult) *lpdwResult = static_cast<DWORD_PTR>(r);
    return 1;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == HWND_BROADCAST) sim::not_simulated("SendMessageA to HWND_BROADCAST");
    DWORD_PTR dwResult = 0;
    SendMessageTimeoutA(hWnd, Msg, wParam, lParam, SMTO_NORMAL, INFINITE, &dwResult);
    return static_cast<LRESULT>(dwResult);
}

void WINAPI PostQuitMessage(int nExitCode) {
    Call c;
    c.t->quit = true;
    c.t->quit_code = nExitCode;
    c.k.signal_locked(*c.t->queue_obj);
}

UINT WINAPI RegisterWindowMessageA(LPCSTR lpString) {
    Call c;
    if (c.fails("RegisterWindowMessageA", ERROR_NOT_ENOUGH_MEMORY)) return 0;
    if (!lpString || !*lpString) {
        c.error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return c.k.register_message_locked(lpString);
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
    if (hInstance || !is_int_resource(lpIconName)) sim::not_simulated("LoadIconA of a resource of the program");
    return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x20000 + reinterpret_cast<uintptr_t>(lpIconName)));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    if (hInstance || !is_int_resource(lpCursorName)) sim::not_simulated("LoadCursorA of a resource of the program");
    return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x30000 + reinterpret_cast<uintptr_t>(lpCursorName)));
}

// The device context of a window's painting stands for the window: its
// handle plus kPaintDc (api_gui.cpp finds the window from it).
HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    Call c;
    Kernel::Window* w = c.k.window_locked(hWnd);
    if (!w || !lpPaint) {
        c.error(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    w->invalid = false;
    w->painted.clear();
    std::memset(lpPaint, 0, sizeof *lpPaint);
    lpPaint->hdc = sim::api::paint_dc(hWnd);
    lpPaint->rcPaint.right = w->rect.right - w->rect.left;
    lpPaint->rcPaint.bottom = w->rect.bottom - w->rect.top;
    return lpPaint->hdc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT*) {
    Call c;
    if (Kernel::Window* w = c.k.window_locked(hWnd)) c.k.record_topmost_locked(*w, false);
    return TRUE;
}

// A message box, as Windows and Wine run one: MessageBoxA does not return
// until the box is closed, and meanwhile runs a modal message loop on the
// calling thread that dispatches every message posted to that thread's
// windows (re-entering their window procedures); a message posted to the
// thread itself (no window) is taken and lost. A WM_QUIT that the loop
// meets (posted before or while the box is open) closes the box and is
// posted again, so that the caller's own loop ends as well; MessageBoxA then
// returns IDOK. While it is open the box is a top-level window of the
// thread (class "#32770", the caption as its title) that answers the session
// end as DefWindowProcA does and closes with IDOK on WM_CLOSE or its OK
// button. Unless the machine holds message boxes, a box is answered with
// IDOK at once, before its loop has met any message.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    Machine& m = Machine::current();
    sim::Fields f = sim::Fields::object();
    f["text"] = lpText ? lpText : "";
    f["caption"] = lpCaption ? lpCaption : "Error";
    f["style"] = uType;
    f["owner"] = hWnd != nullptr;
    std::shared_ptr<Kernel::MessageBoxRecord> box;
    {
        Call c;
        f["thread"] = c.t->id;
        m.trace().add("msgbox", f);
        box = c.k.hold_message_box_locked(c.t, f["text"].get<std::string>(), f["caption"].get<std::string>(), uType);
        if (!box) return IDOK;
    }
    auto closed = [&](const char* by) {
        sim::Fields g = sim::Fields::object();
        g["text"] = box->text;
        g["caption"] = box->caption;
        g["thread"] = f["thread"];
        g["by"] = by;
        g["result"] = IDOK;
        m.trace().add("msgbox_closed", g);
        return IDOK;
    };
    for (;;) {
        MSG msg{};
        {
            Call c;
            if (box->release->signalled) break;
            deliver_sent(c);
            if (box->release->signalled) break;
            auto& q = c.t->queue;
            if (!q.empty()) {
                msg = q.front();
                q.pop_front();
            } else if (uint64_t next_us = UINT64_MAX; !c.t->quit && c.k.generated_message_locked(c.t, &msg, true, &next_us)) {
                // WM_PAINT and WM_TIMER of the thread's windows go on in
                // the box's loop.
            } else if (c.t->quit) {
                // Taken by the box's loop and posted again: the quit stays
                // pending for the caller's loop.
                c.k.close_message_box_locked(box);
                c.lk.unlock();
                return closed("quit");
            } else {
                // Waiting in its loop, the thread is idle for input and
                // handles messages sent to its windows, as in GetMessageA.
                if (!c.t->proc->idle->signalled) {
                    c.t->proc->idle->signalled = true;
                    c.k.signal_locked(*c.t->proc->idle);
                }
                c.k.wait_locked(c.lk, c.t, {box->release, c.t->queue_obj, c.t->sent_obj}, {}, false,
                                c.k.ms_until_locked(next_us));
                continue;
            }
        }
        if (msg.message == WM_QUIT) {
            // A quit posted as a message (PostThreadMessageA) ends the box
            // the same way, and is posted again as the thread's quit.
            PostQuitMessage(static_cast<int>(msg.wParam));
            {
                Call c;
                c.k.close_message_box_locked(box);
            }
            return closed("quit");
        }
        if (msg.hwnd) DispatchMessageA(&msg);
    }
    return closed("user");
}
