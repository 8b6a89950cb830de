// What is left of the product on a machine, whether a second run of the
// uninstaller would change anything, and whether the machine is sound: no
// filter of a setup class or of a device names a service that Windows cannot
// load.
#include "judge.h"
#include "product.h"

#include "../catalogue/catalogue.h"
#include "../platform/pending_renames.h"
#include "../platform/sim/machine.h"
#include "../platform/strings.h"
#include "../platform/windows_keys.h"
#include "../simulated/load.h"
#include "../uninstall/uninstall.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace Check {

namespace {

using Description::Change;
using Description::ChangeKind;
using Description::IsValueChange;
using Description::Machine;

using Description::FindKey;
using Description::FindValue;
using Description::ListNames;

bool InList(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& entry) { return SameText(entry, name); });
}

void Add(Verdict* verdict, Reason reason, const std::string& where, const std::string& detail,
         int status) {
    verdict->findings.push_back({reason, where, detail, status});
}

// The product's file names and where they lie below its folder.
std::vector<std::string> ProductFiles() {
    std::vector<std::string> files;
    for (const char* list : {MainFileList, ExtraFileList, SupportFileList}) {
        for (const std::string& name : ListNames(list))
            files.push_back(std::string(Description::PRODUCT_PREFIX) + "\\" + name);
    }
    for (const std::string& name : ListNames(DriverFileList))
        files.push_back(std::string(Description::PRODUCT_PREFIX) + "\\drivers\\" + name);
    return files;
}

// What a run rewrites on any machine, the product's or not: the logon type,
// TermService's configuration, and a list value written back with the
// entries it had (the product's names were already out of it). The restart
// it asks for changes nothing a description holds.
bool EveryRunRewrites(const Change& change) {
    std::string termService = "HKLM\\" KEY_TERMSERVICE;
    if ((IsValueChange(change.kind) && SameText(change.what, "HKLM\\" KEY_WINLOGON) &&
         SameText(change.value, "LogonType")) ||
        SameText(change.what, SERVICE_TERMSERVICE) || Description::InTree(change.what, termService))
        return true;
    return change.kind == ChangeKind::ValueChanged && change.valueAfter->type == REG_MULTI_SZ &&
           AnsiEntries(change.valueBefore->data) == AnsiEntries(change.valueAfter->data);
}

// What a second run would change, each change told once by the finding
// that names it.
struct SecondRun {
    std::vector<Change> changes;
    // Where each change is: a queued path without its "\\??\\".
    std::vector<std::string> places;
    std::vector<bool> told;
};

// The uninstaller's own steps on the simulated Windows loaded with what was
// read, without the preview's watching between steps: what a second run
// would change here, less what every run rewrites.
SecondRun RunAgain(const Machine& machine) {
    Sim::ExchangeGuard saved;
    Sim::Load(machine);
    Sim::Current().journalOn = false;
    Machine before = Description::Describe(machine.productFolder);
    RunUninstall();
    Machine after = Description::Describe(machine.productFolder);
    SecondRun run;
    for (const Change& change : Description::Changes(before, after)) {
        if (EveryRunRewrites(change))
            continue;
        const std::string& place = change.what;
        run.places.push_back(PendingRenames::Win32Path(place));
        run.changes.push_back(change);
    }
    run.told.assign(run.changes.size(), false);
    return run;
}

// Something of the product a second run may change: a key, service,
// device or file as the changes name them, a path queued for deletion, or
// one value of a key.
struct Place {
    std::string what;
    std::string value = ""; // a value's name; "" for the key and all below it
};

// Whether the second run changes one of `places`, or something below it;
// those changes are told.
bool Removes(SecondRun* run, const std::vector<Place>& places) {
    bool found = false;
    for (const Place& place : places) {
        for (size_t i = 0; i < run->changes.size(); ++i) {
            const Change& change = run->changes[i];
            bool changed = place.value.empty()
                               ? Description::InTree(run->places[i], place.what)
                               : IsValueChange(change.kind) && SameText(change.what, place.what) &&
                                     SameText(change.value, place.value);
            if (changed) {
                run->told[i] = true;
                found = true;
            }
        }
    }
    return found;
}

