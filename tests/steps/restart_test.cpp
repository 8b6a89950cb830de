// The restart asked for with the shutdown privilege enabled.
#include "installed.h"
#include "steps/steps.h"

TEST_F(FreshMachine, TheRestartIsAskedForWithTheShutdownPrivilegeEnabled) {
    EXPECT_TRUE(RestartSystem());
    EXPECT_EQ(std::vector<std::string>({
                  "OpenProcessToken(current process, 0x20)",
                  "LookupPrivilegeValueA(NULL, \"SeShutdownPrivilege\")",
                  "AdjustTokenPrivileges(token#1, 0, 1 privilege)",
                  "CloseHandle(token#1)",
                  "ExitWindowsEx(2, 0)",
              }),
              Calls());
    EXPECT_EQ(1u, M().restartRequests.size());
    EXPECT_EQ(0, Sim::OpenHandles());
}
