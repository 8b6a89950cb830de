#include "multistring.h"

DWORD RemoveListEntry(char* list, DWORD size, const char* name) {
    DWORD limit = size < VALUE_BUFFER_SIZE ? size : VALUE_BUFFER_SIZE;
    if (limit == 0 || list[0] == 0)
        return size;

    // Measure the list within the bytes handed over.
    DWORD listSize = 0;
    BOOL ended = FALSE;
    while (listSize < limit) {
        if (list[listSize] == 0) {
            ++listSize;
            ended = TRUE;
            break;
        }
        int length = BoundedTextLength(list + listSize, limit - listSize);
        if (length < 0)
            return size; // an entry runs off the end of the data: not a list to edit
        listSize += (DWORD)length + 1;
    }

    DWORD position = 0;
    while (position < listSize && list[position] != 0) {
        DWORD entrySize = TextLength(list + position) + 1;
        if (Win::lstrcmpiA(name, list + position) != 0) {
            position += entrySize;
            continue;
        }
        listSize -= entrySize;
        // The entry that moves into this place is compared next.
        Win::RtlMoveMemory(list + position, list + position + entrySize, listSize - position);
    }

    if (!ended && listSize == 0) {
        list[0] = 0;
        return 1;
    }
    return listSize;
}
