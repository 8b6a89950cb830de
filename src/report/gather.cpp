// The answers read back, and the machines they make: each machine's verdict
// from its verify answer, else from its preview, else from why its answer
// could not be read.
#include "report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

namespace Report {

namespace {

using nlohmann::json;

bool EndsWith(const std::string& text, const std::string& tail) {
    if (text.size() < tail.size())
        return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = text[text.size() - tail.size() + i];
        if ((c >= 'A' && c <= 'Z' ? (char)(c + 32) : c) != tail[i])
            return false;
    }
    return true;
}

// The machine a file is named after: the file's name less the ending the
// startup script gives it.
std::string NameOfFile(const std::string& file) {
    for (const char* ending : {"-verify.json", "-preview.json", ".json"}) {
        if (EndsWith(file, ending))
            return file.substr(0, file.size() - std::string(ending).size());
    }
    return file;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = c >= 'a' && c <= 'z' ? (char)(c - 32) : c;
    return text;
}

// Whether `bytes` are UTF-8 text.
bool IsUtf8(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size();) {
        unsigned char c = (unsigned char)bytes[i];
        size_t more = c < 0x80             ? 0
                      : (c & 0xE0) == 0xC0 ? 1
                      : (c & 0xF0) == 0xE0 ? 2
                      : (c & 0xF8) == 0xF0 ? 3
                                           : 4;
        if (more == 4 || (more == 1 && c < 0xC2) || i + more >= bytes.size() + (more == 0))
            return false;
        for (size_t k = 1; k <= more; ++k) {
            if (((unsigned char)bytes[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += more + 1;
    }
    return true;
}

// An answer's names as the report shows them (UTF-8). Answers carry each
// byte a program read as the character of the same number (JsonText): the
// bytes of the ANSI code page from the A functions, UTF-8 from the W
// functions (the boot view). The bytes are given back, and shown as they are
// when they are UTF-8, else as the characters the JSON text names.
std::string Shown(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c < 0x80) {
            bytes += (char)c;
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
            bytes += (char)((c & 0x03) << 6 | ((unsigned char)text[++i] & 0x3F));
        } else {
            return text; // a character beyond U+00FF: text that is no run of bytes
        }
    }
    return IsUtf8(bytes) ? bytes : text;
}

// Whether `text` is a time as answers give it, "2026-12-10T10:15:00Z": one
// form alone, so that comparing the texts orders the times.
bool IsUtcTime(const std::string& text) {
    const std::string form = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != form.size())
        return false;
    for (size_t i = 0; i < form.size(); ++i) {
        if (form[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != form[i])
            return false;
    }
    return true;
}

// Why `out` is not a verify or preview answer of this schema ("" when it is
// one), its parts read into `answer`.
std::string ReadJson(const json& out, Answer* answer) {
    if (!out.is_object())
        return "not an answer: its JSON is no object";
    auto verb = out.find("answer");
    if (verb == out.end() || !verb->is_string())
        return "not an answer: no \"answer\" field names the verb that wrote it";
    auto schema = out.find("schema");
    if (schema == out.end() || !schema->is_number_integer())
        return "not an answer of schema " + std::to_string(Check::ANSWER_SCHEMA) +
               ": it has no \"schema\"";
    if (*schema < 1 || *schema > Check::ANSWER_SCHEMA) {
        auto version = out.find("version");
        return "schema " + schema->dump() + ", this report reads schemas 1 to " +
               std::to_string(Check::ANSWER_SCHEMA) + ": written by another version of VkCheck" +
               (version != out.end() && version->is_string()
                    ? " (" + version->get<std::string>() + ")"
                    : std::string());
    }
    std::string name = verb->get<std::string>();
    if (name != "verify" && name != "preview")
        return "a " + name + " answer: the report reads verify and preview answers";
    auto status = out.find("status");
    if (status == out.end() || !status->is_number_integer())
        return "a " + name + " answer without a \"status\"";
    if (Check::StatusOf(status->get<int>()) == nullptr)
        return "a " + name + " answer of status " + status->dump() + ", which VkCheck never gives";
    const char* list = name == "verify" ? "findings" : "notDone";
    auto findings = out.find(list);
    if (findings == out.end() || !findings->is_array())
        return "a " + name + " answer without its \"" + list + "\"";
    for (const json& finding : *findings) {
        Said read;
        if (!finding.is_object() || !finding.contains("kind") || !finding["kind"].is_string() ||
            !finding.contains("where") || !finding["where"].is_string() ||
            !finding.contains("detail") || !finding["detail"].is_string() ||
            !finding.contains("status") || !finding["status"].is_number_integer())
            return "a " + name + " answer whose \"" + list + "\" are not all findings";
        read.kind = Shown(finding["kind"].get<std::string>());
        read.where = Shown(finding["where"].get<std::string>());
        read.detail = Shown(finding["detail"].get<std::string>());
        read.status = finding["status"].get<int>();
        answer->findings.push_back(read);
    }
    // Schema 1 had no time: its file's stands for it, and the report says so.
    if (*schema == 1) {
        answer->timeOfFile = true;
    } else {
        auto time = out.find("time");
        if (time == out.end() || !time->is_string() || !IsUtcTime(time->get<std::string>()))
            return "a " + name + " answer without its \"time\" (UTC, as 2026-12-10T10:15:00Z)";
        answer->time = time->get<std::string>();
    }
    auto machine = out.find("machine");
    if (machine != out.end()) {
        if (!machine->is_string())
            return "a " + name + " answer whose \"machine\" is no name";
        if (!machine->get<std::string>().empty())
            answer->machine = Shown(machine->get<std::string>());
    }
    answer->answer = name;
    answer->status = status->get<int>();
    return "";
}

Group GroupOf(int status) {
    const Check::Status* row = Check::StatusOf(status);
    return row == nullptr ? Group::Sound : (Group)row->group;
}

} // namespace

Answer Read(const std::string& file, const std::string& text, const std::string& modified) {
    Answer answer;
    answer.file = file;
    answer.machine = NameOfFile(file);
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        answer.unreadable = "empty: VkCheck wrote no answer into it (it could not read the "
                            "machine, or was stopped)";
        return answer;
    }
    json out;
    try {
        out = json::parse(text);
    } catch (const json::parse_error& error) {
        // Where the parser stopped: past the last character, the text ended
        // before the JSON did.
        size_t end = text.find_last_not_of(" \t\r\n") + 1;
        answer.unreadable = error.byte > end
                                ? "truncated: its JSON ends after " + std::to_string(end) +
                                      " bytes, before it is complete"
                                : "damaged: not JSON at byte " + std::to_string(error.byte);
        return answer;
    }
    Answer read = answer;
    std::string why = ReadJson(out, &read);
    if (!why.empty()) {
        answer.unreadable = why;
        return answer;
    }
    if (read.timeOfFile)
        read.time = modified;
    return read;
}

