// Reads a machine through a table of the platform boundary's functions,
// asking for read rights only.
#include "description.h"

#include "../catalogue/catalogue.h"
#include "../platform/pending_renames.h"
#include "../platform/windows_keys.h"
#include "calls.h"
#include "exports.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace Description {

namespace {

constexpr DWORD NAME_BUFFER_SIZE = 16384; // the longest value name Windows allows, and its NUL
constexpr DWORD KEY_NAME_SIZE = 256;      // the longest key name, and its NUL

const char SESSION_MANAGER[] = KEY_SESSION_MANAGER;

std::string RootPrefix(HKEY root) {
    return root == HKEY_CLASSES_ROOT ? "HKCR\\" : "HKLM\\";
}

// Closes a registry key on every path out of a scope.
struct KeyGuard {
    const Calls& win;
    HKEY key = nullptr;
    ~KeyGuard() {
        if (key != nullptr)
            win.RegCloseKey(key);
    }
};

std::vector<std::string> Subkeys(const Calls& win, HKEY key) {
    std::vector<std::string> children;
    char name[KEY_NAME_SIZE];
    for (DWORD index = 0; win.RegEnumKeyA(key, index, name, KEY_NAME_SIZE) == ERROR_SUCCESS;
         ++index)
        children.push_back(name);
    return children;
}

void ReadValues(const Calls& win, HKEY key, Key* out) {
    std::vector<char> name(NAME_BUFFER_SIZE);
    std::vector<BYTE> data(4096);
    for (DWORD index = 0;;) {
        DWORD nameSize = NAME_BUFFER_SIZE;
        DWORD dataSize = (DWORD)data.size();
        DWORD type = 0;
        LONG status = win.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type,
                                        data.data(), &dataSize);
        if (status == ERROR_MORE_DATA && dataSize > data.size()) {
            data.resize(dataSize);
            continue; // the same index again, with room
        }
        if (status != ERROR_SUCCESS)
            return;
        out->values.push_back({std::string(name.data(), nameSize), type,
                               std::vector<BYTE>(data.begin(), data.begin() + dataSize)});
        ++index;
    }
}

void ReadKey(const Calls& win, HKEY root, const std::string& path, bool subkeys,
             std::vector<Key>* out) {
    KeyGuard key{win};
    LONG status = win.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key.key);
    if (status == ERROR_FILE_NOT_FOUND)
        return;
    Key described;
    described.path = RootPrefix(root) + path;
    if (status != ERROR_SUCCESS) {
        described.readable = false;
        out->push_back(described);
        return;
    }
    ReadValues(win, key.key, &described);
    out->push_back(described);
    if (!subkeys)
        return;
    for (const std::string& child : Subkeys(win, key.key))
        ReadKey(win, root, path + "\\" + child, true, out);
}

// The names of a key's subkeys (none when it cannot be opened).
std::vector<std::string> Subkeys(const Calls& win, HKEY root, const char* path) {
    KeyGuard key{win};
    if (win.RegOpenKeyExA(root, path, 0, KEY_READ, &key.key) != ERROR_SUCCESS)
        return {};
    return Subkeys(win, key.key);
}

