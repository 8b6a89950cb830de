// The product's COM servers unregistered and its files queued for deletion at the restart.
#include "catalogue/catalogue.h"
#include "installed.h"
#include "registry/text.h"
#include "steps/steps.h"

#include <algorithm>

namespace {

const char SESSION_MANAGER[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The sources of the deletions queued at the restart, in order.
std::vector<std::string> Pending() {
    Sim::Value value;
    std::vector<std::string> entries;
    if (!Sim::ReadValue(HKEY_LOCAL_MACHINE, SESSION_MANAGER, "PendingFileRenameOperations", &value))
        return entries;
    std::string text(value.data.begin(), value.data.end());
    for (size_t at = 0; at < text.size();) {
        std::string source = text.c_str() + at;
        if (source.empty())
            break;
        at += source.size() + 1;
        EXPECT_EQ(0, text[at]) << "a deletion has no new name";
        at += 1;
        entries.push_back(source);
    }
    return entries;
}

// The product folder as the installer recorded it.
void SetFolder(const std::string& bytes, DWORD type = REG_SZ) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, CONTROL_KEY, "DzPath", type,
                  std::vector<BYTE>(bytes.begin(), bytes.end()));
}

} // namespace

TEST_F(Installed, SixServersUnregisterAndFiftyThreeDeletionsAreRecorded) {
    UnregisterComponentServers();
    ScheduleComponentFiles();
    const std::string folder = Footprint::PRODUCT_FOLDER;
    std::vector<std::string> servers = {"VkView.dll", "VkUsbMmc.dll", "VkUsbVw.dll",
                                        "VkMMC.dll",  "SeatMmc.dll",  "SeatView.dll"};
    std::vector<std::string> loads, unregistered;
    for (auto& name : servers) {
        loads.push_back("LoadLibraryExA(\"" + folder + name + "\", NULL, 0x8)");
        unregistered.push_back(folder + name);
    }
    EXPECT_EQ(loads, CallsOf("LoadLibraryExA"));
    EXPECT_EQ(unregistered, M().unregistered);

    std::vector<std::string> expected;
    auto add = [&](const char* list, const std::string& where) {
        for (const char* name = list; *name != 0; name = NextListEntry(name))
            expected.push_back("\\??\\" + where + name);
    };
    add(MainFileList, folder);
    add(ExtraFileList, folder);
    add(SupportFileList, folder);
    add(DriverFileList, folder + "drivers\\");
    std::vector<std::string> pending = Pending();
    EXPECT_EQ(53u, pending.size());
    EXPECT_EQ(expected, pending);
    for (size_t i = 37; i < pending.size(); ++i)
        EXPECT_EQ(0u, pending[i].find("\\??\\" + folder + "drivers\\")) << pending[i];
    EXPECT_EQ(0, Sim::OpenHandles());

    // No trailing backslash in the value: the same paths.
    Sim::Reset();
    Footprint::Install();
    SetFolder(std::string("C:\\Program Files\\Tallowin\0", 26));
    UnregisterComponentServers();
    ScheduleComponentFiles();
    EXPECT_EQ(expected, Pending());
    EXPECT_EQ(loads, CallsOf("LoadLibraryExA"));
}

TEST_F(Installed, AServerThatIsMissingOrBrokenIsPassedOverAndStillDeleted) {
    const std::string folder = Footprint::PRODUCT_FOLDER;
    Sim::FindNode(folder)->children.erase("VkUsbMmc.dll");
    Sim::FindNode(folder + "VkView.dll")->library->exportsUnregister = false;
    Sim::FindNode(folder + "SeatMmc.dll")->library->unregisterResult = (HRESULT)0x80004005;
    Sim::FindNode(folder + "VkMMC.dll")->library.reset(); // not a library at all
    UnregisterComponentServers();
    ScheduleComponentFiles();
    EXPECT_EQ(std::vector<std::string>(
                  {folder + "VkUsbVw.dll", folder + "SeatMmc.dll", folder + "SeatView.dll"}),
              M().unregistered);
    std::vector<std::string> pending = Pending();
    EXPECT_EQ(53u, pending.size());
    EXPECT_NE(pending.end(),
              std::find(pending.begin(), pending.end(), "\\??\\" + folder + "VkUsbMmc.dll"));
    EXPECT_EQ(0, Sim::OpenHandles());
}

