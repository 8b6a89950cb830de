// The uninstaller run on the simulated Windows loaded with a described
// machine: the same RunUninstall, steps and catalogue as the real program.
#include "explain.h"

#include "../platform/sim/load.h"
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

} // namespace

Preview PreviewRun(const Machine& machine) {
    std::unique_ptr<Sim::Machine> saved = Sim::Exchange(nullptr);
    Sim::Load(machine);
    Sim::Machine& m = Sim::Current();
    Preview preview;
    // What the run's controls and servers do is observed on the simulated
    // machine, as on any machine the uninstaller runs on in a test.
    Machine before = Description::Describe(machine.productFolder);
    Sim::Observe(&before);
    size_t start = m.journal.size();
    preview.result = RunUninstall();
    std::vector<std::string> journal(m.journal.begin() + start, m.journal.end());
    std::vector<std::string> unregistered = m.unregistered;
    Machine after = Description::Describe(before.productFolder);
    Sim::Observe(&after);
    preview.changes = Description::Changes(before, after);
    Explain(machine, journal, unregistered, after, &preview);
    Sim::Replace(std::move(saved));
    return preview;
}

} // namespace Check
