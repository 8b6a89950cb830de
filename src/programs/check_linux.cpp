// The Linux build answers from snapshots, and reads a Windows that is not
// running from its disk: there is no running Windows to read.
#include "../check/check.h"

#include "../offline/verbs.h"
#include "../report/report.h"

static bool ReadNothing(const std::string&, Description::Machine*, std::string* why) {
    *why = "this build reads snapshots (--from FILE) and the disks of machines that are not "
           "running (--windows DIR)";
    return false;
}

int main(int argc, char** argv) {
    Check::BufferOutput();
    Check::Host host;
    host.read = ReadNothing;
    host.list = Report::ListPosixFolder;
    return Check::Main(argc, argv, host, &Offline::VERBS);
}
