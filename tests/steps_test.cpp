// Each removal step on a simulated Windows XP with the product installed.
#include "catalogue/catalogue.h"
#include "registry/text.h"
#include "machine/footprint.h"
#include "steps/steps.h"
#include "support.h"
#include "uninstall/uninstall.h"

#include <algorithm>

namespace {

const char CLASS[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const char DISK[] = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
const char FLOPPY[] = "{4D36E980-E325-11CE-BFC1-08002BE10318}";
const char VOLUME[] = "{71A27CDD-812A-11D0-BEC7-08002BE2092F}";
const char KEYBOARD[] = "{4D36E96B-E325-11CE-BFC1-08002BE10318}";
const char MOUSE[] = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
const char HID[] = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";
const char CONTROL_KEY[] = "SYSTEM\\CurrentControlSet\\Control\\Multiuser";
const char SESSION_MANAGER[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char GROUP_ORDER[] = "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder";
const char TERMSERVICE[] = "SYSTEM\\CurrentControlSet\\Services\\TermService";
const char WINLOGON[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

class Installed : public FreshMachine {
protected:
    void SetUp() override
    {
        Sim::Reset();
        Footprint::Install();
    }
    std::vector<std::string> Filters(const char* guid)
    {
        Sim::Value value;
        if (!Sim::ReadValue(HKEY_LOCAL_MACHINE, std::string(CLASS) + guid, "UpperFilters", &value))
            return {"(none)"};
        return Strings::SplitMultiString(value.data);
    }
    void SetFilters(const char* guid, const std::string& bytes, DWORD type = REG_MULTI_SZ)
    {
        Sim::SetValue(HKEY_LOCAL_MACHINE, std::string(CLASS) + guid, "UpperFilters", type,
                      std::vector<BYTE>(bytes.begin(), bytes.end()));
    }
    std::vector<std::string> Pending()
    {
        Sim::Value value;
        std::vector<std::string> entries;
        if (!Sim::ReadValue(HKEY_LOCAL_MACHINE, SESSION_MANAGER, "PendingFileRenameOperations",
                            &value))
            return entries;
        std::string text = Text(value);
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
    void SetFolder(const std::string& bytes, DWORD type = REG_SZ)
    {
        Sim::SetValue(HKEY_LOCAL_MACHINE, CONTROL_KEY, "DzPath", type,
                      std::vector<BYTE>(bytes.begin(), bytes.end()));
    }
    SC_HANDLE Scm() { return Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS); }
};

} // namespace

// ---- class filters ----

TEST_F(Installed, ClassFiltersLoseOnlyTheProductsNames)
{
    CleanClassFilters();
    EXPECT_EQ(std::vector<std::string>({"(none)"}), Filters(FLOPPY));
    EXPECT_EQ(std::vector<std::string>({"PartMgr"}), Filters(DISK));
    EXPECT_EQ(std::vector<std::string>({"VolSnap"}), Filters(VOLUME));
    EXPECT_EQ(std::vector<std::string>({"kbdclass"}), Filters(KEYBOARD));
    EXPECT_EQ(std::vector<std::string>({"mouclass"}), Filters(MOUSE));
    EXPECT_EQ(std::vector<std::string>({"(none)"}), Filters(HID));
    // "kbdclass", its NUL and the list's NUL.
    EXPECT_EQ(10u, Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + KEYBOARD, "UpperFilters").data.size());
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Installed, ForeignFiltersStayByteExactAndInOrder)
{
    SetFilters(DISK, std::string("Zeta\0dzstore\0PartMgr\0DZSTORE\0alpha\0\0", 36));
    SetFilters(MOUSE, std::string("mouclass\0Other\0\0", 16));
    Sim::FindKey(HKEY_LOCAL_MACHINE, std::string(CLASS) + HID)->values.clear();
    CleanClassFilters();
    EXPECT_EQ(std::string("Zeta\0PartMgr\0alpha\0\0", 20),
              Text(Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + DISK, "UpperFilters")));
    // Written back unchanged when the product's name is not there.
    EXPECT_EQ(std::string("mouclass\0Other\0\0", 16),
              Text(Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + MOUSE, "UpperFilters")));
    auto writes = CallsOf("RegSetValueExW");
    EXPECT_EQ(4u, writes.size()); // disk, volume, keyboard, mouse
    // A class without the value is left alone.
    EXPECT_EQ(std::vector<std::string>({"(none)"}), Filters(HID));
    EXPECT_EQ(1u, CallsOf("RegDeleteValueA").size()); // the floppy class's emptied list