// Something of the product still there: left over when a second run
// changes it, else a note with what does remove it.
void Left(Verdict* verdict, SecondRun* run, Reason reason, const std::string& where,
          const std::vector<Place>& whats, const std::string& detail, const std::string& remedy) {
    if (Removes(run, whats))
        Add(verdict, reason, where, detail + ": run the uninstaller again", LEFTOVER);
    else
        Add(verdict, reason, where, detail + ", and a second run does not change it: " + remedy,
            CLEAN);
}

// A service whose key says it goes at the restart (the product's and
// TermService's keys are read whole).
bool Marked(const Machine& machine, const std::string& name) {
    std::string path = std::string("HKLM\\") + Description::SERVICES_KEY + name;
    const Description::Value* flag = FindValue(FindKey(machine, path), "DeleteFlag");
    return flag != nullptr && flag->data.size() == 4 && flag->data[0] != 0;
}

void Services(const Machine& machine, SecondRun* run, Verdict* verdict) {
    for (const std::string& name : ListNames(ServiceList)) {
        bool exists =
            InList(machine.serviceKeys, name) ||
            std::any_of(machine.services.begin(), machine.services.end(),
                        [&](const Description::Service& s) { return SameText(s.name, name); });
        if (!exists)
            continue;
        std::string path = std::string("HKLM\\") + Description::SERVICES_KEY + name;
        if (Marked(machine, name))
            Add(verdict, Reason::ServiceMarked, path, "marked for deletion: it goes at the restart",
                RESTART);
        else
            Left(verdict, run, Reason::ServiceLeft, path, {{path}, {name}}, "still installed",
                 "delete it by hand (sc delete " + name + "), then restart");
    }
}

void Devices(const Machine& machine, SecondRun* run, Verdict* verdict) {
    for (const Description::Device& device : machine.devices) {
        bool longIds = false;
        if (!IsProductDevice(device, &longIds)) {
            if (longIds && device.present)
                Add(verdict, Reason::DeviceLongIds, device.instanceId,
                    "present; its first hardware ID is the product's but its IDs are longer "
                    "than the uninstaller reads, so it leaves it: remove it in Device Manager",
                    CLEAN);
            continue;
        }
        if (device.present)
            Left(verdict, run, Reason::DeviceLeft, device.instanceId, {{device.instanceId}},
                 "present", "remove it in Device Manager");
        else
            Add(verdict, Reason::DeviceNotPresentLeft, device.instanceId,
                "not present: the uninstaller leaves devices that are not present; uninstall "
                "the hidden device in Device Manager (View, Show hidden devices)",
                CLEAN);
    }
}

// The next boot as Windows runs it, and the product's names the uninstaller
// takes out of the upper filters of the classes it cleans: a second run does.
void Filters(const Machine& machine, SecondRun* run, Verdict* verdict) {
    for (const Finding& finding : JudgeBoot(machine))
        verdict->findings.push_back(finding);
    std::vector<std::string> cleaned = ListNames(ClassFilterGuids);
    std::string classes = std::string("HKLM\\") + Description::CLASS_KEY + "\\";
    for (const Description::Key& key : machine.registry) {
        if (Upper(key.path).rfind(Upper(classes), 0) != 0)
            continue;
        std::string guid = key.path.substr(classes.size());
        const Description::Value* value = FindValue(&key, "UpperFilters");
        if (value == nullptr || guid.size() != Description::GUID_TEXT_SIZE ||
            !InList(cleaned, guid.substr(1, 36)))
            continue;
        for (const std::string& name : AnsiEntries(value->data)) {
            if (IsProductService(name))
                Left(verdict, run, Reason::ClassFilterLeft, key.path + " : UpperFilters",
                     {{key.path, "UpperFilters"}}, "still names " + name,
                     "take the name out of the value by hand");
        }
    }
}

