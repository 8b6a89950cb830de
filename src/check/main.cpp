// VkCheck: reads this machine (or a snapshot of one) and answers, without
// changing anything, what the uninstaller would do here and what is left of
// the product after it ran.
#include "check.h"

#include "../description/json.h"
#include "../report/report.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

// The program's version; the build names it from the project's.
#ifndef VK_VERSION
#define VK_VERSION "0.0.0"
#endif

namespace Check {

namespace {

using nlohmann::json;

const char USAGE[] =
    "usage: VkCheck preview | verify | detect | snapshot FILE  [--from FILE | --folder DIR] "
    "[--json]\n"
    "       VkCheck report DIR [--csv FILE] [--html FILE]\n"
    "       VkCheck --version\n"
    "  preview   what the uninstaller would change on this machine, step by step\n"
    "  verify    after the restart: what is left of the product, whether a second run of the\n"
    "            uninstaller would change anything, and whether the machine is sound\n"
    "  detect    one line when a run of the uninstaller would change this machine, nothing\n"
    "            when it would not (exit 0)\n"
    "  snapshot  writes what preview and verify read to FILE (JSON)\n"
    "  --folder  the product's folder, where \"DzPath\" no longer says (after the run)\n"
    "  report    the fleet report of the verify and preview answers (--json) in DIR: which\n"
    "            machines need a hand first; --csv and --html write it as CSV and as a page too\n";

// The usage's last paragraph: the exit statuses, from their table.
std::string StatusUsage() {
    std::string text = "Verbs may also be written /verb or --verb. Exit status:";
    for (const Status& status : STATUSES)
        text += std::string(" ") + status.usage + ",";
    text += " " + std::to_string(BAD_ARGUMENTS) +
            " bad arguments; report: 0 when it read DIR, whatever the machines' verdicts, " +
            std::to_string(NO_FOLDER) +
            " when DIR cannot be listed or a report file cannot be written.";
    // Lines of at most 90 characters, broken between words.
    std::string out, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        std::string word = text.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.size() + 1 + word.size() > 90) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line + "\n";
}

const char OFFLINE_USAGE[] =
    "A Windows that no longer starts, read from its disk (this build):\n"
    "  verify --windows DIR         DIR is its mounted Windows folder (system32\\config\\SYSTEM)\n"
    "  verify --system-hive FILE [--software-hive FILE] [--windows DIR]\n"
    "                               hives copied elsewhere (DIR: where its files are)\n"
    "  repair --windows DIR [--dry-run] [--force]\n"
    "                               takes out of the filter lists of every control set the\n"
    "                               names Windows cannot load; a copy of the hive is kept beside\n"
    "                               it (SYSTEM.vkcheck-YYYYMMDD-HHMMSS); --dry-run writes "
    "nothing;\n"
    "                               --force repairs a hive Windows did not close cleanly\n"
    "  preview, detect and snapshot read such a Windows too.\n"
    "Offline exit status besides: 10 no Windows there, 11 not a hive, 12 damaged hive, 13 a\n"
    "hive of another kind, 14 no control set to boot, 15 read-only, 16 not closed cleanly.\n";

struct Arguments {
    std::string verb, file, from, folder, csv, html;
    bool json = false;
    OfflineArguments offline;
    bool isOffline() const {
        return !offline.windows.empty() || !offline.systemHive.empty() ||
               !offline.softwareHive.empty();
    }
};

std::string Bare(const std::string& argument) {
    if (argument.rfind("--", 0) == 0)
        return argument.substr(2);
    if (argument.rfind("/", 0) == 0 || argument.rfind("-", 0) == 0)
        return argument.substr(1);
    return argument;
}

// The words of the command line, each read into `out`.
bool ReadWords(int argc, char** argv, Arguments* out, std::string* why) {
    for (int i = 1; i < argc; ++i) {
        std::string word = Bare(argv[i]);
        for (char& c : word)
            c = (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
        std::string* place = word == "windows"         ? &out->offline.windows
                             : word == "system-hive"   ? &out->offline.systemHive
                             : word == "software-hive" ? &out->offline.softwareHive
                                                       : nullptr;
        if (word == "json") {
            out->json = true;
        } else if (word == "dry-run" || word == "force") {
            (word == "force" ? out->offline.force : out->offline.dryRun) = true;
        } else if (place != nullptr) {
            if (++i >= argc) {
                *why = "--" + word + " needs " + (word == "windows" ? "a folder" : "a file");
                return false;
            }
            *place = argv[i];
        } else if (word == "from" || word == "folder" || word == "csv" || word == "html") {
            if (++i >= argc) {
                *why = "--" + word + " needs " + (word == "folder" ? "a folder" : "a file");
                return false;
            }
            (word == "from"     ? out->from
             : word == "folder" ? out->folder
             : word == "csv"    ? out->csv
                                : out->html) = argv[i];
        } else if (word == "preview" || word == "verify" || word == "detect" ||
                   word == "snapshot" || word == "repair" || word == "report") {
            if (!out->verb.empty()) {
                *why = "one verb only";
                return false;
            }
            out->verb = word;
            if (word == "snapshot" || word == "report") {
                if (++i >= argc) {
                    *why = word + (word == "report" ? " needs a folder" : " needs a file");
                    return false;
                }
                out->file = argv[i];
            }
        } else if (word == "?" || word == "h" || word == "help") {
            out->verb = "help";
        } else if (word == "version") {
            if (out->verb != "help")
                out->verb = "version";
        } else {
            *why = std::string("unknown argument: ") + argv[i];
            return false;
        }
    }
    return true;
}

// Whether the arguments read agree with one another; the offline ones
// completed.
bool Agree(Arguments* out, std::string* why) {
    if (out->verb.empty()) {
        *why = "no verb";
        return false;
    }
    if (out->verb == "version")
        return true;
    if (out->verb == "report" &&
        (!out->from.empty() || !out->folder.empty() || out->isOffline() || out->json)) {
        *why = "report reads the answers in its folder: --csv FILE and --html FILE alone";
        return false;
    }
    if (out->verb != "report" && (!out->csv.empty() || !out->html.empty())) {
        *why = "--csv and --html are report's";
        return false;
    }
    if (out->verb == "snapshot" && !out->from.empty()) {
        *why = "snapshot reads this machine, not a file";
        return false;
    }
    if (!out->folder.empty() && !out->from.empty()) {
        *why = "--folder tells where to read this machine's files, not a snapshot's";
        return false;
    }
    if (out->isOffline() && !out->from.empty()) {
        *why = "--from reads a snapshot, --windows and the hives a disk: one of them";
        return false;
    }
    if (!out->offline.softwareHive.empty() && out->offline.systemHive.empty()) {
        *why = "--software-hive needs --system-hive";
        return false;
    }
    if (out->verb == "repair" && !out->isOffline()) {
        *why = "repair mends a Windows that is not running: name it with --windows DIR";
        return false;
    }
    if ((out->offline.dryRun || out->offline.force) && out->verb != "repair") {
        *why = "--dry-run and --force are repair's";
        return false;
    }
    out->offline.folder = out->folder;
    out->offline.json = out->json;
    return true;
}

bool Parse(int argc, char** argv, Arguments* out, std::string* why) {
    return ReadWords(argc, argv, out, why) && Agree(out, why);
}

// Findings and actions hold names as the A functions give them: bytes of the
// ANSI code page, which JSON text must not carry raw.
using Description::JsonText;

json FindingJson(const Finding& finding) {
    return json{{"kind", JsonText(finding.kind())},
                {"where", JsonText(finding.where)},
                {"detail", JsonText(finding.detail)},
                {"status", finding.status}};
}

void PrintFindings(const std::vector<Finding>& findings) {
    for (const Finding& finding : findings)
        std::printf("  %s%s: %s\n    %s\n", finding.status == UNSAFE ? "UNSAFE " : "",
                    finding.kind(), finding.where.c_str(), finding.detail.c_str());
}

// The closing line of verify's report.
std::string StatusText(int code) {
    const Status* status = StatusOf(code);
    return std::to_string(code) + ": " + (status ? status : StatusOf(NOT_ALLOWED))->verdict;
}

// What every answer says of itself: the verb that gave it, its schema, the
// program's version, when it was made, and the computer it read ("" for a
// snapshot or a disk: left out).
json Answer(const char* verb, const Origin& origin) {
    json out{{"answer", verb},
             {"schema", ANSWER_SCHEMA},
             {"version", VK_VERSION},
             {"time", origin.time}};
    if (!origin.machine.empty())
        out["machine"] = JsonText(origin.machine);
    return out;
}

int RunPreview(const Description::Machine& machine, bool asJson, const std::string& name) {
    Preview preview = PreviewRun(machine);
    if (asJson) {
        std::printf("%s\n", PreviewJson(preview, {name}).c_str());
        return preview.status;
    }
    std::printf("What the uninstaller would do on this machine, step by step:\n");
    int number = 0;
    for (const Step& step : preview.steps) {
        std::printf("%2d. %s\n", ++number, step.name.c_str());
        if (step.actions.empty())
            std::printf("    nothing\n");
        for (const std::string& action : step.actions)
            std::printf("    %s\n", action.c_str());
    }
    std::printf("%zu changes in all; the uninstaller would exit with %d.\n", preview.changes.size(),
                preview.result);
    if (!preview.notDone.empty()) {
        std::printf("What it would not do, and why:\n");
        PrintFindings(preview.notDone);
    }
    if (preview.status == UNSAFE)
        std::printf("Unsafe: after the restart a device or a service marked UNSAFE above would not "
                    "start. Mend what it names before running the uninstaller.\n");
    return preview.status;
}

} // namespace

std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return text;
}

