// What a run of the uninstaller may change on a machine, whatever the
// machine holds: the product's footprint goes, a few of Windows' own values
// are rewritten as the steps say, and nothing else changes.
#pragma once

#include "platform/sim/machine.h"

#include <memory>
#include <string>
#include <vector>

namespace Invariant {

// The machine as it was: a copy of the whole simulated Windows.
struct Snapshot {
    std::unique_ptr<Sim::Machine> machine;
};

Snapshot Take();

// Every way in which `after` breaks the rules given `before`; empty when it keeps them.
std::vector<std::string> Check(const Snapshot& before, const Sim::Machine& after);

// Handles still open that should not be: all but the service control
// manager's (at most one) and the console's.
std::vector<std::string> Leaks();

} // namespace Invariant
