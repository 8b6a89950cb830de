#include "machine/invariant.h"

#include "catalogue/catalogue.h"

#include <cctype>
#include <cstring>

namespace Invariant {

namespace {

const std::string HKLM = "HKLM\\";
const std::string SERVICES = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\";
const std::string CLASS = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{";
const std::string GROUP_ORDER = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder";
const std::string SESSION = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const std::string WINLOGON = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const std::string TERMSERVICE = SERVICES + "TermService";
const std::string CONTROL = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Multiuser";

std::vector<std::string> Entries(const char* list) {
    std::vector<std::string> entries;
    for (const char* e = list; *e != 0; e += std::strlen(e) + 1)
        entries.push_back(e);
    return entries;
}

bool Under(const std::string& path, const std::string& top) {
    if (path.size() < top.size() || (path.size() > top.size() && path[top.size()] != '\\'))
        return false;
    for (size_t i = 0; i < top.size(); ++i) {
        if (std::toupper((unsigned char)path[i]) != std::toupper((unsigned char)top[i]))
            return false;
    }
    return true;
}

bool IsProductService(const std::string& name) {
    for (auto& service : Entries(ServiceList)) {
        if (Sim::SameName(service, name))
            return true;
    }
    return false;
}

// The seven trees the run deletes, and the keys of the product's services.
const std::vector<std::string>& ProductTrees() {
    static const std::vector<std::string> trees = [] {
        std::vector<std::string> list = {
            CONTROL,
            "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\RyWinLog",
            "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\Dzmunotify",
        };
        for (auto& row : ShellRegistrationTable) {
            list.push_back(std::string("HKLM\\SOFTWARE\\Classes\\CLSID\\") + row.ClassId);
            list.push_back("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
                           "Folder\\Desk\\shellex\\PropertySheetHandlers\\" +
                           std::string(row.HandlerName));
        }
        for (auto& service : Entries(ServiceList))
            list.push_back(SERVICES + service);
        return list;
    }();
    return trees;
}

bool ProductKey(const std::string& path) {
    for (auto& tree : ProductTrees()) {
        if (Under(path, tree))
            return true;
    }
    return false;
}

// A list value's entries as the product edits it: every entry ended by a NUL
// within the data, the list's own final NUL optional. False when an entry
// runs off the end.
bool ParseList(const std::vector<BYTE>& data, std::vector<std::string>* entries) {
    size_t at = 0;
    while (at < data.size() && data[at] != 0) {
        size_t end = at;
        while (end < data.size() && data[end] != 0)
            ++end;
        if (end == data.size())
            return false;
        entries->push_back(std::string(data.begin() + (long)at, data.begin() + (long)end));
        at = end + 1;
    }
    return true;
}

// The filter list's value may only have lost entries equal to `names`.
void CheckList(const std::string& where, const Sim::Value* was, const Sim::Value* now,
               const std::vector<std::string>& names, bool emptiedGoes,
               std::vector<std::string>* faults) {
    if (was == nullptr) {
        if (now != nullptr)
            faults->push_back(where + ": a list value appeared");
        return;
    }
    std::vector<std::string> old, kept;
    bool parsed = ParseList(was->data, &old);
    bool all = true;
    for (auto& entry : old) {
        bool product = false;
        for (auto& name : names)
            product = product || Sim::SameName(entry, name);
        if (!product)
            kept.push_back(entry);
        all = all && product;
    }
    if (now == nullptr) {
        bool emptyList = was->data.size() <= 1 || was->data[0] == 0;
        if (!(emptiedGoes && parsed && all && !old.empty()) && !(emptiedGoes && emptyList))
            faults->push_back(where + ": a list value that still held foreign entries was deleted");
        return;
    }
    if (!parsed) {
        if (now->data != was->data)
            faults->push_back(where + ": a value that is no list was changed");
        return;
    }
    std::vector<std::string> remaining;
    if (!ParseList(now->data, &remaining) || (remaining != kept && now->data != was->data))
        faults->push_back(where + ": the list lost more than the product's names, or changed");
    if (now->type != was->type && now->type != REG_MULTI_SZ)
        faults->push_back(where + ": the list's type changed");
}

std::string Folded(const std::string& path) {
    std::string folded = path;
    for (char& c : folded)
        c = (char)std::toupper((unsigned char)c);
    return folded;
}

std::string ProductFolder(const Snapshot& before) {
    auto key = before.keys.find(Folded(CONTROL));
    if (key == before.keys.end())
        return "";
    auto value = key->second.values.find(PRODUCT_FOLDER_VALUE);
    if (value == key->second.values.end())
        return "";
    const std::vector<BYTE>& data = value->second.data;
    std::string folder;
    for (BYTE b : data) {
        if (b == 0)
            break;
        folder += (char)b;
    }
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

void CheckPending(const Snapshot& before, const Sim::Value* was, const Sim::Value* now,
                  std::vector<std::string>* faults) {
    if (now == nullptr) {
        if (was != nullptr)
            faults->push_back("pending file operations were lost");
        return;
    }
    std::vector<BYTE> prefix = was ? was->data : std::vector<BYTE>();
    if (!prefix.empty())
        prefix.pop_back();
    if (now->data.size() < prefix.size() ||
        !std::equal(prefix.begin(), prefix.end(), now->data.begin())) {
        faults->push_back("earlier pending file operations were changed");
        return;
    }
    std::string folder = ProductFolder(before);
    std::vector<std::string> names;
    for (const char* list : {MainFileList, ExtraFileList, SupportFileList})
        for (auto& name : Entries(list))
            names.push_back(name);
    for (auto& name : Entries(DriverFileList))
        names.push_back("drivers\\" + name);
    // The deletions the run may record: the product's files in its folder.
    std::set<std::string, Sim::NoCase> allowed;
    if (!folder.empty()) {
        for (auto& name : names) {
            std::string full = folder + name;
            allowed.insert(full.compare(0, 2, "\\\\") == 0 ? "\\??\\UNC\\" + full.substr(2)
                                                           : "\\??\\" + Sim::FullPath(full));
        }
    }
    std::string added(now->data.begin() + (long)prefix.size(), now->data.end());
    size_t at = 0;
    while (at < added.size() && added[at] != 0) {
        std::string path = added.c_str() + at;
        at += path.size() + 1;
        if (at >= added.size() || added[at] != 0) {
            faults->push_back("a pending operation other than a deletion: " + path);
            return;
        }
        ++at;
        if (allowed.count(path) == 0)
            faults->push_back("a deletion outside the product's files: " + path);
    }
}

void CheckTermService(const std::string& name, const Sim::Value* was, const Sim::Value* now,
                      std::vector<std::string>* faults) {
    if (Sim::SameName(name, "Tag"))
        return;
    if (Sim::SameName(name, "ImagePath")) {
        // Written back as read: its first string, as the service manager
        // stores an image path.
        std::string first;
        for (size_t i = 0; was && i < was->data.size() && was->data[i] != 0; ++i)
            first += (char)was->data[i];
        if (was == nullptr || now == nullptr || now->type != REG_EXPAND_SZ ||
            now->data != Sim::Sz(first))
            faults->push_back("TermService's ImagePath changed");
        return;
    }
    std::map<std::string, std::vector<BYTE>, Sim::NoCase> restored = {
        {"Type", Sim::Dword(SERVICE_WIN32_SHARE_PROCESS)},
        {"Start", Sim::Dword(SERVICE_DEMAND_START)},
        {"ErrorControl", Sim::Dword(SERVICE_ERROR_NORMAL)},
        {"Group", Sim::Sz("TermService")},
        {"DependOnService", Sim::MultiSz({"RPCSS"})},
        {"ObjectName", Sim::Sz("LocalSystem")},
        {"DisplayName", Sim::Sz("Terminal Services")},
    };
    auto expected = restored.find(name);
    if (expected == restored.end() || now == nullptr || now->data != expected->second)
        faults->push_back("TermService's " + name + " changed to something not Windows' own");
}

} // namespace

Snapshot Take() {
    Snapshot snapshot;
    std::vector<std::pair<const Sim::Key*, std::string>> work = {
        {Sim::Current().machineRoot.get(), "HKLM"}};
    while (!work.empty()) {
        auto [key, path] = work.back();
        work.pop_back();
        Snapshot::KeyState& state = snapshot.keys[Folded(path)];
        state.path = path;
        for (auto& value : key->values)
            state.values[value.first] = value.second;
        for (auto& child : key->children)
            work.push_back({child.second.get(), path + "\\" + child.second->name});
    }
    snapshot.services.insert(Sim::Current().services.begin(), Sim::Current().services.end());
    for (auto& device : Sim::Current().devices)
        snapshot.devices[device.instanceId] = device;
    std::vector<std::pair<const Sim::Node*, std::string>> nodes = {{&Sim::Current().fileRoot, ""}};
    while (!nodes.empty()) {
        auto [node, path] = nodes.back();
        nodes.pop_back();
        for (auto& child : node->children) {
            std::string childPath =
                path + child.second->name + (child.second->directory ? "\\" : "");
            snapshot.files.insert(childPath);
            if (child.second->directory)
                nodes.push_back({child.second.get(), childPath});
        }
    }
    snapshot.programs = Sim::Current().programsFolder;
    snapshot.commonPrograms = Sim::Current().commonProgramsFolder;
    return snapshot;
}

std::vector<std::string> Check(const Snapshot& before, const Snapshot& after) {
    std::vector<std::string> faults;
    const Sim::Value* none = nullptr;

    for (auto& entry : before.keys) {
        auto found = after.keys.find(entry.first);
        const std::string& path = entry.second.path;
        if (found == after.keys.end()) {
            if (!ProductKey(path))
                faults.push_back("a foreign key went: " + path);
            continue;
        }
        const auto& values = entry.second.values;
        const auto& nowValues = found->second.values;
        // Every value name in either.
        std::set<std::string, Sim::NoCase> names;
        for (auto& v : values)
            names.insert(v.first);
        for (auto& v : nowValues)
            names.insert(v.first);
        for (auto& name : names) {
            auto w = values.find(name);
            auto n = nowValues.find(name);
            const Sim::Value* was = w == values.end() ? none : &w->second;
            const Sim::Value* is = n == nowValues.end() ? none : &n->second;
            if (was && is && was->type == is->type && was->data == is->data)
                continue;
            const std::string where = path + " : " + name;
            bool filterClass = false;
            const char* guid = ClassFilterGuids;
            for (int row = 0; row < CLASS_FILTER_ROWS; ++row, guid += std::strlen(guid) + 1) {
                if (Sim::SameName(path, CLASS + guid + "}") &&
                    Sim::SameName(name, "UpperFilters")) {
                    CheckList(where, was, is, {ClassFilterNames[row]}, true, &faults);
                    filterClass = true;
                }
            }
            if (filterClass)
                continue;
            if (Sim::SameName(path, GROUP_ORDER) && Sim::SameName(name, "List"))
                CheckList(where, was, is, {GROUP_ORDER_TERMSERVICE, GROUP_ORDER_MULTIUSER}, false,
                          &faults);
            else if (Sim::SameName(path, SESSION) &&
                     Sim::SameName(name, "PendingFileRenameOperations"))
                CheckPending(before, was, is, &faults);
            else if (Sim::SameName(path, WINLOGON) && Sim::SameName(name, "LogonType")) {
                if (is == nullptr || is->type != REG_DWORD || is->data != Sim::Dword(1))
                    faults.push_back("LogonType is not the 32-bit value 1");
            } else if (Sim::SameName(path, TERMSERVICE))
                CheckTermService(name, was, is, &faults);
            else if (ProductKey(path) && Sim::SameName(name, "DeleteFlag"))
                continue;
            else
                faults.push_back("a foreign value changed: " + where);
        }
    }
    for (auto& entry : after.keys) {
        if (before.keys.count(entry.first) == 0)
            faults.push_back("a key appeared: " + entry.second.path);
    }

    for (auto& service : before.services) {
        auto now = after.services.find(service.first);
        bool same = now != after.services.end() && now->second.state == service.second.state &&
                    now->second.deletePending == service.second.deletePending;
        if (!same && !IsProductService(service.first))
            faults.push_back("a foreign service changed: " + service.first);
    }
    for (auto& service : after.services) {
        if (before.services.count(service.first) == 0)
            faults.push_back("a service appeared: " + service.first);
    }

    for (auto& device : before.devices) {
        if (after.devices.count(device.first) != 0)
            continue;
        const Sim::Device& d = device.second;
        std::u16string first;
        for (size_t i = 0; i + 1 < d.hardwareIds.size() && i < 64; i += 2) {
            char16_t c = (char16_t)(d.hardwareIds[i] | d.hardwareIds[i + 1] << 8);
            if (c == 0)
                break;
            first += c;
        }
        bool product = false;
        for (auto& id : Entries(HardwareIdList)) {
            std::u16string wide(id.begin(), id.end());
            bool same = wide.size() == first.size();
            for (size_t i = 0; same && i < wide.size(); ++i)
                same = Win::lstrcmpiW(std::u16string(1, wide[i]).c_str(),
                                      std::u16string(1, first[i]).c_str()) == 0;
            product = product || same;
        }
        if (!d.present || !d.hasHardwareIds || d.hardwareIds.size() > 64 || !product)
        {
            std::string ids;
            for (BYTE b : d.hardwareIds)
                ids += b >= 0x20 && b < 0x7F ? std::string(1, (char)b) : "\\x" + std::to_string(b);
            faults.push_back("a device that is not the product's went: " + device.first + " " + ids);
        }
    }

    std::vector<std::string> groups;
    for (const std::string& folder : {before.programs, before.commonPrograms})
        groups.push_back(folder + "\\Tallowin\\");
    for (auto& file : before.files) {
        if (after.files.count(file) != 0)
            continue;
        bool allowed = false;
        for (auto& group : groups) {
            if (Sim::SameName(file, group))
                allowed = true;
            bool inside = file.size() > group.size() &&
                          Sim::SameName(file.substr(0, group.size()), group) &&
                          file.find('\\', group.size()) == std::string::npos;
            bool shortcut = file.size() >= 4 && Sim::SameName(file.substr(file.size() - 4), ".lnk");
            allowed = allowed || (inside && shortcut);
        }
        if (!allowed)
            faults.push_back("a file went that is not a product shortcut: " + file);
    }
    for (auto& file : after.files) {
        if (before.files.count(file) == 0 && !Sim::SameName(file, before.programs + "\\") &&
            !Sim::SameName(file, before.commonPrograms + "\\") &&
            !Sim::SameName(before.programs.substr(0, file.size()), file) &&
            !Sim::SameName(before.commonPrograms.substr(0, file.size()), file))
            faults.push_back("a file appeared: " + file);
    }
    return faults;
}

std::vector<std::string> Leaks() {
    std::vector<std::string> leaks;
    for (auto kind : {Sim::HandleKind::Key, Sim::HandleKind::Service, Sim::HandleKind::Find,
                      Sim::HandleKind::Module, Sim::HandleKind::DeviceSet, Sim::HandleKind::Token,
                      Sim::HandleKind::File}) {
        int open = Sim::OpenHandles(kind);
        if (open != 0)
            leaks.push_back(std::to_string(open) + " handle(s) of kind " +
                            std::to_string((int)kind) + " left open");
    }
    if (Sim::OpenHandles(Sim::HandleKind::Scm) > 1)
        leaks.push_back("more than one service control manager handle left open");
    if (Sim::Current().liveAllocations > 2)
        leaks.push_back("more heap blocks kept than the two the run keeps");
    return leaks;
}

} // namespace Invariant