std::string PreviewJson(const Preview& preview, const Origin& origin) {
    json out = Answer("preview", origin);
    out["status"] = preview.status;
    out["uninstallerResult"] = preview.result;
    out["steps"] = json::array();
    for (const Step& step : preview.steps) {
        json actions = json::array();
        for (const std::string& action : step.actions)
            actions.push_back(JsonText(action));
        out["steps"].push_back(json{{"step", step.name}, {"actions", actions}});
    }
    out["changes"] = preview.changes;
    out["notDone"] = json::array();
    for (const Finding& finding : preview.notDone)
        out["notDone"].push_back(FindingJson(finding));
    return out.dump(1);
}

std::string ReportJson(const Verdict& verdict, const std::vector<std::string>& warnings,
                       const Origin& origin) {
    json out = Answer("verify", origin);
    out["status"] = verdict.status;
    out["findings"] = json::array();
    for (const Finding& finding : verdict.findings)
        out["findings"].push_back(FindingJson(finding));
    if (!warnings.empty()) {
        out["warnings"] = json::array();
        for (const std::string& warning : warnings)
            out["warnings"].push_back(JsonText(warning));
    }
    return out.dump(1);
}

namespace {

int Report(const Verdict& verdict, bool asJson, const std::vector<std::string>& warnings,
           const std::string& machine) {
    if (asJson) {
        std::printf("%s\n", ReportJson(verdict, warnings, {machine}).c_str());
        return verdict.status;
    }
    for (const std::string& warning : warnings)
        std::printf("Warning: %s\n", warning.c_str());
    std::vector<Finding> found, notes;
    for (const Finding& finding : verdict.findings)
        (finding.status == CLEAN ? notes : found).push_back(finding);
    if (!found.empty()) {
        std::printf("Found:\n");
        PrintFindings(found);
    }
    if (!notes.empty()) {
        std::printf("Notes:\n");
        PrintFindings(notes);
    }
    std::printf("%s\n", StatusText(verdict.status).c_str());
    return verdict.status;
}

} // namespace

