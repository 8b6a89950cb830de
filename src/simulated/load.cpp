// A described machine written straight into the simulated Windows' state:
// what a description holds is what the machine is, running kernel drivers,
// programs and libraries included.
#include "load.h"

#include "../catalogue/catalogue.h"
#include "../platform/pending_renames.h"
#include "../platform/sim/machine.h"
#include "../platform/utf.h"
#include "../platform/windows_keys.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

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
    for (const std::string& name : Description::DescribedServices()) {
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
    std::set<std::string, NoCase> kept(machine.serviceKeys.begin(), machine.serviceKeys.end());
    for (const std::string& name : present) {
        if (kept.count(name) == 0) {
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
        {Description::PRODUCT_PREFIX, machine.productFolder},
        {Description::PROGRAMS_PREFIX, m.programsFolder},
        {Description::COMMON_PROGRAMS_PREFIX, m.commonProgramsFolder}};
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

// A value of the boot view: set as given, or, when the view holds none,
// taken away unless it is of a type the reader does not take for one.
void LayValue(Key* key, const std::string& name, DWORD type, const std::optional<std::string>& text,
              bool (*readable)(DWORD)) {
    Value* existing = key->FindValue(name);
    if (!text) {
        if (existing != nullptr && readable(existing->type)) {
            auto& values = key->values;
            values.erase(std::remove_if(values.begin(), values.end(),
                                        [&](const auto& v) { return SameName(v.first, name); }),
                         values.end());
        }
        return;
    }
    if (existing != nullptr && readable(existing->type) && type != REG_DWORD &&
        type != REG_MULTI_SZ)
        type = existing->type; // REG_SZ or REG_EXPAND_SZ, as it was
    Value value;
    value.type = type;
    if (type == REG_DWORD) {
        DWORD number = (DWORD)std::stoul(*text);
        value.data = Dword(number);
    } else {
        value.data.assign(text->begin(), text->end());
        if (type != REG_MULTI_SZ)
            value.data.push_back(0); // a string is kept with its NUL
    }
    if (existing != nullptr)
        *existing = value;
    else
        key->values.push_back({name, value});
}

bool IsDword(DWORD type) {
    return type == REG_DWORD;
}
bool IsString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}
bool IsList(DWORD type) {
    return type == REG_MULTI_SZ;
}

std::optional<std::string> Number(const std::optional<DWORD>& value) {
    if (!value)
        return std::nullopt;
    return std::to_string(*value);
}

// A list as the simulated registry keeps a REG_MULTI_SZ's text: each entry
// ended, then one more NUL; none when the view holds no entry.
std::optional<std::string> Joined(const std::vector<std::string>& entries) {
    if (entries.empty())
        return std::nullopt;
    std::string text;
    for (const std::string& entry : entries)
        text += entry + '\0';
    return text + '\0';
}

// A filter value of the boot view: one stored as a string (REG_SZ or
// REG_EXPAND_SZ) that holds the view's one entry stays as it is stored.
void LayFilters(Key* key, const std::string& name, const std::vector<std::string>& entries) {
    const Value* existing = key->FindValue(name);
    if (existing != nullptr && IsString(existing->type) && entries.size() == 1) {
        std::string text(existing->data.begin(), existing->data.end());
        if (text.substr(0, text.find('\0')) == entries[0])
            return;
    }
    LayValue(key, name, REG_MULTI_SZ, Joined(entries), IsList);
}

void LayControlSet(const Description::ControlSet& set, bool current) {
    std::string root = "SYSTEM\\" + set.name;
    for (const Description::BootService& service : set.services) {
        Key* key = MakeKeyText(HKEY_LOCAL_MACHINE, root + "\\Services\\" + service.name);
        key->refuseOpen = !service.readable;
        if (!service.readable)
            continue;
        LayValue(key, "Type", REG_DWORD, Number(service.type), IsDword);
        LayValue(key, "Start", REG_DWORD, Number(service.start), IsDword);
        LayValue(key, "ImagePath", REG_EXPAND_SZ, service.imagePath, IsString);
        LayValue(key, "ErrorControl", REG_DWORD, Number(service.errorControl), IsDword);
        LayValue(key, "DeleteFlag", REG_DWORD,
                 service.deleteFlag ? std::optional<std::string>("1") : std::nullopt, IsDword);
        LayValue(key, "Group", REG_SZ,
                 service.group.empty() ? std::nullopt : std::optional<std::string>(service.group),
                 IsString);
        LayValue(key, "DependOnService", REG_MULTI_SZ, Joined(service.dependOnService), IsList);
        LayValue(key, "DependOnGroup", REG_MULTI_SZ, Joined(service.dependOnGroup), IsList);
    }
    if (Key* services = FindKeyBelow(Current().machineRoot.get(), root + "\\Services"))
        services->refuseOpen = !set.servicesReadable;
    for (const Description::SetupClass& setupClass : set.classes) {
        Key* key = MakeKeyText(HKEY_LOCAL_MACHINE, root + "\\Control\\Class\\" + setupClass.guid);
        key->refuseOpen = key->refuseOpen || !setupClass.readable;
        if (!setupClass.readable)
            continue;
        LayValue(key, "Class", REG_SZ,
                 setupClass.name.empty() ? std::nullopt
                                         : std::optional<std::string>(setupClass.name),
                 IsString);
        LayFilters(key, "UpperFilters", setupClass.upperFilters);
        LayFilters(key, "LowerFilters", setupClass.lowerFilters);
    }
    if (!set.classesReadable)
        MakeKeyText(HKEY_LOCAL_MACHINE, root + "\\Control\\Class")->refuseOpen = true;
    if (current)
        return;
    for (const Description::DeviceKey& device : set.devices) {
        Key* key = MakeKeyText(HKEY_LOCAL_MACHINE, root + "\\Enum\\" + device.instanceId);
        auto text = [](const std::string& value) {
            return value.empty() ? std::nullopt : std::optional<std::string>(value);
        };
        LayValue(key, "ClassGUID", REG_SZ, text(device.classGuid), IsString);
        LayValue(key, "Service", REG_SZ, text(device.service), IsString);
        LayFilters(key, "UpperFilters", device.upperFilters);
        LayFilters(key, "LowerFilters", device.lowerFilters);
        LayValue(key, "ConfigFlags", REG_DWORD, Number(device.configFlags), IsDword);
    }
}

// What the next boot loads: each control set's keys, "Select", and the
// image files the services name, there or not as the view says.
void LayBoot(const Description::Boot& boot) {
    Machine& m = Current();
    if (!boot.windowsFolder.empty() &&
        !SameName(Description::WindowsFolderOf(m.systemDirectory), boot.windowsFolder)) {
        m.windowsDirectory = boot.windowsFolder;
        m.systemDirectory = boot.windowsFolder + "\\system32";
        MakeDirectory(m.systemDirectory);
    }
    DeleteKeyAt(HKEY_LOCAL_MACHINE, "SYSTEM\\Select");
    if (boot.current != 0 || boot.defaultSet != 0 || boot.lastKnownGood != 0) {
        SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", "Current", REG_DWORD, Dword(boot.current));
        SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", "Default", REG_DWORD,
                 Dword(boot.defaultSet));
        SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", "LastKnownGood", REG_DWORD,
                 Dword(boot.lastKnownGood));
    }
    for (size_t i = 0; i < boot.sets.size(); ++i)
        LayControlSet(boot.sets[i], i == 0);
    std::set<decltype(Description::UpperUnicode(""))> images;
    for (const std::string& image : boot.images)
        images.insert(Description::UpperUnicode(image));
    m.imagesLooked = boot.imagesLooked;
    for (const Description::ControlSet& set : boot.sets) {
        for (const Description::BootService& service : set.services) {
            if (!boot.imagesLooked) {
                // Not looked at: each stands where Windows looks first.
                std::string file = TextToAnsi(Description::ImageFile(service, boot.windowsFolder));
                if (file.size() > 3 && file[1] == ':' && FindNode(file) == nullptr)
                    MakeFile(file);
                continue;
            }
            for (const std::string& file : Description::ImageFiles(service, boot.windowsFolder,
                                                                   Description::KindOf(service))) {
                bool found = images.count(Description::UpperUnicode(file)) != 0;
                std::string ansi = TextToAnsi(file);
                if (found && FindNode(ansi) == nullptr)
                    MakeFile(ansi);
                size_t slash = ansi.find_last_of('\\');
                Node* folder =
                    found || slash == std::string::npos ? nullptr : FindNode(ansi.substr(0, slash));
                if (folder != nullptr)
                    folder->children.erase(ansi.substr(slash + 1));
            }
        }
    }
}

