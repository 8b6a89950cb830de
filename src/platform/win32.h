// The real realization: Windows itself. Every name of the boundary is the
// system's own function, so a call costs exactly what the direct call costs.
#pragma once

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which they build on.
#include <setupapi.h>
#include <shlobj.h>

// The SDK headers turn RtlMoveMemory into the C runtime's memmove; the product
// needs no C runtime, so it calls kernel32's export instead.
#undef RtlMoveMemory
extern "C" __declspec(dllimport) void WINAPI
    RtlMoveMemory(void* destination, const void* source, SIZE_T bytes);

#if defined(_WIN64)
// The Windows test builds also run the product as a 64-bit program, under 64-bit Wine.
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA layout");
#else
static_assert(sizeof(void*) == 4, "the product is a 32-bit program");
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA layout");
#endif
// A UTF-16 string literal of WCHAR.
#define WIDE_TEXT(text) L##text

static_assert(sizeof(SERVICE_STATUS) == 28, "SERVICE_STATUS layout");
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "TOKEN_PRIVILEGES layout");
static_assert(sizeof(WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA layout");

namespace Win {
using ::AdjustTokenPrivileges;
using ::AllocConsole;
using ::ChangeServiceConfigA;
using ::CloseHandle;
using ::CloseServiceHandle;
using ::ControlService;
using ::CreateDirectoryA;
using ::CreateServiceA;
using ::DeleteFileA;
using ::DeleteService;
using ::ExitWindowsEx;
using ::FindClose;
using ::FindFirstFileA;
using ::FindNextFileA;
using ::FreeLibrary;
using ::GetComputerNameA;
using ::GetCurrentProcess;
using ::GetFileAttributesA;
using ::GetLastError;
using ::GetProcAddress;
using ::GetProcessHeap;
using ::GetStdHandle;
using ::GetSystemDirectoryA;
using ::GetVersion;
using ::HeapAlloc;
using ::HeapFree;
using ::LoadLibraryExA;
using ::LookupPrivilegeValueA;
using ::lstrcmpiA;
using ::lstrcmpiW;
using ::MessageBoxA;
using ::MoveFileExA;
using ::MultiByteToWideChar;
using ::OpenProcessToken;
using ::OpenSCManagerA;
using ::OpenServiceA;
using ::RegCloseKey;
using ::RegCreateKeyExA;
using ::RegDeleteKeyA;
using ::RegDeleteValueA;
using ::RegEnumKeyA;
using ::RegFlushKey;
using ::RegOpenKeyExA;
using ::RegQueryValueExA;
using ::RegQueryValueExW;
using ::RegSetValueExA;
using ::RegSetValueExW;
using ::RemoveDirectoryA;
using ::RtlMoveMemory;
using ::SetCurrentDirectoryA;
using ::SetFileAttributesA;
using ::SetLastError;
using ::SetupDiCallClassInstaller;
using ::SetupDiCreateDeviceInfoA;
using ::SetupDiCreateDeviceInfoList;
using ::SetupDiDestroyDeviceInfoList;
using ::SetupDiEnumDeviceInfo;
using ::SetupDiGetClassDevsA;
using ::SetupDiGetDeviceRegistryPropertyW;
using ::SetupDiRegisterDeviceInfo;
using ::SetupDiSetDeviceRegistryPropertyA;
using ::SHGetSpecialFolderPathA;
using ::StartServiceA;
using ::WriteConsoleA;
using ::wsprintfA;
// The machine description and its installer.
using ::AccessCheck;
using ::CreateFileA;
using ::DuplicateToken;
using ::GetFileAttributesW;
using ::GetFileSize;
using ::QueryServiceStatus;
using ::ReadFile;
using ::RegEnumKeyW;
using ::RegEnumValueA;
using ::RegGetKeySecurity;
using ::RegOpenKeyExW;
using ::SetupDiGetDeviceInstanceIdA;
// The contract tests.
using ::LoadLibraryA;

// Not a Windows function: calls `call` with `argument` under a structured
// exception guard, so that a fault in foreign code it runs ends only that
// call. 0 when the call returned, else the exception's code.
typedef void(WINAPI* GUARDED_CALL)(LPVOID argument);
DWORD WINAPI CallGuarded(GUARDED_CALL call, LPVOID argument);
} // namespace Win
