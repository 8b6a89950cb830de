// The repair of a SYSTEM hive whose filter lists name drivers Windows cannot
// load: exactly those names go, in every control set "Select" names, and the
// hive is replaced whole or not at all.
#include "hive.h"
#include "offline.h"
#include "verbs.h"

#include "../check/judge.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Offline {

namespace {

// A REG_MULTI_SZ of `entries` as the registry stores it: UTF-16LE, each
// entry ended, then one NUL more.
std::vector<unsigned char> ListData(const std::vector<std::string>& entries) {
    std::u16string list;
    for (const std::string& entry : entries)
        list += Unicode::Utf16(entry) + u'\0';
    return Unicode::LittleEndian(list + u'\0');
}

// Why the judge says a name cannot load ("" when it can), asked once a
// name: the answer depends on the machine alone, and a large machine's
// filter lists name the same few hundred drivers thousands of times.
class Loadability {
  public:
    explicit Loadability(const Description::Machine& machine) : machine(machine) {}
    const std::string& WhyNot(const std::string& name) {
        auto found = answers.find(name);
        if (found == answers.end())
            found = answers.emplace(name, Check::WhyNotLoadable(machine, name)).first;
        return found->second;
    }

  private:
    const Description::Machine& machine;
    std::map<std::string, std::string> answers; // by the name as the list spells it
};

// One key's filter lists judged against the machine: what goes, and the
// key's values as they are to be set (all of them, as hivex sets them).
// False with `unreadable` naming the value when one cannot be read: setting
// the key's values would write it back empty.
bool Mend(const Hive& hive, hive_node_h node, const std::string& path, Loadability* loadability,
          std::vector<Removal>* removals, std::string* unreadable) {
    struct Held {
        std::string name;
        hive_type type;
        std::vector<unsigned char> data;
    };
    std::vector<Held> values;
    bool changed = false;
    hive_value_h* list = hivex_node_values(hive.get(), node);
    for (size_t i = 0; list != nullptr && list[i] != 0; ++i) {
        Held held;
        char* name = hivex_value_key(hive.get(), list[i]);
        size_t length = 0;
        char* bytes = hivex_value_value(hive.get(), list[i], &held.type, &length);
        held.name = name != nullptr ? name : "";
        if (bytes == nullptr || name == nullptr) {
            *unreadable = path + " : " + (name != nullptr ? held.name : "(a value's name)") +
                          ": hivex cannot read it (" + std::strerror(errno) + ")";
            std::free(name);
            std::free(list);
            return false;
        }
        held.data.assign(bytes, bytes + length);
        std::free(name);
        std::free(bytes);
        bool filters = Strings::SameName(held.name, "UpperFilters") ||
                       Strings::SameName(held.name, "LowerFilters");
        // The PnP manager takes a filter value stored as one string for a
        // list of one entry: that entry goes with the value.
        if (filters && (held.type == hive_t_REG_MULTI_SZ || held.type == hive_t_REG_SZ ||
                        held.type == hive_t_REG_EXPAND_SZ)) {
            std::vector<std::string> kept;
            std::vector<std::string> entries =
                Description::FilterEntries((DWORD)held.type, held.data);
            for (const std::string& entry : entries) {
                const std::string& why = loadability->WhyNot(entry);
                if (why.empty())
                    kept.push_back(entry);
                else
                    removals->push_back({path, held.name, entry, why});
            }
            if (kept.size() != entries.size()) {
                changed = true;
                if (kept.empty())
                    continue;               // a list left empty goes, as the uninstaller leaves it
                held.data = ListData(kept); // only a list can keep some of its entries
            }
        }
        values.push_back(held);
    }
    std::free(list);
    if (!changed)
        return true;
    std::vector<hive_set_value> set(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        set[i].key = (char*)values[i].name.c_str();
        set[i].t = values[i].type;
        set[i].len = values[i].data.size();
        set[i].value = (char*)values[i].data.data();
    }
    return hivex_node_set_values(hive.get(), node, set.size(), set.data(), 0) == 0;
}

std::string Now() {
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Why `path` cannot be written, "" when it can: a read-only mount, or a
// file or folder whose mode grants writing to no one (even where the
// superuser could write it anyway: someone made it read-only).
std::string ReadOnly(const std::string& path) {
    struct statvfs volume;
    if (statvfs(path.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return path + " is on a read-only mount";
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && (status.st_mode & 0222) == 0)
        return path + " is read-only";
    if (access(path.c_str(), W_OK) != 0)
        return path + " cannot be written: " + std::strerror(errno);
    return "";
}

// 0 once `path` is on the disk, else errno.
int Flush(const std::string& path) {
    int file = open(path.c_str(), O_RDONLY);
    if (file < 0)
        return errno;
    int error = fsync(file) == 0 ? 0 : errno;
    close(file);
    return error;
}

// Copies `from` to the new file `to` and flushes it: 0, else errno at the
// failure, with `to` removed (a disk that fills half way leaves no
// truncated copy that could pass for the hive).
int CopyFile(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY);
    if (in < 0)
        return errno;
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (out < 0) {
        int error = errno;
        close(in);
        return error;
    }
    std::vector<char> buffer(1 << 16);
    int error = 0;
    for (ssize_t got; error == 0 && (got = read(in, buffer.data(), buffer.size())) != 0;) {
        if (got < 0)
            error = errno;
        for (ssize_t done = 0; error == 0 && done < got;) {
            ssize_t wrote = write(out, buffer.data() + done, (size_t)(got - done));
            if (wrote < 0)
                error = errno;
            else
                done += wrote;
        }
    }
    if (error == 0 && fsync(out) != 0)
        error = errno;
    if (close(out) != 0 && error == 0)
        error = errno;
    close(in);
    if (error != 0)
        unlink(to.c_str());
    return error;
}

// The file `path` names, links followed: 0, else errno.
int Resolved(const std::string& path, std::string* real) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return errno;
    *real = resolved;
    std::free(resolved);
    return 0;
}

// What a file step does, for the message that says it failed.
std::string StepText(FileStep step, const std::string& file, const std::string& hive) {
    switch (step) {
    case FileStep::Backup:
        return "copying the hive to " + file;
    case FileStep::Write:
        return "writing the new hive to " + file;
    case FileStep::Flush:
        return "flushing " + file + " to the disk";
    case FileStep::Rename:
        return "renaming " + file + " over " + hive;
    }
    return "";
}

RepairResult Failed(RepairResult result, int status, const std::string& why) {
    result.status = status;
    result.why = why;
    return result;
}

// The verdict of the machine at `place`, as verify gives it.
bool Judge(const Place& place, Check::Verdict* verdict, Reading* reading) {
    Description::Machine machine;
    if (!Read(place, &machine, reading))
        return false;
    *verdict = Check::Verify(machine);
    Check::AddFinding(verdict, SetJudged(*reading));
    return true;
}

} // namespace

