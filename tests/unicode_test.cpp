// Names compared without case as Windows compares them, against Windows' own
// tables as Wine ships them (Debian's libwine, which scripts/setup.sh
// installs): the case table l_intl.nls and the code page c_1252.nls, read
// here in their own format, not through our table.
#include "description/description.h"
#include "platform/sim/machine.h"
#include "platform/strings.h"
#include "platform/unicode.h"
#include "platform/utf.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

const char NLS[] = "/usr/share/wine/nls/";

// The file's little-endian WORDs; a missing file fails the test that needs it.
std::vector<uint16_t> Words(const std::string& name) {
    std::ifstream in(NLS + name, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint16_t> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = (uint16_t)((unsigned char)bytes[2 * i] | (unsigned char)bytes[2 * i + 1] << 8);
    return words;
}

// l_intl.nls: a version WORD, then the upper-case table: a WORD count, then
// three levels of offsets (by the unit's high byte, next nibble, low nibble)
// ending in the difference to add.
struct CaseTable {
    std::vector<uint16_t> words = Words("l_intl.nls");
    bool Loaded() const { return words.size() > 2 + 256 && words[0] == 1; }
    char16_t Upper(char16_t c) const {
        const uint16_t* t = words.data() + 2;
        return (char16_t)(c + t[t[t[c >> 8] + ((c >> 4) & 0xF)] + (c & 0xF)]);
    }
};

std::string Utf8(char16_t unit) {
    return Unicode::Utf8(std::u16string(1, unit));
}

// Windows holds any UTF-16, a lone surrogate too: the simulated registry's
// form keeps it, the well-formed one says U+FFFD, as does a byte of UTF-8
// that starts no whole character.
TEST(Utf, EveryUtf16StringComesBackAndWhatIsNotWellFormedIsReplaced) {
    const std::u16string wide = {u'A', 0xE9, 0xD83D, 0xDE00, 0xD800, u'b', 0xDC00};
    EXPECT_EQ(wide, Unicode::Utf16(Unicode::Wtf8(wide.data(), wide.size())));
    EXPECT_EQ("A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD"
              "b\xEF\xBF\xBD",
              Unicode::Utf8(wide));
    // A stray continuation byte, a lead byte without its continuation, and a
    // sequence the text ends within: each byte that starts none is one U+FFFD.
    EXPECT_EQ(std::u16string({0xFFFD, u'a', 0xFFFD, u'b', 0xFFFD, 0xFFFD}),
              Unicode::Utf16("\x80"
                             "a\xE9"
                             "b\xE2\x82"));
    const unsigned char bytes[] = {0x41, 0x00, 0x3D, 0xD8, 0x7F};
    EXPECT_EQ(std::u16string({u'A', 0xD83D}), Unicode::FromLittleEndian(bytes, sizeof bytes));
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4),
              Unicode::LittleEndian(Unicode::FromLittleEndian(bytes, sizeof bytes)));
}

TEST(WindowsUpperCase, EveryUnitOfTheBasicMultilingualPlaneAsWindowsTable) {
    CaseTable windows;
    ASSERT_TRUE(windows.Loaded()) << NLS << "l_intl.nls is missing: run scripts/setup.sh";
    int differ = 0;
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        char16_t expected = windows.Upper((char16_t)c);
        if (Unicode::Upper((char16_t)c) != expected && ++differ <= 10)
            ADD_FAILURE() << std::hex << "U+" << c << ": " << Unicode::Upper((char16_t)c)
                          << " where Windows gives " << expected;
    }
    EXPECT_EQ(0, differ);
}

// The judge's and the simulated registry's comparisons of names are the table's.
TEST(WindowsUpperCase, NamesCompareAlikeInTheJudgeAndTheSimulatedRegistry) {
    CaseTable windows;
    ASSERT_TRUE(windows.Loaded()) << NLS << "l_intl.nls is missing: run scripts/setup.sh";
    Sim::NameOrder order;
    int differ = 0;
    for (unsigned c = 0x80; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c < 0xE000)
            continue; // no character alone
        char16_t upper = windows.Upper((char16_t)c);
        std::string name = "k" + Utf8((char16_t)c), other = "K" + Utf8(upper);
        bool same = Description::SameUnicode(name, other);
        bool sameKey = !order(name, other) && !order(other, name);
        if ((!same || !sameKey) && ++differ <= 10)
            ADD_FAILURE() << std::hex << "U+" << c << " and U+" << upper << ": the judge " << same
                          << ", the registry " << sameKey;
    }
    EXPECT_EQ(0, differ);
    EXPECT_NE(Description::UpperUnicode("\u0101flt"), Description::UpperUnicode("aflt"));
}

// c_1252.nls: a header of 13 WORDs, the offset of the Unicode-to-byte table
// past the next WORD, the 256 characters of the bytes, then that table.
TEST(WindowsUpperCase, EveryAnsiByteFoldsThroughItsCharacter) {
    CaseTable windows;
    std::vector<uint16_t> codePage = Words("c_1252.nls");
    ASSERT_TRUE(windows.Loaded()) << NLS << "l_intl.nls is missing: run scripts/setup.sh";
    ASSERT_TRUE(codePage.size() > 300 && codePage[1] == 1252)
        << NLS << "c_1252.nls is missing: run scripts/setup.sh";
    const uint16_t* toWide = codePage.data() + 14;
    const unsigned char* toAnsi = (const unsigned char*)(codePage.data() + 14 + codePage[13]);
    for (int b = 0; b < 256; ++b) {
        char16_t upper = windows.Upper(toWide[b]);
        unsigned char back = toAnsi[upper];
        unsigned char expected = toWide[back] == upper ? back : (unsigned char)b;
        EXPECT_EQ(expected, Strings::UPPER.of[b]) << std::hex << "byte " << b;
        EXPECT_EQ(toWide[b], Unicode::AnsiToWide((unsigned char)b)) << std::hex << "byte " << b;
    }
}

} // namespace
