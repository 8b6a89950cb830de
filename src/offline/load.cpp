// A Windows that is not running, made into the simulated Windows as its next
// boot would find it: the SYSTEM hive with the control set "Select\Default"
// names as the current one, the SOFTWARE hive, a service manager record for
// each service key, a device for each device key, and of the files what the
// reader looks at: the image files the services name, the folders the loader
// searches, the product's folder and the Start menus.
#include "hive.h"
#include "offline.h"

#include "../catalogue/catalogue.h"
#include "../check/check.h"
#include "../platform/sim/machine.h"
#include "../platform/windows_keys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sys/stat.h>

namespace Offline {

namespace {

// UTF-16LE bytes as the simulated registry keeps a string's data: UTF-8
// text, each unit converted, NULs and all.
std::vector<BYTE> TextData(const char* bytes, size_t length) {
    std::u16string wide = Unicode::FromLittleEndian((const unsigned char*)bytes, length);
    std::string text = Sim::WideToText(wide.data(), wide.size());
    return std::vector<BYTE>(text.begin(), text.end());
}

void CopyValues(const Hive& hive, hive_node_h node, Sim::Key* key) {
    hive_value_h* values = hivex_node_values(hive.get(), node);
    for (size_t i = 0; values != nullptr && values[i] != 0; ++i) {
        char* name = hivex_value_key(hive.get(), values[i]);
        hive_type type;
        size_t length = 0;
        char* bytes = hivex_value_value(hive.get(), values[i], &type, &length);
        if (name != nullptr && bytes != nullptr) {
            Sim::Value value;
            value.type = (DWORD)type;
            if (Sim::IsText(value.type))
                value.data = TextData(bytes, length);
            else
                value.data.assign(bytes, bytes + length);
            key->values.push_back({Sim::TextToAnsi(name), value});
        }
        std::free(name);
        std::free(bytes);
    }
    std::free(values);
}

// A hive's key and everything below it, as `key`'s values and subkeys.
void CopyTree(const Hive& hive, hive_node_h node, Sim::Key* key) {
    CopyValues(hive, node, key);
    for (hive_node_h child : hive.Children(node)) {
        auto made = std::make_shared<Sim::Key>();
        made->name = hive.Name(child);
        made->parent = key;
        CopyTree(hive, child, made.get());
        key->children[made->name] = made;
    }
}

Sim::Key* Child(Sim::Key* parent, const std::string& name) {
    std::shared_ptr<Sim::Key>& child = parent->children[name];
    if (!child) {
        child = std::make_shared<Sim::Key>();
        child->name = name;
        child->parent = parent;
    }
    return child.get();
}

// How much of a key is copied: nothing, its values, all below it, or by
// the rules of a control set's part.
enum class Copy { None, Values, Tree, Devices, Control, Classes };

Copy ControlPart(const std::string& name) {
    // The product's own key, the setup classes (their values: the filters),
    // the pending deletions, the group order and the hardware profile's number.
    static const std::string product =
        std::string(PRODUCT_CONTROL_KEY).substr(std::string(KEY_CONTROL).size() + 1);
    if (Sim::SameName(name, product))
        return Copy::Tree;
    if (Sim::SameName(name, "Class"))
        return Copy::Classes;
    for (const char* part : {"Session Manager", "ServiceGroupOrder", "IDConfigDB"}) {
        if (Sim::SameName(name, part))
            return Copy::Values;
    }
    return Copy::None;
}

void CopyAs(const Hive& hive, hive_node_h node, Sim::Key* key, Copy copy, int depth = 0) {
    if (copy == Copy::Tree) {
        CopyTree(hive, node, key);
        return;
    }
    CopyValues(hive, node, key);
    // Enum\<enumerator>\<device>\<instance>: the instances' values, not
    // their own subkeys.
    if (copy == Copy::Values || (copy == Copy::Devices && depth == 3))
        return;
    for (hive_node_h child : hive.Children(node)) {
        std::string name = hive.Name(child);
        Copy below = copy == Copy::Control   ? ControlPart(name)
                     : copy == Copy::Classes ? Copy::Values
                                             : copy;
        if (below != Copy::None)
            CopyAs(hive, child, Child(key, name), below, depth + 1);
    }
}

// Of a control set, what the reader and the judge read: its services and
// hardware profiles whole, its device keys' values, and of "Control" the
// keys ControlPart names. The rest (the critical device database, power,
// WMI, a device's own subkeys) is never read: left out, a large machine's
// hive is read in a fraction of the time.
void CopySet(const Hive& hive, hive_node_h set, Sim::Key* key) {
    CopyValues(hive, set, key);
    for (hive_node_h child : hive.Children(set)) {
        std::string name = hive.Name(child);
        Copy copy = Sim::SameName(name, "Services") || Sim::SameName(name, "Hardware Profiles")
                        ? Copy::Tree
                    : Sim::SameName(name, "Enum")    ? Copy::Devices
                    : Sim::SameName(name, "Control") ? Copy::Control
                                                     : Copy::None;
        if (copy != Copy::None)
            CopyAs(hive, child, Child(key, name), copy);
    }
}

// A REG_DWORD's number, from its four bytes (low first); none for any other value.
std::optional<DWORD> Number(DWORD type, const std::vector<unsigned char>& data) {
    if (type != REG_DWORD || data.size() != 4)
        return std::nullopt;
    return (DWORD)data[0] | (DWORD)data[1] << 8 | (DWORD)data[2] << 16 | (DWORD)data[3] << 24;
}

std::optional<DWORD> DwordOf(const Hive& hive, hive_node_h node, const char* name) {
    hive_type type;
    std::vector<unsigned char> data;
    if (!RawValue(hive, node, name, &type, &data))
        return std::nullopt;
    return Number((DWORD)type, data);
}

// The sim's string value as text without its ending NULs; "" when absent.
std::string SimText(const char* path, const char* name) {
    Sim::Value value;
    if (!Sim::ReadValue(HKEY_LOCAL_MACHINE, path, name, &value) || !Sim::IsText(value.type))
        return "";
    std::string text = Sim::TextToAnsi(std::string(value.data.begin(), value.data.end()));
    return text.substr(0, text.find('\0'));
}

// The files of the machine's system drive, made into the simulated drive as
// the reader asks for them: each folder on the way listed once, its entries
// made as empty files and unlisted folders.
class Disk {
  public:
    // `windows` is the Windows folder on disk and `windowsPath` the one the
    // machine names ("C:\WINDOWS"); the rest of its drive lies in the folder above.
    Disk(const std::string& windows, const std::string& windowsPath)
        : windowsFolder(windows), windowsPath(windowsPath) {
        size_t slash = windows.find_last_of('/');
        driveFolder = slash == std::string::npos || slash == 0 ? "/" : windows.substr(0, slash);
        // The Windows folder may be mounted under another name than its own.
        Sim::MakeDirectory(windowsPath + "\\");
    }

