// Writes a snapshot of every machine the boot judge's matrix holds, so that
// a build's preview and verify of each can be kept and compared with another
// build's (scripts/same-answers.sh):
//
//     vk_matrix_snapshots DIR
//
// DIR/installed.json is the installed machine; for each break NN,
// DIR/break-NN-before.json is the machine with the break planted and
// DIR/break-NN-after.json the same after the run and the restart; for each
// machine verify finds sound, DIR/sound-NN-after.json after the run and the
// restart.
#include "boot_machines.h"
#include "description/description.h"
#include "machine/footprint.h"
#include "platform/sim/machine.h"
#include "uninstall/uninstall.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool Write(const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    out << Description::Write(Description::Describe()) << "\n";
    if (!out)
        std::fprintf(stderr, "%s cannot be written\n", file.c_str());
    return (bool)out;
}

std::string Numbered(const std::string& folder, const char* what, size_t n, const char* when) {
    char name[64];
    std::snprintf(name, sizeof name, "/%s-%02zu-%s.json", what, n, when);
    return folder + name;
}

void RunAndRestart() {
    RunUninstall();
    Sim::EndProcess();
    Sim::Restart();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    bool written = true;
    Sim::Reset();
    BootMachines::Installed();
    written &= Write(folder + "/installed.json");
    for (size_t i = 0; i < BootMachines::Breaks().size(); ++i) {
        Sim::Reset();
        BootMachines::Installed();
        BootMachines::Breaks()[i].plant();
        written &= Write(Numbered(folder, "break", i, "before"));
        RunAndRestart();
        written &= Write(Numbered(folder, "break", i, "after"));
    }
    for (size_t i = 0; i < BootMachines::SoundMachines().size(); ++i) {
        Sim::Reset();
        BootMachines::SoundMachines()[i].lay();
        RunAndRestart();
        written &= Write(Numbered(folder, "sound", i, "after"));
    }
    return written ? 0 : 1;
}
