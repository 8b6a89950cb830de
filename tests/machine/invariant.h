// What a run of the uninstaller may change on a machine, whatever the
// machine holds: the product's footprint goes, a few of Windows' own values
// are rewritten as the steps say, and nothing else changes.
#pragma once

#include "platform/sim/machine.h"

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace Invariant {

struct Snapshot {
    struct KeyState {
        std::string path; // as stored, "HKLM\..."
        std::map<std::string, Sim::Value, Sim::NoCase> values;
    };
    // By the key path in upper case.
    std::unordered_map<std::string, KeyState> keys;
    std::map<std::string, Sim::Service, Sim::NoCase> services;
    std::map<std::string, Sim::Device, Sim::NoCase> devices;
    std::set<std::string, Sim::NoCase> files; // folders end in a backslash
    std::string programs, commonPrograms;
};

Snapshot Take();

// Every way in which `after` breaks the rules given `before`; empty when it keeps them.
std::vector<std::string> Check(const Snapshot& before, const Snapshot& after);

// Handles still open that should not be: all but the service control
// manager's (at most one) and the console's.
std::vector<std::string> Leaks();

} // namespace Invariant
