// The machine a fuzz input builds: the product's footprint in part or in
// whole, foreign keys, values, filters, services and devices, malformed
// values, refusals and failures.
#include "fuzz_machine.h"
#include "catalogue/catalogue.h"
#include "machine/footprint.h"
#include "platform/sim/machine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <tuple>

namespace {

const char* const CLASS_KEYS[] = {
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E980-E325-11CE-BFC1-08002BE10318}",
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}",
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{71A27CDD-812A-11D0-BEC7-08002BE2092F}",
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}",
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}",
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}",
};
const char GROUP_ORDER[] = "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder";
const char CONTROL[] = "SYSTEM\\CurrentControlSet\\Control\\Multiuser";
const char TERMSERVICE[] = "SYSTEM\\CurrentControlSet\\Services\\TermService";
const char WINLOGON[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// Places where foreign keys and values are planted: beside and inside what
// the run touches.
const char* const PLACES[] = {
    "SYSTEM\\CurrentControlSet\\Control\\Multiuser",
    "SYSTEM\\CurrentControlSet\\Control",
    "SYSTEM\\CurrentControlSet\\Control\\Class",
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}",
    "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder",
    "SYSTEM\\CurrentControlSet\\Services",
    "SYSTEM\\CurrentControlSet\\Services\\TermService",
    "SYSTEM\\CurrentControlSet\\Services\\DzStore",
    "SOFTWARE\\Classes\\CLSID",
    "SOFTWARE\\Classes\\CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}",
    "SOFTWARE\\Classes\\CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B2}",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
    "Folder\\Desk\\shellex\\PropertySheetHandlers",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
    "Folder\\Desk\\shellex\\PropertySheetHandlers\\Seat Display Extension",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\RyWinLog",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\RyWinLogX",
};

// Names for lists and keys: the product's in any case, Windows' own, odd ones.
const char* const NAMES[] = {
    "DzStore",     "DZSTORE",     "dzstore",     "DzXpKbdPnp",   "dzxpkbdpnp", "DzXpMouPnp",
    "DzXpHidCls",  "TermService", "termservice", "Multiuser",    "MULTIUSER",  "PartMgr",
    "VolSnap",     "kbdclass",    "mouclass",    "DzStor",       "DzStoreX",   "Dz",
    "Filter",      "Base",        "Event Log",   "TermServices", "DzService",  "a",
    "\xE9l\xE8ve", "Multiuser ",
};

const char* const DEVICE_IDS[] = {"Korrin\\KrHub",   "KORRIN\\VKXHCI", "*zoltaudio01",
                                  "Root\\VkBusEnum", "Korrin\\KrHub2", "Korrin"};
const char* const SERVICE_NAMES[] = {"DzService", "DzHelper", "vkbus", "Dzstd", "DzStore"};
const char* const GROUP_FILES[] = {"Extra.lnk", "notes.txt",      "Sub",
                                   "x.LNK",     "Tallowin  .lnk", "a.lnk2"};

std::string Pick(FuzzedDataProvider& in, const char* const* table, size_t count) {
    return table[in.ConsumeIntegralInRange<size_t>(0, count - 1)];
}

// A list value's bytes: entries from the pool or random text, then one of
// the ways such a value is found damaged.
std::vector<BYTE> ListBytes(FuzzedDataProvider& in) {
    std::vector<BYTE> data;
    int entries = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < entries; ++i) {
        std::string entry =
            in.ConsumeBool() ? Pick(in, NAMES, std::size(NAMES)) : in.ConsumeRandomLengthString(40);
        data.insert(data.end(), entry.begin(), entry.end());
        data.push_back(0);
    }
    data.push_back(0);
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: // the list's final NUL missing
        data.pop_back();
        break;
    case 1: // cut inside an entry
        if (!data.empty())
            data.resize(in.ConsumeIntegralInRange<size_t>(0, data.size() - 1));
        break;
    case 2: // an odd byte after the end
        data.push_back((BYTE)in.ConsumeIntegral<uint8_t>());
        break;
    case 3: { // padded to around 4096 bytes
        size_t size = in.ConsumeIntegralInRange<size_t>(4090, 4100);
        BYTE fill = in.ConsumeBool() ? 0 : 'F';
        if (data.size() < size)
            data.resize(size, fill);
        break;
    }
    default:
        break;
    }
    return data;
}

DWORD AnyType(FuzzedDataProvider& in) {
    const DWORD types[] = {REG_MULTI_SZ, REG_MULTI_SZ, REG_SZ,  REG_EXPAND_SZ,
                           REG_BINARY,   REG_DWORD,    REG_NONE};
    return types[in.ConsumeIntegralInRange<size_t>(0, std::size(types) - 1)];
}

