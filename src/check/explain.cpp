// A preview run read back as the administrator needs it: each step's
// actions, from the run's journal and from what changed, and what the run
// would leave and why.
#include "explain.h"

#include "../catalogue/catalogue.h"
#include "../registry/text.h"
#include "../steps/steps.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace Check {

using Description::Change;
using Description::Machine;

namespace {

const char* const STEPS[] = {"Start-menu groups",
                             "Terminal Services configuration",
                             "Devices",
                             "Services",
                             "COM servers",
                             "Files deleted at the restart",
                             "Service group order",
                             "Class filters",
                             "Registry trees",
                             "Logon type",
                             "Restart"};
enum StepIndex {
    MENU,
    TERMINAL,
    DEVICES,
    SERVICES,
    SERVERS,
    FILES,
    ORDER,
    FILTERS,
    TREES,
    LOGON,
    RESTART_STEP
};

bool Contains(const std::string& text, const std::string& part) {
    return Upper(text).find(Upper(part)) != std::string::npos;
}

// The journal's quoted texts of a line, in order (escapes kept as written).
std::vector<std::string> Quoted(const std::string& line) {
    std::vector<std::string> texts;
    size_t at = line.find(" -> ");
    std::string call = line.substr(0, at);
    for (size_t open = call.find('"'); open != std::string::npos;) {
        size_t close = call.find('"', open + 1);
        if (close == std::string::npos)
            break;
        texts.push_back(call.substr(open + 1, close - open - 1));
        open = call.find('"', close + 1);
    }
    return texts;
}

std::string Result(const std::string& line) {
    size_t at = line.rfind(" -> ");
    return at == std::string::npos ? "" : line.substr(at + 4);
}

bool Succeeded(const std::string& line) {
    std::string result = Result(line);
    return result.rfind("FALSE", 0) != 0 && result.rfind("NULL", 0) != 0 &&
           result.rfind("INVALID_HANDLE_VALUE", 0) != 0;
}

// The handle a call names first ("svc#2" in "ControlService(svc#2, 254)").
std::string FirstHandle(const std::string& line) {
    size_t open = line.find('(');
    size_t end = line.find_first_of(",)", open);
    return line.substr(open + 1, end - open - 1);
}

std::string Number(const std::string& line, int argument) {
    size_t at = line.find('(');
    for (int i = 0; i < argument; ++i)
        at = line.find(", ", at + 1) + 1;
    size_t end = line.find_first_of(",)", at + 1);
    std::string text = line.substr(at + 1, end - at - 1);
    return !text.empty() && text[0] == ' ' ? text.substr(1) : text;
}

int StepOf(const Change& change) {
    const std::string& what = change.what;
    if (change.kind.rfind("device", 0) == 0)
        return DEVICES;
    if (change.kind.rfind("service", 0) == 0)
        return change.what == "TermService" ? TERMINAL : SERVICES;
    if (change.kind.rfind("pending", 0) == 0)
        return FILES;
    if (change.kind.rfind("file", 0) == 0 || change.kind.rfind("folder", 0) == 0)
        return Contains(what, "PROGRAMS%") ? MENU : FILES;
    if (Contains(what, "\\Services\\TermService"))
        return TERMINAL;
    if (Contains(what, "\\Services\\"))
        return SERVICES;
    if (Contains(what, "\\ServiceGroupOrder"))
        return ORDER;
    if (Contains(what, "\\Control\\Class\\"))
        return FILTERS;
    if (Contains(what, "\\Winlogon :"))
        return LOGON;
    return TREES;
}

// A removed key is shown once, at the top of its removed tree, with its size.
std::string RemovedTree(const Machine& machine, const std::string& path) {
    int keys = 0, values = 0;
    for (const Description::Key& key : machine.registry) {
        if (Upper(key.path) == Upper(path) || Upper(key.path).rfind(Upper(path) + "\\", 0) == 0) {
            ++keys;
            values += (int)key.values.size();
        }
    }
    return "delete key " + path + " (" + std::to_string(keys) + (keys == 1 ? " key, " : " keys, ") +
           std::to_string(values) + (values == 1 ? " value)" : " values)");
}

// A list value's entries, when a change shows it as a well-formed list.
bool ListEntries(const std::string& text, std::vector<std::string>* entries) {
    const std::string prefix = "REG_MULTI_SZ ";
    if (text.rfind(prefix, 0) != 0)
        return false;
    nlohmann::json data = nlohmann::json::parse(text.substr(prefix.size()), nullptr, false);
    if (!data.is_object() || !data.contains("strings"))
        return false;
    *entries = data["strings"].get<std::vector<std::string>>();
    return true;
}

std::string Joined(const std::vector<std::string>& entries) {
    std::string out;
    for (const std::string& entry : entries)
        out += (out.empty() ? "\"" : ", \"") + entry + "\"";
    return out;
}

// A value as a change record shows it ("REG_SZ {\"text\":...}"), made short.
std::string Short(const std::string& text) {
    size_t space = text.find(' ');
    if (space == std::string::npos)
        return text;
    nlohmann::json data = nlohmann::json::parse(text.substr(space + 1), nullptr, false);
    if (!data.is_object())
        return text;
    if (data.contains("text"))
        return "\"" + data["text"].get<std::string>() + "\"";
    if (data.contains("dword"))
        return std::to_string(data["dword"].get<unsigned long>());
    if (data.contains("strings"))
        return "[" + Joined(data["strings"].get<std::vector<std::string>>()) + "]";
    return text;
}

std::string ChangeLine(const Change& change) {
    std::vector<std::string> was, is;
    if (change.kind == "value changed" && ListEntries(change.before, &was) &&
        ListEntries(change.after, &is)) {
        std::vector<std::string> removed, added;
        for (const std::string& entry : was)
            if (std::find(is.begin(), is.end(), entry) == is.end())
                removed.push_back(entry);
        for (const std::string& entry : is)
            if (std::find(was.begin(), was.end(), entry) == was.end())
                added.push_back(entry);
        std::string line = "in " + change.what + ":";
        if (!removed.empty())
            line += " remove " + Joined(removed);
        if (!added.empty())
            line += " add " + Joined(added);
        if (removed.empty() && added.empty())
            line += " entries reordered or ended anew";
        return line + " (" + std::to_string(is.size()) + (is.size() == 1 ? " entry" : " entries") +
               " left)";
    }
    if (change.kind == "value changed")
        return "set " + change.what + ": " + Short(change.before) + " -> " + Short(change.after);
    if (change.kind == "value added")
        return "add " + change.what + " = " + Short(change.after);
    if (change.kind == "value removed")
        return "delete " + change.what + " (was " + Short(change.before) + ")";
    if (change.kind == "pending added")
        return "queue " + change.what;
    std::string line = change.kind + " " + change.what;
    if (!change.before.empty() || !change.after.empty())
        line += " (" + (change.before.empty() ? "" : change.before) +
                (change.after.empty() ? "" : " -> " + change.after) + ")";
    return line;
}

void Note(Preview* preview, const std::string& kind, const std::string& where,
          const std::string& detail, int status = CLEAN) {
    preview->notDone.push_back({kind, where, detail, status});
    if (status == UNSAFE)
        preview->status = UNSAFE;
}

// Why the server at `path` did not load, from what was read of it; `result`
// is the load's result in the journal.
std::string WhyNotLoaded(const Machine& machine, const std::string& path,
                         const std::string& result) {
    std::string name = "%PRODUCT%\\" + path.substr(path.find_last_of("\\/") + 1);
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
        size_t error = result.find('(');
        return "loading fails" + (error == std::string::npos ? "" : " " + result.substr(error));
    }
    return "it is not there";
}

} // namespace

