// The companion program: what the uninstaller would change on a machine, and
// what is left of the product after it ran. It reads a machine into a
// description and never changes one; the uninstaller itself runs only on the
// simulated Windows, loaded with what was read.
#pragma once

#include "../description/description.h"
#include "../verdict/verdict.h"

#include <string>
#include <vector>

namespace Check {

// Now, UTC, as answers carry it: "2026-12-10T10:15:00Z".
std::string UtcNow();

// Who made an answer and when: the computer's name ("" when the answer is
// not of the machine it ran on) and the time.
struct Origin {
    std::string machine;
    std::string time = UtcNow();
};

// One step of the uninstaller, in its order, with what it would do here.
struct Step {
    std::string name;
    std::vector<std::string> actions;
};

struct Preview {
    std::vector<Step> steps;
    std::vector<Description::Change> changes; // as data: what the run changes
    std::vector<Finding> notDone;             // what it would not do, and why
    int result = 0;                           // the uninstaller's own exit status
    int status = CLEAN;                       // CLEAN or UNSAFE
};

// Runs the uninstaller on the simulated Windows loaded with `machine`. The
// simulated machine current before (if any) is current again after.
Preview PreviewRun(const Description::Machine& machine);

struct Verdict {
    std::vector<Finding> findings;
    int status = CLEAN;
};

// What is left of the product and whether the machine is sound. LEFTOVER
// findings name what a second run of the uninstaller would change (its own
// steps run on the simulated Windows loaded with `machine`, less what every
// run rewrites); what is left that a second run cannot remove is a note
// saying what does, but a product tree whose security refuses the
// uninstaller is NOT_ALLOWED, naming the key and how to give the rights.
Verdict Verify(const Description::Machine& machine);

// One line naming the product when a run of the uninstaller would change
// the machine (a LEFTOVER finding of Verify), else "".
std::string Detect(const Description::Machine& machine);

// A Windows that is not running, as the arguments name it: its Windows
// folder, or its hives copied elsewhere.
struct OfflineArguments {
    std::string windows, systemHive, softwareHive;
    std::string folder; // --folder: the product's folder, as the machine names it
    bool dryRun = false, force = false, json = false;
};

// The verbs of a build that reads such a Windows from its disk.
struct OfflineVerbs {
    // CLEAN with `machine` read, else an offline status with `why`. Either
    // way `warnings` says what the reading found doubtful, and `findings`
    // what the verdict must hold besides the judge's (what was not looked at).
    int (*read)(const OfflineArguments& arguments, Description::Machine* machine,
                std::vector<std::string>* warnings, std::vector<Finding>* findings,
                std::string* why);
    // The repair verb, its report printed; its exit status.
    int (*repair)(const OfflineArguments& arguments);
};

// The program; `read` reads the machine it runs on, its product files in
// `folder` ("": where "DzPath" says), false with `why` where it cannot.
// `offline`, when given, reads a Windows that is not running.
typedef bool (*Reader)(const std::string& folder, Description::Machine* machine, std::string* why);
int Main(int argc, char** argv, Reader read, const OfflineVerbs* offline = nullptr);

// What a build reaches on the machine it runs on: the machine (`read`, as
// above), the computer's name ("" where it cannot tell), and the names of
// the files (not the folders) in a folder, for report (false with `why`
// where the folder cannot be listed). Any may be null: that build has none.
struct Host {
    Reader read = nullptr;
    std::string (*name)() = nullptr;
    bool (*list)(const std::string& folder, std::vector<std::string>* files,
                 std::string* why) = nullptr;
};
int Main(int argc, char** argv, const Host& host, const OfflineVerbs* offline = nullptr);

// A verdict reported as verify reports it (text or JSON), warnings first;
// its status.
int Report(const Verdict& verdict, bool asJson, const std::vector<std::string>& warnings = {});
// The JSON text Report prints: verify's answer, of `origin`.
std::string ReportJson(const Verdict& verdict, const std::vector<std::string>& warnings,
                       const Origin& origin = {});
// Preview's JSON answer, of `origin`.
std::string PreviewJson(const Preview& preview, const Origin& origin = {});

// `finding` added to `verdict`, whose status becomes the more urgent of the two.
void AddFinding(Verdict* verdict, const Finding& finding);

// Called first by a program's main: the report is written whole at the end
// (on Windows a console, or a device such as NUL, would otherwise take it
// one write at a time).
void BufferOutput();

} // namespace Check
