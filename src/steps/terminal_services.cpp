#include "../platform/windows_keys.h"
#include "../registry/registry.h"
#include "steps.h"

static const char TERMSERVICE_KEY[] = KEY_TERMSERVICE;
static const char TERMSERVICE_DEPENDENCIES[] = "RPCSS\0";

// The product's drivers exist for Windows 2000, XP and Server 2003 alone
// (NT 5.x); from NT 6.0 on, TermService runs under another account with
// other dependencies, and the 5.x configuration would break it.
constexpr DWORD LAST_PRODUCT_MAJOR_VERSION = 5;

void RestoreTerminalService() {
    if (majorVersion > LAST_PRODUCT_MAJOR_VERSION)
        return;
    SC_HANDLE service =
        Win::OpenServiceA(serviceManager, SERVICE_TERMSERVICE, SERVICE_CHANGE_CONFIG);
    if (service == NULL)
        return;
    // Beside the program's data, not on the stack: every frame stays under
    // a page, which the build relies on (it makes no stack probes).
    static char imagePath[VALUE_BUFFER_SIZE];
    // The path goes back as it was read, unexpanded.
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, TERMSERVICE_KEY, "ImagePath", imagePath) != 0) {
        DWORD tag;
        Win::ChangeServiceConfigA(service, SERVICE_WIN32_SHARE_PROCESS, SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, imagePath, GROUP_TERMSERVICE, &tag,
                                  TERMSERVICE_DEPENDENCIES, "LocalSystem", NULL,
                                  "Terminal Services");
    }
    Win::CloseServiceHandle(service);
}
