// What the boot loader and the service manager make of a service's key, and
// Unicode names as Windows holds and compares them.
#include "description.h"

#include "../platform/unicode.h"

#include <algorithm>

namespace Description {

namespace {

// Windows' folder names in paths, as the loader takes them: without case.
bool StartsWith(const std::string& text, const std::string& start) {
    return text.size() >= start.size() && SameUnicode(text.substr(0, start.size()), start);
}

// %SystemRoot% and %windir% (the only variables a service's path can count
// on at boot) expanded; any other is left as it is and names no file.
std::string Expanded(std::string path, const std::string& windows) {
    for (const char* variable : {"%SystemRoot%", "%windir%"}) {
        std::string name = variable;
        for (size_t at = 0; at + name.size() <= path.size();) {
            if (SameUnicode(path.substr(at, name.size()), name)) {
                path.replace(at, name.size(), windows);
                at += windows.size();
            } else {
                ++at;
            }
        }
    }
    return path;
}

} // namespace

std::u16string UpperUnicode(const std::string& text) {
    std::u16string units = Unicode::Utf16(text);
    for (char16_t& unit : units)
        unit = Unicode::Upper(unit);
    return units;
}

bool SameUnicode(const std::string& a, const std::string& b) {
    return a == b || UpperUnicode(a) == UpperUnicode(b);
}

std::vector<std::string> WideList(const std::vector<BYTE>& bytes) {
    std::vector<std::string> entries;
    std::u16string entry;
    for (char16_t unit : Unicode::FromLittleEndian(bytes)) {
        if (unit != 0) {
            entry.push_back(unit);
            continue;
        }
        if (entry.empty())
            break;
        entries.push_back(Unicode::Utf8(entry));
        entry.clear();
    }
    if (!entry.empty())
        entries.push_back(Unicode::Utf8(entry));
    return entries;
}

std::string WindowsFolderOf(const std::string& systemFolder) {
    size_t slash = systemFolder.find_last_of("\\/");
    if (slash == std::string::npos || slash < 2)
        return "";
    return systemFolder.substr(0, slash == 2 ? 3 : slash);
}

bool IsDriver(const BootService& service) {
    if (!service.type)
        return true;
    return (*service.type & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER |
                             SERVICE_RECOGNIZER_DRIVER)) != 0 &&
           (*service.type & (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS)) == 0;
}

ImageKind KindOf(const BootService& service) {
    return IsDriver(service) ? ImageKind::Driver : ImageKind::Program;
}

std::vector<std::string> ImageFiles(const BootService& service, const std::string& windowsFolder,
                                    ImageKind kind) {
    std::string windows = windowsFolder;
    while (windows.size() > 3 && (windows.back() == '\\' || windows.back() == '/'))
        windows.pop_back();
    std::string below = windows.size() == 3 ? windows : windows + "\\";
    bool driver = kind == ImageKind::Driver;
    if (!service.imagePath || service.imagePath->empty()) {
        if (driver)
            return {below + "System32\\drivers\\" + service.name + ".sys"};
        return {};
    }
    std::string path = Expanded(*service.imagePath, windows);
    if (driver) {
        // The I/O manager opens "\SystemRoot\" + the rest as an NT path: no
        // Win32 normalisation, so a trailing space or a "/" names no file.
        if (StartsWith(path, "\\SystemRoot\\"))
            return {below + path.substr(12)};
        if (StartsWith(path, "\\??\\"))
            return {path.substr(4)};
        if (path.size() > 2 && path[1] == ':')
            return {path};
        if (path[0] == '\\')
            return {path}; // an NT path of another device: looked for as it is
        return {below + path};
    }
    // A program's command line: its first word, or what its quotes hold.
    // CreateProcess normalises it as a Win32 path ("/" is "\").
    std::string file;
    if (path[0] == '"') {
        size_t end = path.find('"', 1);
        file = path.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    } else {
        std::string upper = path;
        for (char& c : upper)
            c = (char)((c >= 'a' && c <= 'z') ? c - 0x20 : c);
        size_t exe = upper.find(".EXE");
        file = exe != std::string::npos && (exe + 4 == path.size() || path[exe + 4] == ' ')
                   ? path.substr(0, exe + 4)
                   : path.substr(0, path.find(' '));
    }
    std::replace(file.begin(), file.end(), '/', '\\');
    if (file.empty())
        return {};
    // CreateProcess tries a name without an extension with ".exe".
    if (file.find('.', file.find_last_of('\\') + 1) == std::string::npos)
        file += ".exe";
    bool full = (file.size() > 2 && file[1] == ':') || file[0] == '\\';
    if (full)
        return {file};
    // A relative name (with a folder in it too, as "system32\x.exe") is
    // searched for: the folder services.exe was started from and its
    // current folder (both the system folder), the 16-bit system folder,
    // the Windows folder. PATH, searched last, is not read.
    return {below + "System32\\" + file, below + "system\\" + file, below + file};
}

std::string ImageFile(const BootService& service, const std::string& windowsFolder) {
    std::vector<std::string> files = ImageFiles(service, windowsFolder, KindOf(service));
    return files.empty() ? "" : files[0];
}

bool IsDriverObject(const std::string& service) {
    return StartsWith(service, "\\Driver\\") || StartsWith(service, "\\FileSystem\\");
}

bool IsLegacyDevice(const std::string& instanceId, const std::string& classGuid) {
    return StartsWith(instanceId, "ROOT\\LEGACY_") ||
           SameUnicode(classGuid, "{8ECC055D-047F-11D1-A537-0000F8753ED1}");
}

bool IsDisabled(std::optional<DWORD> configFlags, std::optional<DWORD> profileFlags) {
    const DWORD DISABLED = 0x1; // CONFIGFLAG_DISABLED, and CSCONFIGFLAG_DISABLED
    return (configFlags && (*configFlags & DISABLED)) ||
           (profileFlags && (*profileFlags & DISABLED));
}

std::vector<std::string> FilterEntries(DWORD type, const std::vector<BYTE>& bytes) {
    if (type == REG_MULTI_SZ)
        return WideList(bytes);
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return {};
    std::vector<std::string> entries = WideList(bytes);
    if (entries.size() > 1)
        entries.resize(1); // a string ends at its first NUL
    return entries;
}

} // namespace Description