    // Names the code page cannot carry come back as Windows stored them.
    const std::u16string foreign = {u'k', u'b', u'd', 0x436, 0, u'D', u'z', u'X', u'p', u'K',
                                    u'b', u'd', u'P', u'n', u'p', 0, 0x4E00, 0, 0};
    Sim::SetTextValue(HKEY_LOCAL_MACHINE, std::string(CLASS) + KEYBOARD, "UpperFilters",
                      REG_MULTI_SZ, Sim::WideToText(foreign.data(), foreign.size()));
    CleanClassFilters();
    const Sim::Value* keyboard =
        Sim::FindKey(HKEY_LOCAL_MACHINE, std::string(CLASS) + KEYBOARD)->FindValue("UpperFilters");
    EXPECT_EQ(std::u16string({u'k', u'b', u'd', 0x436, 0, 0x4E00, 0, 0}),
              Sim::TextToWide(Text(*keyboard)));
}

TEST_F(Installed, MalformedFilterListsAreHandledSafely)
{
    // The list's final NUL missing: the product's name still goes and the
    // list keeps the shape it had.
    SetFilters(KEYBOARD, std::string("kbdclass\0DzXpKbdPnp\0", 20));
    SetFilters(FLOPPY, std::string("DzStore\0", 8));
    // A value cut inside an entry, and one byte that is no list.
    SetFilters(DISK, std::string("PartMgr\0DzSto", 13));
    SetFilters(MOUSE, std::string("m", 1), REG_BINARY);
    CleanClassFilters();
    EXPECT_EQ(std::string("kbdclass\0", 9),
              Text(Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + KEYBOARD, "UpperFilters")));
    EXPECT_EQ(std::vector<std::string>({"(none)"}), Filters(FLOPPY));
    EXPECT_EQ(std::string("PartMgr\0DzSto", 13),
              Text(Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + DISK, "UpperFilters")));
    Sim::Value mouse = Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + MOUSE, "UpperFilters");
    EXPECT_EQ(REG_BINARY, mouse.type);
    EXPECT_EQ("m", Text(mouse));
}

// ---- services ----

TEST_F(Installed, DzServiceIsToldFirstThenEveryServiceIsStoppedAndDeleted)
{
    SC_HANDLE scm = Scm();
    M().journal.clear();
    RemoveServices(scm);
    auto controls = CallsOf("ControlService");
    ASSERT_FALSE(controls.empty());
    EXPECT_EQ("ControlService(svc#1, 254)", controls[0]);
    EXPECT_EQ("OpenServiceA(scm#1, \"DzService\", 0xF01FF)", Calls()[0]);
    for (size_t i = 1; i < controls.size(); ++i)
        EXPECT_NE(std::string::npos, controls[i].find(", 1)")) << controls[i];
    EXPECT_EQ(19u, CallsOf("OpenServiceA").size());
    EXPECT_EQ(18u, CallsOf("DeleteService").size());

    // Gone at once but the one that refused to stop, which goes at the restart.
    for (const char* name = ServiceList; *name != 0; name = NextListEntry(name)) {
        bool stubborn = std::string(name) == Footprint::STUBBORN_SERVICE;
        EXPECT_EQ(stubborn, M().services.count(name) == 1) << name;
    }
    EXPECT_TRUE(M().services[Footprint::STUBBORN_SERVICE].deletePending);
    EXPECT_EQ(1, Sim::OpenHandles(Sim::HandleKind::Scm));
    EXPECT_EQ(1, Sim::OpenHandles());
    Sim::Restart();
    EXPECT_EQ(0u, M().services.count(Footprint::STUBBORN_SERVICE));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE,
                                    "SYSTEM\\CurrentControlSet\\Services\\DzHelper"));
}

