#include "contract.h"
#include "description/exports.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

class FilesContract : public ContractTest {
  protected:
    std::string In(const std::string& name) {
        return std::string(Contract::SCRATCH_FOLDER) + "\\" + name;
    }
    std::vector<std::string> Find(const std::string& pattern) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = Win::FindFirstFileA(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(found.cFileName);
        while (Win::FindNextFileA(search, &found));
        Win::FindClose(search);
        return names;
    }
};

} // namespace

TEST_F(FilesContract, TrailingSpacesGoFromTheLastComponentOnly) {
    ASSERT_TRUE(Win::CreateDirectoryA(In("Group  ").c_str(), nullptr));
    EXPECT_NE(0xFFFFFFFFu, Win::GetFileAttributesA(In("Group").c_str()));
    Contract::WriteFile(In("Group\\a.lnk"));
    // Inside a path the spaces are kept: that folder does not exist.
    Win::SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE, [&] {
        WIN32_FIND_DATAA found;
        return Win::FindFirstFileA(In("Group  \\*.lnk").c_str(), &found);
    }());
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, Win::GetLastError());
    EXPECT_EQ(std::vector<std::string>({"a.lnk"}), Find(In("Group\\*.lnk")));
    // As the last component, again without them.
    EXPECT_FALSE(Win::RemoveDirectoryA(In("Group  ").c_str()));
    EXPECT_EQ(ERROR_DIR_NOT_EMPTY, Win::GetLastError());
    EXPECT_TRUE(Win::DeleteFileA(In("Group\\a.lnk").c_str()));
    EXPECT_TRUE(Win::RemoveDirectoryA(In("Group  ").c_str()));
    EXPECT_EQ(0xFFFFFFFFu, Win::GetFileAttributesA(In("Group").c_str()));
}

// A driver's image is opened by its NT path as the registry gives it: the
// "\\?\" form asks for exactly that name, where a Win32 path would lose a
// trailing space or take "/" for "\".
TEST_F(FilesContract, AVerbatimPathNamesTheFileAsGiven) {
    Contract::WriteFile(In("image.sys"));
    std::string slashed = In("image.sys");
    slashed[slashed.rfind('\\')] = '/';
    auto attributes = [](const std::string& path) {
        std::u16string wide(path.begin(), path.end());
        return Win::GetFileAttributesW((LPCWSTR)wide.c_str());
    };
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes(In("image.sys ")));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes(slashed));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes("\\\\?\\" + In("image.sys")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes("\\\\?\\" + In("image.sys ")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes("\\\\?\\" + slashed));
}

