// The boot judge's matrix: each break planted alone into the installed
// machine whose PS/2 keyboard runs on its own port driver, with what the
// preview gives before the run and verify after the run and the restart;
// and machines on which verify finds nothing. Shared by the judge's tests
// and those of the offline reader, which must judge them alike.
#pragma once

#include <string>
#include <vector>

namespace BootMachines {

struct Break {
    const char* what;
    void (*plant)();
    int preview; // the preview's status before the run, and what its finding names
    std::vector<std::string> previewNames;
    int verify; // verify's status after the run and the restart, and what its finding names
    std::vector<std::string> verifyNames;
};

const std::vector<Break>& Breaks();

// The installed machine, its keyboard's driver stack whole: the port driver
// below the keyboard class's filters, so that they load for it.
void Installed();

// Machines verify finds sound after the run and the restart, each laid on a
// fresh simulated Windows.
struct Machine {
    const char* what;
    void (*lay)();
};
const std::vector<Machine>& SoundMachines();

} // namespace BootMachines
