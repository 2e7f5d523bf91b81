// Compiles as a source of the program does.
#include "driver/protocol.h"
#include "platform/win32.h"

int main() { return GetLastError() == 0 ? 0 : 1; }
