// Writes the disk of a large switched-off Windows, for the figures of the
// offline verbs' cost (scripts/offline-figures.sh):
//
//     vk_offline_disk DIR [--keys N] [--devices N] [--break]
//
// The installed machine after the uninstaller's run and the restart, grown
// to about N keys in its SYSTEM hive (20,000 by default) with N devices
// (2,000 by default), as a machine of that size has them: device keys under
// eight enumerators, ten instances to a device ID, each with its "Device
// Parameters" and "LogConf" keys and a driver key in its class; service keys
// with their Parameters, Enum and Security keys and their image files; class
// keys whose filters name those services; and, to make up the count, device
// interface keys under Control\DeviceClasses. No key holds more than a few
// hundred subkeys: hivex's writer costs the square of a key's subkeys.
// --break adds to the disk drives' class filters and to one in 201 devices'
// own a name no service has, so that repair has entries to take out. With
// --devices 0 --keys 0 the machine is the installed one as it is.
//
// DIR is the drive: the Windows folder is DIR/WINDOWS. Prints the SYSTEM
// hive's size, its key and value counts and the most subkeys of one key.
#include "machine/footprint.h"
#include "offline/hive_writer.h"
#include "offline/offline_compare.h"
#include "platform/sim/machine.h"
#include "platform/windows_keys.h"
#include "uninstall/uninstall.h"

#include <hivex.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int SERVICES = 300;   // added services, beside the machine's own
constexpr int CLASSES = 40;     // added setup classes
constexpr int ENUMERATORS = 8;  // the devices' enumerators
constexpr int INSTANCES = 10;   // instances of each device ID
constexpr int INTERFACES = 150; // at most this many interfaces of one interface class

const char* const ENUMERATOR_NAMES[ENUMERATORS] = {"PCI",     "USB",  "HID",  "ACPI",
                                                   "STORAGE", "SCSI", "ROOT", "USBSTOR"};
const char* const GROUPS[] = {"Base",          "Boot Bus Extender", "System Bus Extender",
                              "SCSI miniport", "PnP Filter",        "Extended Base"};

std::string Format(const char* format, int a, int b = 0, int c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::string ServiceName(int i) {
    return Format("odbus%03d", i);
}

// A made-up class GUID of each number, and one for each interface class.
std::string ClassGuid(int i) {
    return Format("{6D8B2E%02X-4A1C-11D2-9F3E-00C04F79B%03X}", i, i);
}
std::string InterfaceGuid(int i) {
    return Format("{A5DCBF%02X-6530-11D2-901F-00C04FB95%03X}", i, i);
}

GUID GuidOf(const std::string& text) {
    GUID guid{};
    unsigned d[11];
    std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2], &d[3],
                &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]);
    guid.Data1 = d[0];
    guid.Data2 = (WORD)d[1];
    guid.Data3 = (WORD)d[2];
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = (BYTE)d[3 + i];
    return guid;
}

// A UTF-16 REG_SZ's bytes, ended, as a device's service property holds them.
std::vector<BYTE> WideSz(const std::string& text) {
    std::vector<BYTE> bytes;
    for (char c : text)
        bytes.insert(bytes.end(), {(BYTE)c, 0});
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

void Set(const std::string& key, const char* name, DWORD type, const std::vector<BYTE>& data) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, key, name, type, data);
}
void SetText(const std::string& key, const char* name, const std::string& text,
             DWORD type = REG_SZ) {
    Set(key, name, type, Sim::Sz(text));
}
void SetDword(const std::string& key, const char* name, DWORD value) {
    Set(key, name, REG_DWORD, Sim::Dword(value));
}

// The binary data of a Security value or a resource list: a fixed pattern.
std::vector<BYTE> Blob(size_t size, int seed) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (BYTE)(seed * 31 + i * 7);
    return bytes;
}

int CountKeys(const Sim::Key& key) {
    int count = 0;
    for (const auto& child : key.children) {
        if (!child.second->deleted)
            count += 1 + CountKeys(*child.second);
    }
    return count;
}

// The added services: kernel drivers of the groups every machine has, one
// in ten started with the system, the rest on demand, each image file there.
void AddServices() {
    for (int i = 0; i < SERVICES; ++i) {
        std::string name = ServiceName(i);
        std::string key = KEY_SERVICES "\\" + name;
        std::string image = "system32\\DRIVERS\\" + name + ".sys";
        SetDword(key, "Type", SERVICE_KERNEL_DRIVER);
        SetDword(key, "Start", i % 10 == 0 ? SERVICE_SYSTEM_START : SERVICE_DEMAND_START);
        SetDword(key, "ErrorControl", SERVICE_ERROR_NORMAL);
        SetText(key, "ImagePath", image, REG_EXPAND_SZ);
        SetText(key, "Group", GROUPS[i % (sizeof GROUPS / sizeof *GROUPS)]);
        SetText(key, "DisplayName", Format("Bus Driver %03d", i));
        SetDword(key, "Tag", (DWORD)(i % 32 + 1));
        SetDword(key + "\\Parameters", "BreakOnEntry", 0);
        SetDword(key + "\\Parameters", "DebugFlags", 0);
        SetDword(key + "\\Parameters", "MaximumTransferLength", 0x10000 << (i % 4));
        Set(key + "\\Security", "Security", REG_BINARY, Blob(164, i));
        Sim::MakeFile("C:\\WINDOWS\\" + image, std::string(512 + i % 7 * 64, 'M'));
    }
}

