// The uninstaller run on the simulated Windows loaded with a described
// machine: the same RunUninstall, steps and catalogue as the real program.
#include "explain.h"

#include "../catalogue/catalogue.h"
#include "../description/lay_down.h"
#include "../platform/sim/machine.h"
#include "../steps/steps.h"
#include "../uninstall/uninstall.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace Check {

namespace {

using Description::Change;
using Description::Machine;

// The described places are cleared of the fresh Windows' own contents: an
// absent key or value is part of what is described.
void ClearDescribedPlaces(const Machine& machine) {
    auto described = [&](const std::string& path) {
        for (const Description::Key& key : machine.registry) {
            if (Sim::SameName(key.path, path))
                return true;
        }
        return false;
    };
    // A key read for its values alone keeps its subkeys when it is described.
    auto clear = [&](const std::string& path, bool subkeys) {
        HKEY root;
        std::string below = Description::RootPath(path, &root);
        Sim::Key* key = Sim::FindKey(root, below);
        if (key != nullptr && !subkeys && described(path))
            key->values.clear();
        else if (key != nullptr)
            Sim::DeleteKeyAt(root, below);
    };
    for (int i = 0; i < Description::PLACE_COUNT; ++i)
        clear(Description::PLACES[i].path, Description::PLACES[i].subkeys);
    std::string classes = std::string("HKLM\\") + Description::CLASS_KEY;
    std::vector<std::string> setupClasses;
    if (Sim::Key* key = Sim::FindKey(HKEY_LOCAL_MACHINE, Description::CLASS_KEY)) {
        for (auto& child : key->children)
            setupClasses.push_back(Sim::TextToAnsi(child.first));
    }
    for (const std::string& setupClass : setupClasses)
        clear(classes + "\\" + setupClass, false);
    Sim::Machine& m = Sim::Current();
    std::vector<std::string> services = Description::ListNames(ServiceList);
    services.push_back("TermService");
    for (const std::string& name : services) {
        Sim::DeleteKeyAt(HKEY_LOCAL_MACHINE, Description::SERVICES_KEY + name);
        m.services.erase(name);
    }
    for (const Description::Service& service : machine.services)
        m.services.erase(service.name);
    m.devices.clear();

    // The machine's other services are keys it has: those the fresh Windows
    // has beside them go, those it lacks stand in as disabled drivers.
    if (machine.serviceKeys.empty())
        return;
    std::string root = Description::SERVICES_KEY;
    root.pop_back();
    Sim::Key* servicesKey = Sim::MakeKey(HKEY_LOCAL_MACHINE, root);
    std::vector<std::string> present;
    for (auto& child : servicesKey->children)
        present.push_back(Sim::TextToAnsi(child.first));
    for (const std::string& name : present) {
        bool kept = std::any_of(machine.serviceKeys.begin(), machine.serviceKeys.end(),
                                [&](const std::string& key) { return Sim::SameName(key, name); });
        if (!kept) {
            Sim::DeleteKeyAt(HKEY_LOCAL_MACHINE, root + "\\" + name);
            m.services.erase(name);
        }
    }
    Description::LayServiceKeys(machine);
}

// A folder is made through a path that ends in a backslash, so that a name
// ending in spaces keeps them.
std::string FilePath(const Machine& machine, const std::string& described, bool directory) {
    const Sim::Machine& m = Sim::Current();
    const std::pair<const char*, std::string> folders[] = {
        {"%PRODUCT%", machine.productFolder},
        {"%PROGRAMS%", m.programsFolder},
        {"%COMMONPROGRAMS%", m.commonProgramsFolder}};
    for (auto& folder : folders) {
        size_t length = std::strlen(folder.first);
        if (described.compare(0, length, folder.first) == 0)
            return Sim::FullPath(folder.second + described.substr(length) +
                                 (directory ? "\\" : ""));
    }
    return "";
}

// What a server imports lies where the reader found it: a library found
// elsewhere than beside the server stands in the system folder, and one not
// found is in none of the folders the reader looked in.
void PlaceImports(const Machine& machine) {
    const Sim::Machine& m = Sim::Current();
    for (const Description::File& file : machine.files) {
        std::string server = file.imports.empty() ? "" : FilePath(machine, file.path, false);
        if (server.empty())
            continue;
        std::string beside = server.substr(0, server.rfind('\\') + 1);
        for (const Description::Import& import : file.imports) {
            std::string system = m.systemDirectory + "\\" + import.name;
            if (import.found && !Sim::Exists(beside + import.name) && !Sim::Exists(system))
                Sim::MakeFile(system);
            for (const std::string& folder : {m.systemDirectory, m.windowsDirectory}) {
                Sim::Node* node = import.found ? nullptr : Sim::FindNode(folder);
                if (node != nullptr)
                    node->children.erase(import.name);
            }
        }
    }
}

} // namespace