std::vector<std::string> AnsiEntries(const std::vector<BYTE>& data) {
    std::vector<std::string> entries;
    std::string entry;
    for (BYTE b : data) {
        if (b != 0) {
            entry += (char)b;
        } else if (!entry.empty()) {
            entries.push_back(entry);
            entry.clear();
        } else {
            return entries; // the list's end
        }
    }
    if (!entry.empty())
        entries.push_back(entry);
    return entries;
}

std::vector<std::string> WideEntries(const std::vector<BYTE>& wide) {
    std::vector<BYTE> narrow;
    // A unit ends the list only when both its bytes are 0 (U+4E00 is "00 4E").
    // The ANSI code page (Windows-1252) carries ASCII and U+00A0 to U+00FF
    // as the same bytes; anything else is '?', as the A functions give it.
    for (size_t i = 0; i + 1 < wide.size(); i += 2) {
        bool same = wide[i + 1] == 0 && (wide[i] < 0x80 || wide[i] >= 0xA0);
        narrow.push_back(same ? wide[i] : '?');
    }
    return AnsiEntries(narrow);
}

bool IsProductService(const std::string& name) {
    std::vector<std::string> services = Description::ListNames(ServiceList);
    return std::any_of(services.begin(), services.end(),
                       [&](const std::string& service) { return SameText(service, name); });
}

