// Names as Windows compares them without case: the registry, the service
// manager and the object manager upper-case each UTF-16 unit alone through
// the NLS case table (RtlUpcaseUnicodeChar), then compare units. No special
// casing, no surrogate pairs, no linguistic rules: ß stays ß, and a lower case
// letter whose upper case does not map back to it (ı, ſ, ς, µ) stays itself.
//
// The table is the one Wine ships as l_intl.nls, in Windows' own format
// (scripts/gen-upcase.py writes unicode_upper.inc from it). It follows a
// later Unicode than the table of Windows 2000 and XP, so it also folds
// letters that came into Unicode after them (Latin Extended-C and -D, Georgian
// Mtavruli, the Cherokee small letters...), which Windows 2000 and XP keep
// apart. A difference so errs on the side of two names being the same: a
// filter entry found, an entry kept by a repair, never one removed. Every
// letter of the scripts a service or file name is written in (Latin-1, Latin
// Extended-A and -B, Greek, Cyrillic, Armenian, fullwidth) maps as there, but
// for one letter the other way: the upper-case table Windows XP writes to an
// NTFS volume also takes final sigma ς to Σ, which this table leaves as it
// is, so two names differing only there are taken as two.
#pragma once

#include <cstddef>

namespace Unicode {

struct UpperRun {
    char16_t first, last; // the units of the run, both included
    int delta;            // added to a unit for its upper case
    int step;             // 1: every unit of the run; 2: every other one from `first`
};

inline constexpr UpperRun UPPER_RUNS[] = {
#include "unicode_upper.inc"
};

// Windows' upper case of one UTF-16 unit.
constexpr char16_t Upper(char16_t unit) {
    if (unit < 0x80)
        return unit >= 'a' && unit <= 'z' ? (char16_t)(unit - 0x20) : unit;
    // The last run whose first unit is not above `unit`.
    size_t low = 0, high = sizeof UPPER_RUNS / sizeof UPPER_RUNS[0];
    while (high - low > 1) {
        size_t middle = (low + high) / 2;
        if (UPPER_RUNS[middle].first <= unit)
            low = middle;
        else
            high = middle;
    }
    const UpperRun& run = UPPER_RUNS[low];
    if (unit < run.first || unit > run.last || (unit - run.first) % run.step != 0)
        return unit;
    return (char16_t)(unit + run.delta);
}

// The ANSI code page, Windows-1252: 0x80-0x9F as below, every other byte the
// Latin-1 character of its number. The five bytes the code page leaves
// undefined map to the C1 controls and back, as Windows' table does, so every
// byte survives a round trip.
inline constexpr char16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t AnsiToWide(unsigned char c) {
    return c >= 0x80 && c <= 0x9F ? CP1252_HIGH[c - 0x80] : (char16_t)c;
}

// The byte of the code page that carries `c`; -1 where none does.
constexpr int WideToAnsi(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return (int)c;
    for (int i = 0; i < 32; ++i) {
        if (CP1252_HIGH[i] == c)
            return 0x80 + i;
    }
    return -1;
}

// A byte of the ANSI code page upper-cased as Windows does it behind the A
// functions: through its Unicode character, back to the code page when the
// upper case is there (ÿ to Ÿ 0x9F, š to Š 0x8A), else the byte itself.
constexpr unsigned char UpperAnsi(unsigned char c) {
    int upper = WideToAnsi(Upper(AnsiToWide(c)));
    return upper < 0 ? c : (unsigned char)upper;
}

} // namespace Unicode
