// Fuzz target for VkCheck: the input builds a machine (fuzz_machine.cpp),
// what no reading can foresee is taken out of it, and the preview of its
// snapshot must be the change list the uninstaller then gives on it.
#include "check_support.h"
#include "fuzz_machine.h"
#include "platform/sim/machine.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BuildFuzzMachine(data, size);
    CheckSupport::TakeOutUnforeseeable();
    std::vector<std::string> differences = CheckSupport::PreviewAgainstRun();
    if (!differences.empty()) {
        for (const std::string& difference : differences)
            std::fprintf(stderr, "preview: %s\n", difference.c_str());
        std::abort();
    }
    Sim::Replace(nullptr);
    return 0;
}
