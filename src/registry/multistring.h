// In-place editing of a registry list: NUL-terminated UTF-16 entries, then
// one more NUL. The format of REG_MULTI_SZ values as Windows stores them, so
// that an entry the ANSI code page cannot carry is kept as it is.
#pragma once

#include "text.h"

// Removes every entry equal to `name` (ignoring case) from the list held in
// the first `size` bytes of `list` and returns the list's new size in bytes.
// `name` is one of the catalogue's ASCII names. Nothing outside those bytes
// (nor past LIST_BUFFER_SIZE) is read or written; an odd last byte is no
// part of the list.
//
// A list whose last entry is not ended by a NUL within `size` bytes cannot be
// measured and is left as it is; a list whose data ends right after an entry
// (the final NUL missing) is taken as ended there and keeps that shape. A list
// that loses all its entries is a single NUL, of size sizeof(WCHAR).
DWORD RemoveListEntry(WCHAR* list, DWORD size, const char* name);

// TRUE when RemoveListEntry's result means the list lost every entry.
inline BOOL IsEmptiedList(const WCHAR* list, DWORD size) {
    return size == sizeof(WCHAR) && list[0] == 0;
}

// The smallest size RemoveListEntry gives for a list that still holds an
// entry, or for an empty list as it was read (its two NULs).
constexpr DWORD LIST_MINIMUM_SIZE = 2 * sizeof(WCHAR);
