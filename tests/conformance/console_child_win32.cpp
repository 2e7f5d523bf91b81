// conformance_console_child.exe: a helper console program that the process
// tests start. It does nothing and ends after 5 s.
#include <windows.h>

int main() {
    for (int i = 0; i < 50; ++i) Sleep(100);
    return 0;
}
