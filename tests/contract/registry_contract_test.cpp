#include "contract.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

class RegistryContract : public ContractTest {
  protected:
    std::string Path(const std::string& sub = "") {
        return std::string(Contract::SCRATCH_KEY) + (sub.empty() ? "" : "\\" + sub);
    }
    HKEY Open(const std::string& sub = "") {
        HKEY key = (HKEY)(ULONG_PTR)0xdeadbeef;
        EXPECT_EQ(ERROR_SUCCESS, Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path(sub).c_str(), 0,
                                                    KEY_ALL_ACCESS, &key));
        return key;
    }
};

} // namespace

TEST_F(RegistryContract, NamesCompareWithoutCaseAndMissingThingsAreFileNotFound) {
    Contract::SetValue("Child", "Value", REG_SZ, std::string("x\0", 2));
    HKEY key = Open("CHILD");
    BYTE data[16];
    DWORD size = sizeof data;
    DWORD type = 0xdeadbeef;
    EXPECT_EQ(ERROR_SUCCESS, Win::RegQueryValueExA(key, "VALUE", nullptr, &type, data, &size));
    EXPECT_EQ(REG_SZ, type);
    EXPECT_EQ(2u, size);
    size = sizeof data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              Win::RegQueryValueExA(key, "absent", nullptr, &type, data, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Win::RegDeleteValueA(key, "absent"));
    Win::RegCloseKey(key);

    HKEY missing = (HKEY)(ULONG_PTR)0xdeadbeef;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path("Nowhere").c_str(),
                                                       0, KEY_ALL_ACCESS, &missing));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              Win::RegDeleteKeyA(HKEY_LOCAL_MACHINE, Path("Nowhere").c_str()));
}

TEST_F(RegistryContract, ATooSmallBufferGetsMoreDataAndTheSizeNeeded) {
    std::string big(100, 'b');
    Contract::SetValue("", "Big", REG_BINARY, big);
    HKEY key = Open();
    std::vector<BYTE> data(50, 0xA5);
    DWORD size = 50;
    EXPECT_EQ(ERROR_MORE_DATA,
              Win::RegQueryValueExA(key, "Big", nullptr, nullptr, data.data(), &size));
    EXPECT_EQ(100u, size);
    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, Win::RegQueryValueExA(key, "Big", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(100u, size);
    Win::RegCloseKey(key);
}

TEST_F(RegistryContract, SubkeysEnumerateInNameOrderAndAKeyWithSubkeysCannotBeDeleted) {
    for (const char* name : {"charlie", "Alpha", "bravo"})
        Contract::SetValue(std::string("Parent\\") + name, nullptr, 0, "");
    HKEY key = Open("Parent");
    std::vector<std::string> names;
    char name[MAX_PATH];
    DWORD index = 0;
    while (Win::RegEnumKeyA(key, index++, name, MAX_PATH) == ERROR_SUCCESS)
        names.push_back(name);
    EXPECT_EQ(std::vector<std::string>({"Alpha", "bravo", "charlie"}), names);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, Win::RegEnumKeyA(key, 3, name, MAX_PATH));
    EXPECT_EQ(ERROR_MORE_DATA, Win::RegEnumKeyA(key, 2, name, 4));

    EXPECT_EQ(ERROR_ACCESS_DENIED, Win::RegDeleteKeyA(HKEY_LOCAL_MACHINE, Path("Parent").c_str()));
    EXPECT_TRUE(Contract::KeyExists(HKEY_LOCAL_MACHINE, Path("Parent")));
    // The first child is deleted; the next one moves to index 0.
    EXPECT_EQ(ERROR_SUCCESS, Win::RegDeleteKeyA(HKEY_LOCAL_MACHINE, Path("Parent\\alpha").c_str()));
    EXPECT_EQ(ERROR_SUCCESS, Win::RegEnumKeyA(key, 0, name, MAX_PATH));
    EXPECT_STREQ("bravo", name);
    Win::RegCloseKey(key);
}

