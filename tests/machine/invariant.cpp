#include "machine/invariant.h"

#include "catalogue/catalogue.h"

#include <cctype>
#include <cstring>
#include <memory>

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
    static const std::vector<std::string> services = Entries(ServiceList);
    for (auto& service : services) {
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

std::string ProductFolder(const Snapshot& before) {
    const Sim::Key* key =
        Sim::FindKeyBelow(before.machine->machineRoot.get(), CONTROL.substr(HKLM.size()));
    const Sim::Value* value = key ? key->FindValue(PRODUCT_FOLDER_VALUE) : nullptr;
    if (value == nullptr)
        return "";
    std::string folder;
    for (BYTE b : Sim::AnsiData(*value)) {
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
    // The deletions the run may record: the product's files in its folder.
    // The set is kept for the next check of the same folder, resolved from
    // the same current folder.
    static std::string madeFor;
    static std::set<std::string, Sim::NoCase> allowed;
    std::string folder = ProductFolder(before);
    std::string key = folder + '|' + Sim::Current().currentDirectory;
    if (key != madeFor) {
        allowed.clear();
        madeFor = key;
    }
    if (allowed.empty() && !folder.empty()) {
        std::vector<std::string> names;
        for (const char* list : {MainFileList, ExtraFileList, SupportFileList})
            for (auto& name : Entries(list))
                names.push_back(name);
        for (auto& name : Entries(DriverFileList))
            names.push_back("drivers\\" + name);
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
        // Written back as read through the A functions: its first string,
        // as the service manager stores an image path. A value of another
        // type is read as its bytes and stored as text, so both are judged
        // as the A functions see them.
        std::string first;
        std::vector<BYTE> read = was ? Sim::AnsiData(*was) : std::vector<BYTE>();
        for (size_t i = 0; i < read.size() && read[i] != 0; ++i)
            first += (char)read[i];
        if (was == nullptr || now == nullptr || now->type != REG_EXPAND_SZ ||
            Sim::AnsiData(*now) != Sim::Sz(first))
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

// A value as the A functions read it, its paths naming files; null when absent.
// Elsewhere values are judged as stored, so that text the code page cannot
// carry and a rewrite turned into '?' counts as changed.
std::unique_ptr<Sim::Value> AnsiView(const Sim::Value* stored) {
    if (stored == nullptr)
        return nullptr;
    return std::make_unique<Sim::Value>(Sim::Value{stored->type, Sim::AnsiData(*stored)});
}

// A list as Unicode text whatever its type: the bytes of a list of another
// type are what the A functions give and, written back, take as ANSI.
std::unique_ptr<Sim::Value> TextView(const Sim::Value* stored) {
    if (stored == nullptr || Sim::IsText(stored->type))
        return stored ? std::make_unique<Sim::Value>(*stored) : nullptr;
    std::string text = Sim::AnsiToText(std::string(stored->data.begin(), stored->data.end()));
    return std::make_unique<Sim::Value>(
        Sim::Value{stored->type, std::vector<BYTE>(text.begin(), text.end())});
}

// A value that differs between the two machines (`was` or `now` null when
// absent) is one the run may rewrite, or a fault.
void CheckValue(const Snapshot& before, const std::string& path, const std::string& name,
                const Sim::Value* was, const Sim::Value* is, std::vector<std::string>* faults) {
    const std::string where = path + " : " + name;
    const char* guid = ClassFilterGuids;
    for (int row = 0; row < CLASS_FILTER_ROWS; ++row, guid += std::strlen(guid) + 1) {
        if (Sim::SameName(path, CLASS + guid + "}") && Sim::SameName(name, "UpperFilters")) {
            CheckList(where, TextView(was).get(), TextView(is).get(), {ClassFilterNames[row]}, true,
                      faults);
            return;
        }
    }
    if (Sim::SameName(path, GROUP_ORDER) && Sim::SameName(name, "List"))
        CheckList(where, TextView(was).get(), TextView(is).get(),
                  {GROUP_ORDER_TERMSERVICE, GROUP_ORDER_MULTIUSER}, false, faults);
    else if (Sim::SameName(path, SESSION) && Sim::SameName(name, "PendingFileRenameOperations"))
        CheckPending(before, AnsiView(was).get(), AnsiView(is).get(), faults);
    else if (Sim::SameName(path, WINLOGON) && Sim::SameName(name, "LogonType")) {
        if (is == nullptr || is->type != REG_DWORD || is->data != Sim::Dword(1))
            faults->push_back("LogonType is not the 32-bit value 1");
    } else if (Sim::SameName(path, TERMSERVICE)) {
        // From NT 6.0 on Windows' own configuration is another one: left alone.
        if ((before.machine->version & 0xFF) >= 6)
            faults->push_back("TermService changed on NT 6.0 or later: " + name);
        else
            CheckTermService(name, was, is, faults);
    } else if (ProductKey(path) && Sim::SameName(name, "DeleteFlag"))
        return;
    else
        faults->push_back("a foreign value changed: " + where);
}

// Walks the registry of the machine before and after side by side; `path`
// names the key in hand ("HKLM\...", as stored before).
class RegistryWalk {
  public:
    RegistryWalk(const Snapshot& before, std::vector<std::string>* faults)
        : before_(before), faults_(faults), path_("HKLM") {}

    void Both(const Sim::Key& was, const Sim::Key& now) {
        for (auto& value : was.values) {
            const Sim::Value* is = now.FindValue(value.first);
            if (is == nullptr || is->type != value.second.type || is->data != value.second.data)
                CheckValue(before_, path_, value.first, &value.second, is, faults_);
        }
        for (auto& value : now.values) {
            if (was.FindValue(value.first) == nullptr)
                CheckValue(before_, path_, value.first, nullptr, &value.second, faults_);
        }
        for (auto& child : was.children) {
            size_t length = Enter(child.second->name);
            auto found = now.children.find(child.first);
            if (found == now.children.end())
                Went(*child.second);
            else
                Both(*child.second, *found->second);
            path_.resize(length);
        }
        for (auto& child : now.children) {
            if (was.children.count(child.first) != 0)
                continue;
            size_t length = Enter(child.second->name);
            Appeared(*child.second);
            path_.resize(length);
        }
    }

  private:
    size_t Enter(const std::string& name) {
        size_t length = path_.size();
        path_ += '\\';
        path_ += Sim::TextToAnsi(name);
        return length;
    }

    void Went(const Sim::Key& key) {
        if (ProductKey(path_))
            return; // and so is everything below it
        faults_->push_back("a foreign key went: " + path_);
        for (auto& child : key.children) {
            size_t length = Enter(child.second->name);
            Went(*child.second);
            path_.resize(length);
        }
    }

    void Appeared(const Sim::Key& key) {
        faults_->push_back("a key appeared: " + path_);
        for (auto& child : key.children) {
            size_t length = Enter(child.second->name);
            Appeared(*child.second);
            path_.resize(length);
        }
    }

    const Snapshot& before_;
    std::vector<std::string>* faults_;
    std::string path_;
};

bool IsProductDevice(const Sim::Device& d) {
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
    return d.present && d.hasHardwareIds && d.hardwareIds.size() <= 64 && product;
}

// Walks the file trees side by side. A path ends in a backslash for a folder.
class FileWalk {
  public:
    FileWalk(const Snapshot& before, std::vector<std::string>* faults)
        : programs_(before.machine->programsFolder),
          commonPrograms_(before.machine->commonProgramsFolder), faults_(faults) {
        for (const std::string& folder : {programs_, commonPrograms_})
            groups_.push_back(folder + "\\Tallowin\\");
    }

    void Both(const Sim::Node& was, const Sim::Node& now) {
        for (auto& child : was.children) {
            size_t length = Enter(*child.second);
            auto found = now.children.find(child.first);
            if (found == now.children.end() ||
                found->second->directory != child.second->directory) {
                Went(*child.second);
            } else if (child.second->directory) {
                Both(*child.second, *found->second);
            }
            path_.resize(length);
        }
        for (auto& child : now.children) {
            auto found = was.children.find(child.first);
            if (found != was.children.end() && found->second->directory == child.second->directory)
                continue;
            size_t length = Enter(*child.second);
            Appeared(*child.second);
            path_.resize(length);
        }
    }

  private:
    size_t Enter(const Sim::Node& node) {
        size_t length = path_.size();
        path_ += node.name;
        if (node.directory)
            path_ += '\\';
        return length;
    }

    // Only the product's groups and the shortcuts directly in them may go.
    void Went(const Sim::Node& node) {
        bool allowed = false;
        for (auto& group : groups_) {
            if (Sim::SameName(path_, group))
                allowed = true;
            bool inside = path_.size() > group.size() &&
                          Sim::SameName(path_.substr(0, group.size()), group) &&
                          path_.find('\\', group.size()) == std::string::npos;
            bool shortcut =
                path_.size() >= 4 && Sim::SameName(path_.substr(path_.size() - 4), ".lnk");
            allowed = allowed || (inside && shortcut);
        }
        if (!allowed)
            faults_->push_back("a file went that is not a product shortcut: " + path_);
        for (auto& child : node.children) {
            size_t length = Enter(*child.second);
            Went(*child.second);
            path_.resize(length);
        }
    }

    // Only the Start-menu folders themselves, and the folders above them, may appear.
    void Appeared(const Sim::Node& node) {
        if (!Sim::SameName(path_, programs_ + "\\") &&
            !Sim::SameName(path_, commonPrograms_ + "\\") &&
            !Sim::SameName(programs_.substr(0, path_.size()), path_) &&
            !Sim::SameName(commonPrograms_.substr(0, path_.size()), path_))
            faults_->push_back("a file appeared: " + path_);
        for (auto& child : node.children) {
            size_t length = Enter(*child.second);
            Appeared(*child.second);
            path_.resize(length);
        }
    }

    std::string programs_, commonPrograms_;
    std::vector<std::string> groups_;
    std::vector<std::string>* faults_;
    std::string path_;
};

} // namespace

Snapshot Take() {
    return Snapshot{Sim::Copy(Sim::Current())};
}

std::vector<std::string> Check(const Snapshot& before, const Sim::Machine& after) {
    std::vector<std::string> faults;
    const Sim::Machine& was = *before.machine;

    RegistryWalk(before, &faults).Both(*was.machineRoot, *after.machineRoot);

    for (auto& service : was.services) {
        auto now = after.services.find(service.first);
        bool same = now != after.services.end() && now->second.state == service.second.state &&
                    now->second.deletePending == service.second.deletePending;
        if (!same && !IsProductService(service.first))
            faults.push_back("a foreign service changed: " + service.first);
    }
    for (auto& service : after.services) {
        if (was.services.count(service.first) == 0)
            faults.push_back("a service appeared: " + service.first);
    }

    for (auto& d : was.devices) {
        bool kept = false;
        for (auto& now : after.devices)
            kept = kept || Sim::SameName(now.instanceId, d.instanceId);
        if (kept || IsProductDevice(d))
            continue;
        std::string ids;
        for (BYTE b : d.hardwareIds)
            ids += b >= 0x20 && b < 0x7F ? std::string(1, (char)b) : "\\x" + std::to_string(b);
        faults.push_back("a device that is not the product's went: " + d.instanceId + " " + ids);
    }

    FileWalk(before, &faults).Both(was.fileRoot, after.fileRoot);
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
