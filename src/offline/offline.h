// A Windows that is not running, read from its disk: the registry hives of
// its Windows folder (read with hivex) and its files, made into the
// simulated Windows as the next boot would find them, then read by the one
// machine reader. Verify judges what it gives as it judges a running
// machine; repair takes out of the filter lists exactly the names that
// judge says cannot load.
#pragma once

#include "../check/check.h"
#include "../description/description.h"

#include <functional>
#include <string>
#include <vector>

namespace Offline {

// Exit statuses of the offline verbs, beside the companion program's own.
constexpr int NO_WINDOWS = 10;     // the folder holds no Windows (no system32\config\SYSTEM)
constexpr int NOT_A_HIVE = 11;     // a file given as a hive is not one
constexpr int DAMAGED_HIVE = 12;   // a hive that is truncated or damaged
constexpr int WRONG_HIVE = 13;     // a hive of another kind (SOFTWARE given as SYSTEM)
constexpr int NO_CONTROL_SET = 14; // no "Select", or a control set it names is missing
constexpr int READ_ONLY = 15;      // repair: the hive or its folder cannot be written
constexpr int DIRTY_HIVE = 16;     // repair: Windows did not close the hive cleanly
constexpr int WRITE_FAILED = 17;   // repair: a write failed (a full disk): nothing changed

// Where the machine's Windows lies. `windowsFolder` is the mounted Windows
// folder (its drive's root is the folder above it); the hives are its
// system32\config\SYSTEM and SOFTWARE unless given. Names under it are
// found without regard to case.
struct Place {
    std::string windowsFolder; // "" when only hives are given
    std::string systemHive;    // "": the Windows folder's
    std::string softwareHive;  // "": the Windows folder's, or none without one
    std::string productFolder; // as --folder gives it ("C:\\..."); "": where "DzPath" says
};

// What reading found besides the machine.
struct Reading {
    std::vector<std::string> warnings; // a hive not closed cleanly, what was not looked at
    int status = 0;                    // 0, or one of the statuses above (or 5: not allowed)
    std::string why;                   // what the status means here, for the message
    bool dirty = false;                // the SYSTEM hive was not closed cleanly
    bool filesRead = true;             // false: no Windows folder, its files not looked at
    DWORD controlSet = 0;              // the set judged as the current one
};

// Reads the machine at `place` as the next boot will find it, the control
// set "Select\Default" names taken for the current one, and makes it the
// current simulated machine. Offline no device says whether it is attached:
// each device key counts as a present device. False with `reading` saying
// why when the place cannot be read.
bool Load(const Place& place, DWORD controlSet, Reading* reading);

// Load, then the machine reader's description of what was loaded.
bool Read(const Place& place, DWORD controlSet, Description::Machine* machine, Reading* reading);
bool Read(const Place& place, Description::Machine* machine, Reading* reading);

// The note that says which control set "CurrentControlSet" stands for.
Check::Finding SetJudged(const Reading& reading);

// The file operations of a repair, in order; `after`, when set, is called
// after each (tests end the process there).
enum class FileStep { Backup, Write, Flush, Rename };
struct RepairOptions {
    bool dryRun = false;
    bool force = false; // repair a hive Windows did not close cleanly
    std::function<void(FileStep)> after;
};

// One entry taken out of a filter list.
struct Removal {
    std::string key;   // "ControlSet001\\Control\\Class\\{...}" or "ControlSet001\\Enum\\..."
    std::string value; // "UpperFilters" or "LowerFilters"
    std::string entry;
    std::string why; // why the judge says it cannot load
};

struct RepairResult {
    std::vector<Removal> removals;
    std::string hive;   // the file written: the SYSTEM hive, a link followed to its target
    std::string backup; // the copy of the hive made before writing; "" when none
    int status = 0;     // an offline status, or the verdict of the hive as repaired
    std::string why;    // what an offline status means here
    // WRITE_FAILED: the step that failed and errno at the failure.
    FileStep failedStep = FileStep::Backup;
    int error = 0;
    Check::Verdict verdict; // of the hive as repaired (as it is, when nothing was written)
    std::vector<std::string> warnings;
};

// Takes out of every UpperFilters and LowerFilters of class and device keys,
// in each control set "Select" names, the names the judge says cannot load;
// a list left empty goes. A hive that needs none is not written, nor one
// holding a value hivex cannot read in a key to be mended. The new hive goes
// to a temporary file beside the old one (beside the file a link names), is
// flushed, and is renamed over it, after a copy of the old one is made
// beside it; a step that fails removes what the repair made.
RepairResult Repair(const Place& place, const RepairOptions& options);

} // namespace Offline
