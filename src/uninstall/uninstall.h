// The program's spine: the fixed sequence of removal steps and its output.
#pragma once

#include "../platform/platform.h"

extern const char START_LINE[];
extern const char NO_PERMISSION_LINE[];
extern const char VERSION_MESSAGE[];
extern const char ERROR_CAPTION[];

// Performs the whole run; the result of its last call, the process exit status.
int RunUninstall();

// Version gate, console and system directory. Nonzero when the run may go on;
// otherwise *boxResult holds the result of the version box.
BOOL PrepareEnvironment(int* boxResult);

// Writes `text` and CR LF to the console; nonzero on success.
BOOL PrintLine(const char* text);

// Shows `text` in a modal error box; IDOK, or 0 when it cannot be shown.
int ShowError(const char* text);