void ReadServices(const Calls& win, Machine* machine) {
    std::vector<std::string> names = DescribedServices();
    SC_HANDLE scm =
        win.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    for (const std::string& name : names) {
        ReadKey(win, HKEY_LOCAL_MACHINE, SERVICES_KEY + name, true, &machine->registry);
        if (scm == nullptr)
            continue;
        SC_HANDLE service = win.OpenServiceA(scm, name.c_str(), SERVICE_QUERY_STATUS);
        if (service == nullptr)
            continue;
        Service described;
        described.name = name;
        SERVICE_STATUS status;
        if (win.QueryServiceStatus(service, &status)) {
            described.state = status.dwCurrentState;
            // A running service (or driver) that does not take a stop
            // control refuses it; a driver has no program of its own.
            bool driver =
                (status.dwServiceType & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
            bool refuses = status.dwCurrentState == SERVICE_RUNNING &&
                           !(status.dwControlsAccepted & SERVICE_ACCEPT_STOP);
            described.program = refuses  ? Program::RefusesStop
                                : driver ? Program::None
                                         : Program::Records;
        }
        win.CloseServiceHandle(service);
        machine->services.push_back(described);
    }
    if (scm != nullptr)
        win.CloseServiceHandle(scm);
}

std::string GuidText(const GUID& guid) {
    char text[GUID_TEXT_SIZE + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  (unsigned)guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                  guid.Data4[7]);
    return text;
}

// A device property's bytes; none when it is not set or cannot be read.
std::vector<BYTE> ReadProperty(const Calls& win, HDEVINFO set, SP_DEVINFO_DATA* record,
                               DWORD property) {
    std::vector<BYTE> bytes;
    DWORD required = 0;
    win.SetupDiGetDeviceRegistryPropertyW(set, record, property, nullptr, nullptr, 0, &required);
    if (required == 0)
        return bytes;
    bytes.resize(required);
    DWORD returned = 0;
    if (!win.SetupDiGetDeviceRegistryPropertyW(set, record, property, nullptr, bytes.data(),
                                               required, &returned))
        return {};
    bytes.resize(returned);
    return bytes;
}

// Instance IDs of the devices a set holds, each with its record; `read`
// false when the set cannot be had.
std::vector<Device> ReadDeviceSet(const Calls& win, DWORD flags, bool* read) {
    std::vector<Device> devices;
    HDEVINFO set = win.SetupDiGetClassDevsA(nullptr, nullptr, nullptr, flags);
    *read = set != INVALID_HANDLE_VALUE;
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA record;
        record.cbSize = sizeof record;
        if (!win.SetupDiEnumDeviceInfo(set, index, &record))
            break;
        Device device;
        device.upperFilters = ReadProperty(win, set, &record, SPDRP_UPPERFILTERS);
        device.lowerFilters = ReadProperty(win, set, &record, SPDRP_LOWERFILTERS);
        std::vector<std::string> service = WideList(ReadProperty(win, set, &record, SPDRP_SERVICE));
        if (!service.empty())
            device.service = service[0];
        std::vector<BYTE> flags = ReadProperty(win, set, &record, SPDRP_CONFIGFLAGS);
        if (flags.size() == 4)
            device.configFlags =
                (DWORD)(flags[0] | flags[1] << 8 | flags[2] << 16 | (DWORD)flags[3] << 24);
        char id[MAX_PATH];
        if (!win.SetupDiGetDeviceInstanceIdA(set, &record, id, MAX_PATH, nullptr))
            continue;
        device.instanceId = id;
        device.classGuid = GuidText(record.ClassGuid);
        DWORD required = 0;
        win.SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_HARDWAREID, nullptr, nullptr, 0,
                                              &required);
        if (required != 0) {
            device.hardwareIds.resize(required);
            DWORD returned = 0;
            if (win.SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_HARDWAREID, nullptr,
                                                      device.hardwareIds.data(), required,
                                                      &returned)) {
                device.hardwareIds.resize(returned);
                device.hasHardwareIds = true;
            } else {
                device.hardwareIds.clear();
            }
        }
        devices.push_back(device);
    }
    win.SetupDiDestroyDeviceInfoList(set);
    return devices;
}

void ReadDevices(const Calls& win, Machine* machine) {
    // A device is present when the present-only set holds it too.
    bool presentRead = false, allRead = false;
    std::vector<Device> present =
        ReadDeviceSet(win, DIGCF_PRESENT | DIGCF_ALLCLASSES, &presentRead);
    std::vector<Device> all = ReadDeviceSet(win, DIGCF_ALLCLASSES, &allRead);
    machine->boot.devicesReadable = presentRead && allRead;
    std::set<std::string> presentIds;
    for (const Device& device : present)
        presentIds.insert(device.instanceId);
    for (Device& device : all) {
        device.present = presentIds.count(device.instanceId) != 0;
        machine->devices.push_back(device);
    }
}

