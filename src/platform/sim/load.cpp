// A described machine written straight into the simulated Windows' state:
// what a description holds is what the machine is, running kernel drivers,
// programs and libraries included.
#include "load.h"

#include "../../catalogue/catalogue.h"
#include "../windows_keys.h"
#include "machine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Sim {

namespace {

// The described places are cleared of the fresh Windows' own contents: an
// absent key or value is part of what is described.
void ClearDescribedPlaces(const Description::Machine& machine) {
    auto described = [&](const std::string& path) {
        for (const Description::Key& key : machine.registry) {
            if (SameName(key.path, path))
                return true;
        }
        return false;
    };
    // A key read for its values alone keeps its subkeys when it is described.
    auto clear = [&](const std::string& path, bool subkeys) {
        HKEY root;
        std::string below = Description::RootPath(path, &root);
        Key* key = FindKey(root, below);
        if (key != nullptr && !subkeys && described(path))
            key->values.clear();
        else if (key != nullptr)
            DeleteKeyAt(root, below);
    };
    for (int i = 0; i < Description::PLACE_COUNT; ++i)
        clear(Description::PLACES[i].path, Description::PLACES[i].subkeys);
    std::string classes = std::string("HKLM\\") + Description::CLASS_KEY;
    std::vector<std::string> setupClasses;
    if (Key* key = FindKey(HKEY_LOCAL_MACHINE, Description::CLASS_KEY)) {
        for (auto& child : key->children)
            setupClasses.push_back(TextToAnsi(child.first));
    }
    for (const std::string& setupClass : setupClasses)
        clear(classes + "\\" + setupClass, false);
    Machine& m = Current();
    std::vector<std::string> services = Description::ListNames(ServiceList);
    services.push_back("TermService");
    for (const std::string& name : services) {
        DeleteKeyAt(HKEY_LOCAL_MACHINE, Description::SERVICES_KEY + name);
        m.services.erase(name);
    }
    for (const Description::Service& service : machine.services)
        m.services.erase(service.name);
    // The described devices are all the machine has, numbered from the first.
    m.devices.clear();
    m.nextDevInst = 1;

    // The machine's other services are keys it has: those the fresh Windows
    // has beside them go, those it lacks stand in as disabled drivers.
    if (machine.serviceKeys.empty())
        return;
    std::string root = Description::SERVICES_KEY;
    root.pop_back();
    Key* servicesKey = MakeKey(HKEY_LOCAL_MACHINE, root);
    std::vector<std::string> present;
    for (auto& child : servicesKey->children)
        present.push_back(TextToAnsi(child.first));
    for (const std::string& name : present) {
        bool kept = std::any_of(machine.serviceKeys.begin(), machine.serviceKeys.end(),
                                [&](const std::string& key) { return SameName(key, name); });
        if (!kept) {
            DeleteKeyAt(HKEY_LOCAL_MACHINE, root + "\\" + name);
            m.services.erase(name);
        }
    }
    Description::LayServiceKeys(machine);
}

// A folder is made through a path that ends in a backslash, so that a name
// ending in spaces keeps them.
std::string FilePath(const Description::Machine& machine, const std::string& described,
                     bool directory) {
    const Machine& m = Current();
    const std::pair<const char*, std::string> folders[] = {
        {"%PRODUCT%", machine.productFolder},
        {"%PROGRAMS%", m.programsFolder},
        {"%COMMONPROGRAMS%", m.commonProgramsFolder}};
    for (auto& folder : folders) {
        size_t length = std::strlen(folder.first);
        if (described.compare(0, length, folder.first) == 0)
            return FullPath(folder.second + described.substr(length) + (directory ? "\\" : ""));
    }
    return "";
}

// What a server imports lies where the reader found it: a library found
// elsewhere than beside the server stands in the system folder, and one not
// found is in none of the folders the reader looked in.
void PlaceImports(const Description::Machine& machine) {
    const Machine& m = Current();
    for (const Description::File& file : machine.files) {
        std::string server = file.imports.empty() ? "" : FilePath(machine, file.path, false);
        if (server.empty())
            continue;
        std::string beside = server.substr(0, server.rfind('\\') + 1);
        for (const Description::Import& import : file.imports) {
            std::string system = m.systemDirectory + "\\" + import.name;
            if (import.found && !Exists(beside + import.name) && !Exists(system))
                MakeFile(system);
            for (const std::string& folder : {m.systemDirectory, m.windowsDirectory}) {
                Node* node = import.found ? nullptr : FindNode(folder);
                if (node != nullptr)
                    node->children.erase(import.name);
            }
        }
    }
}

} // namespace

