// The real side of the contract tests' seam: Windows itself (under Wine in
// this project). A real machine is not reset between tests, so each test
// starts and ends by taking away whatever a contract test may have left:
// services and devices named after the scratch key, their deletions queued
// for the restart, the scratch keys and the scratch folder.
#include "contract.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace Contract {

extern const char SCRATCH_KEY[] = "SOFTWARE\\VkContract";
extern const char SCRATCH_FOLDER[] = "C:\\VkContract";

namespace {

// Every service, device ID and key a contract test makes begins with this.
const char SCRATCH_NAME[] = "VkContract";
// Keys outside the scratch key that tests make and normally delete.
const char* const SCRATCH_KEYS[] = {
    "SOFTWARE\\VkContract",
    "SOFTWARE\\Classes\\CLSID\\{0F0F0F0F-1111-2222-3333-444455556666}",
};

// The ASCII names of the tests, as the W functions take them.
std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           lstrcmpiA(text.substr(0, prefix.size()).c_str(), prefix.c_str()) == 0;
}

// Through the W functions: a test may make names the ANSI code page cannot
// carry, which the A functions could not name again.
void DeleteKeyTree(HKEY root, const std::string& path) {
    RegDeleteTreeW(root, (const wchar_t*)Wide(path).c_str());
}

void DeleteFolderTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteFolderTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(folder.c_str());
}

void RemoveServices() {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (scm == nullptr)
        return;
    std::vector<BYTE> buffer(64 * 1024);
    DWORD needed = 0, count = 0, resume = 0;
    std::vector<std::string> names;
    if (EnumServicesStatusA(scm, SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_STATE_ALL,
                            (ENUM_SERVICE_STATUSA*)buffer.data(), (DWORD)buffer.size(), &needed,
                            &count, &resume)) {
        auto* services = (ENUM_SERVICE_STATUSA*)buffer.data();
        for (DWORD i = 0; i < count; ++i)
            if (StartsWith(services[i].lpServiceName, SCRATCH_NAME))
                names.push_back(services[i].lpServiceName);
    }
    for (const std::string& name : names) {
        SC_HANDLE service = OpenServiceA(scm, name.c_str(), SERVICE_ALL_ACCESS);
        if (service == nullptr)
            continue;
        SERVICE_STATUS status;
        if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            for (int wait = 0; wait < 100 && status.dwCurrentState != SERVICE_STOPPED; ++wait) {
                Sleep(50);
                QueryServiceStatus(service, &status);
            }
        }
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
}

void RemoveDevices() {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        char ids[4096] = {};
        if (SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, nullptr, (BYTE*)ids,
                                              sizeof ids - 2, nullptr) &&
            StartsWith(ids, SCRATCH_NAME))
            SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
    }
    SetupDiDestroyDeviceInfoList(set);
}

