#include "../registry/registry.h"
#include "steps.h"

static const char WINLOGON_KEY[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

void RestoreLogonType() {
    WriteDwordValue(HKEY_LOCAL_MACHINE, WINLOGON_KEY, "LogonType", 1);
}
