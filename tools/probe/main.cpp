// RykXyProbe.exe: the console program's entry.
#include "probe.h"

int main() { return RykXyProbeMain(); }
