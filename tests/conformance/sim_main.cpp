// The conformance tests on the simulated machine: one machine, set up as
// Windows 98 with the helper programs installed, for the whole run. The test
// thread is a thread of the machine's own process like any program thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "machine.h"

namespace conformance {
void InstallChildPrograms(sim::Machine& machine);  // fixture_sim.cpp
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    sim::Config config;
    config.windows = sim::Windows::v98;
    sim::Machine machine(config);
    conformance::InstallChildPrograms(machine);
    const int result = RUN_ALL_TESTS();

    // The tests may misuse nothing: a misuse here is a fault of a test.
    for (const std::string& m : machine.misuse()) {
        std::fprintf(stderr, "misuse reported by the simulated machine: %s\n", m.c_str());
    }
    return result != 0 ? result : (machine.misuse().empty() ? 0 : 1);
}
