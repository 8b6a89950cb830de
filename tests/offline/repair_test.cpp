// Repair of a disk read offline: what it takes out and nothing else, the
// backup, a healthy or unclean hive left alone, every bad input refused with
// its own status and the file untouched, a repair cut off after each of its
// file operations leaving the old hive or the whole new one, a linked hive
// repaired where it is, and a write that fails taking back what it made.
#include "hive_writer.h"
#include "offline_compare.h"

#include "boot_machines.h"
#include "check/check.h"
#include "machine/footprint.h"
#include "offline/hive.h"
#include "offline/offline.h"
#include "offline/verbs.h"
#include "platform/sim/machine.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using OfflineSupport::HiveLines;
using OfflineSupport::TemporaryFolder;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A machine after the run and the restart, written as a disk; its place.
struct Disk {
    TemporaryFolder root;
    Offline::Place place;
    std::string system, config;
    explicit Disk(const std::function<void()>& lay) {
        Sim::Reset();
        lay();
        RunUninstall();
        Sim::EndProcess();
        Sim::Restart();
        OfflineSupport::SwitchOff();
        std::string why;
        EXPECT_TRUE(OfflineSupport::WriteWindows(root.path(), &why)) << why;
        place.windowsFolder = root.path() + "/WINDOWS";
        config = place.windowsFolder + "/system32/config";
        system = config + "/SYSTEM";
    }
};

// The entries of a filter list's line ("key TAB name TAB type TAB hex").
std::vector<std::string> ListOf(const std::string& line) {
    std::string hex = line.substr(line.rfind('\t') + 1);
    std::vector<std::string> entries;
    std::u16string entry;
    for (size_t at = 0; at + 3 < hex.size(); at += 4) {
        char16_t unit =
            (char16_t)std::stoul(hex.substr(at + 2, 2) + hex.substr(at, 2), nullptr, 16);
        if (unit != 0) {
            entry += unit;
        } else if (!entry.empty()) {
            entries.push_back(Description::Utf8(entry));
            entry.clear();
        }
    }
    return entries;
}

std::string KeyOf(const std::string& line) {
    return line.substr(0, line.find('\t'));
}
std::string NameOf(const std::string& line) {
    size_t tab = line.find('\t');
    return line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
}

// The repaired hive differs from the old one by the removals alone: each
// line only one side has is a filter list of a key a removal names, and the
// list as repaired is the old one less exactly what was taken out of it.
void ExpectOnlyTheRemovals(const std::vector<std::string>& before,
                           const std::vector<std::string>& after,
                           const std::vector<Offline::Removal>& removals) {
    std::vector<std::string> gone, added;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    EXPECT_FALSE(gone.empty());
    for (const std::string& old : gone) {
        std::vector<std::string> left = ListOf(old);
        for (const Offline::Removal& removal : removals) {
            if (Strings::SameName(KeyOf(old), removal.key) && removal.value == NameOf(old))
                left.erase(std::remove(left.begin(), left.end(), removal.entry), left.end());
        }
        EXPECT_NE(left.size(), ListOf(old).size()) << old;
        auto now = std::find_if(added.begin(), added.end(), [&](const std::string& line) {
            return KeyOf(line) == KeyOf(old) && NameOf(line) == NameOf(old);
        });
        if (left.empty()) {
            EXPECT_TRUE(now == added.end()) << "a list left empty goes: " << old;
        } else {
            ASSERT_TRUE(now != added.end()) << old;
            EXPECT_EQ(left, ListOf(*now));
            added.erase(now);
        }
    }
    EXPECT_TRUE(added.empty()) << added.size() << " lines besides: " << added[0];
}

// A class's filter, or a device's own upper or lower filter.
bool NamesAFilter(const Check::Finding& finding) {
    return finding.status == Check::UNSAFE &&
           (finding.reason == Check::Reason::ClassFilterWillNotLoad ||
            (finding.reason == Check::Reason::DeviceWillNotStart &&
             (finding.parts.evidence == "upper filter" ||
              finding.parts.evidence == "lower filter")));
}

