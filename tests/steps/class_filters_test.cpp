// The upper filters of the six device setup classes lose the product's names and only them.
#include "installed.h"
#include "steps/steps.h"

namespace {

const char CLASS[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const char DISK[] = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
const char FLOPPY[] = "{4D36E980-E325-11CE-BFC1-08002BE10318}";
const char VOLUME[] = "{71A27CDD-812A-11D0-BEC7-08002BE2092F}";
const char KEYBOARD[] = "{4D36E96B-E325-11CE-BFC1-08002BE10318}";
const char MOUSE[] = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
const char HID[] = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";

std::vector<std::string> Filters(const char* guid) {
    Sim::Value value;
    if (!Sim::ReadValue(HKEY_LOCAL_MACHINE, std::string(CLASS) + guid, "UpperFilters", &value))
        return {"(none)"};
    return Strings::SplitMultiString(value.data);
}

void SetFilters(const char* guid, const std::string& bytes, DWORD type = REG_MULTI_SZ) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, std::string(CLASS) + guid, "UpperFilters", type,
                  std::vector<BYTE>(bytes.begin(), bytes.end()));
}

} // namespace

TEST_F(Installed, ClassFiltersLoseOnlyTheProductsNames) {
    CleanClassFilters();
    EXPECT_EQ(std::vector<std::string>({"(none)"}), Filters(FLOPPY));
    EXPECT_EQ(std::vector<std::string>({"PartMgr"}), Filters(DISK));
    EXPECT_EQ(std::vector<std::string>({"VolSnap"}), Filters(VOLUME));
    EXPECT_EQ(std::vector<std::string>({"kbdclass"}), Filters(KEYBOARD));
    EXPECT_EQ(std::vector<std::string>({"mouclass"}), Filters(MOUSE));
    EXPECT_EQ(std::vector<std::string>({"(none)"}), Filters(HID));
    // "kbdclass", its NUL and the list's NUL.
    EXPECT_EQ(10u,
              Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + KEYBOARD, "UpperFilters").data.size());
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Installed, ForeignFiltersStayByteExactAndInOrder) {
    SetFilters(DISK, std::string("Zeta\0dzstore\0PartMgr\0DZSTORE\0alpha\0\0", 36));
    SetFilters(MOUSE, std::string("mouclass\0Other\0\0", 16));
    Sim::FindKey(HKEY_LOCAL_MACHINE, std::string(CLASS) + HID)->values.clear();
    CleanClassFilters();
    EXPECT_EQ(std::string("Zeta\0PartMgr\0alpha\0\0", 20),
              Text(Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + DISK, "UpperFilters")));
    // Written back unchanged when the product's name is not there.
    EXPECT_EQ(std::string("mouclass\0Other\0\0", 16),
              Text(Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + MOUSE, "UpperFilters")));
    auto writes = CallsOf("RegSetValueExW");
    EXPECT_EQ(4u, writes.size()); // disk, volume, keyboard, mouse
    // A class without the value is left alone.
    EXPECT_EQ(std::vector<std::string>({"(none)"}), Filters(HID));
    EXPECT_EQ(1u, CallsOf("RegDeleteValueA").size()); // the floppy class's emptied list

    // Names the code page cannot carry come back as Windows stored them.
    const std::u16string foreign = {u'k', u'b', u'd', 0x436, 0,    u'D', u'z',   u'X', u'p', u'K',
                                    u'b', u'd', u'P', u'n',  u'p', 0,    0x4E00, 0,    0};
    Sim::SetTextValue(HKEY_LOCAL_MACHINE, std::string(CLASS) + KEYBOARD, "UpperFilters",
                      REG_MULTI_SZ, Sim::WideToText(foreign.data(), foreign.size()));
    CleanClassFilters();
    const Sim::Value* keyboard =
        Sim::FindKey(HKEY_LOCAL_MACHINE, std::string(CLASS) + KEYBOARD)->FindValue("UpperFilters");
    EXPECT_EQ(std::u16string({u'k', u'b', u'd', 0x436, 0, 0x4E00, 0, 0}),
              Sim::TextToWide(Text(*keyboard)));
}

TEST_F(Installed, MalformedFilterListsAreHandledSafely) {
    // The list's final NUL missing: the product's name still goes and the
    // list keeps the shape it had.
    SetFilters(KEYBOARD, std::string("kbdclass\0DzXpKbdPnp\0", 20));
    SetFilters(FLOPPY, std::string("DzStore\0", 8));
    // A value cut inside an entry, and one byte that is no list.
    SetFilters(DISK, std::string("PartMgr\0DzSto", 13));
    SetFilters(MOUSE, std::string("m", 1), REG_BINARY);
    CleanClassFilters();
    EXPECT_EQ(std::string("kbdclass\0", 9),
              Text(Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + KEYBOARD, "UpperFilters")));
    EXPECT_EQ(std::vector<std::string>({"(none)"}), Filters(FLOPPY));
    EXPECT_EQ(std::string("PartMgr\0DzSto", 13),
              Text(Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + DISK, "UpperFilters")));
    Sim::Value mouse = Read(HKEY_LOCAL_MACHINE, std::string(CLASS) + MOUSE, "UpperFilters");
    EXPECT_EQ(REG_BINARY, mouse.type);
    EXPECT_EQ("m", Text(mouse));
}
