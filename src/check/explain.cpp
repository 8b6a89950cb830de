// A preview run read back as the administrator needs it: each step's
// actions, from what the step changed and what its calls returned, and what
// the run would leave and why.
#include "explain.h"
#include "judge.h"
#include "product.h"

#include "../catalogue/catalogue.h"
#include "../platform/strings.h"
#include "../registry/text.h"
#include "../steps/steps.h"
#include "../uninstall/uninstall.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace Check {

using Description::Change;
using Description::ChangeKind;
using Description::Machine;
using Description::ShortText;

namespace {

// The step whose procedure is `run`.
int StepOf(void (*run)()) {
    for (int step = 0; step < UNINSTALL_STEP_COUNT; ++step) {
        if (UNINSTALL_STEPS[step].run == run)
            return step;
    }
    return -1;
}

// A failed call's result as the report shows it: "(5)".
std::string ErrorText(const Sim::Outcome& outcome) {
    return "(" + std::to_string(outcome.error) + ")";
}

// A removed key is shown once, at the top of its removed tree, with its size.
std::string RemovedTree(const Machine& machine, const std::string& path) {
    int keys = 0, values = 0;
    for (const Description::Key& key : machine.registry) {
        if (Description::InTree(key.path, path)) {
            ++keys;
            values += (int)key.values.size();
        }
    }
    return "delete key " + path + " (" + std::to_string(keys) + (keys == 1 ? " key, " : " keys, ") +
           std::to_string(values) + (values == 1 ? " value)" : " values)");
}

std::string Joined(const std::vector<std::string>& entries) {
    std::string out;
    for (const std::string& entry : entries)
        out += (out.empty() ? "\"" : ", \"") + entry + "\"";
    return out;
}

std::string ChangeLine(const Change& change) {
    std::vector<std::string> was, is;
    std::string place = Description::PlaceText(change);
    if (change.kind == ChangeKind::ValueChanged &&
        Description::ListEntries(*change.valueBefore, &was) &&
        Description::ListEntries(*change.valueAfter, &is)) {
        std::vector<std::string> removed, added;
        for (const std::string& entry : was)
            if (std::find(is.begin(), is.end(), entry) == is.end())
                removed.push_back(entry);
        for (const std::string& entry : is)
            if (std::find(was.begin(), was.end(), entry) == was.end())
                added.push_back(entry);
        std::string line = "in " + place + ":";
        if (!removed.empty())
            line += " remove " + Joined(removed);
        if (!added.empty())
            line += " add " + Joined(added);
        if (removed.empty() && added.empty())
            line += " entries reordered or ended anew";
        return line + " (" + std::to_string(is.size()) + (is.size() == 1 ? " entry" : " entries") +
               " left)";
    }
    if (change.kind == ChangeKind::ValueChanged)
        return "set " + place + ": " + ShortText(*change.valueBefore) + " -> " +
               ShortText(*change.valueAfter);
    if (change.kind == ChangeKind::ValueAdded)
        return "add " + place + " = " + ShortText(*change.valueAfter);
    if (change.kind == ChangeKind::ValueRemoved)
        return "delete " + place + " (was " + ShortText(*change.valueBefore) + ")";
    if (change.kind == ChangeKind::PendingAdded)
        return "queue " + change.what;
    std::string line = Description::KindName(change.kind) + (" " + place);
    if (!change.before.empty() || !change.after.empty())
        line += " (" + (change.before.empty() ? "" : change.before) +
                (change.after.empty() ? "" : " -> " + change.after) + ")";
    return line;
}

void Note(Preview* preview, Reason reason, const std::string& where, const std::string& detail,
          int status = CLEAN, const Finding::Parts& parts = {}) {
    preview->notDone.push_back({reason, where, detail, status, parts});
    preview->status = MoreUrgent(preview->status, status);
}

// Why the server at `path` did not load, from what was read of it and the
// error the load ended with.
std::string WhyNotLoaded(const Machine& machine, const std::string& path, DWORD error) {
    std::string name =
        Description::PRODUCT_PREFIX + ("\\" + path.substr(path.find_last_of("\\/") + 1));
    for (const Description::File& file : machine.files) {
        if (file.directory || !SameText(file.path, name))
            continue;
        std::string missing;
        for (const Description::Import& import : file.imports) {
            if (!import.found)
                missing += (missing.empty() ? "" : ", ") + import.name;
        }
        if (!missing.empty())
            return "it imports " + missing +
                   ", found neither beside it nor in the system or Windows folder";
        if (file.library == Description::Library::None)
            return "it is no library image";
        return "loading fails (" + std::to_string(error) + ")";
    }
    return "it is not there";
}

} // namespace

