// The fleet report over answers made from the described machines on the
// simulated Windows: the text line by line, the CSV parsed back, each break
// of the boot matrix in its verify status's group; the answers that name
// what they are; the folder listed through the reader's calls.
#include "boot_machines.h"
#include "check/check.h"
#include "description/calls.h"
#include "platform/sim/machine.h"
#include "report/answers.h"
#include "report/report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string Folder(const std::string& name) {
    std::string folder = testing::TempDir() + name;
    EXPECT_EQ(0, std::system(("rm -rf '" + folder + "'").c_str()));
    EXPECT_EQ(0, mkdir(folder.c_str(), 0755));
    return folder;
}

bool ReadSimulated(const std::string& folder, Description::Machine* machine, std::string*) {
    *machine = Description::Describe(folder);
    return true;
}

// VkCheck with the Linux build's listing, on the simulated Windows, which
// names itself TS-SIM; its status, what it printed.
int Check(std::vector<std::string> words, std::string* out = nullptr) {
    std::vector<char*> argv{const_cast<char*>("VkCheck")};
    for (std::string& word : words)
        argv.push_back(&word[0]);
    Check::Host host;
    host.read = ReadSimulated;
    host.name = [] { return Description::ComputerName(); };
    host.list = Report::ListPosixFolder;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = Check::Main((int)argv.size(), argv.data(), host);
    std::string printed = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    if (out != nullptr)
        *out = printed;
    return status;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// RFC 4180 read back: records of fields, each record ended by CR LF, a
// field quoted when it holds a comma, a quote or a line break, its quotes
// doubled. Empty when the text breaks the rules.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    for (size_t at = 0; at < text.size();) {
        std::string& field = records.back().back();
        if (text[at] == '"' && field.empty()) {
            for (++at;; ++at) {
                if (at >= text.size())
                    return {};
                if (text[at] == '"' && at + 1 < text.size() && text[at + 1] == '"')
                    field += text[++at];
                else if (text[at] == '"')
                    break;
                else
                    field += text[at];
            }
            ++at;
            if (at < text.size() && text[at] != ',' && text[at] != '\r')
                return {};
        } else if (text[at] == ',') {
            records.back().emplace_back();
            ++at;
        } else if (text.compare(at, 2, "\r\n") == 0) {
            records.emplace_back(1);
            at += 2;
        } else if (text[at] == '"' || text[at] == '\r' || text[at] == '\n') {
            return {};
        } else {
            field += text[at++];
        }
    }
    if (records.back() != std::vector<std::string>(1))
        return {}; // the last record not ended
    records.pop_back();
    return records;
}

const char EXPECTED[] = R"TEXT(Fleet report: 14 machines, 20 answer files, 5 of them unreadable

  unsafe                   2
  not allowed to read      1
  run again                1
  waiting for the restart  2
  sound                    3
  unreadable               5

Unsafe (2): at the next boot a device or a service will not start: mend what the findings name before the machine restarts
  STOPPED     preview 2, the uninstaller not started  STOPPED-preview.json
  UNSAFE      preview 2, verify 2  UNSAFE-verify.json

Not allowed to read (1): the verdict could not be made, or a key of the product refuses the uninstaller: run VkCheck as an administrator, mend what it could not read, or give the rights the findings name
  UNREAD-KEY  preview 5, verify 5  UNREAD-KEY-verify.json

Run again (1): a second run of the uninstaller would change something: run it again, restart, verify
  LEFT        verify 1  LEFT-verify.json

Waiting for the restart (2): restart, then verify (a preview alone: the uninstaller was started, its verify answer comes after the restart)
  INSTALLED   preview 0, no verify answer yet  INSTALLED-preview.json
  QUEUED      preview 0, verify 3010  QUEUED-verify.json

Sound (3): nothing to do; the notes name what only a hand removes
  CLEAN       preview 0, verify 0  CLEAN-verify.json
  FOREIGN     preview 0, verify 0  FOREIGN-verify.json
  TS,"Q"&<1>  verify 0  TS,"Q"&<1>-verify.json

