// RykXyMap's entry: reads its command line with GetCommandLineA and returns
// the process's exit code. On Windows WinMain calls it; on the simulated
// machine a scenario step runs it as a process of its own.
#pragma once

int RykXyMapMain();
