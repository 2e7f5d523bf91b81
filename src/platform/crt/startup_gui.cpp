// The entry point of a GUI program: WinMain with the arguments the C
// runtime's start-up would give it.
#include "platform/crt/crt.h"
#include "platform/text.h"

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

// Windows calls the entry point with a stack aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void RykGuiStartup(void) {
    __main();
    STARTUPINFOA si;
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    const int nShowCmd = (si.dwFlags & STARTF_USESHOWWINDOW) != 0 ? si.wShowWindow : SW_SHOWDEFAULT;
    LPSTR lpCmdLine = const_cast<LPSTR>(SkipProgramName(GetCommandLineA()));
    const int iExitCode = WinMain(GetModuleHandleA(nullptr), nullptr, lpCmdLine, nShowCmd);
    RykExit(static_cast<UINT>(iExitCode));
}
