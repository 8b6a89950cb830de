// The companion program on the simulated Windows: its preview of a snapshot
// is the run the uninstaller then makes, its reading writes nothing, and
// verify names what is left.
#include "check/check.h"
#include "check_support.h"
#include "machine/footprint.h"
#include "platform/sim/machine.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>

namespace {

// The installed machine with the server's import taken from beside it to
// `to` (a copy: installing makes a new machine, and the folder may be the old one's).
void MoveImport(std::string to) {
    Footprint::Install();
    Sim::FindNode(Footprint::PRODUCT_FOLDER)->children.erase(Footprint::SERVER_IMPORT);
    if (!to.empty())
        Sim::MakeFile(to + "\\" + Footprint::SERVER_IMPORT);
}

void ExpectPreviewIsTheRun() {
    for (const std::string& difference : CheckSupport::PreviewAgainstRun())
        ADD_FAILURE() << difference;
}

TEST(Check, PreviewOfASnapshotIsTheRunOnTheTypicalMachineAndItsVariants) {
    std::vector<std::pair<std::string, void (*)()>> machines = {
        {"installed", [] { Footprint::Install(); }},
        {"without the product", [] {}},
        {"folder elsewhere, a service refusing stop, a filter on a device",
         [] {
             Footprint::Install();
             Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser",
                           "DzPath", REG_SZ, Sim::Sz("D:\\Apps\\Tallowin\\"));
             Sim::MakeDirectory("D:\\Apps\\Tallowin\\drivers");
             Sim::MakeFile("D:\\Apps\\Tallowin\\VkConsole.exe");
             Sim::MakeFile("D:\\Apps\\Tallowin\\drivers\\VkGate.sys");
             Sim::Current().services["DzService"].acceptsStop = false;
             Sim::Device* keyboard = Sim::FindDevice("ACPI\\PNP0303\\4&2658D0A0&0");
             keyboard->upperFilters = Sim::WideMultiSz({"DzXpKbdPnp"});
         }},
    };
    // A server whose import is gone does not load; one whose import lies in
    // the system folder does.
    machines.push_back({"a server's import gone", [] { MoveImport(""); }});
    machines.push_back({"a server's import in the system folder",
                        [] { MoveImport(Sim::Current().systemDirectory); }});
    machines.push_back({"the product's control key refusing deletion", [] {
                            Footprint::Install();
                            Sim::FindKey(HKEY_LOCAL_MACHINE,
                                         "SYSTEM\\CurrentControlSet\\Control\\Multiuser")
                                ->refuseDelete = true;
                        }});
    machines.push_back({"the group under its literal name, ending in two spaces", [] {
                            Footprint::Install();
                            std::string literal = Sim::Current().programsFolder + "\\Tallowin  \\";
                            Sim::MakeDirectory(literal);
                            Sim::MakeFile(literal + "Seat Manager.lnk");
                        }});
    for (auto& machine : machines) {
        Sim::Reset();
        machine.second();
        SCOPED_TRACE(machine.first);
        ExpectPreviewIsTheRun();
    }
    // The last machine's snapshot holds the literal group, and its preview deletes it.
    Sim::Reset();
    machines.back().second();
    Description::Machine read = Description::Describe();
    EXPECT_TRUE(std::any_of(read.files.begin(), read.files.end(), [](const auto& file) {
        return file.path == "%PROGRAMS%\\Tallowin  \\Seat Manager.lnk";
    }));
    Check::Preview preview = Check::PreviewRun(read);
    EXPECT_NE(preview.changes.end(),
              std::find(preview.changes.begin(), preview.changes.end(),
                        Description::Change{Description::ChangeKind::FolderRemoved,
                                            "%PROGRAMS%\\Tallowin  "}));
    // The server whose import is gone is named, with the import.
    Sim::Reset();
    MoveImport("");
    preview = Check::PreviewRun(Description::Describe());
    std::string server = std::string(Footprint::PRODUCT_FOLDER) + Footprint::IMPORTING_SERVER;
    std::string why = std::string("it imports ") + Footprint::SERVER_IMPORT +
                      ", found neither beside it nor in the system or Windows folder";
    std::vector<std::string> servers;
    for (const Check::Finding& note : preview.notDone) {
        if (note.reason == Check::Reason::ServerNotUnregistered)
            servers.push_back(note.where + " " + note.detail);
    }
    EXPECT_EQ(std::vector<std::string>({server + " " + why}), servers);
}

} // namespace