void Registry(const Machine& machine, SecondRun* run, Verdict* verdict) {
    for (const std::string& path : Description::DeletedTrees()) {
        const Description::Key* key = FindKey(machine, path);
        std::string refusing = UndeletableKey(machine, path);
        // No run deletes it until a person gives the rights: not a reason to
        // run again, and not done either. What a second run would still
        // change below it is told by this finding.
        if (key != nullptr && !refusing.empty()) {
            Removes(run, {{path}});
            Add(verdict, Reason::TreeUndeletable, path,
                "still there: the security of " + refusing +
                    " refuses this administrator the rights the uninstaller deletes a key with, "
                    "so every run leaves it; " +
                    TAKE_OWNERSHIP + ", then run the uninstaller again",
                NOT_ALLOWED);
        } else if (key != nullptr && key->readable)
            Left(verdict, run, Reason::TreeLeft, path, {{path}}, "still there",
                 "delete the key by hand");
        else if (key != nullptr)
            Add(verdict, Reason::TreeUnreadable, path, "still there, and it cannot be read",
                NOT_ALLOWED);
    }
    std::string order = Description::GROUP_ORDER_KEY;
    const Description::Value* list = FindValue(FindKey(machine, order), "List");
    if (list != nullptr) {
        for (const std::string& name : AnsiEntries(list->data)) {
            if (SameText(name, GROUP_ORDER_TERMSERVICE) || SameText(name, GROUP_ORDER_MULTIUSER))
                Left(verdict, run, Reason::GroupOrderLeft, order + " : List", {{order, "List"}},
                     "still names " + name, "take the name out of the list by hand");
        }
    }
}

// The product's files already queued for deletion at the restart, as
// the description names them ("%PRODUCT%\\..."), upper-cased; each is a
// finding.
std::set<std::string> Queued(const Machine& machine, const std::vector<std::string>& product,
                             Verdict* verdict) {
    std::set<std::string> queued;
    // As Windows records a path: either separator taken as a backslash, the
    // folder without its ending one, a share as "UNC\\server\\share".
    auto plain = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    };
    std::string folder = Upper(plain(machine.productFolder));
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    for (const PendingRenames::Rename& rename : PendingRenames::Renames(machine.pending)) {
        std::string source = PendingRenames::Win32Path(rename.source);
        if (Upper(source).rfind("UNC\\", 0) == 0)
            source = "\\" + source.substr(3);
        source = plain(source);
        if (!rename.target.empty() || Upper(source).rfind(folder + "\\", 0) != 0)
            continue;
        std::string described = Description::PRODUCT_PREFIX + source.substr(folder.size());
        queued.insert(Upper(described));
        if (InList(product, described))
            Add(verdict, Reason::PendingDeletion, source, "deleted at the restart", RESTART);
    }
    return queued;
}

// A shortcut or group of the Start menu, `shown` as the report names it.
void MenuFile(const Machine& machine, const Description::File& file, const std::string& shown,
              SecondRun* run, Verdict* verdict) {
    std::string name = Upper(file.path);
    if (!file.directory && name.size() > 4 && name.substr(name.size() - 4) == ".LNK")
        Left(verdict, run, Reason::ShortcutLeft, shown, {{file.path}}, "still in the Start menu",
             "delete it by hand");
    else if (file.directory && file.path.find('\\') == file.path.rfind('\\')) {
        // The uninstaller deletes the group's shortcuts alone: a group
        // that holds anything else it leaves, however often it runs.
        std::string below = Upper(file.path) + "\\";
        bool kept = std::any_of(machine.files.begin(), machine.files.end(),
                                [&](const Description::File& f) {
                                    std::string other = Upper(f.path);
                                    return other.rfind(below, 0) == 0 &&
                                           (f.directory || other.size() < 4 ||
                                            other.compare(other.size() - 4, 4, ".LNK") != 0);
                                });
        if (kept)
            Add(verdict, Reason::MenuGroupKept, shown,
                "left: it holds files that are not shortcuts, which the uninstaller "
                "never deletes; delete the folder by hand if they are not wanted",
                CLEAN);
        else
            Left(verdict, run, Reason::MenuGroupLeft, shown, {{file.path}},
                 "the group's folder is still there", "delete the folder by hand");
    }
}

// The product's files a second run does not queue: a note naming them.
void Stranded(const Machine& machine, const std::vector<std::string>& stranded, Verdict* verdict) {
    // A second run queues the files in the folder "DzPath" names, and
    // the first run deleted that value (or the uninstaller refuses it).
    std::string control = std::string("HKLM\\") + PRODUCT_CONTROL_KEY;
    bool named = FindValue(FindKey(machine, control), PRODUCT_FOLDER_VALUE) != nullptr;
    bool refused = !UndeletableKey(machine, control).empty();
    std::string value = std::string("\"") + PRODUCT_FOLDER_VALUE + "\"";
    std::string names;
    for (const std::string& name : stranded)
        names += (names.empty() ? "" : ", ") + name;
    Add(verdict, Reason::FilesStranded, machine.productFolder,
        std::to_string(stranded.size()) + " of the product's files " +
            (stranded.size() == 1 ? "is" : "are") +
            " still there and not queued for deletion, and a second run does not queue them (" +
            (refused
                 ? "the key that holds " + value + " refuses the uninstaller: see its registry tree"
             : named ? "the uninstaller refuses the folder " + value + " names"
                     : value + ", the value that names their folder, is gone") +
            "): " + names + ". Delete them by hand, and the folder with them when it holds " +
            "nothing else.",
        CLEAN);
}

