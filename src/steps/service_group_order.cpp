#include "../catalogue/catalogue.h"
#include "../platform/windows_keys.h"
#include "../registry/multistring.h"
#include "../registry/registry.h"
#include "steps.h"

static const char GROUP_ORDER_KEY[] = KEY_SERVICE_GROUP_ORDER;
static const WCHAR GROUP_ORDER_LIST[] = WIDE_TEXT("List");

void CleanServiceGroupOrder() {
    HANDLE heap = Win::GetProcessHeap();
    // UTF-16, so that the other groups' names go back exactly as they were.
    WCHAR* list = (WCHAR*)Win::HeapAlloc(heap, 0, LIST_BUFFER_SIZE);
    if (list == NULL)
        return;
    DWORD size = ReadRegistryList(HKEY_LOCAL_MACHINE, GROUP_ORDER_KEY, GROUP_ORDER_LIST, list);
    if (size != 0) {
        size = RemoveListEntry(list, size, GROUP_ORDER_TERMSERVICE);
        size = RemoveListEntry(list, size, GROUP_ORDER_MULTIUSER);
        // An emptied order is left as it was rather than written empty.
        if (size >= LIST_MINIMUM_SIZE)
            WriteMultiStringValue(HKEY_LOCAL_MACHINE, GROUP_ORDER_KEY, GROUP_ORDER_LIST, list,
                                  size);
    }
    Win::HeapFree(heap, 0, list);
}
