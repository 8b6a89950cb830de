#include "machine/footprint.h"

#include "catalogue/catalogue.h"
#include "platform/sim/machine.h"
#include "simulated/load.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

namespace Footprint {

extern const char PRODUCT_FOLDER[] = "C:\\Program Files\\Tallowin\\";
extern const char STUBBORN_SERVICE[] = "DzHelper";
extern const char IMPORTING_SERVER[] = "VkUsbMmc.dll";
extern const char SERVER_IMPORT[] = "vkclass.dll";

namespace {

// The product's footprint as its installer leaves it, as data: a description
// (tests/data/footprint.json) holding what it writes to the registry but its
// services and the lists it edits, in order, each value one entry of
// Parts::registry; each service's key as its installer creates it and its
// state, one entry of Parts::services, then TermService's key as the product
// changes it; and the product-like devices, one entry of Parts::devices: the
// first four the uninstaller removes (the first's ID written in capitals),
// then one whose second ID matches, one with 72 bytes of IDs and one not
// present, which it leaves.
const Description::Machine& Tables() {
    static const Description::Machine footprint = [] {
        std::ifstream in(VK_FOOTPRINT_JSON, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Description::Machine read;
        std::string error;
        if (!in || !Description::Read(text, &read, &error)) {
            std::fprintf(stderr, "%s: %s\n", VK_FOOTPRINT_JSON,
                         in ? error.c_str() : "cannot be read");
            std::abort();
        }
        return read;
    }();
    return footprint;
}

} // namespace

extern const char* const REMOVED_DEVICES[] = {"ROOT\\VKBUSENUM\\0000", "ROOT\\KRHUB\\0000",
                                              "ROOT\\ZOLTAUDIO\\0000", "ROOT\\VKXHCI\\0000"};
extern const int REMOVED_DEVICE_COUNT = 4;
extern const char* const KEPT_DEVICES[] = {"ROOT\\KRHUBPORT\\0000", "ROOT\\VKXHCIREV\\0000",
                                           "ROOT\\VKGHOST\\0000"};
extern const int KEPT_DEVICE_COUNT = 3;

namespace {

const char SERVICES_PATH[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\";

bool IsServiceKey(const std::string& path) {
    return path.compare(0, sizeof SERVICES_PATH - 1, SERVICES_PATH) == 0;
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
    for (const Description::Key& key : Tables().registry) {
        if (IsServiceKey(key.path))
            continue;
        for (const Description::Value& value : key.values) {
            if (mask >> (bit++ % 32) & 1)
                SetValue(KeyAt(machine, key.path), value.name, value.type, value.data);
        }
    }
}

// Each service's key as the service manager writes it when it creates the
// service, and TermService's as the product changes it.
void AddServices(Description::Machine* machine, unsigned long mask) {
    auto term =
        std::find_if(machine->services.begin(), machine->services.end(),
                     [](const Description::Service& s) { return s.name == SERVICE_TERMSERVICE; });
    std::vector<Description::Service> services;
    int bit = 0;
    for (const Description::Service& entry : Tables().services) {
        if (!(mask >> bit++ & 1))
            continue;
        const Description::Key* table = Description::FindKey(Tables(), SERVICES_PATH + entry.name);
        const Description::Value* type = Description::FindValue(table, "Type");
        DWORD number =
            type->data[0] | type->data[1] << 8 | type->data[2] << 16 | (DWORD)type->data[3] << 24;
        bool win32 = (number & (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS)) != 0;
        Description::Key* key = KeyAt(machine, SERVICES_PATH + entry.name);
        SetValue(key, "Type", REG_DWORD, type->data);
        SetValue(key, "Start", REG_DWORD, Description::FindValue(table, "Start")->data);
        SetValue(key, "ErrorControl", REG_DWORD, Sim::Dword(SERVICE_ERROR_NORMAL));
        for (const char* name : {"ImagePath", "Group"}) {
            if (const Description::Value* value = Description::FindValue(table, name))
                SetValue(key, name, value->type, value->data);
        }
        if (win32)
            SetValue(key, "ObjectName", REG_SZ, Sim::Sz("LocalSystem"));
        SetValue(key, "DisplayName", REG_SZ, Sim::Sz(entry.name));
        Description::Program program = !win32 ? Description::Program::None
                                       : entry.name == STUBBORN_SERVICE
                                           ? Description::Program::RefusesStop
                                           : Description::Program::Records;
        services.push_back({entry.name, entry.state, program});
        machine->serviceKeys.push_back(entry.name);
    }
    term = machine->services.insert(term, services.begin(), services.end()) + (long)services.size();
    std::sort(machine->serviceKeys.begin(), machine->serviceKeys.end(), Sim::NameOrder());
    if (!(mask >> 18 & 1) || term == machine->services.end())
        return;
    const std::string termService = std::string(SERVICES_PATH) + SERVICE_TERMSERVICE;
    Description::Key* key = KeyAt(machine, termService);
    for (const Description::Value& value : Description::FindKey(Tables(), termService)->values)
        SetValue(key, value.name, value.type, value.data);
}

// Root-enumerated, as the product's installer makes them: ROOT\<NAME>\0000.
void AddDevices(Description::Machine* machine, unsigned long mask) {
    int bit = 0;
    for (const Description::Device& device : Tables().devices) {
        if (mask >> bit++ & 1)
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
