#include "contract.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

class FilesContract : public ContractTest {
protected:
    std::string In(const std::string& name) { return std::string(Contract::SCRATCH_FOLDER) + "\\" + name; }
    std::vector<std::string> Find(const std::string& pattern)
    {
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

TEST_F(FilesContract, TrailingSpacesGoFromTheLastComponentOnly)
{
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

TEST_F(FilesContract, TheSearchMatchesOnlyThePatternAndNamesCompareWithoutCase)
{
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

TEST_F(FilesContract, DeletionAtRestartIsRecordedWhetherOrNotTheFileExists)
{
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
