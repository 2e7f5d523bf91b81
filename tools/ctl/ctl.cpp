// RykXyCtl: gives RykXyLdr its commands from a script or a prompt.
//
//   RykXyCtl assign MONITOR TOUCHSCREEN   RykXyCtl refresh [--keep]
//   RykXyCtl right-button on|off|toggle   RykXyCtl status
//
// Commands go to RykXyLdr's hidden window as the registered message
// "RykPlexor4683"; RykXyLdr answers assign and refresh with a broadcast of
// "Quavel4683" (wParam 2, lParam the result), which reaches top-level windows
// only. So the answer window exists and both messages are registered before
// the command is posted: an answer that comes at once is not missed.
//
// RykXyLdr answers a rebuild with (2, 0) even when the rebuilt list is empty;
// it then ends with exit code 2. So after an answer RykXyCtl checks that
// RykXyLdr goes on reading its queue (StillRuns).
#include "ctl.h"

#include "../common/tool.h"
#include "app/commands.h"

using namespace ryktool;

namespace {

enum Exit {
    EXIT_DONE = 0,
    EXIT_FAILED = 1,
    EXIT_NOT_RUNNING = 2,
    EXIT_NO_REPLY = 3,
    EXIT_ENDED_AFTER_ANSWER = 4,
    EXIT_CANNOT_SEND = 5,
    EXIT_USAGE = 64,
};

const char kUsage[] =
    "Usage: RykXyCtl [--timeout MS] COMMAND\r\n"
    "Gives RykXyLdr, the touchscreen program, a command.\r\n"
    "\r\n"
    "  assign MONITOR TOUCHSCREEN  serve touchscreen TOUCHSCREEN on monitor MONITOR\r\n"
    "                              (numbers from 0, as RykXyProbe lists them)\r\n"
    "  refresh [--keep]            rebuild the touchscreen list from the driver;\r\n"
    "                              --keep: keep the list, only ask for the answer\r\n"
    "  right-button on|off|toggle  touches press the right mouse button (on) or the left\r\n"
    "  status                      whether RykXyLdr runs, and the monitors Windows reports\r\n"
    "\r\n"
    "  --timeout MS                wait this long for RykXyLdr's answer, and as long again for\r\n"
    "                              the check that it still runs afterwards (default 5000)\r\n"
    "  --help                      this text\r\n"
    "\r\n"
    "Exit codes: 0 done; 1 RykXyLdr answered that it failed; 2 RykXyLdr is not running;\r\n"
    "3 no answer in time; 4 RykXyLdr answered and then ended (refresh: the driver gave no\r\n"
    "touchscreen, RykXyLdr quit with its exit code 2); 5 RykXyCtl could not send the command\r\n"
    "(a failure of its own); 64 usage error (nothing was sent).\r\n";

const DWORD kDefaultTimeout = 5000;
const DWORD kMaxTimeout = 3600000;
const DWORD kMaxWord = 0xFFFF;

enum Command { CMD_NONE, CMD_ASSIGN, CMD_REFRESH, CMD_RIGHT, CMD_STATUS };

struct Request {
    Command cmd;
    DWORD dwMonitor, dwTouchscreen;  // assign
    bool bKeep;                      // refresh
    int nRight;                      // right-button: 1 on, 0 off, -1 toggle
    DWORD dwTimeout;
    bool bHelp;
};

int Usage(const char* pszWhat, const char* pszWord) {
    Out err(STD_ERROR_HANDLE);
    err.Text("RykXyCtl: ").Text(pszWhat);
    if (pszWord) err.Text(" \"").Text(pszWord).Text("\"");
    err.Line().Text("Try RykXyCtl --help.").Line();
    return EXIT_USAGE;
}

// 0 when the command line is sound, else the usage error's exit code.
int Parse(const Args& a, Request* r) {
    r->cmd = CMD_NONE;
    r->dwMonitor = r->dwTouchscreen = 0;
    r->bKeep = false;
    r->nRight = -1;
    r->dwTimeout = kDefaultTimeout;
    r->bHelp = false;
    if (a.bTooLong) return Usage("the command line is too long", nullptr);

    const char* words[Args::MAX_ARGS];
    int nWords = 0;
    for (int i = 1; i < a.argc; ++i) {
        const char* w = a.argv[i];
        if (Same(w, "--help") || Same(w, "-h") || Same(w, "/?")) {
            r->bHelp = true;
        } else if (Same(w, "--timeout")) {
            if (i + 1 >= a.argc) return Usage("--timeout needs a number of milliseconds", nullptr);
            if (!ParseNumber(a.argv[++i], kMaxTimeout, &r->dwTimeout) || r->dwTimeout == 0)
                return Usage("--timeout takes milliseconds from 1 to 3600000, not", a.argv[i]);
        } else if (Same(w, "--keep")) {
            r->bKeep = true;
        } else if (w[0] == '-' && w[1]) {
            return Usage("unknown option", w);
        } else {
            words[nWords++] = w;
        }
    }
    if (r->bHelp) return 0;
    if (nWords == 0) return Usage("no command given (assign, refresh, right-button or status)", nullptr);

    const char* pszCmd = words[0];
    int nWant = 0;
    if (Same(pszCmd, "assign")) {
        r->cmd = CMD_ASSIGN;
        nWant = 2;
    } else if (Same(pszCmd, "refresh")) {
        r->cmd = CMD_REFRESH;
    } else if (Same(pszCmd, "right-button")) {
        r->cmd = CMD_RIGHT;
        nWant = 1;
    } else if (Same(pszCmd, "status")) {
        r->cmd = CMD_STATUS;
    } else {
        return Usage("unknown command", pszCmd);
    }
    if (r->bKeep && r->cmd != CMD_REFRESH) return Usage("--keep belongs to refresh, not to", pszCmd);
    if (nWords - 1 < nWant) {
        if (r->cmd == CMD_ASSIGN) return Usage("assign needs MONITOR and TOUCHSCREEN", nullptr);
        return Usage("right-button needs on, off or toggle", nullptr);
    }
    if (nWords - 1 > nWant) return Usage("too many words; the first one not understood is", words[nWant + 1]);

    if (r->cmd == CMD_ASSIGN) {
        if (!ParseNumber(words[1], kMaxWord, &r->dwMonitor))
            return Usage("MONITOR must be a number from 0 to 65535, not", words[1]);
        if (!ParseNumber(words[2], kMaxWord, &r->dwTouchscreen))
            return Usage("TOUCHSCREEN must be a number from 0 to 65535, not", words[2]);
    } else if (r->cmd == CMD_RIGHT) {
        if (Same(words[1], "on")) r->nRight = 1;
        else if (Same(words[1], "off")) r->nRight = 0;
        else if (Same(words[1], "toggle")) r->nRight = -1;
        else return Usage("right-button takes on, off or toggle, not", words[1]);
    }
    return 0;
}

int NotRunning(Out& out) {
    out.Text("RykXyLdr is not running: there is no window of class ").Text(kAppWindowClass).Text(".").Line();
    return EXIT_NOT_RUNNING;
}

// A failure of RykXyCtl's own, with the Win32 error of the call that failed.
int CannotSend(Out& out, const char* pszWhat, DWORD dwError) {
    out.Text("RykXyCtl could not send the command: ").Text(pszWhat).Text(" failed (error ")
        .Int(static_cast<LONG>(dwError)).Text(").").Line();
    return EXIT_CANNOT_SEND;
}

// A post to RykXyLdr's window failed: because the window is gone (RykXyLdr
// ended in between), or for a reason of RykXyCtl's own.
int PostFailed(Out& out, HWND hApp, DWORD dwError) {
    if (!IsWindow(hApp)) return NotRunning(out);
    return CannotSend(out, "PostMessageA to RykXyLdr's window", dwError);
}

LRESULT CALLBACK AnswerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// Posts the command and waits for RykXyLdr's answer: the first "Quavel4683"
// with wParam 2 that arrives at the answer window after the post and whose
// lParam is one the command can get (0 or 1 for assign, 0 for refresh).
// Returns the answer's lParam, or -1 when none came in time; -2 when the
// command could not be posted (*pszFailed names the call, *pdwError its
// error).
LONG PostAndWait(HWND hApp, WPARAM wCmd, LPARAM lParam, DWORD dwTimeout, bool bAssign, const char** pszFailed,
                 DWORD* pdwError) {
    const UINT msgPlexor = RegisterWindowMessageA(kPlexorMessage);
    const UINT msgQuavel = RegisterWindowMessageA(kQuavelMessage);
    HWND hAnswer = CreateAnswerWindow(AnswerWndProc, "RykXyCtlAnswer", "RykXyCtl");
    *pdwError = GetLastError();
    *pszFailed = !msgPlexor || !msgQuavel ? "RegisterWindowMessageA" : "CreateWindowExA of its answer window";
    if (!msgPlexor || !msgQuavel || !hAnswer) {
        if (hAnswer) DestroyWindow(hAnswer);
        return -2;
    }

    // Whatever is queued before the post cannot be the answer to it.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);

    LONG nAnswer = -1;
    if (!PostMessageA(hApp, msgPlexor, wCmd, lParam)) {
        *pdwError = GetLastError();
        *pszFailed = "PostMessageA";
        nAnswer = -2;
    }
    const DWORD dwStart = GetTickCount();
    while (nAnswer == -1) {
        while (nAnswer == -1 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == hAnswer && msg.message == msgQuavel && msg.wParam == NOTIFY_UPDATED &&
                (msg.lParam == 0 || (bAssign && msg.lParam == 1))) {
                nAnswer = static_cast<LONG>(msg.lParam);
            } else if (msg.hwnd) {
                DispatchMessageA(&msg);
            }
        }
        if (nAnswer != -1) break;
        const DWORD dwSpent = GetTickCount() - dwStart;
        if (dwSpent >= dwTimeout) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwTimeout - dwSpent, QS_ALLINPUT);
    }
    DestroyWindow(hAnswer);
    return nAnswer;
}