TEST_F(RegistryContract, AHandleToADeletedKeyReportsItDeleted) {
    Contract::SetValue("Doomed", "v", REG_DWORD, std::string(4, '\0'));
    HKEY key = Open("Doomed");
    EXPECT_EQ(ERROR_SUCCESS, Win::RegDeleteKeyA(HKEY_LOCAL_MACHINE, Path("Doomed").c_str()));
    BYTE data[4];
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_KEY_DELETED, Win::RegQueryValueExA(key, "v", nullptr, nullptr, data, &size));
    EXPECT_EQ(ERROR_SUCCESS, Win::RegCloseKey(key));
}

TEST_F(RegistryContract, ClassesRootIsTheMachinesSoftwareClasses) {
    HKEY key;
    const std::string clsid = "CLSID\\{0F0F0F0F-1111-2222-3333-444455556666}";
    ASSERT_EQ(ERROR_SUCCESS, Win::RegCreateKeyExA(HKEY_CLASSES_ROOT, clsid.c_str(), 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
    Win::RegCloseKey(key);
    EXPECT_TRUE(Contract::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + clsid));
    EXPECT_EQ(ERROR_SUCCESS, Win::RegDeleteKeyA(HKEY_CLASSES_ROOT, clsid.c_str()));
    EXPECT_FALSE(Contract::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + clsid));
}

// U+0416, a capital Cyrillic letter; U+0436 is its lower case. Windows-1252
// has neither, nor any best fit for them.
const char16_t ZHE = 0x0416, ZHE_SMALL = 0x0436;

TEST_F(RegistryContract, StringsAreUnicodeAndTheAFunctionsSeeThemThroughTheCodePage) {
    // An entry the code page cannot carry reads back with '?'...
    const std::u16string planted = {u'o', u'n', u'e', 0, u'x', ZHE, 0, u't', 0, 0};
    Contract::SetValueW(u"", "List", REG_MULTI_SZ, planted);
    HKEY key = Open();
    BYTE data[32];
    std::memset(data, 0xA5, sizeof data);
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, Win::RegQueryValueExA(key, "List", nullptr, nullptr, data, &size));
    EXPECT_EQ(std::string("one\0x?\0t\0\0", 10), std::string((char*)data, size));
    // ...and the list written back after an edit has lost it for good.
    data[7] = 0; // "t" taken out
    EXPECT_EQ(ERROR_SUCCESS, Win::RegSetValueExA(key, "List", 0, REG_MULTI_SZ, data, 8));
    EXPECT_EQ(std::u16string(u"one\0x?\0\0", 8), Contract::ValueW("", "List"));

    // Where the code page has a best fit, that is read instead: a letter
    // without its macron, a fullwidth backslash as a backslash.
    Contract::SetValueW(u"", "Fit", REG_SZ, {0x100, 0xFF3C, 0});
    size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, Win::RegQueryValueExA(key, "Fit", nullptr, nullptr, data, &size));
    EXPECT_EQ(std::string("A\\\0", 3), std::string((char*)data, size));

    // What the code page does carry goes through both ways, its undefined bytes too.
    const char high[] = "\x81\x8D\xE9\x9A\x80";
    EXPECT_EQ(ERROR_SUCCESS, Win::RegSetValueExA(key, "High", 0, REG_SZ, (const BYTE*)high, 6));
    EXPECT_EQ(std::u16string({0x81, 0x8D, 0xE9, 0x161, 0x20AC, 0}), Contract::ValueW("", "High"));
    size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, Win::RegQueryValueExA(key, "High", nullptr, nullptr, data, &size));
    EXPECT_EQ(std::string(high, 6), std::string((char*)data, size));
    Win::RegCloseKey(key);
}

