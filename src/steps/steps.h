// The removal steps, each in its own source, called once from RunUninstall
// (through its table of steps).
#pragma once

#include "../platform/platform.h"

// What the run gives the steps: the service manager, opened with all access
// before the first step that needs it; the system directory, NULL when it
// could not be found; Windows' major version.
extern SC_HANDLE serviceManager;
extern char* systemDirectory;
extern DWORD majorVersion;

// Removes the product's group from the user's and from all users' Start menu.
void RemoveStartMenuGroups();
// Deletes the product's shortcuts and group folder from one Start-menu
// programs folder; nonzero when the folder was removed.
BOOL RemoveStartMenuGroup(int csidl);

// Gives TermService back the configuration Windows installs it with, on the
// Windows versions the product runs on.
void RestoreTerminalService();
// Takes the product's groups out of the service group order.
void CleanServiceGroupOrder();
// Sets Winlogon's logon type back to 1.
void RestoreLogonType();

// The bytes read of each device's hardware-ID list (the whole REG_MULTI_SZ
// property, every ID and NUL in it): a device whose list is longer is not
// the product's.
constexpr DWORD HARDWARE_ID_LIST_BYTES = 64;

// Asks the class installer to remove every present product device, working
// in the system directory where it is known.
void RemoveDevices();
// 1 when the UTF-16 hardware ID is one of the product's, else 0.
int MatchHardwareId(const WCHAR* hardwareId);

// Sends the preparation control, then stops and deletes every product service.
void RemoveServices();

// Unregisters the product's COM servers in the folder "DzPath" names, then
// (the step after) queues its files there for deletion at the restart.
void UnregisterComponentServers();
void ScheduleComponentFiles();
void UnregisterServers(const char* list, const char* folder);
void ScheduleFileRemoval(char* folder);
BOOL ScheduleDeleteList(const char* list, const char* folder);

// Takes the product's upper filters out of the six device setup classes.
void CleanClassFilters();

// Deletes the product's shell, Winlogon and control registry trees.
void RemoveRegistrations();

// Enables the shutdown privilege and asks Windows to restart; nonzero when accepted.
BOOL RestartSystem();
