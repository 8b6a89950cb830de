#include "../catalogue/catalogue.h"
#include "../platform/windows_keys.h"
#include "../registry/registry.h"
#include "steps.h"

static const char CLSID_FORMAT[] = KEY_CLASS_IDS "\\%s";
static const char PROPERTY_SHEET_HANDLER_FORMAT[] = KEY_DESK_PROPERTY_SHEET_HANDLERS "\\%s";

void RemoveRegistrations() {
    for (int row = 0; row < SHELL_REGISTRATION_ROWS; ++row) {
        char keyPath[KEY_PATH_SIZE];
        Win::wsprintfA(keyPath, CLSID_FORMAT, ShellRegistrationTable[row].ClassId);
        DeleteKeyTree(HKEY_CLASSES_ROOT, keyPath);
        Win::wsprintfA(keyPath, PROPERTY_SHEET_HANDLER_FORMAT,
                       ShellRegistrationTable[row].HandlerName);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
    }
    DeleteKeyTree(HKEY_LOCAL_MACHINE, WINLOGON_NOTIFY_RYWINLOG);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, WINLOGON_NOTIFY_DZMUNOTIFY);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, PRODUCT_CONTROL_KEY);
}
