// Reads a machine through the platform boundary, asking for read rights only.
#include "description.h"

#include "../catalogue/catalogue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Description {

extern const char PRODUCT_FOLDER[] = "C:\\Program Files\\Tallowin";

namespace {

constexpr DWORD NAME_BUFFER_SIZE = 16384; // the longest value name Windows allows, and its NUL
constexpr DWORD KEY_NAME_SIZE = 256;      // the longest key name, and its NUL

struct Tree {
    HKEY root;
    const char* path;
    bool subkeys; // false: the key's own values only
};

const char SERVICES_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\";
const char SESSION_MANAGER[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Every place the uninstaller reads or changes, but the services' own keys,
// which are added per service.
const Tree TREES[] = {
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser", true},
    {HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}", true},
    {HKEY_CLASSES_ROOT, "CLSID\\{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}", true},
    {HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
     "Folder\\Desk\\shellex\\PropertySheetHandlers",
     true},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify", true},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", false},
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder", false},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E980-E325-11CE-BFC1-08002BE10318}", false},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}", false},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{71A27CDD-812A-11D0-BEC7-08002BE2092F}", false},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}", false},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}", false},
    {HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Class\\{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", false},
};

std::string RootPrefix(HKEY root) {
    return root == HKEY_CLASSES_ROOT ? "HKCR\\" : "HKLM\\";
}

// Closes a registry key on every path out of a scope.
struct KeyGuard {
    HKEY key = nullptr;
    ~KeyGuard() {
        if (key != nullptr)
            Win::RegCloseKey(key);
    }
};

void ReadValues(HKEY key, Key* out) {
    std::vector<char> name(NAME_BUFFER_SIZE);
    std::vector<BYTE> data(4096);
    for (DWORD index = 0;;) {
        DWORD nameSize = NAME_BUFFER_SIZE;
        DWORD dataSize = (DWORD)data.size();
        DWORD type = 0;
        LONG status = Win::RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type,
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

void ReadKey(HKEY root, const std::string& path, bool subkeys, std::vector<Key>* out) {
    KeyGuard key;
    LONG status = Win::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key.key);
    if (status == ERROR_FILE_NOT_FOUND)
        return;
    Key described;
    described.path = RootPrefix(root) + path;
    if (status != ERROR_SUCCESS) {
        described.readable = false;
        out->push_back(described);
        return;
    }
    ReadValues(key.key, &described);
    out->push_back(described);
    if (!subkeys)
        return;
    std::vector<std::string> children;
    char name[KEY_NAME_SIZE];
    for (DWORD index = 0; Win::RegEnumKeyA(key.key, index, name, KEY_NAME_SIZE) == ERROR_SUCCESS;
         ++index)
        children.push_back(name);
    for (const std::string& child : children)
        ReadKey(root, path + "\\" + child, true, out);
}

void ReadServices(Machine* machine) {
    std::vector<std::string> names;
    for (const char* name = ServiceList; *name != 0; name += std::strlen(name) + 1)
        names.push_back(name);
    names.push_back("TermService");
    SC_HANDLE scm =
        Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    for (const std::string& name : names) {
        ReadKey(HKEY_LOCAL_MACHINE, SERVICES_KEY + name, true, &machine->registry);
        if (scm == nullptr)
            continue;
        SC_HANDLE service = Win::OpenServiceA(scm, name.c_str(), SERVICE_QUERY_STATUS);
        if (service == nullptr)
            continue;
        Service described;
        described.name = name;
        SERVICE_STATUS status;
        if (Win::QueryServiceStatus(service, &status))
            described.state = status.dwCurrentState;
        Win::CloseServiceHandle(service);
        machine->services.push_back(described);
    }
    if (scm != nullptr)
        Win::CloseServiceHandle(scm);
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  (unsigned)guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                  guid.Data4[7]);
    return text;
}

// Instance IDs of the devices a set holds, each with its record.
std::vector<Device> ReadDeviceSet(DWORD flags) {
    std::vector<Device> devices;
    HDEVINFO set = Win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA record;
        record.cbSize = sizeof record;
        if (!Win::SetupDiEnumDeviceInfo(set, index, &record))
            break;
        Device device;
        char id[MAX_PATH];
        if (!Win::SetupDiGetDeviceInstanceIdA(set, &record, id, MAX_PATH, nullptr))
            continue;
        device.instanceId = id;
        device.classGuid = GuidText(record.ClassGuid);
        DWORD required = 0;
        Win::SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_HARDWAREID, nullptr, nullptr, 0,
                                               &required);
        if (required != 0) {
            device.hardwareIds.resize(required);
            DWORD returned = 0;
            if (Win::SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_HARDWAREID, nullptr,
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
    Win::SetupDiDestroyDeviceInfoList(set);
    return devices;
}

void ReadDevices(Machine* machine) {
    // A device is present when the present-only set holds it too.
    std::vector<Device> present = ReadDeviceSet(DIGCF_PRESENT | DIGCF_ALLCLASSES);
    for (Device& device : ReadDeviceSet(DIGCF_ALLCLASSES)) {
        device.present = std::any_of(present.begin(), present.end(), [&](const Device& other) {
            return other.instanceId == device.instanceId;
        });
        machine->devices.push_back(device);
    }
}

void ListFolder(const std::string& folder, const std::string& shown, std::vector<File>* out) {
    WIN32_FIND_DATAA found;
    std::string pattern = folder + "\\*";
    HANDLE search = Win::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::pair<std::string, bool>> entries;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (Win::FindNextFileA(search, &found));
    Win::FindClose(search);
    for (auto& entry : entries) {
        File file;
        file.path = shown + "\\" + entry.first;
        file.directory = entry.second;
        out->push_back(file);
        if (entry.second)
            ListFolder(folder + "\\" + entry.first, file.path, out);
    }
}

void ReadFolder(const std::string& folder, const std::string& shown, std::vector<File>* out) {
    DWORD attributes = Win::GetFileAttributesA(folder.c_str());
    if (attributes == 0xFFFFFFFF || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    out->push_back({shown, true, Library::None});
    ListFolder(folder, shown, out);
}

void ReadFiles(Machine* machine) {
    ReadFolder(PRODUCT_FOLDER, "%PRODUCT%", &machine->files);
    const std::pair<int, const char*> groups[] = {{CSIDL_PROGRAMS, "%PROGRAMS%"},
                                                  {CSIDL_COMMON_PROGRAMS, "%COMMONPROGRAMS%"}};
    for (auto& group : groups) {
        char folder[MAX_PATH];
        if (!Win::SHGetSpecialFolderPathA(nullptr, folder, group.first, FALSE))
            continue;
        ReadFolder(std::string(folder) + "\\Tallowin", std::string(group.second) + "\\Tallowin",
                   &machine->files);
    }
}

} // namespace

Machine Describe() {
    Machine machine;
    for (const Tree& tree : TREES)
        ReadKey(tree.root, tree.path, tree.subkeys, &machine.registry);
    ReadServices(&machine);
    ReadDevices(&machine);
    KeyGuard session;
    if (Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_QUERY_VALUE, &session.key) ==
        ERROR_SUCCESS) {
        DWORD size = 0;
        DWORD type = 0;
        if (Win::RegQueryValueExA(session.key, "PendingFileRenameOperations", nullptr, &type,
                                  nullptr, &size) == ERROR_SUCCESS) {
            machine.pending.resize(size);
            if (Win::RegQueryValueExA(session.key, "PendingFileRenameOperations", nullptr, &type,
                                      machine.pending.data(), &size) == ERROR_SUCCESS) {
                machine.pending.resize(size);
                machine.hasPending = true;
            } else {
                machine.pending.clear();
            }
        }
    }
    ReadFiles(&machine);
    return machine;
}

} // namespace Description
