#include "answers.h"

#include "boot_machines.h"
#include "check/check.h"
#include "machine/footprint.h"
#include "platform/sim/machine.h"
#include "uninstall/uninstall.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>

namespace ReportAnswers {

namespace {

// When the startup script wrote each answer: the preview before the run,
// verify after the restart.
const char PREVIEWED[] = "2026-12-10T08:00:00Z";
const char VERIFIED[] = "2026-12-10T09:00:00Z";

// The answers the machine now current gives, as its startup script writes
// them: the preview before the run, verify after the run and (unless
// `restart` is false) the restart, and after `after` where given. Either
// answer may be left out.
void Answer(const std::string& name, bool preview, bool verify, bool restart,
            std::vector<File>* out, void (*after)() = nullptr) {
    Sim::Current().computerName = name;
    if (preview) {
        Check::Preview run = Check::PreviewRun(Description::Describe());
        out->push_back({name + "-preview.json",
                        Check::PreviewJson(run, {Description::ComputerName(), PREVIEWED}) + "\n"});
    }
    if (!verify)
        return;
    RunUninstall();
    Sim::EndProcess();
    if (restart)
        Sim::Restart();
    if (after != nullptr)
        after();
    Check::Verdict verdict = Check::Verify(Description::Describe());
    out->push_back(
        {name + "-verify.json",
         Check::ReportJson(verdict, {}, {Description::ComputerName(), VERIFIED}) + "\n"});
}

void Installed() {
    Footprint::Install();
}

// A product file queued for deletion again after the restart (by a second
// run that was not followed by one, say): the removal waits for a restart.
void Queued() {
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                  "PendingFileRenameOperations", REG_MULTI_SZ,
                  Sim::MultiSz({"\\??\\C:\\Program Files\\Tallowin\\VkMain.exe", ""}));
}

// The boot matrix's break named `what`, planted into its installed machine.
void Planted(const char* what) {
    for (const BootMachines::Break& row : BootMachines::Breaks()) {
        if (std::string(row.what) == what) {
            BootMachines::Installed();
            row.plant();
            return;
        }
    }
    std::fprintf(stderr, "no break \"%s\" in the boot matrix\n", what);
    std::abort();
}

std::string Numbered(const char* prefix, size_t number, int digits) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%0*zu", prefix, digits, number);
    return name;
}

} // namespace

std::string BreakName(size_t index) {
    return Numbered("BREAK-", index + 1, 2);
}

std::string SoundName(size_t index) {
    return Numbered("SOUND-", index + 1, 1);
}

std::vector<File> Matrix() {
    std::vector<File> files;
    const std::vector<BootMachines::Break>& breaks = BootMachines::Breaks();
    for (size_t i = 0; i < breaks.size(); ++i) {
        Sim::Reset();
        BootMachines::Installed();
        breaks[i].plant();
        Answer(BreakName(i), true, true, true, &files);
    }
    const std::vector<BootMachines::Machine>& sound = BootMachines::SoundMachines();
    for (size_t i = 0; i < sound.size(); ++i) {
        Sim::Reset();
        sound[i].lay();
        Answer(SoundName(i), true, true, true, &files);
    }
    return files;
}

std::vector<File> Kinds() {
    struct Laid {
        const char* name;
        void (*lay)();
        bool preview, verify, restart;
        void (*after)();
    };
    const Laid machines[] = {
        {"INSTALLED", Installed, true, false, false, nullptr},
        {"QUEUED", Installed, true, true, true, Queued},
        {"CLEAN", [] {}, true, true, true, nullptr},
        {"FOREIGN", [] { BootMachines::SoundMachines()[3].lay(); }, true, true, true, nullptr},
        {"UNSAFE", [] { Planted("class upper filter"); }, true, true, true, nullptr},
        {"UNREAD-KEY", [] { Planted("an unreadable service key"); }, true, true, true, nullptr},
        {"STOPPED", [] { Planted("class lower filter"); }, true, false, false, nullptr},
        {"DAMAGED", Installed, true, true, true, nullptr},
        // A Start-menu group made again after the run (a roaming profile
        // copied back, say): a second run would delete it.
        {"LEFT", Installed, false, true, true,
         [] { Sim::MakeDirectory(Sim::Current().programsFolder + "\\Tallowin"); }},
    };
    std::vector<File> files;
    for (const Laid& machine : machines) {
        Sim::Reset();
        machine.lay();
        Answer(machine.name, machine.preview, machine.verify, machine.restart, &files,
               machine.after);
    }
    for (File& file : files) {
        // Cut off half way, as a share that filled up or a machine switched
        // off while writing leaves it.
        if (file.name == "DAMAGED-verify.json")
            file.text.resize(file.text.size() / 2);
    }
    // A verify answer without a machine name, whose file name holds CSV's
    // and HTML's own characters.
    Sim::Reset();
    files.push_back(
        {"TS,\"Q\"&<1>-verify.json",
         Check::ReportJson(Check::Verify(Description::Describe()), {}, {"", VERIFIED})});
    // What else a share holds: a snapshot, an answer of a later schema, a
    // detect answer, and an empty file (VkCheck could not read the machine).
    files.push_back({"SNAPSHOT.json", Description::Write(Description::Describe())});
    nlohmann::json later = nlohmann::json::parse(Check::ReportJson({}, {}, {"NEWER"}));
    later["schema"] = Check::ANSWER_SCHEMA + 1;
    later["version"] = "9.0.0";
    files.push_back({"NEWER-verify.json", later.dump(1)});
    files.push_back({"DETECT.json", "{\"answer\": \"detect\", \"schema\": 1, \"present\": false}"});
    files.push_back({"EMPTY-verify.json", ""});
    return files;
}

bool WriteAll(const std::string& folder, const std::vector<File>& files) {
    for (const File& file : files) {
        std::ofstream out(folder + "/" + file.name, std::ios::binary);
        out << file.text;
        out.close();
        if (!out)
            return false;
    }
    return true;
}

} // namespace ReportAnswers