TEST(OfflineRepair, TakesOutWhatCannotLoadAndNothingElse) {
    int repaired = 0;
    for (const BootMachines::Break& row : BootMachines::Breaks()) {
        SCOPED_TRACE(row.what);
        Disk disk([&] {
            BootMachines::Installed();
            row.plant();
        });
        std::string old = Bytes(disk.system);
        std::vector<std::string> oldLines = HiveLines(disk.system);
        std::set<std::string> files = Entries(disk.config);

        Offline::Reading reading;
        Description::Machine machine;
        ASSERT_TRUE(Offline::Read(disk.place, &machine, &reading)) << reading.why;
        Check::Verdict before = Check::Verify(machine);
        bool onlyFilters = std::none_of(
            before.findings.begin(), before.findings.end(),
            [](const Check::Finding& f) { return f.status == Check::UNSAFE && !NamesAFilter(f); });

        Offline::RepairResult result = Offline::Repair(disk.place, {});
        ASSERT_TRUE(result.why.empty()) << result.why;
        // A machine Windows boots whole keeps every entry.
        EXPECT_TRUE(row.verify != Check::CLEAN || result.removals.empty());
        if (result.removals.empty()) {
            // Nothing to take out: not a byte written, no backup.
            EXPECT_EQ(old, Bytes(disk.system));
            EXPECT_EQ(files, Entries(disk.config));
            EXPECT_TRUE(std::none_of(before.findings.begin(), before.findings.end(), NamesAFilter));
            EXPECT_EQ(before.status, result.status);
            continue;
        }
        ++repaired;
        EXPECT_EQ(old, Bytes(result.backup));
        EXPECT_EQ(files.size() + 1, Entries(disk.config).size()) << "the backup alone is added";
        ExpectOnlyTheRemovals(oldLines, HiveLines(disk.system), result.removals);
        EXPECT_TRUE(std::none_of(result.verdict.findings.begin(), result.verdict.findings.end(),
                                 NamesAFilter));
        // What is left is what repair cannot mend (or the product's own
        // leftovers, for a second run of the uninstaller).
        bool unsafe =
            std::any_of(result.verdict.findings.begin(), result.verdict.findings.end(),
                        [](const Check::Finding& f) { return f.status == Check::UNSAFE; });
        EXPECT_EQ(!onlyFilters, unsafe);
    }
    EXPECT_GE(repaired, 3);
}

// A machine whose disk class filter names no service (left by another
// product's uninstaller): at the next boot its disks would not start.
void BrokenDiskClass() {
    Sim::SetValue(HKEY_LOCAL_MACHINE,
                  "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-"
                  "08002BE10318}",
                  "LowerFilters", REG_MULTI_SZ, Sim::MultiSz({"gonefilt"}));
}

TEST(OfflineRepair, AHealthyHiveAndADryRunAreNotWritten) {
    // Its disk class filtered by a driver Windows loads.
    Disk healthy([] {
        Sim::SetValue(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-"
                      "08002BE10318}",
                      "UpperFilters", REG_MULTI_SZ, Sim::MultiSz({"PartMgr"}));
    });
    std::string old = Bytes(healthy.system);
    std::set<std::string> files = Entries(healthy.config);
    Offline::RepairResult result = Offline::Repair(healthy.place, {});
    EXPECT_TRUE(result.removals.empty());
    EXPECT_EQ(Check::CLEAN, result.status) << result.why;
    EXPECT_EQ(old, Bytes(healthy.system));
    EXPECT_EQ(files, Entries(healthy.config));

    Disk broken(BrokenDiskClass);
    old = Bytes(broken.system);
    files = Entries(broken.config);
    Offline::RepairOptions dryRun;
    dryRun.dryRun = true;
    result = Offline::Repair(broken.place, dryRun);
    ASSERT_EQ(1u, result.removals.size());
    EXPECT_EQ("gonefilt", result.removals[0].entry);
    EXPECT_EQ(Check::UNSAFE, result.status);
    EXPECT_EQ(old, Bytes(broken.system));
    EXPECT_EQ(files, Entries(broken.config));
}

