// rykxy-sim: runs RykXyLdr, the real program with its real WinMain, on the
// simulated Windows machine that a scenario file describes, plays the
// scenario's steps and reports what happened (see cli.h, scenario.cpp).
#include "cli.h"
#include "ctl/ctl.h"
#include "platform/win32.h"
#include "map/map.h"
#include "probe/probe.h"
#include "program_globals.h"

// The program's entry point, in the rykxyldr library (src/app/winmain.cpp),
// with C linkage as on Windows.
extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

int main(int argc, char** argv) {
    return runner::run_command_line(argc, argv, [] {
        static char command_line[] = "";  // RykXyLdr takes no command line
        // Every start is a new process on Windows: a `restart` step finds
        // the program's globals as a fresh process has them.
        support::ResetProgramGlobals();
        return WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
    }, runner::Tools{{"RykXyCtl", RykXyCtlMain}, {"RykXyProbe", RykXyProbeMain}, {"RykXyMap", RykXyMapMain}});
}
