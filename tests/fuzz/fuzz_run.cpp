// Fuzz target: the input builds a machine (fuzz_machine.cpp), the
// uninstaller runs on it, and the run must keep the invariant, close what it
// opened, and end.
#include "fuzz_machine.h"
#include "machine/invariant.h"
#include "platform/sim/machine.h"
#include "uninstall/uninstall.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BuildFuzzMachine(data, size);
    Sim::Machine& m = Sim::Current();
    Invariant::Snapshot before = Invariant::Take();
    RunUninstall();
    std::vector<std::string> faults = Invariant::Check(before, Sim::Current());
    std::vector<std::string> leaks = Invariant::Leaks();
    if (!faults.empty() || !leaks.empty()) {
        for (auto& fault : faults)
            std::fprintf(stderr, "invariant: %s\n", fault.c_str());
        for (auto& leak : leaks)
            std::fprintf(stderr, "leak: %s\n", leak.c_str());
        for (auto& line : m.journal)
            std::fprintf(stderr, "journal: %s\n", line.c_str());
        std::abort();
    }
    // The machine goes with the input that made it: libFuzzer takes a run
    // that ends with more allocations than it freed for a possible leak,
    // and runs it again to look.
    Sim::Replace(nullptr);
    return 0;
}
