#include "uninstall.h"

#include "../registry/text.h"
#include "../steps/steps.h"

extern const char START_LINE[] = "Stoping and removing all components of Tallowin. Please wait...";
extern const char NO_PERMISSION_LINE[] =
    "Unable to start the uninstallation, need more permission.";
extern const char VERSION_MESSAGE[] =
    "This application requires NT 5.0 (2000) or later versions of Windows system";
extern const char ERROR_CAPTION[] = "Exception";

constexpr DWORD LINE_BUFFER_SIZE = 256;
constexpr DWORD LINE_TEXT_LIMIT = LINE_BUFFER_SIZE - 3; // room for CR, LF and NUL

static HANDLE consoleOutput;
SC_HANDLE serviceManager;
char* systemDirectory;
DWORD majorVersion;

int ShowError(const char* text) {
    return Win::MessageBoxA(NULL, text, ERROR_CAPTION, MB_OK);
}

BOOL PrintLine(const char* text) {
    char line[LINE_BUFFER_SIZE];
    DWORD length = 0;
    while (length < LINE_TEXT_LIMIT && text[length] != 0) {
        line[length] = text[length];
        ++length;
    }
    line[length++] = '\r';
    line[length++] = '\n';
    line[length] = 0;
    DWORD written;
    return Win::WriteConsoleA(consoleOutput, line, length, &written, NULL);
}

BOOL PrepareEnvironment(int* boxResult) {
    DWORD version = Win::GetVersion();
    BOOL notNt = (version & 0x80000000u) != 0;
    majorVersion = version & 0xFF;
    if (notNt || majorVersion < 5) {
        *boxResult = ShowError(VERSION_MESSAGE);
        return FALSE;
    }

    Win::AllocConsole();
    consoleOutput = Win::GetStdHandle(STD_OUTPUT_HANDLE);

    // Without the buffer, or without an answer that fits, the run goes on
    // with no system directory rather than with an unknown one.
    systemDirectory = (char*)Win::HeapAlloc(Win::GetProcessHeap(), 0, VALUE_BUFFER_SIZE);
    if (systemDirectory != NULL) {
        UINT length = Win::GetSystemDirectoryA(systemDirectory, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            systemDirectory = NULL;
    }
    return TRUE;
}

static BOOL restartAccepted;

static void Restart() {
    restartAccepted = RestartSystem();
}

extern const UninstallStep UNINSTALL_STEPS[] = {
    {"Start-menu groups", RemoveStartMenuGroups},
    {"Terminal Services configuration", RestoreTerminalService},
    {"Devices", RemoveDevices},
    {"Services", RemoveServices},
    {"COM servers", UnregisterComponentServers},
    {"Files deleted at the restart", ScheduleComponentFiles},
    {"Service group order", CleanServiceGroupOrder},
    {"Class filters", CleanClassFilters},
    {"Registry trees", RemoveRegistrations},
    {"Logon type", RestoreLogonType},
    {"Restart", Restart},
};
extern const int UNINSTALL_STEP_COUNT = sizeof UNINSTALL_STEPS / sizeof UNINSTALL_STEPS[0];

// The steps from this one on work through the service manager: the run
// opens it here, and ends when it cannot.
constexpr int FIRST_SERVICE_MANAGER_STEP = 1;

int RunUninstall(StepObserver observer, void* context) {
    int boxResult = 0;
    if (!PrepareEnvironment(&boxResult))
        return boxResult;
    PrintLine(START_LINE);
    for (int step = 0; step < UNINSTALL_STEP_COUNT; ++step) {
        if (step == FIRST_SERVICE_MANAGER_STEP) {
            serviceManager = Win::OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
            if (serviceManager == NULL)
                return PrintLine(NO_PERMISSION_LINE);
        }
        UNINSTALL_STEPS[step].run();
        if (observer != NULL)
            observer(step, context);
    }
    return restartAccepted;
}
