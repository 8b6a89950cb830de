// The service program of the contract tests in the Windows test builds: it
// runs until told to stop, then reports STOP_PENDING with a wait hint and
// stops a moment later, as a service with work to finish does. Any number of
// services may name it; each runs in its own process.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE handle;
SERVICE_STATUS status;
HANDLE stopRequested;

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        status.dwCurrentState = SERVICE_STOP_PENDING;
        status.dwControlsAccepted = 0;
        status.dwCheckPoint = 1;
        status.dwWaitHint = 3000;
        SetServiceStatus(handle, &status);
        SetEvent(stopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, char**) {
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    handle = RegisterServiceCtrlHandlerExA("", Control, nullptr);
    if (handle == nullptr)
        return;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    SetServiceStatus(handle, &status);
    WaitForSingleObject(stopRequested, INFINITE);
    Sleep(300);
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
    SetServiceStatus(handle, &status);
}

} // namespace

int main() {
    // An own-process service: the name in the table is not looked at.
    char name[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