// After RykXyLdr's answer: whether it still runs. A program that quit goes
// on reading its queue only until its posted messages are done (its own
// broadcast of the answer among them), and each read answers one message
// sent to it; a program that runs on answers every one. So RykXyCtl sends
// kChecks messages one after the other: all answered with the window still
// there, it runs on. 1 runs on, 0 ended (its window is gone), -1 not known
// within dwTimeout.
int StillRuns(HWND hApp, DWORD dwTimeout) {
    const int kChecks = 4;
    const DWORD dwStart = GetTickCount();
    for (int i = 0; i < kChecks; ++i) {
        const DWORD dwSpent = GetTickCount() - dwStart;
        DWORD_PTR dwResult = 0;
        const bool bAnswered = dwSpent < dwTimeout && SendMessageTimeoutA(hApp, WM_NULL, 0, 0, SMTO_NORMAL,
                                                                          dwTimeout - dwSpent, &dwResult) != 0;
        if (!IsWindow(hApp)) return 0;
        if (!bAnswered) return -1;
    }
    return 1;
}

int Status(Out& out) {
    const Presence p = LookForRykXyLdr();
    if (p.hWindow) out.Text("RykXyLdr runs: its window (class ").Text(kAppWindowClass).Text(") exists");
    else out.Text("RykXyLdr is not running: no window of class ").Text(kAppWindowClass);
    out.Text(p.bMutex ? "; its mutex " : "; no mutex ").Text(kAppMutex).Text(p.bMutex ? " exists." : ".").Line();

    const OsKind kind = GetOsKind();
    MonitorTable t;
    BuildMonitorTable(kind, &t);
    if (t.bGrid) {
        out.Text("Monitors on Windows 95: ");
        if (t.nFailure == 0)
            out.Text("RykXyLdr cuts the primary screen (").Int(t.cxScreen).Text(" x ").Int(t.cyScreen).Text(") into ")
                .Int(t.nColumns).Text(" x ").Int(t.nRows).Text(" cells (NumXScreens x NumYScreens):");
        else
            TableFailure(out.Text("none, "), t).Text(".");
    } else {
        out.Text("Monitors as Windows reports them (EnumDisplayMonitors):");
        if (t.nFailure) TableFailure(out.Text(" none, "), t).Text(".");
    }
    out.Line();
    for (int i = 0; i < t.nCount; ++i) {
        const RECT& rc = t.rc[i];
        out.Text("  monitor ").Int(i).Text(": (").Int(rc.left).Text(", ").Int(rc.top).Text(") to (").Int(rc.right)
            .Text(", ").Int(rc.bottom).Text("), ").Int(rc.right - rc.left).Text(" x ").Int(rc.bottom - rc.top);
        if (t.bPrimary[i]) out.Text(", primary");
        out.Line();
    }
    return p.hWindow ? EXIT_DONE : EXIT_NOT_RUNNING;
}

}  // namespace

