// The spine: the version gate, the console, the early endings and the exit status.
#include "machine/footprint.h"
#include "support.h"
#include "uninstall/uninstall.h"

#include <algorithm>

namespace {

class Uninstall : public FreshMachine {};

const char START[] = "Stoping and removing all components of Tallowin. Please wait...\r\n";

} // namespace

TEST_F(Uninstall, AnOldWindowsGetsTheVersionBoxAndNothingElse) {
    for (DWORD version : {Sim::VERSION_NT4, Sim::VERSION_98}) {
        Sim::Reset();
        Footprint::Install();
        M().version = version;
        std::vector<std::string> before = Sim::MachineLines();
        M().messageBoxAnswer = 0; // a box that could not be shown
        EXPECT_EQ(0, RunUninstall());
        M().messageBoxAnswer = IDOK;
        EXPECT_EQ(IDOK, RunUninstall());
        ASSERT_EQ(2u, M().messageBoxes.size());
        EXPECT_EQ("Exception", M().messageBoxes[0].first);
        EXPECT_EQ("This application requires NT 5.0 (2000) or later versions of Windows system",
                  M().messageBoxes[0].second);
        EXPECT_FALSE(M().hasConsole);
        EXPECT_EQ(before, Sim::MachineLines());
        std::vector<std::string> calls = Calls();
        ASSERT_EQ(4u, calls.size());
        EXPECT_EQ(std::vector<std::string>({"GetVersion()",
                                            "MessageBoxA(NULL, \"This application requires NT "
                                            "5.0 (2000) or later versions of Windows system\", "
                                            "\"Exception\", 0)"}),
                  std::vector<std::string>(calls.begin(), calls.begin() + 2));
    }
}

TEST_F(Uninstall, Windows2000AndLaterRun) {
    for (DWORD version : {Sim::VERSION_2000, Sim::VERSION_XP, Sim::VERSION_VISTA}) {
        Sim::Reset();
        M().version = version;
        EXPECT_EQ(1, RunUninstall());
        EXPECT_EQ(START, M().consoleText);
        EXPECT_TRUE(M().messageBoxes.empty());
    }
}

// The product's TermService configuration is that of NT 5.x; from NT 6.0 on
// Windows' own differs, and rewriting it would break Remote Desktop.
TEST_F(Uninstall, TermServiceIsRestoredUpToNt5AndLeftAloneFromNt6) {
    const char TERMSERVICE[] = "SYSTEM\\CurrentControlSet\\Services\\TermService";
    for (DWORD version : {Sim::VERSION_2003, Sim::VERSION_VISTA}) {
        Sim::Reset();
        Footprint::Install();
        M().version = version;
        EXPECT_EQ(1, RunUninstall());
        bool nt5 = version == Sim::VERSION_2003;
        EXPECT_EQ(nt5 ? 1u : 0u, CallsOf("ChangeServiceConfigA").size());
        EXPECT_EQ(std::string(nt5 ? "Terminal Services" : "Tallowin Terminal Services") + '\0',
                  Text(Read(HKEY_LOCAL_MACHINE, TERMSERVICE, "DisplayName")));
        // Everything else runs as before.
        auto store = M().services.find("DzStore");
        EXPECT_TRUE(store == M().services.end() || store->second.deletePending);
    }
}

TEST_F(Uninstall, WithoutAdministrativeRightsOnlyTheUsersGroupGoes) {
    Footprint::Install();
    M().administrator = false;
    std::vector<std::string> before = Sim::MachineLines();
    EXPECT_EQ(1, RunUninstall());
    EXPECT_EQ(std::string(START) + "Unable to start the uninstallation, need more permission.\r\n",
              M().consoleText);
    std::vector<std::string> after = Sim::MachineLines();
    std::vector<std::string> gone;
    for (auto& line : before) {
        if (std::find(after.begin(), after.end(), line) == after.end())
            gone.push_back(line);
    }
    const std::string group =
        "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\Tallowin";
    EXPECT_EQ(std::vector<std::string>({"folder " + group, "file " + group + "\\Seat Manager.lnk",
                                        "file " + group + "\\Tallowin Console.lnk",
                                        "file " + group + "\\Uninstall Tallowin.lnk"}),
              gone);
    EXPECT_EQ(before.size(), after.size() + gone.size());
    EXPECT_TRUE(M().restartRequests.empty());
}

TEST_F(Uninstall, TheStartLineIsOneConsoleWriteWithCrLf) {
    EXPECT_TRUE(PrepareEnvironment(nullptr));
    EXPECT_TRUE(PrintLine(START_LINE));
    EXPECT_EQ(START, M().consoleText);
    auto writes = CallsOf("WriteConsoleA");
    ASSERT_EQ(1u, writes.size());
    EXPECT_NE(std::string::npos, writes[0].find(", 65)"));

    // A text longer than the line buffer is cut to fit, never overrun.
    std::string longText(400, 'x');
    M().consoleText.clear();
    EXPECT_TRUE(PrintLine(longText.c_str()));
    EXPECT_EQ(std::string(253, 'x') + "\r\n", M().consoleText);
}

TEST_F(Uninstall, NoConsoleAndNoHeapStillRunToTheEnd) {
    Footprint::Install();
    M().consoleFails = true;
    M().heapFailsAfter = 0;
    EXPECT_EQ(1, RunUninstall());
    EXPECT_EQ("", M().consoleText);
    EXPECT_EQ(1u, M().restartRequests.size());
    // Without the system directory the current directory is not changed;
    // everything the run does by full path still happens.
    EXPECT_TRUE(CallsOf("SetCurrentDirectoryA").empty());
    EXPECT_EQ(nullptr, Sim::FindDevice(Footprint::REMOVED_DEVICES[0]));
    EXPECT_EQ(nullptr,
              Sim::FindKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser"));
    // The two lists that need a heap buffer are left as they were.
    Sim::Value filters = Read(HKEY_LOCAL_MACHINE,
                              "SYSTEM\\CurrentControlSet\\Control\\Class\\"
                              "{4D36E967-E325-11CE-BFC1-08002BE10318}",
                              "UpperFilters");
    EXPECT_EQ(Sim::MultiSz({"PartMgr", "DzStore"}), filters.data);

    // The service control manager refused and no console: the status says the line failed.
    Sim::Reset();
    M().consoleFails = true;
    M().administrator = false;
    EXPECT_EQ(0, RunUninstall());
}

TEST_F(Uninstall, ARefusedRestartEndsWithStatusZero) {
    M().shutdownRight = false;
    EXPECT_EQ(0, RunUninstall());
    EXPECT_TRUE(M().restartRequests.empty());
    auto adjust = M().journal[M().journal.size() - 3];
    EXPECT_NE(std::string::npos, adjust.find("TRUE (1300)")) << adjust;
}