int Report(const Verdict& verdict, bool asJson, const std::vector<std::string>& warnings) {
    return Report(verdict, asJson, warnings, "");
}

void BufferOutput() {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

int Main(int argc, char** argv, Reader read, const OfflineVerbs* offline) {
    Host host;
    host.read = read;
    return Main(argc, argv, host, offline);
}

namespace {

// What the verbs that answer read: the machine as `arguments` name it,
// with `name` the computer's when it is the one read, what the reading
// found doubtful and what the verdict must hold besides the judge's. CLEAN,
// else the status the program ends with.
struct Reading {
    Description::Machine machine;
    std::string name;
    std::vector<std::string> warnings;
    std::vector<Finding> unread;
};

int ReadMachine(const Arguments& arguments, const Host& host, const OfflineVerbs* offline,
                Reading* read) {
    std::string why;
    Description::Machine& machine = read->machine;
    std::string& name = read->name;
    std::vector<std::string>& warnings = read->warnings;
    std::vector<Finding>& unread = read->unread;
    if (arguments.isOffline()) {
        int status = offline->read(arguments.offline, &machine, &warnings, &unread, &why);
        // Verify's report holds them; the other verbs' reports have no place for them.
        for (const std::string& warning : warnings) {
            if (arguments.verb != "verify" || status != CLEAN)
                std::fprintf(stderr, "VkCheck: warning: %s\n", warning.c_str());
        }
        if (status != CLEAN) {
            std::fprintf(stderr, "VkCheck: %s\n", why.c_str());
            return status;
        }
    } else if (!arguments.from.empty()) {
        std::ifstream in(arguments.from, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (!in || !Description::Read(text.str(), &machine, &why)) {
            std::fprintf(stderr, "VkCheck: %s: %s\n", arguments.from.c_str(),
                         in ? why.c_str() : "cannot be read");
            return BAD_ARGUMENTS;
        }
    } else {
        std::fprintf(stderr, "VkCheck: reading this machine...\n");
        if (host.read == nullptr)
            why = "this build reads no running machine";
        if (host.read == nullptr || !host.read(arguments.folder, &machine, &why)) {
            std::fprintf(stderr, "VkCheck: %s\n", why.c_str());
            return NOT_ALLOWED;
        }
        if (host.name != nullptr)
            name = host.name();
    }
    return CLEAN;
}

} // namespace

int Main(int argc, char** argv, const Host& host, const OfflineVerbs* offline) {
    Arguments arguments;
    std::string why;
    if (!Parse(argc, argv, &arguments, &why)) {
        std::fprintf(stderr, "VkCheck: %s\n%s%s%s", why.c_str(), USAGE, StatusUsage().c_str(),
                     offline != nullptr ? OFFLINE_USAGE : "");
        return BAD_ARGUMENTS;
    }
    if (arguments.verb == "help") {
        std::printf("%s%s%s", USAGE, StatusUsage().c_str(),
                    offline != nullptr ? OFFLINE_USAGE : "");
        return CLEAN;
    }
    if (arguments.verb == "version") {
        std::printf("%s\n", VersionLine().c_str());
        return CLEAN;
    }
    if (arguments.verb == "report") {
        if (host.list == nullptr) {
            std::fprintf(stderr, "VkCheck: this build cannot list a folder\n");
            return BAD_ARGUMENTS;
        }
        return Report::Run(arguments.file, arguments.csv, arguments.html, host.list);
    }
    if (arguments.isOffline() && offline == nullptr) {
        std::fprintf(stderr, "VkCheck: this build reads the machine it runs on; a Windows that is "
                             "not running is read by the Linux build, vk_check\n");
        return BAD_ARGUMENTS;
    }
    if (arguments.verb == "repair")
        return offline->repair(arguments.offline);
    Reading read;
    int status = ReadMachine(arguments, host, offline, &read);
    if (status != CLEAN)
        return status;
    const Description::Machine& machine = read.machine;
    const std::string& name = read.name;
    if (arguments.verb == "snapshot") {
        std::ofstream out(arguments.file, std::ios::binary);
        out << Description::Write(machine) << "\n";
        if (!out) {
            std::fprintf(stderr, "VkCheck: %s cannot be written\n", arguments.file.c_str());
            return BAD_ARGUMENTS;
        }
        std::fprintf(stderr, "VkCheck: snapshot written to %s\n", arguments.file.c_str());
        return CLEAN;
    }
    if (arguments.verb == "detect") {
        std::string line = Detect(machine);
        if (arguments.json) {
            json out = Answer("detect", {name});
            out["present"] = !line.empty();
            out["line"] = JsonText(line);
            std::printf("%s\n", out.dump().c_str());
        } else if (!line.empty())
            std::printf("%s\n", line.c_str());
        return CLEAN;
    }
    if (arguments.verb == "preview")
        return RunPreview(machine, arguments.json, name);
    Verdict verdict = Verify(machine);
    for (const Finding& finding : read.unread)
        AddFinding(&verdict, finding);
    return Report(verdict, arguments.json, read.warnings, name);
}

} // namespace Check