    // Makes what `path` ("C:\...") names, if the disk has it, every entry of
    // the folders on its way, and a folder's own entries, its place on the
    // disk in `reached`; false when the disk has no such file or folder.
    bool Reach(const std::string& path, std::string* reached = nullptr) {
        if (path.size() < 3 || !Sim::SameName(path.substr(0, 2), windowsPath.substr(0, 2)) ||
            path[2] != '\\')
            return false;
        std::string sim = path.substr(0, 2);
        std::string disk = driveFolder;
        size_t at = 3;
        while (at < path.size()) {
            size_t end = path.find('\\', at);
            if (end == std::string::npos)
                end = path.size();
            std::string part = path.substr(at, end - at);
            at = end + 1;
            if (part.empty())
                continue;
            List(sim, disk);
            Sim::Node* folder = Sim::FindNode(sim + "\\");
            if (folder == nullptr)
                return false;
            auto found = folder->children.find(part);
            if (found == folder->children.end())
                return false;
            sim += "\\" + found->first;
            disk = Sim::SameName(sim, windowsPath) ? windowsFolder
                                                   : disk + "/" + Named(disk, found->first);
        }
        Sim::Node* node = Sim::FindNode(sim);
        if (node != nullptr && node->directory)
            List(sim, disk);
        if (reached != nullptr)
            *reached = disk;
        return node != nullptr;
    }

