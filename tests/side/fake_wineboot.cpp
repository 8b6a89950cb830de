// Stands in for the program Wine's ExitWindowsEx starts, for as long as a
// machine is being read: it records the request instead of ending the session.
#include "side_key.h"

#include <windows.h>

int main() {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SIDE_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        const char* line = GetCommandLineA();
        RegSetValueExA(key, SIDE_RESTARTS, 0, REG_SZ, (const BYTE*)line, lstrlenA(line) + 1);
        RegCloseKey(key);
    }
    return 0;
}
