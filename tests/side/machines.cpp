// Writes the descriptions of the machines run side by side: the typical
// installed machine, the machine without the product, the installed machine
// with foreign entries around every product entry, and the machine each
// fuzz seed input builds, where its parts can be laid down through Win32
// calls. Each is built on the simulated Windows and described there.
#include "description/description.h"
#include "fuzz/fuzz_machine.h"
#include "machine/footprint.h"
#include "platform/sim/machine.h"
#include "side/lay_down.h"
#include "side/text_file.h"
#include "simulated/load.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

const char CLASS_KEY[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const char WINLOGON[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// Why the current machine cannot be laid down at all, or "": a user other
// than an administrator allowed to restart, or a Windows older than 2000.
std::string NotLaid(const Sim::Machine& m) {
    if (m.version != Sim::VERSION_XP && m.version != Sim::VERSION_2000 &&
        m.version != Sim::VERSION_VISTA)
        return "a Windows older than 2000";
    if (!m.administrator)
        return "a user without administrative rights";
    if (!m.shutdownRight)
        return "a token without the shutdown privilege";
    return "";
}

// Takes out of the current machine what no Win32 call of an installer
// makes, and says what that was: the run's conditions (a call made to fail,
// a failing heap or console), key access rights that refuse opening or
// deletion, devices that are not present (Wine's device sets hold every
// device) or whose class installer refuses removal.
std::vector<std::string> StripUnlayable() {
    std::vector<std::string> stripped;
    Sim::Machine& m = Sim::Current();
    if (m.failCall != 0 || m.consoleFails || m.heapFailsAfter >= 0)
        stripped.push_back("the failure its input injects");
    m.failCall = 0;
    m.consoleFails = false;
    m.heapFailsAfter = -1;
    bool refusing = false;
    std::function<void(Sim::Key&)> walk = [&](Sim::Key& key) {
        refusing = refusing || key.refuseOpen || key.refuseDelete || key.refuseWrite;
        key.refuseOpen = key.refuseDelete = key.refuseWrite = false;
        for (auto& child : key.children)
            walk(*child.second);
    };
    walk(*m.machineRoot);
    if (refusing)
        stripped.push_back("key access rights");
    bool absent = false, refuses = false;
    for (size_t i = m.devices.size(); i-- > 0;) {
        refuses = refuses || m.devices[i].refuseRemoval;
        m.devices[i].refuseRemoval = false;
        if (!m.devices[i].present) {
            absent = true;
            m.devices.erase(m.devices.begin() + (long)i);
        }
    }
    if (absent)
        stripped.push_back("devices not present");
    if (refuses)
        stripped.push_back("devices refusing removal");
    return stripped;
}

// The installed machine without what Wine cannot make: a device that is
// not present (Wine's device sets hold every device).
void DropAbsentDevices() {
    auto& devices = Sim::Current().devices;
    for (size_t i = devices.size(); i-- > 0;) {
        if (!devices[i].present)
            devices.erase(devices.begin() + (long)i);
    }
}

void AddForeignEntries() {
    const char* const handlers = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
                                 "Folder\\Desk\\shellex\\PropertySheetHandlers\\";
    Sim::SetValue(HKEY_LOCAL_MACHINE, std::string(handlers) + "Seat Display Extension2", "", REG_SZ,
                  Sim::Sz("{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B28}"));
    Sim::SetValue(HKEY_LOCAL_MACHINE, std::string(WINLOGON) + "\\Notify\\RyWinLogX", "DLLName",
                  REG_SZ, Sim::Sz("other.dll"));
    Sim::SetValue(HKEY_LOCAL_MACHINE, WINLOGON, "LogonTypeX", REG_DWORD, Sim::Dword(0));
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder",
                  "ListX", REG_MULTI_SZ, Sim::MultiSz({"TermService", "Multiuser"}));
    const char* const classes[] = {"{4D36E967-E325-11CE-BFC1-08002BE10318}",
                                   "{4D36E96B-E325-11CE-BFC1-08002BE10318}"};
    Sim::SetValue(HKEY_LOCAL_MACHINE, std::string(CLASS_KEY) + classes[0], "UpperFilters",
                  REG_MULTI_SZ, Sim::MultiSz({"PartMgr", "DzStore", "VolSnap", "DzStoreX"}));
    Sim::SetValue(HKEY_LOCAL_MACHINE, std::string(CLASS_KEY) + classes[0], "LowerFilters",
                  REG_MULTI_SZ, Sim::MultiSz({"DzStore"}));
    Sim::SetValue(HKEY_LOCAL_MACHINE, std::string(CLASS_KEY) + classes[1], "UpperFilters",
                  REG_MULTI_SZ, Sim::MultiSz({"dzxpkbdpnp", "kbdclass", "DzXpKbdPnp2"}));
    // The other product's drivers the foreign filters name, installed as
    // Windows installs a driver: the machine boots with them.
    for (const char* name : {"DzStoreX", "DzXpKbdPnp2"}) {
        std::string key = std::string("SYSTEM\\CurrentControlSet\\Services\\") + name;
        std::string image = std::string("System32\\DRIVERS\\") + name + ".sys";
        Sim::SetValue(HKEY_LOCAL_MACHINE, key, "Type", REG_DWORD, Sim::Dword(1));
        Sim::SetValue(HKEY_LOCAL_MACHINE, key, "Start", REG_DWORD, Sim::Dword(3));
        Sim::SetValue(HKEY_LOCAL_MACHINE, key, "ErrorControl", REG_DWORD, Sim::Dword(1));
        Sim::SetValue(HKEY_LOCAL_MACHINE, key, "ImagePath", REG_EXPAND_SZ, Sim::Sz(image));
        Sim::MakeFile(Sim::Current().windowsDirectory + "\\" + image);
    }
    Sim::SetValue(HKEY_LOCAL_MACHINE,
                  "SYSTEM\\CurrentControlSet\\Services\\TermService\\Parameters", "Seats",
                  REG_DWORD, Sim::Dword(4));
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                  "PendingFileRenameOperations", REG_MULTI_SZ,
                  std::vector<BYTE>{'\\', '?', '?', '\\', 'C', ':', '\\', 'o', 't', 'h', 'e', 'r',
                                    '.', 't', 'm', 'p', 0, 0, 0});
    Sim::Machine& m = Sim::Current();
    for (const std::string& group : {m.programsFolder, m.commonProgramsFolder}) {
        Sim::MakeFile(group + "\\Tallowin\\notes.txt");
        Sim::MakeDirectory(group + "\\Tallowin\\Sub");
        Sim::MakeFile(group + "\\TallowinX.lnk");
    }
    Sim::MakeFile(std::string(Footprint::PRODUCT_FOLDER) + "VkServer.exe.bak");
    const GUID other = {
        0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
    Sim::AddDevice("ROOT\\OTHERHUB\\0000", other, {"Korrin\\KrHub2", "Korrin"});
    Sim::AddDevice("ROOT\\OTHERCAM\\0000", other, {"USB\\VID_1234&PID_0001"});
}

bool Write(const std::string& path) {
    Description::Machine machine = Description::Describe(Description::PRODUCT_FOLDER);
    Sim::Observe(&machine);
    std::string why = Description::Unlayable(machine);
    if (!why.empty()) {
        std::printf("%s: not laid down: %s\n", path.c_str(), why.c_str());
        return false;
    }
    std::ofstream(path, std::ios::binary) << Description::Write(machine) << "\n";
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR [FUZZ-INPUT...]\n", argv[0]);
        return 2;
    }
    std::string out = argv[1];
    Sim::Reset();
    Write(out + "/clean.json");
    Sim::Reset();
    Footprint::Install();
    DropAbsentDevices();
    Write(out + "/installed.json");
    Sim::Reset();
    Footprint::Install();
    DropAbsentDevices();
    AddForeignEntries();
    Write(out + "/foreign.json");

    int written = 0, whole = 0;
    std::map<std::string, int> notLaid, stripped;
    for (int i = 2; i < argc; ++i) {
        std::string data;
        if (!ReadTextFile(argv[i], &data)) {
            std::fprintf(stderr, "vk_machines: cannot read %s\n", argv[i]);
            return 1;
        }
        BuildFuzzMachine((const uint8_t*)data.data(), data.size());
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        std::string why = NotLaid(Sim::Current());
        std::vector<std::string> parts = StripUnlayable();
        Description::Machine machine = Description::Describe(Description::PRODUCT_FOLDER);
        Sim::Observe(&machine);
        if (why.empty())
            why = Description::Unlayable(machine);
        if (!why.empty()) {
            ++notLaid[why];
            continue;
        }
        std::ofstream(out + "/corpus-" + name + ".json", std::ios::binary)
            << Description::Write(machine) << "\n";
        ++written;
        whole += parts.empty();
        for (const std::string& part : parts)
            ++stripped[part];
    }
    if (argc > 2) {
        std::printf("fuzz seed machines: %d laid down (%d whole), %d not\n", written, whole,
                    argc - 2 - written);
        for (auto& part : stripped)
            std::printf("  %3d laid down without %s\n", part.second, part.first.c_str());
        for (auto& reason : notLaid)
            std::printf("  %3d not laid down: %s\n", reason.second, reason.first.c_str());
    }
    return 0;
}
