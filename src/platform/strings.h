// Windows' strings as the programs around the uninstaller read them (the
// simulated Windows, the description of a machine, VkCheck), with the
// standard library: names compared without case, multi-strings split and
// joined. The uninstaller keeps its own, without a C runtime
// (src/registry/multistring.cpp).
#pragma once

#include "unicode.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Strings {

// A byte of a name in the ANSI code page, upper-cased as the registry and the
// service manager compare names: ordinally, through the byte's Unicode
// character and Windows' case table (unicode.h), no linguistic rules. So ÿ,
// š, œ and ž fold to Ÿ, Š, Œ and Ž; µ and ß, whose upper case the code page
// lacks, stay themselves.
constexpr unsigned char UpperByte(unsigned char c) {
    return Unicode::UpperAnsi(c);
}

// UpperByte of every byte, looked up: names are compared often (every map
// keyed by a name), in unoptimised builds too.
struct UpperTable {
    unsigned char of[256];
};
constexpr UpperTable MakeUpperTable() {
    UpperTable table{};
    for (int c = 0; c < 256; ++c)
        table.of[c] = UpperByte((unsigned char)c);
    return table;
}
inline constexpr UpperTable UPPER = MakeUpperTable();

inline std::string Upper(std::string text) {
    for (char& c : text)
        c = (char)UPPER.of[(unsigned char)c];
    return text;
}

inline bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    const unsigned char* x = (const unsigned char*)a.data();
    const unsigned char* y = (const unsigned char*)b.data();
    for (size_t i = 0; i < a.size(); ++i) {
        if (UPPER.of[x[i]] != UPPER.of[y[i]])
            return false;
    }
    return true;
}

// Orders names as SameName compares them, for maps and sets keyed by name.
struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const {
        size_t n = a.size() < b.size() ? a.size() : b.size();
        const unsigned char* x = (const unsigned char*)a.data();
        const unsigned char* y = (const unsigned char*)b.data();
        for (size_t i = 0; i < n; ++i) {
            if (UPPER.of[x[i]] != UPPER.of[y[i]])
                return UPPER.of[x[i]] < UPPER.of[y[i]];
        }
        return a.size() < b.size();
    }
};

// How a multi-string (REG_MULTI_SZ: NUL-ended entries, then one more NUL) is
// split; the rules combine. By default its units are bytes (ANSI), the first
// empty entry ends the list, and an entry the data ends within counts, as
// Windows' readers of a list take a value stored without its last NULs.
using SplitRules = unsigned;
// UTF-16 units, two bytes each, low byte first: a unit ends an entry only when
// both its bytes are 0 (U+4E00 is "00 4E"). Each unit is given as the ANSI
// code page (Windows-1252) carries it as the same byte, ASCII and U+00A0 to
// U+00FF, anything else as '?'. An odd last byte is no unit.
constexpr SplitRules UTF16 = 1;
// Every NUL ends an entry, an empty one too, and no entry ends the list:
// "PendingFileRenameOperations" pairs a path with an empty one.
constexpr SplitRules KEEP_EMPTY = 2;
// An entry the data ends within, before its NUL, is left out.
constexpr SplitRules ENDED_ONLY = 4;

inline std::vector<std::string> SplitMultiString(const unsigned char* data, size_t size,
                                                 SplitRules rules = 0) {
    const size_t width = (rules & UTF16) != 0 ? 2 : 1;
    std::vector<std::string> entries;
    std::string entry;
    for (size_t at = 0; at + width <= size; at += width) {
        unsigned unit = width == 1 ? data[at] : data[at] | (unsigned)data[at + 1] << 8;
        if (unit != 0) {
            bool same = unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF);
            entry += width == 1 || same ? (char)unit : '?';
            continue;
        }
        if (entry.empty() && (rules & KEEP_EMPTY) == 0)
            return entries; // the list's end
        entries.push_back(entry);
        entry.clear();
    }
    if (!entry.empty() && (rules & ENDED_ONLY) == 0)
        entries.push_back(entry);
    return entries;
}

inline std::vector<std::string> SplitMultiString(const std::vector<unsigned char>& data,
                                                 SplitRules rules = 0) {
    return SplitMultiString(data.data(), data.size(), rules);
}

// A multi-string of `entries`: each ended by a NUL, then one NUL more. In
// UTF-16 (`rules` UTF16) each byte of an entry is the unit of that number.
inline std::vector<unsigned char> JoinMultiString(const std::vector<std::string>& entries,
                                                  SplitRules rules = 0) {
    const bool wide = (rules & UTF16) != 0;
    std::vector<unsigned char> data;
    auto put = [&](unsigned char c) {
        data.push_back(c);
        if (wide)
            data.push_back(0);
    };
    for (const std::string& entry : entries) {
        for (char c : entry)
            put((unsigned char)c);
        put(0);
    }
    put(0);
    return data;
}

} // namespace Strings
