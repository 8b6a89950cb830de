#include "boot_machines.h"

#include "check/check.h"
#include "machine/footprint.h"
#include "platform/sim/machine.h"
#include "platform/windows_keys.h"

#include <algorithm>

namespace BootMachines {

namespace {

const char KEYBOARD[] = "ACPI\\PNP0303\\4&2658D0A0&0";
const char KEYBOARD_CLASS[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
const char DISK_CLASS[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}";
const char SERVICES[] = "SYSTEM\\CurrentControlSet\\Services\\";
const char MULTIUSER[] = "SYSTEM\\CurrentControlSet\\Control\\Multiuser";
const char PORT[] = "i8042prt"; // the keyboard's function driver
const char PORT_IMAGE[] = "C:\\WINDOWS\\system32\\drivers\\i8042prt.sys";
const char MISSING[] = "kbdhook"; // a name no service has
// "клавфильтр", a name the ANSI code page cannot carry.
const char CYRILLIC[] = "\xD0\xBA\xD0\xBB\xD0\xB0\xD0\xB2\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C\xD1\x82"
                        "\xD1\x80";
// "Āflt", a service whose filter entries name it "āflt".
const char A_MACRON_FILTER[] = "\u0100flt";

// UTF-16 bytes of a REG_MULTI_SZ of Unicode names, or of one REG_SZ name.
std::vector<BYTE> Wide(const std::vector<std::string>& names, bool list = true) {
    std::vector<BYTE> bytes;
    for (const std::string& name : names) {
        for (char16_t unit : Description::Utf16(name) + u'\0')
            bytes.insert(bytes.end(), {(BYTE)unit, (BYTE)(unit >> 8)});
    }
    if (list)
        bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

Sim::Device& Keyboard() {
    return *Sim::FindDevice(KEYBOARD);
}

// A kernel driver's key as Windows' setup writes it, running, its image there.
void Driver(const std::string& name, const std::string& image, DWORD start) {
    Sim::Key* key = Sim::MakeKeyText(HKEY_LOCAL_MACHINE, SERVICES + name);
    key->values.push_back({"Type", {REG_DWORD, Sim::Dword(SERVICE_KERNEL_DRIVER)}});
    key->values.push_back({"Start", {REG_DWORD, Sim::Dword(start)}});
    key->values.push_back({"ErrorControl", {REG_DWORD, Sim::Dword(SERVICE_ERROR_NORMAL)}});
    key->values.push_back({"ImagePath", {REG_EXPAND_SZ, Sim::Sz(image)}});
    Sim::Current().services[Sim::TextToAnsi(name)].state = SERVICE_RUNNING;
}

void SetPort(const char* name, DWORD type, const std::vector<BYTE>& data) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, SERVICES + std::string(PORT), name, type, data);
}

// The port driver's image named in one of the loader's forms; the file there or not.
void PortImage(const char* imagePath, bool there) {
    Sim::Key* key = Sim::FindKey(HKEY_LOCAL_MACHINE, SERVICES + std::string(PORT));
    key->values.erase(std::remove_if(key->values.begin(), key->values.end(),
                                     [](const auto& v) { return v.first == "ImagePath"; }),
                      key->values.end());
    if (imagePath != nullptr)
        SetPort("ImagePath", REG_EXPAND_SZ, Sim::Sz(imagePath));
    if (!there)
        Sim::FindNode("C:\\WINDOWS\\system32\\drivers")->children.erase("i8042prt.sys");
}

void SetClassList(const char* classKey, const char* list, const std::vector<std::string>& names) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, classKey, list, REG_MULTI_SZ, Sim::MultiSz(names));
}

void SetDependencies(const char* service, const char* value, const std::vector<std::string>& on) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, SERVICES + std::string(service), value, REG_MULTI_SZ,
                  Sim::MultiSz(on));
}

std::string FunctionDriver(const std::string& name, const std::string& why) {
    return "will not start: its function driver " + name + ": " + why;
}
const std::string PORT_MISSING = "image file missing: C:\\WINDOWS\\System32\\";
const std::string KEYBOARD_DEVICES =
    "devices of class Keyboard {4D36E96B-E325-11CE-BFC1-08002BE10318} will not start";

} // namespace

