#include "verdict.h"

#include <cstddef>

// The program's version; the build names it from the project's.
#ifndef VK_VERSION
#define VK_VERSION "0.0.0"
#endif

namespace Check {

extern const Status STATUSES[VERDICT_STATUSES] = {
    {CLEAN, 4, "0 clean",
     "a second run of the uninstaller would change nothing and the machine is sound", 4},
    {RESTART, 3, "3010 waiting for the restart", "the removal is complete once Windows restarts",
     3},
    {LEFTOVER, 2, "1 a second run would change something",
     "a second run of the uninstaller would change what is found above: run it again", 2},
    {UNSAFE, 0, "2 unsafe",
     "the machine is unsafe: at the next boot a device or a service named above would not start",
     0},
    {NOT_ALLOWED, 1, "5 not allowed to read (or the uninstaller to delete)",
     "not allowed to read what must be read, or the uninstaller is not allowed to delete a key "
     "named above",
     1},
};

std::string VersionLine() {
    return std::string("VkCheck ") + VK_VERSION;
}

const Status* StatusOf(int code) {
    for (const Status& status : STATUSES) {
        if (status.code == code)
            return &status;
    }
    return nullptr;
}

int Rank(int code) {
    const Status* status = StatusOf(code);
    return status == nullptr ? VERDICT_STATUSES : status->rank;
}

int MoreUrgent(int a, int b) {
    return Rank(b) < Rank(a) ? b : a;
}

namespace {

// The kind of each reason's findings, in the reasons' order.
const char* const KINDS[] = {
    "services",                     // ServicesUnlisted
    "setup classes",                // ClassesUnlisted
    "devices",                      // DevicesUnlisted
    "service key",                  // ServiceKeyUnreadable
    "class key",                    // ClassKeyUnreadable
    "class filter",                 // ClassFilterWillNotLoad
    "device",                       // DeviceWillNotStart
    "device",                       // DeviceWithoutDriver
    "device disabled",              // DeviceDisabled
    "device not present",           // DeviceNotPresent
    "service",                      // ServiceWillNotStart
    "boot",                         // NoControlSet
    "files not looked at",          // ImagesNotLooked
    "last known good",              // LastKnownGood
    "control set",                  // ControlSetJudged
    "service",                      // ServiceMarked
    "service",                      // ServiceLeft
    "device",                       // DeviceLeft
    "device",                       // DeviceLongIds
    "device",                       // DeviceNotPresentLeft
    "class filter",                 // ClassFilterLeft
    "registry tree",                // TreeUndeletable
    "registry tree",                // TreeLeft
    "registry tree",                // TreeUnreadable
    "service group",                // GroupOrderLeft
    "pending deletion",             // PendingDeletion
    "shortcut",                     // ShortcutLeft
    "Start-menu group",             // MenuGroupKept
    "Start-menu group",             // MenuGroupLeft
    "file",                         // FileLeft
    "files",                        // FilesStranded
    "product folder",               // FolderLookedIn
    "product folder",               // FolderLeft
    "second run",                   // SecondRun
    "service not stopped",          // ServiceNotStopped
    "server not unregistered",      // ServerNotUnregistered
    "folder refused",               // FolderRefused
    "folder on a share",            // FolderOnShare
    "device left",                  // DeviceNotRemoved
    "device filter left",           // DeviceFilterLeftByRun
    "class filter left",            // ClassFilterLeftByRun
    "key not writable",             // KeyNotWritable
    "key not deletable",            // KeyNotDeletable
    "list with an unreadable name", // ListWithUnreadableName
};
static_assert(sizeof KINDS / sizeof KINDS[0] == (size_t)Reason::ListWithUnreadableName + 1,
              "a kind for each reason");

} // namespace

const char* KindOf(Reason reason) {
    return KINDS[(int)reason];
}

} // namespace Check
