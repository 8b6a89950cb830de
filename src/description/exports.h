// Whether a library exports a function, and which libraries it imports,
// read from its file's export and import tables without loading it: loading
// runs the library's own code, which a reader of a machine must not.
#pragma once

#include "description.h"

#include <string>
#include <vector>

namespace Description {

// Whether the PE image `image` (a file's bytes, PE32 or PE32+) names `name`
// in its export table. False when the bytes are no image this reads: not a
// PE file, or headers and tables that point outside the bytes.
bool ExportsName(const std::vector<BYTE>& image, const char* name, bool* exported);

// The file names of the libraries the PE image `image` (PE32 or PE32+)
// imports, in the order of its import table. False when the bytes are no
// image this reads, or a name does not end within its section and MAX_PATH.
bool ImportedNames(const std::vector<BYTE>& image, std::vector<std::string>* names);

// A library file by its export of DllUnregisterServer, read through `win`
// with read rights only: Unregisters or NoExport, or None when the file
// cannot be read, is over 64 MiB, or is no PE image whose export and import
// tables this reads. `imports`, when given, receives the names of the
// libraries it imports (none for None).
Library ReadLibrary(const Calls& win, const std::string& path,
                    std::vector<std::string>* imports = nullptr);
// The same through the realization this program is built against.
Library ReadLibrary(const std::string& path, std::vector<std::string>* imports = nullptr);

} // namespace Description
