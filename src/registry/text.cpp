#include "text.h"

DWORD TextLength(const char* text) {
    DWORD length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

int BoundedTextLength(const char* text, DWORD limit) {
    for (DWORD i = 0; i < limit; ++i) {
        if (text[i] == 0)
            return (int)i;
    }
    return -1;
}

BOOL AppendText(char* buffer, DWORD capacity, const char* text) {
    int used = BoundedTextLength(buffer, capacity);
    if (used < 0)
        return FALSE;
    DWORD length = TextLength(text);
    if ((DWORD)used + length + 1 > capacity)
        return FALSE;
    for (DWORD i = 0; i <= length; ++i)
        buffer[used + i] = text[i];
    return TRUE;
}

BOOL CopyText(char* buffer, DWORD capacity, const char* text) {
    if (capacity == 0)
        return FALSE;
    buffer[0] = 0;
    return AppendText(buffer, capacity, text);
}