TEST_F(FilesContract, TheSearchMatchesOnlyThePatternAndNamesCompareWithoutCase) {
    for (const char* name : {"one.LNK", "two.lnk", "notes.txt"})
        Contract::WriteFile(In(name));
    std::vector<std::string> found = Find(In("*.lnk"));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(std::vector<std::string>({"one.LNK", "two.lnk"}), found);
    EXPECT_TRUE(Find(In("*.exe")).empty());
    EXPECT_TRUE(Win::DeleteFileA(In("ONE.lnk").c_str()));
    EXPECT_FALSE(Win::DeleteFileA(In("one.lnk").c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Win::GetLastError());
}

TEST_F(FilesContract, DeletionAtRestartIsRecordedWhetherOrNotTheFileExists) {
    const char SESSION[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    auto pending = [&] {
        HKEY key;
        std::string data(8192, '\0');
        DWORD size = (DWORD)data.size();
        if (Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::string();
        LONG status = Win::RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                                            (BYTE*)&data[0], &size);
        Win::RegCloseKey(key);
        return status == ERROR_SUCCESS ? data.substr(0, size) : std::string();
    };
    std::string before = pending();
    Contract::WriteFile(In("there.dll"));
    EXPECT_TRUE(Win::MoveFileExA(In("there.dll").c_str(), nullptr,
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(Win::MoveFileExA(In("absent.dll").c_str(), nullptr,
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
    std::string after = pending();
    std::string added = std::string("\\??\\") + In("there.dll") + '\0' + '\0' + "\\??\\" +
                        In("absent.dll") + '\0' + '\0' + '\0';
    ASSERT_GE(after.size(), added.size());
    EXPECT_EQ(added, after.substr(after.size() - added.size()));
    EXPECT_NE(0xFFFFFFFFu, Win::GetFileAttributesA(In("there.dll").c_str()));
}

TEST_F(FilesContract, NewFilesAreForArchivingAndAReadOnlyFileIsNotDeleted) {
    Contract::WriteFile(In("kept.dll"));
    EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE, Win::GetFileAttributesA(In("kept.dll").c_str()));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY,
              Win::GetFileAttributesA(Contract::SCRATCH_FOLDER) & FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(Win::SetFileAttributesA(In("kept.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(Win::DeleteFileA(In("kept.dll").c_str()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Win::GetLastError());
    EXPECT_NE(0xFFFFFFFFu, Win::GetFileAttributesA(In("kept.dll").c_str()));
    ASSERT_TRUE(Win::SetFileAttributesA(In("kept.dll").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(Win::DeleteFileA(In("kept.dll").c_str()));
}

TEST_F(FilesContract, TheCurrentDirectoryCannotBeRemoved) {
    ASSERT_TRUE(Win::CreateDirectoryA(In("Here").c_str(), nullptr));
    ASSERT_TRUE(Win::SetCurrentDirectoryA(In("Here").c_str()));
    EXPECT_FALSE(Win::RemoveDirectoryA(In("Here").c_str()));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, Win::GetLastError());
    ASSERT_TRUE(Win::SetCurrentDirectoryA("C:\\"));
    EXPECT_TRUE(Win::RemoveDirectoryA(In("Here").c_str()));
}

TEST_F(FilesContract, AFileIsReadOnFromWhereTheLastReadEnded) {
    Contract::WriteFile(In("data.bin"));
    auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
        return Win::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, 0,
                                nullptr);
    };
    HANDLE file = open(In("data.bin"), GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(4u, Win::GetFileSize(file, nullptr));
    char bytes[8] = {};
    DWORD read[3] = {};
    EXPECT_TRUE(Win::ReadFile(file, bytes, 3, &read[0], nullptr));
    EXPECT_TRUE(Win::ReadFile(file, bytes + 3, 3, &read[1], nullptr));
    EXPECT_TRUE(Win::ReadFile(file, bytes + 4, 3, &read[2], nullptr)); // at the end: nothing
    EXPECT_EQ(std::vector<DWORD>({3, 1, 0}), std::vector<DWORD>(read, read + 3));
    EXPECT_EQ("data", std::string(bytes));
    Win::CloseHandle(file);
    // A handle made for writing does not read.
    file = open(In("made.bin"), GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_FALSE(Win::ReadFile(file, bytes, 3, &read[0], nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Win::GetLastError());
    Win::CloseHandle(file);
    const std::pair<std::string, DWORD> refused[] = {
        {In("absent.bin"), ERROR_FILE_NOT_FOUND},
        {In("absent\\data.bin"), ERROR_PATH_NOT_FOUND},
        {Contract::SCRATCH_FOLDER, ERROR_ACCESS_DENIED}};
    for (const auto& path : refused) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, open(path.first, GENERIC_READ, OPEN_EXISTING));
        EXPECT_EQ(path.second, Win::GetLastError()) << path.first;
    }
}

// Loaded by full path alone, a library's imports are looked for beside the
// program, not beside the library: from a program elsewhere, a server whose
// import lies only beside it does not load. Told to look beside it, the
// loader finds the import, and the server's code reaches it.
TEST_F(FilesContract, AServersImportBesideItIsFoundOnlyWithTheAlteredSearchPath) {
    ASSERT_TRUE(Win::CreateDirectoryA(In("Servers").c_str(), nullptr));
    std::string server = Contract::PlaceServerWithImport(In("Servers"));
    Win::SetLastError(0);
    EXPECT_EQ(nullptr, Win::LoadLibraryA(server.c_str()));
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, Win::GetLastError());
    HMODULE module = Win::LoadLibraryExA(server.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(nullptr, module) << "error " << Win::GetLastError();
    FARPROC proc = Win::GetProcAddress(module, "DllUnregisterServer");
    ASSERT_NE(nullptr, proc);
    EXPECT_EQ(0, reinterpret_cast<HRESULT(WINAPI*)()>(proc)()); // S_OK
    EXPECT_TRUE(Win::FreeLibrary(module));
}

TEST_F(FilesContract, ALibrarysExportOfDllUnregisterServerIsReadFromItsFile) {
    Contract::PlaceFaultingLibrary(In("server.dll"));
    Contract::PlacePlainImage(In("plain.dll"));
    Contract::WriteFile(In("notes.dll"));
    EXPECT_EQ(Description::Library::Unregisters, Description::ReadLibrary(In("server.dll")));
    EXPECT_EQ(Description::Library::NoExport, Description::ReadLibrary(In("plain.dll")));
    EXPECT_EQ(Description::Library::None, Description::ReadLibrary(In("notes.dll")));
    // The import table names the library the server imports, whatever else
    // a real one imports.
    std::vector<std::string> imports;
    std::string importing = Contract::PlaceServerWithImport(Contract::SCRATCH_FOLDER);
    EXPECT_EQ(Description::Library::Unregisters, Description::ReadLibrary(importing, &imports));
    EXPECT_EQ(1, std::count_if(imports.begin(), imports.end(), [](const std::string& name) {
                  return Win::lstrcmpiA(name.c_str(), Contract::IMPORTED_LIBRARY) == 0;
              }));
    // Read, not loaded: the library is not held, and goes.
    EXPECT_TRUE(Win::DeleteFileA(In("server.dll").c_str()));
}