// The added setup classes, each with its driver keys (0000, 0001, ...) and
// filters that name added services.
void AddClasses(int drivers) {
    for (int c = 0; c < CLASSES; ++c) {
        std::string key = KEY_SETUP_CLASSES "\\" + ClassGuid(c);
        SetText(key, "Class", Format("OdClass%02d", c));
        SetText(key, "", Format("Peripheral class %02d", c));
        SetText(key, "Icon", Format("-%d", 10 + c));
        SetText(key, "Installer32", "SysSetup.Dll,DeviceClassInstaller");
        if (c % 2 == 0)
            Set(key, "UpperFilters", REG_MULTI_SZ, Sim::MultiSz({ServiceName(c)}));
        if (c % 3 == 0)
            Set(key, "LowerFilters", REG_MULTI_SZ,
                Sim::MultiSz({ServiceName(c + 100), ServiceName(c + 200)}));
        for (int d = 0; d * CLASSES + c < drivers; ++d) {
            std::string driver = key + Format("\\%04d", d);
            SetText(driver, "DriverDesc", Format("Peripheral %02d model %d", c, d));
            SetText(driver, "ProviderName", "Standard peripherals");
            SetText(driver, "DriverDate", Format("%d-%d-2004", d % 12 + 1, c % 28 + 1));
            SetText(driver, "DriverVersion", Format("5.1.2600.%d", 2180 + d));
            SetText(driver, "MatchingDeviceId", Format("pci\\ven_8086&dev_%04x", c * 100 + d));
            SetText(driver, "InfPath", Format("oem%d.inf", c));
            SetText(driver, "InfSection", "Peripheral_Inst");
        }
    }
}

std::string InstanceId(int i) {
    int perEnumerator = i / ENUMERATORS, enumerator = i % ENUMERATORS;
    int id = perEnumerator / INSTANCES, instance = perEnumerator % INSTANCES;
    return std::string(ENUMERATOR_NAMES[enumerator]) +
           Format("\\VEN_%04X&DEV_%04X&SUBSYS_00000000&REV_01", 0x8086 + enumerator, id) +
           Format("\\3&2411E6FE&%d&%02X", instance, instance * 8);
}

// The added devices: each a device record (what the writer makes its key
// of) and the key's other values and subkeys; its function driver one
// added service, a filter of its own on one in four. With `broken`, one in
// 201 has a lower filter no service has (ten of 2,000, under every
// enumerator).
void AddDevices(int devices, bool broken, std::vector<int>* perService) {
    perService->assign(SERVICES, 0);
    for (int i = 0; i < devices; ++i) {
        std::string id = InstanceId(i);
        int c = i % CLASSES, s = (i * 7) % SERVICES;
        std::string hardware = id.substr(0, id.rfind('\\'));
        Sim::Device& device = Sim::AddDevice(id, GuidOf(ClassGuid(c)), {hardware, "PCI\\CC_0C03"});
        device.service = WideSz(ServiceName(s));
        if (i % 4 == 1)
            device.upperFilters = Sim::WideMultiSz({ServiceName((s + 1) % SERVICES)});
        if (broken && i % 201 == 3)
            device.lowerFilters = Sim::WideMultiSz({Format("oldflt%02d", i / 200)});
        int instance = (*perService)[s]++;
        std::string enumKey = KEY_SERVICES "\\" + ServiceName(s) + "\\Enum";
        SetText(enumKey, Format("%d", instance).c_str(), id);
        SetDword(enumKey, "Count", (DWORD)instance + 1);
        SetDword(enumKey, "NextInstance", (DWORD)instance + 1);

        std::string key = KEY_CONTROL_SET "\\Enum\\" + id;
        SetText(key, "DeviceDesc", Format("Peripheral %02d model %d", c, i / CLASSES));
        SetText(key, "Mfg", "Standard peripherals");
        SetText(key, "Driver", ClassGuid(c) + Format("\\%04d", i / CLASSES));
        SetText(key, "LocationInformation",
                Format("bus %d, device %d, function %d", i / 256, i / 8 % 32, i % 8));
        Set(key, "CompatibleIDs", REG_MULTI_SZ,
            Sim::MultiSz({"PCI\\VEN_8086&CC_0C0300", "PCI\\CC_0C03"}));
        SetDword(key, "ConfigFlags", 0);
        SetDword(key, "Capabilities", 0x84);
        SetDword(key, "UINumber", (DWORD)(i % 32));
        SetDword(key + "\\Device Parameters", "InterruptAffinity", 1);
        SetDword(key + "\\Device Parameters", "IdleTimeout", 30 + i % 5);
        Set(key + "\\LogConf", "BasicConfigVector", (DWORD)hive_t_REG_RESOURCE_REQUIREMENTS_LIST,
            Blob(96, i));
        Set(key + "\\LogConf", "BootConfig", (DWORD)hive_t_REG_RESOURCE_LIST, Blob(48, i));
    }
}

