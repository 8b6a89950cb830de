// The machine description: its JSON keeps every byte, loading a description
// and reading it again gives it back, and the changes of the typical run are
// the uninstaller's.
#include "description/description.h"
#include "machine/footprint.h"
#include "simulated/load.h"
#include "support.h"
#include "uninstall/uninstall.h"

#include <algorithm>

namespace {

class DescriptionTest : public FreshMachine {};

using Description::Change;

Description::Machine Observed() {
    Description::Machine machine = Description::Describe();
    Sim::Observe(&machine);
    return machine;
}

int Count(const std::vector<Change>& changes, Description::ChangeKind kind) {
    return (int)std::count_if(changes.begin(), changes.end(),
                              [&](const Change& c) { return c.kind == kind; });
}

} // namespace

TEST_F(DescriptionTest, JsonGivesBackEveryByteAndRefusesAnotherSchema) {
    Description::Machine machine;
    Description::Key key{"HKLM\\SOFTWARE\\\xE9l\xE8ve\x01", true, {}};
    key.values.push_back({"", REG_SZ, {'a', 0}});
    key.values.push_back({"unended", REG_SZ, {'a', 'b'}});
    key.values.push_back({"empty entry", REG_MULTI_SZ, {'a', 0, 0, 'b', 0, 0}});
    key.values.push_back({"no entries", REG_MULTI_SZ, {0}});
    key.values.push_back({"\xFF", REG_DWORD, {1, 2, 3, 4}});
    key.values.push_back({"short", REG_DWORD, {1, 2}});
    key.values.push_back({"odd type", 0x1234, {0xDE, 0xAD}});
    machine.registry.push_back(key);
    machine.registry.push_back({"HKCR\\CLSID\\x", false, {}});
    machine.services.push_back({"DzService", SERVICE_RUNNING, Description::Program::RefusesStop});
    machine.received.push_back({"DzService", {254, 1}});
    machine.devices.push_back({"ROOT\\X\\0000",
                               "{4D36E97D-E325-11CE-BFC1-08002BE10318}",
                               {'A', 0, 0xE9, 0, 0, 0, 0, 0},
                               true,
                               false,
                               {'k', 0, 0, 0, 0, 0},
                               {0xE9, 0, 0, 0, 0, 0}});
    machine.hasPending = true;
    machine.pending = {'x', 0, 0, 0};
    machine.files.push_back({"%PRODUCT%\\a.dll",
                             false,
                             Description::Library::NoExport,
                             true,
                             {{"b.dll", true}, {"\xE9.dll", false}}});
    machine.unregistered.push_back("C:\\\xE9.dll");
    // The boot view holds Unicode names as Windows does.
    Description::ControlSet set;
    set.name = "ControlSet002";
    set.services.push_back(
        {"\xD0\xA4\xD0\xB8\xD0\xBB", false, 1, 4, std::nullopt, 2, true, "", {"x"}, {}});
    set.classes.push_back({"{4D36E96B-E325-11CE-BFC1-08002BE10318}", "Keyboard", false, {"a"}, {}});
    set.devices.push_back({"ACPI\\PNP0303\\0", "{x}", "i8042prt", {}, {"b"}, 1});
    machine.boot.sets.push_back(set);
    machine.boot.lastKnownGood = 2;
    machine.boot.images.push_back("C:\\WINDOWS\\system32\\drivers\\\xD0\xA4.sys");

    std::string text = Description::Write(machine);
    Description::Machine read;
    std::string error;
    ASSERT_TRUE(Description::Read(text, &read, &error)) << error;
    EXPECT_EQ(text, Description::Write(read));
    EXPECT_TRUE(Description::Changes(machine, read).empty());
    EXPECT_EQ(std::vector<BYTE>({'a', 'b'}), read.registry[0].values[1].data);
    EXPECT_FALSE(read.devices[0].present);
    EXPECT_FALSE(read.files[0].imports[1].found);
    EXPECT_EQ(4u, *read.boot.sets[0].services[0].start);
    EXPECT_TRUE(
        Description::SameUnicode("\xD1\x84\xD0\xB8\xD0\xBB", read.boot.sets[0].services[0].name));

    std::string other = text;
    other.replace(other.find("\"schema\": 4"), 11, "\"schema\": 3");
    EXPECT_FALSE(Description::Read(other, &read, &error));
    EXPECT_FALSE(Description::Read("{\"schema\": 4, \"registry\": 3}", &read, &error));
    // The loader looks for a file name: an import named with a folder is no import.
    other = text;
    other.replace(other.find("\"b.dll\""), 7, "\"C:\\\\b.dll\"");
    EXPECT_FALSE(Description::Read(other, &read, &error));
}

