// The simulated Windows' own behaviour beyond what the contract tests share
// with a real Windows: the settings a test turns, and the restart.
#include "machine/footprint.h"
#include "support.h"
#include "uninstall/uninstall.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

class Simulator : public FreshMachine {};

} // namespace

TEST_F(Simulator, VersionConsoleHeapAndBoxAreSettings) {
    M().version = Sim::VERSION_98;
    EXPECT_EQ(0xC0000A04u, Win::GetVersion());

    EXPECT_TRUE(Win::AllocConsole());
    EXPECT_FALSE(Win::AllocConsole()); // a process has one console
    HANDLE out = Win::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    EXPECT_TRUE(Win::WriteConsoleA(out, "hi", 2, &written, nullptr));
    EXPECT_EQ(2u, written);
    EXPECT_EQ("hi", M().consoleText);

    Sim::Reset();
    M().consoleFails = true;
    EXPECT_FALSE(Win::AllocConsole());
    EXPECT_EQ(nullptr, Win::GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_FALSE(Win::WriteConsoleA(nullptr, "hi", 2, &written, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, Win::GetLastError());

    M().heapFailsAfter = 1;
    void* first = Win::HeapAlloc(Win::GetProcessHeap(), 0, 4096);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(0xBA, ((BYTE*)first)[4095]); // not zeroed
    EXPECT_EQ(nullptr, Win::HeapAlloc(Win::GetProcessHeap(), 0, 4096));
    EXPECT_EQ(1, M().liveAllocations);
    Win::HeapFree(Win::GetProcessHeap(), 0, first);
    EXPECT_EQ(0, M().liveAllocations);

    M().messageBoxAnswer = 0;
    EXPECT_EQ(0, Win::MessageBoxA(nullptr, "text", "caption", MB_OK));
    ASSERT_EQ(1u, M().messageBoxes.size());
    EXPECT_EQ("caption", M().messageBoxes[0].first);
}

TEST_F(Simulator, AnOrdinaryUserIsRefusedWhatNeedsAnAdministrator) {
    M().administrator = false;
    EXPECT_EQ(nullptr, Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Win::GetLastError());
    SC_HANDLE scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_NE(nullptr, scm);
    Win::CloseServiceHandle(scm);

    HKEY key;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_SUCCESS, Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key));
    Win::RegCloseKey(key);
    EXPECT_FALSE(Win::MoveFileExA("C:\\x.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Win::GetLastError());
    EXPECT_FALSE(
        Win::DeleteFileA((M().commonProgramsFolder + "\\Windows Media Player.lnk").c_str()));
    EXPECT_TRUE(Win::DeleteFileA((M().programsFolder + "\\Internet Explorer.lnk").c_str()));
}

TEST_F(Simulator, TheRestartNeedsTheEnabledShutdownPrivilege) {
    HANDLE token;
    ASSERT_TRUE(Win::OpenProcessToken(Win::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    EXPECT_FALSE(Win::ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(ERROR_PRIVILEGE_NOT_HELD, Win::GetLastError());
    TOKEN_PRIVILEGES privileges{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    ASSERT_TRUE(
        Win::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid));
    M().shutdownRight = false;
    EXPECT_TRUE(Win::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(ERROR_NOT_ALL_ASSIGNED, Win::GetLastError());
    EXPECT_FALSE(Win::ExitWindowsEx(EWX_REBOOT, 0));
    M().shutdownRight = true;
    EXPECT_TRUE(Win::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, Win::GetLastError());
    EXPECT_TRUE(Win::ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(1u, M().restartRequests.size());
    EXPECT_TRUE(Win::CloseHandle(token));
    EXPECT_FALSE(Win::CloseHandle(token));
}

TEST_F(Simulator, ServicesGetTheirControlsInOrderAndMayRefuse) {
    SC_HANDLE scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = Win::CreateServiceA(
        scm, "Svc", "Svc", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
        SERVICE_ERROR_NORMAL, "C:\\svc.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    M().services["Svc"].customControls.insert(200);
    ASSERT_TRUE(Win::StartServiceA(service, 0, nullptr));
    SERVICE_STATUS status;
    EXPECT_TRUE(Win::ControlService(service, 200, &status));
    EXPECT_FALSE(Win::ControlService(service, 201, &status));
    EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED, Win::GetLastError());
    M().services["Svc"].acceptsStop = false;
    EXPECT_FALSE(Win::ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(ERROR_INVALID_SERVICE_CONTROL, Win::GetLastError());
    EXPECT_EQ(std::vector<DWORD>({200, 201}), M().services["Svc"].received);
    EXPECT_TRUE(Win::DeleteService(service));
    EXPECT_TRUE(Win::CloseServiceHandle(service));
    // Still running, so still there until the restart.
    EXPECT_EQ(1u, M().services.count("svc"));
    SC_HANDLE limited = Win::OpenServiceA(scm, "Svc", SERVICE_QUERY_STATUS);
    EXPECT_FALSE(Win::ControlService(limited, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Win::GetLastError());
    Win::CloseServiceHandle(limited);
    Win::CloseServiceHandle(scm);
    Sim::Restart();
    EXPECT_EQ(0u, M().services.count("Svc"));
    EXPECT_EQ(SERVICE_STOPPED, M().services["TermService"].state); // demand start
    EXPECT_EQ(SERVICE_RUNNING, M().services["RpcSs"].state);       // automatic
}

TEST_F(Simulator, TheRestartCarriesOutThePendingDeletionsInOrder) {
    Sim::MakeFile("C:\\Product\\a.dll");
    Sim::MakeFile("C:\\Product\\b.sys");
    Sim::MakeFile("C:\\Product\\keep.txt");
    for (const char* path : {"C:\\Product\\a.dll", "C:\\Product\\B.SYS", "C:\\Product\\gone.exe"})
        EXPECT_TRUE(Win::MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(Sim::Exists("C:\\Product\\a.dll"));
    Sim::Restart();
    EXPECT_FALSE(Sim::Exists("C:\\Product\\a.dll"));
    EXPECT_FALSE(Sim::Exists("C:\\Product\\b.sys"));
    EXPECT_TRUE(Sim::Exists("C:\\Product\\keep.txt"));
    EXPECT_FALSE(Sim::ReadValue(HKEY_LOCAL_MACHINE,
                                "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                "PendingFileRenameOperations", nullptr));
}

TEST_F(Simulator, LibrariesLoadByFullPathOrFromTheCurrentThenTheSystemFolder) {
    Sim::MakeFile("C:\\WINDOWS\\system32\\sys.dll")->library = std::make_unique<Sim::Library>();
    Sim::MakeFile("C:\\Here\\sys.dll")->library = std::make_unique<Sim::Library>();
    Sim::MakeFile("C:\\Here\\plain.txt");
    ASSERT_TRUE(Win::SetCurrentDirectoryA("C:\\Here"));
    HMODULE module = Win::LoadLibraryA("sys.dll");
    ASSERT_NE(nullptr, module);
    FARPROC proc = Win::GetProcAddress(module, "DllUnregisterServer");
    ASSERT_NE(nullptr, proc);
    EXPECT_EQ(0, reinterpret_cast<HRESULT (*)()>(proc)());
    EXPECT_EQ(std::vector<std::string>({"C:\\Here\\sys.dll"}), M().unregistered);
    EXPECT_EQ(nullptr, Win::GetProcAddress(module, "DllRegisterServer"));
    EXPECT_EQ(ERROR_PROC_NOT_FOUND, Win::GetLastError());
    EXPECT_TRUE(Win::FreeLibrary(module));
    EXPECT_EQ(nullptr, Win::LoadLibraryA("C:\\Here\\plain.txt"));
    EXPECT_EQ(nullptr, Win::LoadLibraryA("C:\\Nowhere\\x.dll"));
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, Win::GetLastError());
    EXPECT_EQ(0, Sim::OpenHandles());
}

// The loader looks for a library's imports along one path for the whole
// load: the program's folder first, or with LOAD_WITH_ALTERED_SEARCH_PATH
// and a full path the loaded library's own; then the current, system and
// Windows folders. What it cannot find fails the load before any of the
// library's code runs.
TEST_F(Simulator, ALibrarysImportsAreFoundAlongOneSearchPathBeforeItsCodeRuns) {
    auto library = [](const std::string& path, std::vector<std::string> imports) {
        Sim::Node* node = Sim::MakeFile(path);
        node->library = std::make_unique<Sim::Library>();
        node->library->imports = std::move(imports);
        return node->library.get();
    };
    const char SERVER[] = "C:\\Product\\server.dll";
    library(SERVER, {"helper.dll"})->faultsWhenLoaded = true;
    library("C:\\Product\\helper.dll", {"deeper.dll"});
    auto load = [&](DWORD flags) {
        Win::SetLastError(0);
        HMODULE module = Win::LoadLibraryExA(SERVER, nullptr, flags);
        bool loaded = module != nullptr;
        if (loaded)
            Win::FreeLibrary(module);
        return loaded ? 0 : Win::GetLastError();
    };
    // The import's own import is nowhere: the entry point, which faults, never runs.
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, load(LOAD_WITH_ALTERED_SEARCH_PATH));
    Sim::MakeFile("C:\\Product\\deeper.dll");
    library(SERVER, {"helper.dll"});
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, load(0));
    EXPECT_EQ(nullptr, Win::LoadLibraryA(SERVER));
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, Win::GetLastError());
    EXPECT_EQ(0u, load(LOAD_WITH_ALTERED_SEARCH_PATH));
    // Named without a path, found through the current folder, as its import is.
    ASSERT_TRUE(Win::SetCurrentDirectoryA("C:\\Product"));
    EXPECT_NE(nullptr, Win::LoadLibraryExA("server.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    M().currentDirectory = "C:\\";
    M().programFolder = "C:\\Product";
    EXPECT_EQ(0u, load(0));
    M().programFolder = "C:\\Setup";
    // Found in the system folder, and in the Windows folder.
    for (const std::string& folder : {M().systemDirectory, M().windowsDirectory}) {
        library(SERVER, {"shared.dll"});
        Sim::MakeFile(folder + "\\shared.dll");
        EXPECT_EQ(0u, load(0)) << folder;
        Sim::FindNode(folder)->children.erase("shared.dll");
        EXPECT_EQ(ERROR_MOD_NOT_FOUND, load(0)) << folder;
    }
    EXPECT_EQ(nullptr, Win::LoadLibraryExA(SERVER, INVALID_HANDLE_VALUE, 0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Win::GetLastError());
    EXPECT_EQ(1, Sim::OpenHandles(Sim::HandleKind::Module)); // the one loaded by name
}

TEST(SimulatorDeathTest, WhatIsNotModelledStopsTheRun) {
    Sim::Reset();
    HKEY key;
    EXPECT_DEATH(Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 1, KEY_READ, &key),
                 "not modelled");
    EXPECT_DEATH(Win::MoveFileExA("C:\\a", "C:\\b", 0), "not modelled");
    EXPECT_DEATH(Win::SHGetSpecialFolderPathA(nullptr, nullptr, 5, FALSE), "not modelled");
    EXPECT_DEATH(Win::LoadLibraryExA("C:\\x.dll", nullptr, 0x1), "not modelled");
    EXPECT_DEATH(Win::LoadLibraryExA("Lib\\x.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH),
                 "not modelled");
}

TEST(SimulatorDeathTest, AFreedBlockIsNeverFreedOrUsedAgain) {
    Sim::Reset();
    HANDLE heap = Win::GetProcessHeap();
    char* block = (char*)Win::HeapAlloc(heap, 0, 64);
    ASSERT_NE(nullptr, block);
    EXPECT_TRUE(Win::HeapFree(heap, 0, block));
    EXPECT_DEATH(Win::HeapFree(heap, 0, block), "no live block");
    int local = 0;
    EXPECT_DEATH(Win::HeapFree(heap, 0, &local), "no live block");
#if defined(__SANITIZE_ADDRESS__)
    // Under AddressSanitizer the freed block stays unreadable while the machine lives.
    EXPECT_DEATH(std::printf("%d\n", block[10]), "use-after-poison");
#endif
}

TEST_F(Simulator, AKeyPathWithAnEmptyNameIsBad) {
    HKEY key = nullptr;
    EXPECT_EQ(161, Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SYSTEM", 0, KEY_READ, &key));
    EXPECT_EQ(161, Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\\\Select", 0, KEY_READ, &key));
    EXPECT_EQ(161, Win::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\New", 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\New"));
    ASSERT_EQ(ERROR_SUCCESS, Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, Win::RegCloseKey(key));
}

TEST_F(Simulator, ACopyIsAWholeMachineOfItsOwn) {
    Footprint::Install();
    std::unique_ptr<Sim::Machine> copy = Sim::Copy(M());
    RunUninstall();
    const std::vector<std::string> journal = M().journal, after = Sim::MachineLines();
    Sim::Replace(std::move(copy));
    RunUninstall();
    EXPECT_EQ(journal, M().journal);
    EXPECT_EQ(after, Sim::MachineLines());

    // Open handles name the copy's keys, a key deleted while open included.
    Sim::Reset();
    HKEY live, gone;
    ASSERT_EQ(ERROR_SUCCESS, Win::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Live", 0, nullptr,
                                                  0, KEY_ALL_ACCESS, nullptr, &live, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, Win::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone", 0, nullptr,
                                                  0, KEY_ALL_ACCESS, nullptr, &gone, nullptr));
    Sim::DeleteKeyAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone");
    Sim::Replace(Sim::Copy(M()));
    EXPECT_EQ(2, Sim::OpenHandles(Sim::HandleKind::Key));
    const BYTE one[] = {1, 0, 0, 0};
    EXPECT_EQ(ERROR_SUCCESS, Win::RegSetValueExA(live, "Set", 0, REG_DWORD, one, 4));
    EXPECT_TRUE(Sim::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Live", "Set", nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, Win::RegSetValueExA(gone, "Set", 0, REG_DWORD, one, 4));
    EXPECT_EQ(ERROR_SUCCESS, Win::RegCloseKey(live));
    EXPECT_EQ(ERROR_SUCCESS, Win::RegCloseKey(gone));
}

// A machine lent out for a scope comes back even when an exception leaves it.
TEST_F(Simulator, TheExchangedMachineComesBackHoweverTheScopeIsLeft) {
    Sim::Machine* mine = &M();
    try {
        Sim::ExchangeGuard other;
        EXPECT_NE(mine, &M());
        throw Sim::Killed{};
    } catch (const Sim::Killed&) {
    }
    EXPECT_EQ(mine, &M());
}

TEST_F(Simulator, TextTheCodePageCannotCarryIsToldApartFromAQuestionMark) {
    // What the invariant and the machine's description rely on to see a
    // character lost to '?': set-up helpers read as the A functions do, the
    // stored text does not.
    const char key[] = "SOFTWARE\\Text";
    Sim::SetTextValue(HKEY_LOCAL_MACHINE, key, "Zhe", REG_SZ, "Sub\xD0\x96");
    Sim::SetValue(HKEY_LOCAL_MACHINE, key, "Mark", REG_SZ, Sim::Sz("Sub?"));
    Sim::Value zhe, mark;
    ASSERT_TRUE(Sim::ReadValue(HKEY_LOCAL_MACHINE, key, "Zhe", &zhe));
    ASSERT_TRUE(Sim::ReadValue(HKEY_LOCAL_MACHINE, key, "Mark", &mark));
    EXPECT_EQ(std::vector<BYTE>({'S', 'u', 'b', '?'}), zhe.data);
    EXPECT_NE(Sim::FindKey(HKEY_LOCAL_MACHINE, key)->FindValue("Zhe")->data,
              Sim::FindKey(HKEY_LOCAL_MACHINE, key)->FindValue("Mark")->data);
    std::vector<std::string> lines = Sim::MachineLines();
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("value HKLM\\SOFTWARE\\Text : \"Zhe\" = REG_SZ \"Sub\\u{416}\""));
    EXPECT_TRUE(has("value HKLM\\SOFTWARE\\Text : \"Mark\" = REG_SZ \"Sub?\\0\""));
    // A key name, too: "\xE9" is Latin-1 and keeps its byte.
    Sim::MakeKeyText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text\\\xC3\xA9\xD0\x96");
    lines = Sim::MachineLines();
    EXPECT_TRUE(has("key HKLM\\SOFTWARE\\Text\\\xE9\\u{416}"));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text\\\xC9?"));
}
