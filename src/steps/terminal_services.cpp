#include "../catalogue/catalogue.h"
#include "../registry/multistring.h"
#include "../registry/registry.h"
#include "steps.h"

static const char TERMSERVICE[] = "TermService";
static const char TERMSERVICE_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\TermService";
static const char GROUP_ORDER_KEY[] = "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder";
static const char WINLOGON_KEY[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
static const char TERMSERVICE_DEPENDENCIES[] = "RPCSS\0";
static const WCHAR GROUP_ORDER_LIST[] = WIDE_TEXT("List");

// The product's drivers exist for Windows 2000, XP and Server 2003 alone
// (NT 5.x); from NT 6.0 on, TermService runs under another account with
// other dependencies, and the 5.x configuration would break it.
constexpr DWORD LAST_PRODUCT_MAJOR_VERSION = 5;

void RestoreTerminalService() {
    if (majorVersion > LAST_PRODUCT_MAJOR_VERSION)
        return;
    SC_HANDLE service = Win::OpenServiceA(serviceManager, TERMSERVICE, SERVICE_CHANGE_CONFIG);
    if (service == NULL)
        return;
    // Beside the program's data, not on the stack: every frame stays under
    // a page, which the build relies on (it makes no stack probes).
    static char imagePath[VALUE_BUFFER_SIZE];
    // The path goes back as it was read, unexpanded.
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, TERMSERVICE_KEY, "ImagePath", imagePath) != 0) {
        DWORD tag;
        Win::ChangeServiceConfigA(service, SERVICE_WIN32_SHARE_PROCESS, SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, imagePath, TERMSERVICE, &tag,
                                  TERMSERVICE_DEPENDENCIES, "LocalSystem", NULL,
                                  "Terminal Services");
    }
    Win::CloseServiceHandle(service);
}

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

void RestoreLogonType() {
    WriteDwordValue(HKEY_LOCAL_MACHINE, WINLOGON_KEY, "LogonType", 1);
}
