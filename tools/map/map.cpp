// RykXyMap: the set-up wizard that finds which touchscreen stands on which
// monitor.
//
// For each monitor of RykXyLdr's monitor table in turn (on Windows 95 the
// grid cells) it covers the monitor with a topmost window that asks "Touch
// this screen", and asks RykXyLdr, through "RykXyLdrReportTouch"
// (app/report.h), which touchscreen is pressed next. RykXyLdr swallows that
// touch and answers with the touchscreen. After a touch the same window
// offers the screen to another touchscreen: a touch with a further
// touchscreen joins it to the screen as well; a touch with the same
// touchscreen again, Esc, or the time-out goes on to the next screen. Esc
// before a touch skips the screen.
//
// Nothing is assigned while the screens are asked: at the end a box lists
// the plan, and OK sends one CMD_ASSIGN_MONITOR ("RykPlexor4683", wParam 1)
// per touchscreen and waits for each answer (broadcast "Quavel4683", wParam
// 2, lParam 0 done or 1 failed). If one fails, the assignments already made
// are undone (each touchscreen back to the monitor the driver reported for
// it when the wizard started, monitor 0 for none), and the box says so.
// Skipped screens and touchscreens not touched are not changed.
//
// What ends the wizard without any assignment, each with its message:
// RykXyLdr not running (exit code 2), no touch within the time-out (3), a
// touchscreen removed (4), a display change (5), cancelled (1). The same
// touchscreen touched for a second screen is refused on the screen itself,
// which asks again.
//
//   RykXyMap [--timeout MS]   (time-out per screen, default 30000)
#include "map.h"

#include "../common/tool.h"
#include "app/commands.h"
#include "app/report.h"
#include "driver/protocol.h"

using namespace ryktool;