bool IsProductDevice(const Description::Device& device, bool* longIds) {
    // As the uninstaller matches: the first hardware ID, ended.
    if (longIds != nullptr)
        *longIds = false;
    if (!device.hasHardwareIds)
        return false;
    std::vector<WCHAR> first;
    for (size_t i = 0; i + 1 < device.hardwareIds.size(); i += 2) {
        WCHAR unit = (WCHAR)(device.hardwareIds[i] | device.hardwareIds[i + 1] << 8);
        if (unit == 0)
            break;
        first.push_back(unit);
    }
    first.push_back(0);
    bool product = MatchHardwareId(first.data()) == 1;
    if (device.hardwareIds.size() <= HARDWARE_ID_BYTES)
        return product;
    if (longIds != nullptr)
        *longIds = product;
    return false;
}

std::string ClassName(const Machine& machine, const std::string& classGuid) {
    const Description::Value* value = Description::FindValue(
        Description::FindKey(machine,
                             std::string("HKLM\\") + Description::CLASS_KEY + "\\" + classGuid),
        "Class");
    std::vector<std::string> text;
    if (value != nullptr && value->type == REG_SZ)
        text = AnsiEntries(value->data);
    return text.empty() ? classGuid : text[0] + " " + classGuid;
}

void Explain(const Machine& machine, const std::vector<std::string>& journal,
             const std::vector<std::string>& unregistered, const Machine& after, Preview* preview) {
    preview->steps.clear();
    for (const char* name : STEPS)
        preview->steps.push_back({name, {}});
    auto add = [&](int step, const std::string& line) {
        preview->steps[step].actions.push_back(line);
    };

    // What the journal shows and a description cannot: controls, servers, the restart.
    std::map<std::string, std::string> serviceOf, moduleOf;
    std::set<std::string> deleted;
    std::map<std::string, std::vector<std::string>> serviceActions;
    std::vector<std::string> serviceOrder;
    for (const std::string& line : journal) {
        std::vector<std::string> texts = Quoted(line);
        if (line.rfind("OpenServiceA(", 0) == 0 && Succeeded(line) && texts.size() == 1) {
            serviceOf[Result(line)] = texts[0];
        } else if (line.rfind("LoadLibraryExA(", 0) == 0 && Succeeded(line) && texts.size() == 1) {
            moduleOf[Result(line)] = texts[0];
        } else if (line.rfind("LoadLibraryExA(", 0) == 0 && texts.size() == 1) {
            std::string why = WhyNotLoaded(machine, texts[0], Result(line));
            add(SERVERS, texts[0] + " not loaded: " + why + "; it is not asked to unregister");
            Note(preview, "server not unregistered", texts[0], why);
        } else if (line.rfind("ControlService(", 0) == 0) {
            std::string name = serviceOf[FirstHandle(line)];
            std::string code = Number(line, 1);
            bool stop = code == "1";
            if (Succeeded(line)) {
                serviceActions[name].push_back(stop ? "stop"
                                               : code == std::to_string(CONTROL_PREPARE_REMOVAL)
                                                   ? "told to prepare for removal (control " +
                                                         code + ")"
                                                   : "send control " + code);
            } else if (stop && Result(line).find("(1062)") == std::string::npos) {
                serviceActions[name].push_back("stop refused " + Result(line).substr(6));
                Note(preview, "service not stopped", name,
                     "it does not take a stop control now: it is deleted at the restart");
            } else if (!stop) {
                serviceActions[name].push_back("control " + code + " not taken " +
                                               Result(line).substr(6));
            }
            serviceOrder.push_back(name);
        } else if (line.rfind("DeleteService(", 0) == 0) {
            std::string name = serviceOf[FirstHandle(line)];
            if (Succeeded(line))
                deleted.insert(Upper(name));
            serviceActions[name].push_back(
                Succeeded(line) ? "delete" : "delete fails " + Result(line).substr(6));
            serviceOrder.push_back(name);
        } else if (line.rfind("GetProcAddress(", 0) == 0 && texts.size() == 1 &&
                   texts[0] == "DllUnregisterServer" && !Succeeded(line)) {
            add(SERVERS, moduleOf[FirstHandle(line)] +
                             " exports no DllUnregisterServer: loaded and freed only");
        } else if (line.rfind("SetupDiCallClassInstaller(", 0) == 0 && texts.size() == 1 &&
                   !Succeeded(line)) {
            add(DEVICES, "removing device " + texts[0] + " fails " + Result(line).substr(6));
        } else if (line.rfind("ChangeServiceConfigA(", 0) == 0) {
            add(TERMINAL, "TermService configuration " +
                              std::string(Succeeded(line) ? "rewritten" : "not rewritten: ") +
                              (Succeeded(line) ? "" : Result(line)));
        } else if (line.rfind("ExitWindowsEx(", 0) == 0) {
            add(RESTART_STEP,
                Succeeded(line) ? "restart Windows" : "restart refused: " + Result(line));
        } else if (line.rfind("DeleteFileA(", 0) == 0 && texts.size() == 1 && !Succeeded(line)) {
            add(MENU, "deleting " + texts[0] + " fails: " + Result(line));
        }
    }
    std::set<std::string> shown;
    for (const std::string& name : serviceOrder) {
        if (!shown.insert(name).second)
            continue;
        std::string line = name + ":";
        for (const std::string& action : serviceActions[name])
            line += (line.back() == ':' ? " " : ", ") + action;
        for (const Description::Service& service : after.services) {
            if (SameText(service.name, name) && deleted.count(Upper(name)) != 0)
                line += " (marked for deletion: it goes at the restart)";
        }
        add(SERVICES, line);
    }
    for (const std::string& path : unregistered)
        add(SERVERS, "load " + path + " and call its DllUnregisterServer");

    // What changes, each in its step.
    std::set<std::string> removedKeys;
    for (const Change& change : preview->changes) {
        if (change.kind == "key removed")
            removedKeys.insert(Upper(change.what));
    }
    for (const Change& change : preview->changes) {
        // Shown per service above, from what the run asked.
        bool service = StepOf(change) == SERVICES;
        if (service && (change.kind.rfind("service", 0) == 0 || change.kind == "key removed" ||
                        (change.kind == "value added" && Contains(change.what, ": DeleteFlag"))))
            continue;
        if (change.kind == "key removed") {
            std::string parent = change.what.substr(0, change.what.rfind('\\'));
            if (removedKeys.count(Upper(parent)) == 0)
                add(StepOf(change), RemovedTree(machine, change.what));
            continue;
        }
        add(StepOf(change), ChangeLine(change));
    }
    if (preview->result == 0 && preview->steps[RESTART_STEP].actions.empty())
        add(RESTART_STEP, "no restart: the run ends early");

    // What the run leaves, and why.
    std::string control = std::string("HKLM\\") + PRODUCT_CONTROL_KEY;
    bool hasFolderValue = false;
    for (const Description::Key& key : machine.registry) {
        for (const Description::Value& value : key.values)
            hasFolderValue = hasFolderValue || (SameText(key.path, control) &&
                                                SameText(value.name, PRODUCT_FOLDER_VALUE));
    }
    if (hasFolderValue && Description::ProductFolder(machine).empty())
        Note(preview, "folder refused", control + " : " + PRODUCT_FOLDER_VALUE,
             "not an absolute folder the uninstaller accepts: no server is unregistered and no "
             "file is queued for deletion");

    std::string folder = Description::ProductFolder(machine);
    if (folder.size() > 2 && IsSeparator(folder[0]) && IsSeparator(folder[1]))
        Note(preview, "folder on a share", control + " : " + PRODUCT_FOLDER_VALUE,
             "the simulated Windows has no network: the servers the uninstaller would ask to "
             "unregister in " +
                 folder + " are not shown (the files it queues there are)");

    for (const Description::Device& device : machine.devices) {
        bool longIds = false;
        if (!device.present && IsProductDevice(device))
            Note(preview, "device left", device.instanceId,
                 "not present: the uninstaller removes present devices only");
        if (device.present && !IsProductDevice(device, &longIds) && longIds)
            Note(preview, "device left", device.instanceId,
                 "its first hardware ID is the product's, but its IDs are longer than the " +
                     std::to_string(HARDWARE_ID_BYTES) +
                     " bytes the uninstaller reads: remove it in Device Manager");
        // A device the run removes takes its own filters with it.
        bool kept = std::any_of(after.devices.begin(), after.devices.end(),
                                [&](const Description::Device& other) {
                                    return SameText(other.instanceId, device.instanceId);
                                });
        if (!kept)
            continue;
        const std::pair<const char*, const std::vector<BYTE>*> lists[] = {
            {"UpperFilters", &device.upperFilters}, {"LowerFilters", &device.lowerFilters}};
        for (auto& list : lists) {
            for (const std::string& name : WideEntries(*list.second)) {
                if (!IsProductService(name))
                    continue;
                bool gone = deleted.count(Upper(name)) != 0;
                Note(preview, "device filter left", device.instanceId + " : " + list.first,
                     "names " + name +
                         (gone
                              ? ", which the run deletes: this " +
                                    ClassName(machine, device.classGuid) + " device would not start"
                              : "; the uninstaller does not edit device filters"),
                     gone ? UNSAFE : CLEAN);
            }
        }
    }

    // Filters left in class keys after the run (the uninstaller cleans the
    // upper filters of six classes).
    std::string classes = std::string("HKLM\\") + Description::CLASS_KEY + "\\";
    for (const Description::Key& key : after.registry) {
        if (Upper(key.path).rfind(Upper(classes), 0) != 0)
            continue;
        for (const Description::Value& value : key.values) {
            if (!SameText(value.name, "UpperFilters") && !SameText(value.name, "LowerFilters"))
                continue;
            for (const std::string& name : AnsiEntries(value.data)) {
                if (!IsProductService(name))
                    continue;
                bool gone = deleted.count(Upper(name)) != 0;
                Note(preview, "class filter left", key.path + " : " + value.name,
                     "names " + name +
                         (gone ? ", which the run deletes: devices of class " +
                                     ClassName(machine, key.path.substr(classes.size())) +
                                     " would not start"
                               : ""),
                     gone ? UNSAFE : CLEAN);
            }
        }
    }

    // Whatever else would stop a device after the restart: a filter naming a
    // service the machine does not have, or one the run leaves marked.
    for (const Finding& finding : Verify(after).findings) {
        bool noted =
            std::any_of(preview->notDone.begin(), preview->notDone.end(),
                        [&](const Finding& note) { return SameText(note.where, finding.where); });
        if (finding.status == UNSAFE && !noted)
            Note(preview, finding.kind, finding.where, finding.detail + " after the run", UNSAFE);
    }

    // The machine is read through the ANSI functions, which show a character
    // the code page cannot carry as '?'; the run itself edits these lists in
    // UTF-16 and keeps such a name as Windows stored it.
    for (const Change& change : preview->changes) {
        if (change.kind == "value changed" && change.before.find('?') != std::string::npos &&
            (StepOf(change) == ORDER || StepOf(change) == FILTERS))
            Note(preview, "list with an unreadable name", change.what,
                 "an entry holds '?', which is how this reading shows a character the code page "
                 "cannot carry; the uninstaller keeps that name as it is");
    }
}

} // namespace Check
