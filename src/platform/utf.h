// Unicode text between its three forms here: UTF-8 (how the programs around
// the uninstaller hold names and the simulated Windows its registry), UTF-16
// (what Windows' W functions and the registry hold) and UTF-16LE bytes (a
// string value's data, a device's list property). Windows never checks that
// UTF-16 is well formed: a lone surrogate is a name like any other.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Unicode {

constexpr char32_t REPLACEMENT = 0xFFFD;

constexpr bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c < 0xDC00;
}
constexpr bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c < 0xE000;
}

// The character at `wide[*at]`, `*at` moved past it: a surrogate pair
// joined, a lone surrogate as itself.
inline char32_t NextWide(const char16_t* wide, size_t units, size_t* at) {
    char32_t c = wide[(*at)++];
    if (IsHighSurrogate(c) && *at < units && IsLowSurrogate(wide[*at]))
        return 0x10000 + ((c - 0xD800) << 10) + (wide[(*at)++] - 0xDC00);
    return c;
}

// The character at `text[*at]` of UTF-8 text, `*at` moved past it. A byte
// that starts no whole sequence is U+FFFD and goes alone. A surrogate's
// three bytes give the surrogate (as Wtf8 writes it); overlong forms are
// not refused.
inline char32_t NextUtf8(const std::string& text, size_t* at) {
    unsigned char b = (unsigned char)text[*at];
    int more = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    char32_t c = more == 3 ? b & 7 : more == 2 ? b & 15 : more == 1 ? b & 31 : b;
    bool good = more >= 0 && *at + (size_t)more < text.size();
    for (int k = 1; good && k <= more; ++k) {
        unsigned char next = (unsigned char)text[*at + (size_t)k];
        good = (next & 0xC0) == 0x80;
        c = c << 6 | (next & 0x3F);
    }
    if (!good) {
        ++*at;
        return REPLACEMENT;
    }
    *at += (size_t)more + 1;
    return c;
}

inline void AppendUtf8(char32_t c, std::string* out) {
    if (c < 0x80) {
        *out += (char)c;
    } else if (c < 0x800) {
        *out += (char)(0xC0 | c >> 6);
        *out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += (char)(0xE0 | c >> 12);
        *out += (char)(0x80 | (c >> 6 & 0x3F));
        *out += (char)(0x80 | (c & 0x3F));
    } else {
        *out += (char)(0xF0 | c >> 18);
        *out += (char)(0x80 | (c >> 12 & 0x3F));
        *out += (char)(0x80 | (c >> 6 & 0x3F));
        *out += (char)(0x80 | (c & 0x3F));
    }
}

inline void AppendUtf16(char32_t c, std::u16string* out) {
    if (c >= 0x10000) {
        *out += (char16_t)(0xD800 + ((c - 0x10000) >> 10));
        *out += (char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        *out += (char16_t)c;
    }
}

// UTF-16 as well-formed UTF-8: a lone surrogate becomes U+FFFD.
inline std::string Utf8(const char16_t* wide, size_t units) {
    std::string text;
    for (size_t at = 0; at < units;) {
        char32_t c = NextWide(wide, units, &at);
        AppendUtf8(IsHighSurrogate(c) || IsLowSurrogate(c) ? REPLACEMENT : c, &text);
    }
    return text;
}
inline std::string Utf8(const std::u16string& wide) {
    return Utf8(wide.data(), wide.size());
}

// UTF-16 as UTF-8 that keeps a lone surrogate as its own three bytes (the
// form known as WTF-8): Utf16 gives back every UTF-16 string, well formed
// or not, as it was. The simulated registry holds its names this way.
inline std::string Wtf8(const char16_t* wide, size_t units) {
    std::string text;
    for (size_t at = 0; at < units;)
        AppendUtf8(NextWide(wide, units, &at), &text);
    return text;
}

// UTF-8 (or WTF-8) as UTF-16; see NextUtf8 for what is not well formed.
inline std::u16string Utf16(const std::string& text) {
    std::u16string wide;
    for (size_t at = 0; at < text.size();)
        AppendUtf16(NextUtf8(text, &at), &wide);
    return wide;
}

// UTF-16LE bytes as UTF-16 units, low byte first; an odd last byte is no unit.
inline std::u16string FromLittleEndian(const unsigned char* bytes, size_t size) {
    std::u16string wide(size / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = (char16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return wide;
}
inline std::u16string FromLittleEndian(const std::vector<unsigned char>& bytes) {
    return FromLittleEndian(bytes.data(), bytes.size());
}

inline std::vector<unsigned char> LittleEndian(const std::u16string& wide) {
    std::vector<unsigned char> bytes;
    bytes.reserve(2 * wide.size());
    for (char16_t unit : wide)
        bytes.insert(bytes.end(), {(unsigned char)unit, (unsigned char)(unit >> 8)});
    return bytes;
}

} // namespace Unicode
