// What a fresh Windows XP holds of the places the product touches, as
// Windows itself installs them.
#include "internal.h"

#include <iterator>

namespace Sim {

static const char SERVICES[] = KEY_SERVICES "\\";
static const char CLASSES[] = KEY_SETUP_CLASSES "\\";

static void WindowsService(const std::string& name, DWORD type, DWORD start,
                           const std::string& imagePath, const std::string& group,
                           const std::vector<std::string>& dependencies,
                           const std::string& displayName, bool running) {
    std::string key = SERVICES + name;
    SetValue(HKEY_LOCAL_MACHINE, key, "Type", REG_DWORD, Dword(type));
    SetValue(HKEY_LOCAL_MACHINE, key, "Start", REG_DWORD, Dword(start));
    SetValue(HKEY_LOCAL_MACHINE, key, "ErrorControl", REG_DWORD, Dword(SERVICE_ERROR_NORMAL));
    SetValue(HKEY_LOCAL_MACHINE, key, "ImagePath", REG_EXPAND_SZ, Sz(imagePath));
    if (!group.empty())
        SetValue(HKEY_LOCAL_MACHINE, key, "Group", REG_SZ, Sz(group));
    if (!dependencies.empty())
        SetValue(HKEY_LOCAL_MACHINE, key, "DependOnService", REG_MULTI_SZ, MultiSz(dependencies));
    if (type & (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS))
        SetValue(HKEY_LOCAL_MACHINE, key, "ObjectName", REG_SZ, Sz("LocalSystem"));
    SetValue(HKEY_LOCAL_MACHINE, key, "DisplayName", REG_SZ, Sz(displayName));
    Service service;
    service.state = running ? SERVICE_RUNNING : SERVICE_STOPPED;
    Current().services[name] = service;
}

static void SetupClass(const std::string& guid, const std::string& className,
                       const std::vector<std::string>& upperFilters) {
    std::string key = CLASSES + guid;
    SetValue(HKEY_LOCAL_MACHINE, key, "Class", REG_SZ, Sz(className));
    if (!upperFilters.empty())
        SetValue(HKEY_LOCAL_MACHINE, key, "UpperFilters", REG_MULTI_SZ, MultiSz(upperFilters));
}

static GUID Guid(DWORD a, WORD b, WORD c, std::initializer_list<BYTE> d) {
    GUID g{a, b, c, {}};
    int i = 0;
    for (BYTE x : d)
        g.Data4[i++] = x;
    return g;
}

// The service group order of a fresh Windows XP, in its order.
static const char* const GROUP_ORDER[] = {"System Reserved",
                                          "Boot Bus Extender",
                                          "System Bus Extender",
                                          "SCSI miniport",
                                          "Port",
                                          "Primary Disk",
                                          "SCSI Class",
                                          "SCSI CDROM Class",
                                          "FSFilter Infrastructure",
                                          "FSFilter System",
                                          "Filter",
                                          "Boot File System",
                                          "Base",
                                          "Pointer Port",
                                          "Keyboard Port",
                                          "Pointer Class",
                                          "Keyboard Class",
                                          "Video Init",
                                          "Video",
                                          "Video Save",
                                          "File System",
                                          "Event Log",
                                          "Streams Drivers",
                                          "NDIS Wrapper",
                                          "COM Infrastructure",
                                          "UIGroup",
                                          "LocalValidation",
                                          "PlugPlay",
                                          "PNP_TDI",
                                          "NDIS",
                                          "TDI",
                                          "NetBIOSGroup",
                                          "ShellSvcGroup",
                                          "SchedulerGroup",
                                          "SpoolerGroup",
                                          "AudioGroup",
                                          "SmartCardGroup",
                                          "NetworkProvider",
                                          "RemoteValidation",
                                          "NetDDEGroup",
                                          "Parallel arbitrator",
                                          "Extended Base",
                                          "PCI Configuration",
                                          "MS Transactions"};

// Windows' own keys and values among those the product touches.
static void LayKeys() {
    MakeKey(HKEY_LOCAL_MACHINE,
            KEY_MACHINE_CLASSES "\\" KEY_CLASS_IDS "\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    SetValue(HKEY_CLASSES_ROOT, KEY_CLASS_IDS "\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}", "",
             REG_SZ, Sz("My Computer"));
    MakeKey(HKEY_LOCAL_MACHINE, KEY_DESK_PROPERTY_SHEET_HANDLERS);
    MakeKey(HKEY_LOCAL_MACHINE, KEY_SESSION_MANAGER);

    // One control set, which the last good boot used too.
    for (const char* name : {"Current", "Default", "LastKnownGood"})
        SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", name, REG_DWORD, Dword(1));
    SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
             REG_SZ, Sz("C:\\Program Files"));
    SetValue(HKEY_LOCAL_MACHINE, KEY_WINLOGON, "Shell", REG_SZ, Sz("Explorer.exe"));
    SetValue(HKEY_LOCAL_MACHINE, KEY_WINLOGON, "Userinit", REG_SZ,
             Sz("C:\\WINDOWS\\system32\\userinit.exe,"));
    SetValue(HKEY_LOCAL_MACHINE, KEY_WINLOGON, "LogonType", REG_DWORD, Dword(1));
    SetValue(HKEY_LOCAL_MACHINE, KEY_WINLOGON_NOTIFY "\\crypt32chain", "DLLName", REG_EXPAND_SZ,
             Sz("crypt32.dll"));
    SetValue(HKEY_LOCAL_MACHINE, KEY_WINLOGON_NOTIFY "\\sclgntfy", "DLLName", REG_EXPAND_SZ,
             Sz("sclgntfy.dll"));
    SetValue(HKEY_LOCAL_MACHINE, KEY_SERVICE_GROUP_ORDER, "List", REG_MULTI_SZ,
             MultiSz(std::vector<std::string>(std::begin(GROUP_ORDER), std::end(GROUP_ORDER))));
}

