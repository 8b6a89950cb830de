// Compares the change lists the same machines gave on the simulated Windows
// and on Wine. Equal lists pass; a change in one list only is a difference,
// unless it is one of the known Wine differences below, each with why.
// The clean, installed and foreign machines must also boot after the run,
// as far as the run lets them (SOUND_AFTER).
#include "check/judge.h"
#include "description/description.h"
#include "side_run.h"
#include "text_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

struct Known {
    const char* kind; // the change record's kind
    const char* what; // a regular expression its subject matches
    const char* side; // "wine" or "sim": the only list it is in
    const char* why;
};

// Where Wine and the simulated Windows are known to part, and why.
const Known KNOWN[] = {
    {"value added", "\\\\Services\\\\TermService : Tag$", "sim",
     "Wine's ChangeServiceConfig ignores the tag it is asked for; Windows assigns the next tag "
     "of the group, returns it and writes it to the service's key"},
    {"value changed", "\\\\Services\\\\TermService : ImagePath$", "wine",
     "Wine's service manager writes ImagePath back as REG_SZ; Windows keeps it REG_EXPAND_SZ, "
     "the type every service key it installs holds"},
    {"value added", "\\\\Services\\\\[^\\\\]+ : DeleteFlag$", "sim",
     "Windows marks a service whose deletion waits for it to stop with DeleteFlag 1 in its key; "
     "Wine keeps the mark in its service manager only"},
};

struct Side {
    bool ran = false;
    std::string error;
    int result = 0;
    std::vector<Description::Change> changes;
    // Services still marked for deletion, their programs ended, when the runner gave up
    // waiting for them to go (side_run.h, Settle).
    std::vector<std::string> unsettled;
};

Side Load(const std::string& folder, const std::string& name) {
    Side side;
    std::string text;
    if (ReadTextFile(folder + "/" + name + ".error", &side.error))
        return side;
    if (!ReadTextFile(folder + "/" + name + ".changes.json", &text)) {
        side.error = "no result";
        return side;
    }
    std::string why;
    if (!Description::ReadChanges(text, &side.changes, &why)) {
        side.error = why;
        return side;
    }
    nlohmann::json whole = nlohmann::json::parse(text);
    side.result = whole.value("result", -1);
    side.unsettled = whole.value("unsettled", std::vector<std::string>());
    side.ran = true;
    return side;
}

const Known* Explained(const Description::Change& change, const char* side) {
    for (const Known& known : KNOWN) {
        if (known.kind[0] != 0 && std::string(Description::KindName(change.kind)) == known.kind &&
            std::string(side) == known.side &&
            std::regex_search(Description::PlaceText(change), std::regex(known.what)))
            return &known;
    }
    return nullptr;
}

// Two changes are the same when they differ at most in the case of the name
// they are about: Windows' names are without case, and the same setup class
// is "{4D36E967-...}" in one registry and "{4d36e967-...}" in another.
bool Same(const Description::Change& a, const Description::Change& b) {
    auto upper = [](std::string text) {
        for (char& c : text)
            c = (c >= 'a' && c <= 'z') ? (char)(c - 32) : c;
        return text;
    };
    return a.kind == b.kind && a.before == b.before && a.after == b.after &&
           a.valueBefore == b.valueBefore && a.valueAfter == b.valueAfter &&
           upper(a.what) == upper(b.what) && upper(a.value) == upper(b.value);
}

bool Holds(const std::vector<Description::Change>& changes, const Description::Change& change) {
    return std::any_of(changes.begin(), changes.end(),
                       [&](const Description::Change& other) { return Same(other, change); });
}

// One change on one line, long data cut short.
std::string Show(const Description::Change& change) {
    auto cut = [](const std::string& text) {
        return text.size() <= 120 ? text : text.substr(0, 120) + "...";
    };
    std::string text =
        Description::KindName(change.kind) + (": " + cut(Description::PlaceText(change)));
    std::string before = Description::BeforeText(change), after = Description::AfterText(change);
    if (!before.empty() || !after.empty())
        text += " [" + cut(before) + " -> " + cut(after) + "]";
    return text;
}

// The machines whose run leaves a machine that boots, and the one break the
// run truly leaves: the foreign machine's disk class names the product's
// DzStore among its lower filters, which the uninstaller leaves as they are
// (it takes the product's names out of upper filters alone) while it deletes
// the service. Each side's judge must find that break, and nothing else.
struct Boots {
    const char* machine;
    const char* finding; // "" when none: the where and detail of it, without case
};
const Boots SOUND_AFTER[] = {
    {"clean", ""},
    {"installed", ""},
    {"foreign", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-"
                "08002BE10318} : LowerFilters: names DzStore (no such service)"}};

std::vector<std::string> BootFindings(const std::string& folder, const std::string& name,
                                      bool* judged) {
    std::string text, why;
    *judged = false;
    Description::Machine after;
    // A side that holds no machine (the preview's changes alone) has none to judge.
    if (!ReadTextFile(folder + "/" + name + ".after.json", &text))
        return {};
    *judged = true;
    if (!Description::Read(text, &after, &why))
        return {"the machine after the run cannot be read: " + why};
    std::vector<std::string> lines;
    for (const Check::Finding& finding : Check::JudgeBoot(after)) {
        if (finding.status != Check::CLEAN)
            lines.push_back(finding.where + ": " + finding.detail);
    }
    return lines;
}

} // namespace