namespace {

bool ReadSimulated(const std::string& folder, Description::Machine* machine, std::string*) {
    *machine = Description::Describe(folder);
    return true;
}

int Check(std::vector<std::string> words, std::string* out = nullptr) {
    std::vector<char*> argv{const_cast<char*>("VkCheck")};
    for (std::string& word : words)
        argv.push_back(&word[0]);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = Check::Main((int)argv.size(), argv.data(), ReadSimulated);
    std::string printed = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    if (out != nullptr)
        *out = printed;
    return status;
}

// The calls a reading may make, and the rights it may ask for.
std::string Writing(const std::string& line) {
    std::string call = line.substr(0, line.find('('));
    std::string arguments = line.substr(0, line.find(" -> "));
    auto ends = [&](const char* tail) {
        return arguments.size() >= std::strlen(tail) &&
               arguments.compare(arguments.size() - std::strlen(tail), std::string::npos, tail) ==
                   0;
    };
    static const std::set<std::string> reads = {"RegEnumValueA",
                                                "RegEnumKeyA",
                                                "RegQueryValueExA",
                                                "RegCloseKey",
                                                "QueryServiceStatus",
                                                "CloseServiceHandle",
                                                "SetupDiGetClassDevsA",
                                                "SetupDiEnumDeviceInfo",
                                                "SetupDiGetDeviceInstanceIdA",
                                                "SetupDiGetDeviceRegistryPropertyW",
                                                "SetupDiDestroyDeviceInfoList",
                                                "FindFirstFileA",
                                                "FindNextFileA",
                                                "FindClose",
                                                "GetFileAttributesA",
                                                "GetFileAttributesW",
                                                "RegEnumKeyW",
                                                "RegQueryValueExW",
                                                "RegGetKeySecurity",
                                                "DuplicateToken",
                                                "AccessCheck",
                                                "lstrcmpiA",
                                                "lstrcmpiW",
                                                "GetVersion",
                                                "GetSystemDirectoryA",
                                                "ReadFile",
                                                "GetFileSize",
                                                "CloseHandle",
                                                "MultiByteToWideChar"};
    if (reads.count(call) != 0)
        return "";
    if ((call == "RegOpenKeyExA" || call == "RegOpenKeyExW") &&
        (ends(", 0x20019)") || ends(", 0x1)") || ends(", 0x20000)")))
        return "";
    if (call == "OpenProcessToken" && ends(", 0xA)"))
        return "";
    if ((call == "OpenSCManagerA" && ends(", 0x5)")) || (call == "OpenServiceA" && ends(", 0x4)")))
        return "";
    if (call == "SHGetSpecialFolderPathA" && ends(", 0)"))
        return "";
    if (call == "CreateFileA" && arguments.find(", 0x80000000, 3)") != std::string::npos)
        return "";
    return line;
}

TEST(Check, ReadingAMachineWritesNothingWhateverTheVerb) {
    Sim::Reset();
    Footprint::Install();
    std::vector<std::string> machine = Sim::MachineLines();
    std::string snapshot = testing::TempDir() + "vkcheck-snapshot.json";
    const std::vector<std::vector<std::string>> runs = {
        {"preview"}, {"--verify", "--json"}, {"/detect"}, {"snapshot", snapshot}};
    for (const auto& words : runs) {
        Sim::Current().journal.clear();
        std::string out;
        Check(words, &out);
        EXPECT_FALSE(out.empty() && words[0] != "snapshot") << words[0];
        EXPECT_FALSE(Sim::Current().journal.empty());
        for (const std::string& line : Sim::Current().journal)
            EXPECT_EQ("", Writing(line)) << words[0];
    }
    EXPECT_EQ(machine, Sim::MachineLines());
    EXPECT_EQ(Check::LEFTOVER, Check({"verify", "--from", snapshot}));
    EXPECT_EQ(Check::BAD_ARGUMENTS, Check({"preview", "verify"}));
    EXPECT_EQ(Check::BAD_ARGUMENTS, Check({"--from", snapshot + ".missing", "verify"}));
    EXPECT_EQ(Check::BAD_ARGUMENTS, Check({"snapshot"}));
}

TEST(Check, PreviewWarnsOfADeviceThatWouldNotStartAndOfWhatItLeaves) {
    Sim::Reset();
    Footprint::Install();
    Sim::FindDevice("ACPI\\PNP0303\\4&2658D0A0&0")->upperFilters =
        Sim::WideMultiSz({"kbdclass", "DzXpKbdPnp"});
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser", "DzPath",
                  REG_SZ, Sim::Sz("Tallowin"));
    std::string out;
    EXPECT_EQ(Check::UNSAFE, Check({"preview"}, &out));
    EXPECT_NE(std::string::npos, out.find("ACPI\\PNP0303\\4&2658D0A0&0\n    after the run: this "
                                          "Keyboard {4D36E96B-E325-11CE-BFC1-08002BE10318} device "
                                          "will not start: its upper filter DzXpKbdPnp: no such "
                                          "service"))
        << out;
    EXPECT_NE(std::string::npos, out.find("folder refused"));
    EXPECT_NE(std::string::npos, out.find("ROOT\\VKXHCIREV\\0000"));
}

