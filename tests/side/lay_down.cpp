// Lays a described machine down through the Windows calls an installer makes.
#include "lay_down.h"

#include "catalogue/catalogue.h"

#include <algorithm>
#include <cstring>

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

bool LayDown(const Machine& machine, std::string* why) {
    std::string reason = Unlayable(machine);
    if (!reason.empty()) {
        *why = reason;
        return false;
    }
    // Files first: a service's image must exist before it starts. The
    // registry last, so that what the service manager wrote is completed
    // with everything else the description holds.
    if (!LayFiles(machine, why) || !LayServices(machine, why) || !LayDevices(machine, why))
        return false;
    return LayRegistry(machine, why);
}

} // namespace Description
