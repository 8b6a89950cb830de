#include "multistring.h"

// TRUE when `entry` is the ASCII `name` but for the case of its letters. The
// service manager and the registry compare names so; a linguistic comparison
// would also take another service's name that differs only by a character
// it ignores, a soft hyphen say.
__attribute__((noinline)) static BOOL IsName(const WCHAR* entry, const char* name) {
    for (;; ++entry, ++name) {
        DWORD a = *entry, b = (BYTE)*name;
        if (a != b && ((a | 0x20) != (b | 0x20) || (b | 0x20) - 'a' > 'z' - 'a'))
            return FALSE;
        if (b == 0)
            return TRUE;
    }
}

DWORD RemoveListEntry(WCHAR* list, DWORD size, const char* name) {
    DWORD limit = (size < LIST_BUFFER_SIZE ? size : LIST_BUFFER_SIZE) / sizeof(WCHAR);
    if (limit == 0 || list[0] == 0)
        return size;

    // Measure the list within the bytes handed over: `end` is past its
    // final NUL, or past the NUL of the last entry where the data ends
    // right after it.
    WCHAR* end = list + 1;
    WCHAR* data = list + limit;
    while (end < data && (end[0] | end[-1]) != 0)
        ++end;
    BOOL ended = end < data;
    if (ended)
        ++end;
    else if (end[-1] != 0)
        return size; // an entry runs off the end of the data: not a list to edit

    WCHAR* entry = list;
    while (entry < end && *entry != 0) {
        WCHAR* next = entry;
        while (*next++ != 0) {
        }
        if (!IsName(entry, name)) {
            entry = next;
            continue;
        }
        end -= next - entry;
        // The entry that moves into this place is compared next.
        Win::RtlMoveMemory(entry, next, (BYTE*)end - (BYTE*)entry);
    }

    if (!ended && end == list) {
        list[0] = 0;
        return sizeof(WCHAR);
    }
    return (DWORD)((BYTE*)end - (BYTE*)list);
}
