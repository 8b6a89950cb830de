#include "../platform/windows_keys.h"
#include "../registry/registry.h"
#include "steps.h"

static const char WINLOGON_KEY[] = KEY_WINLOGON;

void RestoreLogonType() {
    WriteDwordValue(HKEY_LOCAL_MACHINE, WINLOGON_KEY, "LogonType", 1);
}
