// TermService given back the configuration Windows installs it with.
#include "installed.h"
#include "steps/steps.h"

namespace {

const char TERMSERVICE[] = "SYSTEM\\CurrentControlSet\\Services\\TermService";

} // namespace

TEST_F(Installed, TermServiceGetsWindowsOwnConfigurationBack) {
    Sim::Value image = Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath");
    SC_HANDLE scm = Scm();
    M().journal.clear();
    serviceManager = scm;
    RestoreTerminalService();
    EXPECT_EQ(std::vector<std::string>({
                  "OpenServiceA(scm#1, \"TermService\", 0x2)",
                  "RegOpenKeyExA(HKLM, \"SYSTEM\\CurrentControlSet\\Services\\TermService\", "
                  "0xF003F)",
                  "RegQueryValueExA(key#1, \"ImagePath\", 4096)",
                  "RegCloseKey(key#1)",
                  "ChangeServiceConfigA(svc#1, 0x20, 3, 1, \"%SystemRoot%\\System32\\svchost -k "
                  "DComLaunch\", \"TermService\", &tag, \"RPCSS\", \"LocalSystem\", NULL, "
                  "\"Terminal Services\")",
                  "CloseServiceHandle(svc#1)",
              }),
              Calls());
    EXPECT_EQ(Sim::Dword(0x20), Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "Type").data);
    EXPECT_EQ(Sim::Dword(3), Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "Start").data);
    EXPECT_EQ(Sim::MultiSz({"RPCSS"}),
              Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "DependOnService").data);
    EXPECT_EQ(Sim::Sz("TermService"), Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "Group").data);
    EXPECT_EQ(Sim::Sz("Terminal Services"),
              Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "DisplayName").data);
    EXPECT_EQ(image.data, Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath").data);
    EXPECT_EQ(1, Sim::OpenHandles());
}

TEST_F(Installed, TermServiceWithoutAReadableImagePathIsLeftAsItIs) {
    SC_HANDLE scm = Scm();
    for (std::string bytes : {std::string(), "C:\\" + std::string(4093, 'x')}) {
        Sim::SetValue(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath", REG_EXPAND_SZ,
                      std::vector<BYTE>(bytes.begin(), bytes.end()));
        std::vector<std::string> before = Sim::MachineLines();
        serviceManager = scm;
        RestoreTerminalService();
        EXPECT_EQ(before, Sim::MachineLines());
    }
    EXPECT_TRUE(CallsOf("ChangeServiceConfigA").empty());
    EXPECT_EQ(1, Sim::OpenHandles());

    // Stored without its NUL, the path is still the path.
    Sim::SetValue(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath", REG_EXPAND_SZ,
                  {'C', ':', '\\', 'x'});
    serviceManager = scm;
    RestoreTerminalService();
    ASSERT_EQ(1u, CallsOf("ChangeServiceConfigA").size());
    EXPECT_NE(std::string::npos, CallsOf("ChangeServiceConfigA")[0].find("\"C:\\x\", "));
}
