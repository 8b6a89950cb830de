// What VkCheck's answers are made of, below both the checks that make them
// and the report that reads them back: the statuses an answer ends with, and
// one finding with its reason.
#pragma once

#include <string>

namespace Check {

// The form of the JSON answers of verify, preview and detect, which each
// names in its "schema" field beside "answer" (the verb), "version" (the
// program's), "time" (when it was made, UTC, ISO 8601) and "machine" (the
// computer's name, when the program read the machine it runs on). It goes
// up by one whenever a field changes its meaning or goes, or one is added
// that the report needs: schema 1 had no "time". The report reads this
// schema and the ones before it.
constexpr int ANSWER_SCHEMA = 2;

// "VkCheck <version>", as --version prints it.
std::string VersionLine();

// Exit statuses.
constexpr int CLEAN = 0;
constexpr int LEFTOVER = 1;    // a second run of the uninstaller would change something
constexpr int UNSAFE = 2;      // a filter names a service that is gone (or will be)
constexpr int NOT_ALLOWED = 5; // what must be read could not be, or the run may not delete a tree
constexpr int BAD_ARGUMENTS = 87;
constexpr int RESTART = 3010; // removal complete, waiting for the restart
// report: the folder of answers cannot be listed, or a report file cannot be written.
constexpr int NO_FOLDER = 3;

// A verdict's status as every part shows it: the exit status, how urgent it
// is (0 most), what the usage text calls it, what verify's report ends with,
// and the fleet report's group of the machines it is the verdict of.
struct Status {
    int code;
    int rank;
    const char* usage;   // "2 unsafe"
    const char* verdict; // the closing line of verify's report, after "2: "
    int group;           // the fleet report's group, in its order (Report::Group)
};

// The statuses a verdict ends with, as the usage text lists them.
constexpr int VERDICT_STATUSES = 5;
extern const Status STATUSES[VERDICT_STATUSES];

// `code`'s row; nullptr for a status no verdict ends with.
const Status* StatusOf(int code);

// The more urgent of two verdict statuses: unsafe, unreadable, left,
// waiting for the restart, clean.
int MoreUrgent(int a, int b);

// How urgent a status is, 0 most; a code no verdict ends with ranks last.
int Rank(int code);

// Why a finding was made: what the programs act on. Each reason has the
// kind its finding is shown under ("device", "class filter", ...).
enum class Reason {
    // The next boot, as the judge sees it.
    ServicesUnlisted,     // the control set's services cannot be listed
    ClassesUnlisted,      // nor its setup classes
    DevicesUnlisted,      // nor the devices
    ServiceKeyUnreadable, // a service a stack or a dependency names
    ClassKeyUnreadable,
    ClassFilterWillNotLoad, // a class's filter that Windows cannot load
    DeviceWillNotStart,     // a present device whose stack cannot load
    DeviceWithoutDriver,    // a present device whose function driver the run removes
    DeviceDisabled,         // a disabled device whose stack could not load
    DeviceNotPresent,       // a device not present whose stack could not load
    ServiceWillNotStart,    // a service Windows starts that will not (a note when logged)
    NoControlSet,           // the control set the next boot uses could not be read
    ImagesNotLooked,        // read without the Windows folder
    LastKnownGood,          // the Last Known Good set, judged alike
    ControlSetJudged,       // which set a disk's next boot uses
    // What is left of the product after a run.
    ServiceMarked, // marked for deletion: it goes at the restart
    ServiceLeft,
    DeviceLeft,
    DeviceLongIds,        // the product's device with IDs longer than the uninstaller reads
    DeviceNotPresentLeft, // the product's device, not present
    ClassFilterLeft,      // the product's name in a class's upper filters
    TreeUndeletable,      // a tree whose security refuses the uninstaller
    TreeLeft,
    TreeUnreadable,
    GroupOrderLeft,  // the product's group in the service group order
    PendingDeletion, // a file deleted at the restart
    ShortcutLeft,
    MenuGroupKept, // a Start-menu group holding what is not a shortcut
    MenuGroupLeft,
    FileLeft,
    FilesStranded,  // files a second run does not queue
    FolderLookedIn, // where the product's files were looked for
    FolderLeft,
    SecondRun, // a change a second run makes that no finding above names
    // What a preview's run would not do.
    ServiceNotStopped,
    ServerNotUnregistered,
    FolderRefused,
    FolderOnShare,
    DeviceNotRemoved, // the run leaves the product's device
    DeviceFilterLeftByRun,
    ClassFilterLeftByRun,
    KeyNotWritable,
    KeyNotDeletable,
    ListWithUnreadableName,
};

// The kind a finding of `reason` is shown under.
const char* KindOf(Reason reason);

// One thing found or foreseen: why, where it is, what it means, and what it
// makes of the exit status (CLEAN: a note). The judge's findings name their
// parts besides: the device, its setup class, the service, and what shows
// it (the filter list, the missing image file, ...).
struct Finding {
    Reason reason;
    std::string where;
    std::string detail;
    int status = CLEAN;
    struct Parts {
        std::string device, setupClass, service, evidence;
    } parts = {};
    const char* kind() const { return KindOf(reason); }
};

} // namespace Check