std::vector<std::string> SystemFolders(const Calls& win);

// Whether the key's security grants this process `rights`, asked of Windows
// without opening the key with them: its descriptor read with READ_CONTROL,
// checked against the process's own token. A check that cannot be made says
// nothing against the key.
bool Grants(const Calls& win, HKEY root, const std::string& path, DWORD rights) {
    KeyGuard key{win};
    if (win.RegOpenKeyExA(root, path.c_str(), 0, READ_CONTROL, &key.key) != ERROR_SUCCESS)
        return true;
    DWORD size = 0;
    win.RegGetKeySecurity(key.key,
                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                              DACL_SECURITY_INFORMATION,
                          nullptr, &size);
    if (size == 0 || size > 65536)
        return true;
    std::vector<BYTE> descriptor(size);
    if (win.RegGetKeySecurity(key.key,
                              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                  DACL_SECURITY_INFORMATION,
                              descriptor.data(), &size) != ERROR_SUCCESS)
        return true;
    HANDLE process = nullptr, token = nullptr;
    if (!win.OpenProcessToken(win.GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process))
        return true;
    bool duplicated = win.DuplicateToken(process, SecurityImpersonation, &token) != FALSE;
    win.CloseHandle(process);
    if (!duplicated)
        return true;
    GENERIC_MAPPING mapping = {KEY_READ, KEY_WRITE, KEY_READ, KEY_ALL_ACCESS};
    BYTE privileges[256] = {};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = TRUE;
    BOOL checked = win.AccessCheck(descriptor.data(), token, rights, &mapping,
                                   (PPRIVILEGE_SET)privileges, &privilegesSize, &granted, &allowed);
    win.CloseHandle(token);
    return !checked || allowed;
}

// What the next boot loads, read through the W functions so that names are
// the characters Windows holds.
//
// Opens `path` under HKLM for reading: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND or another failure.
LONG OpenWide(KeyGuard* key, const std::string& path, REGSAM access = KEY_READ) {
    std::u16string wide = Unicode::Utf16(path);
    return key->win.RegOpenKeyExW(HKEY_LOCAL_MACHINE, (LPCWSTR)wide.c_str(), 0, access, &key->key);
}

std::vector<std::string> WideSubkeys(const Calls& win, HKEY key) {
    std::vector<std::string> children;
    WCHAR name[KEY_NAME_SIZE];
    for (DWORD index = 0; win.RegEnumKeyW(key, index, name, KEY_NAME_SIZE) == ERROR_SUCCESS;
         ++index) {
        size_t units = 0;
        while (name[units] != 0)
            ++units;
        children.push_back(Unicode::Utf8((const char16_t*)name, units));
    }
    return children;
}

// A value's bytes through the W function; false when it is absent or unreadable.
bool QueryWide(const Calls& win, HKEY key, const char* name, DWORD* type, std::vector<BYTE>* data) {
    std::u16string wide = Unicode::Utf16(name);
    DWORD size = 0;
    if (win.RegQueryValueExW(key, (LPCWSTR)wide.c_str(), nullptr, type, nullptr, &size) !=
        ERROR_SUCCESS)
        return false;
    data->assign(size, 0);
    if (win.RegQueryValueExW(key, (LPCWSTR)wide.c_str(), nullptr, type, data->data(), &size) !=
        ERROR_SUCCESS)
        return false;
    data->resize(size);
    return true;
}

std::optional<DWORD> DwordAt(const Calls& win, HKEY key, const char* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!QueryWide(win, key, name, &type, &data) || type != REG_DWORD || data.size() != 4)
        return std::nullopt;
    return (DWORD)(data[0] | data[1] << 8 | data[2] << 16 | (DWORD)data[3] << 24);
}

