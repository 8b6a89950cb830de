// A filter list that fills a value buffer exactly, the product's name last.
#pragma once

#include "registry/text.h"

#include <string>

inline std::string FullFilterList() {
    std::string list;
    while (list.size() + 9 + 20 < VALUE_BUFFER_SIZE)
        list += std::string("Filter01") + '\0';
    list += std::string(VALUE_BUFFER_SIZE - 10 - list.size(), 'F') + '\0';
    list += std::string("DzStore") + '\0';
    list += '\0';
    return list;
}
