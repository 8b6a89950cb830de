// The file system, as Win32 resolves paths: names compare without case, a
// relative path is taken from the current directory, and the trailing spaces
// and dots of a path's last component are dropped while those of a middle
// component are kept. Also the shell's special folders, deletion at restart,
// libraries, and making and reading files.
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace Sim {

static const char SESSION_MANAGER[] = KEY_SESSION_MANAGER;

// The parent folder of a resolved path and the last name, or null with the error set.
static Node* ParentOf(const std::string& path, std::string* last, std::string* full) {
    std::vector<std::string> parts;
    if (!ResolvePath(path, &parts)) {
        Fail(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    if (full != nullptr)
        *full = JoinPath(parts);
    Node* node = &Current().fileRoot;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        auto child = node->children.find(parts[i]);
        if (child == node->children.end() || !child->second->directory) {
            Fail(ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        node = child->second.get();
    }
    *last = parts.back();
    return node;
}

// The folder holding `path` and the entry for its last name, or null with
// the error set (the entry is the folder's end when the name is absent).
static Node* Entry(const std::string& path,
                   std::map<std::string, std::unique_ptr<Node>, NoCase>::iterator* entry) {
    std::string last;
    Node* folder = ParentOf(path, &last, nullptr);
    if (folder != nullptr) {
        *entry = folder->children.find(last);
        if (*entry == folder->children.end())
            Fail(ERROR_FILE_NOT_FOUND);
    }
    return folder;
}

static bool Matches(const char* pattern, const char* name) {
    if (*pattern == 0)
        return *name == 0;
    if (*pattern == '*')
        return Matches(pattern + 1, name) || (*name != 0 && Matches(pattern, name + 1));
    if (*name == 0)
        return false;
    if (*pattern != '?' &&
        Strings::UpperByte((unsigned char)*pattern) != Strings::UpperByte((unsigned char)*name))
        return false;
    return Matches(pattern + 1, name + 1);
}

// The 8.3 name Windows gives a file whose long name does not fit 8.3 itself
// ("" when it does): the first six usable characters of the base, "~1", and
// the first three of the last extension, in capitals. Every short name here
// is the first of its kind: two names alike in their first six characters
// would both be "~1".
static std::string ShortName(const std::string& name) {
    size_t dot = name.rfind('.');
    std::string base = name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    auto fits = [](const std::string& part, size_t most) {
        if (part.size() > most)
            return false;
        for (char c : part) {
            if (c == ' ' || c == '.' || c == '+' || c == ',' || c == ';' || c == '=' || c == '[' ||
                c == ']')
                return false;
        }
        return true;
    };
    if (!base.empty() && fits(base, 8) && fits(extension, 3))
        return "";
    auto usable = [](const std::string& part, size_t most) {
        std::string out;
        for (char c : part) {
            if (out.size() == most)
                break;
            if (c == ' ' || c == '.')
                continue;
            bool odd = c == '+' || c == ',' || c == ';' || c == '=' || c == '[' || c == ']';
            out += odd ? '_' : (char)std::toupper((unsigned char)c);
        }
        return out;
    };
    std::string shortName = usable(base, 6) + "~1";
    std::string shortExtension = usable(extension, 3);
    return shortExtension.empty() ? shortName : shortName + "." + shortExtension;
}

// A search pattern matches a file by its long name or by its short name.
static bool MatchesFile(const char* pattern, const std::string& name) {
    if (Matches(pattern, name.c_str()))
        return true;
    std::string shortName = ShortName(name);
    return !shortName.empty() && Matches(pattern, shortName.c_str());
}

// What a file reads as: a library's image, else its content.
static std::vector<BYTE> Bytes(const Node& node) {
    return node.library ? LibraryImage(*node.library) : node.content;
}

static void FillFound(const Node& node, LPWIN32_FIND_DATAA data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = Attributes(node);
    data->nFileSizeLow = node.directory ? 0 : (DWORD)Bytes(node).size();
    std::memcpy(data->cFileName, node.name.c_str(), node.name.size() + 1);
    std::string shortName = ShortName(node.name);
    std::memcpy(data->cAlternateFileName, shortName.c_str(), shortName.size() + 1);
}

// HRESULT-returning trampolines, one a loaded library, so that the address
// GetProcAddress returns can be called and know which library it belongs to.
constexpr int LIBRARY_SLOTS = 8;
static std::string slotPath[LIBRARY_SLOTS];
static HRESULT UnregisterIn(int slot) {
    Machine& m = Current();
    Node* node = FindNode(slotPath[slot]);
    m.unregistered.push_back(slotPath[slot]);
    m.journal.push_back("DllUnregisterServer() in " + Q(slotPath[slot].c_str()));
    if (node && node->library && node->library->faultsInUnregister)
        throw Fault{EXCEPTION_ACCESS_VIOLATION};
    return node && node->library ? node->library->unregisterResult : (HRESULT)0x8000FFFF;
}
template <int N> HRESULT WINAPI Unregister() {
    return UnregisterIn(N);
}
static FARPROC slotProc[LIBRARY_SLOTS] = {
    (FARPROC)&Unregister<0>, (FARPROC)&Unregister<1>, (FARPROC)&Unregister<2>,
    (FARPROC)&Unregister<3>, (FARPROC)&Unregister<4>, (FARPROC)&Unregister<5>,
    (FARPROC)&Unregister<6>, (FARPROC)&Unregister<7>,
};

} // namespace Sim

using namespace Sim;

namespace Win {

BOOL WINAPI SHGetSpecialFolderPathA(HWND owner, LPSTR path, int csidl, BOOL create) {
    std::string call = Current().journalOn ? "SHGetSpecialFolderPathA(" + H(owner) + ", " +
                                                 D(csidl) + ", " + D(create) + ")"
                                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Machine& m = Current();
    std::string folder;
    if (csidl == CSIDL_PROGRAMS)
        folder = m.programsFolder;
    else if (csidl == CSIDL_COMMON_PROGRAMS)
        folder = m.commonProgramsFolder;
    else
        Unmodelled(call);
    if (folder.size() + 1 > MAX_PATH)
        Unmodelled(call + ": a special folder longer than MAX_PATH");
    if (FindNode(folder) == nullptr) {
        if (!create)
            return LogBool(call, Fail(ERROR_FILE_NOT_FOUND));
        MakeDirectory(folder, csidl == CSIDL_COMMON_PROGRAMS);
    }
    std::memcpy(path, folder.c_str(), folder.size() + 1);
    return Log(call, (BOOL)TRUE, "TRUE " + Q(path));
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    std::string call = Current().journalOn ? "FindFirstFileA(" + Q(pattern) + ")" : std::string();
    if (Injected()) {
        return LogFailure(call, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE", ERROR_ACCESS_DENIED);
    }
    std::string last;
    Node* folder = ParentOf(pattern, &last, nullptr);
    if (folder == nullptr)
        return LogFailed(call, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE");
    Handle handle{};
    for (auto& child : folder->children) {
        if (MatchesFile(last.c_str(), child.second->name))
            handle.found.push_back(child.second->name);
    }
    if (handle.found.empty()) {
        return LogFailure(call, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE", ERROR_FILE_NOT_FOUND);
    }
    std::string first = handle.found.front();
    handle.found.erase(handle.found.begin());
    handle.name = pattern; // the folder is re-read by name for each result
    FillFound(*folder->children[first], data);
    HANDLE search = NewHandle(HandleKind::Find, handle);
    return Log(call, search, H(search) + " " + Q(data->cFileName));
}

BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
    std::string call = Current().journalOn ? "FindNextFileA(" + H(search) + ")" : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Handle* handle = FindHandle(search, HandleKind::Find);
    if (handle == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    std::string last;
    Node* folder = ParentOf(handle->name, &last, nullptr);
    while (folder != nullptr && !handle->found.empty()) {
        std::string next = handle->found.front();
        handle->found.erase(handle->found.begin());
        auto child = folder->children.find(next);
        if (child != folder->children.end()) {
            FillFound(*child->second, data);
            return Log(call, (BOOL)TRUE, "TRUE " + Q(data->cFileName));
        }
    }
    return LogBool(call, Fail(ERROR_NO_MORE_FILES));
}

BOOL WINAPI FindClose(HANDLE search) {
    std::string call = Current().journalOn ? "FindClose(" + H(search) + ")" : std::string();
    if (FindHandle(search, HandleKind::Find) == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    DropHandle(search);
    return LogBool(call, TRUE);
}

static BOOL DeleteFileAt(LPCSTR path) {
    std::string call = Current().journalOn ? "DeleteFileA(" + Q(path) + ")" : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_SHARING_VIOLATION));
    std::map<std::string, std::unique_ptr<Node>, NoCase>::iterator child;
    Node* folder = Entry(path, &child);
    if (folder == nullptr || child == folder->children.end())
        return LogBool(call, FALSE);
    if (child->second->directory || (child->second->adminOnly && !Current().administrator) ||
        (child->second->attributes & FILE_ATTRIBUTE_READONLY))
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    folder->children.erase(child);
    return LogBool(call, TRUE);
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPVOID security) {
    std::string call = Current().journalOn ? "CreateDirectoryA(" + Q(path) + ")" : std::string();
    if (security != nullptr)
        Unmodelled(call + " with security attributes");
    std::string last;
    Node* folder = ParentOf(path, &last, nullptr);
    if (folder == nullptr)
        return LogBool(call, FALSE);
    if (folder->children.count(last) != 0)
        return LogBool(call, Fail(ERROR_ALREADY_EXISTS));
    if (folder->adminOnly && !Current().administrator)
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    auto node = std::make_unique<Node>();
    node->name = last;
    node->directory = true;
    node->adminOnly = folder->adminOnly;
    folder->children[last] = std::move(node);
    return LogBool(call, TRUE);
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
    std::string call = Current().journalOn ? "RemoveDirectoryA(" + Q(path) + ")" : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_SHARING_VIOLATION));
    std::map<std::string, std::unique_ptr<Node>, NoCase>::iterator child;
    Node* folder = Entry(path, &child);
    if (folder == nullptr || child == folder->children.end())
        return LogBool(call, FALSE);
    if (!child->second->directory)
        return LogBool(call, Fail(ERROR_DIRECTORY));
    if (child->second->adminOnly && !Current().administrator)
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    if (!child->second->children.empty())
        return LogBool(call, Fail(ERROR_DIR_NOT_EMPTY));
    // The process holds its current directory open, without sharing deletion.
    if (SameName(FullPath(path), Current().currentDirectory))
        return LogBool(call, Fail(ERROR_SHARING_VIOLATION));
    folder->children.erase(child);
    return LogBool(call, TRUE);
}

// A path of the "\\?\" form names its file as given: Windows hands it to
// the file system without the Win32 normalisation (no trailing space or
// period trimmed, "/" not a separator, "." and ".." not folders).
static const char VERBATIM[] = "\\\\?\\";

static Node* FindVerbatim(const std::string& path) {
    std::string rest = path.substr(sizeof VERBATIM - 1);
    if (rest.size() < 3 || rest[1] != ':' || rest[2] != '\\')
        return nullptr;
    Node* node = &Current().fileRoot;
    size_t at = 0;
    while (at <= rest.size()) {
        size_t end = rest.find('\\', at);
        if (end == std::string::npos)
            end = rest.size();
        std::string part = rest.substr(at, end - at);
        at = end + 1;
        if (part.empty() && at > rest.size())
            break; // a folder's ending backslash
        auto child = node->children.find(part);
        if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos ||
            child == node->children.end())
            return nullptr;
        node = child->second.get();
    }
    return node;
}

static Node* FindAttributed(const std::string& path) {
    if (path.compare(0, sizeof VERBATIM - 1, VERBATIM) == 0)
        return FindVerbatim(path);
    return path.find('?') == std::string::npos ? FindNode(path) : nullptr;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
    std::string call = Current().journalOn ? "GetFileAttributesA(" + Q(path) + ")" : std::string();
    Node* node = FindAttributed(path);
    if (node == nullptr) {
        Fail(ERROR_FILE_NOT_FOUND);
        return Log(call, INVALID_FILE_ATTRIBUTES, std::string("INVALID_FILE_ATTRIBUTES"));
    }
    DWORD attributes = Attributes(*node);
    return Log(call, attributes, X(attributes));
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
    size_t units = 0;
    while (path[units] != 0)
        ++units;
    std::string ansi = TextToAnsi(WideToText((const char16_t*)path, units));
    std::string call =
        Current().journalOn ? "GetFileAttributesW(" + Q(ansi.c_str()) + ")" : std::string();
    Node* node = FindAttributed(ansi);
    if (node == nullptr) {
        Fail(ERROR_FILE_NOT_FOUND);
        return Log(call, INVALID_FILE_ATTRIBUTES, std::string("INVALID_FILE_ATTRIBUTES"));
    }
    DWORD attributes = Attributes(*node);
    return Log(call, attributes, X(attributes));
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
    std::string call = Current().journalOn
                           ? "SetFileAttributesA(" + Q(path) + ", " + X(attributes) + ")"
                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Node* node = FindNode(path);
    if (node == nullptr)
        return LogBool(call, Fail(ERROR_FILE_NOT_FOUND));
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                           FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    // FILE_ATTRIBUTE_NORMAL, alone, clears them all; the others are ignored.
    node->attributes = attributes & settable;
    return LogBool(call, TRUE);
}

BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR replacement, DWORD flags) {
    std::string call = Current().journalOn ? "MoveFileExA(" + Q(existing) + ", " + Q(replacement) +
                                                 ", " + D(flags) + ")"
                                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT) || replacement != nullptr ||
        (flags & ~(MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) != 0)
        Unmodelled(call + ": only deletion at restart is modelled");
    if (existing == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_PARAMETER));
    if (!Current().administrator)
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    // The path is recorded as the NT path of its full form; whether the file
    // exists is not asked.
    std::string full = existing;
    std::vector<std::string> parts;
    if (full.compare(0, 2, "\\\\") != 0) {
        if (!ResolvePath(full, &parts))
            return LogBool(call, Fail(ERROR_PATH_NOT_FOUND));
        full = JoinPath(parts);
    }
    Key* session = MakeKey(HKEY_LOCAL_MACHINE, SESSION_MANAGER);
    Value* value = session->FindValue(PendingRenames::VALUE);
    if (value == nullptr) {
        session->values.push_back({PendingRenames::VALUE, Value{REG_MULTI_SZ, {}}});
        value = &session->values.back().second;
    } else if (value->type != REG_MULTI_SZ) {
        return LogBool(call, Fail(ERROR_INVALID_DATA));
    }
    PendingRenames::AppendDeletion(&value->data, AnsiToText(PendingRenames::NtPath(full)));
    return LogBool(call, TRUE);
}

