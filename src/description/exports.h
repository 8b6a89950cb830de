// Whether a library exports a function, read from its file's export table
// without loading it: loading runs the library's own code, which a reader of
// a machine must not.
#pragma once

#include "description.h"

#include <string>
#include <vector>

namespace Description {

// Built with each reader (see description.h).
inline namespace VK_READER {

// Whether the PE image `image` (a file's bytes, PE32 or PE32+) names `name`
// in its export table. False when the bytes are no image this reads: not a
// PE file, or headers and tables that point outside the bytes.
bool ExportsName(const std::vector<BYTE>& image, const char* name, bool* exported);

// A library file by its export of DllUnregisterServer, read through the
// platform boundary with read rights only: Unregisters or NoExport, or None
// when the file cannot be read, is over 64 MiB, or is no PE image.
Library ReadLibrary(const std::string& path);

} // namespace VK_READER

} // namespace Description