// The described keys and their values, and their security.
void LayKeys(const Description::Machine& machine) {
    // What both the boot view and the keys hold was read twice: through the
    // W functions, and through the A ones, which show a character the code
    // page lacks as '?'. Where the two agree, the Unicode text stays.
    for (const Description::Key& key : machine.registry) {
        HKEY root;
        std::string below = Description::RootPath(key.path, &root);
        Key* made = MakeKey(root, below);
        made->refuseOpen = !key.readable;
        made->refuseWrite = !key.writable;
        made->refuseDelete = !key.deletable;
        for (const Description::Value& value : key.values) {
            const Value* laid = made->FindValue(value.name);
            if (laid != nullptr && laid->type == value.type && IsText(value.type) &&
                AnsiData(*laid) == value.data)
                continue;
            SetValue(root, below, value.name, value.type, value.data);
        }
    }
}

// The pending operations: the description's, or none.
void LayPending(const Description::Machine& machine) {
    Key* session = MakeKey(HKEY_LOCAL_MACHINE, KEY_SESSION_MANAGER);
    auto& values = session->values;
    values.erase(std::remove_if(values.begin(), values.end(),
                                [](const auto& value) {
                                    return SameName(value.first, PendingRenames::VALUE);
                                }),
                 values.end());
    if (machine.hasPending)
        SetValue(HKEY_LOCAL_MACHINE, KEY_SESSION_MANAGER, PendingRenames::VALUE, REG_MULTI_SZ,
                 machine.pending);
}

