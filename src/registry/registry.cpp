#include "registry.h"

// A value name is ANSI, or UTF-16 where `wide` says so: one procedure serves
// both, and one copy of it (the program must stay small).
__attribute__((noinline)) static DWORD ReadValue(HKEY root, const char* path, const void* name,
                                                 BOOL wide, BYTE* buffer, DWORD capacity) {
    HKEY key;
    if (Win::RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type;
    DWORD size = capacity;
    LONG status = wide ? Win::RegQueryValueExW(key, (const WCHAR*)name, NULL, &type, buffer, &size)
                       : Win::RegQueryValueExA(key, (const char*)name, NULL, &type, buffer, &size);
    Win::RegCloseKey(key);
    // Only a successful query has put the count in range. Through the W
    // function only a list of whole UTF-16 units is read: the bytes of
    // another type, read as UTF-16 and written back, would become other
    // characters.
    if (status != ERROR_SUCCESS || size > capacity ||
        (wide && (type != REG_MULTI_SZ || size % sizeof(WCHAR) != 0)))
        return 0;
    return size;
}

DWORD ReadRegistryValue(HKEY root, const char* path, const char* name, BYTE* buffer) {
    return ReadValue(root, path, name, FALSE, buffer, VALUE_BUFFER_SIZE);
}

DWORD ReadRegistryList(HKEY root, const char* path, const WCHAR* name, WCHAR* buffer) {
    return ReadValue(root, path, name, TRUE, (BYTE*)buffer, LIST_BUFFER_SIZE);
}

DWORD ReadRegistryText(HKEY root, const char* path, const char* name, char* buffer) {
    DWORD size = ReadRegistryValue(root, path, name, (BYTE*)buffer);
    return size == 0 ? 0 : EndRegistryText(buffer, size);
}

__attribute__((noinline)) static LONG WriteValue(HKEY root, const char* path, const void* name,
                                                 BOOL wide, DWORD type, const BYTE* data,
                                                 DWORD size) {
    HKEY key;
    LONG status = Win::RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS)
        return status;
    status = wide ? Win::RegSetValueExW(key, (const WCHAR*)name, 0, type, data, size)
                  : Win::RegSetValueExA(key, (const char*)name, 0, type, data, size);
    if (status != ERROR_SUCCESS) {
        Win::RegCloseKey(key);
        return status;
    }
    Win::RegFlushKey(key);
    return Win::RegCloseKey(key);
}

void WriteMultiStringValue(HKEY root, const char* path, const WCHAR* name, const WCHAR* data,
                           DWORD size) {
    WriteValue(root, path, name, TRUE, REG_MULTI_SZ, (const BYTE*)data, size);
}

LONG WriteDwordValue(HKEY root, const char* path, const char* name, DWORD value) {
    return WriteValue(root, path, name, FALSE, REG_DWORD, (const BYTE*)&value, sizeof(value));
}

void DeleteRegistryValue(HKEY root, const char* path, const char* name) {
    HKEY key;
    if (Win::RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    Win::RegDeleteValueA(key, name);
    Win::RegCloseKey(key);
}

LONG DeleteKeyTree(HKEY root, const char* path) {
    HKEY key;
    LONG status = Win::RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS)
        return status;

    // Each child deleted moves the next one to the index being read. A child
    // that stays (no rights, or its path would not fit) is stepped over, so
    // the loop ends. Every level adds at least two bytes to a path that must
    // fit in KEY_PATH_SIZE, which bounds the depth.
    DWORD index = 0;
    for (;;) {
        Win::RegFlushKey(key);
        char child[KEY_PATH_SIZE];
        if (Win::RegEnumKeyA(key, index, child, KEY_PATH_SIZE) != ERROR_SUCCESS)
            break;
        char childPath[KEY_PATH_SIZE];
        if (!CopyText(childPath, KEY_PATH_SIZE, path) ||
            !AppendText(childPath, KEY_PATH_SIZE, "\\") ||
            !AppendText(childPath, KEY_PATH_SIZE, child) ||
            DeleteKeyTree(root, childPath) != ERROR_SUCCESS)
            ++index;
    }
    Win::RegCloseKey(key);
    return Win::RegDeleteKeyA(root, path);
}