// The demonstration's report of one run: what it printed, its exit status,
// the servers it unregistered and every change, a line each.
int Show(const std::string& path, const std::string& consoleFile) {
    std::string text, console;
    Side side =
        Load(path.substr(0, path.rfind('/')),
             path.substr(path.rfind('/') + 1, path.rfind(".changes.json") - path.rfind('/') - 1));
    if (!side.ran) {
        std::printf("no run: %s\n", side.error.c_str());
        return 1;
    }
    if (!consoleFile.empty() && ReadTextFile(consoleFile, &console)) {
        console.erase(std::remove(console.begin(), console.end(), '\r'), console.end());
        // The terminal's own control sequences are not the program's text.
        console = std::regex_replace(console, std::regex("\x1b\\[[0-9;?]*[a-zA-Z]"), "");
        std::printf("Console:\n  %s", console.c_str());
    }
    std::printf("Exit status: %d\n\nCOM servers unregistered:\n", side.result);
    for (const auto& change : side.changes) {
        if (change.kind == Description::ChangeKind::ServerUnregistered)
            std::printf("  %s\n", change.what.c_str());
    }
    std::printf("\n== What the run changed\n");
    for (const auto& change : side.changes) {
        if (change.kind != Description::ChangeKind::ServerUnregistered)
            std::printf("  %s\n", Show(change).c_str());
    }
    std::printf("  (%d changes)\n", (int)side.changes.size());
    return 0;
}

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--show")
        return Show(argv[2], argc == 4 ? argv[3] : "");
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SIM-FOLDER WINE-FOLDER LIST\n", argv[0]);
        return 2;
    }
    std::string list;
    if (!ReadTextFile(argv[3], &list)) {
        std::fprintf(stderr, "cannot read %s\n", argv[3]);
        return 2;
    }
    int machines = 0, identical = 0, explained = 0, different = 0, notRun = 0;
    std::map<const Known*, int> used;
    std::stringstream lines(list);
    for (std::string path; std::getline(lines, path);) {
        if (path.empty())
            continue;
        ++machines;
        std::string name = path.substr(path.find_last_of('/') + 1);
        name = name.substr(0, name.rfind(".json"));
        Side sim = Load(argv[1], name);
        Side wine = Load(argv[2], name);
        if (!sim.ran || !wine.ran) {
            ++notRun;
            std::printf("%s: not run (simulator: %s; Wine: %s)\n", name.c_str(),
                        sim.ran ? "ran" : sim.error.c_str(), wine.ran ? "ran" : wine.error.c_str());
            continue;
        }
        std::vector<std::string> report;
        if (sim.result != wine.result)
            report.push_back("exit status " + std::to_string(sim.result) + " on the simulator, " +
                             std::to_string(wine.result) + " on Wine");
        bool anyExplained = false;
        auto keep = [&](const std::vector<Description::Change>& changes, const char* side) {
            std::vector<Description::Change> kept;
            for (const auto& change : changes) {
                const Known* known = Explained(change, side);
                if (known != nullptr) {
                    ++used[known];
                    anyExplained = true;
                } else {
                    kept.push_back(change);
                }
            }
            return kept;
        };
        std::vector<Description::Change> a = keep(sim.changes, "sim");
        std::vector<Description::Change> b = keep(wine.changes, "wine");
        for (const auto& change : a) {
            if (!Holds(b, change))
                report.push_back("simulator only: " + Show(change));
        }
        for (const auto& change : b) {
            if (!Holds(a, change))
                report.push_back("Wine only:      " + Show(change));
        }
        if (report.empty() &&
            (a.size() != b.size() || !std::equal(a.begin(), a.end(), b.begin(), Same)))
            report.push_back("the same changes in another order");
        for (const Boots& boots : SOUND_AFTER) {
            if (name != boots.machine)
                continue;
            const std::pair<const char*, const char*> sides[] = {{argv[1], "the simulator"},
                                                                 {argv[2], "Wine"}};
            for (auto& side : sides) {
                bool judged = false;
                std::vector<std::string> lines = BootFindings(side.first, name, &judged);
                bool expected = boots.finding[0] == 0;
                for (const std::string& line : lines) {
                    if (!expected &&
                        Description::Upper(line).rfind(Description::Upper(boots.finding), 0) == 0)
                        expected = true;
                    else
                        report.push_back(std::string("boot judged after the run on ") +
                                         side.second + ": " + line);
                }
                if (!expected && judged)
                    report.push_back(std::string("boot judged after the run on ") + side.second +
                                     ": the break the run leaves is not found: " + boots.finding);
            }
        }
        if (!report.empty()) {
            ++different;
            std::printf("%s: DIFFERENT\n", name.c_str());
            for (const auto& line : report)
                std::printf("  %s\n", line.c_str());
        } else {
            (anyExplained ? explained : identical)++;
        }
        // Said whether or not the change lists part: a service that has not
        // gone by the bound is what the run left for that long.
        for (const std::string& service : wine.unsettled)
            std::printf(
                "%s: %s still marked for deletion on Wine, its program ended, %u s after the run\n",
                name.c_str(), service.c_str(), SETTLE_MS / 1000);
    }
    std::printf("side by side: %d machines, %d identical, %d identical but for known Wine "
                "differences, %d different, %d not run\n",
                machines, identical, explained, different, notRun);
    for (auto& entry : used)
        std::printf("  known Wine difference (%d changes): %s %s: %s\n", entry.second,
                    entry.first->kind, entry.first->what, entry.first->why);
    return different == 0 && notRun == 0 ? 0 : 1;
}
