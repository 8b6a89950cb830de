// The offline tests' tools: the empty hive made from the published format,
// which hivex must accept, fill and commit; and the simulated machine
// written as a Windows disk, read back with hivex and from the files.
#include "machine/footprint.h"
#include "offline/empty_hive.h"
#include "offline/hive_writer.h"
#include "support.h"

#include <hivex.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

// A folder of its own for a test, removed with what it holds afterwards.
class Folder {
  public:
    Folder() {
        std::string pattern = testing::TempDir() + "vk-offline-XXXXXX";
        path_ = mkdtemp(&pattern[0]) ? pattern : "";
    }
    ~Folder() {
        if (!path_.empty())
            fs::remove_all(path_);
    }
    std::string operator/(const std::string& below) const { return path_ + "/" + below; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

std::vector<unsigned char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// A hive opened with hivex to read, and what its keys hold, looked up by
// path ("A\\B") below the root. A missing key or value reads as empty.
class Hive {
  public:
    explicit Hive(const std::string& path) : h_(hivex_open(path.c_str(), 0)) {}
    ~Hive() {
        if (h_ != nullptr)
            hivex_close(h_);
    }
    bool Open() const { return h_ != nullptr; }
    hive_node_h Node(const std::string& path) const {
        hive_node_h node = h_ ? hivex_root(h_) : 0;
        for (size_t at = 0; node != 0 && at < path.size();) {
            size_t end = std::min(path.find('\\', at), path.size());
            node = hivex_node_get_child(h_, node, path.substr(at, end - at).c_str());
            at = end + 1;
        }
        return node;
    }
    std::string Name(const std::string& path) const {
        return Take(hivex_node_name(h_, Node(path)));
    }
    hive_value_h Value(const std::string& path, const std::string& name) const {
        hive_node_h node = Node(path);
        return node ? hivex_node_get_value(h_, node, name.c_str()) : 0;
    }
    std::string String(const std::string& path, const std::string& name) const {
        hive_value_h value = Value(path, name);
        return value ? Take(hivex_value_string(h_, value)) : "";
    }
    long Dword(const std::string& path, const std::string& name) const {
        hive_value_h value = Value(path, name);
        return value ? hivex_value_dword(h_, value) : -1;
    }
    std::vector<std::string> List(const std::string& path, const std::string& name) const {
        hive_value_h value = Value(path, name);
        char** list = value ? hivex_value_multiple_strings(h_, value) : nullptr;
        std::vector<std::string> entries;
        for (char** entry = list; entry && *entry; ++entry)
            entries.push_back(Take(*entry));
        std::free(list);
        if (!entries.empty() && entries.back().empty())
            entries.pop_back(); // hivex gives the list's ending NUL as an empty last entry
        return entries;
    }
    std::vector<BYTE> Bytes(const std::string& path, const std::string& name) const {
        hive_value_h value = Value(path, name);
        hive_type type;
        size_t size = 0;
        char* data = value ? hivex_value_value(h_, value, &type, &size) : nullptr;
        std::vector<BYTE> bytes(data, data + (data ? size : 0));
        std::free(data);
        return bytes;
    }

  private:
    static std::string Take(char* text) {
        std::string taken = text ? text : "";
        std::free(text);
        return taken;
    }
    hive_h* h_;
};

const char KEY[] = "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87";          // "Ключ": no Latin-1 name
const char TEXT[] = "\xD0\xA2\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82"; // "Текст"

// What hivex fills and commits to another file reads back, and the empty
// hive it was opened from is left as it was.
TEST(EmptyHive, HivexFillsItAndCommitsItToAnotherFile) {
    Folder folder;
    ASSERT_TRUE(OfflineSupport::WriteEmptyHive(folder / "empty"));
    hive_h* h = hivex_open((folder / "empty").c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(h, nullptr) << std::strerror(errno);
    EXPECT_EQ(hivex_node_nr_children(h, hivex_root(h)), 0u);
    EXPECT_EQ(hivex_node_nr_values(h, hivex_root(h)), 0u);
    hive_node_h services = hivex_node_add_child(h, hivex_root(h), "Services");
    hive_node_h key = services ? hivex_node_add_child(h, services, KEY) : 0;
    ASSERT_NE(key, 0u) << std::strerror(errno);
    std::u16string text = Sim::TextToWide(std::string(TEXT) + '\0');
    char start[4] = {2, 0, 0, 0};
    hive_set_value values[] = {
        {const_cast<char*>("Start"), hive_t_REG_DWORD, 4, start},
        {const_cast<char*>(""), hive_t_REG_SZ, text.size() * 2, reinterpret_cast<char*>(&text[0])}};
    EXPECT_EQ(hivex_node_set_values(h, key, 2, values, 0), 0);
    EXPECT_EQ(hivex_commit(h, (folder / "filled").c_str(), 0), 0);
    hivex_close(h);

    EXPECT_EQ(FileBytes(folder / "empty"), OfflineSupport::EmptyHive());
    Hive filled(folder / "filled");
    ASSERT_TRUE(filled.Open()) << std::strerror(errno);
    std::string path = std::string("Services\\") + KEY;
    EXPECT_EQ(filled.Name(path), KEY);
    EXPECT_EQ(filled.Dword(path, "Start"), 2);
    EXPECT_EQ(filled.String(path, ""), TEXT);
}

// The installed machine, with a Select, control sets besides the current
// one, device keys with filters and a key already under Enum, Cyrillic and
// code-page names, a key that refuses opening and a read-only file, written
// as a Windows disk.
TEST(HiveWriter, WritesTheInstalledMachineAsAWindowsDisk) {
    Sim::Reset();
    Footprint::Install();
    const std::string set = "SYSTEM\\CurrentControlSet\\";
    for (auto [name, number] : {std::pair("Current", 1), {"Default", 1}, {"LastKnownGood", 2}})
        Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", name, REG_DWORD, Sim::Dword(number));
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001", "Stale", REG_DWORD, Sim::Dword(1));
    Sim::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet002\\Control", "Kept", REG_DWORD,
                  Sim::Dword(7));
    Sim::FindKey(HKEY_LOCAL_MACHINE, set + "Services\\DzStore")->refuseOpen = true;
    Sim::Device* port = Sim::FindDevice("ROOT\\KRHUBPORT\\0000");
    ASSERT_NE(port, nullptr);
    port->upperFilters = Sim::WideMultiSz({"DzXpHidCls"});
    port->lowerFilters =
        Sim::WideMultiSz({"DzStore", "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C"}); // "Филь"
    port->service = Sim::WideMultiSz({"vkbus"});
    port->service.resize(port->service.size() - 2); // a REG_SZ: the list's last NUL dropped
    Sim::SetValue(HKEY_LOCAL_MACHINE, set + "Enum\\ROOT\\KRHUBPORT\\0000", "FriendlyName", REG_SZ,
                  Sim::Sz("Hub port"));
    const std::string cyrillic = std::string("SOFTWARE\\Vendor\\") + KEY;
    Sim::SetTextValue(HKEY_LOCAL_MACHINE, cyrillic, "Caf\xE9", REG_SZ, TEXT);
    Sim::MakeKeyText(HKEY_LOCAL_MACHINE, cyrillic)
        ->values.push_back({"Pr\x80is", Sim::Value{REG_DWORD, Sim::Dword(5)}});
    const std::string version = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    Sim::SetValue(HKEY_LOCAL_MACHINE, version, "CurrentBuildNumber", REG_SZ, Sim::Sz("2601"));
    std::string product = std::string(Footprint::PRODUCT_FOLDER);
    Sim::FindNode(product + "seats.txt")->attributes = FILE_ATTRIBUTE_READONLY;

    Folder folder;
    std::string why;
    ASSERT_TRUE(OfflineSupport::WriteWindows(folder.Path(), &why)) << why;

    Hive system(folder / "WINDOWS/system32/config/SYSTEM");
    ASSERT_TRUE(system.Open()) << std::strerror(errno);
    EXPECT_EQ(system.Dword("Select", "Current"), 1);
    EXPECT_EQ(system.Dword("Select", "LastKnownGood"), 2);
    EXPECT_EQ(system.Node("CurrentControlSet"), 0u);
    EXPECT_EQ(system.Value("ControlSet001", "Stale"), 0u); // the current set took its place
    EXPECT_EQ(system.Dword("ControlSet002\\Control", "Kept"), 7);
    const std::string store = "ControlSet001\\Services\\DzStore";
    EXPECT_EQ(system.Dword(store, "Start"), SERVICE_BOOT_START);
    EXPECT_EQ(system.String(store, "Group"), "Filter");
    Sim::Value image;
    ASSERT_TRUE(Sim::ReadValue(HKEY_LOCAL_MACHINE, set + "Services\\DzStore", "ImagePath", &image));
    std::string imageText(image.data.begin(), image.data.end() - 1);
    EXPECT_EQ(system.String(store, "ImagePath"), imageText);
    EXPECT_EQ(system.Bytes(store, "ImagePath").size(), 2 * (imageText.size() + 1)); // its NUL

    const std::string device = "ControlSet001\\Enum\\ROOT\\KRHUBPORT\\0000";
    EXPECT_EQ(system.String(device, "ClassGUID"), "{4D36E97D-E325-11CE-BFC1-08002BE10318}");
    EXPECT_EQ(system.List(device, "HardwareID"),
              (std::vector<std::string>{"Korrin\\KrHubPort", "Korrin\\KrHub"}));
    EXPECT_EQ(system.List(device, "UpperFilters"), std::vector<std::string>{"DzXpHidCls"});
    EXPECT_EQ(system.Bytes(device, "LowerFilters"), port->lowerFilters);
    EXPECT_EQ(system.String(device, "Service"), "vkbus");
    EXPECT_EQ(system.String(device, "FriendlyName"), "Hub port");
    EXPECT_EQ(system.Value("ControlSet001\\Enum\\ROOT\\KRHUB\\0000", "UpperFilters"), 0u);
    std::vector<std::string> lines =
        OfflineSupport::HiveLines(folder / "WINDOWS/system32/config/SYSTEM");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), store + "\tStart\t4\t00000000"), 1);

    Hive software(folder / "WINDOWS/system32/config/SOFTWARE");
    ASSERT_TRUE(software.Open()) << std::strerror(errno);
    EXPECT_EQ(software.String("Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\RyWinLog",
                              "DLLName"),
              "C:\\Program Files\\Tallowin\\VkLogon.dll");
    EXPECT_EQ(software.String("Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion"), "5.1");
    EXPECT_EQ(software.String("Microsoft\\Windows NT\\CurrentVersion", "CurrentBuildNumber"),
              "2601");
    EXPECT_EQ(software.String("Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"),
              "C:\\WINDOWS");
    EXPECT_EQ(software.Name(std::string("Vendor\\") + KEY), KEY);
    EXPECT_EQ(software.String(std::string("Vendor\\") + KEY, "Caf\xC3\xA9"), TEXT);
    EXPECT_EQ(software.Dword(std::string("Vendor\\") + KEY, "Pr\xE2\x82\xACis"), 5);

    const std::string onDisk = folder / "Program Files/Tallowin/";
    Sim::Node* server = Sim::FindNode(product + Footprint::IMPORTING_SERVER);
    ASSERT_TRUE(server != nullptr && server->library);
    EXPECT_EQ(FileBytes(onDisk + Footprint::IMPORTING_SERVER), Sim::LibraryImage(*server->library));
    EXPECT_EQ(FileBytes(onDisk + "seats.txt"), Sim::FindNode(product + "seats.txt")->content);
    EXPECT_NE(fs::status(onDisk + "seats.txt").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_EQ(OfflineSupport::HiveLines(onDisk + "seats.txt").at(0).substr(0, 2), "! ");
}

} // namespace
