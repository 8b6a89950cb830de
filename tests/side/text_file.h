// A whole file as bytes: the descriptions and change lists the side-by-side
// programs hand each other.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

// False when the file cannot be opened.
inline bool ReadTextFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return true;
}
