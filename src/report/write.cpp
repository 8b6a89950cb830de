// The fleet report written out: as text for the console, as CSV for a
// spreadsheet, and as one page that needs nothing beside it.
#include "report.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace Report {

extern const GroupShown GROUPS_SHOWN[GROUPS] = {
    {"unsafe", "unsafe", "#c62828",
     "at the next boot a device or a service will not start: mend what the findings name "
     "before the machine restarts"},
    {"not allowed to read", "not-allowed", "#6a1b9a",
     "the verdict could not be made, or a key of the product refuses the uninstaller: run VkCheck "
     "as an administrator, mend what it could not read, or give the rights the findings name"},
    {"run again", "run-again", "#ef6c00",
     "a second run of the uninstaller would change something: run it again, restart, verify"},
    {"waiting for the restart", "waiting", "#1565c0",
     "restart, then verify (a preview alone: the uninstaller was started, its verify answer "
     "comes after the restart)"},
    {"sound", "sound", "#2e7d32", "nothing to do; the notes name what only a hand removes"},
    {"unreadable", "unreadable", "#757575",
     "no answer of the machine could be read: run VkCheck there again"},
};

const char* GroupName(Group group) {
    return GROUPS_SHOWN[(int)group].name;
}

const char* GroupKey(Group group) {
    return GROUPS_SHOWN[(int)group].key;
}

