// Lays a described machine down through the Windows calls an installer makes.
#include "lay_down.h"

#include "catalogue/catalogue.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace Description {

namespace {

const char SESSION_MANAGER[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char CLASS_PATH[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\";

// Deletes a key and everything below it.
void DeleteTree(HKEY root, const std::string& path) {
    HKEY key;
    if (Win::RegOpenKeyExA(root, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS)
        return;
    std::vector<std::string> children;
    char name[256];
    for (DWORD i = 0; Win::RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i)
        children.push_back(name);
    Win::RegCloseKey(key);
    for (const std::string& child : children)
        DeleteTree(root, path + "\\" + child);
    Win::RegDeleteKeyA(root, path.c_str());
}

bool Fail(std::string* why, const std::string& what, DWORD error) {
    *why = what + " failed (" + std::to_string(error) + ")";
    return false;
}

// A product file a described server imports, found beside it.
bool Imported(const Machine& machine, const File& file) {
    for (const File& server : machine.files) {
        for (const Import& import : server.imports) {
            if (import.found && SameText(file.path, "%PRODUCT%\\" + import.name))
                return true;
        }
    }
    return false;
}

bool LayFiles(const Machine& machine, std::string* why) {
    for (const File& file : machine.files) {
        std::string path = FullPath(file.path);
        if (path.empty())
            return Fail(why, "folder of " + file.path, 0);
        if (file.directory) {
            // Start-menu folders may not exist yet: each folder on the way is made.
            for (size_t at = path.find('\\', 3); at != std::string::npos;
                 at = path.find('\\', at + 1))
                Win::CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
            if (!Win::CreateDirectoryA(path.c_str(), nullptr) &&
                Win::GetLastError() != ERROR_ALREADY_EXISTS)
                return Fail(why, "CreateDirectoryA " + path, Win::GetLastError());
            continue;
        }
        // A file that is the image of a described service runs its program.
        Program program = Program::None;
        for (const Service& service : machine.services) {
            const Key* key = FindKey(machine, SERVICE_PATH + service.name);
            std::string image;
            if (TextOf(FindValue(key, "ImagePath"), &image) &&
                std::strlen(image.c_str()) == path.size() && StartsWith(image, path))
                program = service.program;
        }
        if (!LayFile(path, file, program, Imported(machine, file)))
            return Fail(why, "laying " + path, Win::GetLastError());
    }
    return true;
}

bool LayServices(const Machine& machine, std::string* why) {
    SC_HANDLE scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (scm == nullptr)
        return Fail(why, "OpenSCManagerA", Win::GetLastError());
    bool ok = true;
    for (const Service& service : machine.services) {
        const Key* key = FindKey(machine, SERVICE_PATH + service.name);
        std::string image, group, dependencies, display;
        DWORD type = DwordOf(FindValue(key, "Type"), SERVICE_WIN32_OWN_PROCESS);
        DWORD start = DwordOf(FindValue(key, "Start"), SERVICE_DEMAND_START);
        DWORD errorControl = DwordOf(FindValue(key, "ErrorControl"), SERVICE_ERROR_NORMAL);
        const char* imagePath = TextOf(FindValue(key, "ImagePath"), &image);
        if (imagePath != nullptr && imagePath[0] == 0)
            imagePath = nullptr; // Windows refuses an empty path (ERROR_INVALID_PARAMETER)
        const char* groupName = TextOf(FindValue(key, "Group"), &group);
        const char* depends = TextOf(FindValue(key, "DependOnService"), &dependencies);
        const char* displayName = TextOf(FindValue(key, "DisplayName"), &display);
        SC_HANDLE handle = Win::OpenServiceA(scm, service.name.c_str(), SERVICE_ALL_ACCESS);
        if (handle != nullptr) {
            if (!Win::ChangeServiceConfigA(handle, type, start, errorControl, imagePath, groupName,
                                           nullptr, depends, nullptr, nullptr, displayName))
                ok = Fail(why, "ChangeServiceConfigA " + service.name, Win::GetLastError());
        } else {
            handle = Win::CreateServiceA(scm, service.name.c_str(), displayName, SERVICE_ALL_ACCESS,
                                         type, start, errorControl, imagePath ? imagePath : "",
                                         groupName, nullptr, depends, nullptr, nullptr);
            if (handle == nullptr) {
                ok = Fail(why, "CreateServiceA " + service.name, Win::GetLastError());
                break;
            }
        }
        // Kernel drivers are never started: they are files, not drivers.
        bool driver = (type & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
        if (!driver) {
            SetProgram(service.name, service.program);
            if (service.state == SERVICE_RUNNING && service.program != Program::None &&
                !Win::StartServiceA(handle, 0, nullptr) &&
                Win::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
                ok = Fail(why, "StartServiceA " + service.name, Win::GetLastError());
        }
        Win::CloseServiceHandle(handle);
        if (!ok)
            break;
    }
    Win::CloseServiceHandle(scm);
    return ok;
}

// Keys and values the machine has in the described places but the
// description has not are deleted: an absent key is part of what is
// described. Service keys are left to the service manager.
void Prune(const Machine& machine) {
    Machine now = Describe();
    for (const Key& key : now.registry) {
        if (StartsWith(key.path, SERVICE_PATH))
            continue;
        HKEY root;
        std::string path = RootPath(key.path, &root);
        const Key* described = FindKey(machine, key.path);
        if (described == nullptr) {
            // Every setup class is read, but a class the description lacks
            // is the machine's own.
            if (!StartsWith(key.path, CLASS_PATH))
                DeleteTree(root, path);
            continue;
        }
        HKEY handle;
        if (Win::RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
            continue;
        for (const Value& value : key.values) {
            if (FindValue(described, value.name.c_str()) == nullptr)
                Win::RegDeleteValueA(handle, value.name.c_str());
        }
        Win::RegCloseKey(handle);
    }
}

bool LayRegistry(const Machine& machine, std::string* why) {
    Prune(machine);
    for (const Key& key : machine.registry) {
        HKEY root;
        std::string path = RootPath(key.path, &root);
        HKEY handle;
        LONG status = Win::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &handle, nullptr);
        if (status != ERROR_SUCCESS)
            return Fail(why, "RegCreateKeyExA " + key.path, (DWORD)status);
        for (const Value& value : key.values) {
            status = Win::RegSetValueExA(handle, value.name.c_str(), 0, value.type,
                                         value.data.data(), (DWORD)value.data.size());
            if (status != ERROR_SUCCESS)
                break;
        }
        Win::RegCloseKey(handle);
        if (status != ERROR_SUCCESS)
            return Fail(why, "RegSetValueExA in " + key.path, (DWORD)status);
    }
    LayServiceKeys(machine);
    if (!machine.hasPending)
        return true;
    HKEY session;
    LONG status =
        Win::RegCreateKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &session, nullptr);
    if (status == ERROR_SUCCESS) {
        status = Win::RegSetValueExA(session, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                                     machine.pending.data(), (DWORD)machine.pending.size());
        Win::RegCloseKey(session);
    }
    return status == ERROR_SUCCESS || Fail(why, "PendingFileRenameOperations", (DWORD)status);
}

// A name or text of the boot view (UTF-8) as the W functions take it.
std::wstring Wide(const std::string& text) {
    std::u16string wide = Utf16(text);
    return std::wstring(wide.begin(), wide.end());
}

// An open key of HKLM, made where it is missing, closed when done with.
struct WideKey {
    HKEY key = nullptr;
    LONG status;
    explicit WideKey(const std::string& path) {
        status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    }
    ~WideKey() {
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
    }
};

// The type a value has now, REG_NONE when it has none.
DWORD TypeNow(HKEY key, const std::wstring& name) {
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}

// One value of the boot view: `data` set as `type`, or, when the view holds
// none, taken away if it is of a type the reader takes for one (a value of
// another type is not in the view, so it stays). A text keeps the string
// type it has.
LONG LayValue(HKEY key, const char* name, DWORD type, const std::vector<BYTE>* data) {
    std::wstring wide = Wide(name);
    DWORD now = TypeNow(key, wide);
    bool text = type == REG_SZ || type == REG_EXPAND_SZ;
    bool taken = now == type || (text && (now == REG_SZ || now == REG_EXPAND_SZ));
    if (data == nullptr)
        return taken ? RegDeleteValueW(key, wide.c_str()) : ERROR_SUCCESS;
    if (text && taken)
        type = now;
    return RegSetValueExW(key, wide.c_str(), 0, type, data->data(), (DWORD)data->size());
}

std::vector<BYTE> DwordBytes(DWORD number) {
    return {(BYTE)number, (BYTE)(number >> 8), (BYTE)(number >> 16), (BYTE)(number >> 24)};
}

// A text's UTF-16 bytes with its ending NUL; a list's entries each ended, then one more NUL.
std::vector<BYTE> WideBytes(const std::vector<std::string>& entries, bool list) {
    std::vector<BYTE> bytes;
    for (const std::string& entry : entries) {
        for (char16_t unit : Utf16(entry)) {
            bytes.push_back((BYTE)unit);
            bytes.push_back((BYTE)(unit >> 8));
        }
        bytes.insert(bytes.end(), {0, 0});
    }
    if (list)
        bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

LONG LayDword(HKEY key, const char* name, const std::optional<DWORD>& number) {
    std::vector<BYTE> bytes = number ? DwordBytes(*number) : std::vector<BYTE>();
    return LayValue(key, name, REG_DWORD, number ? &bytes : nullptr);
}

LONG LayText(HKEY key, const char* name, DWORD type, const std::optional<std::string>& text) {
    std::vector<BYTE> bytes = text ? WideBytes({*text}, false) : std::vector<BYTE>();
    return LayValue(key, name, type, text ? &bytes : nullptr);
}

LONG LayList(HKEY key, const char* name, const std::vector<std::string>& entries) {
    std::vector<BYTE> bytes = WideBytes(entries, true);
    return LayValue(key, name, REG_MULTI_SZ, entries.empty() ? nullptr : &bytes);
}

std::optional<std::string> Given(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

bool Holds(const std::vector<BootService>& services, const std::string& name) {
    return std::any_of(services.begin(), services.end(),
                       [&](const BootService& service) { return SameUnicode(service.name, name); });
}

// The values of one service, class or device key; the first failure's status.
LONG LayService(HKEY key, const BootService& service) {
    const LONG statuses[] = {
        LayDword(key, "Type", service.type),
        LayDword(key, "Start", service.start),
        LayText(key, "ImagePath", REG_EXPAND_SZ, service.imagePath),
        LayDword(key, "DeleteFlag", service.deleteFlag ? std::optional<DWORD>(1) : std::nullopt),
        LayText(key, "Group", REG_SZ, Given(service.group)),
        LayList(key, "DependOnService", service.dependOnService),
        LayList(key, "DependOnGroup", service.dependOnGroup)};
    for (LONG status : statuses) {
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

LONG LayFilters(HKEY key, const std::vector<std::string>& upper,
                const std::vector<std::string>& lower) {
    LONG status = LayList(key, "UpperFilters", upper);
    return status != ERROR_SUCCESS ? status : LayList(key, "LowerFilters", lower);
}

// One control set's services, classes and (another set's) device keys; the
// services whose values are the view's (laid now or with the registry) are
// added to `laid`.
bool LayControlSet(const Machine& machine, size_t index, const Machine* own,
                   std::vector<const BootService*>* laid, std::string* why) {
    const ControlSet& set = machine.boot.sets[index];
    std::string root = "SYSTEM\\" + set.name;
    for (const BootService& service : set.services) {
        // The current set's keys the description holds in full were laid
        // with the registry, byte for byte: their values stand.
        bool whole = index == 0 && FindKey(machine, SERVICE_PATH + service.name) != nullptr;
        bool kept = index == 0 && own != nullptr && !own->boot.sets.empty() &&
                    Holds(own->boot.sets[0].services, service.name) && !whole;
        if (kept)
            continue;
        laid->push_back(&service);
        if (whole)
            continue;
        WideKey key(root + "\\Services\\" + service.name);
        LONG status = key.status == ERROR_SUCCESS ? LayService(key.key, service) : key.status;
        if (status != ERROR_SUCCESS)
            return Fail(why, "the boot view of service " + service.name, (DWORD)status);
    }
    for (const SetupClass& setupClass : set.classes) {
        if (index == 0 && FindKey(machine, CLASS_PATH + setupClass.guid) != nullptr)
            continue;
        WideKey key(root + "\\Control\\Class\\" + setupClass.guid);
        LONG status = key.status;
        if (status == ERROR_SUCCESS)
            status = LayText(key.key, "Class", REG_SZ, Given(setupClass.name));
        if (status == ERROR_SUCCESS)
            status = LayFilters(key.key, setupClass.upperFilters, setupClass.lowerFilters);
        if (status != ERROR_SUCCESS)
            return Fail(why, "the filters of class " + setupClass.guid, (DWORD)status);
    }
    for (const DeviceKey& device : set.devices) {
        WideKey key(root + "\\Enum\\" + device.instanceId);
        LONG status = key.status;
        if (status == ERROR_SUCCESS)
            status = LayText(key.key, "ClassGUID", REG_SZ, Given(device.classGuid));
        if (status == ERROR_SUCCESS)
            status = LayText(key.key, "Service", REG_SZ, Given(device.service));
        if (status == ERROR_SUCCESS)
            status = LayFilters(key.key, device.upperFilters, device.lowerFilters);
        if (status != ERROR_SUCCESS)
            return Fail(why, set.name + " key of device " + device.instanceId, (DWORD)status);
    }
    return true;
}

bool InPaths(const std::vector<std::string>& paths, const std::string& path) {
    return std::any_of(paths.begin(), paths.end(),
                       [&](const std::string& entry) { return SameUnicode(entry, path); });
}

// The image files of those services, as the view found them: each it
// found is made (empty) where this machine's loader looks for it, each it
// did not is taken away. A file that is not empty is none this program
// made, and is never taken away: a view that says it is missing cannot be
// laid down.
bool LayImages(const Machine& machine, const std::vector<const BootService*>& laid,
               std::string* why) {
    char system[MAX_PATH];
    UINT length = Win::GetSystemDirectoryA(system, MAX_PATH);
    std::string windows = WindowsFolderOf(std::string(system, length));
    std::vector<std::string> found, missing;
    for (const BootService* service : laid) {
        std::string described = ImageFile(*service, machine.boot.windowsFolder);
        if (described.empty())
            continue;
        // A driver's image is its NT path as given: one the view lacks is
        // taken away by that name alone ("\\?\\"), never by the name Win32
        // would make of it (a trailing space trimmed, "/" for "\\").
        std::string path = ImageFile(*service, windows);
        if (!InPaths(machine.boot.images, described) && KindOf(*service) == ImageKind::Driver &&
            path.size() > 2 && path[1] == ':')
            path = "\\\\?\\" + path;
        (InPaths(machine.boot.images, described) ? found : missing).push_back(path);
    }
    for (const std::string& path : found) {
        std::wstring wide = Wide(path);
        if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        for (size_t at = wide.find(L'\\', 3); at != std::wstring::npos;
             at = wide.find(L'\\', at + 1))
            CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
        HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return Fail(why, "image file " + path, Win::GetLastError());
        Win::CloseHandle(file);
    }
    for (const std::string& path : missing) {
        std::wstring wide = Wide(path);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (InPaths(found, path) ||
            !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
            continue;
        if (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0) {
            *why =
                "image file " + path + " is missing from the view, but this machine's own is there";
            return false;
        }
        if (!DeleteFileW(wide.c_str()))
            return Fail(why, "taking away image file " + path, Win::GetLastError());
    }
    return true;
}

// What the next boot loads, laid after the registry: the service keys it
// completes (those the description names but does not hold in full were
// stand-ins until now) and the filters are read back through the W functions.
bool LayBoot(const Machine& machine, const Machine* own, std::string* why) {
    const Boot& boot = machine.boot;
    if (boot.current != 0 || boot.defaultSet != 0 || boot.lastKnownGood != 0) {
        WideKey select("SYSTEM\\Select");
        const std::pair<const char*, DWORD> values[] = {{"Current", boot.current},
                                                        {"Default", boot.defaultSet},
                                                        {"LastKnownGood", boot.lastKnownGood}};
        LONG status = select.status;
        for (auto& value : values) {
            if (status == ERROR_SUCCESS)
                status = LayDword(select.key, value.first, value.second);
        }
        if (status != ERROR_SUCCESS)
            return Fail(why, "SYSTEM\\Select", (DWORD)status);
    }
    std::vector<const BootService*> laid;
    for (size_t i = 0; i < boot.sets.size(); ++i) {
        if (!LayControlSet(machine, i, own, &laid, why))
            return false;
    }
    return LayImages(machine, laid, why);
}

// Instance IDs of the devices the machine has, in upper case.
std::vector<std::string> ExistingDevices() {
    std::vector<std::string> ids;
    HDEVINFO set = Win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return ids;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA record;
        record.cbSize = sizeof record;
        if (!Win::SetupDiEnumDeviceInfo(set, index, &record))
            break;
        char id[MAX_PATH];
        if (Win::SetupDiGetDeviceInstanceIdA(set, &record, id, MAX_PATH, nullptr))
            ids.push_back(Upper(id));
    }
    Win::SetupDiDestroyDeviceInfoList(set);
    return ids;
}

// Root-enumerated devices only: other devices are the machine's own
// hardware, and the machine laid down keeps its own.
bool LayDevices(const Machine& machine, std::string* why) {
    std::vector<std::string> existing = ExistingDevices();
    GUID any{};
    HDEVINFO set = Win::SetupDiCreateDeviceInfoList(&any, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return Fail(why, "SetupDiCreateDeviceInfoList", Win::GetLastError());
    bool ok = true;
    for (const Device& device : machine.devices) {
        if (DeviceName(device.instanceId).empty() ||
            std::find(existing.begin(), existing.end(), Upper(device.instanceId)) != existing.end())
            continue;
        GUID guid;
        GuidOf(device.classGuid, &guid);
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        if (!Win::SetupDiCreateDeviceInfoA(set, DeviceName(device.instanceId).c_str(), &guid,
                                           nullptr, nullptr, DICD_GENERATE_ID, &data)) {
            ok = Fail(why, "SetupDiCreateDeviceInfoA " + device.instanceId, Win::GetLastError());
            break;
        }
        std::vector<BYTE> ids;
        if (device.hasHardwareIds && NarrowIds(device.hardwareIds, &ids) &&
            !Win::SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, ids.data(),
                                                    (DWORD)ids.size())) {
            ok = Fail(why, "hardware IDs of " + device.instanceId, Win::GetLastError());
            break;
        }
        const std::pair<DWORD, const std::vector<BYTE>*> filters[] = {
            {SPDRP_UPPERFILTERS, &device.upperFilters}, {SPDRP_LOWERFILTERS, &device.lowerFilters}};
        for (auto& filter : filters) {
            if (filter.second->empty())
                continue;
            if (!NarrowIds(*filter.second, &ids) ||
                !Win::SetupDiSetDeviceRegistryPropertyA(set, &data, filter.first, ids.data(),
                                                        (DWORD)ids.size())) {
                ok = Fail(why, "filters of " + device.instanceId, Win::GetLastError());
                break;
            }
        }
        if (!ok)
            break;
        // The function driver, as Windows holds the name.
        std::wstring service = Wide(device.service);
        if (!device.service.empty() && !SetupDiSetDeviceRegistryPropertyW(
                                           set, &data, SPDRP_SERVICE, (const BYTE*)service.c_str(),
                                           (DWORD)((service.size() + 1) * sizeof(wchar_t)))) {
            ok = Fail(why, "function driver of " + device.instanceId, Win::GetLastError());
            break;
        }
        if (!Win::SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr)) {
            ok = Fail(why, "SetupDiRegisterDeviceInfo " + device.instanceId, Win::GetLastError());
            break;
        }
    }
    Win::SetupDiDestroyDeviceInfoList(set);
    return ok;
}

} // namespace

std::string FullPath(const std::string& described) {
    const std::pair<const char*, int> folders[] = {{"%PROGRAMS%", CSIDL_PROGRAMS},
                                                   {"%COMMONPROGRAMS%", CSIDL_COMMON_PROGRAMS}};
    if (StartsWith(described, "%PRODUCT%"))
        return PRODUCT_FOLDER + described.substr(9);
    for (auto& folder : folders) {
        if (!StartsWith(described, folder.first))
            continue;
        char path[MAX_PATH];
        if (!Win::SHGetSpecialFolderPathA(nullptr, path, folder.second, TRUE))
            return "";
        return path + described.substr(std::strlen(folder.first));
    }
    return "";
}

bool LayDown(const Machine& machine, std::string* why, const Machine* own) {
    std::string reason = Unlayable(machine);
    if (!reason.empty()) {
        *why = reason;
        return false;
    }
    // Files first: a service's image must exist before it starts. The
    // registry last, so that what the service manager wrote is completed
    // with everything else the description holds, and the boot view after it.
    if (!LayFiles(machine, why) || !LayServices(machine, why) || !LayDevices(machine, why))
        return false;
    return LayRegistry(machine, why) && LayBoot(machine, own, why);
}

} // namespace Description
