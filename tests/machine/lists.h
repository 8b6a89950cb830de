// A filter list that fills a list buffer exactly, the product's name last:
// as many characters as the ANSI value buffer held.
#pragma once

#include "registry/text.h"

#include <string>

inline std::u16string FullFilterList() {
    const size_t units = LIST_BUFFER_SIZE / sizeof(WCHAR);
    std::u16string list;
    while (list.size() + 9 + 20 < units)
        list += std::u16string(u"Filter01") + u'\0';
    list += std::u16string(units - 10 - list.size(), u'F') + u'\0';
    list += std::u16string(u"DzStore") + u'\0';
    list += u'\0';
    return list;
}
