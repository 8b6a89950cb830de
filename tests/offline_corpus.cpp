// Verify of every fuzz seed machine's disk read offline against verify of
// the machine itself, switched off. Prints the figures; fails on any machine
// whose two verdicts differ.
#include "check_support.h"
#include "fuzz/fuzz_machine.h"
#include "offline/offline_compare.h"
#include "side/text_file.h"

#include <cstdio>

int main(int argc, char** argv) {
    int same = 0, differ = 0, notOnDisk = 0;
    for (int i = 1; i < argc; ++i) {
        std::string data;
        if (!ReadTextFile(argv[i], &data)) {
            std::fprintf(stderr, "vk_offline_corpus: cannot read %s\n", argv[i]);
            return 1;
        }
        BuildFuzzMachine((const uint8_t*)data.data(), data.size());
        // A call made to fail, a failing heap: what a disk does not hold.
        CheckSupport::TakeOutUnforeseeable();
        // A key that refuses opening or writing has no form on a disk: it is
        // compared made accessible.
        if (!OfflineSupport::SwitchOff())
            ++notOnDisk;
        OfflineSupport::TemporaryFolder disk;
        std::vector<std::string> differences = OfflineSupport::OfflineAgainstOnline(disk.path());
        if (differences.empty()) {
            ++same;
            continue;
        }
        ++differ;
        std::printf("%s: offline is not online\n", argv[i]);
        for (const std::string& line : differences)
            std::printf("  %s\n", line.c_str());
    }
    std::printf("offline against online: %d of %d fuzz seed machines the same; %d held keys "
                "refusing access, compared made accessible\n",
                same, same + differ, notOnDisk);
    return differ == 0 && same > 0 ? 0 : 1;
}