namespace {

bool HasPath(const std::string& name) {
    return name.find_first_of("\\/:") != std::string::npos;
}

bool IsFullPath(const std::string& name) {
    return (name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/')) ||
           (name.size() >= 2 && (name[0] == '\\' || name[0] == '/') &&
            (name[1] == '\\' || name[1] == '/'));
}

// The folders a library named without a path is looked for in, in order, as
// Windows 2000 and XP without safe DLL search mode have them: `first` (the
// program's folder, or the loaded library's), then the current folder, the
// system folder and the Windows folder. PATH is not modelled.
std::vector<std::string> SearchPath(const std::string& first) {
    const Machine& m = Current();
    return {first, m.currentDirectory, m.systemDirectory, m.windowsDirectory};
}

// The first file of that name along the path, or null; `found` is its full path.
Node* Search(const std::vector<std::string>& path, const std::string& name, std::string* found) {
    for (const std::string& folder : path) {
        Node* node = FindNode(folder + "\\" + name);
        if (node != nullptr && !node->directory) {
            *found = FullPath(folder + "\\" + name);
            return node;
        }
    }
    return nullptr;
}

// Whether every library `library` imports, and each of theirs, is found
// along `path` (one path for the whole load, as Windows computes it once);
// `missing` is the first that is not. A file without a library record is
// taken for a library that imports nothing.
bool ResolveImports(const Library& library, const std::vector<std::string>& path,
                    std::set<std::string, NoCase>* seen, std::string* missing) {
    for (const std::string& name : library.imports) {
        if (HasPath(name))
            Unmodelled("an import named with a path: " + name);
        if (!seen->insert(name).second)
            continue;
        std::string found;
        Node* node = Search(path, name, &found);
        if (node == nullptr) {
            *missing = name;
            return false;
        }
        if (node->library && !ResolveImports(*node->library, path, seen, missing))
            return false;
    }
    return true;
}

// LoadLibraryA and LoadLibraryExA: the library, then its imports, then its
// entry point.
HMODULE Load(const std::string& call, LPCSTR path, DWORD flags) {
    if (Injected()) {
        return LogFailure(call, (HMODULE) nullptr, "NULL", ERROR_NOT_ENOUGH_MEMORY);
    }
    Machine& m = Current();
    std::string name = path ? path : "";
    bool altered = (flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0 && HasPath(name);
    if (altered && !IsFullPath(name))
        Unmodelled(call + ": Windows leaves the altered search path undefined for a relative path");
    std::string loaded;
    Node* node =
        HasPath(name) ? FindNode(name) : Search(SearchPath(m.programFolder), name, &loaded);
    if (node != nullptr && HasPath(name))
        loaded = FullPath(name);
    if (node == nullptr || node->directory) {
        return LogFailure(call, (HMODULE) nullptr, "NULL", ERROR_MOD_NOT_FOUND);
    }
    if (!node->library) {
        return LogFailure(call, (HMODULE) nullptr, "NULL", ERROR_BAD_EXE_FORMAT);
    }
    std::string first = m.programFolder;
    if (altered)
        first = loaded.substr(0, loaded.rfind('\\'));
    std::set<std::string, NoCase> seen{loaded.substr(loaded.rfind('\\') + 1)};
    std::string missing;
    if (!ResolveImports(*node->library, SearchPath(first), &seen, &missing)) {
        return LogFailure(call, (HMODULE) nullptr, "NULL", ERROR_MOD_NOT_FOUND,
                          ": " + missing + " not found");
    }
    Handle handle{};
    handle.name = loaded;
    HMODULE module = (HMODULE)NewHandle(HandleKind::Module, handle);
    if (node->library->faultsWhenLoaded) {
        // The module is mapped and stays so; the fault leaves the loader.
        Log(call, module, "fault in the entry point");
        throw Fault{EXCEPTION_ACCESS_VIOLATION};
    }
    return Log(call, module, H(module));
}

} // namespace

BOOL WINAPI DeleteFileA(LPCSTR path) {
    return KeepOutcome(OutcomeCall::DeleteFile, path, 0, DeleteFileAt(path));
}

HMODULE WINAPI LoadLibraryA(LPCSTR path) {
    return Load(Current().journalOn ? "LoadLibraryA(" + Q(path) + ")" : std::string(), path, 0);
}

static HMODULE LoadLibraryExAt(LPCSTR path, HANDLE file, DWORD flags) {
    std::string call = Current().journalOn
                           ? "LoadLibraryExA(" + Q(path) + ", " + H(file) + ", " + X(flags) + ")"
                           : std::string();
    if ((flags & ~LOAD_WITH_ALTERED_SEARCH_PATH) != 0)
        Unmodelled(call + ": only LOAD_WITH_ALTERED_SEARCH_PATH is modelled");
    if (file != nullptr) {
        return LogFailure(call, (HMODULE) nullptr, "NULL", ERROR_INVALID_PARAMETER);
    }
    return Load(call, path, flags);
}

DWORD WINAPI CallGuarded(GUARDED_CALL guarded, LPVOID argument) {
    DWORD code = 0;
    try {
        guarded(argument);
    } catch (const Fault& fault) {
        code = fault.code;
    }
    return Log(std::string("CallGuarded()"), code, code == 0 ? std::string("0") : X(code));
}

static FARPROC GetProcAddressAt(HMODULE module, LPCSTR name) {
    std::string call =
        Current().journalOn ? "GetProcAddress(" + H(module) + ", " + Q(name) + ")" : std::string();
    if (Injected()) {
        return LogFailure(call, (FARPROC) nullptr, "NULL", ERROR_PROC_NOT_FOUND);
    }
    Handle* handle = FindHandle(module, HandleKind::Module);
    if (handle == nullptr) {
        return LogFailure(call, (FARPROC) nullptr, "NULL", ERROR_INVALID_HANDLE);
    }
    Node* node = FindNode(handle->name);
    if (node == nullptr || !node->library || std::string(name) != "DllUnregisterServer" ||
        !node->library->exportsUnregister) {
        return LogFailure(call, (FARPROC) nullptr, "NULL", ERROR_PROC_NOT_FOUND);
    }
    int freeSlot = -1;
    for (int slot = 0; slot < LIBRARY_SLOTS; ++slot) {
        if (slotPath[slot] == handle->name)
            return Log(call, slotProc[slot], std::string("DllUnregisterServer"));
        if (slotPath[slot].empty() && freeSlot < 0)
            freeSlot = slot;
    }
    if (freeSlot >= 0) {
        slotPath[freeSlot] = handle->name;
        return Log(call, slotProc[freeSlot], std::string("DllUnregisterServer"));
    }
    Unmodelled("more libraries with live exports than the simulator has slots");
}

HMODULE WINAPI LoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags) {
    return KeepOutcome(OutcomeCall::LoadLibrary, path, 0, LoadLibraryExAt(path, file, flags));
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    std::string library = HandleName(module, HandleKind::Module);
    return KeepOutcome(OutcomeCall::GetProcAddress, library, 0, GetProcAddressAt(module, name));
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    std::string call = Current().journalOn ? "FreeLibrary(" + H(module) + ")" : std::string();
    Handle* handle = FindHandle(module, HandleKind::Module);
    if (handle == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    for (auto& slot : slotPath) {
        if (slot == handle->name)
            slot.clear();
    }
    DropHandle(module);
    return LogBool(call, TRUE);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    std::string call =
        Current().journalOn ? "SetCurrentDirectoryA(" + Q(path) + ")" : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    std::vector<std::string> parts;
    Node* node = FindNode(path);
    if (node == nullptr || !ResolvePath(path, &parts))
        return LogBool(call, Fail(ERROR_FILE_NOT_FOUND));
    if (!node->directory)
        return LogBool(call, Fail(ERROR_DIRECTORY));
    Current().currentDirectory = JoinPath(parts);
    return LogBool(call, TRUE);
}

} // namespace Win

namespace Win {

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPVOID security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    std::string call = Current().journalOn ? "CreateFileA(" + Q(path) + ", " + X(access) + ", " +
                                                 D(disposition) + ")"
                                           : std::string();
    (void)share;
    bool making = disposition == CREATE_NEW || disposition == CREATE_ALWAYS;
    bool reading = disposition == OPEN_EXISTING && access == GENERIC_READ;
    if (security != nullptr || templateFile != nullptr || !(making || reading) ||
        (flags & ~FILE_ATTRIBUTE_NORMAL) != 0)
        Unmodelled(call + ": only making a plain file and reading one are modelled");
    if (Injected()) {
        return LogFailure(call, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE", ERROR_ACCESS_DENIED);
    }
    std::string last;
    std::string full;
    Node* folder = ParentOf(path, &last, &full);
    if (folder == nullptr)
        return LogFailed(call, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE");
    auto existing = folder->children.find(last);
    bool existed = existing != folder->children.end();
    DWORD error = 0;
    if (reading && !existed)
        error = ERROR_FILE_NOT_FOUND;
    else if (existed && (disposition == CREATE_NEW || existing->second->directory))
        error = existing->second->directory ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS;
    else if (making && folder->adminOnly && !Current().administrator)
        error = ERROR_ACCESS_DENIED;
    if (error != 0) {
        return LogFailure(call, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE", error);
    }
    if (making) {
        auto node = std::make_unique<Node>();
        node->name = last;
        node->adminOnly = folder->adminOnly;
        folder->children[last] = std::move(node);
    }
    // Windows reports an existing file overwritten by CREATE_ALWAYS as this "error".
    Current().lastError = making && existed ? ERROR_ALREADY_EXISTS : 0;
    Handle handle{};
    handle.name = full; // the file is found again by it at each read
    handle.access = access;
    HANDLE file = NewHandle(HandleKind::File, handle);
    return Log(call, file, H(file));
}

// Reads go on from where the last one ended, and end at the file's end with
// fewer bytes than asked, or none.
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped) {
    std::string call =
        Current().journalOn ? "ReadFile(" + H(file) + ", " + D(toRead) + ")" : std::string();
    if (overlapped != nullptr || read == nullptr)
        Unmodelled(call + ": only a synchronous read that reports its count is modelled");
    *read = 0;
    if (Injected())
        return LogBool(call, Fail(ERROR_LOCK_VIOLATION));
    Handle* handle = FindHandle(file, HandleKind::File);
    if (handle == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    if (!(handle->access & GENERIC_READ))
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Node* node = FindNode(handle->name);
    if (node == nullptr || node->directory)
        Unmodelled(call + ": a file deleted or replaced while open");
    std::vector<BYTE> bytes = Bytes(*node);
    size_t from = std::min(handle->position, bytes.size());
    size_t count = std::min((size_t)toRead, bytes.size() - from);
    if (count != 0)
        std::memcpy(buffer, bytes.data() + from, count);
    handle->position = from + count;
    *read = (DWORD)count;
    return Log(call, (BOOL)TRUE, "TRUE " + D((long long)count));
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high) {
    std::string call = Current().journalOn ? "GetFileSize(" + H(file) + ")" : std::string();
    Handle* handle = FindHandle(file, HandleKind::File);
    if (handle == nullptr) {
        return LogFailure(call, INVALID_FILE_SIZE, "INVALID_FILE_SIZE", ERROR_INVALID_HANDLE);
    }
    Node* node = FindNode(handle->name);
    if (node == nullptr || node->directory)
        Unmodelled(call + ": a file deleted or replaced while open");
    DWORD size = (DWORD)Bytes(*node).size();
    if (high != nullptr)
        *high = 0;
    return Log(call, size, D(size));
}

} // namespace Win

namespace Sim {

bool ResolvePath(const std::string& path, std::vector<std::string>* components) {
    Machine& m = Current();
    std::string full;
    std::string p = path;
    for (char& c : p) {
        if (c == '/')
            c = '\\';
    }
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\')
        return false; // network paths: nothing is reachable there
    if (p.size() >= 2 && p[1] == ':') {
        if (p.size() == 2 || p[2] != '\\')
            Unmodelled("drive-relative path " + path);
        full = p;
    } else if (!p.empty() && p[0] == '\\') {
        full = m.currentDirectory.substr(0, 2) + p;
    } else {
        full = m.currentDirectory + "\\" + p;
    }
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&](bool last) {
        if (last) {
            while (!part.empty() && (part.back() == ' ' || part.back() == '.'))
                part.pop_back();
        } else if (part.size() > 1 && part.back() == '.' && part[part.size() - 2] != '.') {
            // A folder name inside a path loses one ending period, not its
            // spaces: "Tallowin .\x" is "Tallowin \x" (Wine agrees).
            part.pop_back();
        }
        if (part == "..") {
            if (parts.size() > 1)
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (size_t i = 0; i < full.size(); ++i) {
        if (full[i] == '\\')
            flush(false);
        else
            part += full[i];
    }
    if (!part.empty()) {
        // ".." and "." keep their meaning as a last component.
        if (part == ".." || part == ".")
            flush(false);
        else
            flush(true);
    }
    if (parts.empty())
        return false;
    // The drive letter keeps the case it was given, as everything else does
    // (Wine agrees; GetFullPathName converts nothing of the name).
    *components = std::move(parts);
    return true;
}

std::string FullPath(const std::string& path) {
    std::vector<std::string> parts;
    return ResolvePath(path, &parts) ? JoinPath(parts) : std::string();
}

std::string JoinPath(const std::vector<std::string>& components) {
    std::string path;
    for (size_t i = 0; i < components.size(); ++i) {
        if (i > 0)
            path += "\\";
        path += components[i];
    }
    if (components.size() == 1)
        path += "\\";
    return path;
}

Node* FindNode(const std::string& path) {
    std::vector<std::string> parts;
    if (!ResolvePath(path, &parts))
        return nullptr;
    Node* node = &Current().fileRoot;
    for (auto& part : parts) {
        auto child = node->children.find(part);
        if (child == node->children.end())
            return nullptr;
        node = child->second.get();
    }
    return node;
}

static Node* MakeNode(const std::string& path, bool directory, bool adminOnly) {
    std::vector<std::string> parts;
    if (!ResolvePath(path, &parts))
        Unmodelled("cannot place " + path);
    Node* node = &Current().fileRoot;
    for (size_t i = 0; i < parts.size(); ++i) {
        auto& child = node->children[parts[i]];
        if (!child) {
            child = std::make_unique<Node>();
            child->name = parts[i];
            bool last = i + 1 == parts.size();
            child->directory = directory || !last;
            child->adminOnly = node->adminOnly || (last && adminOnly);
            child->attributes = child->directory ? 0 : FILE_ATTRIBUTE_ARCHIVE;
        }
        node = child.get();
    }
    return node;
}

Node* MakeDirectory(const std::string& path, bool adminOnly) {
    return MakeNode(path, true, adminOnly);
}

Node* MakeFile(const std::string& path, const std::string& content, bool adminOnly) {
    Node* node = MakeNode(path, false, adminOnly);
    node->content.assign(content.begin(), content.end());
    return node;
}

// A file with no attribute left reports FILE_ATTRIBUTE_NORMAL.
DWORD Attributes(const Node& node) {
    if (node.directory)
        return FILE_ATTRIBUTE_DIRECTORY | node.attributes;
    return node.attributes != 0 ? node.attributes : FILE_ATTRIBUTE_NORMAL;
}

bool Exists(const std::string& path) {
    return FindNode(path) != nullptr;
}

} // namespace Sim
