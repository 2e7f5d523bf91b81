// Instruction counts of the packet path: instructions, not seconds, so that
// the figure does not move with the machine's load.
//
// rykxy-bench runs itself under `valgrind --tool=callgrind` with
// --count-instructions (run_instruction_count). In that run collection is on
// only in the threads of the program (WinMain, the packet workers, the
// quick-touch refreshers, the watchers) and of the design floor (its main
// and packet threads), so a count is what those threads executed, the
// simulated Win32 calls they make included, and nothing of the bench's own
// feeding thread. The run plays a fixed plan of packets of each report kind,
// one packet at a time, to RykXyLdr and then to the design floor, and after
// each stretch of one kind it dumps the counts with a client request named
// after it. read_instruction_counts adds the dumps up, and takes from each
// dump's calls the instructions spent inside the Win32 functions the threads
// call, so that what is left is their own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// What one report kind (or the idle second) cost, per packet (per second).
struct InstructionCount {
    std::string kind;
    uint64_t program_packets = 0, floor_packets = 0;  // seconds for the idle row
    uint64_t program_instructions = 0, floor_instructions = 0;
    // Of those, the ones outside the Win32 calls (the simulated machine's
    // work for them): the program's (or the floor's) own code.
    uint64_t program_own = 0, floor_own = 0;
    // Mouse calls (SetCursorPos and mouse_event) made for those packets: the
    // same on both sides, or the design floor did not make the program's calls.
    uint64_t program_calls = 0, floor_calls = 0;
    double program_per_packet() const;
    double floor_per_packet() const;
    double program_own_per_packet() const;
    double floor_own_per_packet() const;
};

// The plan played under callgrind (the child run). Returns the exit code.
int play_instruction_plan(bool quick);

// Runs this executable under callgrind with --count-instructions, writing the
// dumps into `dir`, and reads them. Empty, with `*error` set, when valgrind is
// missing or the run failed.
std::vector<InstructionCount> run_instruction_count(const std::string& self, const std::string& dir, bool quick,
                                                    std::string* error);

// The dumps of one such run in `dir`, added up by report kind, in the order of
// the plan.
std::vector<InstructionCount> read_instruction_counts(const std::string& dir);

}  // namespace bench
