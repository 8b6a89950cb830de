// The program of every Win32 service of a machine laid down on real Windows:
// it records each control it gets and stops when told to, unless its
// description says it refuses.
#include "side_key.h"

#include <windows.h>

#include <vector>

namespace {

SERVICE_STATUS_HANDLE statusHandle;
SERVICE_STATUS status;
HANDLE stopped;
char serviceName[256];
DWORD program; // 1 records, 2 refuses stop

void Record(DWORD control) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SIDE_CONTROLS, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<DWORD> controls(64);
    DWORD size = (DWORD)(controls.size() * sizeof(DWORD));
    DWORD type;
    if (RegQueryValueExA(key, serviceName, nullptr, &type, (BYTE*)controls.data(), &size) !=
        ERROR_SUCCESS)
        size = 0;
    controls.resize(size / sizeof(DWORD));
    controls.push_back(control);
    RegSetValueExA(key, serviceName, 0, REG_BINARY, (const BYTE*)controls.data(),
                   (DWORD)(controls.size() * sizeof(DWORD)));
    RegCloseKey(key);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    if (control == SIDE_CONTROL_QUIT || (control == SERVICE_CONTROL_STOP && program != 2)) {
        if (control == SERVICE_CONTROL_STOP)
            Record(control);
        status.dwCurrentState = SERVICE_STOPPED;
        SetServiceStatus(statusHandle, &status);
        SetEvent(stopped);
        return NO_ERROR;
    }
    // A refused stop is not delivered on Windows; should it come, it is not one.
    if (control == SERVICE_CONTROL_STOP)
        return ERROR_INVALID_SERVICE_CONTROL;
    if (control != SERVICE_CONTROL_INTERROGATE)
        Record(control);
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD argc, char** argv) {
    if (argc > 0)
        lstrcpynA(serviceName, argv[0], sizeof serviceName);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SIDE_PROGRAMS, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof program;
        RegQueryValueExA(key, serviceName, nullptr, nullptr, (BYTE*)&program, &size);
        RegCloseKey(key);
    }
    stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    statusHandle = RegisterServiceCtrlHandlerExA(serviceName, Handler, nullptr);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = program == 2 ? 0 : SERVICE_ACCEPT_STOP;
    SetServiceStatus(statusHandle, &status);
    WaitForSingleObject(stopped, INFINITE);
}

} // namespace

int main() {
    char empty[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{empty, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
