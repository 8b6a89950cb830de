// Runs the uninstaller on a simulated Windows XP with the product installed
// and shows what it printed and what changed on the machine, then what is
// left after the restart it asked for.
#include "check/check.h"
#include "machine/footprint.h"
#include "platform/sim/machine.h"
#include "uninstall/uninstall.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// A line of the machine's description names a thing, then (after " = ") its state.
std::string Identity(const std::string& line) {
    size_t at = line.find(" = ");
    if (line.compare(0, 8, "service ") == 0)
        at = line.find(' ', 8);
    return at == std::string::npos ? line : line.substr(0, at);
}

// Long list values are shown an entry a line.
std::string Wrapped(const std::string& line) {
    if (line.size() < 200)
        return line;
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        out += line[i];
        if (line.compare(i, 2, "\\0") == 0 && line.compare(i + 2, 2, "\\0") != 0 &&
            i + 3 < line.size()) {
            out += "0\n          ";
            ++i;
        }
    }
    return out;
}

// True when `identity` lies inside a key, or belongs to a service, already shown as removed.
bool Inside(const std::string& identity, const std::vector<std::string>& removed) {
    for (auto& outer : removed) {
        std::string path = outer.substr(outer.find(' ') + 1);
        std::string own = identity.substr(identity.find(' ') + 1);
        if (own.size() > path.size() && own.compare(0, path.size(), path) == 0 &&
            (own[path.size()] == '\\' || own[path.size()] == ' '))
            return true;
    }
    return false;
}

void ShowChanges(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    std::map<std::string, std::string> was, now;
    for (auto& line : before)
        was[Identity(line)] = line;
    for (auto& line : after)
        now[Identity(line)] = line;
    std::vector<std::string> removedKeys;
    int changes = 0;
    for (auto& entry : was) {
        auto found = now.find(entry.first);
        if (found == now.end()) {
            ++changes;
            if (Inside(entry.first, removedKeys))
                continue;
            if (entry.first.compare(0, 4, "key ") == 0)
                removedKeys.push_back(entry.first);
            std::printf("  - %s\n", Wrapped(entry.second).c_str());
        } else if (found->second != entry.second) {
            std::printf("  ~ %s\n      now %s\n", Wrapped(entry.second).c_str(),
                        Wrapped(found->second).c_str());
            ++changes;
        }
    }
    for (auto& entry : now) {
        if (was.count(entry.first) == 0) {
            std::printf("  + %s\n", Wrapped(entry.second).c_str());
            ++changes;
        }
    }
    std::printf("  (%d changes; what lies below a removed key is not listed)\n", changes);
}

// VkCheck on the simulated machine, as an administrator would run it on a real one.
int RunCheck(const char* verb) {
    std::printf("\n== VkCheck %s\n", verb);
    std::fflush(stdout);
    char program[] = "VkCheck";
    char word[16];
    std::snprintf(word, sizeof word, "%s", verb);
    char* argv[] = {program, word};
    int status = Check::Main(
        2, argv, [](const std::string& folder, Description::Machine* machine, std::string*) {
            *machine = Description::Describe(folder);
            return true;
        });
    std::printf("(VkCheck %s exits with %d)\n", verb, status);
    std::fflush(stdout);
    return status;
}

} // namespace

int main() {
    Sim::Reset();
    std::vector<std::string> fresh = Sim::MachineLines();
    Footprint::Install();
    std::vector<std::string> installed = Sim::MachineLines();

    RunCheck("preview");
    Sim::Current().journal.clear();

    std::printf("\n== A simulated Windows XP with Tallowin installed; VkUninst.exe runs\n\n");
    int status = RunUninstall();
    Sim::Machine& m = Sim::Current();
    std::printf("Console:\n  %s", m.consoleText.c_str());
    std::printf("Exit status: %d\n", status);
    std::printf("Restart requested: %s\n\n", m.restartRequests.empty() ? "no" : "yes");
    std::printf("COM servers unregistered:\n");
    for (auto& path : m.unregistered)
        std::printf("  %s\n", path.c_str());

    std::vector<std::string> afterRun = Sim::MachineLines();
    std::printf("\n== What the run changed\n");
    ShowChanges(installed, afterRun);

    Sim::Restart();
    std::printf("\n== After the restart, compared with the same Windows before the product\n");
    ShowChanges(fresh, Sim::MachineLines());
    RunCheck("verify");
    return 0;
}