void Load(const Machine& machine) {
    Sim::Reset();
    Sim::Machine& m = Sim::Current();
    m.journalOn = false;
    if (machine.version != 0)
        m.version = machine.version;
    ClearDescribedPlaces(machine);

    for (const Description::Key& key : machine.registry) {
        HKEY root;
        std::string below = Description::RootPath(key.path, &root);
        Sim::Key* made = Sim::MakeKey(root, below);
        made->refuseOpen = !key.readable;
        for (const Description::Value& value : key.values)
            Sim::SetValue(root, below, value.name, value.type, value.data);
    }
    Sim::Key* session =
        Sim::MakeKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    auto& values = session->values;
    values.erase(std::remove_if(values.begin(), values.end(),
                                [](const auto& value) {
                                    return Sim::SameName(value.first,
                                                         "PendingFileRenameOperations");
                                }),
                 values.end());
    if (machine.hasPending)
        Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                      "PendingFileRenameOperations", REG_MULTI_SZ, machine.pending);

    // A service's program takes every control the product sends; whether it
    // stops is what its status says it accepts.
    for (const Description::Service& service : machine.services) {
        Sim::Service& record = m.services[service.name];
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
        Sim::Device& made = Sim::AddDevice(device.instanceId, guid, {});
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
            Sim::MakeDirectory(path);
            continue;
        }
        Sim::Node* node = Sim::MakeFile(path);
        if (file.readOnly)
            node->attributes |= FILE_ATTRIBUTE_READONLY;
        if (file.library != Description::Library::None) {
            node->library = std::make_unique<Sim::Library>();
            node->library->exportsUnregister = file.library == Description::Library::Unregisters;
            for (const Description::Import& import : file.imports)
                node->library->imports.push_back(import.name);
        }
    }
    PlaceImports(machine);
    m.journal.clear();
    m.journalOn = true;
}

namespace {

// The run being watched: the machine after the last step that ran, and
// what each step did.
struct Watch {
    std::string folder;
    Machine last;
    size_t outcomesSeen = 0;
    std::vector<StepRecord> record;
};
Watch* watching;

Machine Observed(const std::string& folder) {
    Sim::Machine& m = Sim::Current();
    bool journalOn = m.journalOn;
    m.journalOn = false;
    Machine now = Description::Describe(folder);
    Description::Observe(&now);
    m.journalOn = journalOn;
    return now;
}

void AfterStep(int step) {
    Machine now = Observed(watching->folder);
    std::vector<Sim::Outcome>& outcomes = Sim::Current().outcomes;
    watching->record.resize((size_t)step + 1);
    StepRecord& done = watching->record[(size_t)step];
    done.changes = Description::Changes(watching->last, now);
    done.outcomes.assign(outcomes.begin() + (long)watching->outcomesSeen, outcomes.end());
    watching->outcomesSeen = outcomes.size();
    watching->last = std::move(now);
}

} // namespace

Preview PreviewRun(const Machine& machine) {
    std::unique_ptr<Sim::Machine> saved = Sim::Exchange(nullptr);
    Load(machine);
    Preview preview;
    // What the run's controls and servers do is observed on the simulated
    // machine, as on any machine the uninstaller runs on in a test; the
    // machine is described again after each step, so that each change is
    // told under the step that made it.
    Machine before = Observed(machine.productFolder);
    Watch watch;
    watch.folder = before.productFolder;
    watch.last = before;
    watch.outcomesSeen = Sim::Current().outcomes.size();
    watching = &watch;
    preview.result = RunUninstall(AfterStep);
    watching = nullptr;
    preview.changes = Description::Changes(before, watch.last);
    Explain(machine, watch.record, watch.last, &preview);
    Sim::Replace(std::move(saved));
    return preview;
}

} // namespace Check