TEST_F(FreshMachine, WithNoServiceInstalledOnlyNineteenOpensAreMade)
{
    SC_HANDLE scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    std::vector<std::string> before = Sim::MachineLines();
    M().journal.clear();
    RemoveServices(scm);
    EXPECT_EQ(19u, M().journal.size());
    EXPECT_EQ(19u, CallsOf("OpenServiceA").size());
    EXPECT_EQ("OpenServiceA(scm#1, \"DzService\", 0xF01FF)", Calls()[0]);
    EXPECT_EQ("OpenServiceA(scm#1, \"DzInstall\", 0xF01FF)", Calls()[1]);
    EXPECT_EQ(before, Sim::MachineLines());
}

// ---- devices ----

TEST_F(Installed, ThePresentProductDevicesAreRemovedAndNoOthers)
{
    size_t foreign = 4;
    RemoveDevices(M().systemDirectory.c_str());
    for (int i = 0; i < Footprint::REMOVED_DEVICE_COUNT; ++i)
        EXPECT_EQ(nullptr, Sim::FindDevice(Footprint::REMOVED_DEVICES[i])) << i;
    for (int i = 0; i < Footprint::KEPT_DEVICE_COUNT; ++i)
        EXPECT_NE(nullptr, Sim::FindDevice(Footprint::KEPT_DEVICES[i])) << i;
    EXPECT_EQ(foreign + Footprint::KEPT_DEVICE_COUNT, M().devices.size());
    EXPECT_EQ(4u, CallsOf("SetupDiCallClassInstaller").size());
    EXPECT_EQ("SetCurrentDirectoryA(\"C:\\WINDOWS\\system32\")", Calls()[0]);
    EXPECT_EQ("SetupDiGetClassDevsA(NULL, NULL, NULL, 0x6)", Calls()[1]);
    for (auto& call : CallsOf("SetupDiGetDeviceRegistryPropertyW"))
        EXPECT_NE(std::string::npos, call.find(", 1, 64)")) << call;
    EXPECT_EQ("C:\\WINDOWS\\system32", M().currentDirectory);
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Installed, ARefusedRemovalLeavesThatDeviceAndTheWalkGoesOn)
{
    Sim::FindDevice(Footprint::REMOVED_DEVICES[0])->refuseRemoval = true;
    RemoveDevices(M().systemDirectory.c_str());
    EXPECT_NE(nullptr, Sim::FindDevice(Footprint::REMOVED_DEVICES[0]));
    for (int i = 1; i < Footprint::REMOVED_DEVICE_COUNT; ++i)
        EXPECT_EQ(nullptr, Sim::FindDevice(Footprint::REMOVED_DEVICES[i])) << i;
}

TEST_F(FreshMachine, HardwareIdsAreReadNoFurtherThanTheirBuffer)
{
    GUID system{};
    // 64 bytes of a matching ID with no terminator at all.
    std::vector<BYTE> ids;
    for (char c : std::string("root\\VkBusEnum") + std::string(18, 'x')) {
        ids.push_back((BYTE)c);
        ids.push_back(0);
    }
    ASSERT_EQ(64u, ids.size());
    Sim::AddDevice("ROOT\\FULL\\0000", system, {"x"}).hardwareIds = ids;
    Sim::AddDevice("ROOT\\NOIDS\\0000", system, {});
    Sim::AddDevice("ROOT\\CAPS\\0000", system, {"ROOT\\VKBUSENUM"});
    RemoveDevices(nullptr);
    EXPECT_NE(nullptr, Sim::FindDevice("ROOT\\FULL\\0000"));
    EXPECT_NE(nullptr, Sim::FindDevice("ROOT\\NOIDS\\0000"));
    EXPECT_EQ(nullptr, Sim::FindDevice("ROOT\\CAPS\\0000"));
    EXPECT_TRUE(CallsOf("SetCurrentDirectoryA").empty());
    EXPECT_EQ("C:\\", M().currentDirectory);
}