namespace {

// A step's actions from what its calls returned; the services whose
// deletion the run asked and got are added to `deleted`.
void TellOutcomes(const Machine& machine, const StepRecord& record, const Machine& after,
                  std::set<std::string>* deletedServices, Preview* preview, Step* step) {
    auto add = [&](const std::string& line) { step->actions.push_back(line); };
    std::set<std::string>& deleted = *deletedServices;
    // What the step's calls returned.
    std::map<std::string, std::vector<std::string>> serviceActions;
    std::vector<std::string> serviceOrder;
    for (const Sim::Outcome& outcome : record.outcomes) {
        bool ok = outcome.error == 0;
        const std::string& subject = outcome.subject;
        switch (outcome.call) {
        case Sim::OutcomeCall::ControlService: {
            bool stop = outcome.number == SERVICE_CONTROL_STOP;
            std::string code = std::to_string(outcome.number);
            if (ok)
                serviceActions[subject].push_back(stop ? "stop"
                                                  : outcome.number == CONTROL_PREPARE_REMOVAL
                                                      ? "told to prepare for removal (control " +
                                                            code + ")"
                                                      : "send control " + code);
            else if (stop && outcome.error != ERROR_SERVICE_NOT_ACTIVE) {
                serviceActions[subject].push_back("stop refused " + ErrorText(outcome));
                Note(preview, Reason::ServiceNotStopped, subject,
                     "it does not take a stop control now: it is deleted at the restart");
            } else if (!stop) {
                serviceActions[subject].push_back("control " + code + " not taken " +
                                                  ErrorText(outcome));
            }
            serviceOrder.push_back(subject);
            break;
        }
        case Sim::OutcomeCall::DeleteService:
            if (ok)
                deleted.insert(Upper(subject));
            serviceActions[subject].push_back(ok ? "delete" : "delete fails " + ErrorText(outcome));
            serviceOrder.push_back(subject);
            break;
        case Sim::OutcomeCall::ChangeServiceConfig:
            add(std::string("TermService configuration ") +
                (ok ? "rewritten" : "not rewritten: FALSE " + ErrorText(outcome)));
            break;
        case Sim::OutcomeCall::LoadLibrary:
            if (!ok) {
                std::string why = WhyNotLoaded(machine, subject, outcome.error);
                add(subject + " not loaded: " + why + "; it is not asked to unregister");
                Note(preview, Reason::ServerNotUnregistered, subject, why);
            }
            break;
        case Sim::OutcomeCall::GetProcAddress:
            if (!ok)
                add(subject + " exports no DllUnregisterServer: loaded and freed only");
            break;
        case Sim::OutcomeCall::CallClassInstaller:
            if (!ok)
                add("removing device " + subject + " fails " + ErrorText(outcome));
            break;
        case Sim::OutcomeCall::ExitWindows:
            add(ok ? "restart Windows" : "restart refused: FALSE " + ErrorText(outcome));
            break;
        case Sim::OutcomeCall::DeleteFile:
            if (!ok)
                add("deleting " + subject + " fails: FALSE " + ErrorText(outcome));
            break;
        }
    }
    std::set<std::string> shown;
    for (const std::string& name : serviceOrder) {
        if (!shown.insert(Upper(name)).second)
            continue;
        std::string line = name + ":";
        for (const std::string& action : serviceActions[name])
            line += (line.back() == ':' ? " " : ", ") + action;
        for (const Description::Service& service : after.services) {
            if (SameText(service.name, name) && deleted.count(Upper(name)) != 0)
                line += " (marked for deletion: it goes at the restart)";
        }
        add(line);
    }
}

// A step's actions from what it changed; the services step's own changes
// are told from what the run asked (TellOutcomes).
void TellChanges(const Machine& machine, const StepRecord& record, bool servicesStep, Step* step) {
    auto add = [&](const std::string& line) { step->actions.push_back(line); };
    // What the step changed.
    std::set<std::string> removedKeys;
    for (const Change& change : record.changes) {
        if (change.kind == ChangeKind::KeyRemoved)
            removedKeys.insert(Upper(change.what));
    }
    for (const Change& change : record.changes) {
        // The services' own changes are told from what the run asked.
        if (servicesStep &&
            (Description::IsServiceChange(change.kind) || change.kind == ChangeKind::KeyRemoved ||
             (change.kind == ChangeKind::ValueAdded && SameText(change.value, "DeleteFlag"))))
            continue;
        if (change.kind == ChangeKind::ServerUnregistered) {
            add("load " + change.what + " and call its DllUnregisterServer");
            continue;
        }
        if (change.kind == ChangeKind::KeyRemoved) {
            std::string parent = change.what.substr(0, change.what.rfind('\\'));
            if (removedKeys.count(Upper(parent)) == 0)
                add(RemovedTree(machine, change.what));
            continue;
        }
        add(ChangeLine(change));
    }
}

// The product's folder as the uninstaller would take it.
void FolderNotes(const Machine& machine, Preview* preview) {
    std::string control = std::string("HKLM\\") + PRODUCT_CONTROL_KEY;
    bool hasFolderValue = false;
    for (const Description::Key& key : machine.registry) {
        for (const Description::Value& value : key.values)
            hasFolderValue = hasFolderValue || (SameText(key.path, control) &&
                                                SameText(value.name, PRODUCT_FOLDER_VALUE));
    }
    if (hasFolderValue && Description::ProductFolder(machine).empty())
        Note(preview, Reason::FolderRefused, control + " : " + PRODUCT_FOLDER_VALUE,
             "not an absolute folder the uninstaller accepts: no server is unregistered and no "
             "file is queued for deletion");

    std::string folder = Description::ProductFolder(machine);
    if (folder.size() > 2 && IsSeparator(folder[0]) && IsSeparator(folder[1]))
        Note(preview, Reason::FolderOnShare, control + " : " + PRODUCT_FOLDER_VALUE,
             "the simulated Windows has no network: the servers the uninstaller would ask to "
             "unregister in " +
                 folder + " are not shown (the files it queues there are)");
}

// The product's devices the run leaves, and the filters of the devices it keeps.
void DeviceNotes(const Machine& machine, const Machine& after, const std::set<std::string>& deleted,
                 Preview* preview) {
    std::set<std::string, Strings::NoCase> kept;
    for (const Description::Device& device : after.devices)
        kept.insert(device.instanceId);
    for (const Description::Device& device : machine.devices) {
        bool longIds = false;
        if (!device.present && IsProductDevice(device))
            Note(preview, Reason::DeviceNotRemoved, device.instanceId,
                 "not present: the uninstaller removes present devices only");
        if (device.present && !IsProductDevice(device, &longIds) && longIds)
            Note(preview, Reason::DeviceNotRemoved, device.instanceId,
                 "its first hardware ID is the product's, but its IDs are longer than the " +
                     std::to_string(HARDWARE_ID_LIST_BYTES) +
                     " bytes the uninstaller reads: remove it in Device Manager");
        // A device the run removes takes its own filters with it.
        if (kept.count(device.instanceId) == 0)
            continue;
        const std::pair<const char*, const std::vector<BYTE>*> lists[] = {
            {"UpperFilters", &device.upperFilters}, {"LowerFilters", &device.lowerFilters}};
        for (auto& list : lists) {
            for (const std::string& name : WideEntries(*list.second)) {
                // One the run deletes stops the device: the judge of the next boot tells it.
                if (IsProductService(name) && deleted.count(Upper(name)) == 0)
                    Note(preview, Reason::DeviceFilterLeftByRun,
                         device.instanceId + " : " + list.first,
                         "names " + name + "; the uninstaller does not edit device filters");
            }
        }
    }
}

void ClassFilterNotes(const Machine& after, const std::set<std::string>& deleted,
                      Preview* preview) {
    // Filters left in class keys after the run (the uninstaller cleans the
    // upper filters of six classes), which name a service it keeps.
    std::string classes = std::string("HKLM\\") + Description::CLASS_KEY + "\\";
    for (const Description::Key& key : after.registry) {
        if (Upper(key.path).rfind(Upper(classes), 0) != 0)
            continue;
        for (const Description::Value& value : key.values) {
            if (!SameText(value.name, "UpperFilters") && !SameText(value.name, "LowerFilters"))
                continue;
            for (const std::string& name : AnsiEntries(value.data)) {
                if (IsProductService(name) && deleted.count(Upper(name)) == 0)
                    Note(preview, Reason::ClassFilterLeftByRun, key.path + " : " + value.name,
                         "names " + name);
            }
        }
    }
}

void KeyNotes(const Machine& machine, Preview* preview) {
    std::string control = std::string("HKLM\\") + PRODUCT_CONTROL_KEY;
    // A class key the run edits but may not write: the run's edit fails and
    // the names it would have taken out stay.
    for (const Description::Key& key : machine.registry) {
        if (!key.writable)
            Note(preview, Reason::KeyNotWritable, key.path,
                 "its security refuses this administrator the right to set its values: the "
                 "uninstaller cannot take the product's names out of its filters; grant "
                 "Administrators Full Control of the key (regedt32, Permissions) first");
    }

    for (const std::string& tree : Description::DeletedTrees()) {
        std::string refusing = UndeletableKey(machine, tree);
        // The uninstaller reads "DzPath" through a key opened with the same
        // rights: where its key refuses them it finds no folder to work in.
        bool folderKey = SameText(refusing, control);
        if (!refusing.empty())
            Note(preview, Reason::KeyNotDeletable, tree,
                 "the security of " + refusing +
                     " refuses this administrator the rights the uninstaller deletes a key "
                     "with, so the run leaves the tree" +
                     (folderKey ? " and cannot read \"" + std::string(PRODUCT_FOLDER_VALUE) +
                                      "\" there: no server is unregistered and no file is "
                                      "queued for deletion"
                                : "") +
                     "; " + TAKE_OWNERSHIP + " first");
    }
}

void BootNotes(const Machine& after, Preview* preview) {
    // The boot after the run, as Windows would make it.
    // A finding that says when it happens itself is told as it stands.
    for (const Finding& finding : JudgeBoot(after)) {
        if (finding.status == UNSAFE || finding.status == NOT_ALLOWED ||
            finding.reason == Reason::LastKnownGood ||
            finding.reason == Reason::ServiceWillNotStart)
            Note(preview, finding.reason, finding.where,
                 finding.status == CLEAN || finding.reason == Reason::DeviceWithoutDriver
                     ? finding.detail
                     : "after the run: " + finding.detail,
                 finding.status, finding.parts);
    }
}

void UnreadableNameNotes(const std::vector<StepRecord>& record, Preview* preview) {
    // The machine is read through the ANSI functions, which show a character
    // the code page cannot carry as '?'; the run itself edits these lists in
    // UTF-16 and keeps such a name as Windows stored it.
    for (int step : {StepOf(CleanServiceGroupOrder), StepOf(CleanClassFilters)}) {
        if (step < 0 || step >= (int)record.size())
            continue;
        for (const Change& change : record[step].changes) {
            if (change.kind == ChangeKind::ValueChanged &&
                Description::BeforeText(change).find('?') != std::string::npos)
                Note(preview, Reason::ListWithUnreadableName, Description::PlaceText(change),
                     "an entry holds '?', which is how this reading shows a character the code "
                     "page cannot carry; the uninstaller keeps that name as it is");
        }
    }
}

} // namespace

void Explain(const Machine& machine, const std::vector<StepRecord>& record, const Machine& after,
             Preview* preview) {
    const int services = StepOf(RemoveServices);
    const int restart = UNINSTALL_STEP_COUNT - 1;
    preview->steps.clear();
    for (int step = 0; step < UNINSTALL_STEP_COUNT; ++step)
        preview->steps.push_back({UNINSTALL_STEPS[step].name, {}});

    std::set<std::string> deleted; // the services whose deletion the run asked and got
    for (size_t step = 0; step < record.size(); ++step) {
        TellOutcomes(machine, record[step], after, &deleted, preview, &preview->steps[step]);
        TellChanges(machine, record[step], (int)step == services, &preview->steps[step]);
    }
    if (preview->result == 0 && preview->steps[restart].actions.empty())
        preview->steps[restart].actions.push_back("no restart: the run ends early");

    // What the run leaves, and why.
    FolderNotes(machine, preview);
    DeviceNotes(machine, after, deleted, preview);
    ClassFilterNotes(after, deleted, preview);
    KeyNotes(machine, preview);
    BootNotes(after, preview);
    UnreadableNameNotes(record, preview);
}

} // namespace Check
