// Editing a double-NUL UTF-16 list in place, with the buffer around it filled
// with a sentinel unit so that any read or write outside the list shows.
// Sizes are in bytes, as the registry gives them.
#include "machine/lists.h"
#include "platform/sim/machine.h"
#include "registry/multistring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr WCHAR SENTINEL = 0xA5A5;
constexpr DWORD UNIT = sizeof(WCHAR);

struct Buffer {
    std::vector<WCHAR> units = std::vector<WCHAR>(LIST_BUFFER_SIZE / UNIT, SENTINEL);
    DWORD size = 0;

    explicit Buffer(const std::u16string& list) {
        std::copy(list.begin(), list.end(), units.begin());
        size = (DWORD)list.size() * UNIT;
    }
    WCHAR* data() { return units.data(); }
    std::u16string List(DWORD bytes) const {
        return std::u16string(units.begin(), units.begin() + bytes / UNIT);
    }
    // Units from the byte offset `from` on are still the sentinel.
    bool UntouchedFrom(DWORD from) const {
        for (DWORD i = from / UNIT; i < units.size(); ++i) {
            if (units[i] != SENTINEL)
                return false;
        }
        return true;
    }
};

std::u16string L(std::initializer_list<std::u16string> entries) {
    std::u16string list;
    for (const std::u16string& entry : entries)
        list += entry + u'\0';
    return list + u'\0';
}

std::u16string Units(const char16_t* text, size_t units) {
    return std::u16string(text, units);
}

} // namespace

TEST(RemoveListEntry, RemovesEveryCaseInsensitiveMatchIncludingOnesThatMoveIntoPlace) {
    Buffer abA(L({u"A", u"B", u"A"}));
    EXPECT_EQ(3 * UNIT, RemoveListEntry(abA.data(), abA.size, "a"));
    EXPECT_EQ(L({u"B"}), abA.List(3 * UNIT));

    Buffer ttu(L({u"T", u"T", u"U"}));
    EXPECT_EQ(3 * UNIT, RemoveListEntry(ttu.data(), ttu.size, "t"));
    EXPECT_EQ(L({u"U"}), ttu.List(3 * UNIT));

    Buffer filters(L({u"PartMgr", u"DZSTORE", u"VolSnap", u"dzstore"}));
    DWORD size = RemoveListEntry(filters.data(), filters.size, "DzStore");
    EXPECT_EQ(L({u"PartMgr", u"VolSnap"}), filters.List(size));
}

TEST(RemoveListEntry, EntriesTheCodePageCannotCarryStayExactlyAsTheyWere) {
    // Cyrillic, Greek, a CJK character whose low byte is 0 (U+4E00), a
    // character outside the BMP and a lone surrogate: none is the product's.
    const std::u16string cyrillic = u"kbdflt\u0436", greek = u"\u03a9mega", cjk = u"\u4e00\u4e01";
    const std::u16string astral = u"f\U0001F600", lone = {u'x', 0xD800};
    Buffer list(L({cyrillic, u"DzXpKbdPnp", greek, cjk, astral, lone}));
    DWORD size = RemoveListEntry(list.data(), list.size, "DzXpKbdPnp");
    EXPECT_EQ(L({cyrillic, greek, cjk, astral, lone}), list.List(size));
    EXPECT_EQ(list.size - 11 * UNIT, size);

    // Without the product's name the list comes back unchanged.
    Buffer foreign(L({cyrillic, greek, cjk}));
    size = RemoveListEntry(foreign.data(), foreign.size, "DzXpKbdPnp");
    EXPECT_EQ(foreign.size, size);
    EXPECT_EQ(L({cyrillic, greek, cjk}), foreign.List(size));
}

TEST(RemoveListEntry, OnlyWholeEntriesMatch) {
    Buffer list(L({u"AB", u"CD"}));
    EXPECT_EQ(7 * UNIT, RemoveListEntry(list.data(), list.size, "ABC"));
    EXPECT_EQ(7 * UNIT, RemoveListEntry(list.data(), list.size, "A"));
    EXPECT_EQ(L({u"AB", u"CD"}), list.List(7 * UNIT));

    // Another service's name that a linguistic comparison would take for the
    // product's (a soft hyphen, a fullwidth letter) is not the product's.
    Buffer lookalikes(L({u"Dz\u00adStore", u"\uff24zStore", u"DzStor\u00e9"}));
    EXPECT_EQ(lookalikes.size, RemoveListEntry(lookalikes.data(), lookalikes.size, "DzStore"));
}