TEST_F(FreshMachine, AnUnterminatedIdIsNotCompletedByTheDeviceReadBeforeIt)
{
    GUID system{};
    // "Korrin" with no terminator, read right after a device whose first ID
    // ends in "\KrHub": together they would spell a product ID.
    Sim::AddDevice("ROOT\\BEFORE\\0000", system, {"Vendor\\KrHub"});
    Sim::Device& cut = Sim::AddDevice("ROOT\\CUT\\0000", system, {"x"});
    cut.hardwareIds.clear();
    for (char c : std::string("Korrin")) {
        cut.hardwareIds.push_back((BYTE)c);
        cut.hardwareIds.push_back(0);
    }
    // "*ZOLTAudio01" with the last byte missing: half a unit is no '1'.
    std::vector<BYTE> odd = Sim::WideMultiSz({"*ZOLTAudio01"});
    odd.resize(23);
    Sim::AddDevice("ROOT\\ODD\\0000", system, {"x"}).hardwareIds = odd;
    RemoveDevices(nullptr);
    EXPECT_NE(nullptr, Sim::FindDevice("ROOT\\CUT\\0000"));
    EXPECT_NE(nullptr, Sim::FindDevice("ROOT\\ODD\\0000"));
    EXPECT_TRUE(CallsOf("SetupDiCallClassInstaller").empty());
}

TEST(MatchHardwareId, ComparesTheFirstIdWithoutCase)
{
    EXPECT_EQ(1, MatchHardwareId(u"KORRIN\\VKXHCI"));
    EXPECT_EQ(1, MatchHardwareId(u"*zoltaudio01"));
    EXPECT_EQ(0, MatchHardwareId(u"Korrin\\KrHub2"));
    EXPECT_EQ(0, MatchHardwareId(u"Korrin\\KrHu"));
    EXPECT_EQ(0, MatchHardwareId(u""));
    EXPECT_EQ(1, MatchHardwareId(u"Korrin\\KrHub\0Other"));
    EXPECT_EQ(0, MatchHardwareId(u"Other\0Korrin\\KrHub"));
}

// ---- component files ----

TEST_F(Installed, SixServersUnregisterAndFiftyThreeDeletionsAreRecorded)
{
    RemoveComponentFiles();
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
    RemoveComponentFiles();
    EXPECT_EQ(expected, Pending());
    EXPECT_EQ(loads, CallsOf("LoadLibraryExA"));
}

TEST_F(Installed, AServerThatIsMissingOrBrokenIsPassedOverAndStillDeleted)
{
    const std::string folder = Footprint::PRODUCT_FOLDER;
    Sim::FindNode(folder)->children.erase("VkUsbMmc.dll");
    Sim::FindNode(folder + "VkView.dll")->library->exportsUnregister = false;
    Sim::FindNode(folder + "SeatMmc.dll")->library->unregisterResult = (HRESULT)0x80004005;
    Sim::FindNode(folder + "VkMMC.dll")->library.reset(); // not a library at all
    RemoveComponentFiles();
    EXPECT_EQ(std::vector<std::string>({folder + "VkUsbVw.dll", folder + "SeatMmc.dll",
                                        folder + "SeatView.dll"}),
              M().unregistered);
    std::vector<std::string> pending = Pending();
    EXPECT_EQ(53u, pending.size());
    EXPECT_NE(pending.end(), std::find(pending.begin(), pending.end(),
                                       "\\??\\" + folder + "VkUsbMmc.dll"));
    EXPECT_EQ(0, Sim::OpenHandles());
}

