// What of a described machine is the product's, as the uninstaller tells
// it: its services, its devices, the keys it deletes; read by the judge,
// verify and the preview alike.
#pragma once

#include "check.h"

namespace Check {

// The product's services a filter list names, by the list's UTF-16 or
// ANSI bytes.
std::vector<std::string> WideEntries(const std::vector<BYTE>& wide);
std::vector<std::string> AnsiEntries(const std::vector<BYTE>& data);
bool IsProductService(const std::string& name);
// Whether the uninstaller removes the device (when present): its first
// hardware ID is the product's, within what the uninstaller reads of them.
// `longIds` tells of a device whose first ID is the product's but whose IDs
// are longer than that.
bool IsProductDevice(const Description::Device& device, bool* longIds = nullptr);
// The first key of the product's tree `tree` whose security refuses the
// rights the uninstaller deletes a key with, or "" when none does: every
// run leaves that key and the keys above it. What a person does about it.
std::string UndeletableKey(const Description::Machine& machine, const std::string& tree);
extern const char TAKE_OWNERSHIP[];
// A setup class by its name ("Keyboard") where the class key gives one.
std::string ClassName(const Description::Machine& machine, const std::string& classGuid);
using Description::SameText;
using Description::Upper;

} // namespace Check