// The base block with its primary sequence number raised (and its checksum
// made again, which hivex checks), as Windows leaves a hive whose write was
// cut short.
void CutShort(const std::string& path) {
    std::string bytes = Bytes(path);
    bytes[4] = (char)(bytes[4] + 1);
    uint32_t sum = Offline::HeaderChecksum((const unsigned char*)bytes.data());
    for (int i = 0; i < 4; ++i)
        bytes[offsetof(Offline::BaseBlock, checksum) + i] = (char)(sum >> (8 * i));
    Put(path, bytes);
}

TEST(OfflineRepair, AHiveWindowsDidNotCloseIsReadWithAWarningAndRepairedOnlyWhenForced) {
    Disk disk(BrokenDiskClass);
    CutShort(disk.system);
    std::string old = Bytes(disk.system);
    Offline::Reading reading;
    Description::Machine machine;
    ASSERT_TRUE(Offline::Read(disk.place, &machine, &reading)) << reading.why;
    EXPECT_TRUE(reading.dirty);
    ASSERT_FALSE(reading.warnings.empty());
    EXPECT_NE(std::string::npos, reading.warnings[0].find("not closed cleanly"));

    Offline::RepairResult result = Offline::Repair(disk.place, {});
    EXPECT_EQ(Offline::DIRTY_HIVE, result.status);
    EXPECT_EQ(old, Bytes(disk.system));
    Offline::RepairOptions force;
    force.force = true;
    result = Offline::Repair(disk.place, force);
    EXPECT_EQ(Check::CLEAN, result.status) << result.why;
    EXPECT_EQ(1u, result.removals.size());

    // A clean hive whose log holds a later write made for it.
    Disk logged(BrokenDiskClass);
    std::string hive = Bytes(logged.system);
    std::string log = hive.substr(0, 512);
    uint32_t sequence = (unsigned char)hive[8] + 1;
    for (int at : {4, 8})
        log[at] = (char)sequence;
    log[28] = 1; // a transaction log
    log += "DIRT" + std::string(1, '\xFF') + std::string(507, '\0') + std::string(512, 'x');
    Put(logged.config + "/SYSTEM.LOG", log);
    old = Bytes(logged.system);
    ASSERT_TRUE(Offline::Read(logged.place, &machine, &reading));
    EXPECT_TRUE(reading.dirty);
    EXPECT_EQ(Offline::DIRTY_HIVE, Offline::Repair(logged.place, {}).status);
    EXPECT_EQ(old, Bytes(logged.system));
}

TEST(OfflineRepair, EachBadInputHasItsStatusAndLeavesTheFileAlone) {
    Disk disk(BrokenDiskClass);
    std::string hive = Bytes(disk.system);
    std::string software = disk.config + "/SOFTWARE";
    struct Case {
        const char* what;
        int status;
        std::function<void()> plant; // on the disk's SYSTEM, or its place
        Offline::Place place;
    };
    auto withHive = [&](const std::string& path) {
        Offline::Place place = disk.place;
        place.systemHive = path;
        return place;
    };
    // The hive with a key of it changed through hivex, committed in place.
    auto edit = [&](const std::function<void(hive_h*)>& change) {
        return [&, change] {
            hive_h* h = hivex_open(disk.system.c_str(), HIVEX_OPEN_WRITE);
            ASSERT_NE(nullptr, h);
            change(h);
            ASSERT_EQ(0, hivex_commit(h, nullptr, 0));
            hivex_close(h);
        };
    };
    std::vector<Case> cases = {
        {"not a hive", Offline::NOT_A_HIVE, [&] { Put(disk.system, "MZ" + hive.substr(2)); },
         disk.place},
        {"truncated", Offline::DAMAGED_HIVE, [&] { Put(disk.system, hive.substr(0, 6000)); },
         disk.place},
        {"damaged: its first bin overwritten", Offline::DAMAGED_HIVE,
         [&] {
             Put(disk.system, hive.substr(0, 4096) + std::string(4096, '\x55') + hive.substr(8192));
         },
         disk.place},
        {"SOFTWARE given as SYSTEM", Offline::WRONG_HIVE, [] {}, withHive(software)},
        {"no Select", Offline::NO_CONTROL_SET, edit([](hive_h* h) {
             hivex_node_delete_child(h, hivex_node_get_child(h, hivex_root(h), "Select"));
         }),
         disk.place},
        {"Select names a set that is missing", Offline::NO_CONTROL_SET, edit([](hive_h* h) {
             hive_node_h select = hivex_node_get_child(h, hivex_root(h), "Select");
             char seven[4] = {7, 0, 0, 0};
             hive_set_value value = {(char*)"Default", hive_t_REG_DWORD, 4, seven};
             hivex_node_set_value(h, select, &value, 0);
         }),
         disk.place},
        {"no Windows in the folder", Offline::NO_WINDOWS, [] {},
         [&] {
             Offline::Place place;
             place.windowsFolder = disk.root.path();
             return place;
         }()},
        {"a read-only folder", Offline::READ_ONLY, [&] { chmod(disk.config.c_str(), 0555); },
         disk.place},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        Put(disk.system, hive);
        row.plant();
        std::string planted = Bytes(disk.system);
        std::set<std::string> files = Entries(disk.config);
        Offline::Reading reading;
        Description::Machine machine;
        bool read = Offline::Read(row.place, &machine, &reading);
        if (row.status == Offline::READ_ONLY)
            EXPECT_TRUE(read) << "verify reads a read-only disk";
        else
            EXPECT_EQ(row.status, reading.status) << reading.why;
        Offline::RepairResult result = Offline::Repair(row.place, {});
        EXPECT_EQ(row.status, result.status) << result.why;
        EXPECT_FALSE(result.why.empty());
        EXPECT_EQ(planted, Bytes(disk.system));
        EXPECT_EQ(files, Entries(disk.config));
        chmod(disk.config.c_str(), 0755);
    }
}

