// The Linux build answers from snapshots alone: there is no Windows to read.
#include "check.h"

static bool ReadNothing(const std::string&, Description::Machine*, std::string* why) {
    *why = "this build reads snapshots only: give one with --from FILE";
    return false;
}

int main(int argc, char** argv) {
    Check::BufferOutput();
    return Check::Main(argc, argv, ReadNothing);
}
