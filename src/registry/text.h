// Bounded ANSI text and list helpers. Nothing here is ever truncated: a text
// that does not fit leaves the buffer as it was and the call fails.
#pragma once

#include "../platform/platform.h"

// The bytes of every registry value buffer.
constexpr DWORD VALUE_BUFFER_SIZE = 4096;
// The bytes of a buffer for a UTF-16 list: as many characters as a value
// buffer holds in ANSI.
constexpr DWORD LIST_BUFFER_SIZE = VALUE_BUFFER_SIZE * sizeof(WCHAR);

// Length of a NUL-terminated text.
DWORD TextLength(const char* text);

// Length of the text at `text` if a NUL ends it within `limit` bytes, else -1.
int BoundedTextLength(const char* text, DWORD limit);

// Appends `text` to the NUL-terminated contents of `buffer` (of `capacity`
// bytes); FALSE, with `buffer` unchanged, when the result would not fit.
BOOL AppendText(char* buffer, DWORD capacity, const char* text);

// Copies `text` into `buffer`; FALSE, with an empty buffer, when it does not fit.
BOOL CopyText(char* buffer, DWORD capacity, const char* text);

// The entry after `entry` in a MultiStringList.
inline const char* NextListEntry(const char* entry) {
    return entry + TextLength(entry) + 1;
}

inline BOOL IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "X:\..." or "\\server\share...", with either separator as Windows takes
// them. Anything else would be resolved against the current directory, which
// by the time the uninstaller works in its folder is the system directory: a
// relative, drive-relative or empty folder would unregister and delete files
// of Windows itself.
inline BOOL IsAbsoluteFolder(const char* folder) {
    char drive = (char)(folder[0] | 0x20);
    if (drive >= 'a' && drive <= 'z' && folder[1] == ':' && IsSeparator(folder[2]))
        return TRUE;
    return IsSeparator(folder[0]) && IsSeparator(folder[1]) && folder[2] != 0 &&
           !IsSeparator(folder[2]);
}

// Ends the text of a string value read into a buffer of VALUE_BUFFER_SIZE
// bytes, `size` of them filled; its length, or 0 when it cannot be ended.
// Installers often store a string with its length alone, no NUL; Windows
// keeps what it was given and leaves the reader to end it. Only a value with
// no room left after it cannot be ended.
inline DWORD EndRegistryText(char* buffer, DWORD size) {
    int length = BoundedTextLength(buffer, size);
    if (length >= 0)
        return (DWORD)length;
    if (size >= VALUE_BUFFER_SIZE)
        return 0;
    buffer[size] = 0;
    return size;
}
