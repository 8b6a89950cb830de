// Where the programs of a machine laid down on real Windows leave what they
// saw: the program each service runs, the controls it received, each
// library's behaviour and the libraries whose DllUnregisterServer ran. Kept
// outside every place the uninstaller reads or changes.
#pragma once

#define SIDE_KEY "SOFTWARE\\SideBySideRun"
#define SIDE_PROGRAMS SIDE_KEY "\\Programs"   // DWORD per service: its Program
#define SIDE_CONTROLS SIDE_KEY "\\Controls"   // REG_BINARY per service: DWORDs received
#define SIDE_LIBRARIES SIDE_KEY "\\Libraries" // DWORD per full path: its Library
#define SIDE_UNREGISTERED "Unregistered"      // REG_MULTI_SZ under SIDE_KEY
#define SIDE_RESTARTS "Restarts"              // REG_SZ under SIDE_KEY: the restart requests

// The user-defined control that makes a laid-down service program end
// whatever it is (the clean-up between machines); the uninstaller never sends it.
#define SIDE_CONTROL_QUIT 129