TEST(OfflineRepair, ACutOffRepairLeavesTheOldHiveOrTheWholeNewOne) {
    Disk disk(BrokenDiskClass);
    std::string old = Bytes(disk.system);
    for (Offline::FileStep step : {Offline::FileStep::Backup, Offline::FileStep::Write,
                                   Offline::FileStep::Flush, Offline::FileStep::Rename}) {
        SCOPED_TRACE((int)step);
        for (auto& entry : std::filesystem::directory_iterator(disk.config)) {
            if (entry.path().filename().string().find(".vkcheck-") != std::string::npos)
                std::filesystem::remove(entry.path());
        }
        Put(disk.system, old);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Offline::RepairOptions options;
            options.after = [step](Offline::FileStep done) {
                if (done == step)
                    raise(SIGKILL);
            };
            Offline::Repair(disk.place, options);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        std::string now = Bytes(disk.system);
        if (now == old) {
            EXPECT_NE(Offline::FileStep::Rename, step);
            continue;
        }
        EXPECT_EQ(Offline::FileStep::Rename, step);
        Offline::Reading reading;
        Description::Machine machine;
        ASSERT_TRUE(Offline::Read(disk.place, &machine, &reading)) << reading.why;
        EXPECT_EQ(Check::CLEAN, Check::Verify(machine).status);
    }
}

TEST(OfflineRepair, TheCommandLineGivesTheStatuses) {
    Disk disk(BrokenDiskClass);
    auto run = [](std::vector<std::string> words) {
        words.insert(words.begin(), "vk_check");
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = Check::Main((int)argv.size(), argv.data(), nullptr, &Offline::VERBS);
        std::fflush(stdout);
        std::fflush(stderr);
        std::string out = testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        return std::make_pair(status, out);
    };
    const std::string windows = disk.place.windowsFolder;
    auto verify = run({"verify", "--windows", windows});
    EXPECT_EQ(Check::UNSAFE, verify.first) << verify.second;
    EXPECT_NE(std::string::npos, verify.second.find("gonefilt")) << verify.second;
    EXPECT_EQ(Check::UNSAFE, run({"repair", "--windows", windows, "--dry-run"}).first);
    auto repair = run({"repair", "--windows", windows});
    EXPECT_EQ(Check::CLEAN, repair.first) << repair.second;
    EXPECT_NE(std::string::npos, repair.second.find("SYSTEM.vkcheck-")) << repair.second;
    EXPECT_EQ(Check::CLEAN, run({"verify", "--windows", windows, "--json"}).first);
    // The hives alone: the image files are not looked at, so never "sound".
    EXPECT_EQ(Check::NOT_ALLOWED, run({"verify", "--system-hive", disk.system}).first);
    EXPECT_EQ(Check::NOT_ALLOWED, run({"repair", "--system-hive", disk.system}).first);
    EXPECT_EQ(Check::BAD_ARGUMENTS, run({"repair"}).first);
    EXPECT_EQ(Check::BAD_ARGUMENTS, run({"verify", "--windows", windows, "--force"}).first);
}

