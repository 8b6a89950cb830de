// The offline reader against the simulated Windows: the current machine,
// switched off, judged by verify as it is and as its disk read offline.
#pragma once

#include <string>
#include <vector>

namespace OfflineSupport {

// A folder of its own under the system's temporary folder, removed with
// everything in it when it goes.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return folder; }

  private:
    std::string folder;
};

// The current machine as a disk read offline finds it: nothing running (each
// service stopped, its program gone), every device present (a hive does not
// say which are attached), and every key readable, writable and deletable (a
// disk read on Linux knows no access checks). Returns false when it held a
// key that refused opening, writing or deletion, which a disk cannot carry.
bool SwitchOff();

// Verify of the current machine, switched off, against verify of its disk
// written under `folder` and read offline: the differences as lines
// ("online: ..." and "offline: ..."), empty when the two verdicts (status
// and every finding) are the same.
std::vector<std::string> OfflineAgainstOnline(const std::string& folder);

} // namespace OfflineSupport
