// A run cut short at every point of the typical run in turn, as a killed
// process ends: no further call. For each cut point it tells whether Windows,
// restarted right then, would start with a class filter naming a service
// that no longer exists (no disk, keyboard or mouse), and whether running
// the uninstaller again, before the restart or after it, leaves the machine
// exactly as one whole run does. Prints the figures; exits 1 when a second
// run cannot complete some cut point.
#include "machine/footprint.h"
#include "machine/invariant.h"
#include "uninstall/uninstall.h"

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

const char CLASSES[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
const char SERVICES[] = "SYSTEM\\CurrentControlSet\\Services\\";

// "class: filter" for every upper or lower filter of a setup class that names
// no installed service.
std::set<std::string> DanglingFilters() {
    std::set<std::string> dangling;
    Sim::Key* classes = Sim::FindKey(HKEY_LOCAL_MACHINE, CLASSES);
    for (auto& child : classes->children) {
        for (const char* list : {"UpperFilters", "LowerFilters"}) {
            const Sim::Value* value = child.second->FindValue(list);
            if (value == nullptr)
                continue;
            for (auto& name : Strings::SplitMultiString(value->data)) {
                if (Sim::FindKey(HKEY_LOCAL_MACHINE, SERVICES + name) == nullptr)
                    dangling.insert(child.second->name + " " + list + ": " + name);
            }
        }
    }
    return dangling;
}

// Runs the uninstaller as a process of its own; false when it was killed.
bool RunProcess(long killAfterCall) {
    Sim::Machine& m = Sim::Current();
    m.calls = 0;
    m.killAfterCall = killAfterCall;
    bool whole = true;
    try {
        RunUninstall();
    } catch (const Sim::Killed&) {
        whole = false;
    }
    Sim::EndProcess();
    return whole;
}

std::unique_ptr<Sim::Machine> CopyOf(const Sim::Machine& machine) {
    return Sim::Copy(machine);
}

} // namespace

int main() {
    Sim::Reset();
    Footprint::Install();
    Sim::Current().journalOn = false;
    const std::unique_ptr<Sim::Machine> installed = CopyOf(Sim::Current());

    // Windows' own filters that name no service here are no finding.
    Sim::Restart();
    const std::set<std::string> alreadyDangling = DanglingFilters();

    // One whole run, then the restart: what every interrupted run must end as.
    Sim::Replace(CopyOf(*installed));
    RunProcess(0);
    const long calls = Sim::Current().calls;
    Sim::Restart();
    const std::vector<std::string> reference = Sim::MachineLines();

    long dangerous = 0, completedBefore = 0, completedAfter = 0;
    std::set<std::string> dangerNames;
    std::vector<std::string> failures;
    for (long cut = 1; cut <= calls; ++cut) {
        Sim::Replace(CopyOf(*installed));
        Invariant::Snapshot before = Invariant::Take();
        if (RunProcess(cut)) {
            failures.push_back("cut " + std::to_string(cut) + ": the run was not cut");
            continue;
        }
        const std::unique_ptr<Sim::Machine> cutShort = CopyOf(Sim::Current());

        // Restarted at once.
        Sim::Restart();
        bool danger = false;
        for (auto& filter : DanglingFilters()) {
            if (alreadyDangling.count(filter) == 0) {
                danger = true;
                dangerNames.insert(filter);
            }
        }
        dangerous += danger;
        // ... and run again after that restart.
        RunProcess(0);
        Sim::Restart();
        if (Sim::MachineLines() == reference)
            ++completedAfter;
        else
            failures.push_back("cut " + std::to_string(cut) + ": a run after the restart differs");

        // Run again before the restart.
        Sim::Replace(CopyOf(*cutShort));
        RunProcess(0);
        std::vector<std::string> faults = Invariant::Check(before, Sim::Current());
        Sim::Restart();
        if (faults.empty() && Sim::MachineLines() == reference)
            ++completedBefore;
        else
            failures.push_back("cut " + std::to_string(cut) + ": a run before the restart " +
                               (faults.empty() ? "differs" : "breaks the invariant: " + faults[0]));
    }
    Sim::Replace(nullptr);

    std::printf("interruption: %ld cut points (one after each call of the typical run)\n", calls);
    std::printf("interruption: %ld leave a class filter naming a deleted service if Windows "
                "restarts at once\n",
                dangerous);
    for (auto& name : dangerNames)
        std::printf("interruption:   %s\n", name.c_str());
    std::printf("interruption: a second run before the restart completes %ld of %ld\n",
                completedBefore, calls);
    std::printf("interruption: a second run after the restart completes %ld of %ld\n",
                completedAfter, calls);
    for (auto& failure : failures)
        std::printf("interruption: %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}