TEST(OfflineRepair, ALinkedHiveIsRepairedWhereItIsAndTheLinkStays) {
    // SYSTEM a link to a hive on another mount, as a rescue system may lay
    // it; and --system-hive naming a link.
    for (bool given : {false, true}) {
        SCOPED_TRACE(given ? "--system-hive LINK" : "SYSTEM a link");
        Disk disk(BrokenDiskClass);
        TemporaryFolder elsewhere;
        std::string target = elsewhere.path() + "/SYSTEM.real";
        std::string link = given ? disk.root.path() + "/SYSTEM.link" : disk.system;
        ASSERT_EQ(0, rename(disk.system.c_str(), target.c_str()));
        ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
        Offline::Place place = disk.place;
        if (given)
            place.systemHive = link;
        std::string old = Bytes(target);
        std::set<std::string> beside = Entries(disk.config);

        Offline::RepairResult result = Offline::Repair(place, {});
        EXPECT_EQ(Check::CLEAN, result.status) << result.why;
        struct stat status;
        ASSERT_EQ(0, lstat(link.c_str(), &status));
        EXPECT_TRUE(S_ISLNK(status.st_mode));
        EXPECT_EQ(target, std::filesystem::read_symlink(link).string());
        EXPECT_NE(old, Bytes(target));
        EXPECT_EQ(old, Bytes(result.backup));
        EXPECT_EQ(elsewhere.path(), std::filesystem::path(result.backup).parent_path().string());
        EXPECT_EQ(beside, Entries(disk.config)) << "nothing made beside the link";
        Offline::Reading reading;
        Description::Machine machine;
        ASSERT_TRUE(Offline::Read(place, &machine, &reading)) << reading.why;
        EXPECT_EQ(Check::CLEAN, Check::Verify(machine).status);
    }
}

TEST(OfflineRepair, AValueHivexCannotReadStopsTheRepairBeforeAnythingIsWritten) {
    const char* const classKey =
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}";
    Disk disk([&] {
        BrokenDiskClass();
        Sim::SetValue(HKEY_LOCAL_MACHINE, classKey, "Unreadable", REG_SZ,
                      Sim::Sz("more than four bytes"));
    });
    // Its value record's data offset pointed past the hive's end.
    std::string hive = Bytes(disk.system);
    size_t name = hive.find("Unreadable");
    ASSERT_NE(std::string::npos, name);
    ASSERT_EQ("vk", hive.substr(name - 20, 2));
    for (int i = 0; i < 4; ++i)
        hive[name - 12 + i] = "\xF0\xFF\xFF\x7F"[i];
    Put(disk.system, hive);
    std::set<std::string> files = Entries(disk.config);

    Offline::RepairResult result = Offline::Repair(disk.place, {});
    EXPECT_EQ(Offline::DAMAGED_HIVE, result.status);
    EXPECT_NE(std::string::npos,
              result.why.find("{4D36E967-E325-11CE-BFC1-08002BE10318} : Unreadable"))
        << result.why;
    EXPECT_EQ(hive, Bytes(disk.system));
    EXPECT_EQ(files, Entries(disk.config));
}

// What a repair in a child process did: its status, the step that failed
// and errno there, and whether the hive's folder is as it was.
struct Outcome {
    int status = -1;
    int step = -1;
    int error = 0;
    bool untouched = false;
};