void Load(const Description::Machine& machine) {
    Reset();
    Machine& m = Current();
    m.journalOn = false;
    if (machine.version != 0)
        m.version = machine.version;
    ClearDescribedPlaces(machine);

    for (const Description::Key& key : machine.registry) {
        HKEY root;
        std::string below = Description::RootPath(key.path, &root);
        Key* made = MakeKey(root, below);
        made->refuseOpen = !key.readable;
        for (const Description::Value& value : key.values)
            SetValue(root, below, value.name, value.type, value.data);
    }
    Key* session = MakeKey(HKEY_LOCAL_MACHINE, KEY_SESSION_MANAGER);
    auto& values = session->values;
    values.erase(std::remove_if(values.begin(), values.end(),
                                [](const auto& value) {
                                    return SameName(value.first, "PendingFileRenameOperations");
                                }),
                 values.end());
    if (machine.hasPending)
        SetValue(HKEY_LOCAL_MACHINE, KEY_SESSION_MANAGER, "PendingFileRenameOperations",
                 REG_MULTI_SZ, machine.pending);

    // A service's program takes every control the product sends; whether it
    // stops is what its status says it accepts.
    for (const Description::Service& service : machine.services) {
        Service& record = m.services[service.name];
        record.state = service.state;
        record.acceptsStop = service.program != Description::Program::RefusesStop;
        if (service.program != Description::Program::None) {
            for (DWORD control = 128; control <= 255; ++control)
                record.customControls.insert(control);
        }
    }

    for (const Description::Device& device : machine.devices) {
        GUID guid{};
        Description::GuidOf(device.classGuid, &guid);
        Device& made = AddDevice(device.instanceId, guid, {});
        made.hasHardwareIds = device.hasHardwareIds;
        made.hardwareIds = device.hardwareIds;
        made.upperFilters = device.upperFilters;
        made.lowerFilters = device.lowerFilters;
        made.present = device.present;
    }

    for (const Description::File& file : machine.files) {
        std::string path = FilePath(machine, file.path, file.directory);
        if (path.empty())
            continue;
        if (file.directory) {
            MakeDirectory(path);
            continue;
        }
        Node* node = MakeFile(path);
        if (file.readOnly)
            node->attributes |= FILE_ATTRIBUTE_READONLY;
        if (file.library != Description::Library::None) {
            node->library = std::make_unique<Library>();
            node->library->exportsUnregister = file.library == Description::Library::Unregisters;
            for (const Description::Import& import : file.imports)
                node->library->imports.push_back(import.name);
        }
    }
    PlaceImports(machine);
    m.journal.clear();
    m.journalOn = true;
}

void Observe(Description::Machine* machine) {
    Machine& m = Current();
    for (Description::Service& service : machine->services) {
        auto found = m.services.find(service.name);
        if (found == m.services.end())
            continue;
        Value type;
        bool driver = ReadValue(HKEY_LOCAL_MACHINE, Description::SERVICES_KEY + service.name,
                                "Type", &type) &&
                      type.data.size() == 4 &&
                      (type.data[0] & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
        service.program = driver                      ? Description::Program::None
                          : found->second.acceptsStop ? Description::Program::Records
                                                      : Description::Program::RefusesStop;
    }
    for (Description::File& file : machine->files) {
        // Libraries lie in the product folder only.
        if (file.path.rfind("%PRODUCT%", 0) != 0)
            continue;
        Node* node =
            file.directory ? nullptr : FindNode(Description::PRODUCT_FOLDER + file.path.substr(9));
        if (node != nullptr && node->library)
            file.library = node->library->exportsUnregister ? Description::Library::Unregisters
                                                            : Description::Library::NoExport;
    }
    machine->unregistered = m.unregistered;
    machine->received.clear();
    for (auto& entry : m.receivedByDeleted)
        machine->received.push_back({entry.first, entry.second});
    for (auto& entry : m.services) {
        if (!entry.second.received.empty())
            machine->received.push_back({entry.first, entry.second.received});
    }
}

} // namespace Sim