// The product's folder: where it was looked for, and whether it is left.
void ProductFolderNotes(const Machine& machine, bool others, bool stranded, Verdict* verdict) {
    if (Description::ProductFolder(machine).empty())
        Add(verdict, Reason::FolderLookedIn, machine.productFolder,
            "looked for the product's files here: its folder's value is gone (the uninstaller "
            "deletes it); for a product installed elsewhere, give --folder DIR",
            CLEAN);
    bool folderThere =
        std::any_of(machine.files.begin(), machine.files.end(), [](const Description::File& f) {
            return f.path == Description::PRODUCT_PREFIX;
        });
    if (folderThere)
        Add(verdict, Reason::FolderLeft, machine.productFolder,
            others      ? "left: it holds files that are not the product's"
            : !stranded ? "left by design (emptied at the restart)"
                        : "left: it holds the product's files named above",
            CLEAN);
}

void Files(const Machine& machine, SecondRun* run, Verdict* verdict) {
    std::vector<std::string> product = ProductFiles();
    std::set<std::string> queued = Queued(machine, product, verdict);
    bool others = false;
    std::vector<std::string> stranded; // left, and a second run does not queue them
    for (const Description::File& file : machine.files) {
        // A product file's path below its folder, and as the report shows it.
        const size_t prefix = sizeof Description::PRODUCT_PREFIX - 1;
        bool menu = file.path.rfind(Description::PRODUCT_PREFIX, 0) != 0;
        std::string shown = menu ? file.path : machine.productFolder + file.path.substr(prefix);
        if (menu) {
            MenuFile(machine, file, shown, run, verdict);
            continue;
        }
        if (file.directory)
            continue;
        if (!InList(product, file.path)) {
            others = true;
            continue;
        }
        if (queued.count(Upper(file.path)) != 0)
            continue;
        if (Removes(run, {{shown}, {file.path}}))
            Add(verdict, Reason::FileLeft, shown,
                "still there and not queued for deletion: run the uninstaller again", LEFTOVER);
        else
            stranded.push_back(file.path.substr(prefix + 1));
    }
    if (!stranded.empty())
        Stranded(machine, stranded, verdict);
    ProductFolderNotes(machine, others, !stranded.empty(), verdict);
}

} // namespace

Verdict Verify(const Machine& machine) {
    Verdict verdict;
    SecondRun run = RunAgain(machine);
    Filters(machine, &run, &verdict);
    Services(machine, &run, &verdict);
    Devices(machine, &run, &verdict);
    Registry(machine, &run, &verdict);
    Files(machine, &run, &verdict);
    // What a second run changes that no finding above names.
    for (size_t i = 0; i < run.changes.size(); ++i) {
        const Change& change = run.changes[i];
        if (run.told[i])
            continue;
        std::string was = Description::BeforeText(change), is = Description::AfterText(change);
        Add(&verdict, Reason::SecondRun, Description::PlaceText(change),
            std::string("a second run of the uninstaller would make this change (") +
                Description::KindName(change.kind) +
                (was.empty() && is.empty() ? "" : ": " + was + " -> " + is) + "): run it again",
            LEFTOVER);
    }
    for (const Finding& finding : verdict.findings)
        verdict.status = MoreUrgent(verdict.status, finding.status);
    return verdict;
}

std::string Detect(const Machine& machine) {
    for (const Finding& finding : Verify(machine).findings) {
        if (finding.status == LEFTOVER)
            return std::string(
                       "Tallowin is installed: the uninstaller would change this machine (") +
                   finding.kind() + ": " + finding.where + ")";
    }
    return "";
}

void AddFinding(Verdict* verdict, const Finding& finding) {
    verdict->findings.push_back(finding);
    verdict->status = MoreUrgent(verdict->status, finding.status);
}

} // namespace Check
