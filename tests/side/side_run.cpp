// Runs the uninstaller on each described machine: lays it down, describes
// it, runs, describes it again, and writes both descriptions and the
// changes as JSON. The same source runs on the simulated Windows and,
// cross-built, on a real one.
#include "side_run.h"

#include "description/description.h"
#include "text_file.h"
#include "uninstall/uninstall.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text << "\n";
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(".json");
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// The machine as the runner described it before the run, from OUTDIR.
bool ReadBefore(const std::string& outDir, const std::string& name, Description::Machine* before,
                std::string* why) {
    std::string text;
    return ReadTextFile(outDir + "/" + name + ".before.json", &text) &&
           Description::Read(text, before, why);
}

// One machine; false when it could not be laid down (the reason is written
// instead). `stage` is "" for the whole run in this process, "before" to lay
// the machine down and describe it only (another program runs the
// uninstaller), or "after" to describe it again and compare, with the exit
// status that program gave.
bool RunOne(const std::string& input, const std::string& outDir, const std::string& stage = "",
            int givenResult = 0) {
    std::string name = BaseName(input);
    std::string text, why;
    Description::Machine machine;
    if (!ReadTextFile(input, &text) || !Description::Read(text, &machine, &why)) {
        WriteFile(outDir + "/" + name + ".error", "reading: " + why);
        return false;
    }
    Description::Machine before;
    if (stage == "after") {
        if (!ReadBefore(outDir, name, &before, &why)) {
            WriteFile(outDir + "/" + name + ".error", "reading the machine before: " + why);
            return false;
        }
    } else {
        if (!LayOnCleanMachine(machine, &why)) {
            WriteFile(outDir + "/" + name + ".error", "laying down: " + why);
            return false;
        }
        before = Description::Describe(machine.productFolder);
        ObserveMachine(&before);
        WriteFile(outDir + "/" + name + ".before.json", Description::Write(before));
        if (stage == "before")
            return true;
    }
    int result = stage == "after" ? givenResult : RunUninstall();
    std::vector<std::string> unsettled = Settle(before);
    Description::Machine after = Description::Describe(before.productFolder);
    ObserveMachine(&after);
    WriteFile(outDir + "/" + name + ".after.json", Description::Write(after));
    nlohmann::json changes =
        nlohmann::json::parse(Description::WriteChanges(Description::Changes(before, after)));
    changes["result"] = result;
    if (!ConsoleText().empty())
        changes["console"] = ConsoleText();
    if (!unsettled.empty())
        changes["unsettled"] = unsettled;
    WriteFile(outDir + "/" + name + ".changes.json", changes.dump(1));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // --before OUTDIR MACHINE.json / --after RESULT OUTDIR MACHINE.json: the
    // two halves around a run of the real program.
    if (argc == 4 && std::string(argv[1]) == "--before")
        return RunOne(argv[3], argv[2], "before") ? 0 : 1;
    if (argc == 5 && std::string(argv[1]) == "--after")
        return RunOne(argv[4], argv[3], "after", std::atoi(argv[2])) ? 0 : 1;
    // --settle OUTDIR MACHINE.json: after a run of the real program, lets the
    // machine settle (see Settle) and names what has not at the bound.
    if (argc == 4 && std::string(argv[1]) == "--settle") {
        Description::Machine before;
        std::string why;
        if (!ReadBefore(argv[2], BaseName(argv[3]), &before, &why)) {
            std::fprintf(stderr, "side_run --settle: the machine before: %s\n", why.c_str());
            return 2;
        }
        std::vector<std::string> unsettled = Settle(before);
        for (const std::string& service : unsettled)
            std::printf("%s\n", service.c_str());
        return unsettled.empty() ? 0 : 1;
    }
    // --lay MACHINE.json: lays the machine down on this one as it is (to
    // plant what a description adds to this machine's own).
    if (argc == 3 && std::string(argv[1]) == "--lay") {
        std::string text, why;
        Description::Machine machine;
        if (!ReadTextFile(argv[2], &text) || !Description::Read(text, &machine, &why) ||
            !LayOnThisMachine(machine, &why)) {
            std::fprintf(stderr, "side_run --lay: %s\n", why.c_str());
            return 1;
        }
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTDIR MACHINE.json...\n", argv[0]);
        return 2;
    }
    // "@FILE" names a file that lists machines one a line: a long list
    // does not fit on a Windows command line.
    std::vector<std::string> inputs;
    for (int i = 2; i < argc; ++i) {
        std::string text;
        if (argv[i][0] != '@') {
            inputs.push_back(argv[i]);
        } else if (ReadTextFile(argv[i] + 1, &text)) {
            std::stringstream lines(text);
            for (std::string line; std::getline(lines, line);)
                if (!line.empty())
                    inputs.push_back(line);
        }
    }
    auto start = std::chrono::steady_clock::now();
    int run = 0, refused = 0;
    for (const std::string& input : inputs)
        (RunOne(input, argv[1]) ? run : refused)++;
    std::string why;
    FreshMachine(&why); // nothing of the last machine is left behind
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d machines run, %d not laid down, %.1f s\n", run, refused, seconds);
    return 0;
}
