// The clean machine on real Windows: what the first call found, restored
// after each machine by undoing what was laid down and what the run did.
#include "side_run.h"

#include "description/description.h"
#include "lay_down.h"
#include "side_key.h"

#include <windows.h>

#include <setupapi.h>
#include <shlobj.h>

#include <cstdio>
#include <set>

namespace {

Description::Machine clean;
bool haveClean = false;

std::string Upper(std::string text) {
    for (char& c : text)
        c = (char)toupper((unsigned char)c);
    return text;
}

HKEY RootOf(const std::string& path, std::string* rest) {
    *rest = path.substr(5);
    return path.compare(0, 5, "HKCR\\") == 0 ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
}

void DeleteTree(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    char name[256];
    std::vector<std::string> children;
    for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i)
        children.push_back(name);
    RegCloseKey(key);
    for (const std::string& child : children)
        DeleteTree(root, path + "\\" + child);
    RegDeleteKeyA(root, path.c_str());
}

void DeleteFolder(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteFolder(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Every laid-down service ended and deleted; TermService given back what it had.
void RestoreServices(const Description::Machine& now) {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    std::set<std::string> cleanNames;
    for (const auto& service : clean.services)
        cleanNames.insert(Upper(service.name));
    std::vector<std::string> waiting;
    for (const auto& service : now.services) {
        if (cleanNames.count(Upper(service.name)) != 0)
            continue;
        SC_HANDLE handle = OpenServiceA(scm, service.name.c_str(), SERVICE_ALL_ACCESS);
        if (handle == nullptr)
            continue;
        SERVICE_STATUS status;
        ControlService(handle, SIDE_CONTROL_QUIT, &status);
        DeleteService(handle);
        CloseServiceHandle(handle);
        waiting.push_back(service.name);
    }
    // A deletion is done once the program has ended and no handle is open.
    DWORD began = GetTickCount();
    while (!waiting.empty() && GetTickCount() - began < SETTLE_MS) {
        SC_HANDLE handle = OpenServiceA(scm, waiting.back().c_str(), SERVICE_QUERY_STATUS);
        if (handle == nullptr) {
            waiting.pop_back();
            continue;
        }
        CloseServiceHandle(handle);
        Sleep(20);
    }
    CloseServiceHandle(scm);
}

// Whether a service is on its way out of the service manager: marked for
// deletion, and stopped, stopping or with its program ended (a program that
// refused to stop, ended as at a shutdown). ChangeServiceConfig answers
// ERROR_SERVICE_MARKED_FOR_DELETE for a marked service before it looks at
// what it is asked to change; asked for a start type that no service can
// have, it changes nothing whatever it answers. A service whose program
// runs on (it refused to stop) stays marked until the restart, on Windows as
// here.
bool Going(SC_HANDLE scm, const std::string& name) {
    SC_HANDLE handle =
        OpenServiceA(scm, name.c_str(), SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG);
    if (handle == nullptr)
        return false;
    SERVICE_STATUS_PROCESS status;
    DWORD size;
    bool stopping = false;
    if (QueryServiceStatusEx(handle, SC_STATUS_PROCESS_INFO, (BYTE*)&status, sizeof status,
                             &size)) {
        stopping = status.dwCurrentState == SERVICE_STOPPED ||
                   status.dwCurrentState == SERVICE_STOP_PENDING;
        if (!stopping && status.dwProcessId != 0) {
            HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
            stopping = process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
            if (process != nullptr)
                CloseHandle(process);
        }
    }
    bool marked =
        !ChangeServiceConfigA(handle, SERVICE_NO_CHANGE, SERVICE_DISABLED + 1, SERVICE_NO_CHANGE,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
        GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    CloseServiceHandle(handle);
    return stopping && marked;
}

void RestoreDevices() {
    std::set<std::string> cleanIds;
    for (const auto& device : clean.devices)
        cleanIds.insert(Upper(device.instanceId));
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, i, &data))
            break;
        char id[MAX_PATH];
        if (SetupDiGetDeviceInstanceIdA(set, &data, id, MAX_PATH, nullptr) &&
            cleanIds.count(Upper(id)) == 0)
            SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
    }
    SetupDiDestroyDeviceInfoList(set);
}

void RestoreRegistry(const Description::Machine& now) {
    std::set<std::string> cleanKeys;
    for (const auto& key : clean.registry)
        cleanKeys.insert(Upper(key.path));
    for (const auto& key : now.registry) {
        std::string path;
        HKEY root = RootOf(key.path, &path);
        if (cleanKeys.count(Upper(key.path)) == 0)
            DeleteTree(root, path);
    }
    for (const auto& key : clean.registry) {
        std::string path;
        HKEY root = RootOf(key.path, &path);
        HKEY handle;
        if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                            nullptr) != ERROR_SUCCESS)
            continue;
        for (const auto& described : now.registry) {
            if (Upper(described.path) != Upper(key.path))
                continue;
            for (const auto& value : described.values)
                RegDeleteValueA(handle, value.name.c_str());
        }
        for (const auto& value : key.values)
            RegSetValueExA(handle, value.name.c_str(), 0, value.type, value.data.data(),
                           (DWORD)value.data.size());
        RegCloseKey(handle);
    }
    HKEY session;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_ALL_ACCESS, &session) == ERROR_SUCCESS) {
        if (clean.hasPending)
            RegSetValueExA(session, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                           clean.pending.data(), (DWORD)clean.pending.size());
        else
            RegDeleteValueA(session, "PendingFileRenameOperations");
        RegCloseKey(session);
    }
    DeleteTree(HKEY_LOCAL_MACHINE, SIDE_KEY);
}