Unreadable (5): no answer of the machine could be read: run VkCheck there again
  DAMAGED     preview 0, no answer read  DAMAGED-verify.json: truncated: its JSON ends after 618 bytes, before it is complete
  DETECT      no answer read  DETECT.json: a detect answer: the report reads verify and preview answers
  EMPTY       no answer read  EMPTY-verify.json: empty: VkCheck wrote no answer into it (it could not read the machine, or was stopped)
  NEWER       no answer read  NEWER-verify.json: schema 3, this report reads schemas 1 to 2: written by another version of VkCheck (9.0.0)
  SNAPSHOT    no answer read  SNAPSHOT.json: not an answer: no "answer" field names the verb that wrote it

Findings, most machines first:
  1  [2] class filter: HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E96B-E325-11CE-BFC1-08002BE10318} : LowerFilters: after the run: names kbdhook (no such service): devices of class Keyboard {4D36E96B-E325-11CE-BFC1-08002BE10318} will not start
    STOPPED
  1  [2] class filter: HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E96B-E325-11CE-BFC1-08002BE10318} : UpperFilters: names kbdhook (no such service): devices of class Keyboard {4D36E96B-E325-11CE-BFC1-08002BE10318} will not start
    UNSAFE
  1  [5] service key: HKLM\SYSTEM\CurrentControlSet\Services\i8042prt: named by a driver stack or a dependency, but its key cannot be read
    UNREAD-KEY
  1  [1] Start-menu group: %PROGRAMS%\Tallowin: the group's folder is still there: run the uninstaller again
    LEFT
  1  [3010] pending deletion: C:\Program Files\Tallowin\VkMain.exe: deleted at the restart
    QUEUED

Notes (status 0), most machines first:
  9  [0] last known good: HKLM\SYSTEM\Select: choosing Last Known Good Configuration at the next boot would use the set judged above
    STOPPED, UNSAFE, UNREAD-KEY, LEFT, INSTALLED, QUEUED, CLEAN, FOREIGN, TS,"Q"&<1>
  7  [0] product folder: C:\Program Files\Tallowin: looked for the product's files here: its folder's value is gone (the uninstaller deletes it); for a product installed elsewhere, give --folder DIR
    UNSAFE, UNREAD-KEY, LEFT, QUEUED, CLEAN, FOREIGN, TS,"Q"&<1>
  5  [0] device: ROOT\VKGHOST\0000: not present: the uninstaller leaves devices that are not present; uninstall the hidden device in Device Manager (View, Show hidden devices)
    UNSAFE, UNREAD-KEY, LEFT, QUEUED, FOREIGN
  5  [0] device: ROOT\VKXHCIREV\0000: present; its first hardware ID is the product's but its IDs are longer than the uninstaller reads, so it leaves it: remove it in Device Manager
    UNSAFE, UNREAD-KEY, LEFT, QUEUED, FOREIGN
  5  [0] product folder: C:\Program Files\Tallowin: left: it holds files that are not the product's
    UNSAFE, UNREAD-KEY, LEFT, QUEUED, FOREIGN
  2  [0] device left: ROOT\VKGHOST\0000: not present: the uninstaller removes present devices only
    STOPPED, INSTALLED
  2  [0] device left: ROOT\VKXHCIREV\0000: its first hardware ID is the product's, but its IDs are longer than the 64 bytes the uninstaller reads: remove it in Device Manager
    STOPPED, INSTALLED
  2  [0] service not stopped: DzHelper: it does not take a stop control now: it is deleted at the restart
    STOPPED, INSTALLED
  1  [0] service not stopped: DzXpKbdPnp: it does not take a stop control now: it is deleted at the restart
    STOPPED

Unreadable answers:
  DAMAGED-verify.json: truncated: its JSON ends after 618 bytes, before it is complete
  DETECT.json: a detect answer: the report reads verify and preview answers
  EMPTY-verify.json: empty: VkCheck wrote no answer into it (it could not read the machine, or was stopped)
  NEWER-verify.json: schema 3, this report reads schemas 1 to 2: written by another version of VkCheck (9.0.0)
  SNAPSHOT.json: not an answer: no "answer" field names the verb that wrote it
)TEXT";