void PlantFolderValue(FuzzedDataProvider& in) {
    std::string folder;
    switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0:
        folder = std::string("\0", 1);
        break;
    case 1:
        folder = "";
        break;
    case 2:
        folder = std::string(4095, 'C') + '\0';
        break;
    case 3:
        folder = "C:\\" + std::string(in.ConsumeIntegralInRange(200, 260), 'p') + '\0';
        break;
    case 4:
        folder = "Tallowin\\";
        folder += '\0';
        break;
    case 5:
        folder = "c:\\program files\\TALLOWIN";
        break; // not ended
    case 6:
        folder = "\\\\server\\share\\Tallowin\\";
        folder += '\0';
        break;
    case 7:
        folder = "C:\\Program Files\\Tallowin";
        folder += '\0';
        break;
    case 8:
        folder = "C:\\Program Files\\..\\Tallowin .\\";
        folder += '\0';
        break;
    default:
        folder = in.ConsumeRandomLengthString(300);
        break;
    }
    Sim::SetValue(HKEY_LOCAL_MACHINE, CONTROL, PRODUCT_FOLDER_VALUE, AnyType(in),
                  std::vector<BYTE>(folder.begin(), folder.end()));
}

void PlantDevice(FuzzedDataProvider& in) {
    GUID guid{in.ConsumeIntegral<uint32_t>(), 0, 0, {}};
    std::vector<std::string> ids;
    int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        if (in.ConsumeBool()) {
            ids.push_back(Pick(in, DEVICE_IDS, std::size(DEVICE_IDS)));
        } else {
            ids.push_back(in.ConsumeRandomLengthString(40));
        }
    }
    std::string name = "ROOT\\FUZZ\\" + std::to_string(Sim::Current().nextDevInst);
    Sim::Device& device = Sim::AddDevice(name, guid, ids);
    if (in.ConsumeBool() && !device.hardwareIds.empty()) // a property with no terminator
        device.hardwareIds.resize(in.ConsumeIntegralInRange<size_t>(0, device.hardwareIds.size()));
    device.present = in.ConsumeIntegralInRange(0, 3) != 0;
    device.refuseRemoval = in.ConsumeIntegralInRange(0, 3) == 0;
}

void PlantService(FuzzedDataProvider& in) {
    bool product = in.ConsumeBool();
    std::string name = product ? Pick(in, SERVICE_NAMES, std::size(SERVICE_NAMES))
                               : "Foreign" + std::to_string(in.ConsumeIntegral<uint8_t>());
    Sim::Machine& m = Sim::Current();
    std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + name;
    if (m.services.count(name) == 0) {
        Sim::SetValue(
            HKEY_LOCAL_MACHINE, key, "Type", REG_DWORD,
            Sim::Dword(in.ConsumeBool() ? SERVICE_KERNEL_DRIVER : SERVICE_WIN32_OWN_PROCESS));
        m.services[name] = Sim::Service();
    }
    Sim::Service& s = m.services[name];
    s.state = in.ConsumeBool() ? SERVICE_RUNNING : SERVICE_STOPPED;
    s.acceptsStop = in.ConsumeBool();
    if (in.ConsumeBool())
        s.customControls.insert(in.ConsumeBool() ? 254 : in.ConsumeIntegralInRange(128, 255));
    else
        s.customControls.clear();
}

void PlantKeys(FuzzedDataProvider& in) {
    std::string path = Pick(in, PLACES, std::size(PLACES));
    int depth = in.ConsumeIntegralInRange(0, 40);
    for (int i = 0; i < depth; ++i) {
        std::string child = in.ConsumeBool() ? std::string(in.ConsumeIntegralInRange(1, 255), 'k')
                                             : in.ConsumeRandomLengthString(20);
        child.erase(std::remove(child.begin(), child.end(), '\\'), child.end());
        child.erase(std::remove(child.begin(), child.end(), '\0'), child.end());
        if (child.empty())
            child = "c";
        path += "\\" + child;
    }
    Sim::Key* key = Sim::MakeKey(HKEY_LOCAL_MACHINE, path);
    if (in.ConsumeBool()) {
        std::string name = in.ConsumeRandomLengthString(20);
        std::string data = in.ConsumeRandomLengthString(64);
        Sim::SetValue(HKEY_LOCAL_MACHINE, path, name, AnyType(in),
                      std::vector<BYTE>(data.begin(), data.end()));
    }
    key->refuseOpen = in.ConsumeIntegralInRange(0, 7) == 0;
    key->refuseDelete = in.ConsumeIntegralInRange(0, 5) == 0;
}

void PlantFiles(FuzzedDataProvider& in) {
    Sim::Machine& m = Sim::Current();
    std::string base = in.ConsumeBool() ? m.programsFolder : m.commonProgramsFolder;
    std::string group = base + "\\Tallowin";
    std::string name = Pick(in, GROUP_FILES, std::size(GROUP_FILES));
    if (name == "Sub")
        Sim::MakeDirectory(group + "\\Sub");
    else
        Sim::MakeFile(group + "\\" + name, "", base == m.commonProgramsFolder);
}

