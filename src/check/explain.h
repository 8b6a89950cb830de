// What a preview run shows: its steps in the uninstaller's order, and what
// it would not do.
#pragma once

#include "check.h"

#include "../platform/sim/machine.h"

namespace Check {

// What one step of the run did: what it changed on the machine, and what
// the calls it made returned.
struct StepRecord {
    std::vector<Description::Change> changes;
    std::vector<Sim::Outcome> outcomes;
};

// Fills `preview`'s steps, notes and status from the machine as read, the
// record of each step that ran (by its index in the uninstaller's table),
// and the machine after the run (its changes already in `preview`).
void Explain(const Description::Machine& machine, const std::vector<StepRecord>& record,
             const Description::Machine& after, Preview* preview);

} // namespace Check
