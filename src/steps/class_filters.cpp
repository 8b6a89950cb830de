#include "../catalogue/catalogue.h"
#include "../registry/multistring.h"
#include "../registry/registry.h"
#include "steps.h"

static const char CLASS_KEY_FORMAT[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{%s}";
static const char UPPER_FILTERS[] = "UpperFilters";

void CleanClassFilters() {
    // One buffer serves every class; like the other buffers the process
    // keeps, it goes with the process.
    char* list = (char*)Win::HeapAlloc(Win::GetProcessHeap(), 0, VALUE_BUFFER_SIZE);
    if (list == NULL)
        return;
    const char* guid = ClassFilterGuids;
    for (int row = 0; row < CLASS_FILTER_ROWS; ++row, guid = NextListEntry(guid)) {
        char classKey[KEY_PATH_SIZE];
        Win::wsprintfA(classKey, CLASS_KEY_FORMAT, guid);
        DWORD size = ReadRegistryValue(HKEY_LOCAL_MACHINE, classKey, UPPER_FILTERS, (BYTE*)list);
        if (size == 0)
            continue;
        size = RemoveListEntry(list, size, ClassFilterNames[row]);
        if (size >= 2)
            WriteMultiStringValue(HKEY_LOCAL_MACHINE, classKey, UPPER_FILTERS, (BYTE*)list, size);
        else if (IsEmptiedList(list, size))
            DeleteRegistryValue(HKEY_LOCAL_MACHINE, classKey, UPPER_FILTERS);
        // A one-byte value that is no list at all is left alone.
    }
}
