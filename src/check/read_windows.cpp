// The Windows build reads the machine it runs on. This source alone is
// built against Windows itself; the rest of the program runs the uninstaller
// on the simulated Windows.
#include "check.h"

#include "../platform/platform.h"

static bool ReadWindows(const std::string& folder, Description::Machine* machine,
                        std::string* why) {
    // Read rights only: the service manager's own answer says whether the
    // caller may read what it must.
    SC_HANDLE scm =
        Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (scm == nullptr) {
        *why = "the service manager refused reading (error " + std::to_string(Win::GetLastError()) +
               ")";
        return false;
    }
    Win::CloseServiceHandle(scm);
    *machine = Description::Describe(folder);
    return true;
}

int main(int argc, char** argv) {
    Check::BufferOutput();
    return Check::Main(argc, argv, ReadWindows);
}