void Installed() {
    Footprint::Install();
    Driver(PORT, "System32\\DRIVERS\\i8042prt.sys", SERVICE_SYSTEM_START);
    Sim::MakeFile(PORT_IMAGE, "", true);
    Keyboard().service = Wide({PORT}, false);
}

const std::vector<Break>& Breaks() {
    static const std::vector<Break> breaks = {
        {"nothing planted: a running kernel driver serving the keyboard refuses its stop",
         [] {},
         Check::CLEAN,
         {"DzXpKbdPnp: ", "stop refused (1052)", "marked for deletion: it goes at the restart"},
         Check::CLEAN,
         {}},
        {"no service key",
         [] {
             Sim::DeleteKeyAt(HKEY_LOCAL_MACHINE, SERVICES + std::string(PORT));
             Sim::Current().services.erase(PORT);
         },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, "no such service")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, "no such service")}},
        {"disabled",
         [] { SetPort("Start", REG_DWORD, Sim::Dword(SERVICE_DISABLED)); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, "disabled")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, "disabled")}},
        {"marked for deletion by its key",
         [] { SetPort("DeleteFlag", REG_DWORD, Sim::Dword(1)); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, "marked for deletion: it goes at the restart")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, "no such service")}},
        {"marked for deletion by the service manager: a running filter the run deletes",
         [] { Keyboard().upperFilters = Wide({"DzXpKbdPnp"}); },
         Check::UNSAFE,
         {KEYBOARD, "its upper filter DzXpKbdPnp: marked for deletion: it goes at the restart"},
         Check::UNSAFE,
         {KEYBOARD, "its upper filter DzXpKbdPnp: no such service"}},
        {"image missing, \\SystemRoot\\ form",
         [] { PortImage("\\SystemRoot\\System32\\DRIVERS\\i8042prt.sys", false); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "DRIVERS\\i8042prt.sys")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "DRIVERS\\i8042prt.sys")}},
        {"image missing, relative form",
         [] { PortImage("System32\\DRIVERS\\i8042prt.sys", false); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "DRIVERS\\i8042prt.sys")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "DRIVERS\\i8042prt.sys")}},
        {"image missing, %SystemRoot% form",
         [] { PortImage("%SystemRoot%\\System32\\DRIVERS\\i8042prt.sys", false); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "DRIVERS\\i8042prt.sys")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "DRIVERS\\i8042prt.sys")}},
        {"image missing, no ImagePath",
         [] { PortImage(nullptr, false); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "drivers\\i8042prt.sys")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "drivers\\i8042prt.sys")}},
        // The same forms with the image there: each finds it.
        {"image there, \\SystemRoot\\ form",
         [] { PortImage("\\SystemRoot\\System32\\DRIVERS\\i8042prt.sys", true); },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {}},
        {"image there, %SystemRoot% form",
         [] { PortImage("%systemroot%\\system32\\drivers\\I8042PRT.SYS", true); },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {}},
        {"image there, no ImagePath",
         [] { PortImage(nullptr, true); },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {}},
        // The kernel opens the NT path as given: Win32's trimming of a
        // trailing space, or its "/" for "\\", is not the loader's.
        {"image path with a trailing space",
         [] { PortImage("System32\\DRIVERS\\i8042prt.sys ", true); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "DRIVERS\\i8042prt.sys ")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, PORT_MISSING + "DRIVERS\\i8042prt.sys ")}},
        {"image path with a slash",
         [] { PortImage("System32/DRIVERS/i8042prt.sys", true); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, "image file missing: C:\\WINDOWS\\System32/DRIVERS/")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(PORT, "image file missing: C:\\WINDOWS\\System32/DRIVERS/")}},
        {"a Win32 service as a filter",
         [] { Keyboard().upperFilters = Wide({"Eventlog"}); },
         Check::UNSAFE,
         {KEYBOARD, "its upper filter Eventlog: not a driver: Type 0x20"},
         Check::UNSAFE,
         {KEYBOARD, "its upper filter Eventlog: not a driver: Type 0x20"}},
        {"a class filter list stored as one string",
         [] {
             Sim::SetValue(HKEY_LOCAL_MACHINE, KEYBOARD_CLASS, "LowerFilters", REG_SZ,
                           Sim::Sz(MISSING));
         },
         Check::UNSAFE,
         {"{4D36E96B-E325-11CE-BFC1-08002BE10318} : LowerFilters",
          "names kbdhook (no such service): " + KEYBOARD_DEVICES},
         Check::UNSAFE,
         {"{4D36E96B-E325-11CE-BFC1-08002BE10318} : LowerFilters",
          "names kbdhook (no such service): " + KEYBOARD_DEVICES}},
        // A disabled device gets no stack: what it lacks is a note.
        {"a disabled device whose function driver is missing",
         [] {
             Keyboard().service = Wide({MISSING}, false);
             Keyboard().configFlags = Sim::Dword(1);
         },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {"device disabled " + std::string(KEYBOARD), "disabled (ConfigFlags 0x1)",
          FunctionDriver(MISSING, "no such service")}},
        {"a device disabled in the hardware profile, its function driver missing",
         [] {
             Keyboard().service = Wide({MISSING}, false);
             Sim::SetValue(HKEY_LOCAL_MACHINE, KEY_PROFILE_ENUM "\\" + std::string(KEYBOARD),
                           "CSConfigFlags", REG_DWORD, Sim::Dword(1));
         },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {"device disabled " + std::string(KEYBOARD), FunctionDriver(MISSING, "no such service")}},
        // The HAL's device names the driver object the HAL makes; a legacy
        // device key records a driver once loaded outside Plug and Play.
        {"the HAL's device and legacy device keys",
         [] {
             const GUID computer = {
                 0x4D36E966, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
             const GUID legacy = {
                 0x8ECC055D, 0x047F, 0x11D1, {0xA5, 0x37, 0x00, 0x00, 0xF8, 0x75, 0x3E, 0xD1}};
             Sim::AddDevice("ROOT\\ACPI_HAL\\0000", computer, {"acpiapic"}).service =
                 Wide({"\\Driver\\ACPI_HAL"}, false);
             Sim::AddDevice("ROOT\\LEGACY_CDFS\\0000", legacy, {}).service = Wide({"Cdfs"}, false);
             Driver("Cdfs", "System32\\DRIVERS\\cdfs.sys", SERVICE_DISABLED);
             Sim::AddDevice("ROOT\\LEGACY_GONE\\0000", legacy, {}).service = Wide({"gone"}, false);
         },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {}},
        {"function driver missing",
         [] { Keyboard().service = Wide({MISSING}, false); },
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(MISSING, "no such service")},
         Check::UNSAFE,
         {KEYBOARD, FunctionDriver(MISSING, "no such service")}},
        {"class upper filter",
         [] {
             SetClassList(KEYBOARD_CLASS, "UpperFilters", {"DzXpKbdPnp", "kbdclass", MISSING});
         },
         Check::UNSAFE,
         {"{4D36E96B-E325-11CE-BFC1-08002BE10318} : UpperFilters",
          "names kbdhook (no such service): " + KEYBOARD_DEVICES},
         Check::UNSAFE,
         {"{4D36E96B-E325-11CE-BFC1-08002BE10318} : UpperFilters",
          "names kbdhook (no such service): " + KEYBOARD_DEVICES}},
        {"class lower filter",
         [] { SetClassList(KEYBOARD_CLASS, "LowerFilters", {MISSING}); },
         Check::UNSAFE,
         {"{4D36E96B-E325-11CE-BFC1-08002BE10318} : LowerFilters",
          "names kbdhook (no such service): " + KEYBOARD_DEVICES},
         Check::UNSAFE,
         {"{4D36E96B-E325-11CE-BFC1-08002BE10318} : LowerFilters",
          "names kbdhook (no such service): " + KEYBOARD_DEVICES}},
        {"the product's driver in a class list the run does not clean",
         [] { SetClassList(DISK_CLASS, "LowerFilters", {"DzStore"}); },
         Check::UNSAFE,
         {"{4D36E967-E325-11CE-BFC1-08002BE10318} : LowerFilters",
          "names DzStore (no such service)"},
         Check::UNSAFE,
         {"{4D36E967-E325-11CE-BFC1-08002BE10318} : LowerFilters",
          "names DzStore (no such service)"}},
        {"device upper filter",
         [] {
             Keyboard().upperFilters = Wide({"kbdclass", MISSING});
         },
         Check::UNSAFE,
         {KEYBOARD, "will not start: its upper filter kbdhook: no such service"},
         Check::UNSAFE,
         {KEYBOARD, "will not start: its upper filter kbdhook: no such service"}},
        {"device lower filter",
         [] { Keyboard().lowerFilters = Wide({MISSING}); },
         Check::UNSAFE,
         {KEYBOARD, "will not start: its lower filter kbdhook: no such service"},
         Check::UNSAFE,
         {KEYBOARD, "will not start: its lower filter kbdhook: no such service"}},
        {"TermService's DependOnService: what the run restores is disabled",
         [] {
             Sim::SetValue(HKEY_LOCAL_MACHINE, SERVICES + std::string("RpcSs"), "Start", REG_DWORD,
                           Sim::Dword(SERVICE_DISABLED));
         },
         Check::UNSAFE,
         {"Services\\TermService", "TermService will not start: it depends on RPCSS (disabled)"},
         Check::UNSAFE,
         {"Services\\TermService", "TermService will not start: it depends on RPCSS (disabled)"}},
        // The run rewrites TermService's dependencies: its list replaces both values.
        {"TermService's DependOnGroup on the product's group",
         [] { SetDependencies("TermService", "DependOnGroup", {"Multiuser"}); },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {}},
        // Eventlog's ErrorControl is 1: Windows logs its failure and goes on.
        {"an automatic service's DependOnService",
         [] { SetDependencies("Eventlog", "DependOnService", {MISSING}); },
         Check::CLEAN,
         {"Services\\Eventlog", "Eventlog will not start: it depends on kbdhook (no such service)",
          "(ErrorControl 1) and goes on"},
         Check::CLEAN,
         {"Services\\Eventlog", "Eventlog will not start: it depends on kbdhook (no such service)",
          "(ErrorControl 1) and goes on"}},
        {"an automatic service's DependOnService, its failure severe",
         [] {
             SetDependencies("Eventlog", "DependOnService", {MISSING});
             Sim::SetValue(HKEY_LOCAL_MACHINE, SERVICES + std::string("Eventlog"), "ErrorControl",
                           REG_DWORD, Sim::Dword(SERVICE_ERROR_SEVERE));
         },
         Check::UNSAFE,
         {"Services\\Eventlog", "Eventlog will not start: it depends on kbdhook (no such service)"},
         Check::UNSAFE,
         {"Services\\Eventlog",
          "Eventlog will not start: it depends on kbdhook (no such service)"}},
        // A service fails when what it depends on will not start, however
        // far down: Eventlog (critical) on a service that depends on one gone.
        {"a critical service's dependency whose own dependency is gone",
         [] {
             Driver("kbdmid", "System32\\DRIVERS\\kbdmid.sys", SERVICE_AUTO_START);
             Sim::MakeFile("C:\\WINDOWS\\system32\\drivers\\kbdmid.sys");
             SetDependencies("kbdmid", "DependOnService", {MISSING});
             SetDependencies("Eventlog", "DependOnService", {"kbdmid"});
             Sim::SetValue(HKEY_LOCAL_MACHINE, SERVICES + std::string("Eventlog"), "ErrorControl",
                           REG_DWORD, Sim::Dword(SERVICE_ERROR_CRITICAL));
         },
         Check::UNSAFE,
         {"Services\\Eventlog", "it depends on kbdmid (it depends on kbdhook, no such service)"},
         Check::UNSAFE,
         {"Services\\Eventlog", "it depends on kbdmid (it depends on kbdhook, no such service)"}},
        {"an automatic program's image missing, its failure critical",
         [] {
             Sim::SetValue(HKEY_LOCAL_MACHINE, SERVICES + std::string("Eventlog"), "ErrorControl",
                           REG_DWORD, Sim::Dword(SERVICE_ERROR_CRITICAL));
             Sim::SetValue(HKEY_LOCAL_MACHINE, SERVICES + std::string("Eventlog"), "ImagePath",
                           REG_EXPAND_SZ, Sim::Sz("system32\\evlog.exe -k"));
         },
         Check::UNSAFE,
         {"Services\\Eventlog", "Eventlog will not start: image file missing: C:\\WINDOWS\\"},
         Check::UNSAFE,
         {"Services\\Eventlog", "Eventlog will not start: image file missing: C:\\WINDOWS\\"}},
        // CreateProcess finds a relative command line through its search:
        // "system32\x.exe" in the Windows folder.
        {"an automatic program's image named relative to the Windows folder",
         [] {
             Sim::SetValue(HKEY_LOCAL_MACHINE, SERVICES + std::string("Eventlog"), "ImagePath",
                           REG_EXPAND_SZ, Sim::Sz("system32\\evlog.exe -k"));
             Sim::MakeFile("C:\\WINDOWS\\system32\\evlog.exe");
         },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {}},
        {"an automatic service's DependOnGroup, the product's group",
         [] { SetDependencies("Eventlog", "DependOnGroup", {"Multiuser"}); },
         Check::UNSAFE,
         {"Services\\Eventlog",
          "Eventlog will not start: it depends on the group Multiuser, which has no member"},
         Check::UNSAFE,
         {"Services\\Eventlog",
          "Eventlog will not start: it depends on the group Multiuser, which has no member"}},
        // A group is there when a member starts by itself or is loaded for a
        // present device: mouclass is neither (no mouse has a driver here),
        // kbdclass filters the keyboard.
        {"an automatic service's DependOnGroup whose members start on demand alone",
         [] { SetDependencies("Eventlog", "DependOnGroup", {"Pointer Class"}); },
         Check::CLEAN,
         {"Services\\Eventlog", "the group Pointer Class, no member of which starts at the boot",
          "(ErrorControl 1) and goes on"},
         Check::CLEAN,
         {"Services\\Eventlog", "the group Pointer Class, no member of which starts at the boot",
          "(ErrorControl 1) and goes on"}},
        {"an automatic service's DependOnGroup on the keyboard's class filter's group",
         [] { SetDependencies("Eventlog", "DependOnGroup", {"Keyboard Class"}); },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {}},
        {"a device not present",
         [] {
             Sim::Device& absent =
                 Sim::AddDevice("ACPI\\PNP0303\\5&0", Keyboard().classGuid, {"ACPI\\PNP0303"});
             absent.present = false;
             absent.service = Wide({MISSING}, false);
         },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {"device not present ACPI\\PNP0303\\5&0",
          "not present now; this Keyboard {4D36E96B-E325-11CE-BFC1-08002BE10318} device will not "
          "start: its function driver kbdhook: no such service when it is",
          "Show hidden devices"}},
        {"an unreadable service key",
         [] { Sim::FindKey(HKEY_LOCAL_MACHINE, SERVICES + std::string(PORT))->refuseOpen = true; },
         Check::NOT_ALLOWED,
         {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\i8042prt", "its key cannot be read"},
         Check::NOT_ALLOWED,
         {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\i8042prt", "its key cannot be read"}},
        {"an unreadable class key",
         [] { Sim::FindKey(HKEY_LOCAL_MACHINE, KEYBOARD_CLASS)->refuseOpen = true; },
         Check::NOT_ALLOWED,
         {"{4D36E96B-E325-11CE-BFC1-08002BE10318}", "cannot be read: its filters cannot be judged"},
         Check::NOT_ALLOWED,
         {"{4D36E96B-E325-11CE-BFC1-08002BE10318}",
          "cannot be read: its filters cannot be judged"}},
        {"a Cyrillic filter name that is a service",
         [] {
             Driver(CYRILLIC, "System32\\DRIVERS\\klav.sys", SERVICE_DEMAND_START);
             Sim::MakeFile("C:\\WINDOWS\\system32\\drivers\\klav.sys");
             Keyboard().upperFilters = Wide({CYRILLIC});
         },
         Check::CLEAN,
         {},
         Check::CLEAN,
         {}},
        {"a Cyrillic filter name that is no service",
         [] { Keyboard().upperFilters = Wide({CYRILLIC}); },
         Check::UNSAFE,
         {KEYBOARD, std::string("its upper filter ") + CYRILLIC + ": no such service"},
         Check::UNSAFE,
         {KEYBOARD, std::string("its upper filter ") + CYRILLIC + ": no such service"}},
        // Windows folds the filter's ā to its service's Ā as any letter of
        // its case table, beyond Latin-1 too.
        {
            "a class filter whose service key differs in the case of a Latin Extended-A letter",
            [] {
                Driver(A_MACRON_FILTER, "System32\\DRIVERS\\aflt.sys", SERVICE_DEMAND_START);
                Sim::MakeFile("C:\\WINDOWS\\system32\\drivers\\aflt.sys");
                std::vector<BYTE> list = Sim::MultiSz({"\u0101flt"});
                Sim::SetTextValue(HKEY_LOCAL_MACHINE, KEYBOARD_CLASS, "LowerFilters", REG_MULTI_SZ,
                                  std::string(list.begin(), list.end()));
            },
            Check::CLEAN,
            {},
            Check::CLEAN,
            {}},
        {"a product service as the keyboard's function driver",
         [] { Keyboard().service = Wide({"DzUsbKeyboard"}, false); },
         Check::UNSAFE,
         {KEYBOARD, "has no driver: install its Windows driver first",
          "function driver DzUsbKeyboard: marked for deletion"},
         Check::UNSAFE,
         {KEYBOARD, "has no driver: install its Windows driver first",
          "function driver DzUsbKeyboard: no such service"}},
        // The disk class's key refuses writing: the run cannot take DzStore
        // out of its list.
        {"an unwritable class key",
         [] { Sim::FindKey(HKEY_LOCAL_MACHINE, DISK_CLASS)->refuseWrite = true; },
         Check::UNSAFE,
         {"{4D36E967-E325-11CE-BFC1-08002BE10318} : UpperFilters",
          "names DzStore (no such service)"},
         Check::UNSAFE,
         {"{4D36E967-E325-11CE-BFC1-08002BE10318} : UpperFilters",
          "names DzStore (no such service)"}},
        // The product's control key refuses deletion: every run leaves it,
        // and only a person can give the rights.
        {"an undeletable product tree",
         [] { Sim::FindKey(HKEY_LOCAL_MACHINE, MULTIUSER)->refuseDelete = true; },
         Check::CLEAN,
         {"key not deletable HKLM\\" + std::string(MULTIUSER)},
         Check::NOT_ALLOWED,
         {"HKLM\\" + std::string(MULTIUSER)}}};
    return breaks;
}

namespace {

// A deletion at the restart as PendingFileRenameOperations holds it: the
// path, then an empty target.
std::vector<BYTE> Pending(const std::string& path) {
    std::vector<BYTE> bytes(path.begin(), path.end());
    bytes.insert(bytes.end(), {0, 0, 0});
    return bytes;
}

// The class filters of the foreign machine: names beside and like the
// product's, each a driver Windows loads.
void AddForeignEntries() {
    for (const char* name : {"DzStoreX", "DzXpKbdPnp2"}) {
        std::string image = std::string("System32\\DRIVERS\\") + name + ".sys";
        Driver(name, image, SERVICE_DEMAND_START);
        Sim::MakeFile("C:\\WINDOWS\\" + image);
    }
    SetClassList(DISK_CLASS, "UpperFilters", {"PartMgr", "DzStore", "VolSnap", "DzStoreX"});
    SetClassList(KEYBOARD_CLASS, "UpperFilters", {"dzxpkbdpnp", "kbdclass", "DzXpKbdPnp2"});
    Keyboard().upperFilters = Wide({"DzXpKbdPnp2"});
    const GUID other = {
        0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
    Sim::AddDevice("ROOT\\OTHERHUB\\0000", other, {"Korrin\\KrHub2", "Korrin"});
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                  "PendingFileRenameOperations", REG_MULTI_SZ, Pending("\\??\\C:\\other.tmp"));
}

} // namespace

const std::vector<Machine>& SoundMachines() {
    static const std::vector<Machine> machines = {
        {"the installed machine", [] { Footprint::Install(); }},
        {"the installed machine, its keyboard on its port driver", Installed},
        {"the machine without the product", [] {}},
        {"the installed machine with foreign entries",
         [] {
             Installed();
             AddForeignEntries();
         }},
    };
    return machines;
}

} // namespace BootMachines