// After the run and the restart nothing is left; each kind of leftover
// planted then is named, with the status it calls for.
TEST(Check, VerifyNamesEachLeftoverWithItsStatus) {
    Sim::Reset();
    Footprint::Install();
    RunUninstall();
    Sim::EndProcess();
    EXPECT_EQ(Check::RESTART, Check({"verify"})) << "services marked, files queued";
    Sim::Restart();
    std::string out;
    ASSERT_EQ(Check::CLEAN, Check({"verify"}, &out)) << out;
    EXPECT_EQ("", (Check({"detect"}, &out), out));
    std::unique_ptr<Sim::Machine> restarted = Sim::Copy(Sim::Current());

    const std::vector<std::tuple<const char*, int, const char*, void (*)()>> plants = {
        {"a service", Check::LEFTOVER, "Services\\DzStore",
         [] {
             Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\DzStore",
                           "Type", REG_DWORD, Sim::Dword(1));
             Sim::Current().services["DzStore"];
         }},
        {"a present device", Check::LEFTOVER, "ROOT\\KRHUB\\0001",
         [] { Sim::AddDevice("ROOT\\KRHUB\\0001", GUID{}, {"Korrin\\KrHub"}); }},
        {"a class filter naming a deleted service", Check::UNSAFE, "Keyboard",
         [] {
             Sim::SetValue(HKEY_LOCAL_MACHINE,
                           "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-"
                           "BFC1-08002BE10318}",
                           "UpperFilters", REG_MULTI_SZ, Sim::MultiSz({"DzXpKbdPnp", "kbdclass"}));
         }},
        {"a device filter naming a deleted service", Check::UNSAFE, "ACPI\\PNP0F13",
         [] {
             Sim::FindDevice("ACPI\\PNP0F13\\4&2658D0A0&0")->lowerFilters =
                 Sim::WideMultiSz({"DzXpMouPnp"});
         }},
        {"a file, \"DzPath\" gone", Check::CLEAN, "VkGate.sys",
         [] { Sim::MakeFile("C:\\Program Files\\Tallowin\\drivers\\VkGate.sys"); }},
        {"a registry tree", Check::LEFTOVER, "Winlogon\\Notify\\RyWinLog",
         [] {
             Sim::MakeKey(HKEY_LOCAL_MACHINE,
                          "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\"
                          "RyWinLog");
         }},
        {"a filter naming a service only marked for deletion", Check::UNSAFE, "DzHelper",
         [] {
             Sim::FindDevice("ACPI\\PNP0303\\4&2658D0A0&0")->upperFilters =
                 Sim::WideMultiSz({"kbdclass", "DzHelper"});
             Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\DzHelper",
                           "DeleteFlag", REG_DWORD, Sim::Dword(1));
         }},
        {"a group holding a file of the user's", Check::CLEAN, "Tallowin",
         [] { Sim::MakeFile(Sim::Current().programsFolder + "\\Tallowin\\notes.txt"); }},
        {"a pending deletion", Check::RESTART, "VkConsole.exe",
         [] {
             Sim::MakeFile("C:\\Program Files\\Tallowin\\VkConsole.exe");
             Win::MoveFileExA("C:\\Program Files\\Tallowin\\VkConsole.exe", nullptr,
                              MOVEFILE_DELAY_UNTIL_REBOOT);
         }},
    };
    for (const auto& plant : plants) {
        Sim::Replace(Sim::Copy(*restarted));
        std::get<3>(plant)();
        EXPECT_EQ(std::get<1>(plant), Check({"verify"}, &out)) << std::get<0>(plant) << "\n" << out;
        EXPECT_NE(std::string::npos, out.find(std::get<2>(plant))) << std::get<0>(plant);
    }
}

// Status 1 means a second run would change something: what is left that a
// second run cannot remove is a note saying what does, and what every run
// rewrites on any machine is no reason to run again.
void RunAndRestart() {
    RunUninstall();
    Sim::EndProcess();
    Sim::Restart();
}

