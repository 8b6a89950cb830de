// The Windows functions the machine reader calls, by name alone, in one
// fixed order: the list both sides of VkCheck.exe build the reader's table
// from (see calls.h). It names no type, so that the one source built against
// Windows itself (windows_calls.cpp) shares none with the rest of the
// program, which is built against the simulated Windows.
#pragma once

#define VK_READER_CALLS(CALL)                                                                      \
    /* kernel32 */                                                                                 \
    CALL(GetLastError)                                                                             \
    CALL(GetVersion)                                                                               \
    CALL(GetCurrentProcess)                                                                        \
    CALL(GetSystemDirectoryA)                                                                      \
    CALL(GetComputerNameA)                                                                         \
    CALL(GetFileAttributesA)                                                                       \
    CALL(GetFileAttributesW)                                                                       \
    CALL(FindFirstFileA)                                                                           \
    CALL(FindNextFileA)                                                                            \
    CALL(FindClose)                                                                                \
    CALL(CreateFileA)                                                                              \
    CALL(GetFileSize)                                                                              \
    CALL(ReadFile)                                                                                 \
    CALL(CloseHandle)                                                                              \
    CALL(lstrcmpiA)                                                                                \
    /* advapi32 */                                                                                 \
    CALL(RegOpenKeyExA)                                                                            \
    CALL(RegOpenKeyExW)                                                                            \
    CALL(RegEnumKeyW)                                                                              \
    CALL(RegQueryValueExW)                                                                         \
    CALL(RegEnumKeyA)                                                                              \
    CALL(RegEnumValueA)                                                                            \
    CALL(RegQueryValueExA)                                                                         \
    CALL(RegCloseKey)                                                                              \
    CALL(RegGetKeySecurity)                                                                        \
    CALL(OpenProcessToken)                                                                         \
    CALL(DuplicateToken)                                                                           \
    CALL(AccessCheck)                                                                              \
    CALL(OpenSCManagerA)                                                                           \
    CALL(OpenServiceA)                                                                             \
    CALL(QueryServiceStatus)                                                                       \
    CALL(CloseServiceHandle)                                                                       \
    /* shell32 */                                                                                  \
    CALL(SHGetSpecialFolderPathA)                                                                  \
    /* setupapi */                                                                                 \
    CALL(SetupDiGetClassDevsA)                                                                     \
    CALL(SetupDiEnumDeviceInfo)                                                                    \
    CALL(SetupDiGetDeviceInstanceIdA)                                                              \
    CALL(SetupDiGetDeviceRegistryPropertyW)                                                        \
    CALL(SetupDiDestroyDeviceInfoList)

namespace Description {

// A function of the list as it is handed across, its type forgotten.
typedef void (*AnyCall)();

// Windows' own functions of the list, in its order (VkCheck.exe alone).
const AnyCall* WindowsCalls();

} // namespace Description