std::optional<std::string> TextAt(const Calls& win, HKEY key, const char* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!QueryWide(win, key, name, &type, &data) || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::vector<std::string> text = WideList(data);
    return text.empty() ? std::string() : text[0];
}

std::vector<std::string> ListAt(const Calls& win, HKEY key, const char* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!QueryWide(win, key, name, &type, &data) || type != REG_MULTI_SZ)
        return {};
    return WideList(data);
}

// A filter value's entries, of whichever string type it is stored as.
std::vector<std::string> FiltersAt(const Calls& win, HKEY key, const char* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!QueryWide(win, key, name, &type, &data))
        return {};
    return FilterEntries(type, data);
}

void ReadBootServices(const Calls& win, const std::string& set, ControlSet* out) {
    KeyGuard services{win};
    LONG status = OpenWide(&services, set + "\\Services");
    out->servicesReadable = status == ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return;
    for (const std::string& name : WideSubkeys(win, services.key)) {
        BootService service;
        service.name = name;
        KeyGuard key{win};
        if (OpenWide(&key, set + "\\Services\\" + name, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
            service.readable = false;
            out->services.push_back(service);
            continue;
        }
        service.type = DwordAt(win, key.key, "Type");
        service.start = DwordAt(win, key.key, "Start");
        service.imagePath = TextAt(win, key.key, "ImagePath");
        service.errorControl = DwordAt(win, key.key, "ErrorControl");
        std::optional<DWORD> flag = DwordAt(win, key.key, "DeleteFlag");
        service.deleteFlag = flag && *flag != 0;
        service.group = TextAt(win, key.key, "Group").value_or("");
        service.dependOnService = ListAt(win, key.key, "DependOnService");
        service.dependOnGroup = ListAt(win, key.key, "DependOnGroup");
        out->services.push_back(service);
    }
}

void ReadBootClasses(const Calls& win, const std::string& set, ControlSet* out) {
    KeyGuard classes{win};
    std::string path = set + "\\Control\\Class";
    LONG status = OpenWide(&classes, path);
    out->classesReadable = status == ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return;
    for (const std::string& guid : WideSubkeys(win, classes.key)) {
        SetupClass setupClass;
        setupClass.guid = guid;
        KeyGuard key{win};
        if (OpenWide(&key, path + "\\" + guid, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
            setupClass.readable = false;
            out->classes.push_back(setupClass);
            continue;
        }
        setupClass.name = TextAt(win, key.key, "Class").value_or("");
        setupClass.upperFilters = FiltersAt(win, key.key, "UpperFilters");
        setupClass.lowerFilters = FiltersAt(win, key.key, "LowerFilters");
        out->classes.push_back(setupClass);
    }
}

// Another set's keys of the machine's devices (presence is the current set's).
void ReadDeviceKeys(const Calls& win, const std::string& set, const std::vector<Device>& devices,
                    ControlSet* out) {
    for (const Device& device : devices) {
        KeyGuard key{win};
        if (OpenWide(&key, set + "\\Enum\\" + device.instanceId, KEY_QUERY_VALUE) != ERROR_SUCCESS)
            continue;
        DeviceKey described;
        described.instanceId = device.instanceId;
        described.classGuid = TextAt(win, key.key, "ClassGUID").value_or("");
        described.service = TextAt(win, key.key, "Service").value_or("");
        described.upperFilters = FiltersAt(win, key.key, "UpperFilters");
        described.lowerFilters = FiltersAt(win, key.key, "LowerFilters");
        described.configFlags = DwordAt(win, key.key, "ConfigFlags");
        out->devices.push_back(described);
    }
}

// Each device's "CSConfigFlags" in the hardware profile the machine runs
// (the link "Hardware Profiles\Current" names it).
void ReadProfileFlags(const Calls& win, Machine* machine) {
    for (Device& device : machine->devices) {
        KeyGuard key{win};
        if (OpenWide(&key, KEY_PROFILE_ENUM "\\" + device.instanceId, KEY_QUERY_VALUE) ==
            ERROR_SUCCESS)
            device.profileFlags = DwordAt(win, key.key, "CSConfigFlags");
    }
}

void ReadBoot(const Calls& win, Machine* machine) {
    Boot& boot = machine->boot;
    std::vector<std::string> system = SystemFolders(win);
    boot.windowsFolder = system.size() > 1 ? system[1] : "";
    KeyGuard select{win};
    if (OpenWide(&select, "SYSTEM\\Select", KEY_QUERY_VALUE) == ERROR_SUCCESS) {
        boot.current = DwordAt(win, select.key, "Current").value_or(0);
        boot.defaultSet = DwordAt(win, select.key, "Default").value_or(0);
        boot.lastKnownGood = DwordAt(win, select.key, "LastKnownGood").value_or(0);
    }
    ControlSet current;
    current.name = "CurrentControlSet";
    ReadBootServices(win, "SYSTEM\\CurrentControlSet", &current);
    ReadBootClasses(win, "SYSTEM\\CurrentControlSet", &current);
    boot.sets.push_back(current);
    if (boot.lastKnownGood != 0 && boot.lastKnownGood != boot.current &&
        boot.lastKnownGood < 1000) {
        ControlSet other;
        other.name = ControlSetName(boot.lastKnownGood);
        std::string path = "SYSTEM\\" + other.name;
        KeyGuard exists{win};
        if (OpenWide(&exists, path, KEY_QUERY_VALUE) != ERROR_FILE_NOT_FOUND) {
            ReadBootServices(win, path, &other);
            ReadBootClasses(win, path, &other);
            ReadDeviceKeys(win, path, machine->devices, &other);
            boot.sets.push_back(other);
        }
    }
    // Each image file the sets' services name, looked for once: a driver's
    // by its path as given ("\\?\" keeps Win32 from trimming a trailing
    // space or turning "/"), a program's where CreateProcess searches.
    std::set<decltype(UpperUnicode(""))> looked;
    for (const ControlSet& set : boot.sets) {
        for (const BootService& service : set.services) {
            ImageKind kind = KindOf(service);
            for (const std::string& file : ImageFiles(service, boot.windowsFolder, kind)) {
                if (!looked.insert(UpperUnicode(file)).second)
                    continue;
                bool local = file.size() > 2 && file[1] == ':';
                std::u16string wide =
                    Unicode::Utf16(kind == ImageKind::Driver && local ? "\\\\?\\" + file : file);
                DWORD attributes = win.GetFileAttributesW((LPCWSTR)wide.c_str());
                if (attributes != INVALID_FILE_ATTRIBUTES &&
                    !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                    boot.images.push_back(file);
            }
        }
    }
    ReadProfileFlags(win, machine);
}

// Where the product's installer puts it unless told otherwise: under the
// machine's own program files folder (named otherwise on a localized
// Windows), else the English name's.
std::string DefaultProductFolder(const Calls& win) {
    KeyGuard key{win};
    char folder[MAX_PATH];
    DWORD size = sizeof folder - 1;
    DWORD type = 0;
    if (win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                          KEY_QUERY_VALUE, &key.key) != ERROR_SUCCESS ||
        win.RegQueryValueExA(key.key, "ProgramFilesDir", nullptr, &type, (LPBYTE)folder, &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return PRODUCT_FOLDER;
    folder[size] = 0;
    std::string path = folder;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    if (path.size() < 2 || path[1] != ':')
        return PRODUCT_FOLDER;
    return path + "\\Tallowin";
}

bool IsServer(const char* name) {
    for (const char* list : {MainServerList, SupportServerList}) {
        for (const std::string& entry : ListNames(list)) {
            if (SameText(entry, name))
                return true;
        }
    }
    return false;
}

bool IsFile(const Calls& win, const std::string& path) {
    DWORD attributes = win.GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folders besides a server's own where the loader finds what it
// imports: the system folder and the Windows folder, its parent.
std::vector<std::string> SystemFolders(const Calls& win) {
    char system[MAX_PATH];
    UINT length = win.GetSystemDirectoryA(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::string folder(system, length);
    std::string windows = WindowsFolderOf(folder);
    if (windows.empty())
        return {folder};
    return {folder, windows};
}

// A server library and what it imports, each import looked for beside it
// and in `systemFolders`, never loaded.
void ReadServer(const Calls& win, const std::string& folder, const std::string& path,
                const std::vector<std::string>& systemFolders, File* file) {
    std::vector<std::string> names;
    file->library = ReadLibrary(win, path, &names);
    for (const std::string& name : names) {
        bool found = IsFile(win, folder + "\\" + name);
        for (const std::string& system : systemFolders)
            found = found || IsFile(win, system + (system.back() == '\\' ? "" : "\\") + name);
        file->imports.push_back({name, found});
    }
}

// A folder's entries; folders below it only as entries, but its "drivers",
// where the product keeps its driver files.
void ListFolder(const Calls& win, const std::string& folder, const std::string& shown, bool drivers,
                std::vector<File>* out) {
    WIN32_FIND_DATAA found;
    bool root = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
    std::string pattern = folder + (root ? "*" : "\\*");
    HANDLE search = win.FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<WIN32_FIND_DATAA> entries;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            entries.push_back(found);
    } while (win.FindNextFileA(search, &found));
    win.FindClose(search);
    std::vector<std::string> systemFolders;
    bool systemRead = false;
    for (const WIN32_FIND_DATAA& entry : entries) {
        File file;
        file.path = shown + "\\" + entry.cFileName;
        file.directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        file.readOnly = (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        std::string path = folder + (root ? "" : "\\") + entry.cFileName;
        if (!file.directory && shown == PRODUCT_PREFIX && IsServer(entry.cFileName)) {
            if (!systemRead)
                systemFolders = SystemFolders(win);
            systemRead = true;
            ReadServer(win, root ? folder.substr(0, folder.size() - 1) : folder, path,
                       systemFolders, &file);
        }
        out->push_back(file);
        if (file.directory && drivers && win.lstrcmpiA(entry.cFileName, "drivers") == 0)
            ListFolder(win, path, file.path, false, out);
    }
}

void ReadFolder(const Calls& win, const std::string& folder, const std::string& shown, bool drivers,
                std::vector<File>* out) {
    DWORD attributes = win.GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    out->push_back({shown, true, Library::None, false, {}});
    ListFolder(win, folder, shown, drivers, out);
}

void ReadFiles(const Calls& win, Machine* machine) {
    ReadFolder(win, machine->productFolder, PRODUCT_PREFIX, true, &machine->files);
    const std::pair<int, const char*> groups[] = {{CSIDL_PROGRAMS, PROGRAMS_PREFIX},
                                                  {CSIDL_COMMON_PROGRAMS, COMMON_PROGRAMS_PREFIX}};
    for (auto& group : groups) {
        char folder[MAX_PATH];
        if (!win.SHGetSpecialFolderPathA(nullptr, folder, group.first, FALSE))
            continue;
        // The group under the catalogue's own name, which ends in two spaces
        // (kept by the ending backslash), then under the name Windows makes of it.
        ReadFolder(win, std::string(folder) + START_MENU_GROUP + "\\",
                   std::string(group.second) + START_MENU_GROUP, false, &machine->files);
        ReadFolder(win, std::string(folder) + "\\Tallowin",
                   std::string(group.second) + "\\Tallowin", false, &machine->files);
    }
}

} // namespace

Machine Describe(const Calls& win, const std::string& productFolder) {
    Machine machine;
    machine.version = win.GetVersion();
    for (int i = 0; i < PLACE_COUNT; ++i) {
        std::string path = PLACES[i].path;
        HKEY root = path.compare(0, 5, "HKCR\\") == 0 ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
        ReadKey(win, root, path.substr(5), PLACES[i].subkeys, &machine.registry);
    }
    // The uninstaller opens each key of the trees it deletes with
    // KEY_ALL_ACCESS (DELETE, and enumerating its subkeys, among the rights)
    // before deleting it; a key whose security refuses that stays, and the
    // keys above it with it.
    std::vector<std::string> trees = DeletedTrees();
    for (Key& key : machine.registry) {
        HKEY root;
        std::string below = RootPath(key.path, &root);
        bool deleted = std::any_of(trees.begin(), trees.end(),
                                   [&](const std::string& tree) { return InTree(key.path, tree); });
        if (deleted && key.readable && !Grants(win, root, below, KEY_ALL_ACCESS))
            key.deletable = false;
    }
    // The classes whose upper filters the uninstaller cleans are keys it
    // writes: whether it may is read too.
    std::vector<std::string> cleaned = ListNames(ClassFilterGuids);
    for (const std::string& setupClass : Subkeys(win, HKEY_LOCAL_MACHINE, CLASS_KEY)) {
        std::string path = std::string(CLASS_KEY) + "\\" + setupClass;
        ReadKey(win, HKEY_LOCAL_MACHINE, path, false, &machine.registry);
        bool written = setupClass.size() == GUID_TEXT_SIZE &&
                       std::any_of(cleaned.begin(), cleaned.end(), [&](const std::string& guid) {
                           return SameText(guid, setupClass.substr(1, GUID_TEXT_SIZE - 2));
                       });
        if (written && !machine.registry.empty() &&
            SameText(machine.registry.back().path, "HKLM\\" + path) &&
            machine.registry.back().readable &&
            !Grants(win, HKEY_LOCAL_MACHINE, path, KEY_SET_VALUE))
            machine.registry.back().writable = false;
    }
    std::string services = SERVICES_KEY;
    services.pop_back();
    machine.serviceKeys = Subkeys(win, HKEY_LOCAL_MACHINE, services.c_str());
    ReadServices(win, &machine);
    ReadDevices(win, &machine);
    ReadBoot(win, &machine);
    KeyGuard session{win};
    if (win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_QUERY_VALUE, &session.key) ==
        ERROR_SUCCESS) {
        DWORD size = 0;
        DWORD type = 0;
        if (win.RegQueryValueExA(session.key, PendingRenames::VALUE, nullptr, &type, nullptr,
                                 &size) == ERROR_SUCCESS) {
            machine.pending.resize(size);
            if (win.RegQueryValueExA(session.key, PendingRenames::VALUE, nullptr, &type,
                                     machine.pending.data(), &size) == ERROR_SUCCESS) {
                machine.pending.resize(size);
                machine.hasPending = true;
            } else {
                machine.pending.clear();
            }
        }
    }
    machine.productFolder = productFolder;
    if (machine.productFolder.empty())
        machine.productFolder = ProductFolder(machine);
    if (machine.productFolder.empty())
        machine.productFolder = DefaultProductFolder(win);
    ReadFiles(win, &machine);
    return machine;
}

Machine Describe(const std::string& productFolder) {
    return Describe(PlatformCalls(), productFolder);
}

std::string ComputerName(const Calls& win) {
    // A NetBIOS name is at most 15 characters; the buffer holds a longer one too.
    char name[256];
    DWORD size = sizeof name;
    if (!win.GetComputerNameA(name, &size) || size >= sizeof name)
        return "";
    return std::string(name, size);
}

std::string ComputerName() {
    return ComputerName(PlatformCalls());
}

} // namespace Description