TEST(Check, VerifyGivesOneOnlyWhereASecondRunWouldChangeSomething) {
    const std::vector<std::tuple<const char*, int, std::vector<const char*>, void (*)()>> machines =
        {
            {"\"DzPath\" stored as REG_EXPAND_SZ, after the run",
             Check::CLEAN,
             {"files: C:\\Program Files\\Tallowin\n", "drivers\\VkGate.sys, ", "VkConsole.exe",
              "Delete them by hand"},
             [] {
                 Footprint::Install();
                 Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser",
                               "DzPath", REG_EXPAND_SZ, Sim::Sz("%ProgramFiles%\\Tallowin\\"));
                 RunAndRestart();
             }},
            {"a product service left after the run",
             Check::LEFTOVER,
             {"service: HKLM\\SYSTEM\\CurrentControlSet\\Services\\DzStore\n    still installed: "
              "run the uninstaller again"},
             [] {
                 Footprint::Install();
                 RunAndRestart();
                 Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\DzStore",
                               "Type", REG_DWORD, Sim::Dword(1));
                 Sim::Current().services["DzStore"];
             }},
            {"the logon type, TermService and the group order as the administrator set them, "
             "after the run",
             Check::CLEAN,
             {},
             [] {
                 Footprint::Install();
                 RunAndRestart();
                 Sim::SetValue(HKEY_LOCAL_MACHINE,
                               "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                               "LogonType", REG_DWORD, Sim::Dword(0));
                 Sim::SetValue(HKEY_LOCAL_MACHINE,
                               "SYSTEM\\CurrentControlSet\\Services\\TermService", "Start",
                               REG_DWORD, Sim::Dword(SERVICE_AUTO_START));
                 // Bytes after the list's end, which a run's rewrite drops.
                 std::vector<BYTE> order = Sim::MultiSz({"System Reserved", "Boot Bus Extender"});
                 order.insert(order.end(), {0, 0});
                 Sim::SetValue(HKEY_LOCAL_MACHINE,
                               "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder", "List",
                               REG_MULTI_SZ, order);
             }},
            // Every run leaves it: a person must give the rights, not a second run.
            {"the product's control key refusing deletion, after the run",
             Check::NOT_ALLOWED,
             {"registry tree: HKLM\\SYSTEM\\CurrentControlSet\\Control\\Multiuser\n"},
             [] {
                 Footprint::Install();
                 Sim::FindKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser")
                     ->refuseDelete = true;
                 RunAndRestart();
             }},
        };
    for (const auto& machine : machines) {
        SCOPED_TRACE(std::get<0>(machine));
        Sim::Reset();
        std::get<3>(machine)();
        std::string out, line;
        EXPECT_EQ(std::get<1>(machine), Check({"verify"}, &out)) << out;
        for (const char* text : std::get<2>(machine))
            EXPECT_NE(std::string::npos, out.find(text)) << text << "\n" << out;
        Check({"detect"}, &line);
        EXPECT_EQ(std::get<1>(machine) == Check::LEFTOVER, !line.empty()) << line;
    }
}

} // namespace

namespace {

// A snapshot comes from a customer: whatever it holds is refused or answered,
// never a crash, and a name in any code page reaches the JSON output whole.
TEST(Check, ASnapshotIsRefusedOrAnsweredNeverACrash) {
    Sim::Reset();
    Footprint::Install();
    std::string good = Description::Write(Description::Describe());
    auto edited = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        size_t at = text.find(from);
        EXPECT_NE(std::string::npos, at) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const std::vector<std::pair<std::string, int>> snapshots = {
        {edited("\"REG_DWORD\"", "\"REG_QWORD\""), Check::BAD_ARGUMENTS},
        {edited("\"HKLM\\\\SYSTEM\\\\CurrentControlSet\\\\Control\\\\Multiuser\"", "\"HK\""),
         Check::BAD_ARGUMENTS},
        {edited("\"productFolder\": \"C:\\\\Program Files\\\\Tallowin\"",
                "\"productFolder\": \"C:\""),
         Check::BAD_ARGUMENTS},
        {edited("\"text\": \"C:\\\\Program Files\\\\Tallowin\\\\\"",
                "\"text\": \"D:\\\\B\\u00fcro\""),
         -1},
    };
    std::string file = testing::TempDir() + "vkcheck-edited.json";
    for (const auto& snapshot : snapshots) {
        std::ofstream(file, std::ios::binary) << snapshot.first;
        for (const char* verb : {"preview", "verify"}) {
            std::string out;
            int status = Check({verb, "--json", "--from", file}, &out);
            if (snapshot.second >= 0) {
                EXPECT_EQ(snapshot.second, status) << verb;
                continue;
            }
            EXPECT_TRUE(nlohmann::json::accept(out)) << verb << "\n" << out;
        }
    }
}

} // namespace