std::wstring Wide(const std::string& text) {
    std::u16string wide = Description::Utf16(text);
    return std::wstring(wide.begin(), wide.end());
}

void DeleteTreeW(HKEY root, const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    WCHAR name[256];
    std::vector<std::wstring> children;
    for (DWORD i = 0; RegEnumKeyW(key, i, name, 256) == ERROR_SUCCESS; ++i)
        children.push_back(name);
    RegCloseKey(key);
    for (const std::wstring& child : children)
        DeleteTreeW(root, path + L"\\" + child);
    RegDeleteKeyW(root, path.c_str());
}

// The boot view as the clean machine had it: the service keys laid since
// (stand-ins and the boot view's) and other control sets taken away, and
// "Select" as it was. The clean machine's own services keep their keys.
void RestoreBoot() {
    Description::Machine now = Description::Describe();
    std::vector<std::string> own;
    if (!clean.boot.sets.empty())
        for (const auto& service : clean.boot.sets[0].services)
            own.push_back(service.name);
    if (!now.boot.sets.empty()) {
        for (const auto& service : now.boot.sets[0].services) {
            bool kept = false;
            for (const std::string& name : own)
                kept = kept || Description::SameUnicode(name, service.name);
            if (!kept)
                DeleteTreeW(HKEY_LOCAL_MACHINE,
                            Wide("SYSTEM\\CurrentControlSet\\Services\\" + service.name));
        }
    }
    for (size_t i = 1; i < now.boot.sets.size(); ++i)
        DeleteTreeW(HKEY_LOCAL_MACHINE, Wide("SYSTEM\\" + now.boot.sets[i].name));
    const std::pair<const WCHAR*, DWORD> values[] = {{L"Current", clean.boot.current},
                                                     {L"Default", clean.boot.defaultSet},
                                                     {L"LastKnownGood", clean.boot.lastKnownGood}};
    HKEY select;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\Select", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &select, nullptr) != ERROR_SUCCESS)
        return;
    // A value the clean machine had not (0 stands for that) is taken away.
    for (auto& value : values) {
        if (value.second != 0)
            RegSetValueExW(select, value.first, 0, REG_DWORD, (const BYTE*)&value.second,
                           sizeof value.second);
        else
            RegDeleteValueW(select, value.first);
    }
    RegCloseKey(select);
}

} // namespace

bool FreshMachine(std::string* why) {
    if (!haveClean) {
        clean = Description::Describe();
        haveClean = true;
        if (!clean.files.empty()) {
            *why = "the clean machine already holds the product's folders";
            return false;
        }
        return true;
    }
    Description::Machine now = Description::Describe();
    RestoreServices(now);
    RestoreDevices();
    for (const auto& file : now.files) {
        if (file.directory && file.path.find('\\') == file.path.rfind('\\'))
            DeleteFolder(Description::FullPath(file.path));
    }
    // Restored after the services are gone: their keys go with them.
    RestoreRegistry(Description::Describe());
    RestoreBoot();
    return true;
}

std::vector<std::string> Settle(const Description::Machine& before) {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    std::vector<std::string> going;
    std::string waited; // the services waited for, for the log
    DWORD began = GetTickCount();
    for (;;) {
        going.clear();
        for (const auto& service : before.services) {
            if (scm != nullptr && Going(scm, service.name))
                going.push_back(service.name);
        }
        if (waited.empty())
            for (const std::string& name : going)
                waited += " " + name;
        if (going.empty() || GetTickCount() - began >= SETTLE_MS)
            break;
        Sleep(20);
    }
    if (scm != nullptr)
        CloseServiceHandle(scm);
    if (!waited.empty())
        std::fprintf(stderr, "settled in %lu ms (waited for%s)\n",
                     (unsigned long)(GetTickCount() - began), waited.c_str());
    return going;
}

bool LayOnCleanMachine(const Description::Machine& machine, std::string* why) {
    return FreshMachine(why) && Description::LayDown(machine, why, &clean);
}

bool LayOnThisMachine(const Description::Machine& machine, std::string* why) {
    return Description::LayDown(machine, why);
}

// A console program's own console text is not read back; the real program's
// is taken from its pseudo-terminal by the script that runs it.
std::string ConsoleText() {
    return "";
}
