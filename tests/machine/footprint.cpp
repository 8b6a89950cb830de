#include "machine/footprint.h"

#include "catalogue/catalogue.h"
#include "platform/sim/machine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace Footprint {

extern const char PRODUCT_FOLDER[] = "C:\\Program Files\\Tallowin\\";
extern const char STUBBORN_SERVICE[] = "DzHelper";
extern const char IMPORTING_SERVER[] = "VkUsbMmc.dll";
extern const char SERVER_IMPORT[] = "vkclass.dll";

namespace {

struct RegistryEntry {
    HKEY root;
    const char* path;
    const char* name;
    DWORD type;
    const char* data; // text; REG_DWORD as decimal; REG_MULTI_SZ entries joined by '|'
};

// Everything the product writes to the registry but its services and the
// lists it edits.
const RegistryEntry REGISTRY[] = {
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser", "DzPath", REG_SZ,
     "C:\\Program Files\\Tallowin\\"},
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser", "Seats", REG_DWORD, "4"},
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser\\Seats\\Seat1", "Display",
     REG_SZ, "\\\\.\\DISPLAY1"},
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser\\Seats\\Seat1\\Input",
     "Keyboard", REG_SZ, "ROOT\\VKBUSENUM\\0000"},
    {HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}", "", REG_SZ,
     "Seat Display Extension"},
    {HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}\\InprocServer32", "", REG_SZ,
     "C:\\Program Files\\Tallowin\\SeatView.dll"},
    {HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}\\InprocServer32",
     "ThreadingModel", REG_SZ, "Apartment"},
    {HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}", "", REG_SZ,
     "Shared Input Extension"},
    {HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}\\InprocServer32", "", REG_SZ,
     "C:\\Program Files\\Tallowin\\VkUsbVw.dll"},
    {HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
     "Folder\\Desk\\shellex\\PropertySheetHandlers\\Seat Display Extension",
     "", REG_SZ, "{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}"},
    {HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
     "Folder\\Desk\\shellex\\PropertySheetHandlers\\Shared Input Extension",
     "", REG_SZ, "{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}"},
    {HKEY_LOCAL_MACHINE,
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\RyWinLog", "DLLName",
     REG_SZ, "C:\\Program Files\\Tallowin\\VkLogon.dll"},
    {HKEY_LOCAL_MACHINE,
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\RyWinLog", "Logon", REG_SZ,
     "RyLogon"},
    {HKEY_LOCAL_MACHINE,
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\RyWinLog\\Seats", "Count",
     REG_DWORD, "4"},
    {HKEY_LOCAL_MACHINE,
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\Dzmunotify", "DLLName",
     REG_SZ, "C:\\Program Files\\Tallowin\\VkWinSta.dll"},
    {HKEY_LOCAL_MACHINE,
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\Dzmunotify", "Impersonate",
     REG_DWORD, "0"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", "LogonType",
     REG_DWORD, "0"},
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder", "List",
     REG_MULTI_SZ,
     "System Reserved|Boot Bus Extender|System Bus Extender|SCSI miniport|Port|Primary Disk|SCSI "
     "Class|SCSI CDROM Class|FSFilter Infrastructure|FSFilter System|Filter|Boot File "
     "System|Base|Pointer Port|Keyboard Port|Pointer Class|Keyboard Class|Video Init|Video|Video "
     "Save|File System|Event Log|TermService|Multiuser|Streams Drivers|NDIS Wrapper|COM "
     "Infrastructure|UIGroup|LocalValidation|PlugPlay|PNP_TDI|NDIS|TDI|NetBIOSGroup|ShellSvcGroup|"
     "SchedulerGroup|SpoolerGroup|AudioGroup|SmartCardGroup|NetworkProvider|RemoteValidation|"
     "NetDDEGroup|Parallel arbitrator|Extended Base|PCI Configuration|MS Transactions"},
    // The product's filters among Windows' own, in each of the six classes.
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E980-E325-11CE-BFC1-08002BE10318}",
     "UpperFilters", REG_MULTI_SZ, "DzStore"},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}",
     "UpperFilters", REG_MULTI_SZ, "PartMgr|DzStore"},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{71A27CDD-812A-11D0-BEC7-08002BE2092F}",
     "UpperFilters", REG_MULTI_SZ, "DzStore|VolSnap"},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}",
     "UpperFilters", REG_MULTI_SZ, "DzXpKbdPnp|kbdclass"},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}",
     "UpperFilters", REG_MULTI_SZ, "mouclass|DzXpMouPnp"},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}",
     "UpperFilters", REG_MULTI_SZ, "DzXpHidCls"},
};

struct ServiceEntry {
    const char* name;
    DWORD type;
    DWORD start;
    const char* image; // relative to the product folder
    const char* group;
    bool running;
};