// Run from elsewhere than the product folder (a distribution cache, a
// share), the uninstaller still has each server's imports found beside the
// server, and only there or in Windows' own folders: never beside itself.
TEST_F(Installed, AServersImportsAreLookedForBesideItNotBesideTheUninstaller) {
    const std::string folder = Footprint::PRODUCT_FOLDER;
    const std::string import = Footprint::SERVER_IMPORT;
    const std::string server = folder + Footprint::IMPORTING_SERVER;
    auto unregistered = [&] {
        M().unregistered.clear();
        UnregisterComponentServers();
        ScheduleComponentFiles();
        return std::count(M().unregistered.begin(), M().unregistered.end(), server) == 1;
    };
    EXPECT_FALSE(Sim::SameName(M().programFolder + "\\", folder));
    EXPECT_TRUE(unregistered());
    Sim::FindNode(folder)->children.erase(import);
    Sim::MakeFile(M().programFolder + "\\" + import);
    EXPECT_FALSE(unregistered());
    EXPECT_EQ(5u, M().unregistered.size());
    Sim::MakeFile(M().systemDirectory + "\\" + import);
    EXPECT_TRUE(unregistered());
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Installed, AFolderValueThatIsNotASafeAbsoluteFolderSkipsTheStep) {
    // Each of these would otherwise yield paths relative to the current
    // directory (the system directory by then), cut paths, or a read past
    // the value. The system directory holds a library of the same name as a
    // product server to show that none is touched.
    const std::vector<std::pair<std::string, DWORD>> values = {
        {std::string("\0", 1), REG_SZ},
        {std::string("", 0), REG_SZ},
        {std::string("C:Tallowin\0", 11), REG_SZ}, // drive-relative
        {"C:\\" + std::string(4093, 'p'), REG_SZ}, // fills the buffer with no NUL to end it
        {std::string("Tallowin\\\0", 10), REG_SZ},
        {std::string("\\Program Files\\Tallowin\\\0", 25), REG_SZ},
        {std::string("%ProgramFiles%\\Tallowin\0", 24), REG_EXPAND_SZ},
        {std::string(4095, 'C') + '\0', REG_SZ},
    };
    for (auto& value : values) {
        Sim::Reset();
        Footprint::Install();
        M().currentDirectory = M().systemDirectory;
        Sim::MakeFile(M().systemDirectory + "\\VkView.dll", "", true)->library =
            std::make_unique<Sim::Library>();
        SetFolder(value.first, value.second);
        M().journal.clear();
        UnregisterComponentServers();
        ScheduleComponentFiles();
        EXPECT_TRUE(CallsOf("LoadLibraryExA").empty()) << value.first.size();
        EXPECT_TRUE(Pending().empty()) << value.first.size();
        EXPECT_TRUE(M().unregistered.empty());
    }
}

// Windows stores a string as it was given, NUL or not, and takes either
// separator; each of these names the product folder.
TEST_F(Installed, AFolderStoredWithoutItsNulOrWithForwardSlashesIsStillTheFolder) {
    UnregisterComponentServers();
    ScheduleComponentFiles();
    const std::vector<std::string> expected = Pending();
    const std::vector<std::string> unregistered = M().unregistered;
    ASSERT_EQ(53u, expected.size());
    for (const std::string& value :
         {std::string("C:\\Program Files\\Tallowin"), std::string("C:\\Program Files\\Tallowin\\"),
          std::string("C:/Program Files/Tallowin/\0", 27)}) {
        Sim::Reset();
        Footprint::Install();
        SetFolder(value);
        UnregisterComponentServers();
        ScheduleComponentFiles();
        EXPECT_EQ(expected, Pending()) << value;
        EXPECT_EQ(unregistered, M().unregistered) << value;
    }
}

TEST_F(Installed, AFolderTooLongForSomeNamesSkipsThoseNamesAndCutsNone) {
    // 240 characters: short names still fit with the folder, long ones do
    // not, and under "drivers\" fewer still.
    std::string folder = "C:\\" + std::string(236, 'p') + "\\";
    ASSERT_EQ(240u, folder.size());
    SetFolder(folder + '\0');
    UnregisterComponentServers();
    ScheduleComponentFiles();
    std::vector<std::string> pending = Pending();
    EXPECT_FALSE(pending.empty());
    EXPECT_LT(pending.size(), 53u);
    for (auto& path : pending) {
        EXPECT_LE(path.size() - 4, 259u);
        std::string name = path.substr(4 + folder.size());
        bool listed = false;
        for (const char* list : {MainFileList, ExtraFileList, SupportFileList})
            for (const char* entry = list; *entry != 0; entry = NextListEntry(entry))
                listed = listed || name == entry;
        for (const char* entry = DriverFileList; *entry != 0; entry = NextListEntry(entry))
            listed = listed || name == std::string("drivers\\") + entry;
        EXPECT_TRUE(listed) << "a cut name: " << name;
    }
}

TEST_F(FreshMachine, WithoutAFolderValueNothingIsLoadedOrQueued) {
    UnregisterComponentServers();
    ScheduleComponentFiles();
    EXPECT_EQ(std::vector<std::string>(
                  {"RegOpenKeyExA(HKLM, \"SYSTEM\\CurrentControlSet\\Control\\Multiuser\", "
                   "0xF003F)"}),
              Calls());
}
