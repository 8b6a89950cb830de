// What is left of the product on a machine, and whether the machine is
// sound: no filter of a setup class or of a device names a service that
// Windows cannot load.
#include "explain.h"
#include "judge.h"

#include "../catalogue/catalogue.h"
#include "../platform/strings.h"
#include "../platform/windows_keys.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace Check {

namespace {

using Description::Machine;

using Description::FindKey;
using Description::FindValue;
using Description::ListNames;

bool InList(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& entry) { return SameText(entry, name); });
}

void Add(Verdict* verdict, const std::string& kind, const std::string& where,
         const std::string& detail, int status) {
    verdict->findings.push_back({kind, where, detail, status});
}

// The more urgent status wins: unsafe, unreadable, left, waiting for the restart.
int Worst(int a, int b) {
    const int order[] = {UNSAFE, NOT_ALLOWED, LEFTOVER, RESTART, CLEAN};
    for (int status : order) {
        if (a == status || b == status)
            return status;
    }
    return CLEAN;
}

// The product's file names and where they lie below its folder.
std::vector<std::string> ProductFiles() {
    std::vector<std::string> files;
    for (const char* list : {MainFileList, ExtraFileList, SupportFileList}) {
        for (const std::string& name : ListNames(list))
            files.push_back("%PRODUCT%\\" + name);
    }
    for (const std::string& name : ListNames(DriverFileList))
        files.push_back("%PRODUCT%\\drivers\\" + name);
    return files;
}

// A service whose key says it goes at the restart (the product's and
// TermService's keys are read whole).
bool Marked(const Machine& machine, const std::string& name) {
    std::string path = std::string("HKLM\\") + Description::SERVICES_KEY + name;
    const Description::Value* flag = FindValue(FindKey(machine, path), "DeleteFlag");
    return flag != nullptr && flag->data.size() == 4 && flag->data[0] != 0;
}

void Services(const Machine& machine, Verdict* verdict) {
    for (const std::string& name : ListNames(ServiceList)) {
        bool exists =
            InList(machine.serviceKeys, name) ||
            std::any_of(machine.services.begin(), machine.services.end(),
                        [&](const Description::Service& s) { return SameText(s.name, name); });
        if (!exists)
            continue;
        std::string path = std::string("HKLM\\") + Description::SERVICES_KEY + name;
        if (Marked(machine, name))
            Add(verdict, "service", path, "marked for deletion: it goes at the restart", RESTART);
        else
            Add(verdict, "service", path, "still installed", LEFTOVER);
    }
}

void Devices(const Machine& machine, Verdict* verdict) {
    for (const Description::Device& device : machine.devices) {
        bool longIds = false;
        if (!IsProductDevice(device, &longIds)) {
            if (longIds && device.present)
                Add(verdict, "device", device.instanceId,
                    "present; its first hardware ID is the product's but its IDs are longer "
                    "than the uninstaller reads, so it leaves it: remove it in Device Manager",
                    CLEAN);
            continue;
        }
        if (device.present)
            Add(verdict, "device", device.instanceId, "present", LEFTOVER);
        else
            Add(verdict, "device", device.instanceId,
                "not present: the uninstaller leaves devices that are not present", CLEAN);
    }
}

// The next boot as Windows runs it, and the product's names the uninstaller
// takes out of the upper filters of the classes it cleans: a second run does.
void Filters(const Machine& machine, Verdict* verdict) {
    for (const Finding& finding : JudgeBoot(machine))
        verdict->findings.push_back(finding);
    std::vector<std::string> cleaned = ListNames(ClassFilterGuids);
    std::string classes = std::string("HKLM\\") + Description::CLASS_KEY + "\\";
    for (const Description::Key& key : machine.registry) {
        if (Upper(key.path).rfind(Upper(classes), 0) != 0)
            continue;
        std::string guid = key.path.substr(classes.size());
        const Description::Value* value = FindValue(&key, "UpperFilters");
        if (value == nullptr || guid.size() != 38 || !InList(cleaned, guid.substr(1, 36)))
            continue;
        for (const std::string& name : AnsiEntries(value->data)) {
            if (IsProductService(name))
                Add(verdict, "class filter", key.path + " : UpperFilters", "still names " + name,
                    LEFTOVER);
        }
    }
}

