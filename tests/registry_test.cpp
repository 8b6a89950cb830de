// The five registry operations against the simulated registry.
#include "registry/registry.h"
#include "support.h"

#include <vector>

namespace {

const char TEST_KEY[] = "SOFTWARE\\Test";
constexpr BYTE BYTE_SENTINEL = 0xA5;

class Registry : public FreshMachine {};

} // namespace

TEST_F(Registry, ReadsUpTo4096BytesAndNothingPastTheValue) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "small", REG_MULTI_SZ, Sim::MultiSz({"A", "B"}));
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "exact", REG_BINARY, std::vector<BYTE>(4096, 7));
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "large", REG_BINARY, std::vector<BYTE>(5000, 7));
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "empty", REG_SZ, {});

    std::vector<BYTE> buffer(VALUE_BUFFER_SIZE, BYTE_SENTINEL);
    EXPECT_EQ(5u, ReadRegistryValue(HKEY_LOCAL_MACHINE, TEST_KEY, "SMALL", buffer.data()));
    EXPECT_EQ(std::vector<BYTE>({'A', 0, 'B', 0, 0, BYTE_SENTINEL}),
              std::vector<BYTE>(buffer.begin(), buffer.begin() + 6));
    EXPECT_EQ(4096u, ReadRegistryValue(HKEY_LOCAL_MACHINE, TEST_KEY, "exact", buffer.data()));
    EXPECT_EQ(0u, ReadRegistryValue(HKEY_LOCAL_MACHINE, TEST_KEY, "large", buffer.data()));
    EXPECT_EQ(0u, ReadRegistryValue(HKEY_LOCAL_MACHINE, TEST_KEY, "empty", buffer.data()));
    EXPECT_EQ(0u, ReadRegistryValue(HKEY_LOCAL_MACHINE, TEST_KEY, "absent", buffer.data()));
    EXPECT_EQ(0u, ReadRegistryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "x", buffer.data()));
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Registry, ListsAreReadInUtf16AsStoredUpTo8192Bytes) {
    // U+0436 and U+4E00 (whose low byte is 0) have no place in the code page.
    const std::u16string stored = {u'k', 0x436, 0, 0x4E00, 0, 0};
    Sim::SetTextValue(HKEY_LOCAL_MACHINE, TEST_KEY, "List", REG_MULTI_SZ,
                      Sim::WideToText(stored.data(), stored.size()));
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "exact", REG_MULTI_SZ, std::vector<BYTE>(4096, 7));
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "binary", REG_BINARY, {'A', 0, 0, 0, 0, 0});
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "large", REG_MULTI_SZ, std::vector<BYTE>(4097, 7));
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "odd", REG_BINARY, std::vector<BYTE>(7, 7));

    std::vector<WCHAR> buffer(LIST_BUFFER_SIZE / sizeof(WCHAR), 0xA5A5);
    EXPECT_EQ(12u,
              ReadRegistryList(HKEY_LOCAL_MACHINE, TEST_KEY, WIDE_TEXT("LIST"), buffer.data()));
    EXPECT_EQ(stored + u'\xA5A5', std::u16string(buffer.data(), 7));
    EXPECT_EQ(8192u,
              ReadRegistryList(HKEY_LOCAL_MACHINE, TEST_KEY, WIDE_TEXT("exact"), buffer.data()));
    EXPECT_EQ(0u,
              ReadRegistryList(HKEY_LOCAL_MACHINE, TEST_KEY, WIDE_TEXT("large"), buffer.data()));
    EXPECT_EQ(0u, ReadRegistryList(HKEY_LOCAL_MACHINE, TEST_KEY, WIDE_TEXT("odd"), buffer.data()));
    EXPECT_EQ(0u,
              ReadRegistryList(HKEY_LOCAL_MACHINE, TEST_KEY, WIDE_TEXT("binary"), buffer.data()));

    // Written back as it was read, the list is the same list.
    WriteMultiStringValue(HKEY_LOCAL_MACHINE, TEST_KEY, WIDE_TEXT("List"), stored.data(), 12);
    EXPECT_EQ(stored,
              Sim::TextToWide(Text(Sim::FindKey(HKEY_LOCAL_MACHINE, TEST_KEY)->values[0].second)));
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Registry, WritesFlushAndCloseButNeverCreateKeys) {
    const WCHAR list[] = {'k', 0, 0};
    WriteMultiStringValue(HKEY_LOCAL_MACHINE, TEST_KEY, WIDE_TEXT("List"), list, 6);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, WriteDwordValue(HKEY_LOCAL_MACHINE, TEST_KEY, "LogonType", 1));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, TEST_KEY));

    Sim::MakeKey(HKEY_LOCAL_MACHINE, TEST_KEY);
    M().journal.clear();
    EXPECT_EQ(ERROR_SUCCESS, WriteDwordValue(HKEY_LOCAL_MACHINE, TEST_KEY, "LogonType", 1));
    WriteMultiStringValue(HKEY_LOCAL_MACHINE, TEST_KEY, WIDE_TEXT("List"), list, 6);
    Sim::Value value = Read(HKEY_LOCAL_MACHINE, TEST_KEY, "LogonType");
    EXPECT_EQ(REG_DWORD, value.type);
    EXPECT_EQ(Sim::Dword(1), value.data);
    value = Read(HKEY_LOCAL_MACHINE, TEST_KEY, "List");
    EXPECT_EQ(REG_MULTI_SZ, value.type);
    EXPECT_EQ(std::vector<BYTE>({'k', 0, 0}), value.data);
    EXPECT_EQ(std::vector<std::string>({
                  "RegOpenKeyExA(HKLM, \"SOFTWARE\\Test\", 0xF003F)",
                  "RegSetValueExA(key#1, \"LogonType\", 4, 4)",
                  "RegFlushKey(key#1)",
                  "RegCloseKey(key#1)",
                  "RegOpenKeyExA(HKLM, \"SOFTWARE\\Test\", 0xF003F)",
                  "RegSetValueExW(key#2, \"List\", 7, 6)",
                  "RegFlushKey(key#2)",
                  "RegCloseKey(key#2)",
              }),
              Calls());
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Registry, DeletesValuesOnlyWhereTheyAre) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "UpperFilters", REG_MULTI_SZ, Sim::MultiSz({"x"}));
    Sim::SetValue(HKEY_LOCAL_MACHINE, TEST_KEY, "Other", REG_SZ, Sim::Sz("y"));
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, TEST_KEY, "upperfilters");
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, TEST_KEY, "absent");
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "Other");
    EXPECT_FALSE(Sim::ReadValue(HKEY_LOCAL_MACHINE, TEST_KEY, "UpperFilters", nullptr));
    EXPECT_TRUE(Sim::ReadValue(HKEY_LOCAL_MACHINE, TEST_KEY, "Other", nullptr));
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Registry, DeletesATreeDeepestFirstAndTheNamedKeyLast) {
    Sim::MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\A\\A1\\A11");
    Sim::MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\B");
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\A\\A1", "v", REG_SZ, Sim::Sz("x"));
    Sim::MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Treeline"); // a sibling with a longer name

    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree"));
    EXPECT_EQ(std::vector<std::string>({
                  "RegDeleteKeyA(HKLM, \"SOFTWARE\\Tree\\A\\A1\\A11\")",
                  "RegDeleteKeyA(HKLM, \"SOFTWARE\\Tree\\A\\A1\")",
                  "RegDeleteKeyA(HKLM, \"SOFTWARE\\Tree\\A\")",
                  "RegDeleteKeyA(HKLM, \"SOFTWARE\\Tree\\B\")",
                  "RegDeleteKeyA(HKLM, \"SOFTWARE\\Tree\")",
              }),
              CallsOf("RegDeleteKeyA"));
    // Every enumeration asks for index 0: each child goes before the next is read.
    for (auto& call : CallsOf("RegEnumKeyA"))
        EXPECT_NE(std::string::npos, call.find(", 0, 260)")) << call;
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree"));
    EXPECT_NE(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Treeline"));
    EXPECT_EQ(0, Sim::OpenHandles());

    M().journal.clear();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree"));
    EXPECT_EQ(1u, M().journal.size());
}

TEST_F(Registry, AChildThatCannotGoIsSteppedOverAndTheRestStillGoes) {
    Sim::MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\A");
    Sim::MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Locked\\Inner");
    Sim::MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Sealed");
    Sim::MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Z");
    Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Locked")->refuseDelete = true;
    Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Sealed")->refuseOpen = true;

    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree"));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\A"));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Z"));
    // A key that refuses DELETE refuses an open asking for it too: what lies
    // below it is never reached.
    EXPECT_NE(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Locked\\Inner"));
    EXPECT_NE(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Locked"));
    EXPECT_NE(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Sealed"));
    EXPECT_LT(M().journal.size(), 60u);
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Registry, AChildPathThatWouldNotFitIsSkippedNeverCut) {
    // "SOFTWARE\Tree\" and a 250-character name do not fit in 260 bytes. A
    // cut path would name another key, or none, and re-reading index 0 would
    // then meet the same child for ever.
    std::string longName(250, 'k');
    const std::string base = "SOFTWARE\\Tree";
    Sim::MakeKey(HKEY_LOCAL_MACHINE, base + "\\" + longName);
    Sim::MakeKey(HKEY_LOCAL_MACHINE, base + "\\a");
    Sim::MakeKey(HKEY_LOCAL_MACHINE, base + "\\zz");

    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTree(HKEY_LOCAL_MACHINE, base.c_str()));
    EXPECT_NE(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, base + "\\" + longName));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, base + "\\a"));
    EXPECT_EQ(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, base + "\\zz"));
    for (auto& call : CallsOf("RegOpenKeyExA"))
        EXPECT_EQ(std::string::npos, call.find("kkk")) << call;
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Registry, ADeepTreeEndsWithinThePathLimit) {
    std::string path = "SOFTWARE\\Deep";
    for (int level = 0; level < 200; ++level)
        path += "\\d";
    Sim::MakeKey(HKEY_LOCAL_MACHINE, path);
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Deep"));
    // The chain goes deeper than a path can name, so no level can be emptied:
    // the call ends and leaves the chain as it was.
    EXPECT_NE(nullptr, Sim::FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Deep"));
    EXPECT_EQ(0, Sim::OpenHandles());
}