// The six setup classes whose filters the product edits, as Windows installs them.
static void LaySetupClasses() {
    SetupClass("{4D36E980-E325-11CE-BFC1-08002BE10318}", "FloppyDisk", {});
    SetupClass("{4D36E967-E325-11CE-BFC1-08002BE10318}", "DiskDrive", {"PartMgr"});
    SetupClass("{71A27CDD-812A-11D0-BEC7-08002BE2092F}", "Volume", {"VolSnap"});
    SetupClass("{4D36E96B-E325-11CE-BFC1-08002BE10318}", "Keyboard", {"kbdclass"});
    SetupClass("{4D36E96F-E325-11CE-BFC1-08002BE10318}", "Mouse", {"mouclass"});
    SetupClass("{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "HIDClass", {});
}

// TermService and the services Windows' own filters and classes name.
static void LayServices() {
    Machine& m = Current();
    WindowsService(SERVICE_TERMSERVICE, SERVICE_WIN32_SHARE_PROCESS, SERVICE_DEMAND_START,
                   "%SystemRoot%\\System32\\svchost -k DComLaunch", GROUP_TERMSERVICE, {"RPCSS"},
                   "Terminal Services", true);
    WindowsService("RpcSs", SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START,
                   "%SystemRoot%\\system32\\svchost -k rpcss", "COM Infrastructure", {},
                   "Remote Procedure Call (RPC)", true);
    m.services["RpcSs"].acceptsStop = false;
    WindowsService("Eventlog", SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START,
                   "%SystemRoot%\\system32\\services.exe", "Event log", {}, "Event Log", true);
    m.services["Eventlog"].acceptsStop = false;
    WindowsService("kbdclass", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                   "system32\\DRIVERS\\kbdclass.sys", "Keyboard Class", {}, "Keyboard Class Driver",
                   true);
    WindowsService("mouclass", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                   "system32\\DRIVERS\\mouclass.sys", "Pointer Class", {}, "Mouse Class Driver",
                   true);
    WindowsService("PartMgr", SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START,
                   "System32\\DRIVERS\\PartMgr.sys", "Filter", {}, "PartMgr", true);
    WindowsService("VolSnap", SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START,
                   "System32\\DRIVERS\\VolSnap.sys", "Filter", {}, "Storage volumes", true);
}

static void LayDevices() {
    const GUID keyboard =
        Guid(0x4D36E96B, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18});
    const GUID mouse =
        Guid(0x4D36E96F, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18});
    const GUID disk =
        Guid(0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18});
    const GUID system =
        Guid(0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18});
    AddDevice("ACPI\\PNP0303\\4&2658D0A0&0", keyboard, {"ACPI\\PNP0303", "*PNP0303"});
    AddDevice("ACPI\\PNP0F13\\4&2658D0A0&0", mouse, {"ACPI\\PNP0F13", "*PNP0F13"});
    AddDevice("IDE\\DISKVBOX_HARDDISK\\42562D3231", disk, {"IDE\\DiskVBOX_HARDDISK", "GenDisk"});
    AddDevice("ROOT\\ACPI_HAL\\0000", system, {"acpiapic"});
}

// The Windows folder, the images its services name, and the Start menus.
static void LayFiles() {
    Machine& m = Current();
    MakeDirectory("C:\\WINDOWS", true);
    MakeDirectory("C:\\WINDOWS\\system32\\drivers");
    MakeFile("C:\\WINDOWS\\system32\\kernel32.dll", "", true);
    MakeFile("C:\\WINDOWS\\system32\\drivers\\kbdclass.sys", "", true);
    // The image of each of its services, as the loader and the service manager find them.
    for (const char* image : {"drivers\\mouclass.sys", "drivers\\PartMgr.sys",
                              "drivers\\VolSnap.sys", "svchost.exe", "services.exe"})
        MakeFile(std::string("C:\\WINDOWS\\system32\\") + image, "", true);
    MakeDirectory("C:\\Program Files", true);
    MakeFile(m.programsFolder + "\\Accessories\\Notepad.lnk");
    MakeFile(m.programsFolder + "\\Internet Explorer.lnk");
    MakeDirectory(m.commonProgramsFolder, true);
    MakeFile(m.commonProgramsFolder + "\\Accessories\\Paint.lnk");
    MakeFile(m.commonProgramsFolder + "\\Windows Media Player.lnk", "", true);
}

void LayFreshWindows() {
    LayKeys();
    LaySetupClasses();
    LayServices();
    LayDevices();
    LayFiles();
}

} // namespace Sim
