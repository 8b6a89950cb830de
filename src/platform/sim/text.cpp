// Text as Windows keeps it: Unicode inside, the ANSI code page (Windows-1252)
// at the A functions. Registry names and strings are held here as UTF-8.
#include "internal.h"

namespace Sim {

// Windows-1252 for the bytes 0x80-0x9F; the rest of the code page is Latin-1.
// The five bytes the code page leaves undefined map to the C1 controls and
// back, as Windows' table does, so every byte survives a round trip.
static const char16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t AnsiToWide(unsigned char c) {
    return c >= 0x80 && c <= 0x9F ? CP1252_HIGH[c - 0x80] : (char16_t)c;
}

int WideToAnsi(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return (int)c;
    for (int i = 0; i < 32; ++i) {
        if (CP1252_HIGH[i] == c)
            return 0x80 + i;
    }
    return -1;
}

static void PutUtf8(char32_t c, std::string* out) {
    if (c < 0x80) {
        *out += (char)c;
    } else if (c < 0x800) {
        *out += (char)(0xC0 | (c >> 6));
        *out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += (char)(0xE0 | (c >> 12));
        *out += (char)(0x80 | ((c >> 6) & 0x3F));
        *out += (char)(0x80 | (c & 0x3F));
    } else {
        *out += (char)(0xF0 | (c >> 18));
        *out += (char)(0x80 | ((c >> 12) & 0x3F));
        *out += (char)(0x80 | ((c >> 6) & 0x3F));
        *out += (char)(0x80 | (c & 0x3F));
    }
}

// The text is always our own well-formed UTF-8.
char32_t NextChar(const std::string& text, size_t* at) {
    unsigned char c = (unsigned char)text[(*at)++];
    if (c < 0x80)
        return c;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    char32_t code = c & (0x3F >> more);
    while (more-- > 0 && *at < text.size())
        code = code << 6 | ((unsigned char)text[(*at)++] & 0x3F);
    return code;
}

static bool Ascii(const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if ((unsigned char)bytes[i] >= 0x80)
            return false;
    }
    return true;
}

std::string AnsiToText(const char* bytes, size_t size) {
    if (Ascii(bytes, size))
        return std::string(bytes, size);
    std::string text;
    for (size_t i = 0; i < size; ++i)
        PutUtf8(AnsiToWide((unsigned char)bytes[i]), &text);
    return text;
}

std::string AnsiToText(const std::string& ansi) {
    return AnsiToText(ansi.data(), ansi.size());
}

// A character the code page cannot carry becomes '?', the code page's
// default character. Windows first tries a best fit (A for an A with macron).
std::string TextToAnsi(const std::string& text) {
    if (Ascii(text.data(), text.size()))
        return text;
    std::string ansi;
    for (size_t at = 0; at < text.size();) {
        int c = WideToAnsi(NextChar(text, &at));
        ansi += c < 0 ? '?' : (char)c;
    }
    return ansi;
}

std::string WideToText(const char16_t* wide, size_t units) {
    std::string text;
    for (size_t i = 0; i < units; ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        PutUtf8(c, &text);
    }
    return text;
}

std::u16string TextToWide(const std::string& text) {
    std::u16string wide;
    for (size_t at = 0; at < text.size();) {
        char32_t c = NextChar(text, &at);
        if (c >= 0x10000) {
            wide += (char16_t)(0xD800 + ((c - 0x10000) >> 10));
            c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        wide += (char16_t)c;
    }
    return wide;
}

// Simple upper case of the letters of Latin-1, Latin Extended-A, Greek and
// Cyrillic; other scripts are left as they are.
char32_t Upcase(char32_t c) {
    if (c < 0x80)
        return c >= 'a' && c <= 'z' ? c - 0x20 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x131)
            return 'I';
        if (c == 0x17F)
            return 'S';
        bool oddLower = (c < 0x138) || (c >= 0x14A && c < 0x178);
        bool evenLower = (c >= 0x139 && c < 0x149) || (c >= 0x179 && c < 0x17F);
        if (oddLower && (c & 1))
            return c - 1;
        if (evenLower && !(c & 1))
            return c - 1;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return c - 0x20;
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x430 && c <= 0x44F)
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    return c;
}

// Registry names compare as the registry does: code point by code point
// after simple upper-casing, no linguistic rules.
int CompareNames(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t x = Upcase(NextChar(a, &i)), y = Upcase(NextChar(b, &j));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

bool NameOrder::operator()(const std::string& a, const std::string& b) const {
    return CompareNames(a, b) < 0;
}

// The letter a character of the code page sorts as, before its diacritic
// counts: A for any of À-Å, and so on. 0 where the character is its own.
static char32_t BaseLetter(char32_t upper) {
    static const char LATIN1[] = "AAAAAA\0CEEEEIIII\0NOOOOO\0OUUUUY";
    if (upper >= 0xC0 && upper <= 0xDD)
        return (unsigned char)LATIN1[upper - 0xC0];
    switch (upper) {
    case 0x160:
        return 'S';
    case 0x17D:
        return 'Z';
    case 0x178:
        return 'Y';
    }
    return 0;
}

// Primary weights (letters without case or diacritics, ligatures spelt
// out, soft hyphens dropped) decide first; then the diacritics.
static void Weigh(char32_t c, std::u32string* primary, std::u32string* secondary) {
    if (c == 0xAD)
        return;
    char32_t upper = Upcase(c);
    const char* spelt = upper == 0xDF ? "SS" : upper == 0xC6 ? "AE" : upper == 0x152 ? "OE" : "";
    if (*spelt != 0) {
        for (; *spelt != 0; ++spelt) {
            *primary += (char32_t)*spelt;
            *secondary += (char32_t)0;
        }
        return;
    }
    char32_t base = BaseLetter(upper);
    *primary += base != 0 ? base : upper;
    *secondary += base != 0 ? upper : 0;
}

int CompareLinguistic(const std::u32string& a, const std::u32string& b) {
    std::u32string primary[2], secondary[2];
    for (char32_t c : a)
        Weigh(c, &primary[0], &secondary[0]);
    for (char32_t c : b)
        Weigh(c, &primary[1], &secondary[1]);
    int order = primary[0].compare(primary[1]);
    if (order == 0)
        order = secondary[0].compare(secondary[1]);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

} // namespace Sim
