#include "verdict.h"

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

const char* KindOf(Reason reason) {
    switch (reason) {
    case Reason::ServicesUnlisted:
        return "services";
    case Reason::ClassesUnlisted:
        return "setup classes";
    case Reason::DevicesUnlisted:
        return "devices";
    case Reason::ServiceKeyUnreadable:
        return "service key";
    case Reason::ClassKeyUnreadable:
        return "class key";
    case Reason::ClassFilterWillNotLoad:
    case Reason::ClassFilterLeft:
        return "class filter";
    case Reason::DeviceWillNotStart:
    case Reason::DeviceWithoutDriver:
    case Reason::DeviceLeft:
    case Reason::DeviceLongIds:
    case Reason::DeviceNotPresentLeft:
        return "device";
    case Reason::DeviceDisabled:
        return "device disabled";
    case Reason::DeviceNotPresent:
        return "device not present";
    case Reason::ServiceWillNotStart:
    case Reason::ServiceMarked:
    case Reason::ServiceLeft:
        return "service";
    case Reason::NoControlSet:
        return "boot";
    case Reason::ImagesNotLooked:
        return "files not looked at";
    case Reason::LastKnownGood:
        return "last known good";
    case Reason::ControlSetJudged:
        return "control set";
    case Reason::TreeUndeletable:
    case Reason::TreeLeft:
    case Reason::TreeUnreadable:
        return "registry tree";
    case Reason::GroupOrderLeft:
        return "service group";
    case Reason::PendingDeletion:
        return "pending deletion";
    case Reason::ShortcutLeft:
        return "shortcut";
    case Reason::MenuGroupKept:
    case Reason::MenuGroupLeft:
        return "Start-menu group";
    case Reason::FileLeft:
        return "file";
    case Reason::FilesStranded:
        return "files";
    case Reason::FolderLookedIn:
    case Reason::FolderLeft:
        return "product folder";
    case Reason::SecondRun:
        return "second run";
    case Reason::ServiceNotStopped:
        return "service not stopped";
    case Reason::ServerNotUnregistered:
        return "server not unregistered";
    case Reason::FolderRefused:
        return "folder refused";
    case Reason::FolderOnShare:
        return "folder on a share";
    case Reason::DeviceNotRemoved:
        return "device left";
    case Reason::DeviceFilterLeftByRun:
        return "device filter left";
    case Reason::ClassFilterLeftByRun:
        return "class filter left";
    case Reason::KeyNotWritable:
        return "key not writable";
    case Reason::KeyNotDeletable:
        return "key not deletable";
    case Reason::ListWithUnreadableName:
        return "list with an unreadable name";
    }
    return "";
}

} // namespace Check
