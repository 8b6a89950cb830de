// The product as its installer leaves it on a machine: one description, made
// into the simulated Windows by the one loader.
#pragma once

#include "description/description.h"

#include <string>
#include <vector>

namespace Footprint {

extern const char PRODUCT_FOLDER[]; // "C:\Program Files\Tallowin\"

// Which parts to lay down, one bit an entry of each table; all by default.
struct Parts {
    unsigned long registry = ~0ul; // the registry entries, in table order
    unsigned long services = ~0ul; // the 18 services; bit 18: TermService as the product changes it
    unsigned long devices = ~0ul;  // the product-like devices
    bool files = true;             // the product folder and its files
    unsigned groups = 3;           // bit 0: the user's Start-menu group, bit 1: all users'
};

// The installed machine: a fresh Windows as the reader gives it, with the
// parts' entries of the product's tables.
Description::Machine Installed(const Parts& parts = Parts());

// Makes the current simulated machine the installed one, then clears the
// journal, the handle numbers and the count of failable calls, so that a
// test sees only what the uninstaller does.
void Install(const Parts& parts = Parts());

// The product's files that exist on the installed machine (full paths).
std::vector<std::string> InstalledFiles();

// Instance IDs of the installed devices: those the uninstaller must remove,
// and the product-like ones it must leave.
extern const char* const REMOVED_DEVICES[];
extern const int REMOVED_DEVICE_COUNT;
extern const char* const KEPT_DEVICES[];
extern const int KEPT_DEVICE_COUNT;

// The service that refuses to stop.
extern const char STUBBORN_SERVICE[];

// The server that imports another of the product's libraries, which lies
// only beside it in the product folder.
extern const char IMPORTING_SERVER[];
extern const char SERVER_IMPORT[];

} // namespace Footprint