namespace {

// The control sets "Select" names (default, current, last known good) that
// the hive holds, each once.
std::vector<DWORD> SelectedSets(const Hive& hive) {
    std::vector<DWORD> sets;
    hive_node_h select = hive.Child(hive.Root(), "Select");
    for (const char* name : {"Default", "Current", "LastKnownGood"}) {
        hive_type type;
        std::vector<unsigned char> data;
        if (!RawValue(hive, select, name, &type, &data) || data.size() != 4)
            continue;
        DWORD number = data[0] | data[1] << 8 | data[2] << 16 | (DWORD)data[3] << 24;
        if (number != 0 && std::find(sets.begin(), sets.end(), number) == sets.end() &&
            hive.Child(hive.Root(), Description::ControlSetName(number)) != 0)
            sets.push_back(number);
    }
    return sets;
}

// Every filter list of one control set mended in the open hive, judged
// against the machine as it boots with that set: false with the result's
// status when the set cannot be read or a key cannot be mended.
bool MendSet(const Place& place, const std::string& path, Hive* hive, DWORD number,
             RepairResult* result) {
    Description::Machine machine;
    Reading reading;
    if (!Read(place, number, &machine, &reading)) {
        result->status = reading.status;
        result->why = reading.why;
        return false;
    }
    Loadability loadability(machine);
    std::string setName = Description::ControlSetName(number);
    hive_node_h set = hive->Child(hive->Root(), setName);
    bool mended = true;
    std::string unreadable;
    auto mend = [&](hive_node_h node, const std::string& below) {
        mended = mended &&
                 Mend(*hive, node, setName + below, &loadability, &result->removals, &unreadable);
    };
    hive_node_h control = hive->Child(set, "Control");
    hive_node_h classes = control == 0 ? 0 : hive->Child(control, "Class");
    for (hive_node_h setupClass :
         classes == 0 ? std::vector<hive_node_h>() : hive->Children(classes))
        mend(setupClass, "\\Control\\Class\\" + hive->Name(setupClass));
    hive_node_h devices = hive->Child(set, "Enum");
    for (hive_node_h enumerator :
         devices == 0 ? std::vector<hive_node_h>() : hive->Children(devices)) {
        for (hive_node_h kind : hive->Children(enumerator)) {
            for (hive_node_h instance : hive->Children(kind))
                mend(instance, "\\Enum\\" + hive->Name(enumerator) + "\\" + hive->Name(kind) +
                                   "\\" + hive->Name(instance));
        }
    }
    if (!unreadable.empty()) {
        *result = Failed(*result, DAMAGED_HIVE,
                         path + ": " + unreadable + ": repair would write it back empty; " +
                             "nothing was written");
        return false;
    }
    if (!mended) {
        *result =
            Failed(*result, DAMAGED_HIVE,
                   path + ": hivex could not set a key's values (" + std::strerror(errno) + ")");
        return false;
    }
    return true;
}

// The mended hive written over the file `path` names (links followed): a
// backup beside it first, then the new hive beside it, flushed, renamed
// over it. False with the result's status when a step fails, everything it
// made taken back.
bool WriteHive(const std::string& path, Hive* hive, const RepairOptions& options,
               RepairResult* result) {
    // A rescue system may link the hive from another mount, or the hive
    // given may be a link: the hive is replaced where it is, its temporary
    // and backup beside it (a rename does not cross mounts), and the link
    // stays a link.
    std::string hivePath;
    if (int error = Resolved(path, &hivePath)) {
        *result = Failed(*result, NO_WINDOWS,
                         path + " cannot be followed to its file (" + std::strerror(error) + ")");
        return false;
    }
    result->hive = hivePath;
    if (hivePath != path)
        result->warnings.push_back(path + " is a link to " + hivePath + ": that file is repaired");
    size_t slash = hivePath.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : hivePath.substr(0, slash);
    for (const std::string& where : {folder, hivePath}) {
        std::string readOnly = ReadOnly(where);
        if (!readOnly.empty()) {
            *result = Failed(*result, READ_ONLY, readOnly + ": nothing was written");
            return false;
        }
    }
    auto after = [&](FileStep step) {
        if (options.after)
            options.after(step);
    };
    std::string backup = hivePath + ".vkcheck-" + Now();
    for (int n = 2; access(backup.c_str(), F_OK) == 0; ++n)
        backup = hivePath + ".vkcheck-" + Now() + "-" + std::to_string(n);
    std::string temporary = hivePath + ".vkcheck-new";
    // A step that fails takes back all the repair made, the backup too:
    // nothing was changed, and a disk that filled keeps no more of ours.
    auto failed = [&](FileStep step, const std::string& file, int error) {
        unlink(temporary.c_str());
        if (!result->backup.empty())
            unlink(result->backup.c_str());
        result->backup.clear();
        result->failedStep = step;
        result->error = error;
        *result = Failed(*result, WRITE_FAILED,
                         StepText(step, file, hivePath) + " failed (" + std::strerror(error) +
                             "): nothing was changed");
        return false;
    };
    if (int error = CopyFile(hivePath, backup))
        return failed(FileStep::Backup, backup, error);
    result->backup = backup;
    after(FileStep::Backup);
    unlink(temporary.c_str());
    if (hivex_commit(hive->get(), temporary.c_str(), 0) != 0)
        return failed(FileStep::Write, temporary, errno);
    after(FileStep::Write);
    if (int error = Flush(temporary))
        return failed(FileStep::Flush, temporary, error);
    after(FileStep::Flush);
    if (rename(temporary.c_str(), hivePath.c_str()) != 0)
        return failed(FileStep::Rename, temporary, errno);
    Flush(folder);
    after(FileStep::Rename);
    return true;
}

} // namespace

