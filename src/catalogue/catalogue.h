// What the product put on the system, compiled in. Every list is a
// MultiStringList: NUL-terminated entries ended by an empty one.
#pragma once

#include "../platform/windows_keys.h"

struct ShellRegistration {
    const char* ClassId;     // "{...}", used with its braces
    const char* HandlerName; // display property-sheet handler key name
};

constexpr int CLASS_FILTER_ROWS = 6;
constexpr int SHELL_REGISTRATION_ROWS = 2;

extern const char HardwareIdList[];
extern const char MainFileList[];
extern const char* const MainServerList; // the last four entries of MainFileList
extern const char ExtraFileList[];
extern const char SupportFileList[];
extern const char* const SupportServerList; // the last two entries of SupportFileList
extern const char DriverFileList[];
extern const char ServiceList[];

// The class filter table: a list of setup class GUIDs (without braces) and,
// row by row, the entry of ServiceList that filters that class.
extern const char ClassFilterGuids[];
extern const char* const ClassFilterNames[CLASS_FILTER_ROWS];

extern const ShellRegistration ShellRegistrationTable[SHELL_REGISTRATION_ROWS];

extern const char START_MENU_GROUP[];    // appended to a Start-menu programs folder
extern const char PRODUCT_CONTROL_KEY[]; // under HKEY_LOCAL_MACHINE
extern const char PRODUCT_FOLDER_VALUE[];
extern const char WINLOGON_NOTIFY_RYWINLOG[];
extern const char WINLOGON_NOTIFY_DZMUNOTIFY[];
extern const char GROUP_ORDER_TERMSERVICE[];
extern const char GROUP_ORDER_MULTIUSER[];
extern const char* const PREPARE_REMOVAL_SERVICE; // the entry of ServiceList that is told first

// The services a reader of a machine describes as the product's: its own,
// then Windows' TermService, whose configuration it changed. Lists of the
// kind above, read one after the other; in the header, so that the
// uninstaller, which reads none of them, carries none of it.
inline constexpr const char* DESCRIBED_SERVICE_LISTS[] = {ServiceList, SERVICE_TERMSERVICE "\0"};

// The control code the product's own service takes as its cue to prepare
// for removal; Windows leaves codes 128 to 255 to services.
constexpr unsigned long CONTROL_PREPARE_REMOVAL = 254;
