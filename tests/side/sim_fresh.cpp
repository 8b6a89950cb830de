#include "side_run.h"

#include "platform/sim/machine.h"

bool FreshMachine(std::string*) {
    Sim::Reset();
    Sim::Current().journalOn = false;
    return true;
}

std::string ConsoleText() {
    return Sim::Current().consoleText;
}