TEST(RemoveListEntry, EmptiedAndEmptyLists) {
    Buffer x(L({u"X"}));
    DWORD size = RemoveListEntry(x.data(), x.size, "X");
    EXPECT_EQ(UNIT, size);
    EXPECT_EQ(0, x.units[0]);
    EXPECT_TRUE(IsEmptiedList(x.data(), size));

    Buffer empty(Units(u"\0\0", 2));
    EXPECT_EQ(2 * UNIT, RemoveListEntry(empty.data(), 2 * UNIT, "X"));
    EXPECT_EQ(UNIT, RemoveListEntry(empty.data(), UNIT, "X"));
    EXPECT_TRUE(empty.UntouchedFrom(2 * UNIT));
}

TEST(RemoveListEntry, NeverTouchesBytesPastTheList) {
    // The move after a removal ends at the list's final NUL; the sentinel
    // right after the list must stay where it was.
    Buffer list(L({u"one", u"two", u"three"}));
    DWORD size = RemoveListEntry(list.data(), list.size, "one");
    EXPECT_EQ(L({u"two", u"three"}), list.List(size));
    EXPECT_TRUE(list.UntouchedFrom(list.size));

    // Units after a double NUL are not part of the list, nor is an odd last byte.
    Buffer padded(L({u"A", u"B"}) + u"junk");
    size = RemoveListEntry(padded.data(), padded.size, "B");
    EXPECT_EQ(L({u"A"}), padded.List(size));
    EXPECT_EQ(u"junk", padded.List(padded.size).substr(5));
    Buffer odd(L({u"A", u"DzStore"}));
    EXPECT_EQ(3 * UNIT, RemoveListEntry(odd.data(), odd.size + 1, "DzStore"));
}

TEST(RemoveListEntry, ListWithoutItsFinalNulKeepsItsShape) {
    // "A\0DzStore\0": every entry ended, the list's own NUL missing.
    Buffer list(Units(u"A\0DzStore\0", 10));
    DWORD size = RemoveListEntry(list.data(), list.size, "DzStore");
    EXPECT_EQ(2 * UNIT, size);
    EXPECT_EQ(Units(u"A\0", 2), list.List(size));
    EXPECT_TRUE(list.UntouchedFrom(list.size));

    Buffer only(Units(u"DzStore\0", 8));
    size = RemoveListEntry(only.data(), only.size, "dzstore");
    EXPECT_TRUE(IsEmptiedList(only.data(), size));
    EXPECT_TRUE(only.UntouchedFrom(8 * UNIT));
}

TEST(RemoveListEntry, DataThatIsNoListIsLeftAlone) {
    // An entry that runs to the end of the data: a string cut short, or a
    // value of another type.
    Buffer cut(Units(u"A\0DzSto", 7));
    EXPECT_EQ(7 * UNIT, RemoveListEntry(cut.data(), cut.size, "A"));
    EXPECT_EQ(Units(u"A\0DzSto", 7), cut.List(7 * UNIT));
    EXPECT_TRUE(cut.UntouchedFrom(7 * UNIT));

    Buffer one(u"X");
    DWORD size = RemoveListEntry(one.data(), UNIT, "X");
    EXPECT_FALSE(IsEmptiedList(one.data(), size));
    EXPECT_EQ(u'X', one.units[0]);

    // A full buffer with no NUL at all.
    std::vector<WCHAR> full(LIST_BUFFER_SIZE / UNIT, u'q');
    EXPECT_EQ(LIST_BUFFER_SIZE, RemoveListEntry(full.data(), LIST_BUFFER_SIZE, "q"));
    EXPECT_EQ(std::vector<WCHAR>(LIST_BUFFER_SIZE / UNIT, u'q'), full);
}

TEST(RemoveListEntry, AFullBufferListIsEditedWithinIt) {
    // Entries filling exactly the list buffer, the last of them the product's.
    std::u16string list = FullFilterList();
    ASSERT_EQ(LIST_BUFFER_SIZE, list.size() * UNIT);
    std::vector<WCHAR> buffer(list.begin(), list.end());
    DWORD size = RemoveListEntry(buffer.data(), LIST_BUFFER_SIZE, "DzStore");
    EXPECT_EQ(LIST_BUFFER_SIZE - 8 * UNIT, size);
    EXPECT_EQ(list.substr(0, list.size() - 9) + u'\0', std::u16string(buffer.data(), size / UNIT));

    // A size larger than the buffer is never followed past it.
    std::vector<WCHAR> cut(list.begin(), list.end());
    cut[cut.size() - 1] = u'x';
    cut[cut.size() - 2] = u'x';
    EXPECT_EQ(LIST_BUFFER_SIZE + 100,
              RemoveListEntry(cut.data(), LIST_BUFFER_SIZE + 100, "Filter01"));
}
