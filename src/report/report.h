// The fleet report: the verify and preview answers (`--json`) that machines
// wrote into one folder, read back and grouped by what each machine needs,
// the machines that need a hand first at the top. As text, CSV and a page.
#pragma once

#include "../verdict/verdict.h"

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

// How a group is shown: its name in the report ("run again"), its key as
// the page's data-status and CSS class ("run-again"), its colour on the
// page, and what its machines need, as the text's and the page's headings
// say. A verdict's status names its group (Check::Status::group).
struct GroupShown {
    const char* name;
    const char* key;
    const char* colour;
    const char* advice;
};
extern const GroupShown GROUPS_SHOWN[GROUPS];
const char* GroupName(Group group);
const char* GroupKey(Group group);

// A finding as an answer file states it. The answers are of other machines,
// perhaps of another version of VkCheck: the report shows them as written
// and acts on their status alone.
struct Said {
    std::string kind, where, detail;
    int status = Check::CLEAN;
};

// One answer file, read: the answer it holds, or why it holds none.
struct Answer {
    std::string file;    // its name in the folder
    std::string machine; // the answer's "machine", else the file's name less its ending
    std::string answer;  // "verify" or "preview"; "" when unreadable
    int status = 0;
    std::string time;           // when it was made (UTC, ISO 8601), its file's time for schema 1
    bool timeOfFile = false;    // an answer of schema 1: `time` is its file's modification time
    std::vector<Said> findings; // verify's findings, preview's notDone
    std::string unreadable;     // why the file holds no answer the report reads
};

// Reads the text of a file named `file`, last modified at `modified` (UTC,
// ISO 8601; "" unknown).
Answer Read(const std::string& file, const std::string& text, const std::string& modified = "");

// A machine as the report shows it: its verdict from its latest answer, a
// verify answer, or a preview when none came after it (yet), or when the
// product came back after the last verify.
struct Machine {
    std::string name;
    Group group = Group::Unreadable;
    std::string answer;          // the answer its verdict is ("verify", "preview"); "" unreadable
    int status = -1;             // that answer's status; -1 unreadable
    std::string file;            // that answer's file
    int previewStatus = -1;      // with a verify answer: the preview's status before it (-1: none)
    std::vector<Said> findings;  // the verdict's
    std::string reason;          // unreadable: why
    std::string time;            // the verdict's answer's
    bool timeOfFile = false;     // that time is its file's (schema 1)
    std::vector<Answer> earlier; // its other answers, latest first
    // Answers of it that claim one time (one of them may be another
    // machine's forgery): their files; the most urgent of them decides.
    std::vector<std::string> sameTime;
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