void PlantLibraries(FuzzedDataProvider& in) {
    Sim::Node* folder = Sim::FindNode(Footprint::PRODUCT_FOLDER);
    if (folder == nullptr)
        return;
    const char* const servers[] = {"VkView.dll", "VkUsbMmc.dll", "VkUsbVw.dll",
                                   "VkMMC.dll",  "SeatMmc.dll",  "SeatView.dll"};
    std::string server = Pick(in, servers, std::size(servers));
    auto found = folder->children.find(server);
    if (found == folder->children.end())
        return;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        folder->children.erase(found);
        break;
    case 1:
        found->second->library.reset();
        break;
    case 2:
        if (found->second->library)
            found->second->library->exportsUnregister = false;
        break;
    default:
        if (found->second->library)
            found->second->library->unregisterResult = (HRESULT)0x80004005;
        break;
    }
}

// Installs the parts on a fresh machine. A machine installed once is kept
// and copied for every later input that asks for the same parts: the copy
// costs a fraction of laying Windows and the product down again.
void InstallOnFreshMachine(const Footprint::Parts& parts) {
    using Choice = std::tuple<unsigned long, unsigned long, unsigned long, bool, unsigned>;
    static std::map<Choice, std::unique_ptr<Sim::Machine>> installed;
    Choice choice{parts.registry, parts.services, parts.devices, parts.files, parts.groups};
    auto found = installed.find(choice);
    if (found != installed.end()) {
        Sim::Replace(Sim::Copy(*found->second));
        return;
    }
    Sim::Reset();
    Footprint::Install(parts);
    if (installed.size() >= 256)
        installed.clear();
    installed.emplace(choice, Sim::Copy(Sim::Current()));
}

} // namespace

void BuildFuzzMachine(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Footprint::Parts parts;
    if (in.ConsumeBool()) {
        parts.registry = in.ConsumeIntegral<uint32_t>();
        parts.services = in.ConsumeIntegral<uint32_t>();
        parts.devices = in.ConsumeIntegral<uint8_t>();
        parts.files = in.ConsumeBool();
        parts.groups = in.ConsumeIntegralInRange(0, 3);
    }
    InstallOnFreshMachine(parts);
    Sim::Machine& m = Sim::Current();
    // VK_FUZZ_JOURNAL=1 keeps the journal, to read how a finding came about.
    static const bool journal = std::getenv("VK_FUZZ_JOURNAL") != nullptr;
    m.journalOn = journal;

    int changes = in.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < changes && in.remaining_bytes() > 0; ++i) {
        switch (in.ConsumeIntegralInRange(0, 13)) {
        case 0:
        case 1:
            Sim::SetValue(HKEY_LOCAL_MACHINE, Pick(in, CLASS_KEYS, 6), "UpperFilters", AnyType(in),
                          ListBytes(in));
            break;
        case 2:
            Sim::SetValue(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List", AnyType(in), ListBytes(in));
            break;
        case 3:
            PlantFolderValue(in);
            break;
        case 4:
            PlantDevice(in);
            break;
        case 5:
            PlantService(in);
            break;
        case 6:
        case 7:
            PlantKeys(in);
            break;
        case 8:
            PlantFiles(in);
            break;
        case 9:
            PlantLibraries(in);
            break;
        case 10: {
            std::string image = in.ConsumeRandomLengthString(300);
            Sim::SetValue(HKEY_LOCAL_MACHINE, TERMSERVICE, "ImagePath", AnyType(in),
                          std::vector<BYTE>(image.begin(), image.end()));
            break;
        }
        case 11:
            if (in.ConsumeBool())
                Sim::DeleteKeyAt(HKEY_LOCAL_MACHINE, WINLOGON);
            else if (Sim::Key* key = Sim::FindKey(HKEY_LOCAL_MACHINE, WINLOGON))
                key->values.clear();
            break;
        case 12:
            m.heapFailsAfter = in.ConsumeIntegralInRange(-1, 3);
            m.consoleFails = in.ConsumeBool();
            break;
        default: {
            const DWORD versions[] = {Sim::VERSION_NT4, Sim::VERSION_98, Sim::VERSION_2000,
                                      Sim::VERSION_XP, Sim::VERSION_VISTA};
            m.version = versions[in.ConsumeIntegralInRange<size_t>(0, 4)];
            m.administrator = in.ConsumeIntegralInRange(0, 3) != 0;
            m.shutdownRight = in.ConsumeBool();
            break;
        }
        }
    }
    if (in.ConsumeIntegralInRange(0, 3) == 0)
        m.failCall = in.ConsumeIntegralInRange(1, 400);
}
