// The installer's platform hooks on real Windows: services run a program
// that records its controls, libraries are real DLLs that record their
// unregistration, all taken from the folder of the running program.
#include "lay_down.h"
#include "side_key.h"
#include "side_run.h"

#include <vector>

namespace Description {

namespace {

std::string HelperPath(const char* name) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\') + 1) + name;
}

void SetDword(const char* keyPath, const std::string& name, DWORD value) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name.c_str(), 0, REG_DWORD, (const BYTE*)&value, sizeof value);
    RegCloseKey(key);
}

// A value of the side key's subkey, or false.
bool Get(const char* keyPath, const std::string& name, std::vector<BYTE>* data) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    bool ok =
        RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    if (ok) {
        data->resize(size);
        ok = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, data->data(), &size) ==
             ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

DWORD DwordAt(const std::vector<BYTE>& data, size_t at) {
    return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | (DWORD)data[at + 3] << 24;
}

// The one library a laid-down server may import, by the name the product's
// machines give it; built apart from the running program, so that only a
// load that looks beside the server finds it.
const char IMPORTED[] = "vkclass.dll";

} // namespace

bool LayFile(const std::string& path, const File& described, Program program, bool imported) {
    Library library = described.library;
    bool imports = library == Library::Unregisters && !described.imports.empty();
    const char* helper = program != Program::None          ? "side_service.exe"
                         : imports                         ? "side_server_import.dll"
                         : library == Library::Unregisters ? "side_server.dll"
                         : library == Library::NoExport    ? "side_plain.dll"
                         : imported                        ? "side-imports\\vkclass.dll"
                                                           : nullptr;
    // The importing server names IMPORTED alone in its import table.
    std::string name = path.substr(path.rfind('\\') + 1);
    if ((imports &&
         (described.imports.size() != 1 || !SameText(described.imports[0].name, IMPORTED))) ||
        (imported && library == Library::None && !SameText(name, IMPORTED))) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    if (helper != nullptr) {
        if (!CopyFileA(HelperPath(helper).c_str(), path.c_str(), TRUE))
            return false;
        if (library != Library::None)
            SetDword(SIDE_LIBRARIES, path, (DWORD)library);
        return true;
    }
    HANDLE file = Win::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    Win::CloseHandle(file);
    return true;
}

void SetProgram(const std::string& service, Program program) {
    SetDword(SIDE_PROGRAMS, service, (DWORD)program);
}

} // namespace Description

void ObserveMachine(Description::Machine* machine) {
    using namespace Description;
    std::vector<BYTE> data;
    for (Service& service : machine->services) {
        if (Get(SIDE_PROGRAMS, service.name, &data) && data.size() == 4)
            service.program = (Program)DwordAt(data, 0);
    }
    for (File& file : machine->files) {
        // Libraries lie in the product folder only.
        if (file.path.rfind("%PRODUCT%", 0) != 0)
            continue;
        if (!file.directory && Get(SIDE_LIBRARIES, FullPath(file.path), &data) && data.size() == 4)
            file.library = (Library)DwordAt(data, 0);
    }
    machine->received.clear();
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SIDE_CONTROLS, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char name[256];
        std::vector<BYTE> controls(4096);
        for (DWORD index = 0;; ++index) {
            DWORD nameSize = sizeof name;
            DWORD size = (DWORD)controls.size();
            if (RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, controls.data(),
                              &size) != ERROR_SUCCESS)
                break;
            Received received{name, {}};
            for (size_t at = 0; at + 4 <= size; at += 4)
                received.controls.push_back(DwordAt(controls, at));
            machine->received.push_back(received);
        }
        RegCloseKey(key);
    }
    machine->unregistered.clear();
    if (Get(SIDE_KEY, SIDE_UNREGISTERED, &data)) {
        std::string entry;
        for (BYTE b : data) {
            if (b != 0) {
                entry += (char)b;
            } else if (!entry.empty()) {
                machine->unregistered.push_back(entry);
                entry.clear();
            }
        }
    }
}