    // Makes a folder and everything below it, files with their contents.
    void Copy(const std::string& path) {
        std::string disk;
        if (!Reach(path, &disk))
            return;
        Sim::Node* node = Sim::FindNode(path);
        if (node == nullptr || !node->directory)
            return;
        CopyBelow(path, disk);
    }

  private:
    // The disk name of an entry listed as `simName` in `disk`.
    std::string Named(const std::string& disk, const std::string& simName) {
        auto names = diskNames.find(disk);
        if (names != diskNames.end()) {
            auto found = names->second.find(simName);
            if (found != names->second.end())
                return found->second;
        }
        return simName;
    }

    void List(const std::string& sim, const std::string& disk) {
        if (!listed.insert(Strings::Upper(sim)).second)
            return;
        Sim::Node* folder = Sim::MakeDirectory(sim + "\\");
        DIR* dir = opendir(disk.c_str());
        if (dir == nullptr)
            return;
        std::map<std::string, std::string, Strings::NoCase>& names = diskNames[disk];
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string ansi = Sim::TextToAnsi(name);
            names[ansi] = name;
            if (folder->children.count(ansi) != 0)
                continue;
            struct stat status;
            bool directory =
                stat((disk + "/" + name).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
            auto node = std::make_unique<Sim::Node>();
            node->name = ansi;
            node->directory = directory;
            folder->children[ansi] = std::move(node);
        }
        closedir(dir);
    }