const ServiceEntry SERVICES[] = {
    {"DzInstall", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "VkMain.exe", "", false},
    {"DzService", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, "VkServer.exe", "Multiuser", true},
    {"DzBootSrv", SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START, "drivers\\VkGate.sys", "Multiuser",
     true},
    {"DzPciVga", SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START, "drivers\\dzvdisp.sys", "Video",
     true},
    {"DzUsbMouse", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\VkMouCls.sys",
     "Pointer Class", true},
    {"DzUsbKeyboard", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\VkKbdCls.sys",
     "Keyboard Class", true},
    {"DzLegacyKeyboard", SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START, "drivers\\VkRelay.sys",
     "Keyboard Port", false},
    {"DzHelper", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, "VkDskExt.exe", "", true},
    {"DzXpKbdPnp", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\VkKbdPnp.sys",
     "Keyboard Class", true},
    {"DzXpMouPnp", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\VkMouPnp.sys",
     "Pointer Class", true},
    {"DzXpHidCls", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\VkHidCls.sys", "", false},
    {"DzStore", SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START, "drivers\\VkStore.sys", "Filter", true},
    {"DzVdisp", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\dzvdisp.sys", "Video",
     false},
    {"Dzstd", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\dzstd.sys", "", true},
    {"vkaxfer", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\vkaxfer.sys", "", false},
    {"vkaudio", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\vkaudio.sys", "", true},
    {"vkbus", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\vkbus.sys", "Base", true},
    {"vkxhci", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "drivers\\vkxhci.sys", "", false},
};

struct DeviceEntry {
    const char* name; // DICD_GENERATE_ID makes ROOT\<NAME>\0000
    const char* ids;  // hardware IDs joined by '|'
    bool present;
};

const GUID SYSTEM_CLASS = {
    0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

const DeviceEntry DEVICES[] = {
    {"VkBusEnum", "ROOT\\VKBUSENUM", true}, // the ID written in capitals
    {"KrHub", "Korrin\\KrHub", true},
    {"ZoltAudio", "*ZOLTAudio01|*ZOLTAudio", true},
    {"VkXhci", "Korrin\\vkxhci", true},
    {"KrHubPort", "Korrin\\KrHubPort|Korrin\\KrHub", true},      // the second ID matches
    {"VkXhciRev", "Korrin\\vkxhci|Korrin\\vkxhci&REV_01", true}, // 72 bytes of IDs
    {"VkGhost", "Korrin\\KrHub", false},                         // not present
};

} // namespace

extern const char* const REMOVED_DEVICES[] = {"ROOT\\VKBUSENUM\\0000", "ROOT\\KRHUB\\0000",
                                              "ROOT\\ZOLTAUDIO\\0000", "ROOT\\VKXHCI\\0000"};
extern const int REMOVED_DEVICE_COUNT = 4;
extern const char* const KEPT_DEVICES[] = {"ROOT\\KRHUBPORT\\0000", "ROOT\\VKXHCIREV\\0000",
                                           "ROOT\\VKGHOST\\0000"};
extern const int KEPT_DEVICE_COUNT = 3;

static void Check(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "installing the product: %s failed (%lu)\n", what.c_str(),
                     (unsigned long)Win::GetLastError());
        std::abort();
    }
}

static std::vector<BYTE> Data(DWORD type, const char* text) {
    std::vector<BYTE> data;
    if (type == REG_DWORD) {
        DWORD value = (DWORD)std::strtoul(text, nullptr, 10);
        return Sim::Dword(value);
    }
    for (const char* p = text; *p != 0; ++p)
        data.push_back(type == REG_MULTI_SZ && *p == '|' ? 0 : (BYTE)*p);
    data.push_back(0);
    if (type == REG_MULTI_SZ)
        data.push_back(0);
    return data;
}

static void InstallRegistry(unsigned long mask) {
    int bit = 0;
    for (const RegistryEntry& entry : REGISTRY) {
        if (!(mask >> (bit++ % 32) & 1))
            continue;
        HKEY key;
        Check(Win::RegCreateKeyExA(entry.root, entry.path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS,
              entry.path);
        std::vector<BYTE> data = Data(entry.type, entry.data);
        Check(Win::RegSetValueExA(key, entry.name, 0, entry.type, data.data(),
                                  (DWORD)data.size()) == ERROR_SUCCESS,
              entry.name);
        Win::RegCloseKey(key);
    }
}

static void InstallServices(unsigned long mask) {
    SC_HANDLE scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    Check(scm != nullptr, "OpenSCManagerA");
    int bit = 0;
    for (const ServiceEntry& entry : SERVICES) {
        if (!(mask >> bit++ & 1))
            continue;
        std::string image = std::string(PRODUCT_FOLDER) + entry.image;
        SC_HANDLE service = Win::CreateServiceA(
            scm, entry.name, entry.name, SERVICE_ALL_ACCESS, entry.type, entry.start,
            SERVICE_ERROR_NORMAL, image.c_str(), entry.group[0] ? entry.group : nullptr, nullptr,
            nullptr, nullptr, nullptr);
        Check(service != nullptr, entry.name);
        // What each service program does with the controls it gets.
        Sim::Service& record = Sim::Current().services[entry.name];
        if (std::strcmp(entry.name, PREPARE_REMOVAL_SERVICE) == 0)
            record.customControls.insert(254);
        if (std::strcmp(entry.name, STUBBORN_SERVICE) == 0)
            record.acceptsStop = false;
        if (entry.running)
            Check(Win::StartServiceA(service, 0, nullptr), entry.name);
        Win::CloseServiceHandle(service);
    }
    // TermService as the product changes it.
    if (!(mask >> 18 & 1)) {
        Win::CloseServiceHandle(scm);
        return;
    }
    SC_HANDLE term = Win::OpenServiceA(scm, "TermService", SERVICE_CHANGE_CONFIG);
    Check(term != nullptr, "TermService");
    Check(Win::ChangeServiceConfigA(term, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, nullptr, "Multiuser", nullptr,
                                    "RPCSS\0DzService\0", nullptr, nullptr,
                                    "Tallowin Terminal Services"),
          "TermService configuration");
    Win::CloseServiceHandle(term);
    Win::CloseServiceHandle(scm);
}

static void InstallDevices(unsigned long mask) {
    HDEVINFO set = Win::SetupDiCreateDeviceInfoList(&SYSTEM_CLASS, nullptr);
    int bit = 0;
    for (const DeviceEntry& entry : DEVICES) {
        if (!(mask >> bit++ & 1))
            continue;
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        Check(Win::SetupDiCreateDeviceInfoA(set, entry.name, &SYSTEM_CLASS, nullptr, nullptr,
                                            DICD_GENERATE_ID, &data),
              entry.name);
        std::vector<BYTE> ids = Data(REG_MULTI_SZ, entry.ids);
        Check(Win::SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, ids.data(),
                                                     (DWORD)ids.size()),
              entry.ids);
        Check(Win::SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr), entry.name);
        if (!entry.present) {
            for (auto& device : Sim::Current().devices) {
                if (device.devInst == data.DevInst)
                    device.present = false;
            }
        }
    }
    Win::SetupDiDestroyDeviceInfoList(set);
}

std::vector<std::string> InstalledFiles() {
    std::vector<std::string> files;
    std::set<std::string, Sim::NoCase> seen;
    auto add = [&](const char* list, const std::string& folder) {
        for (const char* name = list; *name != 0; name += std::strlen(name) + 1) {
            std::string path = folder + name;
            if (seen.insert(path).second)
                files.push_back(path);
        }
    };
    add(MainFileList, PRODUCT_FOLDER);
    add(ExtraFileList, PRODUCT_FOLDER);
    add(SupportFileList, PRODUCT_FOLDER);
    add(DriverFileList, std::string(PRODUCT_FOLDER) + "drivers\\");
    return files;
}

static void InstallProductFolder() {
    Check(Win::CreateDirectoryA("C:\\Program Files\\Tallowin", nullptr), "product folder");
    Check(Win::CreateDirectoryA("C:\\Program Files\\Tallowin\\drivers", nullptr), "drivers");
    for (const std::string& path : InstalledFiles()) {
        Sim::Node* node = Sim::MakeFile(path, "product", true);
        std::string name = path.substr(path.rfind('\\') + 1);
        for (const char* list : {MainServerList, SupportServerList}) {
            for (const char* server = list; *server != 0; server += std::strlen(server) + 1) {
                if (Sim::SameName(server, name))
                    node->library = std::make_unique<Sim::Library>();
            }
        }
        if (Sim::SameName(name, IMPORTING_SERVER))
            node->library->imports = {SERVER_IMPORT};
    }
    // What the user put beside the product's files stays.
    Sim::MakeFile(std::string(PRODUCT_FOLDER) + "seats.txt", "user's notes", true);
    Sim::MakeFile(std::string(PRODUCT_FOLDER) + "drivers\\oem0.inf", "another vendor's", true);
}

static void InstallFiles(bool files, unsigned groups) {
    if (files)
        InstallProductFolder();
    // The Start-menu groups, made the ordinary way: the folder name loses
    // its trailing spaces.
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
        if (!(groups >> (csidl == CSIDL_COMMON_PROGRAMS) & 1))
            continue;
        char folder[MAX_PATH];
        Check(Win::SHGetSpecialFolderPathA(nullptr, folder, csidl, TRUE), "special folder");
        std::string group = std::string(folder) + START_MENU_GROUP;
        Check(Win::CreateDirectoryA(group.c_str(), nullptr), "group folder");
        bool common = csidl == CSIDL_COMMON_PROGRAMS;
        std::string onDisk = std::string(folder) + "\\Tallowin";
        const char* shortcuts[] = {"Tallowin Console.lnk", "Uninstall Tallowin.lnk",
                                   "Seat Manager.lnk"};
        for (const char* shortcut : shortcuts)
            Sim::MakeFile(onDisk + "\\" + shortcut, "shortcut", common);
    }
}

void Install(const Parts& parts) {
    InstallRegistry(parts.registry);
    InstallServices(parts.services);
    InstallDevices(parts.devices);
    InstallFiles(parts.files, parts.groups);
    Sim::Current().journal.clear();
    Sim::Current().handleNumbers.clear();
    Sim::Current().failableCalls = 0;
}

} // namespace Footprint