TEST_F(RegistryContract, TheWFunctionsReadAndWriteAListExactlyAsStored) {
    // Cyrillic, Greek, U+4E00 (its low byte 0) and a pair of surrogates.
    const std::u16string list = {u'k', ZHE_SMALL, 0, 0x3A9, 0, 0x4E00, 0, 0xD83D, 0xDE00, 0, 0};
    const DWORD bytes = (DWORD)list.size() * 2;
    Contract::SetValue("", "Probe", REG_DWORD, std::string(4, '\0'));
    HKEY key = Open();
    EXPECT_EQ(ERROR_SUCCESS, Win::RegSetValueExW(key, WIDE_TEXT("List"), 0, REG_MULTI_SZ,
                                                 (const BYTE*)list.data(), bytes));
    std::vector<BYTE> data(64, 0xA5);
    DWORD size = (DWORD)data.size();
    DWORD type = 0xdeadbeef;
    EXPECT_EQ(ERROR_SUCCESS,
              Win::RegQueryValueExW(key, WIDE_TEXT("LIST"), nullptr, &type, data.data(), &size));
    EXPECT_EQ(REG_MULTI_SZ, type);
    ASSERT_EQ(bytes, size);
    EXPECT_EQ(0, std::memcmp(list.data(), data.data(), bytes));
    EXPECT_EQ(0xA5, data[bytes]);
    EXPECT_EQ(list, Contract::ValueW("", "List"));
    // The A view of the same value has a best fit, or '?', where the code
    // page has no such character (how many a pair of surrogates gives is
    // not pinned here).
    size = (DWORD)data.size();
    EXPECT_EQ(ERROR_SUCCESS,
              Win::RegQueryValueExA(key, "List", nullptr, nullptr, data.data(), &size));
    EXPECT_EQ(std::string("k?\0O\0?\0", 7), std::string((char*)data.data(), 7));

    // A list set through the A functions reads through the W ones as its
    // characters, two bytes each; a value of no string type, as its bytes.
    const char ansi[] = "Zeta\0\xE9t\xE9\0";
    EXPECT_EQ(ERROR_SUCCESS,
              Win::RegSetValueExA(key, "Ansi", 0, REG_MULTI_SZ, (const BYTE*)ansi, sizeof ansi));
    EXPECT_EQ(std::u16string(u"Zeta\0\u00e9t\u00e9\0\0", 10), Contract::ValueW("", "Ansi"));
    size = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              Win::RegQueryValueExW(key, WIDE_TEXT("Ansi"), nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(20u, size);
    size = (DWORD)data.size();
    EXPECT_EQ(ERROR_SUCCESS,
              Win::RegQueryValueExW(key, WIDE_TEXT("Probe"), nullptr, &type, data.data(), &size));
    EXPECT_EQ(REG_DWORD, type);
    EXPECT_EQ(4u, size);
    Win::RegCloseKey(key);
}

TEST_F(RegistryContract, ASubkeyNamedOutsideTheCodePageEnumeratesWithAQuestionMark) {
    Contract::SetValueW(std::u16string(u"Parent\\Sub") + ZHE, nullptr, 0, u"");
    // Names fold case beyond Latin-1: this is the same key.
    Contract::SetValueW(std::u16string(u"Parent\\SUB") + ZHE_SMALL, nullptr, 0, u"");
    HKEY key = Open("Parent");
    char name[MAX_PATH];
    EXPECT_EQ(ERROR_SUCCESS, Win::RegEnumKeyA(key, 0, name, MAX_PATH));
    EXPECT_STREQ("Sub?", name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, Win::RegEnumKeyA(key, 1, name, MAX_PATH));
    // The name enumerated is not the key's: nothing answers to it.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              Win::RegDeleteKeyA(HKEY_LOCAL_MACHINE, Path("Parent\\Sub?").c_str()));
    EXPECT_FALSE(Contract::KeyExists(HKEY_LOCAL_MACHINE, Path("Parent\\Sub?")));
    EXPECT_EQ(ERROR_SUCCESS, Win::RegEnumKeyA(key, 0, name, MAX_PATH));
    Win::RegCloseKey(key);
}

TEST_F(RegistryContract, AStringSetWithoutItsNulIsStoredAndReadAsGiven) {
    KNOWN_WINE_DIFFERENCE("RegSetValueExA stores the bytes it is given; RegQueryValueExA documents "
                          "that a string may lack its NUL and the reader must add one");
    Contract::SetValue("", "Bare", REG_SZ, "abc");
    HKEY key = Open();
    BYTE data[8];
    std::memset(data, 0xA5, sizeof data);
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, Win::RegQueryValueExA(key, "Bare", nullptr, nullptr, data, &size));
    EXPECT_EQ(3u, size);
    EXPECT_EQ(std::string("abc\xA5", 4), std::string((char*)data, 4));
    Win::RegCloseKey(key);
}
