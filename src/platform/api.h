// The Windows calls of the product, its footprint installer and its platform
// tests, declared with Win32's own signatures for a realization other than
// the real one (the simulated Windows, or one that records instead of acting).
#pragma once

#include "host_types.h"

namespace Win {

// kernel32
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);
DWORD WINAPI GetVersion();
BOOL WINAPI AllocConsole();
HANDLE WINAPI GetStdHandle(DWORD which);
BOOL WINAPI WriteConsoleA(HANDLE console, const void* buffer, DWORD count, LPDWORD written,
                          LPVOID reserved);
HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID memory);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path);
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindClose(HANDLE search);
BOOL WINAPI DeleteFileA(LPCSTR path);
BOOL WINAPI CreateDirectoryA(LPCSTR path, LPVOID security);
BOOL WINAPI RemoveDirectoryA(LPCSTR path);
BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR replacement, DWORD flags);
DWORD WINAPI GetFileAttributesA(LPCSTR path);
BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes);
HMODULE WINAPI LoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
BOOL WINAPI CloseHandle(HANDLE handle);
HANDLE WINAPI GetCurrentProcess();
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide,
                               int units);
void WINAPI RtlMoveMemory(void* destination, const void* source, SIZE_T bytes);

// Not a Windows function: calls `call` with `argument` under a structured
// exception guard, so that a fault in foreign code it runs ends only that
// call. 0 when the call returned, else the exception's code.
typedef void(WINAPI* GUARDED_CALL)(LPVOID argument);
DWORD WINAPI CallGuarded(GUARDED_CALL call, LPVOID argument);

// user32
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...);
BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason);

// advapi32: registry
LONG WINAPI RegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key);
LONG WINAPI RegCreateKeyExA(HKEY root, LPCSTR path, DWORD reserved, LPSTR className, DWORD options,
                            REGSAM access, LPVOID security, PHKEY key, LPDWORD disposition);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size);
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size);
LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size);
LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size);
LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name);
LONG WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size);
LONG WINAPI RegDeleteKeyA(HKEY root, LPCSTR path);
LONG WINAPI RegFlushKey(HKEY key);
LONG WINAPI RegCloseKey(HKEY key);

// advapi32: services
SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access);
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE scm, LPCSTR name, DWORD access);
SC_HANDLE WINAPI CreateServiceA(SC_HANDLE scm, LPCSTR name, LPCSTR displayName, DWORD access,
                                DWORD serviceType, DWORD startType, DWORD errorControl,
                                LPCSTR binaryPath, LPCSTR group, LPDWORD tag, LPCSTR dependencies,
                                LPCSTR account, LPCSTR password);
BOOL WINAPI StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv);
BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL WINAPI DeleteService(SC_HANDLE service);
BOOL WINAPI ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                                 DWORD errorControl, LPCSTR binaryPath, LPCSTR group, LPDWORD tag,
                                 LPCSTR dependencies, LPCSTR account, LPCSTR password,
                                 LPCSTR displayName);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);

// advapi32: token
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL WINAPI LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid);
BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state,
                                  DWORD size, PTOKEN_PRIVILEGES previous, LPDWORD returned);

// shell32
BOOL WINAPI SHGetSpecialFolderPathA(HWND owner, LPSTR path, int csidl, BOOL create);

// setupapi
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                     DWORD flags);
HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent);
BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO set, LPCSTR name, const GUID* classGuid,
                                     LPCSTR description, HWND parent, DWORD flags,
                                     PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                              const BYTE* buffer, DWORD size);
BOOL WINAPI SetupDiRegisterDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD flags,
                                      LPVOID compare, LPVOID context, PSP_DEVINFO_DATA duplicate);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                              LPDWORD type, LPBYTE buffer, DWORD size,
                                              LPDWORD required);
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);

// Reading a machine and laying one down (the machine description and its
// installer; the product does not call these).
LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize);
BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, LPSTR id, DWORD size,
                                        LPDWORD required);
HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPVOID security,
                          DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high);
LONG WINAPI RegOpenKeyExW(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key);
LONG WINAPI RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD size);
DWORD WINAPI GetFileAttributesW(LPCWSTR path);
LONG WINAPI RegGetKeySecurity(HKEY key, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor,
                              LPDWORD size);
BOOL WINAPI DuplicateToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL level, HANDLE* duplicate);
BOOL WINAPI AccessCheck(PSECURITY_DESCRIPTOR descriptor, HANDLE token, DWORD desired,
                        PGENERIC_MAPPING mapping, PPRIVILEGE_SET privileges, LPDWORD privilegesSize,
                        LPDWORD granted, LPBOOL status);

// The contract tests alone: the load by full path that finds a library's own
// imports in the program's folder, not the library's (the product calls
// LoadLibraryExA instead).
HMODULE WINAPI LoadLibraryA(LPCSTR path);

} // namespace Win