TEST(Report, TheFleetsTextCsvAndPageSayWhichMachinesNeedAHandFirst) {
    std::string folder = Folder("report-kinds");
    ASSERT_TRUE(ReportAnswers::WriteAll(folder, ReportAnswers::Kinds()));
    // Files that are no answers: not read, not listed.
    std::ofstream(folder + "/notes.txt") << "not an answer";
    ASSERT_EQ(0, mkdir((folder + "/old.json").c_str(), 0755));
    std::string out;
    std::string csv = folder + "/../report-kinds.csv", html = folder + "/../report-kinds.html";
    ASSERT_EQ(Check::CLEAN, Check({"report", folder, "--csv", csv, "--html", html}, &out));
    std::vector<std::string> expected = Lines(EXPECTED), printed = Lines(out);
    for (size_t i = 0; i < std::max(expected.size(), printed.size()); ++i)
        EXPECT_EQ(i < expected.size() ? expected[i] : "(none)",
                  i < printed.size() ? printed[i] : "(none)")
            << "line " << i + 1;

    // The CSV: a header, then each machine in the text's order.
    struct Row {
        const char* machine;
        const char* verdict;
        const char* status;
        const char* file;
        const char* findings;
        const char* firstFinding; // its beginning
    };
    const Row rows[] = {
        {"STOPPED", "unsafe", "2", "STOPPED-preview.json", "6",
         "class filter: HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-"
         "BFC1-08002BE10318} : LowerFilters: after the run: names kbdhook"},
        {"UNSAFE", "unsafe", "2", "UNSAFE-verify.json", "6",
         "class filter: HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-"
         "BFC1-08002BE10318} : UpperFilters: names kbdhook"},
        {"UNREAD-KEY", "not allowed to read", "5", "UNREAD-KEY-verify.json", "6",
         "service key: HKLM\\SYSTEM\\CurrentControlSet\\Services\\i8042prt: named by"},
        {"LEFT", "run again", "1", "LEFT-verify.json", "6", "Start-menu group: %PROGRAMS%"},
        {"INSTALLED", "waiting for the restart", "0", "INSTALLED-preview.json", "4",
         "service not stopped: DzHelper: "},
        {"QUEUED", "waiting for the restart", "3010", "QUEUED-verify.json", "6",
         "pending deletion: C:\\Program Files\\Tallowin\\VkMain.exe: deleted at the restart"},
        {"CLEAN", "sound", "0", "CLEAN-verify.json", "2", "last known good: "},
        {"FOREIGN", "sound", "0", "FOREIGN-verify.json", "5", "last known good: "},
        {"TS,\"Q\"&<1>", "sound", "0", "TS,\"Q\"&<1>-verify.json", "2", "last known good: "},
        {"DAMAGED", "unreadable", "", "DAMAGED-verify.json", "0", "truncated: its JSON ends"},
        {"DETECT", "unreadable", "", "DETECT.json", "0", "a detect answer"},
        {"EMPTY", "unreadable", "", "EMPTY-verify.json", "0", "empty: "},
        {"NEWER", "unreadable", "", "NEWER-verify.json", "0", "schema 3, "},
        {"SNAPSHOT", "unreadable", "", "SNAPSHOT.json", "0", "not an answer: "},
    };
    std::vector<std::vector<std::string>> records = ParseCsv(FileText(csv));
    ASSERT_EQ(std::size(rows) + 1, records.size()) << FileText(csv);
    EXPECT_EQ(std::vector<std::string>(
                  {"machine", "verdict", "status", "answer file", "findings", "first finding"}),
              records[0]);
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        const std::vector<std::string>& record = records[i + 1];
        ASSERT_EQ(6u, record.size()) << row.machine;
        EXPECT_EQ(std::vector<std::string>(
                      {row.machine, row.verdict, row.status, row.file, row.findings}),
                  std::vector<std::string>(record.begin(), record.begin() + 5));
        EXPECT_EQ(0u, record[5].rfind(row.firstFinding, 0)) << row.machine << ": " << record[5];
    }

    // The page: one row per machine with its group, the names escaped, and
    // nothing it must fetch from elsewhere.
    std::string page = FileText(html);
    for (const char* outside : {"http:", "https:", "src=", "<script", "<link", "url("})
        EXPECT_EQ(std::string::npos, page.find(outside)) << outside;
    std::string table = page.substr(page.find("<table id=\"machines\">"));
    table = table.substr(0, table.find("</table>"));
    size_t at = 0;
    for (const Row& row : rows) {
        std::string group = row.verdict;
        std::replace(group.begin(), group.end(), ' ', '-');
        if (group == "waiting-for-the-restart")
            group = "waiting";
        if (group == "not-allowed-to-read")
            group = "not-allowed";
        std::string name = row.machine == std::string("TS,\"Q\"&<1>")
                               ? "TS,&quot;Q&quot;&amp;&lt;1&gt;"
                               : row.machine;
        std::string start = "<tr data-status=\"" + group + "\"><td>" + name + "</td>";
        at = table.find(start, at);
        ASSERT_NE(std::string::npos, at) << start;
    }
    size_t trs = 0;
    for (size_t tr = table.find("<tr"); tr != std::string::npos; tr = table.find("<tr", tr + 1))
        ++trs;
    EXPECT_EQ(std::size(rows) + 1, trs) << "the header's row and one a machine";
}

