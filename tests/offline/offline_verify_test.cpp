// Verify of a machine's disk read offline is verify of the machine: every
// boot-judge break and every sound machine, before the run and after the run
// and the restart, written as hives and files and judged from them.
#include "offline_compare.h"

#include "boot_machines.h"
#include "machine/footprint.h"
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
    // The unreadable service key, the unreadable class key, the unwritable
    // class key and the undeletable product tree, before the run and after it.
    EXPECT_EQ(8, notOnDisk);
    EXPECT_GT(compared, 60);
}

// The installed machine whose Start menus lie where later Windows versions
// (and Wine) keep them, named by the machine's registry: read offline from
// there, not from where Windows XP keeps them.
TEST(Offline, TheStartMenusAreWhereTheMachineKeepsThem) {
    Sim::Reset();
    Footprint::Install();
    Sim::Machine& m = Sim::Current();
    const std::string common = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    const std::string own =
        "C:\\users\\admin\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    for (auto& folders : {std::make_pair(&m.commonProgramsFolder, common),
                          std::make_pair(&m.programsFolder, own)}) {
        Sim::Node* from = Sim::FindNode(*folders.first);
        Sim::Node* to = Sim::MakeDirectory(folders.second + "\\");
        to->children["Tallowin"] = std::move(from->children["Tallowin"]);
        from->children.erase("Tallowin");
        *folders.first = folders.second;
    }
    Sim::SetValue(HKEY_LOCAL_MACHINE,
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                  "Common Programs", REG_SZ, Sim::Sz(common));
    Sim::SetValue(
        HKEY_LOCAL_MACHINE,
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-7-8-9-500",
        "ProfileImagePath", REG_EXPAND_SZ, Sim::Sz("%SystemDrive%\\users\\admin"));
    ASSERT_TRUE(SwitchOff());
    TemporaryFolder disk;
    std::vector<std::string> differences = OfflineAgainstOnline(disk.path());
    EXPECT_TRUE(differences.empty()) << Shown(differences);
}

} // namespace