// Takes the scratch folder's entries out of the deletions queued for the
// restart; Wine carries them out at every new session, but a test must not
// make the list grow run after run.
void RemovePendingDeletions() {
    const char SESSION[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    const wchar_t VALUE[] = L"PendingFileRenameOperations";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    if (RegQueryValueExW(key, VALUE, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        std::wstring data(size / 2 + 1, L'\0');
        RegQueryValueExW(key, VALUE, nullptr, nullptr, (BYTE*)&data[0], &size);
        data.resize(size / 2);
        // Pairs of source and target, the target empty for a deletion; one
        // more NUL ends the list.
        std::wstring scratch = L"\\??\\C:\\VkContract\\";
        std::wstring kept;
        bool removed = false;
        for (size_t at = 0; at < data.size();) {
            size_t sourceEnd = std::min(data.find(L'\0', at), data.size());
            size_t targetEnd = std::min(data.find(L'\0', sourceEnd + 1), data.size());
            std::wstring source = data.substr(at, sourceEnd - at);
            std::wstring pair = data.substr(at, targetEnd - at);
            if (source.size() >= scratch.size() &&
                lstrcmpiW(source.substr(0, scratch.size()).c_str(), scratch.c_str()) == 0)
                removed = true;
            else if (pair.find_first_not_of(L'\0') != std::wstring::npos)
                kept += pair + L'\0';
            at = targetEnd + 1;
        }
        if (removed && kept.empty())
            RegDeleteValueW(key, VALUE);
        else if (removed) {
            kept += L'\0';
            RegSetValueExW(key, VALUE, 0, REG_MULTI_SZ, (const BYTE*)kept.data(),
                           (DWORD)(kept.size() * 2));
        }
    }
    RegCloseKey(key);
}

void Clean() {
    RemoveServices();
    RemoveDevices();
    RemovePendingDeletions();
    for (const char* path : SCRATCH_KEYS)
        DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
    DeleteFolderTree((const wchar_t*)Wide(SCRATCH_FOLDER).c_str());
}

} // namespace

void Begin() {
    Clean();
    ASSERT_TRUE(CreateDirectoryA(SCRATCH_FOLDER, nullptr)) << "error " << GetLastError();
}

void End() {
    Clean();
}

void WriteFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path << ": error " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(file, "data", 4, &written, nullptr));
    CloseHandle(file);
}

// A program built beside the test program.
std::string Beside(const char* name) {
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string path(program, length < MAX_PATH ? length : 0);
    return path.substr(0, path.rfind('\\') + 1) + name;
}

void PlaceFaultingLibrary(const std::string& path) {
    std::string library = Beside("faulting_library.dll");
    ASSERT_TRUE(CopyFileA(library.c_str(), path.c_str(), FALSE))
        << library << ": error " << GetLastError();
}

// A program: an image without exports.
void PlacePlainImage(const std::string& path) {
    std::string program = Beside("contract_service.exe");
    ASSERT_TRUE(CopyFileA(program.c_str(), path.c_str(), FALSE))
        << program << ": error " << GetLastError();
}

// The server from beside the test program, the library it imports from the
// folder it was built in: never beside the test program.
std::string PlaceServerWithImport(const std::string& folder) {
    std::string server = folder + "\\contract_importer.dll";
    std::string import = Beside("contract-import\\contract_import.dll");
    std::string placed[][2] = {{Beside("contract_importer.dll"), server},
                               {import, folder + "\\" + IMPORTED_LIBRARY}};
    for (auto& copy : placed)
        EXPECT_TRUE(CopyFileA(copy[0].c_str(), copy[1].c_str(), FALSE))
            << copy[0] << ": error " << GetLastError();
    return server;
}

void SetValueW(const std::u16string& path, const char* name, DWORD type,
               const std::u16string& data) {
    std::u16string full = Wide(SCRATCH_KEY) + (path.empty() ? u"" : u"\\" + path);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (const wchar_t*)full.c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    if (name != nullptr) {
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key, (const wchar_t*)Wide(name).c_str(), 0, type,
                                 (const BYTE*)data.data(), (DWORD)(data.size() * 2)));
    }
    RegCloseKey(key);
}

std::u16string ValueW(const std::string& path, const char* name) {
    std::u16string full = Wide(SCRATCH_KEY) + (path.empty() ? u"" : u"\\" + Wide(path));
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (const wchar_t*)full.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return u"(none)";
    std::u16string data(4096, u'\0');
    DWORD size = (DWORD)(data.size() * 2);
    LONG status = RegQueryValueExW(key, (const wchar_t*)Wide(name).c_str(), nullptr, nullptr,
                                   (BYTE*)&data[0], &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? data.substr(0, size / 2) : u"(none)";
}

const char* ServiceProgram() {
    static const std::string program = Beside("contract_service.exe");
    return program.c_str();
}

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace Contract

int main(int argc, char** argv) {
    // CTest reads the test list through a pipe, line by line: no CR.
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