TEST_F(DescriptionTest, LayingDownADescribedMachineGivesItBack) {
    // The installed machine as the footprint describes it is what the reader
    // reads of it once loaded, the not-present device and the running
    // kernel drivers among it.
    Description::Machine installed = Footprint::Installed();
    Sim::Load(installed);
    Description::Machine read = Observed();
    for (const Change& change : Description::Changes(installed, read))
        ADD_FAILURE() << Description::KindName(change.kind) << ": "
                      << Description::PlaceText(change);
    EXPECT_EQ(installed.serviceKeys, read.serviceKeys);
    EXPECT_EQ(0, Sim::OpenHandles(Sim::HandleKind::Key) + Sim::OpenHandles(Sim::HandleKind::File));

    // A machine read, loaded and read again is the same to the byte, with
    // what no reading of the installed machine holds: a key that refuses
    // reading, a device's own filters, a read-only file, a queued deletion.
    Sim::FindKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Multiuser\\Seats")
        ->refuseOpen = true;
    Sim::FindDevice(Footprint::KEPT_DEVICES[0])->upperFilters = Sim::WideMultiSz({"DzStore"});
    Sim::FindNode(std::string(Footprint::PRODUCT_FOLDER) + "seats.txt")->attributes |=
        FILE_ATTRIBUTE_READONLY;
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                  "PendingFileRenameOperations", REG_MULTI_SZ,
                  {'\\', '?', '?', '\\', 'C', ':', '\\', 'x', 0, 0, 0});
    read = Observed();
    Sim::Load(read);
    EXPECT_EQ(Description::Write(read), Description::Write(Observed()));
}

TEST_F(DescriptionTest, TheTypicalRunsChangesAreTheUninstallers) {
    Footprint::Install();
    Description::Machine before = Observed();
    RunUninstall();
    std::vector<Change> changes = Description::Changes(before, Observed());

    EXPECT_EQ(53, Count(changes, Description::ChangeKind::PendingAdded));
    EXPECT_EQ(6, Count(changes, Description::ChangeKind::ServerUnregistered));
    EXPECT_EQ(4, Count(changes, Description::ChangeKind::DeviceRemoved));
    // The shortcuts and both groups go now; the product's files at the restart.
    EXPECT_EQ(2 * 3, Count(changes, Description::ChangeKind::FileRemoved));
    EXPECT_EQ(2, Count(changes, Description::ChangeKind::FolderRemoved));
    Change prepared{Description::ChangeKind::ServiceControls, "DzService", "", "", "254,1"};
    EXPECT_NE(changes.end(), std::find(changes.begin(), changes.end(), prepared));
    Description::Value was{"LogonType", REG_DWORD, {0, 0, 0, 0}};
    Description::Value is{"LogonType", REG_DWORD, {1, 0, 0, 0}};
    Change logon{Description::ChangeKind::ValueChanged,
                 "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                 "LogonType",
                 "",
                 "",
                 was,
                 is};
    EXPECT_NE(changes.end(), std::find(changes.begin(), changes.end(), logon));
    // The stubborn service stays, marked; the other 17 go with their keys.
    EXPECT_EQ(17, Count(changes, Description::ChangeKind::ServiceRemoved));
    // Written and read back, the list is the same data.
    std::vector<Change> read;
    std::string why;
    ASSERT_TRUE(Description::ReadChanges(Description::WriteChanges(changes), &read, &why)) << why;
    EXPECT_EQ(changes, read);
}