void Registry(const Machine& machine, Verdict* verdict) {
    std::vector<std::string> trees = {std::string("HKLM\\") + PRODUCT_CONTROL_KEY,
                                      std::string("HKLM\\") + WINLOGON_NOTIFY_RYWINLOG,
                                      std::string("HKLM\\") + WINLOGON_NOTIFY_DZMUNOTIFY};
    for (const ShellRegistration& row : ShellRegistrationTable) {
        trees.push_back(std::string("HKCR\\" KEY_CLASS_IDS "\\") + row.ClassId);
        trees.push_back(std::string(Description::HANDLERS_KEY) + "\\" + row.HandlerName);
    }
    for (const std::string& path : trees) {
        if (const Description::Key* key = FindKey(machine, path))
            Add(verdict, "registry tree", path,
                key->readable ? "still there" : "still there, and it cannot be read",
                key->readable ? LEFTOVER : NOT_ALLOWED);
    }
    std::string order = Description::GROUP_ORDER_KEY;
    const Description::Value* list = FindValue(FindKey(machine, order), "List");
    if (list != nullptr) {
        for (const std::string& name : AnsiEntries(list->data)) {
            if (SameText(name, GROUP_ORDER_TERMSERVICE) || SameText(name, GROUP_ORDER_MULTIUSER))
                Add(verdict, "service group", order + " : List", "still names " + name, LEFTOVER);
        }
    }
}

void Files(const Machine& machine, Verdict* verdict) {
    // Files already queued for deletion at the restart.
    std::set<std::string> queued;
    std::vector<std::string> product = ProductFiles();
    std::vector<std::string> pending =
        Strings::SplitMultiString(machine.pending, Strings::KEEP_EMPTY | Strings::ENDED_ONLY);
    // As Windows records a path: either separator taken as a backslash, the
    // folder without its ending one, a share as "UNC\\server\\share".
    auto plain = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    };
    std::string folder = Upper(plain(machine.productFolder));
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    for (size_t i = 0; i + 1 < pending.size(); i += 2) {
        std::string source = pending[i].rfind("\\??\\", 0) == 0 ? pending[i].substr(4) : pending[i];
        if (Upper(source).rfind("UNC\\", 0) == 0)
            source = "\\" + source.substr(3);
        source = plain(source);
        if (!pending[i + 1].empty() || Upper(source).rfind(folder + "\\", 0) != 0)
            continue;
        std::string described = "%PRODUCT%" + source.substr(folder.size());
        queued.insert(Upper(described));
        if (InList(product, described))
            Add(verdict, "pending deletion", source, "deleted at the restart", RESTART);
    }
    bool others = false;
    for (const Description::File& file : machine.files) {
        bool menu = file.path.rfind("%PRODUCT%", 0) != 0;
        std::string shown = menu ? file.path : machine.productFolder + file.path.substr(9);
        if (menu) {
            std::string name = Upper(file.path);
            if (!file.directory && name.size() > 4 && name.substr(name.size() - 4) == ".LNK")
                Add(verdict, "shortcut", shown, "still in the Start menu", LEFTOVER);
            else if (file.directory && file.path.find('\\') == file.path.rfind('\\')) {
                // The uninstaller deletes the group's shortcuts alone: a group
                // that holds anything else it leaves, however often it runs.
                std::string below = Upper(file.path) + "\\";
                bool kept = std::any_of(
                    machine.files.begin(), machine.files.end(), [&](const Description::File& f) {
                        std::string other = Upper(f.path);
                        return other.rfind(below, 0) == 0 &&
                               (f.directory || other.size() < 4 ||
                                other.compare(other.size() - 4, 4, ".LNK") != 0);
                    });
                if (kept)
                    Add(verdict, "Start-menu group", shown,
                        "left: it holds files that are not shortcuts", CLEAN);
                else
                    Add(verdict, "Start-menu group", shown, "the group's folder is still there",
                        LEFTOVER);
            }
            continue;
        }
        if (file.directory)
            continue;
        if (!InList(product, file.path)) {
            others = true;
            continue;
        }
        if (queued.count(Upper(file.path)) == 0)
            Add(verdict, "file", shown, "still there and not queued for deletion", LEFTOVER);
    }
    if (Description::ProductFolder(machine).empty())
        Add(verdict, "product folder", machine.productFolder,
            "looked for the product's files here: its folder's value is gone (the uninstaller "
            "deletes it); for a product installed elsewhere, give --folder DIR",
            CLEAN);
    bool folderThere =
        std::any_of(machine.files.begin(), machine.files.end(),
                    [](const Description::File& f) { return f.path == "%PRODUCT%"; });
    if (folderThere)
        Add(verdict, "product folder", machine.productFolder,
            others ? "left: it holds files that are not the product's"
                   : "left by design (emptied at the restart)",
            CLEAN);
}

} // namespace

Verdict Verify(const Machine& machine) {
    Verdict verdict;
    Filters(machine, &verdict);
    Services(machine, &verdict);
    Devices(machine, &verdict);
    Registry(machine, &verdict);
    Files(machine, &verdict);
    for (const Finding& finding : verdict.findings)
        verdict.status = Worst(verdict.status, finding.status);
    return verdict;
}

std::string Detect(const Machine& machine) {
    for (const Finding& finding : Verify(machine).findings) {
        if (finding.status == LEFTOVER)
            return "Tallowin is installed (" + finding.kind + ": " + finding.where + ")";
    }
    return "";
}

} // namespace Check
