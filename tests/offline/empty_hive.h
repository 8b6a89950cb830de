// An empty registry hive made from the published format, for the offline
// tests: hivex can fill a hive but not make one, and no tool of the build
// machine makes an empty one either.
#pragma once

#include <string>
#include <vector>

namespace OfflineSupport {

// A hive of 8192 bytes: the base block ("regf", clean: both sequence numbers
// 1, version 1.3, its checksum), then one bin holding the root key "ROOT"
// without subkeys or values, the one security cell every key shares (hivex
// gives a new key its parent's), and the rest of the bin free.
std::vector<unsigned char> EmptyHive();

// EmptyHive written to `path`; false when it cannot be written.
bool WriteEmptyHive(const std::string& path);

} // namespace OfflineSupport
