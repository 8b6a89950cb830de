#include "steps.h"

BOOL RestartSystem() {
    HANDLE token = NULL;
    Win::OpenProcessToken(Win::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = 0;
    privileges.Privileges[0].Luid.HighPart = 0;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    Win::LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    // The results above are not examined: without the privilege the restart
    // request below fails and says so.
    Win::AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    if (token != NULL)
        Win::CloseHandle(token);
    return Win::ExitWindowsEx(EWX_REBOOT, 0);
}
