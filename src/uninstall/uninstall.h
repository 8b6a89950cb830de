// The program's spine: the fixed sequence of removal steps and its output.
#pragma once

#include "../platform/platform.h"

extern const char START_LINE[];
extern const char NO_PERMISSION_LINE[];
extern const char VERSION_MESSAGE[];
extern const char ERROR_CAPTION[];

// One removal step: the name the companion program shows it by, and the
// procedure. The table holds them in the run's order.
struct UninstallStep {
    const char* name;
    void (*run)();
};
extern const UninstallStep UNINSTALL_STEPS[];
extern const int UNINSTALL_STEP_COUNT;

// Called after each step that ran, with the step's index in UNINSTALL_STEPS
// and the context the run was given.
typedef void (*StepObserver)(int step, void* context);

// Performs the whole run, calling `observer` (when not NULL) with `context`
// between steps;
// the result of its last call, the process exit status. The run ends early
// when Windows is too old (the version box's result) and when the service
// manager cannot be opened after the Start-menu step (the console line's).
int RunUninstall(StepObserver observer = NULL, void* context = NULL);

// Version gate, console and system directory. Nonzero when the run may go on;
// otherwise *boxResult holds the result of the version box.
BOOL PrepareEnvironment(int* boxResult);

// Writes `text` and CR LF to the console; nonzero on success.
BOOL PrintLine(const char* text);

// Shows `text` in a modal error box; IDOK, or 0 when it cannot be shown.
int ShowError(const char* text);
