// The machine itself: the current one, made fresh, exchanged and copied; the
// end of a process and the restart.
#include "internal.h"

#include <cstdio>
#include <cstdlib>

namespace Sim {

static std::unique_ptr<Machine> current;

Machine::~Machine() {
    for (auto& block : heapBlocks)
        std::free(block.first);
    for (auto& block : freedBlocks) {
        ReleasePoison(block.first, block.second);
        std::free(block.first);
    }
}

Machine& Current() {
    if (!current)
        Reset();
    return *current;
}

void Unmodelled(const std::string& what) {
    std::fprintf(stderr, "simulated Windows: not modelled: %s\n", what.c_str());
    std::abort();
}

void EndProcess() {
    Machine& m = Current();
    std::vector<std::string> services;
    for (auto& entry : m.handles) {
        if (entry.second.kind == HandleKind::Service)
            services.push_back(entry.second.name);
    }
    m.handles.clear();
    for (auto& name : services)
        ServiceHandleClosed(name);
    for (auto& block : m.heapBlocks)
        std::free(block.first);
    m.heapBlocks.clear();
    for (auto& block : m.freedBlocks) {
        ReleasePoison(block.first, block.second);
        std::free(block.first);
    }
    m.freedBlocks.clear();
    m.liveAllocations = 0;
    m.hasConsole = false;
    m.privilegeEnabled = false;
    m.currentDirectory = "C:\\";
    m.killAfterCall = 0;
}

namespace {

// The session manager's deletions carried out (a file, or an empty folder),
// and its list gone.
void CarryOutPendingDeletions() {
    Key* session = FindKey(HKEY_LOCAL_MACHINE, KEY_SESSION_MANAGER);
    Value* pending = session ? session->FindValue(PendingRenames::VALUE) : nullptr;
    if (pending == nullptr)
        return;
    for (const PendingRenames::Rename& rename : PendingRenames::Renames(AnsiData(*pending))) {
        if (rename.source.empty())
            break;
        if (!rename.target.empty())
            Unmodelled("a pending rename at restart");
        std::vector<std::string> parts;
        if (!ResolvePath(PendingRenames::Win32Path(rename.source), &parts))
            continue;
        Node* parent = &Current().fileRoot;
        for (size_t k = 0; parent && k + 1 < parts.size(); ++k) {
            auto child = parent->children.find(parts[k]);
            parent = child == parent->children.end() ? nullptr : child->second.get();
        }
        if (parent == nullptr)
            continue;
        auto target = parent->children.find(parts.back());
        if (target != parent->children.end() &&
            (!target->second->directory || target->second->children.empty()))
            parent->children.erase(target);
    }
    for (size_t i = 0; i < session->values.size(); ++i) {
        if (SameName(session->values[i].first, PendingRenames::VALUE)) {
            session->values.erase(session->values.begin() + (long)i);
            break;
        }
    }
}

// The service control manager deletes at boot every service whose key
// holds DeleteFlag, whoever set it, then rebuilds its database from the registry.
void RebuildServices() {
    Machine& m = Current();
    std::vector<std::string> gone;
    for (auto& service : m.services) {
        if (service.second.deletePending)
            gone.push_back(service.first);
    }
    Key* servicesKey = FindKey(HKEY_LOCAL_MACHINE, KEY_SERVICES);
    for (auto& child : servicesKey->children) {
        const Value* flag = child.second->FindValue("DeleteFlag");
        if (flag != nullptr && flag->type == REG_DWORD && flag->data.size() == 4 &&
            (flag->data[0] | flag->data[1] | flag->data[2] | flag->data[3]) != 0)
            gone.push_back(TextToAnsi(child.second->name));
    }
    for (auto& name : gone) {
        DeleteKeyAt(HKEY_LOCAL_MACHINE, KEY_SERVICES "\\" + name);
        m.services.erase(name);
    }
    std::map<std::string, Service, NoCase> rebuilt;
    for (auto& child : servicesKey->children) {
        if (child.second->FindValue("Type") == nullptr)
            continue;
        // Boot, system and automatic services start with Windows.
        Service service;
        Value* start = child.second->FindValue("Start");
        if (start != nullptr && start->data.size() == 4 && start->data[0] <= SERVICE_AUTO_START &&
            start->data[1] == 0 && start->data[2] == 0 && start->data[3] == 0)
            service.state = SERVICE_RUNNING;
        std::string name = TextToAnsi(child.second->name);
        auto old = m.services.find(name);
        if (old != m.services.end()) {
            service.acceptsStop = old->second.acceptsStop;
            service.customControls = old->second.customControls;
        }
        rebuilt[name] = service;
    }
    m.services = rebuilt;
}

} // namespace

void Restart() {
    CarryOutPendingDeletions();
    RebuildServices();
    Machine& m = Current();
    m.handles.clear();
    m.hasConsole = false;
    m.consoleText.clear();
    m.privilegeEnabled = false;
    m.currentDirectory = "C:\\";
}

void LayFreshWindows();

namespace {

std::shared_ptr<Key> CopyKey(const Key& from, Key* parent,
                             std::map<const Key*, std::shared_ptr<Key>>* copies) {
    auto key = std::make_shared<Key>();
    key->name = from.name;
    key->parent = parent;
    key->values = from.values;
    key->refuseOpen = from.refuseOpen;
    key->refuseDelete = from.refuseDelete;
    key->deleted = from.deleted;
    for (auto& child : from.children)
        key->children.emplace_hint(key->children.end(), child.first,
                                   CopyKey(*child.second, key.get(), copies));
    if (copies != nullptr)
        (*copies)[&from] = key;
    return key;
}

void CopyNode(const Node& from, Node* to) {
    to->name = from.name;
    to->directory = from.directory;
    to->adminOnly = from.adminOnly;
    to->attributes = from.attributes;
    to->content = from.content;
    if (from.library)
        to->library = std::make_unique<Library>(*from.library);
    for (auto& child : from.children) {
        auto node = std::make_unique<Node>();
        CopyNode(*child.second, node.get());
        to->children.emplace_hint(to->children.end(), child.first, std::move(node));
    }
}

} // namespace

std::unique_ptr<Machine> Copy(const Machine& from) {
    if (!from.heapBlocks.empty() || !from.freedBlocks.empty())
        Unmodelled("a copy of a machine whose heap holds blocks");
    auto m = std::make_unique<Machine>();
    static_cast<MachineState&>(*m) = from;
    // Handles hold keys, some perhaps deleted since: each key is copied once
    // and a handle names the copy of its key.
    std::map<const Key*, std::shared_ptr<Key>> copies;
    std::map<const Key*, std::shared_ptr<Key>>* track = from.handles.empty() ? nullptr : &copies;
    if (from.machineRoot)
        m->machineRoot = CopyKey(*from.machineRoot, nullptr, track);
    CopyNode(from.fileRoot, &m->fileRoot);
    for (auto& handle : m->handles) {
        std::shared_ptr<Key>& key = handle.second.key;
        if (!key)
            continue;
        auto copy = copies.find(key.get());
        if (copy == copies.end()) {
            // A key deleted while open: copied on its own, no longer in the tree.
            copy = copies.emplace(key.get(), CopyKey(*key, nullptr, &copies)).first;
        }
        key = copy->second;
    }
    return m;
}

void Replace(std::unique_ptr<Machine> machine) {
    current = std::move(machine);
}

std::unique_ptr<Machine> Exchange(std::unique_ptr<Machine> machine) {
    std::swap(current, machine);
    return machine;
}

ExchangeGuard::ExchangeGuard(std::unique_ptr<Machine> machine)
    : saved(Exchange(std::move(machine))) {}

ExchangeGuard::~ExchangeGuard() {
    Replace(std::move(saved));
}

void Reset() {
    current = std::make_unique<Machine>();
    current->machineRoot = std::make_shared<Key>();
    current->machineRoot->name = "HKLM";
    LayFreshWindows();
    Restart();
    current->journal.clear();
}

} // namespace Sim
