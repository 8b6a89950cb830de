// Bounded ANSI text and list helpers. Nothing here is ever truncated: a text
// that does not fit leaves the buffer as it was and the call fails.
#pragma once

#include "../platform/platform.h"

// The bytes of every registry value buffer.
constexpr DWORD VALUE_BUFFER_SIZE = 4096;

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
