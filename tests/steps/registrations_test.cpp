// The product's shell, Winlogon and control registry trees deleted.
#include "installed.h"
#include "steps/steps.h"

TEST_F(Installed, TheSevenTreesGoWithEverythingBelowThem) {
    RemoveRegistrations();
    EXPECT_EQ(nullptr,
              Sim::FindKey(HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}"));
    EXPECT_EQ(nullptr,
              Sim::FindKey(HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}"));
    EXPECT_NE(nullptr,
              Sim::FindKey(HKEY_CLASSES_ROOT, "CLSID\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}"));
    const std::string handlers = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
                                 "Folder\\Desk\\shellex\\PropertySheetHandlers";
    EXPECT_TRUE(Sim::FindKey(HKEY_LOCAL_MACHINE, handlers)->children.empty());
    Sim::Key* notify = Sim::FindKey(HKEY_LOCAL_MACHINE, std::string(WINLOGON) + "\\Notify");
    EXPECT_EQ(2u, notify->children.size()); // Windows' own packages
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, CONTROL_KEY));
    EXPECT_EQ(0, Sim::OpenHandles());

    // Nothing left to remove: nothing changes.
    std::vector<std::string> before = Sim::MachineLines();
    RemoveRegistrations();
    EXPECT_EQ(before, Sim::MachineLines());
}
