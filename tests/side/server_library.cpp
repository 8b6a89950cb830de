// The COM server library of a machine laid down on real Windows: its
// DllUnregisterServer records its own path and does nothing else. Built
// without the export too, for a library that has none, and importing a
// second library, for a server that loads only where that one is found.
#include "side_key.h"

#include <windows.h>

static HMODULE self;

#ifdef SIDE_IMPORTS
extern "C" __declspec(dllimport) int SideImportValue();
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}

#ifdef SIDE_EXPORTS_UNREGISTER
extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
#ifdef SIDE_IMPORTS
    if (SideImportValue() != 7)
        return E_FAIL;
#endif
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SIDE_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    char list[8192];
    DWORD size = sizeof list - MAX_PATH - 2;
    DWORD type;
    if (RegQueryValueExA(key, SIDE_UNREGISTERED, nullptr, &type, (BYTE*)list, &size) !=
            ERROR_SUCCESS ||
        size < 2)
        size = 1; // the list's final NUL only
    lstrcpyA(list + size - 1, path);
    size += length + 1;
    list[size - 1] = 0;
    RegSetValueExA(key, SIDE_UNREGISTERED, 0, REG_MULTI_SZ, (const BYTE*)list, size);
    RegCloseKey(key);
    return S_OK;
}
#endif