void LayServices(const Description::Machine& machine) {
    Machine& m = Current();
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
}

void LayDevices(const Description::Machine& machine) {
    for (const Description::Device& device : machine.devices) {
        GUID guid{};
        Description::GuidOf(device.classGuid, &guid);
        Device& made = AddDevice(device.instanceId, guid, {});
        made.hasHardwareIds = device.hasHardwareIds;
        made.hardwareIds = device.hardwareIds;
        made.upperFilters = device.upperFilters;
        made.lowerFilters = device.lowerFilters;
        if (device.configFlags)
            made.configFlags = Dword(*device.configFlags);
        if (device.profileFlags)
            SetValue(HKEY_LOCAL_MACHINE, KEY_PROFILE_ENUM "\\" + device.instanceId, "CSConfigFlags",
                     REG_DWORD, Dword(*device.profileFlags));
        made.present = device.present;
        if (!device.service.empty())
            made.service = Unicode::LittleEndian(Unicode::Utf16(device.service) + u'\0');
    }
}

void LayFiles(const Description::Machine& machine) {
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
}

} // namespace

void Load(const Description::Machine& machine) {
    Reset();
    Machine& m = Current();
    m.journalOn = false;
    if (machine.version != 0)
        m.version = machine.version;
    ClearDescribedPlaces(machine);
    LayBoot(machine.boot);
    LayKeys(machine);
    LayPending(machine);
    LayServices(machine);
    LayDevices(machine);
    LayFiles(machine);
    PlaceImports(machine);
    m.journal.clear();
    m.journalOn = true;
}

void Observe(Description::Machine* machine) {
    Machine& m = Current();
    machine->boot.imagesLooked = m.imagesLooked;
    for (Description::Service& service : machine->services) {
        auto found = m.services.find(service.name);
        if (found == m.services.end())
            continue;
        Value type;
        bool driver = ReadValue(HKEY_LOCAL_MACHINE, Description::SERVICES_KEY + service.name,
                                "Type", &type) &&
                      type.data.size() == 4 &&
                      (type.data[0] & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
        service.program = !found->second.acceptsStop ? Description::Program::RefusesStop
                          : driver                   ? Description::Program::None
                                                     : Description::Program::Records;
    }
    for (Description::File& file : machine->files) {
        // Libraries lie in the product folder only.
        if (file.path.rfind(Description::PRODUCT_PREFIX, 0) != 0)
            continue;
        Node* node = file.directory
                         ? nullptr
                         : FindNode(machine->productFolder +
                                    file.path.substr(sizeof Description::PRODUCT_PREFIX - 1));
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