// Run from elsewhere than the product folder (a distribution cache, a
// share), the uninstaller still has each server's imports found beside the
// server, and only there or in Windows' own folders: never beside itself.
TEST_F(Installed, AServersImportsAreLookedForBesideItNotBesideTheUninstaller)
{
    const std::string folder = Footprint::PRODUCT_FOLDER;
    const std::string import = Footprint::SERVER_IMPORT;
    const std::string server = folder + Footprint::IMPORTING_SERVER;
    auto unregistered = [&] {
        M().unregistered.clear();
        RemoveComponentFiles();
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

TEST_F(Installed, AFolderValueThatIsNotASafeAbsoluteFolderSkipsTheStep)
{
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
        RemoveComponentFiles();
        EXPECT_TRUE(CallsOf("LoadLibraryExA").empty()) << value.first.size();
        EXPECT_TRUE(Pending().empty()) << value.first.size();
        EXPECT_TRUE(M().unregistered.empty());
    }
}

// Windows stores a string as it was given, NUL or not, and takes either
// separator; each of these names the product folder.
TEST_F(Installed, AFolderStoredWithoutItsNulOrWithForwardSlashesIsStillTheFolder)
{
    RemoveComponentFiles();
    const std::vector<std::string> expected = Pending();
    const std::vector<std::string> unregistered = M().unregistered;
    ASSERT_EQ(53u, expected.size());
    for (const std::string& value :
         {std::string("C:\\Program Files\\Tallowin"), std::string("C:\\Program Files\\Tallowin\\"),
          std::string("C:/Program Files/Tallowin/\0", 27)}) {
        Sim::Reset();
        Footprint::Install();
        SetFolder(value);
        RemoveComponentFiles();
        EXPECT_EQ(expected, Pending()) << value;
        EXPECT_EQ(unregistered, M().unregistered) << value;
    }
}

TEST_F(Installed, AFolderTooLongForSomeNamesSkipsThoseNamesAndCutsNone)
{
    // 240 characters: short names still fit with the folder, long ones do
    // not, and under "drivers\" fewer still.
    std::string folder = "C:\\" + std::string(236, 'p') + "\\";
    ASSERT_EQ(240u, folder.size());
    SetFolder(folder + '\0');
    RemoveComponentFiles();
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

TEST_F(FreshMachine, WithoutAFolderValueNothingIsLoadedOrQueued)
{
    RemoveComponentFiles();
    EXPECT_EQ(std::vector<std::string>(
                  {"RegOpenKeyExA(HKLM, \"SYSTEM\\CurrentControlSet\\Control\\Multiuser\", "
                   "0xF003F)"}),
              Calls());
}

// ---- Terminal Services ----

TEST_F(Installed, TermServiceGetsWindowsOwnConfigurationBack)
{
    Sim::Value image = Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath");
    SC_HANDLE scm = Scm();
    M().journal.clear();
    RestoreTerminalService(scm);
    EXPECT_EQ(std::vector<std::string>({
                  "OpenServiceA(scm#1, \"TermService\", 0x2)",
                  "RegOpenKeyExA(HKLM, \"SYSTEM\\CurrentControlSet\\Services\\TermService\", "
                  "0xF003F)",
                  "RegQueryValueExA(key#1, \"ImagePath\", 4096)",
                  "RegCloseKey(key#1)",
                  "ChangeServiceConfigA(svc#1, 0x20, 3, 1, \"%SystemRoot%\\System32\\svchost -k "
                  "DComLaunch\", \"TermService\", &tag, \"RPCSS\", \"LocalSystem\", NULL, "
                  "\"Terminal Services\")",
                  "CloseServiceHandle(svc#1)",
              }),
              Calls());
    EXPECT_EQ(Sim::Dword(0x20), Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "Type").data);
    EXPECT_EQ(Sim::Dword(3), Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "Start").data);
    EXPECT_EQ(Sim::MultiSz({"RPCSS"}), Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "DependOnService").data);
    EXPECT_EQ(Sim::Sz("TermService"), Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "Group").data);
    EXPECT_EQ(Sim::Sz("Terminal Services"), Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "DisplayName").data);
    EXPECT_EQ(image.data, Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath").data);
    EXPECT_EQ(1, Sim::OpenHandles());
}

