// The machine is Windows (or Wine): the helper programs are built next to the
// test program.
#include "fixture.h"

namespace conformance {
namespace {

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD len = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, len);
    const size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
}

}  // namespace

std::string ChildCommandLine(ChildKind kind) {
    const std::string dir = ProgramDirectory();
    switch (kind) {
    case ChildKind::ready:
        return "\"" + dir + "\\conformance_child.exe\" ready";
    case ChildKind::never:
        return "\"" + dir + "\\conformance_child.exe\" never";
    case ChildKind::console:
        return "\"" + dir + "\\conformance_console_child.exe\"";
    }
    return std::string();
}

bool MakeKeyReadOnly(const char*) {
    // The tests run as a user who may write everything they create under
    // HKEY_LOCAL_MACHINE; under Wine there is no other user to be.
    return false;
}

DWORD TickCountStepMs() { return 55; }

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Boxes are dialogs of the class "#32770" whose title is the caption.
void HoldMessageBoxes() {}

bool MessageBoxOpen(const char* caption) { return FindWindowA("#32770", caption) != NULL; }

bool DismissMessageBox(const char* caption) {
    HWND box = FindWindowA("#32770", caption);
    if (box == NULL) return false;
    return PostMessageA(box, WM_COMMAND, IDOK, 0) != FALSE;
}

}  // namespace conformance
