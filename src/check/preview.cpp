// The uninstaller run on the simulated Windows loaded with a described
// machine: the same RunUninstall, steps and catalogue as the real program.
#include "explain.h"

#include "../simulated/load.h"
#include "../platform/sim/machine.h"
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
Watch* watching;

Machine Observed(const std::string& folder) {
    Sim::Machine& m = Sim::Current();
    bool journalOn = m.journalOn;
    m.journalOn = false;
    Machine now = Description::Describe(folder);
    Sim::Observe(&now);
    m.journalOn = journalOn;
    return now;
}

void AfterStep(int step) {
    Machine now = Observed(watching->folder);
    std::vector<Sim::Outcome>& outcomes = Sim::Current().outcomes;
    watching->record.resize((size_t)step + 1);
    StepRecord& done = watching->record[(size_t)step];
    done.changes = Description::Changes(watching->last, now);
    done.outcomes.assign(outcomes.begin() + (long)watching->outcomesSeen, outcomes.end());
    watching->outcomesSeen = outcomes.size();
    watching->last = std::move(now);
}

} // namespace

Preview PreviewRun(const Machine& machine) {
    std::unique_ptr<Sim::Machine> saved = Sim::Exchange(nullptr);
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
    watching = &watch;
    preview.result = RunUninstall(AfterStep);
    watching = nullptr;
    preview.changes = Description::Changes(before, watch.last);
    Explain(machine, watch.record, watch.last, &preview);
    Sim::Replace(std::move(saved));
    return preview;
}

} // namespace Check