    void CopyBelow(const std::string& sim, const std::string& disk) {
        List(sim, disk);
        Sim::Node* folder = Sim::FindNode(sim + "\\");
        std::vector<std::pair<std::string, bool>> entries;
        for (auto& child : folder->children)
            entries.push_back({child.first, child.second->directory});
        for (auto& entry : entries) {
            std::string simPath = sim + "\\" + entry.first;
            std::string diskPath = disk + "/" + Named(disk, entry.first);
            if (entry.second) {
                CopyBelow(simPath, diskPath);
                continue;
            }
            std::ifstream in(diskPath, std::ios::binary);
            Sim::Node* file = Sim::FindNode(simPath);
            if (in && file != nullptr)
                file->content.assign(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
        }
    }

    std::string windowsFolder, windowsPath, driveFolder;
    std::set<std::string> listed;
    std::map<std::string, std::map<std::string, std::string, Strings::NoCase>> diskNames;
};

// A profile path as ProfileList holds it, its drive and Windows folder named.
std::string Expanded(std::string path) {
    const std::string windows = Sim::Current().windowsDirectory;
    const std::pair<const char*, std::string> names[] = {
        {"%SystemDrive%", windows.substr(0, 2)}, {"%SystemRoot%", windows}, {"%windir%", windows}};
    for (auto& name : names) {
        std::string upper = Strings::Upper(name.first);
        size_t at = Strings::Upper(path).find(upper);
        if (at != std::string::npos)
            path.replace(at, upper.size(), name.second);
    }
    return path;
}

// The Start menus the uninstaller cleans, where this machine keeps them.
// The common one is in Explorer's "Shell Folders". A running machine's own
// is that of the user who runs the reader; offline there is none, so it is
// the built-in Administrator's profile (its SID ends in -500), or the one
// user profile there is: in the layout of Windows 2000/XP, or of the later
// versions (and Wine).
void StartMenus(Disk* disk, Reading* reading) {
    Sim::Machine& m = Sim::Current();
    std::string common = SimText(
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Common Programs");
    if (common.size() > 3 && common[1] == ':')
        m.commonProgramsFolder = common;
    Sim::Key* profiles = Sim::FindKey(
        HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
    if (profiles == nullptr)
        return;
    std::vector<std::string> users;
    std::string administrator;
    for (auto& child : profiles->children) {
        const Sim::Value* path = child.second->FindValue("ProfileImagePath");
        if (Strings::Upper(child.first).rfind("S-1-5-21-", 0) != 0 || path == nullptr ||
            !Sim::IsText(path->type))
            continue;
        std::string text = Sim::TextToAnsi(std::string(path->data.begin(), path->data.end()));
        text = Expanded(text.substr(0, text.find('\0')));
        users.push_back(text);
        if (child.first.size() > 4 && child.first.compare(child.first.size() - 4, 4, "-500") == 0)
            administrator = text;
    }
    std::string profile = !administrator.empty() ? administrator
                          : users.size() == 1    ? users[0]
                                                 : "";
    if (profile.empty()) {
        if (!users.empty())
            reading->warnings.push_back(std::to_string(users.size()) +
                                        " user profiles and none the built-in Administrator's: "
                                        "no user's own Start menu is looked at");
        return;
    }
    for (const char* layout : {"\\Start Menu\\Programs",
                               "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"}) {
        if (disk->Reach(profile + layout)) {
            m.programsFolder = profile + layout;
            return;
        }
    }
    m.programsFolder = profile + "\\Start Menu\\Programs";
}

bool Fail(Reading* reading, int status, const std::string& why) {
    reading->status = status;
    reading->why = why;
    return false;
}

// The hive at `path`, checked and opened; false with the reading's status set.
bool OpenHive(const std::string& path, Hive* hive, HiveFile* file, Reading* reading) {
    std::string why;
    int status = CheckHive(path, file, &why);
    if (status != 0)
        return Fail(reading, status, why);
    if (!hive->Open(path, false, &why))
        return Fail(reading, DAMAGED_HIVE, why);
    return true;
}

bool IsSystemHive(const Hive& hive) {
    if (hive.Child(hive.Root(), "Select") != 0)
        return true;
    for (hive_node_h child : hive.Children(hive.Root())) {
        if (Strings::Upper(hive.Name(child)).rfind("CONTROLSET", 0) == 0)
            return true;
    }
    return false;
}

// The GetVersion word of the version SOFTWARE names ("5.1", build "2600").
DWORD VersionWord(const std::string& version, const std::string& build) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(version.c_str(), "%u.%u", &major, &minor) != 2)
        return 0;
    return (DWORD)(major & 0xFF) | (DWORD)(minor & 0xFF) << 8 |
           (DWORD)(std::strtoul(build.c_str(), nullptr, 10) & 0x7FFF) << 16;
}

// What of a service's key names its image.
Description::BootService ImageOf(const std::string& name, const Sim::Key& key) {
    Description::BootService boot;
    boot.name = name;
    if (const Sim::Value* type = key.FindValue("Type"))
        boot.type = Number(type->type, type->data);
    const Sim::Value* image = key.FindValue("ImagePath");
    if (image != nullptr && Sim::IsText(image->type)) {
        std::string text(image->data.begin(), image->data.end());
        boot.imagePath = text.substr(0, text.find('\0'));
    }
    return boot;
}

// "Hardware Profiles\Current" of the current set, as the boot links it.
void LinkCurrentProfile() {
    Sim::Key* profiles = Sim::FindKey(HKEY_LOCAL_MACHINE, KEY_HARDWARE_PROFILES);
    Sim::Value current;
    if (profiles == nullptr || profiles->children.count("Current") != 0 ||
        !Sim::ReadValue(HKEY_LOCAL_MACHINE, KEY_CONTROL "\\IDConfigDB", "CurrentConfig", &current))
        return;
    std::optional<DWORD> number = Number(current.type, current.data);
    if (!number)
        return;
    char name[16];
    std::snprintf(name, sizeof name, "%04u", (unsigned)*number);
    auto found = profiles->children.find(name);
    if (found != profiles->children.end())
        profiles->children["Current"] = found->second; // the same key, as a link is
}

} // namespace

std::string SystemHivePath(const Place& place) {
    if (!place.systemHive.empty())
        return place.systemHive;
    return FindNoCase(place.windowsFolder, "system32/config/SYSTEM");
}

namespace {

// The Windows folder given, checked before any hive is opened: false with
// the reading's status when it is none, or holds no Windows.
bool CheckWindowsFolder(const Place& place, Reading* reading) {
    if (place.windowsFolder.empty())
        return true;
    struct stat status;
    if (stat(place.windowsFolder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return Fail(reading, NO_WINDOWS, place.windowsFolder + " is not a folder");
    if (!place.systemHive.empty() || !SystemHivePath(place).empty())
        return true;
    // The drive's root given for its Windows folder, most likely.
    std::string hint;
    for (const char* folder : {"WINDOWS", "WINNT"}) {
        std::string found = FindNoCase(place.windowsFolder, folder);
        if (hint.empty() && !found.empty() && !FindNoCase(found, "system32/config/SYSTEM").empty())
            hint = ": its Windows folder is " + found + ", give that";
    }
    return Fail(reading, NO_WINDOWS,
                place.windowsFolder + " holds no Windows: it has no system32\\config\\SYSTEM" +
                    hint);
}

// The SYSTEM hive at `path` opened, and its control set the next boot uses
// (`*controlSet`, 0: the one "Select" names as the default) found: false
// with the reading's status when either cannot be had.
bool OpenSystem(const std::string& path, Hive* system, DWORD* controlSet, hive_node_h* set,
                Reading* reading) {
    HiveFile file;
    if (!OpenHive(path, system, &file, reading))
        return false;
    if (!IsSystemHive(*system))
        return Fail(reading, WRONG_HIVE,
                    path + " is not a SYSTEM hive: it holds no control set and no \"Select\"");
    if (file.dirty) {
        reading->dirty = true;
        reading->warnings.push_back(file.dirtyWhy +
                                    ": Windows replays its log at the next boot, which these "
                                    "findings do not include");
    }
    hive_node_h select = system->Child(system->Root(), "Select");
    if (select == 0)
        return Fail(reading, NO_CONTROL_SET,
                    path + " has no \"Select\" key: which control set the next boot uses "
                           "cannot be told");
    if (*controlSet == 0)
        *controlSet = DwordOf(*system, select, "Default").value_or(0);
    reading->controlSet = *controlSet;
    *set = *controlSet == 0
               ? 0
               : system->Child(system->Root(), Description::ControlSetName(*controlSet));
    if (*set == 0)
        return Fail(reading, NO_CONTROL_SET,
                    path + ": \"Select\" names control set " + std::to_string(*controlSet) +
                        ", which the hive does not hold");
    return true;
}

// The SOFTWARE hive of the place opened, when it has one (`*path` "" when
// not): false with the reading's status when it cannot be read.
bool OpenSoftware(const Place& place, Hive* software, std::string* path, Reading* reading) {
    *path = place.softwareHive;
    if (path->empty() && !place.windowsFolder.empty())
        *path = FindNoCase(place.windowsFolder, "system32/config/SOFTWARE");
    if (path->empty()) {
        reading->warnings.push_back("no SOFTWARE hive: what the product keeps there is not read");
        return true;
    }
    HiveFile file;
    if (!OpenHive(*path, software, &file, reading))
        return false;
    if (IsSystemHive(*software))
        return Fail(reading, WRONG_HIVE, *path + " is not a SOFTWARE hive: it holds control sets");
    if (file.dirty)
        reading->warnings.push_back(file.dirtyWhy);
    return true;
}

// The simulated machine made empty, with the simulated Windows' own settings.
Sim::Machine& EmptyMachine() {
    Sim::Reset();
    Sim::Machine& m = Sim::Current();
    m.journalOn = false;
    m.machineRoot = std::make_shared<Sim::Key>();
    m.machineRoot->name = "HKLM";
    m.services.clear();
    m.devices.clear();
    m.nextDevInst = 1;
    m.fileRoot.children.clear();
    return m;
}

// The hives made into the machine's registry: SYSTEM's control sets (`set`
// as the current one) as the reader reads them, the rest whole, and
// SOFTWARE (when `software` is open) whole.
void CopyHives(const Hive& system, hive_node_h set, DWORD controlSet, const Hive* software) {
    Sim::Key* root = Sim::Current().machineRoot.get();
    Sim::Key* systemKey = Child(root, "SYSTEM");
    for (hive_node_h child : system.Children(system.Root())) {
        std::string name = system.Name(child);
        // On Windows "CurrentControlSet" is a link made at each boot, never
        // saved: one a hive holds is not what the boot uses.
        if (Sim::SameName(name, "CurrentControlSet"))
            continue;
        if (child == set)
            name = "CurrentControlSet";
        if (Strings::Upper(name).rfind("CONTROLSET", 0) == 0 ||
            Sim::SameName(name, "CurrentControlSet"))
            CopySet(system, child, Child(systemKey, name));
        else
            CopyTree(system, child, Child(systemKey, name));
    }
    // The set the next boot uses is the current one here.
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", "Current", REG_DWORD,
                  Sim::Dword(controlSet));
    Sim::Key* softwareKey = Child(root, "SOFTWARE");
    if (software != nullptr)
        CopyTree(*software, software->Root(), softwareKey);
    Child(softwareKey, "Classes"); // HKEY_CLASSES_ROOT, there even when empty
}

// The Windows version and folders SOFTWARE names, as the machine's own.
void TakeVersionAndFolders(bool hasSoftware, Reading* reading) {
    Sim::Machine& m = Sim::Current();
    const char* versionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    DWORD version = VersionWord(SimText(versionKey, "CurrentVersion"),
                                SimText(versionKey, "CurrentBuildNumber"));
    if (version != 0)
        m.version = version;
    else if (hasSoftware)
        reading->warnings.push_back("the SOFTWARE hive names no Windows version: taken as XP");
    std::string windowsPath = SimText(versionKey, "SystemRoot");
    if (windowsPath.size() < 3 || windowsPath[1] != ':')
        windowsPath = "C:\\WINDOWS";
    while (windowsPath.size() > 3 && windowsPath.back() == '\\')
        windowsPath.pop_back();
    m.windowsDirectory = windowsPath;
    m.systemDirectory = windowsPath + "\\system32";
}

// The service manager builds its database from the service keys that name
// a type; nothing runs on a machine that is switched off.
void TakeServices() {
    Sim::Key* services = Sim::FindKey(HKEY_LOCAL_MACHINE, KEY_SERVICES);
    if (services == nullptr)
        return;
    for (auto& child : services->children) {
        if (child.second->FindValue("Type") != nullptr)
            Sim::Current().services[Sim::TextToAnsi(child.first)] = Sim::Service();
    }
}

// A device key's string value as the device's property: UTF-16LE bytes;
// false (and none) when it has no such string.
bool Property(const Sim::Key& key, const char* name, std::vector<BYTE>* out) {
    const Sim::Value* value = key.FindValue(name);
    out->clear();
    if (value == nullptr || !Sim::IsText(value->type))
        return false;
    *out =
        Unicode::LittleEndian(Sim::TextToWide(std::string(value->data.begin(), value->data.end())));
    return true;
}

// Each device key is a device: nothing in a hive says which are attached.
void TakeDevices() {
    Sim::Key* enumerators = Sim::FindKey(HKEY_LOCAL_MACHINE, KEY_CONTROL_SET "\\Enum");
    if (enumerators == nullptr)
        return;
    for (auto& enumerator : enumerators->children) {
        for (auto& kind : enumerator.second->children) {
            for (auto& instance : kind.second->children) {
                const Sim::Key& key = *instance.second;
                std::string id =
                    Sim::TextToAnsi(enumerator.first + "\\" + kind.first + "\\" + instance.first);
                GUID guid{};
                const Sim::Value* classGuid = key.FindValue("ClassGUID");
                if (classGuid != nullptr && Sim::IsText(classGuid->type)) {
                    std::string text(classGuid->data.begin(), classGuid->data.end());
                    Description::GuidOf(text.substr(0, text.find('\0')), &guid);
                }
                Sim::Device& device = Sim::AddDevice(id, guid, {});
                device.hasHardwareIds = Property(key, "HardwareID", &device.hardwareIds);
                Property(key, "UpperFilters", &device.upperFilters);
                Property(key, "LowerFilters", &device.lowerFilters);
                Property(key, "Service", &device.service);
                const Sim::Value* flags = key.FindValue("ConfigFlags");
                if (flags != nullptr && flags->type == REG_DWORD && flags->data.size() == 4)
                    device.configFlags = flags->data;
            }
        }
    }
}

// The files of the Windows folder's drive the reader asks for: the folders
// the loader searches, every image any set's services name, the product's
// folders and the Start menus.
void TakeFiles(const Place& place, Reading* reading) {
    Sim::Machine& m = Sim::Current();
    const std::string windowsPath = m.windowsDirectory;
    Disk disk(place.windowsFolder, windowsPath);
    for (const char* folder : {"", "\\system32", "\\system32\\drivers", "\\system"})
        disk.Reach(windowsPath + folder);
    for (auto& setKey : Sim::FindKey(HKEY_LOCAL_MACHINE, "SYSTEM")->children) {
        Sim::Key* services = Sim::FindKeyBelow(setKey.second.get(), "Services");
        if (services == nullptr)
            continue;
        for (auto& service : services->children) {
            Description::BootService boot = ImageOf(service.first, *service.second);
            for (const std::string& file :
                 Description::ImageFiles(boot, windowsPath, Description::KindOf(boot)))
                disk.Reach(Sim::TextToAnsi(file));
        }
    }
    std::string programFiles =
        SimText("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
    std::vector<std::string> products = {SimText(PRODUCT_CONTROL_KEY, PRODUCT_FOLDER_VALUE),
                                         programFiles.empty() ? Description::PRODUCT_FOLDER
                                                              : programFiles + "\\Tallowin",
                                         place.productFolder};
    for (const std::string& folder : products) {
        if (!folder.empty())
            disk.Copy(folder);
    }
    StartMenus(&disk, reading);
    disk.Copy(m.programsFolder);
    disk.Copy(m.commonProgramsFolder);
}

} // namespace

bool Load(const Place& place, DWORD controlSet, Reading* reading) {
    *reading = Reading();
    if (!CheckWindowsFolder(place, reading))
        return false;
    Hive system;
    hive_node_h set = 0;
    if (!OpenSystem(SystemHivePath(place), &system, &controlSet, &set, reading))
        return false;
    Hive software;
    std::string softwarePath;
    if (!OpenSoftware(place, &software, &softwarePath, reading))
        return false;

    Sim::Machine& m = EmptyMachine();
    CopyHives(system, set, controlSet, softwarePath.empty() ? nullptr : &software);
    TakeVersionAndFolders(!softwarePath.empty(), reading);
    TakeServices();
    TakeDevices();
    // The hardware profile the machine runs is a link made at each boot,
    // never saved: the one "IDConfigDB\\CurrentConfig" names stands for it.
    LinkCurrentProfile();
    // The files, from the Windows folder's drive. Without it no file is
    // looked at, and the reader is told so (NotLooked).
    if (!place.windowsFolder.empty()) {
        TakeFiles(place, reading);
    } else {
        Sim::MakeDirectory(m.systemDirectory + "\\drivers\\");
        reading->filesRead = false;
        m.imagesLooked = false;
        reading->warnings.push_back("no Windows folder (--windows DIR): the image files and the "
                                    "product's files are not looked at");
    }
    m.journal.clear();
    m.journalOn = true;
    return true;
}

bool Read(const Place& place, DWORD controlSet, Description::Machine* machine, Reading* reading) {
    if (!Load(place, controlSet, reading))
        return false;
    *machine = Description::Describe(place.productFolder);
    machine->boot.imagesLooked = reading->filesRead;
    return true;
}

bool Read(const Place& place, Description::Machine* machine, Reading* reading) {
    return Read(place, 0, machine, reading);
}

} // namespace Offline