int RykXyCtlMain() {
    Args args;
    SplitCommandLine(GetCommandLineA(), &args);
    Request r;
    if (const int nUsage = Parse(args, &r)) return nUsage;
    Out out(STD_OUTPUT_HANDLE);
    if (r.bHelp) {
        out.Text(kUsage);
        return EXIT_DONE;
    }
    if (r.cmd == CMD_STATUS) return Status(out);

    HWND hApp = FindWindowA(kAppWindowClass, nullptr);
    if (!hApp) return NotRunning(out);

    if (r.cmd == CMD_RIGHT) {
        const UINT msgPlexor = RegisterWindowMessageA(kPlexorMessage);
        const WPARAM wCmd = r.nRight < 0 ? CMD_TOGGLE_RIGHT_BUTTON : CMD_SET_RIGHT_BUTTON;
        const LPARAM lParam = r.nRight > 0 ? MAKELPARAM(0, 1) : 0;
        if (!msgPlexor) return CannotSend(out, "RegisterWindowMessageA", GetLastError());
        if (!PostMessageA(hApp, msgPlexor, wCmd, lParam)) return PostFailed(out, hApp, GetLastError());
        if (r.nRight < 0)
            out.Text("Sent to RykXyLdr: toggle the right-button mode. RykXyLdr does not answer this command.");
        else
            out.Text("Sent to RykXyLdr: right-button mode ").Text(r.nRight ? "on" : "off")
                .Text(". RykXyLdr does not answer this command.");
        out.Line();
        return EXIT_DONE;
    }

    const bool bAssign = r.cmd == CMD_ASSIGN;
    const WPARAM wCmd = bAssign ? CMD_ASSIGN_MONITOR : CMD_REFRESH_LIST;
    const LPARAM lParam = bAssign ? MAKELPARAM(r.dwMonitor, r.dwTouchscreen)
                                  : static_cast<LPARAM>(r.bKeep ? REFRESH_KEEP_LIST : 0);
    const char* pszFailed = "";
    DWORD dwError = 0;
    const LONG nAnswer = PostAndWait(hApp, wCmd, lParam, r.dwTimeout, bAssign, &pszFailed, &dwError);
    if (nAnswer == -2) {
        if (Same(pszFailed, "PostMessageA")) return PostFailed(out, hApp, dwError);
        return CannotSend(out, pszFailed, dwError);
    }
    if (nAnswer == -1) {
        out.Text("No answer from RykXyLdr within ").Int(static_cast<LONG>(r.dwTimeout)).Text(" ms.").Line();
        return EXIT_NO_REPLY;
    }
    const int iRuns = StillRuns(hApp, r.dwTimeout);
    if (iRuns == 0) {
        out.Text("RykXyLdr answered and then ended: its window is gone.");
        if (!bAssign && !r.bKeep)
            out.Text(" The driver gave no touchscreen for the rebuilt list, so RykXyLdr quit (its exit code 2); "
                     "see RykXyProbe.");
        out.Line();
        return EXIT_ENDED_AFTER_ANSWER;
    }
    if (iRuns < 0) {
        out.Text("RykXyLdr answered, but did not read its messages again within ").Int(static_cast<LONG>(r.dwTimeout))
            .Text(" ms: whether it still runs is not known.").Line();
        return EXIT_NO_REPLY;
    }
    if (!bAssign) {
        out.Text(r.bKeep ? "RykXyLdr answered; it kept its touchscreen list."
                         : "RykXyLdr rebuilt its touchscreen list from the driver.")
            .Line();
        return EXIT_DONE;
    }
    if (nAnswer == 0) {
        out.Text("RykXyLdr serves touchscreen ").Int(static_cast<LONG>(r.dwTouchscreen)).Text(" on monitor ")
            .Int(static_cast<LONG>(r.dwMonitor)).Text(".").Line();
        return EXIT_DONE;
    }
    out.Text("RykXyLdr could not serve touchscreen ").Int(static_cast<LONG>(r.dwTouchscreen)).Text(" on monitor ")
        .Int(static_cast<LONG>(r.dwMonitor))
        .Text(": it has no such monitor or touchscreen, or the driver refused the touchscreen's worker.")
        .Line();
    return EXIT_FAILED;
}
