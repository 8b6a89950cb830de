#include "check_support.h"

#include "check/check.h"
#include "check/judge.h"
#include "platform/sim/machine.h"
#include "simulated/load.h"
#include "uninstall/uninstall.h"

#include <algorithm>
#include <functional>
#include <set>

namespace CheckSupport {

std::vector<std::string> PreviewAgainstRun() {
    std::string why;
    Description::Machine snapshot;
    Description::Read(Description::Write(Description::Describe()), &snapshot, &why);
    Check::Preview preview = Check::PreviewRun(snapshot);
    Description::Machine before = Description::Describe();
    Sim::Observe(&before);
    RunUninstall();
    Description::Machine after = Description::Describe(before.productFolder);
    Sim::Observe(&after);
    std::vector<Description::Change> run = Description::Changes(before, after);
    std::vector<std::string> differences;
    auto line = [](const Description::Change& c) {
        return Description::KindName(c.kind) + (" " + Description::PlaceText(c)) + " [" +
               Description::BeforeText(c) + "] -> [" + Description::AfterText(c) + "]";
    };
    for (const auto& c : preview.changes)
        if (std::find(run.begin(), run.end(), c) == run.end())
            differences.push_back("preview only: " + line(c));
    for (const auto& c : run)
        if (std::find(preview.changes.begin(), preview.changes.end(), c) == preview.changes.end())
            differences.push_back("run only: " + line(c));
    if (differences.empty() && preview.changes.size() != run.size())
        differences.push_back("the same changes, but not as many");

    // The next boot: what the preview foresees of the machine the run
    // leaves is what verify's judge finds on the machine the run left.
    std::vector<std::string> foreseen, found;
    const std::string told = "after the run: ";
    for (const Check::Finding& f : preview.notDone) {
        if (f.status != Check::CLEAN)
            foreseen.push_back(
                std::to_string(f.status) + " " + f.kind() + " " + f.where + ": " +
                (f.detail.rfind(told, 0) == 0 ? f.detail.substr(told.size()) : f.detail));
    }
    for (const Check::Finding& f : Check::JudgeBoot(after)) {
        if (f.status != Check::CLEAN)
            found.push_back(std::to_string(f.status) + " " + f.kind() + " " + f.where + ": " +
                            f.detail);
    }
    for (const std::string& f : foreseen)
        if (std::find(found.begin(), found.end(), f) == found.end())
            differences.push_back("boot, preview only: " + f);
    for (const std::string& f : found)
        if (std::find(foreseen.begin(), foreseen.end(), f) == foreseen.end())
            differences.push_back("boot, verify only: " + f);
    if (foreseen.size() != found.size() && differences.empty())
        differences.push_back("the same boot findings, but not as many");
    return differences;
}

std::vector<std::string> TakeOutUnforeseeable() {
    std::vector<std::string> taken;
    Sim::Machine& m = Sim::Current();
    auto take = [&](bool present, const char* what) {
        if (present)
            taken.push_back(what);
    };
    take(m.failCall != 0 || m.consoleFails || m.heapFailsAfter >= 0, "an injected failure");
    m.failCall = 0;
    m.consoleFails = false;
    m.heapFailsAfter = -1;
    take(!m.administrator || !m.shutdownRight, "a user who is not an administrator");
    m.administrator = m.shutdownRight = true;
    // The reader asks whether the keys of the product's trees may be
    // deleted; any other key's refusal it cannot foresee.
    std::set<const Sim::Key*> trees;
    for (const std::string& tree : Description::DeletedTrees()) {
        HKEY root;
        std::string below = Description::RootPath(tree, &root);
        if (const Sim::Key* key = Sim::FindKey(root, below))
            trees.insert(key);
    }
    bool refusing = false;
    std::function<void(Sim::Key&, bool)> walk = [&](Sim::Key& key, bool foreseen) {
        foreseen = foreseen || trees.count(&key) != 0;
        refusing = refusing || (key.refuseDelete && !foreseen);
        key.refuseDelete = key.refuseDelete && foreseen;
        for (auto& child : key.children)
            walk(*child.second, foreseen);
    };
    walk(*m.machineRoot, false);
    take(refusing, "a key that refuses deletion outside the product's trees");
    bool refuses = false;
    for (Sim::Device& device : m.devices) {
        refuses = refuses || device.refuseRemoval;
        device.refuseRemoval = false;
    }
    take(refuses, "a device that refuses removal");
    return taken;
}

} // namespace CheckSupport