std::string GroupOfStatus(int status) {
    switch (status) {
    case Check::UNSAFE:
        return "unsafe";
    case Check::NOT_ALLOWED:
        return "not allowed to read";
    case Check::LEFTOVER:
        return "run again";
    case Check::RESTART:
        return "waiting for the restart";
    default:
        return "sound";
    }
}

TEST(Report, EachMachineOfTheBootMatrixIsInItsVerifyStatussGroupItsPreviewFirst) {
    std::vector<Report::Answer> answers;
    for (const ReportAnswers::File& file : ReportAnswers::Matrix())
        answers.push_back(Report::Read(file.name, file.text));
    Report::Fleet fleet = Report::Gather(answers);
    auto machine = [&](const std::string& name) -> const Report::Machine* {
        for (const Report::Machine& machine : fleet.machines) {
            if (machine.name == name)
                return &machine;
        }
        ADD_FAILURE() << name << " is not in the report";
        return nullptr;
    };
    const std::vector<BootMachines::Break>& breaks = BootMachines::Breaks();
    const std::vector<BootMachines::Machine>& sound = BootMachines::SoundMachines();
    EXPECT_EQ(breaks.size() + sound.size(), fleet.machines.size());
    EXPECT_TRUE(fleet.unreadable.empty());
    for (size_t i = 0; i < breaks.size(); ++i) {
        SCOPED_TRACE(breaks[i].what);
        const Report::Machine* read = machine(ReportAnswers::BreakName(i));
        if (read == nullptr)
            continue;
        EXPECT_EQ(GroupOfStatus(breaks[i].verify), Report::GroupName(read->group));
        EXPECT_EQ(ReportAnswers::BreakName(i) + "-verify.json", read->file);
        EXPECT_EQ(breaks[i].preview, read->previewStatus);
        std::string first = Report::FirstFinding(*read);
        for (const std::string& part :
             breaks[i].verify != Check::CLEAN ? breaks[i].verifyNames : std::vector<std::string>())
            EXPECT_NE(std::string::npos, first.find(part)) << first;
    }
    for (size_t i = 0; i < sound.size(); ++i) {
        const Report::Machine* read = machine(ReportAnswers::SoundName(i));
        if (read != nullptr) {
            EXPECT_EQ(Report::Group::Sound, read->group) << sound[i].what;
        }
    }
    // The machines in the groups' order.
    EXPECT_TRUE(std::is_sorted(
        fleet.machines.begin(), fleet.machines.end(),
        [](const Report::Machine& a, const Report::Machine& b) { return a.group < b.group; }));
}