// Device interface keys (each with its "#" and "#\Control" keys) until the
// SYSTEM hive holds about `keys` keys.
void AddInterfaces(int keys, int devices) {
    Sim::Key* system = Sim::FindKey(HKEY_LOCAL_MACHINE, "SYSTEM");
    int interfaces = (keys - CountKeys(*system)) / 3;
    for (int i = 0; i < interfaces; ++i) {
        std::string guid = InterfaceGuid(i / INTERFACES);
        std::string device = InstanceId(devices > 0 ? i % devices : i);
        std::string reference = device;
        for (char& c : reference)
            c = c == '\\' ? '#' : c;
        std::string key =
            KEY_CONTROL "\\DeviceClasses\\" + guid + "\\##?#" + reference + "#" + guid;
        SetText(key, "DeviceInstance", device);
        SetText(key + "\\#", "SymbolicLink", "\\\\?\\" + reference + "#" + guid);
        SetDword(key + "\\#\\Control", "Linked", 1);
    }
}

// --break on the disk drives' class: a name no service has after the one
// it has, so that repair leaves the list shorter rather than gone.
void BreakClass() {
    Set(KEY_SETUP_CLASSES "\\{4D36E967-E325-11CE-BFC1-08002BE10318}", "UpperFilters", REG_MULTI_SZ,
        Sim::MultiSz({"PartMgr", "gonefilt"}));
}

struct Counts {
    int keys = 0, values = 0;
    size_t widest = 0; // the most subkeys of one key, and that key
    std::string widestKey;
};

void CountHive(hive_h* h, hive_node_h node, const std::string& path, Counts* counts) {
    hive_value_h* values = hivex_node_values(h, node);
    for (size_t i = 0; values != nullptr && values[i] != 0; ++i)
        ++counts->values;
    std::free(values);
    hive_node_h* children = hivex_node_children(h, node);
    size_t i = 0;
    for (; children != nullptr && children[i] != 0; ++i) {
        ++counts->keys;
        char* name = hivex_node_name(h, children[i]);
        CountHive(h, children[i], path + "\\" + (name != nullptr ? name : "?"), counts);
        std::free(name);
    }
    std::free(children);
    if (i > counts->widest) {
        counts->widest = i;
        counts->widestKey = path;
    }
}

} // namespace

int main(int argc, char** argv) {
    int keys = 20000, devices = 2000;
    bool broken = false;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--keys" || arg == "--devices") && i + 1 < argc)
            (arg == "--keys" ? keys : devices) = std::atoi(argv[++i]);
        else if (arg == "--break")
            broken = true;
        else if (root.empty() && arg[0] != '-')
            root = arg;
        else
            root.clear(), i = argc;
    }
    if (root.empty() || devices < 0) {
        std::fprintf(stderr, "usage: %s DIR [--keys N] [--devices N] [--break]\n", argv[0]);
        return 2;
    }

    Footprint::Install();
    RunUninstall();
    Sim::EndProcess();
    Sim::Restart();
    std::vector<int> perService;
    if (devices > 0) {
        AddServices();
        AddClasses(devices);
        AddDevices(devices, broken, &perService);
    }
    AddInterfaces(keys, devices);
    if (broken)
        BreakClass();
    OfflineSupport::SwitchOff();
    std::string why;
    if (!OfflineSupport::WriteWindows(root, &why)) {
        std::fprintf(stderr, "%s cannot be written: %s\n", root.c_str(), why.c_str());
        return 1;
    }

    std::string hive = root + "/WINDOWS/system32/config/SYSTEM";
    struct stat status;
    hive_h* h = hivex_open(hive.c_str(), 0);
    if (h == nullptr || stat(hive.c_str(), &status) != 0) {
        std::fprintf(stderr, "%s cannot be read back: %s\n", hive.c_str(), std::strerror(errno));
        return 1;
    }
    Counts counts;
    CountHive(h, hivex_root(h), "", &counts);
    hivex_close(h);
    std::printf("%s: %.1f MB (%lld bytes), %d keys, %d values, %zu devices; at most %zu subkeys "
                "under one key (%s)\n",
                hive.c_str(), status.st_size / 1e6, (long long)status.st_size, counts.keys,
                counts.values, Sim::Current().devices.size(), counts.widest,
                counts.widestKey.c_str());
    return 0;
}
