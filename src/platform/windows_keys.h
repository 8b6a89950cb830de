// Windows' own registry keys that the uninstaller and the programs around it
// name, spelt as Windows installs them. String literals, so that a path below
// one is put together while compiling (KEY_SERVICES "\\Tcpip") and
// costs the uninstaller nothing at run time. Below HKEY_LOCAL_MACHINE unless
// said otherwise.
#pragma once

#define KEY_CONTROL_SET "SYSTEM\\CurrentControlSet"
#define KEY_SERVICES KEY_CONTROL_SET "\\Services"
// Windows' Terminal Services, whose configuration the product changed: the
// service's name and key, and its load-order group, which is spelt the same
// but names another thing (a group in the service group order).
#define SERVICE_TERMSERVICE "TermService"
#define KEY_TERMSERVICE KEY_SERVICES "\\" SERVICE_TERMSERVICE
#define GROUP_TERMSERVICE "TermService"
#define KEY_CONTROL KEY_CONTROL_SET "\\Control"
#define KEY_SETUP_CLASSES KEY_CONTROL "\\Class"
#define KEY_SERVICE_GROUP_ORDER KEY_CONTROL "\\ServiceGroupOrder"
#define KEY_SESSION_MANAGER KEY_CONTROL "\\Session Manager"
#define KEY_HARDWARE_PROFILES KEY_CONTROL_SET "\\Hardware Profiles"
// Each device's flags in the hardware profile the machine runs ("Current"
// is a link the boot makes), by its instance ID below this key.
#define KEY_PROFILE_ENUM KEY_HARDWARE_PROFILES "\\Current\\System\\CurrentControlSet\\Enum"

#define KEY_WINLOGON "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"
#define KEY_WINLOGON_NOTIFY KEY_WINLOGON "\\Notify"
// The display control panel's property-sheet handlers.
#define KEY_DESK_PROPERTY_SHEET_HANDLERS                                                           \
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\Desk\\shellex\\"               \
    "PropertySheetHandlers"

// HKEY_CLASSES_ROOT is the machine's classes, KEY_MACHINE_CLASSES; COM
// classes are below it in KEY_CLASS_IDS.
#define KEY_MACHINE_CLASSES "SOFTWARE\\Classes"
#define KEY_CLASS_IDS "CLSID"
