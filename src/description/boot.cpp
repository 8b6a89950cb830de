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

// The character at `*at` of UTF-16 text, `*at` moved past it; a lone
// surrogate is U+FFFD.
char32_t NextPoint(const std::u16string& wide, size_t* at) {
    char32_t c = wide[(*at)++];
    if (c >= 0xD800 && c < 0xDC00 && *at < wide.size() && wide[*at] >= 0xDC00 && wide[*at] < 0xE000)
        return 0x10000 + ((c - 0xD800) << 10) + (wide[(*at)++] - 0xDC00);
    return c >= 0xD800 && c < 0xE000 ? 0xFFFD : c;
}

} // namespace

std::string Utf8(const std::u16string& wide) {
    std::string text;
    for (size_t i = 0; i < wide.size();) {
        char32_t c = NextPoint(wide, &i);
        if (c < 0x80) {
            text += (char)c;
        } else if (c < 0x800) {
            text += (char)(0xC0 | c >> 6);
            text += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += (char)(0xE0 | c >> 12);
            text += (char)(0x80 | (c >> 6 & 0x3F));
            text += (char)(0x80 | (c & 0x3F));
        } else {
            text += (char)(0xF0 | c >> 18);
            text += (char)(0x80 | (c >> 12 & 0x3F));
            text += (char)(0x80 | (c >> 6 & 0x3F));
            text += (char)(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::u16string Utf16(const std::string& text) {
    std::u16string wide;
    for (size_t i = 0; i < text.size();) {
        unsigned char b = (unsigned char)text[i];
        int more = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
        char32_t c = more == 3 ? b & 7 : more == 2 ? b & 15 : more == 1 ? b & 31 : b;
        bool good = more >= 0 && i + (size_t)more < text.size();
        for (int k = 1; good && k <= more; ++k) {
            unsigned char next = (unsigned char)text[i + (size_t)k];
            good = (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3F);
        }
        if (!good) {
            wide.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += (size_t)more + 1;
        if (c >= 0x10000) {
            wide.push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
            wide.push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            wide.push_back((char16_t)c);
        }
    }
    return wide;
}

std::u16string UpperUnicode(const std::string& text) {
    std::u16string units = Utf16(text);
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
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t unit = (char16_t)(bytes[i] | bytes[i + 1] << 8);
        if (unit != 0) {
            entry.push_back(unit);
            continue;
        }
        if (entry.empty())
            break;
        entries.push_back(Utf8(entry));
        entry.clear();
    }
    if (!entry.empty())
        entries.push_back(Utf8(entry));
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
