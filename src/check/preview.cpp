// The uninstaller run on the simulated Windows loaded with a described
// machine: the same RunUninstall, steps and catalogue as the real program.
#include "explain.h"

#include "../platform/sim/machine.h"
#include "../simulated/load.h"
#include "../steps/steps.h"
#include "../uninstall/uninstall.h"

#include <cstdio>
#include <map>
#include <set>

namespace Check {

namespace {

using Description::Change;
using Description::Machine;

// The run being watched: the machine after the last step that ran, and
// what each step did.
struct Watch {
    std::string folder;
    Machine last;
    size_t outcomesSeen = 0;
    std::vector<StepRecord> record;
};

Machine Observed(const std::string& folder) {
    Sim::Machine& m = Sim::Current();
    bool journalOn = m.journalOn;
    m.journalOn = false;
    Machine now = Description::Describe(folder);
    Sim::Observe(&now);
    m.journalOn = journalOn;
    return now;
}

void AfterStep(int step, void* context) {
    Watch* watch = static_cast<Watch*>(context);
    Machine now = Observed(watch->folder);
    std::vector<Sim::Outcome>& outcomes = Sim::Current().outcomes;
    watch->record.resize((size_t)step + 1);
    StepRecord& done = watch->record[(size_t)step];
    done.changes = Description::Changes(watch->last, now);
    done.outcomes.assign(outcomes.begin() + (long)watch->outcomesSeen, outcomes.end());
    watch->outcomesSeen = outcomes.size();
    watch->last = std::move(now);
}

} // namespace

Preview PreviewRun(const Machine& machine) {
    Sim::ExchangeGuard saved;
    Sim::Load(machine);
    Preview preview;
    // What the run's controls and servers do is observed on the simulated
    // machine, as on any machine the uninstaller runs on in a test; the
    // machine is described again after each step, so that each change is
    // told under the step that made it.
    Machine before = Observed(machine.productFolder);
    Watch watch;
    watch.folder = before.productFolder;
    watch.last = before;
    watch.outcomesSeen = Sim::Current().outcomes.size();
    preview.result = RunUninstall(AfterStep, &watch);
    preview.changes = Description::Changes(before, watch.last);
    Explain(machine, watch.record, watch.last, &preview);
    return preview;
}

} // namespace Check
