#include "../catalogue/catalogue.h"
#include "../platform/windows_keys.h"
#include "../registry/multistring.h"
#include "../registry/registry.h"
#include "steps.h"

static const char CLASS_KEY_FORMAT[] = KEY_SETUP_CLASSES "\\{%s}";
static const char UPPER_FILTERS[] = "UpperFilters";
static const WCHAR UPPER_FILTERS_W[] = WIDE_TEXT("UpperFilters");

void CleanClassFilters() {
    // One buffer serves every class; like the other buffers the process
    // keeps, it goes with the process. The lists are read and written in
    // UTF-16: through the code page, another filter's name could come back
    // as a name no service has.
    WCHAR* list = (WCHAR*)Win::HeapAlloc(Win::GetProcessHeap(), 0, LIST_BUFFER_SIZE);
    if (list == NULL)
        return;
    const char* guid = ClassFilterGuids;
    for (int row = 0; row < CLASS_FILTER_ROWS; ++row, guid = NextListEntry(guid)) {
        char classKey[KEY_PATH_SIZE];
        Win::wsprintfA(classKey, CLASS_KEY_FORMAT, guid);
        DWORD size = ReadRegistryList(HKEY_LOCAL_MACHINE, classKey, UPPER_FILTERS_W, list);
        if (size == 0)
            continue;
        size = RemoveListEntry(list, size, ClassFilterNames[row]);
        if (size >= LIST_MINIMUM_SIZE)
            WriteMultiStringValue(HKEY_LOCAL_MACHINE, classKey, UPPER_FILTERS_W, list, size);
        else if (IsEmptiedList(list, size))
            DeleteRegistryValue(HKEY_LOCAL_MACHINE, classKey, UPPER_FILTERS);
        // A one-character value that is no list at all is left alone.
    }
}
