// Winlogon's logon type set back to 1.
#include "installed.h"
#include "steps/steps.h"

TEST_F(FreshMachine, TheLogonTypeIsOneEvenWhereItWasAbsentButTheKeyIsNeverMade) {
    Sim::FindKey(HKEY_LOCAL_MACHINE, WINLOGON)->values.clear();
    RestoreLogonType();
    EXPECT_EQ(Sim::Dword(1), Read(HKEY_LOCAL_MACHINE, WINLOGON, "LogonType").data);
    Sim::DeleteKeyAt(HKEY_LOCAL_MACHINE, WINLOGON);
    RestoreLogonType();
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, WINLOGON));
}
