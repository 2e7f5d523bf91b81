// Must not compile as a source of the program: the simulated driver is out
// of its reach.
#include "orvane/driver.h"

int main() { return 0; }