// Each machine's answers, by its name without case (Windows' computer
// names have none). Every machine may write the share, so no file name
// decides: the time each answer was made does.
struct Answers {
    std::vector<const Answer*> read;
    const Answer* broken = nullptr;      // the first unreadable file that may be its verify answer
    const Answer* brokenOther = nullptr; // the first other one
};

// A machine as its answers make it.
Machine MachineOf(Answers& of) {
    // Latest first; of answers that claim one time, the most urgent first.
    std::stable_sort(of.read.begin(), of.read.end(), [](const Answer* a, const Answer* b) {
        return a->time != b->time ? a->time > b->time : GroupOf(a->status) < GroupOf(b->status);
    });
    const Answer* latest = of.read.empty() ? nullptr : of.read[0];
    // A verify answer that cannot be read where the latest one read is a
    // preview: what the machine is after the run is unknown.
    const Answer* verdict =
        latest != nullptr && (latest->answer == "verify" || of.broken == nullptr) ? latest
        : of.broken != nullptr                                                    ? of.broken
                                                                                  : of.brokenOther;
    Machine machine;
    machine.name = verdict->machine;
    machine.file = verdict->file;
    if (verdict->unreadable.empty()) {
        machine.answer = verdict->answer;
        machine.status = verdict->status;
        machine.findings = verdict->findings;
        machine.time = verdict->time;
        machine.timeOfFile = verdict->timeOfFile;
        // A preview of 0 as the latest answer: the startup script started
        // the uninstaller, whose restart is still to come.
        machine.group = verdict->answer == "preview" && verdict->status == Check::CLEAN
                            ? Group::Waiting
                            : GroupOf(verdict->status);
    } else {
        machine.reason = verdict->unreadable;
    }
    // The step before the verdict: the preview its verify answer came
    // after, or the preview before a verify answer that cannot be read.
    const Answer* before = nullptr;
    for (const Answer* answer : of.read) {
        if (answer->answer == "preview" && verdict->answer != "preview" &&
            (verdict->unreadable.empty() ? answer->time <= verdict->time : answer == latest)) {
            before = answer;
            break;
        }
    }
    if (before != nullptr)
        machine.previewStatus = before->status;
    for (size_t i = 0; i < of.read.size(); ++i) {
        const Answer* answer = of.read[i];
        if ((i > 0 && of.read[i - 1]->time == answer->time) ||
            (i + 1 < of.read.size() && of.read[i + 1]->time == answer->time))
            machine.sameTime.push_back(answer->file);
        if (answer == verdict || answer == before)
            continue;
        Answer listed = *answer;
        listed.findings.clear();
        machine.earlier.push_back(listed);
    }
    return machine;
}

Fleet Gather(std::vector<Answer> answers) {
    std::sort(answers.begin(), answers.end(),
              [](const Answer& a, const Answer& b) { return a.file < b.file; });
    std::map<std::string, Answers> byName;
    std::vector<std::string> names; // in the order first met
    Fleet fleet;
    fleet.files = answers.size();
    for (const Answer& answer : answers) {
        std::string key = Upper(answer.machine);
        if (byName.find(key) == byName.end())
            names.push_back(key);
        Answers& of = byName[key];
        if (answer.unreadable.empty()) {
            of.read.push_back(&answer);
            continue;
        }
        const Answer*& broken = EndsWith(answer.file, "-preview.json") ? of.brokenOther : of.broken;
        if (broken == nullptr)
            broken = &answer;
    }
    for (const std::string& key : names)
        fleet.machines.push_back(MachineOf(byName[key]));
    std::sort(fleet.machines.begin(), fleet.machines.end(), [](const Machine& a, const Machine& b) {
        return a.group != b.group ? a.group < b.group : Upper(a.name) < Upper(b.name);
    });
    for (const Answer& answer : answers) {
        if (!answer.unreadable.empty()) {
            Answer listed = answer;
            listed.findings.clear();
            fleet.unreadable.push_back(listed);
        }
    }
    return fleet;
}

} // namespace Report