TEST_F(DescriptionTest, TheReadersWin32CallsAnswerAsWindowsDoes) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, Win::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
    Win::RegSetValueExA(key, "name", 0, REG_BINARY, (const BYTE*)"12345", 5);
    char name[8];
    BYTE data[8];
    memset(data, 0xCC, sizeof data);
    DWORD nameSize = 4, dataSize = 8, type = 0;
    EXPECT_EQ(ERROR_MORE_DATA,
              Win::RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &dataSize));
    nameSize = 5;
    dataSize = 4;
    EXPECT_EQ(ERROR_MORE_DATA,
              Win::RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &dataSize));
    EXPECT_EQ(5u, dataSize);
    EXPECT_EQ(0xCC, data[0]); // a short buffer is left alone
    nameSize = 5;
    dataSize = 8;
    EXPECT_EQ(ERROR_SUCCESS,
              Win::RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &dataSize));
    EXPECT_EQ(4u, nameSize); // without its NUL
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              Win::RegEnumValueA(key, 1, name, &nameSize, nullptr, &type, data, &dataSize));
    Win::RegCloseKey(key);

    SC_HANDLE scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE term = Win::OpenServiceA(scm, "TermService", SERVICE_QUERY_CONFIG);
    SERVICE_STATUS status;
    EXPECT_FALSE(Win::QueryServiceStatus(term, &status));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Win::GetLastError());
    Win::CloseServiceHandle(term);
    term = Win::OpenServiceA(scm, "TermService", SERVICE_QUERY_STATUS);
    EXPECT_TRUE(Win::QueryServiceStatus(term, &status));
    EXPECT_EQ(M().services["TermService"].state, status.dwCurrentState);
    Win::CloseServiceHandle(term);
    Win::CloseServiceHandle(scm);

    HDEVINFO set = Win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA record;
    record.cbSize = sizeof record;
    ASSERT_TRUE(Win::SetupDiEnumDeviceInfo(set, 0, &record));
    char id[8] = "sentry";
    DWORD required = 0;
    EXPECT_FALSE(Win::SetupDiGetDeviceInstanceIdA(set, &record, id, sizeof id, &required));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, Win::GetLastError());
    EXPECT_STREQ("sentry", id);
    EXPECT_EQ(M().devices[0].instanceId.size() + 1, required);
    Win::SetupDiDestroyDeviceInfoList(set);

    HANDLE file = Win::CreateFileA("C:\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    Win::CloseHandle(file);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Win::CreateFileA("C:\\new.txt", GENERIC_WRITE, 0, nullptr,
                                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(ERROR_FILE_EXISTS, Win::GetLastError());

    // A folder name inside a path loses one ending period.
    EXPECT_EQ("C:\\Tallowin \\x", Sim::FullPath("C:\\Program Files\\..\\Tallowin .\\x"));
    EXPECT_EQ("C:\\a..\\x", Sim::FullPath("C:\\a..\\x"));
    // The drive letter keeps its case.
    EXPECT_EQ("c:\\program files\\x", Sim::FullPath("c:\\program files\\x"));
}

TEST_F(DescriptionTest, WithoutItsFolderValueTheProductIsLookedForInTheMachinesProgramFiles) {
    Sim::Reset();
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                  "ProgramFilesDir", REG_SZ, Sim::Sz("D:\\Programme\\"));
    EXPECT_EQ("D:\\Programme\\Tallowin", Description::Describe().productFolder);
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                  "ProgramFilesDir", REG_DWORD, Sim::Dword(1));
    EXPECT_EQ(Description::PRODUCT_FOLDER, Description::Describe().productFolder);
}
