// Must not compile as a source of the program: the simulated machine is
// out of its reach.
#include "machine.h"

int main() { return 0; }
