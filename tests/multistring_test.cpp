// Editing a double-NUL list in place, with the buffer around it filled with a
// sentinel byte so that any read or write outside the list shows.
#include "machine/lists.h"
#include "platform/sim/machine.h"
#include "registry/multistring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char SENTINEL = (char)0xA5;

struct Buffer {
    std::vector<char> bytes = std::vector<char>(VALUE_BUFFER_SIZE, SENTINEL);
    DWORD size = 0;

    explicit Buffer(const std::string& list) {
        std::copy(list.begin(), list.end(), bytes.begin());
        size = (DWORD)list.size();
    }
    std::string List(DWORD length) const { return std::string(bytes.data(), length); }
    // Bytes from `from` on are still the sentinel.
    bool UntouchedFrom(DWORD from) const {
        for (DWORD i = from; i < VALUE_BUFFER_SIZE; ++i) {
            if (bytes[i] != SENTINEL)
                return false;
        }
        return true;
    }
};

std::string L(std::initializer_list<const char*> entries) {
    std::string list;
    for (const char* entry : entries)
        list += std::string(entry) + '\0';
    return list + '\0';
}

} // namespace

TEST(RemoveListEntry, RemovesEveryCaseInsensitiveMatchIncludingOnesThatMoveIntoPlace) {
    Buffer abA(L({"A", "B", "A"}));
    EXPECT_EQ(3u, RemoveListEntry(abA.bytes.data(), abA.size, "a"));
    EXPECT_EQ(L({"B"}), abA.List(3));

    Buffer ttu(L({"T", "T", "U"}));
    EXPECT_EQ(3u, RemoveListEntry(ttu.bytes.data(), ttu.size, "t"));
    EXPECT_EQ(L({"U"}), ttu.List(3));

    Buffer filters(L({"PartMgr", "DZSTORE", "VolSnap", "dzstore"}));
    DWORD size = RemoveListEntry(filters.bytes.data(), filters.size, "DzStore");
    EXPECT_EQ(L({"PartMgr", "VolSnap"}), filters.List(size));
}

TEST(RemoveListEntry, OnlyWholeEntriesMatch) {
    Buffer list(L({"AB", "CD"}));
    EXPECT_EQ(7u, RemoveListEntry(list.bytes.data(), list.size, "ABC"));
    EXPECT_EQ(7u, RemoveListEntry(list.bytes.data(), list.size, "A"));
    EXPECT_EQ(L({"AB", "CD"}), list.List(7));
}

TEST(RemoveListEntry, EmptiedAndEmptyLists) {
    Buffer x(L({"X"}));
    DWORD size = RemoveListEntry(x.bytes.data(), x.size, "X");
    EXPECT_EQ(1u, size);
    EXPECT_EQ(0, x.bytes[0]);
    EXPECT_TRUE(IsEmptiedList(x.bytes.data(), size));

    Buffer empty(std::string("\0\0", 2));
    EXPECT_EQ(2u, RemoveListEntry(empty.bytes.data(), 2, "X"));
    EXPECT_EQ(1u, RemoveListEntry(empty.bytes.data(), 1, "X"));
    EXPECT_TRUE(empty.UntouchedFrom(2));
}

TEST(RemoveListEntry, NeverTouchesBytesPastTheList) {
    // The move after a removal ends at the list's final NUL; the sentinel
    // right after the list must stay where it was.
    Buffer list(L({"one", "two", "three"}));
    DWORD size = RemoveListEntry(list.bytes.data(), list.size, "one");
    EXPECT_EQ(L({"two", "three"}), list.List(size));
    EXPECT_TRUE(list.UntouchedFrom(list.size));

    // Bytes after a double NUL are not part of the list.
    Buffer padded(L({"A", "B"}) + "junk");
    size = RemoveListEntry(padded.bytes.data(), padded.size, "B");
    EXPECT_EQ(L({"A"}), padded.List(size));
    EXPECT_EQ("junk", padded.List(padded.size).substr(5));
}

TEST(RemoveListEntry, ListWithoutItsFinalNulKeepsItsShape) {
    // "A\0DzStore\0": every entry ended, the list's own NUL missing.
    std::string data = std::string("A\0DzStore\0", 10);
    Buffer list(data);
    DWORD size = RemoveListEntry(list.bytes.data(), list.size, "DzStore");
    EXPECT_EQ(2u, size);
    EXPECT_EQ(std::string("A\0", 2), list.List(size));
    EXPECT_TRUE(list.UntouchedFrom(list.size));

    Buffer only(std::string("DzStore\0", 8));
    size = RemoveListEntry(only.bytes.data(), only.size, "dzstore");
    EXPECT_TRUE(IsEmptiedList(only.bytes.data(), size));
    EXPECT_TRUE(only.UntouchedFrom(8));
}

TEST(RemoveListEntry, DataThatIsNoListIsLeftAlone) {
    // An entry that runs to the end of the data: a string cut short, or a
    // value of another type.
    Buffer cut(std::string("A\0DzSto", 7));
    EXPECT_EQ(7u, RemoveListEntry(cut.bytes.data(), cut.size, "A"));
    EXPECT_EQ(std::string("A\0DzSto", 7), cut.List(7));
    EXPECT_TRUE(cut.UntouchedFrom(7));

    Buffer one(std::string("X", 1));
    DWORD size = RemoveListEntry(one.bytes.data(), 1, "X");
    EXPECT_FALSE(IsEmptiedList(one.bytes.data(), size));
    EXPECT_EQ('X', one.bytes[0]);

    // A full 4096-byte buffer with no NUL at all.
    std::vector<char> full(VALUE_BUFFER_SIZE, 'q');
    EXPECT_EQ(VALUE_BUFFER_SIZE, RemoveListEntry(full.data(), VALUE_BUFFER_SIZE, "q"));
    EXPECT_EQ(std::vector<char>(VALUE_BUFFER_SIZE, 'q'), full);
}

TEST(RemoveListEntry, AFullBufferListIsEditedWithinIt) {
    // Entries filling exactly 4096 bytes, the last of them the product's.
    std::string list = FullFilterList();
    ASSERT_EQ(VALUE_BUFFER_SIZE, list.size());
    std::vector<char> buffer(list.begin(), list.end());
    DWORD size = RemoveListEntry(buffer.data(), VALUE_BUFFER_SIZE, "DzStore");
    EXPECT_EQ(VALUE_BUFFER_SIZE - 8, size);
    EXPECT_EQ(list.substr(0, VALUE_BUFFER_SIZE - 9) + '\0', std::string(buffer.data(), size));

    // A size larger than the buffer is never followed past it.
    std::vector<char> cut(list.begin(), list.end());
    cut[VALUE_BUFFER_SIZE - 1] = 'x';
    cut[VALUE_BUFFER_SIZE - 2] = 'x';
    EXPECT_EQ(VALUE_BUFFER_SIZE + 100,
              RemoveListEntry(cut.data(), VALUE_BUFFER_SIZE + 100, "Filter01"));
}
