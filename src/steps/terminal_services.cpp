#include "../platform/windows_keys.h"
#include "../registry/registry.h"
#include "steps.h"

static const char TERMSERVICE[] = "TermService";
static const char TERMSERVICE_KEY[] = KEY_SERVICES "\\TermService";
static const char TERMSERVICE_DEPENDENCIES[] = "RPCSS\0";

void RestoreTerminalService(SC_HANDLE scm) {
    SC_HANDLE service = Win::OpenServiceA(scm, TERMSERVICE, SERVICE_CHANGE_CONFIG);
    if (service == NULL)
        return;
    char imagePath[VALUE_BUFFER_SIZE];
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