namespace {

enum Exit {
    EXIT_ASSIGNED = 0,     // the plan was carried out (or there was nothing to do)
    EXIT_CANCELLED = 1,    // Cancel in the plan's box; or an assignment failed and was undone
    EXIT_NOT_RUNNING = 2,  // RykXyLdr is not running, or ended meanwhile
    EXIT_NO_TOUCH = 3,
    EXIT_REMOVED = 4,
    EXIT_DISPLAY = 5,
    EXIT_USAGE = 64,
};

const char kCaption[] = "RykXyMap";
const char kClass[] = "RykXyMapPrompt";
const DWORD kDefaultTimeout = 30000;
const DWORD kAnswerTimeout = 5000;  // for each CMD_ASSIGN_MONITOR
const UINT_PTR TIMER_ANSWER = 1;
const int MAX_TS = 64;

struct Screen {      // a touchscreen as the driver reported it at the start
    char szSerial[32];
    LONG iMonitor;   // the driver's monitor; -1 none
};

struct Wizard {
    HWND hApp;
    HWND hPrompt;
    UINT msgReport, msgPlexor, msgQuavel;
    DWORD dwTimeout;
    MonitorTable table;
    int iMonitor;          // the screen asked now
    bool bAgain;           // a touchscreen was touched for it: offer it to another
    LONG iLastTouched;     // on this screen
    LONG aiPlan[MAX_TS];   // monitor per touchscreen; -1 not touched
    bool abSkipped[MonitorTable::MAX];
    int nScreens;          // touchscreens at the start
    Screen screens[MAX_TS];
    char szNote[160];      // a line for the prompt: what happened last
    int nExit;             // set when the wizard ends early
    char szEnd[400];       // its message
    // CMD_ASSIGN_MONITOR's answer while the plan is carried out.
    LONG nAnswer;          // -1 none yet
};

Wizard* gpWizard = nullptr;

void Append(char* psz, int cb, const char* pszMore) {
    int n = Length(psz);
    CopyBounded(psz + n, cb - n, pszMore, cb);
}

void AppendNumber(char* psz, int cb, LONG v) {
    char sz[16];
    wsprintfA(sz, "%ld", v);
    Append(psz, cb, sz);
}

// The driver's touchscreens, read as RykXyProbe reads them: only
// REQ_GET_TOUCHSCREEN. -1 when the driver cannot be opened.
int ReadTouchscreens(Screen* pOut) {
    HANDLE hDriver = CreateFileA("\\\\.\\Orvane.vxd", 0, 0, nullptr, 0,
                                 FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hDriver == INVALID_HANDLE_VALUE) return -1;
    int n = 0;
    for (; n < MAX_TS; ++n) {
        TouchscreenRecord rec;
        BYTE* p = reinterpret_cast<BYTE*>(&rec);
        for (unsigned i = 0; i < sizeof rec; ++i) p[i] = 0;
        rec.header.wTag1 = rec.header.wTag2 = REQ_TAG;
        rec.header.wTouchscreen = static_cast<WORD>(n);
        rec.iMonitor = REQ_ENUM_MONITOR;
        DWORD dwReturned = 0;
        if (!DeviceIoControl(hDriver, REQ_GET_TOUCHSCREEN, &rec, sizeof rec, &rec, sizeof rec, &dwReturned, nullptr))
            break;
        CopyBounded(pOut[n].szSerial, sizeof pOut[n].szSerial, rec.szSerialNumber, sizeof rec.szSerialNumber);
        pOut[n].iMonitor = rec.iMonitor;
    }
    CloseHandle(hDriver);
    return n;
}

// The first touchscreen of the start that the driver no longer reports as
// it did (a removal shifts the identifiers of those after it); -1 none.
LONG RemovedTouchscreen(const Wizard& w) {
    Screen now[MAX_TS];
    const int n = ReadTouchscreens(now);
    for (int i = 0; i < w.nScreens; ++i)
        if (i >= n || !Same(now[i].szSerial, w.screens[i].szSerial)) return i;
    return -1;
}

void Finish(Wizard& w, int nExit, const char* pszWhy) {
    w.nExit = nExit;
    CopyBounded(w.szEnd, sizeof w.szEnd, pszWhy, sizeof w.szEnd);
    // The waiting request is withdrawn, so that no touch is swallowed for a
    // wizard that has gone.
    if (w.hApp && IsWindow(w.hApp)) PostMessageA(w.hApp, w.msgReport, 0, 0);
    if (w.hPrompt) DestroyWindow(w.hPrompt);
    w.hPrompt = nullptr;
    PostQuitMessage(nExit);
}

void RemovedText(LONG iTouchscreen, char* psz, int cb) {
    psz[0] = 0;
    Append(psz, cb, "Touchscreen ");
    AppendNumber(psz, cb, iTouchscreen);
    Append(psz, cb, " was removed during the set-up, so the touchscreen numbers are no longer the ones "
                    "touched. Nothing was assigned. Run RykXyMap again.");
}

void FinishRemoved(Wizard& w, LONG iTouchscreen) {
    char sz[300];
    RemovedText(iTouchscreen, sz, sizeof sz);
    Finish(w, EXIT_REMOVED, sz);
}

void Ask(Wizard& w) {
    if (!IsWindow(w.hApp)) {
        Finish(w, EXIT_NOT_RUNNING, "RykXyLdr has ended during the set-up. Nothing was assigned.");
        return;
    }
    PostMessageA(w.hApp, w.msgReport, reinterpret_cast<WPARAM>(w.hPrompt), static_cast<LPARAM>(w.dwTimeout));
}

void ShowScreen(Wizard& w);

void NextScreen(Wizard& w) {
    ++w.iMonitor;
    ShowScreen(w);
}

void ShowScreen(Wizard& w) {
    if (w.hPrompt) DestroyWindow(w.hPrompt);
    w.hPrompt = nullptr;
    if (w.iMonitor >= w.table.nCount) {
        // The last screen's request is withdrawn, so that the touch on the
        // plan's box is a click again.
        if (IsWindow(w.hApp)) PostMessageA(w.hApp, w.msgReport, 0, 0);
        PostQuitMessage(EXIT_ASSIGNED);  // the plan is shown after the loop
        return;
    }
    w.bAgain = false;
    w.iLastTouched = -1;
    w.szNote[0] = 0;
    const RECT& rc = w.table.rc[w.iMonitor];
    w.hPrompt = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClass, "RykXyMap", WS_POPUP | WS_VISIBLE, rc.left,
                                rc.top, rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (!w.hPrompt) {
        Finish(w, EXIT_CANCELLED, "RykXyMap could not open its window. Nothing was assigned.");
        return;
    }
    SetForegroundWindow(w.hPrompt);
    UpdateWindow(w.hPrompt);
    Ask(w);
}

void Redraw(Wizard& w) {
    if (w.hPrompt) {
        InvalidateRect(w.hPrompt, nullptr, TRUE);
        UpdateWindow(w.hPrompt);
    }
}

void OnTouched(Wizard& w, LONG iTouchscreen) {
    const LONG removed = RemovedTouchscreen(w);
    if (removed >= 0) {
        FinishRemoved(w, removed);
        return;
    }
    if (iTouchscreen < 0 || iTouchscreen >= w.nScreens) {
        FinishRemoved(w, iTouchscreen);
        return;
    }
    const LONG iPlanned = w.aiPlan[iTouchscreen];
    if (w.bAgain && iTouchscreen == w.iLastTouched) {
        NextScreen(w);
        return;
    }
    if (iPlanned >= 0 && iPlanned != w.iMonitor) {
        // Each touchscreen lies on one monitor: ask again.
        w.szNote[0] = 0;
        Append(w.szNote, sizeof w.szNote, "Touchscreen ");
        AppendNumber(w.szNote, sizeof w.szNote, iTouchscreen);
        Append(w.szNote, sizeof w.szNote, " was touched for monitor ");
        AppendNumber(w.szNote, sizeof w.szNote, iPlanned);
        Append(w.szNote, sizeof w.szNote, " already. Touch this screen with its own touchscreen.");
        Redraw(w);
        Ask(w);
        return;
    }
    w.aiPlan[iTouchscreen] = w.iMonitor;
    w.bAgain = true;
    w.iLastTouched = iTouchscreen;
    w.szNote[0] = 0;
    Append(w.szNote, sizeof w.szNote, "Touchscreen ");
    AppendNumber(w.szNote, sizeof w.szNote, iTouchscreen);
    Append(w.szNote, sizeof w.szNote, " is on this screen. Touch again, or Esc: next screen. "
                                      "A second touchscreen on this screen: touch with it.");
    Redraw(w);
    Ask(w);
}

void OnTimedOut(Wizard& w) {
    const LONG removed = RemovedTouchscreen(w);
    if (removed >= 0) {
        FinishRemoved(w, removed);
        return;
    }
    if (w.bAgain) {
        NextScreen(w);
        return;
    }
    char sz[300] = "No touch came within ";
    AppendNumber(sz, sizeof sz, static_cast<LONG>(w.dwTimeout / 1000));
    Append(sz, sizeof sz, " seconds on monitor ");
    AppendNumber(sz, sizeof sz, w.iMonitor);
    Append(sz, sizeof sz, ". Nothing was assigned. Run RykXyMap again and touch each screen when it asks.");
    Finish(w, EXIT_NO_TOUCH, sz);
}

void Paint(Wizard& w, HWND hWnd) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hWnd, &ps);
    RECT rc;
    GetClientRect(hWnd, &rc);
    FillRect(hdc, &rc, reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, RGB(0, 0, 0));
    const LONG cy = rc.bottom - rc.top;
    HFONT hBig = CreateFontA(static_cast<int>(cy / 8), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    HFONT hSmall = CreateFontA(static_cast<int>(cy / 24), 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HGDIOBJ>(hBig));

    char szMonitor[64] = "Monitor ";
    AppendNumber(szMonitor, sizeof szMonitor, w.iMonitor);
    Append(szMonitor, sizeof szMonitor, " of ");
    AppendNumber(szMonitor, sizeof szMonitor, w.table.nCount);
    if (w.table.bGrid) Append(szMonitor, sizeof szMonitor, " (grid cell)");

    RECT line = rc;
    line.top = rc.top + cy / 5;
    line.bottom = line.top + cy / 6;
    DrawTextA(hdc, "Touch this screen", -1, &line, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    line.top = line.bottom;
    line.bottom = line.top + cy / 6;
    DrawTextA(hdc, szMonitor, -1, &line, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(hdc, reinterpret_cast<HGDIOBJ>(hSmall));
    line.top = line.bottom;
    line.bottom = line.top + cy / 6;
    if (w.szNote[0]) DrawTextA(hdc, w.szNote, -1, &line, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    line.top = line.bottom;
    line.bottom = rc.bottom;
    DrawTextA(hdc, "Esc: skip, or cancel", -1, &line, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);

    SelectObject(hdc, hOld);
    DeleteObject(reinterpret_cast<HGDIOBJ>(hBig));
    DeleteObject(reinterpret_cast<HGDIOBJ>(hSmall));
    EndPaint(hWnd, &ps);
}

LRESULT CALLBACK PromptProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    Wizard* pw = gpWizard;
    if (pw && hWnd == pw->hPrompt) {
        Wizard& w = *pw;
        if (uMsg == WM_PAINT) {
            Paint(w, hWnd);
            return 0;
        }
        if (uMsg == WM_KEYDOWN && wParam == VK_ESCAPE) {
            // Skip this screen (or, after a touch, go on): the waiting
            // request is replaced by the next screen's.
            if (!w.bAgain) w.abSkipped[w.iMonitor] = true;
            NextScreen(w);
            return 0;
        }
        if (uMsg == w.msgReport) {
            switch (wParam) {
            case REPORT_TOUCHED: OnTouched(w, static_cast<LONG>(lParam)); break;
            case REPORT_TIMED_OUT: OnTimedOut(w); break;
            case REPORT_REFUSED:
                Finish(w, EXIT_CANCELLED, "RykXyLdr refused to report touches. Nothing was assigned.");
                break;
            default: break;  // withdrawn: replaced by this wizard's next request
            }
            return 0;
        }
    }
    if (pw && uMsg == WM_DISPLAYCHANGE) {
        Finish(*pw, EXIT_DISPLAY,
               "The display settings changed during the set-up, so the monitors may no longer be the ones shown. "
               "Nothing was assigned. Run RykXyMap again.");
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// The answer window while the plan is carried out: top-level, so that the
// broadcast reaches it.
LRESULT CALLBACK AnswerProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    Wizard* pw = gpWizard;
    if (pw && uMsg == pw->msgQuavel && wParam == NOTIFY_UPDATED && (lParam == 0 || lParam == 1) && pw->nAnswer == -1) {
        pw->nAnswer = static_cast<LONG>(lParam);
        return 0;
    }
    if (pw && uMsg == WM_TIMER && wParam == TIMER_ANSWER) {
        KillTimer(hWnd, TIMER_ANSWER);
        if (pw->nAnswer == -1) pw->nAnswer = -2;
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// One CMD_ASSIGN_MONITOR and its answer: 0 done, 1 failed, -2 no answer.
LONG Assign(Wizard& w, HWND hAnswer, LONG iMonitor, LONG iTouchscreen) {
    w.nAnswer = -1;
    if (!IsWindow(w.hApp) ||
        !PostMessageA(w.hApp, w.msgPlexor, CMD_ASSIGN_MONITOR,
                      static_cast<LPARAM>(MAKELONG(static_cast<WORD>(iMonitor), static_cast<WORD>(iTouchscreen)))))
        return -2;
    SetTimer(hAnswer, TIMER_ANSWER, kAnswerTimeout, nullptr);
    MSG msg;
    while (w.nAnswer == -1 && GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
    KillTimer(hAnswer, TIMER_ANSWER);
    return w.nAnswer;
}

int Box(const char* pszText, UINT uType) { return MessageBoxA(nullptr, pszText, kCaption, uType | MB_SYSTEMMODAL); }

// The plan, as text: one line per touched touchscreen, then the skipped
// screens.
void PlanText(const Wizard& w, char* psz, int cb) {
    for (int t = 0; t < w.nScreens; ++t) {
        if (w.aiPlan[t] < 0) continue;
        Append(psz, cb, "\r\nTouchscreen ");
        AppendNumber(psz, cb, t);
        Append(psz, cb, " on monitor ");
        AppendNumber(psz, cb, w.aiPlan[t]);
    }
    for (int m = 0; m < w.table.nCount; ++m) {
        if (!w.abSkipped[m]) continue;
        Append(psz, cb, "\r\nMonitor ");
        AppendNumber(psz, cb, m);
        Append(psz, cb, ": skipped, unchanged");
    }
}

int CarryOut(Wizard& w) {
    char sz[1024] = "RykXyMap will assign:";
    bool bAny = false;
    for (int t = 0; t < w.nScreens; ++t) bAny = bAny || w.aiPlan[t] >= 0;
    if (!bAny) {
        Box("No touchscreen was touched: nothing was assigned.", MB_OK | MB_ICONINFORMATION);
        return EXIT_ASSIGNED;
    }
    PlanText(w, sz, sizeof sz);
    Append(sz, sizeof sz, "\r\n\r\nOK: assign. Cancel: change nothing.");
    if (Box(sz, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        Box("Cancelled: nothing was assigned.", MB_OK | MB_ICONINFORMATION);
        return EXIT_CANCELLED;
    }
    // What the box's time may have changed.
    const LONG removed = RemovedTouchscreen(w);
    if (removed >= 0) {
        char szRemoved[300];
        RemovedText(removed, szRemoved, sizeof szRemoved);
        Box(szRemoved, MB_OK | MB_ICONWARNING);
        return EXIT_REMOVED;
    }
    if (!IsWindow(w.hApp)) {
        Box("RykXyLdr has ended. Nothing was assigned.", MB_OK | MB_ICONWARNING);
        return EXIT_NOT_RUNNING;
    }

    HWND hAnswer = CreateAnswerWindow(AnswerProc, "RykXyMapAnswer", "RykXyMap");
    LONG done[MAX_TS];
    int nDone = 0;
    LONG iFailed = -1;
    for (int t = 0; t < w.nScreens && hAnswer; ++t) {
        if (w.aiPlan[t] < 0) continue;
        if (Assign(w, hAnswer, w.aiPlan[t], t) != 0) {
            iFailed = t;
            break;
        }
        done[nDone++] = t;
    }
    if (!hAnswer) iFailed = 0;
    if (iFailed >= 0) {
        // Undone: each back to the monitor the driver reported at the start.
        for (int i = nDone - 1; i >= 0; --i) {
            const LONG t = done[i];
            const LONG iBack = w.screens[t].iMonitor < 0 ? 0 : w.screens[t].iMonitor;
            if (hAnswer) Assign(w, hAnswer, iBack, t);
        }
        char szFail[300] = "RykXyLdr could not assign touchscreen ";
        AppendNumber(szFail, sizeof szFail, iFailed);
        Append(szFail, sizeof szFail, ". The assignments made before it were undone: nothing was changed.");
        if (hAnswer) DestroyWindow(hAnswer);
        Box(szFail, MB_OK | MB_ICONWARNING);
        return EXIT_CANCELLED;
    }
    DestroyWindow(hAnswer);
    char szDone[1024] = "RykXyMap assigned:";
    PlanText(w, szDone, sizeof szDone);
    Box(szDone, MB_OK | MB_ICONINFORMATION);
    return EXIT_ASSIGNED;
}

bool ParseArgs(Wizard& w) {
    Args a;
    SplitCommandLine(GetCommandLineA(), &a);
    for (int i = 1; i < a.argc; ++i) {
        if (Same(a.argv[i], "--timeout") && i + 1 < a.argc &&
            ParseNumber(a.argv[i + 1], REPORT_MAX_TIMEOUT_MS, &w.dwTimeout) && w.dwTimeout >= 1000) {
            ++i;
            continue;
        }
        return false;
    }
    return !a.bTooLong;
}

}  // namespace

int RykXyMapMain() {
    static Wizard w;  // large: not on the stack
    w.hApp = w.hPrompt = nullptr;
    w.dwTimeout = kDefaultTimeout;
    w.iMonitor = 0;
    w.nExit = -1;
    w.szEnd[0] = 0;
    for (LONG& m : w.aiPlan) m = -1;
    for (bool& b : w.abSkipped) b = false;
    gpWizard = &w;

    if (!ParseArgs(w)) {
        Box("Usage: RykXyMap [--timeout MS]\r\nMS: how long each screen waits for its touch, 1000 to 600000 "
            "(default 30000).",
            MB_OK | MB_ICONWARNING);
        return EXIT_USAGE;
    }
    w.hApp = LookForRykXyLdr().hWindow;
    if (!w.hApp) {
        Box("RykXyLdr is not running, so no touchscreen can be found or assigned. Start RykXyLdr, then run "
            "RykXyMap again.",
            MB_OK | MB_ICONWARNING);
        return EXIT_NOT_RUNNING;
    }
    w.msgReport = RegisterWindowMessageA(REPORT_TOUCH_MESSAGE);
    w.msgPlexor = RegisterWindowMessageA(kPlexorMessage);
    w.msgQuavel = RegisterWindowMessageA(kQuavelMessage);
    BuildMonitorTable(GetOsKind(), &w.table);
    w.nScreens = ReadTouchscreens(w.screens);
    if (w.table.nFailure != 0 || w.table.nCount == 0 || w.nScreens <= 0 || !w.msgReport || !w.msgPlexor ||
        !w.msgQuavel) {
        Box("RykXyMap cannot see the monitors or the touchscreens as RykXyLdr does. Nothing was assigned; "
            "RykXyProbe tells what is in the way.",
            MB_OK | MB_ICONWARNING);
        return EXIT_CANCELLED;
    }

    WNDCLASSA wc = {};
    wc.lpfnWndProc = PromptProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);
    ShowScreen(w);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (w.nExit >= 0) {
        Box(w.szEnd, MB_OK | MB_ICONWARNING);
        return w.nExit;
    }
    return CarryOut(w);
}
