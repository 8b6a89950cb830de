#include "contract.h"

// lstrcmpi compares as people read, not code unit by code unit.
TEST(StringsContract, CaseInsensitiveComparisonIsLinguistic) {
    EXPECT_EQ(0, Win::lstrcmpiA("strasse", "STRA\xDF"
                                           "E"));                 // sharp s
    EXPECT_EQ(0, Win::lstrcmpiA("Soft\xADhyphen", "softhyphen")); // soft hyphen
    EXPECT_EQ(0, Win::lstrcmpiA("\x9C"
                                "uvre",
                                "OEUVRE"));                       // oe ligature
    EXPECT_EQ(0, Win::lstrcmpiA("\xFF\x9A\x9C", "\x9F\x8A\x8C")); // y, s, oe: diaeresis, caron
    EXPECT_EQ(0, Win::lstrcmpiW((LPCWSTR)u"\x0436", (LPCWSTR)u"\x0416")); // Cyrillic zhe
    // A diacritic weighs less than the letter: e-acute sorts between e and f.
    EXPECT_GT(0, Win::lstrcmpiA("\xE9", "f"));
    EXPECT_LT(0, Win::lstrcmpiA("\xE9", "E"));
    EXPECT_GT(0, Win::lstrcmpiA("abc", "ABD"));
}
