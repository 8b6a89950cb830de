// The preview of every fuzz seed machine against the run on it: a snapshot
// is taken of the machine, previewed, and the uninstaller then runs on the
// machine itself. Prints the figures; fails on any machine whose two change
// lists differ.
#include "check_support.h"
#include "fuzz/fuzz_machine.h"
#include "platform/sim/machine.h"
#include "side/text_file.h"

#include <cstdio>
#include <map>

int main(int argc, char** argv) {
    int same = 0, differ = 0;
    std::map<std::string, int> taken;
    for (int i = 1; i < argc; ++i) {
        std::string data;
        if (!ReadTextFile(argv[i], &data)) {
            std::fprintf(stderr, "vk_check_corpus: cannot read %s\n", argv[i]);
            return 1;
        }
        BuildFuzzMachine((const uint8_t*)data.data(), data.size());
        for (const std::string& what : CheckSupport::TakeOutUnforeseeable())
            ++taken[what];
        std::vector<std::string> differences = CheckSupport::PreviewAgainstRun();
        if (differences.empty()) {
            ++same;
            continue;
        }
        ++differ;
        std::printf("%s: the preview is not the run\n", argv[i]);
        for (const std::string& line : differences)
            std::printf("  %s\n", line.c_str());
    }
    std::printf("preview against the run: %d of %d fuzz seed machines the same\n", same,
                same + differ);
    for (auto& entry : taken)
        std::printf("  %3d had %s taken out first\n", entry.second, entry.first.c_str());
    return differ == 0 && same > 0 ? 0 : 1;
}