TEST(Report, AnswersNameTheirVerbSchemaVersionAndTheRunningMachineAlone) {
    Sim::Reset();
    std::string snapshot = testing::TempDir() + "report-snapshot.json";
    std::string version;
    ASSERT_EQ(Check::CLEAN, Check({"--version"}, &version));
    EXPECT_EQ(0u, version.rfind("VkCheck ", 0));
    EXPECT_EQ("\n", version.substr(version.size() - 1));
    EXPECT_GT(version.size(), std::string("VkCheck \n").size());
    ASSERT_EQ(Check::CLEAN, Check({"snapshot", snapshot}));
    for (const char* verb : {"verify", "preview", "detect"}) {
        for (bool running : {true, false}) {
            SCOPED_TRACE(std::string(verb) + (running ? " of the running machine" : " --from"));
            std::string out;
            std::vector<std::string> words = {verb, "--json"};
            if (!running)
                words.insert(words.end(), {"--from", snapshot});
            Check(words, &out);
            nlohmann::json answer = nlohmann::json::parse(out);
            EXPECT_EQ(verb, answer.value("answer", ""));
            EXPECT_EQ(Check::ANSWER_SCHEMA, answer.value("schema", -1));
            EXPECT_EQ(version.substr(8, version.size() - 9), answer.value("version", ""));
            EXPECT_EQ(running ? "TS-SIM" : "(none)", answer.value("machine", "(none)"));
            std::string time = answer.value("time", "");
            EXPECT_EQ(20u, time.size()) << time;
            EXPECT_EQ('Z', time.back()) << time;
        }
    }
    // The simulated Windows' name as Windows gives it: too small a buffer
    // fails with the size it needs, NUL counted; the call is journalled.
    char name[8] = "";
    DWORD size = 6;
    EXPECT_FALSE(Win::GetComputerNameA(name, &size));
    EXPECT_EQ(ERROR_BUFFER_OVERFLOW, Win::GetLastError());
    EXPECT_EQ(7u, size);
    EXPECT_TRUE(Win::GetComputerNameA(name, &size));
    EXPECT_EQ(6u, size);
    EXPECT_STREQ("TS-SIM", name);
    EXPECT_EQ("GetComputerNameA(7) -> TRUE 6 \"TS-SIM\"", Sim::Current().journal.back());
}

TEST(Report, BadArgumentsAndAFolderThatCannotBeListedOrAReportThatCannotBeWritten) {
    std::string folder = Folder("report-arguments");
    const std::vector<std::pair<std::vector<std::string>, int>> runs = {
        {{"report"}, Check::BAD_ARGUMENTS},
        {{"report", folder, "--json"}, Check::BAD_ARGUMENTS},
        {{"report", folder, "--from", "x.json"}, Check::BAD_ARGUMENTS},
        {{"report", folder, "--csv"}, Check::BAD_ARGUMENTS},
        {{"verify", "--html", "x.html"}, Check::BAD_ARGUMENTS},
        {{"report", folder, "verify"}, Check::BAD_ARGUMENTS},
        {{"report", folder + "/missing"}, Check::NO_FOLDER},
        {{"report", folder, "--html", folder + "/missing/report.html"}, Check::NO_FOLDER},
        {{"report", folder}, Check::CLEAN},
    };
    for (const auto& run : runs) {
        std::string words;
        for (const std::string& word : run.first)
            words += word + " ";
        EXPECT_EQ(run.second, Check(run.first)) << words;
    }
}

TEST(Report, TheFolderIsListedThroughTheReadersCallsFilesAlone) {
    Sim::Reset();
    for (const char* file :
         {"C:\\Share\\PC1-verify.json", "C:\\Share\\PC2.JSON", "C:\\Share\\readme.txt"})
        Sim::MakeFile(file, "{}");
    Sim::MakeDirectory("C:\\Share\\old.json");
    Sim::MakeDirectory("C:\\Empty");
    std::vector<std::string> files;
    std::string why;
    ASSERT_TRUE(Report::ListFolder(Description::PlatformCalls(), "C:\\Share\\", &files, &why));
    std::sort(files.begin(), files.end());
    EXPECT_EQ(std::vector<std::string>({"PC1-verify.json", "PC2.JSON", "readme.txt"}), files);
    files.clear();
    EXPECT_TRUE(Report::ListFolder(Description::PlatformCalls(), "C:\\Empty", &files, &why));
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(Report::ListFolder(Description::PlatformCalls(), "C:\\Missing", &files, &why));
    EXPECT_EQ("cannot be listed (error 3)", why);
    EXPECT_EQ(0, Sim::OpenHandles(Sim::HandleKind::Find));
}

nlohmann::json DataFile(const std::string& name) {
    return nlohmann::json::parse(FileText(std::string(VK_TEST_DATA) + "/" + name));
}

