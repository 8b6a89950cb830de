#include "../catalogue/catalogue.h"
#include "../registry/registry.h"
#include "steps.h"

typedef HRESULT(WINAPI* UnregisterServerProc)();

static const char DRIVERS_FOLDER[] = "drivers\\";

// The folder and a file name, or FALSE when they do not fit in MAX_PATH.
static BOOL BuildFilePath(char* path, const char* folder, const char* name) {
    return CopyText(path, MAX_PATH, folder) && AppendText(path, MAX_PATH, name);
}

// Loads one server and lets it unregister. The server's code runs in our
// process: its entry point on loading, then DllUnregisterServer. Its own
// imports are looked for beside it first, as Windows' registration tool
// loads a server: loaded by full path alone, they would be looked for beside
// this program, which fleets run from a distribution cache or a share.
static void WINAPI UnregisterServer(LPVOID path) {
    HMODULE module = Win::LoadLibraryExA((const char*)path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == NULL)
        return;
    FARPROC proc = Win::GetProcAddress(module, "DllUnregisterServer");
    if (proc != NULL)
        reinterpret_cast<UnregisterServerProc>(proc)();
    Win::FreeLibrary(module);
}

// A server that faults is left as it is, loaded: the services are deleted by
// now and the class filters that name them are still to be cleaned, so the
// run must not end here.
void UnregisterServers(const char* list, const char* folder) {
    for (const char* name = list; *name != 0; name = NextListEntry(name)) {
        char path[MAX_PATH];
        if (BuildFilePath(path, folder, name))
            Win::CallGuarded(UnregisterServer, path);
    }
}

BOOL ScheduleDeleteList(const char* list, const char* folder) {
    BOOL result = FALSE;
    for (const char* name = list; *name != 0; name = NextListEntry(name)) {
        char path[MAX_PATH];
        if (BuildFilePath(path, folder, name))
            result = Win::MoveFileExA(path, NULL,
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return result;
}

// `folder` is the product folder with its trailing backslash, in a buffer of
// VALUE_BUFFER_SIZE bytes; the driver subfolder is appended to it in place.
void ScheduleFileRemoval(char* folder) {
    // A table walked once costs less code than a call a list.
    static const char* const FOLDER_LISTS[] = {MainFileList, ExtraFileList, SupportFileList};
    for (const char* list : FOLDER_LISTS)
        ScheduleDeleteList(list, folder);
    if (AppendText(folder, VALUE_BUFFER_SIZE, DRIVERS_FOLDER))
        ScheduleDeleteList(DriverFileList, folder);
}

// The folder the servers were unregistered in, with its trailing backslash;
// empty when "DzPath" was refused. The files are queued in the same folder
// in the step after.
static char componentFolder[VALUE_BUFFER_SIZE];

void UnregisterComponentServers() {
    char* folder = componentFolder;
    DWORD length =
        ReadRegistryText(HKEY_LOCAL_MACHINE, PRODUCT_CONTROL_KEY, PRODUCT_FOLDER_VALUE, folder);
    // Only an absolute folder is worked in; any other value skips both steps.
    if (length != 0 && IsAbsoluteFolder(folder) &&
        (IsSeparator(folder[length - 1]) || AppendText(folder, VALUE_BUFFER_SIZE, "\\"))) {
        UnregisterServers(MainServerList, folder);
        UnregisterServers(SupportServerList, folder);
        return;
    }
    folder[0] = 0;
}

void ScheduleComponentFiles() {
    if (componentFolder[0] != 0)
        ScheduleFileRemoval(componentFolder);
}
