#include "touch/translate.h"

#include "settings/trace.h"

std::atomic<LONG> gbRightButton{0};
std::atomic<LONG> giLastX{0};
std::atomic<LONG> giLastY{0};

void MouseInput(DWORD dwFlags, DWORD dx, DWORD dy) {
    if (TraceOn())
        TraceLine("mouse", "flags=%lu dx=%ld dy=%ld", static_cast<unsigned long>(dwFlags), static_cast<long>(dx),
                  static_cast<long>(dy));
    mouse_event(dwFlags, dx, dy, 0, 0);
}

void MoveCursor(LONG x, LONG y) {
    if (TraceOn()) TraceLine("cursor", "x=%ld y=%ld", static_cast<long>(x), static_cast<long>(y));
    SetCursorPos(x, y);
}

namespace {

// The mode's button. Each action below reads the mode once, so its down and
// up (or the comparison and the press) always name the same button.
bool RightMode() { return gbRightButton.load() != 0; }

DWORD UpState(bool bRight) { return bRight ? BUTTON_RIGHT_UP : BUTTON_LEFT_UP; }
DWORD DownState(bool bRight) { return bRight ? BUTTON_RIGHT_DOWN : BUTTON_LEFT_DOWN; }

// A relative move of one unit right and one down; it follows every button-up.
void Nudge() { MouseInput(MOUSEEVENTF_MOVE, 1, 1); }

void ZeroMove() { MouseInput(MOUSEEVENTF_MOVE, 0, 0); }

void Press(bool bRight) { MouseInput(bRight ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN, 0, 0); }

void Release(bool bRight) {
    MouseInput(bRight ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP, 0, 0);
    Nudge();
}

// The button that the remembered state holds down, if any.
bool IsDown(DWORD dwButtonState) { return dwButtonState == BUTTON_LEFT_DOWN || dwButtonState == BUTTON_RIGHT_DOWN; }
bool HeldIsRight(DWORD dwButtonState) { return dwButtonState == BUTTON_RIGHT_DOWN; }

}  // namespace

void MouseClick(bool bRight) {
    MouseInput(DownState(bRight), 0, 0);
    MouseInput(UpState(bRight), 0, 0);
    Nudge();
}

void TranslatePacket(const TouchPacket* pPacket, DWORD* pdwButtonState) {
    MoveCursor(pPacket->iX, pPacket->iY);
    const DWORD dwKind = pPacket->dwFlags & PKT_KIND;
    const bool bRelease = (pPacket->dwFlags & PKT_RELEASE) != 0;
    const bool bRight = RightMode();

    if (dwKind == 0) {
        MouseClick(bRight);
    } else if (dwKind == 1) {
        ZeroMove();
        if (bRelease) MouseClick(bRight);
    } else if (bRelease) {
        // A button that is down is released with the button that went down,
        // also when the mode was switched since; the new mode applies from
        // the next press.
        Release(IsDown(*pdwButtonState) ? HeldIsRight(*pdwButtonState) : bRight);
        *pdwButtonState = UpState(bRight);
    } else if (*pdwButtonState == UpState(bRight)) {
        Press(bRight);
        *pdwButtonState = DownState(bRight);
    } else {
        ZeroMove();
    }
}

void TranslateFarTouch(const TouchPacket* pPacket, DWORD* pdwButtonState) {
    // A button held down since before a mode switch is released first, so
    // that the sequence's new press does not leave it down.
    if (IsDown(*pdwButtonState) && HeldIsRight(*pdwButtonState) != RightMode()) {
        Release(HeldIsRight(*pdwButtonState));
        *pdwButtonState = UpState(HeldIsRight(*pdwButtonState));
    }
    MoveCursor(giLastX.load(), giLastY.load());
    MouseClick(RightMode());
    MoveCursor(pPacket->iX, pPacket->iY);
    *pdwButtonState = DownState(RightMode());
    MouseInput(*pdwButtonState, 0, 0);
    Nudge();
}

void ReleaseHeldButton(DWORD dwButtonState) {
    if (IsDown(dwButtonState)) Release(HeldIsRight(dwButtonState));
}
