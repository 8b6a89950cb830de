// The run under faults: every platform call of the typical run made to fail
// in turn, and machines the product's installer would never leave.
#include "machine/footprint.h"
#include "machine/invariant.h"
#include "support.h"
#include "uninstall/uninstall.h"

namespace {

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (auto& line : lines)
        text += "  " + line + "\n";
    return text;
}

class Faults : public FreshMachine {
  protected:
    void SetUp() override {
        Sim::Reset();
        Footprint::Install();
    }
};

} // namespace

TEST_F(Faults, TheTypicalRunKeepsTheInvariant) {
    Invariant::Snapshot before = Invariant::Take();
    RunUninstall();
    EXPECT_EQ("", Join(Invariant::Check(before, Sim::Current())));
    EXPECT_EQ("", Join(Invariant::Leaks()));
}

TEST_F(Faults, TheInvariantCatchesForeignDamage) {
    // The checker itself: damage of each kind it guards against is reported.
    Invariant::Snapshot before = Invariant::Take();
    Sim::SetValue(
        HKEY_LOCAL_MACHINE,
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}",
        "UpperFilters", REG_MULTI_SZ, Sim::MultiSz({"DzStore"}));
    Sim::DeleteKeyAt(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\kbdclass");
    M().devices.erase(M().devices.begin());
    Sim::FindNode(M().programsFolder)->children.erase("Internet Explorer.lnk");
    M().services.erase("RpcSs");
    EXPECT_EQ(5u, Invariant::Check(before, Sim::Current()).size())
        << Join(Invariant::Check(before, Sim::Current()));
}

TEST_F(Faults, EveryCallOfTheTypicalRunFailingInTurnLeavesARunThatEndsCleanly) {
    RunUninstall();
    const long calls = M().failableCalls;
    ASSERT_GT(calls, 250);
    for (long fail = 1; fail <= calls; ++fail) {
        Sim::Reset();
        Footprint::Install();
        Invariant::Snapshot before = Invariant::Take();
        M().failCall = fail;
        RunUninstall();
        std::vector<std::string> faults = Invariant::Check(before, Sim::Current());
        std::vector<std::string> leaks = Invariant::Leaks();
        ASSERT_TRUE(faults.empty() && leaks.empty()) << "call " << fail << " failing:\n"
                                                     << Join(faults) << Join(leaks);
        // The run went on to its end: the restart is asked for unless the
        // failed call was the service control manager's open, which ends
        // the run by design, or a call of the restart itself.
        bool scmRefused = CallsOf("OpenSCManagerA").size() == 1 &&
                          M().journal.back().find("Unable to start") != std::string::npos;
        ASSERT_TRUE(scmRefused || !CallsOf("ExitWindowsEx").empty()) << "call " << fail;
    }
}