TEST_F(Installed, TermServiceWithoutAReadableImagePathIsLeftAsItIs)
{
    SC_HANDLE scm = Scm();
    for (std::string bytes : {std::string(), "C:\\" + std::string(4093, 'x')}) {
        Sim::SetValue(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath", REG_EXPAND_SZ,
                      std::vector<BYTE>(bytes.begin(), bytes.end()));
        std::vector<std::string> before = Sim::MachineLines();
        RestoreTerminalService(scm);
        EXPECT_EQ(before, Sim::MachineLines());
    }
    EXPECT_TRUE(CallsOf("ChangeServiceConfigA").empty());
    EXPECT_EQ(1, Sim::OpenHandles());

    // Stored without its NUL, the path is still the path.
    Sim::SetValue(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath", REG_EXPAND_SZ,
                  {'C', ':', '\\', 'x'});
    RestoreTerminalService(scm);
    ASSERT_EQ(1u, CallsOf("ChangeServiceConfigA").size());
    EXPECT_NE(std::string::npos, CallsOf("ChangeServiceConfigA")[0].find("\"C:\\x\", "));
}

TEST_F(FreshMachine, TheGroupOrderLosesBothGroupsInAnyCase)
{
    Sim::SetValue(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List", REG_MULTI_SZ,
                  Sim::MultiSz({"Base", "termservice", "Multiuser", "Video"}));
    CleanServiceGroupOrder();
    Sim::Value list = Read(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List");
    EXPECT_EQ(Sim::MultiSz({"Base", "Video"}), list.data);
    EXPECT_EQ(Sim::MultiSz({"Base", "termservice", "Multiuser", "Video"}).size() - 22,
              list.data.size());
    EXPECT_EQ(M().liveAllocations, 0);

    // A list of only the two is left as it was, not written empty.
    Sim::SetValue(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List", REG_MULTI_SZ,
                  Sim::MultiSz({"TermService", "Multiuser"}));
    M().journal.clear();
    CleanServiceGroupOrder();
    EXPECT_EQ(Sim::MultiSz({"TermService", "Multiuser"}),
              Read(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List").data);
    EXPECT_TRUE(CallsOf("RegSetValueExW").empty());

    // A group named outside the code page (U+4E00's low byte is 0) goes back as it was.
    const std::u16string foreign = {u'B', 0x4E00, 0, u'M', u'u', u'l', u't', u'i', u'u', u's',
                                    u'e', u'r', 0, 0x3A9, 0, 0};
    Sim::SetTextValue(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List", REG_MULTI_SZ,
                      Sim::WideToText(foreign.data(), foreign.size()));
    CleanServiceGroupOrder();
    EXPECT_EQ(std::u16string({u'B', 0x4E00, 0, 0x3A9, 0, 0}),
              Sim::TextToWide(Text(*Sim::FindKey(HKEY_LOCAL_MACHINE, GROUP_ORDER)->FindValue("List"))));
}

TEST_F(FreshMachine, TheLogonTypeIsOneEvenWhereItWasAbsentButTheKeyIsNeverMade)
{
    Sim::FindKey(HKEY_LOCAL_MACHINE, WINLOGON)->values.clear();
    RestoreLogonType();
    EXPECT_EQ(Sim::Dword(1), Read(HKEY_LOCAL_MACHINE, WINLOGON, "LogonType").data);
    Sim::DeleteKeyAt(HKEY_LOCAL_MACHINE, WINLOGON);
    RestoreLogonType();
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, WINLOGON));
}

// ---- registrations ----

TEST_F(Installed, TheSevenTreesGoWithEverythingBelowThem)
{
    RemoveRegistrations();
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}"));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}"));
    EXPECT_NE(nullptr, Sim::FindKey(HKEY_CLASSES_ROOT, "CLSID\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}"));
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

// ---- Start-menu groups ----

