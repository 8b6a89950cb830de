// The offline tests' tools: the empty hive made from the published format,
// which hivex must accept, fill and commit.
#include "offline/empty_hive.h"
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

} // namespace