RepairResult Repair(const Place& place, const RepairOptions& options) {
    RepairResult result;
    Reading reading;
    if (!Load(place, 0, &reading))
        return Failed(result, reading.status, reading.why);
    result.warnings = reading.warnings;
    std::string path = SystemHivePath(place);
    if (reading.dirty && !options.force)
        return Failed(result, DIRTY_HIVE,
                      path + " was not closed cleanly: writing it would mark it clean and Windows "
                             "would then drop the changes its log holds. Boot Windows once if it "
                             "can, or repair it anyway with --force");

    Hive hive;
    std::string why;
    if (!hive.Open(path, true, &why))
        return Failed(result, DAMAGED_HIVE, why);
    for (DWORD number : SelectedSets(hive)) {
        if (!MendSet(place, path, &hive, number, &result))
            return result;
    }
    bool write = !result.removals.empty() && !options.dryRun;
    if (write && !WriteHive(path, &hive, options, &result))
        return result;
    // Nothing written, the verdict is the hive's as it is; else what was
    // written, read again as the next boot will read it.
    if (!Judge(place, &result.verdict, &reading))
        return Failed(result, reading.status, (write ? "the repaired hive: " : "") + reading.why);
    result.status = result.verdict.status;
    return result;
}

int RepairVerb(const Check::OfflineArguments& arguments) {
    RepairOptions options;
    options.dryRun = arguments.dryRun;
    options.force = arguments.force;
    RepairResult result = Repair(PlaceOf(arguments), options);
    if (arguments.json) {
        nlohmann::json out{{"status", result.status}, {"dryRun", options.dryRun}};
        out["removed"] = nlohmann::json::array();
        for (const Removal& removal : result.removals)
            out["removed"].push_back({{"key", removal.key},
                                      {"value", removal.value},
                                      {"entry", removal.entry},
                                      {"why", removal.why}});
        if (!result.backup.empty())
            out["backup"] = result.backup;
        if (!result.hive.empty())
            out["hive"] = result.hive;
        if (!result.why.empty())
            out["error"] = result.why;
        else
            out["verdict"] = nlohmann::json::parse(Check::ReportJson(result.verdict, {}));
        if (!result.warnings.empty())
            out["warnings"] = result.warnings;
        std::printf("%s\n", out.dump(1).c_str());
        return result.status;
    }
    for (const std::string& warning : result.warnings)
        std::printf("Warning: %s\n", warning.c_str());
    if (!result.removals.empty()) {
        std::printf("%s of the filter lists:\n",
                    options.dryRun || !result.why.empty() ? "Would take out" : "Took out");
        for (const Removal& removal : result.removals)
            std::printf("  %s : %s: %s (%s)\n", removal.key.c_str(), removal.value.c_str(),
                        removal.entry.c_str(), removal.why.c_str());
    } else if (result.why.empty()) {
        std::printf("No filter list names a driver Windows cannot load: the hive is not "
                    "written.\n");
    }
    if (!result.why.empty()) {
        std::fprintf(stderr, "VkCheck: %s\n", result.why.c_str());
        return result.status;
    }
    if (!result.backup.empty())
        std::printf("The hive as it was is kept in %s: copy it back over %s to undo.\n",
                    result.backup.c_str(), result.hive.c_str());
    std::printf(options.dryRun            ? "The hive as it is:\n"
                : result.removals.empty() ? "The hive:\n"
                                          : "The hive as repaired:\n");
    Check::Report(result.verdict, false);
    if (result.status != Check::CLEAN && !options.dryRun)
        std::printf("What is named above is not a filter list's entry: repair cannot mend it.\n");
    return result.status;
}

} // namespace Offline
