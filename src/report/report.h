// The fleet report: the verify and preview answers (`--json`) that machines
// wrote into one folder, read back and grouped by what each machine needs,
// the machines that need a hand first at the top. As text, CSV and a page.
#pragma once

#include "../check/check.h"

#include <string>
#include <vector>

namespace Description {
struct Calls;
}

namespace Report {

// The groups, in the report's order. Unsafe first: that machine stops at its
// next boot. Then the machines whose verdict could not be made (status 5):
// the verdict itself ranks an unreadable part above anything left, since it
// may hide an unsafe machine, and only a person can give the rights or look.
// Then those a second run of the uninstaller mends, those a restart ends,
// the sound ones, and last the machines of which no answer could be read.
enum class Group { Unsafe, NotAllowed, RunAgain, Waiting, Sound, Unreadable };
constexpr int GROUPS = 6;

// Its name in the report ("run again"), and as the page's data-status and
// CSS class ("run-again").
const char* GroupName(Group group);
const char* GroupKey(Group group);

// One answer file, read: the answer it holds, or why it holds none.
struct Answer {
    std::string file;    // its name in the folder
    std::string machine; // the answer's "machine", else the file's name less its ending
    std::string answer;  // "verify" or "preview"; "" when unreadable
    int status = 0;
    std::vector<Check::Finding> findings; // verify's findings, preview's notDone
    std::string unreadable;               // why the file holds no answer the report reads
};

// Reads the text of a file named `file`.
Answer Read(const std::string& file, const std::string& text);

// A machine as the report shows it: its verdict, from its verify answer, or
// its preview's when the verify answer is not there (yet).
struct Machine {
    std::string name;
    Group group = Group::Unreadable;
    std::string answer;     // the answer its verdict is ("verify", "preview"); "" unreadable
    int status = -1;        // that answer's status; -1 unreadable
    std::string file;       // that answer's file
    int previewStatus = -1; // with a verify answer: the preview's status before it (-1: none)
    std::vector<Check::Finding> findings; // the verdict's
    std::string reason;                   // unreadable: why
};

struct Fleet {
    std::vector<Machine> machines;  // by group in the report's order, then by name
    std::vector<Answer> unreadable; // every file that holds no answer read, by file name
    size_t files = 0;               // answer files read in all
};

// The fleet the answers make.
Fleet Gather(std::vector<Answer> answers);

// The report as text, as CSV (RFC 4180: a header, CR LF lines) and as one
// self-contained HTML page.
std::string Text(const Fleet& fleet);
std::string Csv(const Fleet& fleet);
std::string Html(const Fleet& fleet);

// The CSV and page's "first finding" of a machine: the first of its findings
// that sets its status (else its first), "kind: where: detail"; an
// unreadable machine's reason.
std::string FirstFinding(const Machine& machine);

// The report verb: reads every *.json in `folder` through `list`, prints the
// text, writes the CSV and the page where named. CLEAN, or NO_FOLDER.
int Run(const std::string& folder, const std::string& csv, const std::string& html,
        bool (*list)(const std::string& folder, std::vector<std::string>* files, std::string* why));

// The files of a folder as FindFirstFileA and FindNextFileA list them, through
// the table of calls `win` (Windows itself in VkCheck.exe, or the simulated
// Windows); folders left out.
bool ListFolder(const Description::Calls& win, const std::string& folder,
                std::vector<std::string>* files, std::string* why);

// The files of a folder as a POSIX system lists them (the Linux build).
bool ListPosixFolder(const std::string& folder, std::vector<std::string>* files, std::string* why);

} // namespace Report
