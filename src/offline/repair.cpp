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
#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Offline {

namespace {

std::vector<unsigned char> ListData(const std::vector<std::string>& entries) {
    std::vector<unsigned char> data;
    for (const std::string& entry : entries) {
        for (char16_t unit : Description::Utf16(entry) + u'\0')
            data.insert(data.end(), {(unsigned char)unit, (unsigned char)(unit >> 8)});
    }
    data.insert(data.end(), {0, 0});
    return data;
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
bool Mend(const Hive& hive, hive_node_h node, const std::string& path, Loadability* loadability,
          std::vector<Removal>* removals) {
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
        if (bytes != nullptr)
            held.data.assign(bytes, bytes + length);
        std::free(name);
        std::free(bytes);
        bool filters = Strings::SameName(held.name, "UpperFilters") ||
                       Strings::SameName(held.name, "LowerFilters");
        // The PnP manager takes a filter value stored as one string for a
        // list of one entry: that entry goes with the value.
        bool list = held.type == hive_t_REG_MULTI_SZ;
        if (filters && (list || held.type == hive_t_REG_SZ || held.type == hive_t_REG_EXPAND_SZ)) {
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

bool Flush(const std::string& path) {
    int file = open(path.c_str(), O_RDONLY);
    if (file < 0)
        return false;
    bool flushed = fsync(file) == 0;
    close(file);
    return flushed;
}

bool CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail())
        return false;
    int file = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (file < 0)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = write(file, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0)
            break;
        done += (size_t)wrote;
    }
    bool whole = done == bytes.size() && fsync(file) == 0;
    close(file);
    return whole;
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
    if (!reading->filesRead)
        Check::AddFinding(verdict, FilesNotRead(place));
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
    std::vector<DWORD> sets;
    hive_node_h select = hive.Child(hive.Root(), "Select");
    for (const char* name : {"Default", "Current", "LastKnownGood"}) {
        hive_type type;
        std::vector<unsigned char> data;
        if (!RawValue(hive, select, name, &type, &data) || data.size() != 4)
            continue;
        DWORD number = data[0] | data[1] << 8 | data[2] << 16 | (DWORD)data[3] << 24;
        if (number != 0 && std::find(sets.begin(), sets.end(), number) == sets.end() &&
            hive.Child(hive.Root(), ControlSetName(number)) != 0)
            sets.push_back(number);
    }
    for (DWORD number : sets) {
        Description::Machine machine;
        if (!Load(place, number, &reading))
            return Failed(result, reading.status, reading.why);
        machine = Description::Describe(place.productFolder);
        machine.boot.imagesLooked = reading.filesRead;
        Loadability loadability(machine);
        std::string setName = ControlSetName(number);
        hive_node_h set = hive.Child(hive.Root(), setName);
        hive_node_h control = hive.Child(set, "Control");
        hive_node_h classes = control == 0 ? 0 : hive.Child(control, "Class");
        bool mended = true;
        for (hive_node_h setupClass :
             classes == 0 ? std::vector<hive_node_h>() : hive.Children(classes))
            mended = mended &&
                     Mend(hive, setupClass, setName + "\\Control\\Class\\" + hive.Name(setupClass),
                          &loadability, &result.removals);
        hive_node_h devices = hive.Child(set, "Enum");
        for (hive_node_h enumerator :
             devices == 0 ? std::vector<hive_node_h>() : hive.Children(devices)) {
            for (hive_node_h kind : hive.Children(enumerator)) {
                for (hive_node_h instance : hive.Children(kind))
                    mended = mended && Mend(hive, instance,
                                            setName + "\\Enum\\" + hive.Name(enumerator) + "\\" +
                                                hive.Name(kind) + "\\" + hive.Name(instance),
                                            &loadability, &result.removals);
            }
        }
        if (!mended)
            return Failed(result, DAMAGED_HIVE,
                          path + ": hivex could not set a key's values (" + std::strerror(errno) +
                              ")");
    }

    if (result.removals.empty() || options.dryRun) {
        // Nothing is written: the verdict is the hive's as it is.
        if (!Judge(place, &result.verdict, &reading))
            return Failed(result, reading.status, reading.why);
        result.status = result.verdict.status;
        return result;
    }

    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    for (const std::string& where : {folder, path}) {
        std::string readOnly = ReadOnly(where);
        if (!readOnly.empty())
            return Failed(result, READ_ONLY, readOnly + ": nothing was written");
    }
    auto after = [&](FileStep step) {
        if (options.after)
            options.after(step);
    };
    std::string backup = path + ".vkcheck-" + Now();
    for (int n = 2; access(backup.c_str(), F_OK) == 0; ++n)
        backup = path + ".vkcheck-" + Now() + "-" + std::to_string(n);
    if (!CopyFile(path, backup))
        return Failed(result, READ_ONLY,
                      backup + " cannot be written (" + std::strerror(errno) +
                          "): nothing was changed");
    result.backup = backup;
    after(FileStep::Backup);
    std::string temporary = path + ".vkcheck-new";
    unlink(temporary.c_str());
    if (hivex_commit(hive.get(), temporary.c_str(), 0) != 0) {
        unlink(temporary.c_str());
        return Failed(result, READ_ONLY,
                      temporary + " cannot be written (" + std::strerror(errno) +
                          "): the hive is unchanged");
    }
    after(FileStep::Write);
    if (!Flush(temporary)) {
        unlink(temporary.c_str());
        return Failed(result, READ_ONLY,
                      temporary + " cannot be flushed to the disk: the hive is unchanged");
    }
    after(FileStep::Flush);
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return Failed(result, READ_ONLY,
                      path + " cannot be replaced (" + std::strerror(errno) +
                          "): the hive is unchanged");
    }
    Flush(folder);
    after(FileStep::Rename);

    // What was written, read again as the next boot will read it.
    if (!Judge(place, &result.verdict, &reading))
        return Failed(result, reading.status, "the repaired hive: " + reading.why);
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
                    result.backup.c_str(), SystemHivePath(PlaceOf(arguments)).c_str());
    std::printf(options.dryRun            ? "The hive as it is:\n"
                : result.removals.empty() ? "The hive:\n"
                                          : "The hive as repaired:\n");
    Check::Report(result.verdict, false);
    if (result.status != Check::CLEAN && !options.dryRun)
        std::printf("What is named above is not a filter list's entry: repair cannot mend it.\n");
    return result.status;
}

} // namespace Offline