// Repair of `place` in a child, after `prepare` there (a limit, a mount);
// `after` called after each file step. The child looks at the folder itself:
// a mount it made is its own.
Outcome InChild(const std::function<bool()>& prepare, const Offline::Place& place,
                const std::function<void(Offline::FileStep)>& after = nullptr) {
    int pipe[2];
    EXPECT_EQ(0, ::pipe(pipe));
    pid_t child = fork();
    if (child == 0) {
        Outcome outcome;
        signal(SIGXFSZ, SIG_IGN); // a write past the file size limit fails with EFBIG instead
        if (prepare()) {
            std::string hive = Offline::SystemHivePath(place);
            std::string old = Bytes(hive);
            std::string folder = std::filesystem::path(hive).parent_path().string();
            std::set<std::string> files = Entries(folder);
            Offline::RepairOptions options;
            options.after = after;
            Offline::RepairResult result = Offline::Repair(place, options);
            outcome = {result.status, (int)result.failedStep, result.error,
                       old == Bytes(hive) && files == Entries(folder) && !result.why.empty()};
        }
        ssize_t wrote = write(pipe[1], &outcome, sizeof outcome);
        _exit(wrote == sizeof outcome ? 0 : 1);
    }
    close(pipe[1]);
    Outcome outcome;
    EXPECT_EQ((ssize_t)sizeof outcome, read(pipe[0], &outcome, sizeof outcome));
    close(pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return outcome;
}

bool FileSizeLimit(rlim_t bytes) {
    struct rlimit limit = {bytes, bytes};
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// A tmpfs of `bytes` at `folder` in a mount namespace of the child's own
// (a user namespace's, where the process may not mount), the hive copied
// into it.
bool SmallDisk(const std::string& folder, size_t bytes, const std::string& hive) {
    if (unshare(CLONE_NEWNS) != 0) {
        uid_t uid = getuid();
        gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        Put("/proc/self/setgroups", "deny");
        Put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        Put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + std::to_string(bytes)).c_str()) != 0)
        return false;
    std::string bytesOfHive = Bytes(hive);
    std::ofstream out(folder + "/SYSTEM", std::ios::binary);
    out << bytesOfHive;
    return (bool)out.flush();
}

TEST(OfflineRepair, AWriteThatFailsTakesBackWhatItMadeAndNamesItsStepAndReason) {
    Disk disk(BrokenDiskClass);
    size_t size = Bytes(disk.system).size();
    // A file size limit: the kernel fails the write past it with EFBIG,
    // for the backup's copy and for hivex's write of the new hive alike.
    Outcome backup = InChild([&] { return FileSizeLimit(size / 2); }, disk.place);
    EXPECT_EQ(Offline::WRITE_FAILED, backup.status);
    EXPECT_EQ((int)Offline::FileStep::Backup, backup.step);
    EXPECT_EQ(EFBIG, backup.error);
    EXPECT_TRUE(backup.untouched);
    Outcome write = InChild([] { return true; }, disk.place,
                            [&](Offline::FileStep step) {
                                if (step == Offline::FileStep::Backup)
                                    FileSizeLimit(size / 2);
                            });
    EXPECT_EQ(Offline::WRITE_FAILED, write.status);
    EXPECT_EQ((int)Offline::FileStep::Write, write.step);
    EXPECT_EQ(EFBIG, write.error);
    EXPECT_TRUE(write.untouched);

    // A disk that fills: while the backup is copied, and while the new hive
    // is written after it.
    TemporaryFolder mount;
    Offline::Place onSmall = disk.place;
    onSmall.systemHive = mount.path() + "/SYSTEM";
    onSmall.softwareHive = disk.config + "/SOFTWARE";
    for (auto [room, step] : {std::make_pair(size + size / 2, Offline::FileStep::Backup),
                              std::make_pair(2 * size + size / 2, Offline::FileStep::Write)}) {
        SCOPED_TRACE((int)step);
        Outcome full = InChild(
            [&, room = room] { return SmallDisk(mount.path(), room, disk.system); }, onSmall);
        if (full.status == -1)
            GTEST_SKIP() << "no tmpfs can be mounted here: the full disk is not tried";
        EXPECT_EQ(Offline::WRITE_FAILED, full.status);
        EXPECT_EQ((int)step, full.step);
        EXPECT_EQ(ENOSPC, full.error);
        EXPECT_TRUE(full.untouched);
    }
}

} // namespace
