// The machine is the simulated one: the helper programs are programs of the
// machine, installed by InstallChildPrograms before the tests run.
#include "fixture.h"

#include <mutex>

#include "machine.h"
#include "registry.h"

namespace conformance {
namespace {

const char kReadyPath[] = "C:\\RykConformance\\conformance_child.exe";
const char kNeverPath[] = "C:\\RykConformance\\conformance_never.exe";
const char kConsolePath[] = "C:\\RykConformance\\conformance_console_child.exe";

}  // namespace

void InstallChildPrograms(sim::Machine& machine) {
    sim::ProgramSpec ready;
    ready.ready_after_ms = 150;  // about as long as a small program takes to show its window
    machine.install_program(kReadyPath, ready);

    sim::ProgramSpec never;
    never.ready_after_ms = -1;
    machine.install_program(kNeverPath, never);

    sim::ProgramSpec console;
    console.console = true;
    machine.install_program(kConsolePath, console);
}

std::string ChildCommandLine(ChildKind kind) {
    switch (kind) {
    case ChildKind::ready:
        return std::string("\"") + kReadyPath + "\" ready";
    case ChildKind::never:
        return std::string("\"") + kNeverPath + "\" never";
    case ChildKind::console:
        return std::string("\"") + kConsolePath + "\"";
    }
    return std::string();
}

bool MakeKeyReadOnly(const char* path) {
    sim::Registry& registry = sim::Machine::current().registry();
    registry.create_key(HKEY_LOCAL_MACHINE, path);
    registry.set_read_only(HKEY_LOCAL_MACHINE, path, true);
    return true;
}

// The simulated clock jumps exactly to each time-out.
DWORD TickCountStepMs() { return 0; }

bool UnderWine() { return false; }

void HoldMessageBoxes() { sim::Machine::current().hold_message_boxes(true); }

bool MessageBoxOpen(const char* caption) {
    return sim::Machine::current().message_box_open(caption);
}

bool DismissMessageBox(const char* caption) { return sim::Machine::current().release_message_box(caption); }

}  // namespace conformance
