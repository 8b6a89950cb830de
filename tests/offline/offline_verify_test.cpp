// Verify of a machine's disk read offline is verify of the machine: every
// boot-judge break and every sound machine, before the run and after the run
// and the restart, written as hives and files and judged from them.
#include "offline_compare.h"

#include "boot_machines.h"
#include "platform/sim/machine.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

namespace {

using OfflineSupport::OfflineAgainstOnline;
using OfflineSupport::SwitchOff;
using OfflineSupport::TemporaryFolder;

void RunAndRestart() {
    RunUninstall();
    Sim::EndProcess();
    Sim::Restart();
}

std::string Shown(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += "  " + line + "\n";
    return text;
}

TEST(Offline, VerifyOfTheDiskIsVerifyOfTheMachine) {
    int compared = 0, notOnDisk = 0;
    for (bool run : {false, true}) {
        for (const BootMachines::Machine& machine : BootMachines::SoundMachines()) {
            SCOPED_TRACE(std::string(machine.what) + (run ? ", after the run" : ""));
            Sim::Reset();
            machine.lay();
            if (run)
                RunAndRestart();
            ASSERT_TRUE(SwitchOff());
            TemporaryFolder disk;
            std::vector<std::string> differences = OfflineAgainstOnline(disk.path());
            EXPECT_TRUE(differences.empty()) << Shown(differences);
            ++compared;
        }
        for (const BootMachines::Break& row : BootMachines::Breaks()) {
            SCOPED_TRACE(std::string(row.what) + (run ? ", after the run" : ""));
            Sim::Reset();
            BootMachines::Installed();
            row.plant();
            if (run)
                RunAndRestart();
            // A key that refuses opening or writing has no form on a disk:
            // the machine is compared with it made accessible.
            if (!SwitchOff())
                ++notOnDisk;
            TemporaryFolder disk;
            std::vector<std::string> differences = OfflineAgainstOnline(disk.path());
            EXPECT_TRUE(differences.empty()) << Shown(differences);
            ++compared;
        }
    }
    // The unreadable service key, the unreadable class key and the
    // unwritable class key, before the run and after it.
    EXPECT_EQ(6, notOnDisk);
    EXPECT_GT(compared, 60);
}

} // namespace
