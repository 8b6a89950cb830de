// The Windows build reads the machine it runs on through Windows' own
// functions, which the one source built against Windows itself hands across
// (windows_calls.cpp). This source, like the rest of the program, is built
// against the simulated Windows, on which the preview runs the uninstaller.
#include "../check/check.h"

#include "../description/calls.h"
#include "../report/report.h"

static const Description::Calls& Windows() {
    static const Description::Calls windows = Description::CallsFrom(Description::WindowsCalls());
    return windows;
}

static bool ReadWindows(const std::string& folder, Description::Machine* machine,
                        std::string* why) {
    const Description::Calls& windows = Windows();
    // Read rights only: the service manager's own answer says whether the
    // caller may read what it must.
    SC_HANDLE scm =
        windows.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (scm == nullptr) {
        *why = "the service manager refused reading (error " +
               std::to_string(windows.GetLastError()) + ")";
        return false;
    }
    windows.CloseServiceHandle(scm);
    *machine = Description::Describe(windows, folder);
    return true;
}

int main(int argc, char** argv) {
    Check::BufferOutput();
    Check::Host host;
    host.read = ReadWindows;
    host.name = [] { return Description::ComputerName(Windows()); };
    host.list = [](const std::string& folder, std::vector<std::string>* files, std::string* why) {
        return Report::ListFolder(Windows(), folder, files, why);
    };
    return Check::Main(argc, argv, host);
}