namespace {

// The page's style of each group's cells: white bold text on its colour.
std::string GroupStyle() {
    std::string cells, colours;
    for (const GroupShown& group : GROUPS_SHOWN) {
        cells += std::string(cells.empty() ? "" : ", ") + "td." + group.key;
        colours += std::string("td.") + group.key + " { background: " + group.colour + "; }\n";
    }
    return cells + " { color: #fff; font-weight: bold; white-space: nowrap; }\n" + colours;
}

std::string Capital(const char* text) {
    std::string out = text;
    if (!out.empty() && out[0] >= 'a' && out[0] <= 'z')
        out[0] = (char)(out[0] - 32);
    return out;
}

std::string FindingLine(const Said& finding) {
    return finding.kind + ": " + (finding.where.empty() ? "" : finding.where + ": ") +
           finding.detail;
}

// What a machine's answers say, in their order: its preview, then its verify answer.
std::string Steps(const Machine& machine) {
    std::string steps;
    if (machine.previewStatus >= 0)
        steps = "preview " + std::to_string(machine.previewStatus) + ", ";
    if (machine.status < 0)
        return steps + "no answer read";
    steps += machine.answer + " " + std::to_string(machine.status);
    if (machine.answer == "preview")
        steps += machine.status == Check::CLEAN ? ", no verify answer yet"
                                                : ", the uninstaller not started";
    return steps;
}

// When an answer was made, as the report shows it.
std::string When(const std::string& time, bool timeOfFile) {
    if (time.empty())
        return "at an unknown time";
    return "at " + time + (timeOfFile ? " (schema 1, no time of its own: its file's)" : "");
}

// What is shown under a machine: a warning where answers of it claim one
// time, then its other answers, latest first, each with its time and file.
std::vector<std::string> History(const Machine& machine) {
    std::vector<std::string> lines;
    if (!machine.sameTime.empty()) {
        std::string files;
        for (const std::string& file : machine.sameTime)
            files += (files.empty() ? "" : ", ") + file;
        lines.push_back("warning: answers of one machine at one time, the most urgent read: " +
                        files + " (any machine may write the share)");
    }
    if (machine.status >= 0 && !machine.earlier.empty())
        lines.push_back("the verdict is the " + machine.answer + " answer made " +
                        When(machine.time, machine.timeOfFile) + "; before it:");
    for (const Answer& answer : machine.earlier)
        lines.push_back("  " + answer.answer + " " + std::to_string(answer.status) + " " +
                        When(answer.time, answer.timeOfFile) + "  " + answer.file);
    return lines;
}

// Each finding with the machines that have it: those that set a status
// before the notes, each part most machines first, then the most urgent,
// then by its text.
struct Shared {
    int status;
    std::string line;
    std::vector<std::string> machines;
};
std::vector<Shared> SharedFindings(const Fleet& fleet) {
    std::map<std::pair<int, std::string>, std::vector<std::string>> found;
    for (const Machine& machine : fleet.machines) {
        for (const Said& finding : machine.findings) {
            std::vector<std::string>& names = found[{finding.status, FindingLine(finding)}];
            // A finding a machine's answer names twice is counted once.
            if (names.empty() || names.back() != machine.name)
                names.push_back(machine.name);
        }
    }
    std::vector<Shared> shared;
    for (auto& entry : found)
        shared.push_back({entry.first.first, entry.first.second, std::move(entry.second)});
    std::stable_sort(shared.begin(), shared.end(), [](const Shared& a, const Shared& b) {
        return std::make_tuple(a.status == Check::CLEAN, b.machines.size(), Check::Rank(a.status),
                               a.line) < std::make_tuple(b.status == Check::CLEAN,
                                                         a.machines.size(), Check::Rank(b.status),
                                                         b.line);
    });
    return shared;
}

std::vector<size_t> Counts(const Fleet& fleet) {
    std::vector<size_t> counts(GROUPS, 0);
    for (const Machine& machine : fleet.machines)
        ++counts[(int)machine.group];
    return counts;
}

std::string Summary(const Fleet& fleet) {
    return std::to_string(fleet.machines.size()) + " machines, " + std::to_string(fleet.files) +
           " answer files, " + std::to_string(fleet.unreadable.size()) + " of them unreadable";
}

std::string Padded(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

std::string Html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A CSV field (RFC 4180). Names come from a share every machine may write:
// a cell a spreadsheet would take for a formula (one starting with =, +, -,
// @, a tab or a carriage return) is made text by a leading apostrophe, as
// OWASP's guidance on CSV injection says.
std::string CsvField(std::string text) {
    if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos)
        text.insert(0, 1, '\'');
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string StatusText(const Machine& machine) {
    return machine.status < 0 ? std::string() : std::to_string(machine.status);
}

} // namespace

std::string FirstFinding(const Machine& machine) {
    if (machine.status < 0)
        return machine.reason;
    for (const Said& finding : machine.findings) {
        if (finding.status == machine.status)
            return FindingLine(finding);
    }
    return machine.findings.empty() ? std::string() : FindingLine(machine.findings[0]);
}

std::string Text(const Fleet& fleet) {
    std::string out = "Fleet report: " + Summary(fleet) + "\n\n";
    std::vector<size_t> counts = Counts(fleet);
    for (int group = 0; group < GROUPS; ++group)
        out += "  " + Padded(GroupName((Group)group), 25) + std::to_string(counts[group]) + "\n";
    size_t width = 0;
    for (const Machine& machine : fleet.machines)
        width = std::max(width, machine.name.size());
    int shown = -1;
    for (const Machine& machine : fleet.machines) {
        if ((int)machine.group != shown) {
            shown = (int)machine.group;
            out += "\n" + Capital(GroupName(machine.group)) + " (" + std::to_string(counts[shown]) +
                   "): " + GROUPS_SHOWN[shown].advice + "\n";
        }
        out += "  " + Padded(machine.name, width) + "  " + Steps(machine) + "  " + machine.file;
        out += machine.status < 0 ? ": " + machine.reason + "\n" : "\n";
        for (const std::string& line : History(machine))
            out += "    " + line + "\n";
    }
    std::vector<Shared> shared = SharedFindings(fleet);
    for (bool notes : {false, true}) {
        out += notes ? "\nNotes (status 0), most machines first:\n"
                     : "\nFindings, most machines first:\n";
        size_t listed = 0;
        for (const Shared& finding : shared) {
            if ((finding.status == Check::CLEAN) != notes)
                continue;
            ++listed;
            out += "  " + std::to_string(finding.machines.size()) + "  [" +
                   std::to_string(finding.status) + "] " + finding.line + "\n    ";
            for (size_t i = 0; i < finding.machines.size(); ++i)
                out += (i == 0 ? "" : ", ") + finding.machines[i];
            out += "\n";
        }
        if (listed == 0)
            out += "  none\n";
    }
    out += "\nUnreadable answers:\n";
    if (fleet.unreadable.empty())
        out += "  none\n";
    for (const Answer& answer : fleet.unreadable)
        out += "  " + answer.file + ": " + answer.unreadable + "\n";
    return out;
}

std::string Csv(const Fleet& fleet) {
    std::string out = "machine,verdict,status,answer file,findings,first finding\r\n";
    for (const Machine& machine : fleet.machines) {
        out += CsvField(machine.name) + "," + CsvField(GroupName(machine.group)) + "," +
               StatusText(machine) + "," + CsvField(machine.file) + "," +
               std::to_string(machine.findings.size()) + "," + CsvField(FirstFinding(machine)) +
               "\r\n";
    }
    return out;
}

std::string Html(const Fleet& fleet) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<title>Fleet report</title>\n<style>\n"
                      "body { font-family: sans-serif; margin: 1.5em; color: #222; }\n"
                      "table { border-collapse: collapse; margin-bottom: 1.5em; }\n"
                      "th, td { border: 1px solid #bbb; padding: 0.25em 0.6em; text-align: left; "
                      "vertical-align: top; }\n"
                      "th { background: #eee; }\n" +
                      GroupStyle() +
                      "td.number { text-align: right; }\n"
                      "td.file { white-space: nowrap; }\n"
                      "table#machines, table#findings, table#unreadable { width: 100%; }\n"
                      "td.text { overflow-wrap: anywhere; }\n"
                      "</style>\n</head>\n<body>\n<h1>Fleet report</h1>\n<p>" +
                      Html(Summary(fleet)) + ". " + Html(Check::VersionLine()) + ".</p>\n";
    std::vector<size_t> counts = Counts(fleet);
    out += "<table id=\"groups\">\n<thead><tr><th>verdict</th><th>machines</th><th>what to "
           "do</th></tr></thead>\n<tbody>\n";
    for (int group = 0; group < GROUPS; ++group) {
        out += "<tr data-status=\"" + std::string(GroupKey((Group)group)) + "\"><td class=\"" +
               GroupKey((Group)group) + "\">" + GroupName((Group)group) +
               "</td><td class=\"number\">" + std::to_string(counts[group]) + "</td><td>" +
               Html(GROUPS_SHOWN[group].advice) + "</td></tr>\n";
    }
    out += "</tbody>\n</table>\n<h2>Machines</h2>\n<table id=\"machines\">\n<thead><tr>"
           "<th>machine</th><th>verdict</th><th>status</th><th>answers</th><th>answer file</th>"
           "<th>findings</th><th>first finding</th></tr></thead>\n<tbody>\n";
    for (const Machine& machine : fleet.machines) {
        const char* key = GroupKey(machine.group);
        out += "<tr data-status=\"" + std::string(key) + "\"><td>" + Html(machine.name) +
               "</td><td class=\"" + key + "\">" + GroupName(machine.group) +
               "</td><td class=\"number\">" + StatusText(machine) + "</td><td>" +
               Html(Steps(machine));
        for (const std::string& line : History(machine))
            out += "<br>" + Html(line);
        out += "</td><td class=\"file\">" + Html(machine.file) + "</td><td class=\"number\">" +
               std::to_string(machine.findings.size()) + "</td><td class=\"text\">" +
               Html(FirstFinding(machine)) + "</td></tr>\n";
    }
    out += "</tbody>\n</table>\n<h2>Findings, most machines first</h2>\n<table id=\"findings\">\n"
           "<thead><tr><th>machines</th><th>status</th><th>finding</th><th>on</th></tr></thead>\n"
           "<tbody>\n";
    for (const Shared& finding : SharedFindings(fleet)) {
        std::string names;
        for (size_t i = 0; i < finding.machines.size(); ++i)
            names += (i == 0 ? "" : ", ") + finding.machines[i];
        out += "<tr><td class=\"number\">" + std::to_string(finding.machines.size()) +
               "</td><td class=\"number\">" + std::to_string(finding.status) +
               "</td><td class=\"text\">" + Html(finding.line) + "</td><td class=\"text\">" +
               Html(names) + "</td></tr>\n";
    }
    out += "</tbody>\n</table>\n<h2>Unreadable answers</h2>\n<table id=\"unreadable\">\n"
           "<thead><tr><th>answer file</th><th>machine</th><th>why</th></tr></thead>\n<tbody>\n";
    for (const Answer& answer : fleet.unreadable) {
        out += "<tr><td>" + Html(answer.file) + "</td><td>" + Html(answer.machine) +
               "</td><td class=\"text\">" + Html(answer.unreadable) + "</td></tr>\n";
    }
    return out + "</tbody>\n</table>\n</body>\n</html>\n";
}

} // namespace Report
