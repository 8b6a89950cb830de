#include "offline_compare.h"

#include "hive_writer.h"

#include "check/check.h"
#include "offline/offline.h"
#include "platform/sim/machine.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace OfflineSupport {

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vk-offline-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    folder = made != nullptr ? made : "";
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}

namespace {

bool Accessible(Sim::Key* key) {
    bool accessible = !key->refuseOpen && !key->refuseWrite && !key->refuseDelete;
    key->refuseOpen = key->refuseWrite = key->refuseDelete = false;
    for (auto& child : key->children)
        accessible = Accessible(child.second.get()) && accessible;
    return accessible;
}

std::vector<std::string> VerdictLines(const Check::Verdict& verdict) {
    std::vector<std::string> lines = {"status " + std::to_string(verdict.status)};
    for (const Check::Finding& f : verdict.findings)
        lines.push_back("[" + std::to_string(f.status) + "] " + f.kind() + " | " + f.where + " | " +
                        f.detail);
    return lines;
}

} // namespace

bool SwitchOff() {
    Sim::Machine& m = Sim::Current();
    for (auto& service : m.services) {
        service.second.state = SERVICE_STOPPED;
        service.second.acceptsStop = true;
        service.second.customControls.clear();
    }
    for (Sim::Device& device : m.devices)
        device.present = true;
    return Accessible(m.machineRoot.get());
}

std::vector<std::string> OfflineAgainstOnline(const std::string& folder) {
    Check::Verdict online = Check::Verify(Description::Describe());
    std::vector<std::string> differences;
    std::string why;
    if (!WriteWindows(folder, &why))
        return {"the disk cannot be written: " + why};
    Offline::Place place;
    place.windowsFolder = folder + "/" + Sim::Current().windowsDirectory.substr(3);
    Offline::Reading reading;
    Description::Machine machine;
    if (!Offline::Read(place, &machine, &reading))
        return {"offline: not read (" + std::to_string(reading.status) + "): " + reading.why};
    for (const std::string& warning : reading.warnings)
        differences.push_back("offline: warning: " + warning);
    // The same findings in any order: offline the devices come in the
    // order of their keys, not of the device tree.
    std::vector<std::string> expected = VerdictLines(online);
    std::vector<std::string> got = VerdictLines(Check::Verify(machine));
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    if (expected != got) {
        for (const std::string& line : expected)
            differences.push_back("online:  " + line);
        for (const std::string& line : got)
            differences.push_back("offline: " + line);
    }
    return differences;
}

} // namespace OfflineSupport
