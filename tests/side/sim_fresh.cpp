// The side-by-side runner's platform part on the simulated Windows: each
// machine made through the one loader, as the installer's Win32 calls lay it
// down under Wine.
#include "side_run.h"

#include "lay_down.h"
#include "platform/sim/machine.h"
#include "simulated/load.h"

bool FreshMachine(std::string*) {
    Sim::Reset();
    Sim::Current().journalOn = false;
    return true;
}

bool LayOnCleanMachine(const Description::Machine& machine, std::string* why) {
    // The clean machine is a fresh Windows, read once.
    static const Description::Machine clean = [] {
        Sim::Reset();
        return Description::Describe();
    }();
    *why = Description::Unlayable(machine);
    if (!why->empty())
        return false;
    Sim::Load(Description::LaidDown(machine, clean));
    Sim::Current().journalOn = false;
    return true;
}

bool LayOnThisMachine(const Description::Machine&, std::string* why) {
    *why = "the simulated Windows lasts as long as this program: there is no machine to plant on";
    return false;
}

std::vector<std::string> Settle(const Description::Machine&) {
    return {};
}

void ObserveMachine(Description::Machine* machine) {
    Sim::Observe(machine);
}

std::string ConsoleText() {
    return Sim::Current().consoleText;
}
