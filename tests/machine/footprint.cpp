#include "machine/footprint.h"

#include "catalogue/catalogue.h"
#include "platform/sim/load.h"
#include "platform/sim/machine.h"

#include <algorithm>
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

namespace {

const char SERVICES_PATH[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\";
const char SYSTEM_CLASS_TEXT[] = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";

std::vector<BYTE> Data(DWORD type, const char* text) {
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

// Whether a key lies in a place the description holds with every key below it.
bool InTree(const std::string& path) {
    for (int i = 0; i < Description::PLACE_COUNT; ++i) {
        std::string place = Description::PLACES[i].path;
        if (Description::PLACES[i].subkeys && path.size() >= place.size() &&
            Description::SameText(path.substr(0, place.size()), place) &&
            (path.size() == place.size() || path[place.size()] == '\\'))
            return true;
    }
    return false;
}

// The described key at `path`, made when missing with the keys on the way
// that a reading of its tree would list.
Description::Key* KeyAt(Description::Machine* machine, const std::string& path) {
    for (Description::Key& key : machine->registry) {
        if (Description::SameText(key.path, path))
            return &key;
    }
    std::string parent = path.substr(0, path.rfind('\\'));
    if (InTree(parent))
        KeyAt(machine, parent);
    machine->registry.push_back({path, true, {}});
    return &machine->registry.back();
}

// Sets a value as the registry does: in its place when the key has it, else after the others.
void SetValue(Description::Key* key, const std::string& name, DWORD type,
              const std::vector<BYTE>& data) {
    for (Description::Value& value : key->values) {
        if (Description::SameText(value.name, name)) {
            value.type = type;
            value.data = data;
            return;
        }
    }
    key->values.push_back({name, type, data});
}

void AddRegistry(Description::Machine* machine, unsigned long mask) {
    int bit = 0;
    for (const RegistryEntry& entry : REGISTRY) {
        if (!(mask >> (bit++ % 32) & 1))
            continue;
        std::string root = entry.root == HKEY_CLASSES_ROOT ? "HKCR\\" : "HKLM\\";
        SetValue(KeyAt(machine, root + entry.path), entry.name, entry.type,
                 Data(entry.type, entry.data));
    }
}

// Each service's key as the service manager writes it when it creates the
// service, and TermService's as the product changes it.
void AddServices(Description::Machine* machine, unsigned long mask) {
    auto term = std::find_if(machine->services.begin(), machine->services.end(),
                             [](const Description::Service& s) { return s.name == "TermService"; });
    std::vector<Description::Service> services;
    int bit = 0;
    for (const ServiceEntry& entry : SERVICES) {
        if (!(mask >> bit++ & 1))
            continue;
        bool win32 = (entry.type & (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS)) != 0;
        Description::Key* key = KeyAt(machine, SERVICES_PATH + std::string(entry.name));
        SetValue(key, "Type", REG_DWORD, Sim::Dword(entry.type));
        SetValue(key, "Start", REG_DWORD, Sim::Dword(entry.start));
        SetValue(key, "ErrorControl", REG_DWORD, Sim::Dword(SERVICE_ERROR_NORMAL));
        SetValue(key, "ImagePath", REG_EXPAND_SZ,
                 Sim::Sz(std::string(PRODUCT_FOLDER) + entry.image));
        if (entry.group[0] != 0)
            SetValue(key, "Group", REG_SZ, Sim::Sz(entry.group));
        if (win32)
            SetValue(key, "ObjectName", REG_SZ, Sim::Sz("LocalSystem"));
        SetValue(key, "DisplayName", REG_SZ, Sim::Sz(entry.name));
        Description::Program program = !win32 ? Description::Program::None
                                       : std::strcmp(entry.name, STUBBORN_SERVICE) == 0
                                           ? Description::Program::RefusesStop
                                           : Description::Program::Records;
        services.push_back(
            {entry.name, entry.running ? (DWORD)SERVICE_RUNNING : SERVICE_STOPPED, program});
        machine->serviceKeys.push_back(entry.name);
    }
    term = machine->services.insert(term, services.begin(), services.end()) + (long)services.size();
    std::sort(machine->serviceKeys.begin(), machine->serviceKeys.end(), Sim::NameOrder());
    if (!(mask >> 18 & 1) || term == machine->services.end())
        return;
    Description::Key* key = KeyAt(machine, std::string(SERVICES_PATH) + "TermService");
    SetValue(key, "Type", REG_DWORD, Sim::Dword(SERVICE_WIN32_OWN_PROCESS));
    SetValue(key, "Start", REG_DWORD, Sim::Dword(SERVICE_AUTO_START));
    SetValue(key, "ErrorControl", REG_DWORD, Sim::Dword(SERVICE_ERROR_NORMAL));
    SetValue(key, "Group", REG_SZ, Sim::Sz("Multiuser"));
    SetValue(key, "DependOnService", REG_MULTI_SZ, Sim::MultiSz({"RPCSS", "DzService"}));
    SetValue(key, "DisplayName", REG_SZ, Sim::Sz("Tallowin Terminal Services"));
}

// Root-enumerated, as the product's installer makes them: ROOT\<NAME>\0000.
void AddDevices(Description::Machine* machine, unsigned long mask) {
    int bit = 0;
    for (const DeviceEntry& entry : DEVICES) {
        if (!(mask >> bit++ & 1))
            continue;
        Description::Device device;
        device.instanceId = Description::Upper(std::string("ROOT\\") + entry.name + "\\0000");
        device.classGuid = SYSTEM_CLASS_TEXT;
        std::vector<BYTE> ids = Data(REG_MULTI_SZ, entry.ids);
        device.hardwareIds = Sim::WideMultiSz(Strings::SplitMultiString(ids));
        device.hasHardwareIds = true;
        device.present = entry.present;
        machine->devices.push_back(device);
    }
}

bool IsServer(const std::string& name) {
    for (const char* list : {MainServerList, SupportServerList}) {
        for (const char* server = list; *server != 0; server += std::strlen(server) + 1) {
            if (Sim::SameName(server, name))
                return true;
        }
    }
    return false;
}

void AddFiles(Description::Machine* machine, bool files, unsigned groups) {
    auto add = [&](const std::string& path, bool directory) {
        machine->files.push_back({path, directory, Description::Library::None, false, {}});
        return &machine->files.back();
    };
    if (files) {
        add("%PRODUCT%", true);
        add("%PRODUCT%\\drivers", true);
        const size_t folder = std::strlen(PRODUCT_FOLDER);
        for (const std::string& path : InstalledFiles()) {
            std::string name = path.substr(path.rfind('\\') + 1);
            Description::File* file = add("%PRODUCT%\\" + path.substr(folder), false);
            if (IsServer(name))
                file->library = Description::Library::Unregisters;
            if (Sim::SameName(name, IMPORTING_SERVER))
                file->imports = {{SERVER_IMPORT, true}};
        }
        // What the user put beside the product's files stays.
        add("%PRODUCT%\\seats.txt", false);
        add("%PRODUCT%\\drivers\\oem0.inf", false);
    }
    // The Start-menu groups, made the ordinary way: the folder name
    // (START_MENU_GROUP) loses its trailing spaces.
    const std::pair<const char*, unsigned> folders[] = {{"%PROGRAMS%\\Tallowin", 1},
                                                        {"%COMMONPROGRAMS%\\Tallowin", 2}};
    for (auto& group : folders) {
        if (!(groups & group.second))
            continue;
        add(group.first, true);
        for (const char* shortcut :
             {"Tallowin Console.lnk", "Uninstall Tallowin.lnk", "Seat Manager.lnk"})
            add(std::string(group.first) + "\\" + shortcut, false);
    }
}

} // namespace

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

Description::Machine Installed(const Parts& parts) {
    // The fresh Windows as the reader gives it, read once on a machine of its own.
    static const Description::Machine fresh = [] {
        Sim::ExchangeGuard other;
        Sim::Reset();
        Description::Machine machine = Description::Describe();
        Sim::Observe(&machine);
        return machine;
    }();
    Description::Machine machine = fresh;
    AddRegistry(&machine, parts.registry);
    AddServices(&machine, parts.services);
    AddDevices(&machine, parts.devices);
    AddFiles(&machine, parts.files, parts.groups);
    // The boot view as the machine, once laid, gives it: the product's
    // services and filters in it.
    {
        Sim::ExchangeGuard other;
        Sim::Load(machine);
        machine.boot = Description::Describe().boot;
    }
    return machine;
}

void Install(const Parts& parts) {
    Sim::Load(Installed(parts));
    Sim::Current().journal.clear();
    Sim::Current().handleNumbers.clear();
    Sim::Current().failableCalls = 0;
}

} // namespace Footprint
