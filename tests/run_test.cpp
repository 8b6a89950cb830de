// The whole run on the installed machine, the journal it leaves, and what
// remains after the restart it asks for.
#include "machine/footprint.h"
#include "support.h"
#include "uninstall/uninstall.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

class Run : public FreshMachine {
  protected:
    void SetUp() override {
        Sim::Reset();
        fresh = Sim::MachineLines();
        Footprint::Install();
    }
    std::vector<std::string> fresh;
};

const char DISK_CLASS[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}";

// The class's upper filters, or "(none)".
std::string FilterList(const char* classKey) {
    Sim::Value value;
    if (!Sim::ReadValue(HKEY_LOCAL_MACHINE, classKey, "UpperFilters", &value))
        return "(none)";
    std::string joined;
    for (auto& entry : Strings::SplitMultiString(value.data))
        joined += entry + "|";
    return joined;
}

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Lines of `a` that are not in `b`.
std::vector<std::string> Minus(const std::vector<std::string>& a,
                               const std::vector<std::string>& b) {
    std::vector<std::string> out;
    for (auto& line : a) {
        if (std::find(b.begin(), b.end(), line) == b.end())
            out.push_back(line);
    }
    return out;
}

} // namespace

TEST_F(Run, TheTypicalRunMakesExactlyTheCallsOfItsSteps) {
    EXPECT_EQ(1, RunUninstall());
    const std::string golden = std::string(VK_TEST_DATA) + "/typical_run.journal";
    if (std::getenv("VK_WRITE_JOURNAL") != nullptr) {
        std::ofstream out(golden);
        for (auto& line : M().journal)
            out << line << "\n";
    }
    std::vector<std::string> expected = FileLines(golden);
    ASSERT_FALSE(expected.empty()) << golden;
    EXPECT_EQ(expected, M().journal);
    // The service control manager's handle is the only one left open, beside
    // the console's output handle that every console process holds.
    EXPECT_EQ(1, Sim::OpenHandles(Sim::HandleKind::Scm));
    EXPECT_EQ(1, Sim::OpenHandles(Sim::HandleKind::Console));
    EXPECT_EQ(2, Sim::OpenHandles());
    EXPECT_EQ(0, M().liveAllocations - 2); // the system directory and the filter buffer
}

TEST_F(Run, AfterTheRestartNothingOfTheProductRemainsButWhatTheRunLeavesOnPurpose) {
    EXPECT_EQ(1, RunUninstall());
    EXPECT_EQ("Stoping and removing all components of Tallowin. Please wait...\r\n",
              M().consoleText);
    EXPECT_EQ(1u, M().restartRequests.size());
    Sim::Restart();
    std::vector<std::string> now = Sim::MachineLines();
    EXPECT_EQ(std::vector<std::string>(), Minus(fresh, now));
    const std::string folder = "C:\\Program Files\\Tallowin";
    EXPECT_EQ(std::vector<std::string>({
                  // TermService's configuration carries the tag Windows gave it.
                  "value HKLM\\SYSTEM\\CurrentControlSet\\Services\\TermService : \"Tag\" = "
                  "REG_DWORD 0x1",
                  // Devices that only look like the product's.
                  "device ROOT\\KRHUBPORT\\0000 {4D36E97D-E325-11CE-BFC1-08002BE10318} present "
                  "ids Korrin\\KrHubPort|Korrin\\KrHub||",
                  "device ROOT\\VKXHCIREV\\0000 {4D36E97D-E325-11CE-BFC1-08002BE10318} present "
                  "ids Korrin\\vkxhci|Korrin\\vkxhci&REV_01||",
                  "device ROOT\\VKGHOST\\0000 {4D36E97D-E325-11CE-BFC1-08002BE10318} not present "
                  "ids Korrin\\KrHub||",
                  // The product folder holds what others put there.
                  "folder " + folder,
                  "folder " + folder + "\\drivers",
                  "file " + folder + "\\drivers\\oem0.inf",
                  "file " + folder + "\\seats.txt",
              }),
              Minus(now, fresh));
}

TEST_F(Run, ASecondRunFindsNothingToRemoveButStillRewritesAndRestarts) {
    RunUninstall();
    Sim::Restart();
    std::vector<std::string> before = Sim::MachineLines();
    M().journal.clear();
    EXPECT_EQ(1, RunUninstall());
    EXPECT_EQ(before, Sim::MachineLines());
    EXPECT_TRUE(CallsOf("LoadLibraryExA").empty());
    EXPECT_TRUE(CallsOf("MoveFileExA").empty());
    EXPECT_TRUE(CallsOf("DeleteService").empty());
    EXPECT_TRUE(CallsOf("SetupDiCallClassInstaller").empty());
    EXPECT_EQ(1u, CallsOf("ChangeServiceConfigA").size());
    // The group order and four filter lists that are still there, and the logon type.
    EXPECT_EQ(5u, CallsOf("RegSetValueExW").size());
    EXPECT_EQ(1u, CallsOf("RegSetValueExA").size());
    EXPECT_EQ(1u, CallsOf("ExitWindowsEx").size());
}

// A server's code is foreign code in our process. By the time it runs the
// services are deleted and the class filters naming them are still to be
// cleaned: a fault that ended the run there would leave a machine without
// its disks, keyboard or mouse at the next start.
TEST_F(Run, AServerThatFaultsIsLeftAndTheRunGoesOn) {
    const std::string folder = Footprint::PRODUCT_FOLDER;
    Sim::FindNode(folder + "VkView.dll")->library->faultsInUnregister = true;
    Sim::FindNode(folder + "SeatMmc.dll")->library->faultsWhenLoaded = true;
    EXPECT_EQ(1, RunUninstall());
    EXPECT_EQ(std::vector<std::string>({folder + "VkView.dll", folder + "VkUsbMmc.dll",
                                        folder + "VkUsbVw.dll", folder + "VkMMC.dll",
                                        folder + "SeatView.dll"}),
              M().unregistered);
    std::vector<std::string> guarded = CallsOf("CallGuarded");
    EXPECT_EQ(6u, guarded.size());
    EXPECT_EQ(2, std::count_if(M().journal.begin(), M().journal.end(), [](const std::string& line) {
                  return line == "CallGuarded() -> 0xC0000005";
              }));
    // Everything after the servers was still done.
    EXPECT_EQ(53u, CallsOf("MoveFileExA").size());
    EXPECT_EQ("PartMgr|", FilterList(DISK_CLASS));
    EXPECT_FALSE(Sim::FindKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser"));
    EXPECT_EQ(1u, M().restartRequests.size());
    // The two servers that faulted stay loaded; nothing else is left open.
    EXPECT_EQ(2, Sim::OpenHandles(Sim::HandleKind::Module));
}
