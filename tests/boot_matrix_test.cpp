// The next boot's verdict, break by break: each break planted alone into the
// installed machine whose PS/2 keyboard runs on its own port driver, judged
// by the preview before the run and by verify after the run and the restart.
#include "boot_machines.h"
#include "check/check.h"
#include "machine/footprint.h"
#include "platform/sim/machine.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using BootMachines::Break;

// The lines a verdict shows: a finding's kind, place and detail, or one of a
// preview's step actions (status -1).
struct Line {
    std::string text;
    int status;
};

std::vector<Line> Lines(const std::vector<Check::Finding>& findings) {
    std::vector<Line> lines;
    for (const Check::Finding& f : findings)
        lines.push_back({std::string(f.kind()) + " " + f.where + ": " + f.detail, f.status});
    return lines;
}

// Whether one line of the status (or a step's action) holds every part; no
// parts, nothing to name.
bool Named(const std::vector<Line>& lines, int status, const std::vector<std::string>& parts) {
    return parts.empty() || std::any_of(lines.begin(), lines.end(), [&](const Line& line) {
               return (line.status == status || line.status == -1) &&
                      std::all_of(parts.begin(), parts.end(), [&](const std::string& part) {
                          return line.text.find(part) != std::string::npos;
                      });
           });
}

std::string Shown(const std::vector<Line>& lines) {
    std::string text;
    for (const Line& line : lines)
        text += "  [" + std::to_string(line.status) + "] " + line.text + "\n";
    return text;
}

Check::Verdict VerifyAfterTheRunAndTheRestart() {
    RunUninstall();
    Sim::EndProcess();
    Sim::Restart();
    return Check::Verify(Description::Describe());
}

TEST(BootMatrix, EachBreakIsNamedByThePreviewAndByVerifyAfterTheRestart) {
    for (const Break& row : BootMachines::Breaks()) {
        SCOPED_TRACE(row.what);
        Sim::Reset();
        BootMachines::Installed();
        row.plant();
        Check::Preview preview = Check::PreviewRun(Description::Describe());
        std::vector<Line> previewed = Lines(preview.notDone);
        for (const Check::Step& step : preview.steps) {
            for (const std::string& action : step.actions)
                previewed.push_back({action, -1});
        }
        EXPECT_EQ(row.preview, preview.status) << Shown(Lines(preview.notDone));
        EXPECT_TRUE(Named(previewed, row.preview, row.previewNames)) << Shown(previewed);

        Check::Verdict verdict = VerifyAfterTheRunAndTheRestart();
        std::vector<Line> verified = Lines(verdict.findings);
        EXPECT_EQ(row.verify, verdict.status) << Shown(verified);
        EXPECT_TRUE(Named(verified, row.verify, row.verifyNames)) << Shown(verified);
    }
}

TEST(BootMatrix, NoFalseAlarmAfterTheRunAndTheRestart) {
    for (const BootMachines::Machine& machine : BootMachines::SoundMachines()) {
        SCOPED_TRACE(machine.what);
        Sim::Reset();
        machine.lay();
        Check::Verdict verdict = VerifyAfterTheRunAndTheRestart();
        EXPECT_EQ(Check::CLEAN, verdict.status) << Shown(Lines(verdict.findings));
    }
}

} // namespace
