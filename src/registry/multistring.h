// In-place editing of a MultiStringList: NUL-terminated entries, then one
// more NUL. The format of REG_MULTI_SZ values.
#pragma once

#include "text.h"

// Removes every entry equal to `name` (ignoring case) from the list held in
// the first `size` bytes of `list` and returns the list's new size. Nothing
// outside those bytes (nor past VALUE_BUFFER_SIZE) is read or written.
//
// A list whose last entry is not ended by a NUL within `size` bytes cannot be
// measured and is left as it is; a list whose data ends right after an entry
// (the final NUL missing) is taken as ended there and keeps that shape. A list
// that loses all its entries is a single NUL of size 1.
DWORD RemoveListEntry(char* list, DWORD size, const char* name);

// TRUE when RemoveListEntry's result means the list lost every entry.
inline BOOL IsEmptiedList(const char* list, DWORD size) {
    return size == 1 && list[0] == 0;
}