TEST_F(Installed, AGroupMadeTheOrdinaryWayLosesItsShortcutsAndItsFolder)
{
    std::string programs = M().programsFolder;
    EXPECT_TRUE(RemoveStartMenuGroup(CSIDL_PROGRAMS));
    EXPECT_FALSE(Sim::Exists(programs + "\\Tallowin"));
    EXPECT_EQ("FindFirstFileA(\"" + programs + "\\Tallowin\\*.lnk\")", CallsOf("FindFirstFileA")[1]);
    EXPECT_EQ(3u, CallsOf("DeleteFileA").size());
    EXPECT_EQ("RemoveDirectoryA(\"" + programs + "\\Tallowin\")", Calls().back());
    EXPECT_TRUE(Sim::Exists(programs + "\\Accessories\\Notepad.lnk"));
    EXPECT_EQ(0, Sim::OpenHandles());

    // Gone already: nothing happens and the result says the folder was not removed.
    EXPECT_FALSE(RemoveStartMenuGroup(CSIDL_PROGRAMS));
}

TEST_F(Installed, WhatIsNotAShortcutStaysAndSoDoesTheFolder)
{
    std::string group = M().commonProgramsFolder + "\\Tallowin";
    Sim::MakeFile(group + "\\Read me.txt");
    Sim::MakeDirectory(group + "\\Tools.lnk");
    EXPECT_FALSE(RemoveStartMenuGroup(CSIDL_COMMON_PROGRAMS));
    EXPECT_TRUE(Sim::Exists(group + "\\Read me.txt"));
    EXPECT_TRUE(Sim::Exists(group + "\\Tools.lnk"));
    EXPECT_FALSE(Sim::Exists(group + "\\Seat Manager.lnk"));
}

TEST_F(Installed, AFileMatchedOnlyByItsShortNameIsNoShortcut)
{
    // "*.lnk" finds these through NOTES~1.LNK and READ~1.LNK.
    std::string group = M().programsFolder + "\\Tallowin";
    Sim::MakeFile(group + "\\notes.lnk2");
    Sim::MakeFile(group + "\\Read me.lnkx");
    EXPECT_FALSE(RemoveStartMenuGroup(CSIDL_PROGRAMS));
    EXPECT_TRUE(Sim::Exists(group + "\\notes.lnk2"));
    EXPECT_TRUE(Sim::Exists(group + "\\Read me.lnkx"));
    EXPECT_FALSE(Sim::Exists(group + "\\Seat Manager.lnk"));
}

TEST_F(Installed, AGroupWhoseFolderKeepsTheTrailingSpacesGoesToo)
{
    // Made through a path that ended in a backslash, the folder carries the
    // name exactly as the catalogue spells it.
    std::string programs = M().programsFolder;
    std::string literal = programs + "\\Tallowin  \\";
    Sim::MakeDirectory(literal);
    Sim::MakeFile(literal + "Seat Manager.lnk");
    ASSERT_TRUE(Sim::Exists(literal + "Seat Manager.lnk"));
    EXPECT_TRUE(RemoveStartMenuGroup(CSIDL_PROGRAMS));
    EXPECT_FALSE(Sim::Exists(literal));
    EXPECT_FALSE(Sim::Exists(programs + "\\Tallowin"));
    EXPECT_EQ(2u, CallsOf("RemoveDirectoryA").size());
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Installed, AUserWithoutRightsKeepsTheAllUsersGroup)
{
    M().administrator = false;
    EXPECT_FALSE(RemoveStartMenuGroup(CSIDL_COMMON_PROGRAMS));
    EXPECT_TRUE(Sim::Exists(M().commonProgramsFolder + "\\Tallowin\\Seat Manager.lnk"));
}

// ---- restart ----

TEST_F(FreshMachine, TheRestartIsAskedForWithTheShutdownPrivilegeEnabled)
{
    EXPECT_TRUE(RestartSystem());
    EXPECT_EQ(std::vector<std::string>({
                  "OpenProcessToken(current process, 0x20)",
                  "LookupPrivilegeValueA(NULL, \"SeShutdownPrivilege\")",
                  "AdjustTokenPrivileges(token#1, 0, 1 privilege)",
                  "CloseHandle(token#1)",
                  "ExitWindowsEx(2, 0)",
              }),
              Calls());
    EXPECT_EQ(1u, M().restartRequests.size());
    EXPECT_EQ(0, Sim::OpenHandles());
}
