// RykXyCtl.exe: the console program's entry.
#include "ctl.h"

int main() { return RykXyCtlMain(); }