// An answer of `verb` with one finding, as the data files give its parts.
std::string AnswerText(const nlohmann::json& row) {
    std::string verb = row.value("answer", "verify");
    nlohmann::json out = {{"answer", verb},
                          {"schema", row.value("schema", Check::ANSWER_SCHEMA)},
                          {"version", "1.0.0"},
                          {"machine", row.value("machine", "PC1")},
                          {"status", row.value("status", 0)}};
    if (row.contains("time"))
        out["time"] = row["time"];
    out[verb == "verify" ? "findings" : "notDone"] = nlohmann::json::array();
    if (row.contains("kind"))
        out["findings"].push_back({{"kind", row["kind"]},
                                   {"where", row["where"]},
                                   {"detail", row["detail"]},
                                   {"status", 0}});
    return out.dump();
}

TEST(Report, EachMachineIsFiledByItsLatestAnswerTheOthersListedUnderIt) {
    nlohmann::json cases = DataFile("report_order.json")["cases"];
    ASSERT_GE(cases.size(), 6u);
    for (const nlohmann::json& row : cases) {
        SCOPED_TRACE(row["what"].get<std::string>());
        std::vector<Report::Answer> answers;
        for (const nlohmann::json& answer : row["answers"])
            answers.push_back(
                Report::Read(answer["file"], AnswerText(answer), answer.value("modified", "")));
        Report::Fleet fleet = Report::Gather(answers);
        ASSERT_EQ(1u, fleet.machines.size());
        EXPECT_TRUE(fleet.unreadable.empty());
        const Report::Machine& machine = fleet.machines[0];
        EXPECT_EQ(row["file"], machine.file);
        EXPECT_EQ(row["status"], machine.status);
        EXPECT_EQ(row["preview"], machine.previewStatus);
        EXPECT_EQ(row["earlier"], machine.earlier.size());
        EXPECT_EQ(row["sameTime"], machine.sameTime.size());
        EXPECT_EQ(answers.size(), machine.earlier.size() + 1 + (machine.previewStatus >= 0));
    }
    // An answer of this schema without its time is not read.
    nlohmann::json timeless = {{"answer", "verify"}, {"status", 0}};
    EXPECT_FALSE(Report::Read("PC1-verify.json", AnswerText(timeless)).unreadable.empty());
}

TEST(Report, WhatAMachineWroteCannotRunInTheSpreadsheetOrThePage) {
    std::string folder = Folder("report-hostile");
    std::vector<std::string> names;
    nlohmann::json rows = DataFile("report_hostile.json")["answers"];
    for (const nlohmann::json& row : rows) {
        nlohmann::json answer = row;
        answer["time"] = "2026-12-10T09:00:00Z";
        std::ofstream(folder + "/" + row["file"].get<std::string>()) << AnswerText(answer);
        std::string file = row["file"];
        names.push_back(row["machine"] != "" ? row["machine"].get<std::string>()
                                             : file.substr(0, file.size() - 12));
    }
    std::string csv = folder + "/../report-hostile.csv", html = folder + "/../report-hostile.html";
    ASSERT_EQ(Check::CLEAN, Check({"report", folder, "--csv", csv, "--html", html}));
    std::vector<std::vector<std::string>> records = ParseCsv(FileText(csv));
    ASSERT_EQ(names.size() + 1, records.size()) << FileText(csv);
    std::vector<std::string> shown;
    for (const std::vector<std::string>& record : records) {
        for (const std::string& cell : record)
            EXPECT_EQ(std::string::npos, std::string("=+-@\t\r").find(cell.substr(0, 1))) << cell;
        shown.push_back(record[0]);
    }
    for (const std::string& name : names) {
        std::string neutral =
            std::string("=+-@\t\r").find(name[0]) == std::string::npos ? name : "'" + name;
        EXPECT_NE(shown.end(), std::find(shown.begin(), shown.end(), neutral)) << name;
    }
    std::string page = FileText(html);
    EXPECT_EQ(std::string::npos, page.find("<script")) << "no markup of a machine's";
    EXPECT_EQ(std::string::npos, page.find("<b>"));
    for (const char* escaped : {"&lt;script&gt;alert(&#39;m&quot;)&lt;/script&gt;",
                                "&lt;script&gt;&#39;f&#39;&quot;-verify.json",
                                "=cmd|&#39; /C calc&#39;!A0: &lt;script&gt;alert(&quot;w&quot;)"})
        EXPECT_NE(std::string::npos, page.find(escaped)) << escaped;
}

} // namespace
