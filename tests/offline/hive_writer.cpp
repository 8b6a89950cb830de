#include "offline/hive_writer.h"

#include "offline/empty_hive.h"
#include "platform/sim/machine.h"

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

namespace OfflineSupport {

namespace {

namespace fs = std::filesystem;

// Names compare as the registry compares them.
bool Same(const std::string& a, const std::string& b) {
    return !Sim::NameOrder()(a, b) && !Sim::NameOrder()(b, a);
}

// A registry tree as a hive holds it: names in UTF-8 (hivex's), string data
// in UTF-16. Built whole from the machine first, so that the control set's
// new name, the device keys and the added version values are laid into it
// before hivex writes a key.
struct Tree {
    std::map<std::string, std::unique_ptr<Tree>, Sim::NameOrder> children;
    std::vector<std::pair<std::string, Sim::Value>> values;

    Tree* Child(const std::string& name) {
        std::unique_ptr<Tree>& child = children[name];
        if (!child)
            child = std::make_unique<Tree>();
        return child.get();
    }
    // The key at `path` ("A\\B") below this one, made with the keys on the way.
    Tree* Path(const std::string& path) {
        Tree* tree = this;
        for (size_t at = 0; at <= path.size();) {
            size_t end = std::min(path.find('\\', at), path.size());
            tree = tree->Child(path.substr(at, end - at));
            at = end + 1;
        }
        return tree;
    }
    // Sets a value, replacing one of the same name unless `keep`.
    void Set(const std::string& name, const Sim::Value& value, bool keep = false) {
        for (auto& held : values) {
            if (Same(held.first, name)) {
                if (!keep)
                    held.second = value;
                return;
            }
        }
        values.emplace_back(name, value);
    }
};

std::vector<BYTE> Wide(const std::string& text) {
    std::vector<BYTE> bytes;
    for (char16_t unit : Sim::TextToWide(text)) {
        bytes.push_back((BYTE)unit);
        bytes.push_back((BYTE)(unit >> 8));
    }
    return bytes;
}

// A REG_SZ of the hive: the text in UTF-16 and its ending NUL.
Sim::Value WideSz(const std::string& text) {
    return Sim::Value{REG_SZ, Wide(text + '\0')};
}

std::unique_ptr<Tree> Copy(const Sim::Key& key) {
    auto tree = std::make_unique<Tree>();
    for (const auto& [name, value] : key.values) {
        Sim::Value held = value;
        if (Sim::IsText(value.type))
            held.data = Wide(std::string(value.data.begin(), value.data.end()));
        tree->values.emplace_back(Sim::AnsiToText(name), held);
    }
    for (const auto& [name, child] : key.children) {
        if (!child->deleted)
            tree->children[name] = Copy(*child);
    }
    return tree;
}

const Sim::Key* ChildKey(const Sim::Key* key, const std::string& name) {
    if (key == nullptr)
        return nullptr;
    auto found = key->children.find(name);
    return found == key->children.end() || found->second->deleted ? nullptr : found->second.get();
}

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  (unsigned)g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// HKLM\SYSTEM as the disk holds it: the current control set under its
// number, the devices as its Enum keys.
std::unique_ptr<Tree> SystemTree(const Sim::Machine& m) {
    const Sim::Key* system = ChildKey(m.machineRoot.get(), "SYSTEM");
    auto tree = system ? Copy(*system) : std::make_unique<Tree>();
    DWORD current = 1;
    const Sim::Value* named = nullptr;
    if (const Sim::Key* select = ChildKey(system, "Select"))
        named = select->FindValue("Current");
    if (named != nullptr && named->type == REG_DWORD && named->data.size() == 4)
        std::memcpy(&current, named->data.data(), 4);
    char setName[24];
    std::snprintf(setName, sizeof setName, "ControlSet%03u", (unsigned)current);
    auto held = tree->children.find("CurrentControlSet");
    if (held != tree->children.end()) {
        std::unique_ptr<Tree> set = std::move(held->second);
        tree->children.erase(held);
        tree->children[setName] = std::move(set);
    }
    for (const Sim::Device& device : m.devices) {
        if (!device.registered) // only a member of the set that made it: no key yet
            continue;
        Tree* key = tree->Child(setName)->Child("Enum")->Path(device.instanceId);
        key->Set("ClassGUID", WideSz(GuidText(device.classGuid)));
        if (device.hasHardwareIds)
            key->Set("HardwareID", Sim::Value{REG_MULTI_SZ, device.hardwareIds});
        if (!device.service.empty())
            key->Set("Service", Sim::Value{REG_SZ, device.service});
        if (!device.upperFilters.empty())
            key->Set("UpperFilters", Sim::Value{REG_MULTI_SZ, device.upperFilters});
        if (!device.lowerFilters.empty())
            key->Set("LowerFilters", Sim::Value{REG_MULTI_SZ, device.lowerFilters});
        if (!device.configFlags.empty())
            key->Set("ConfigFlags", Sim::Value{REG_DWORD, device.configFlags});
    }
    return tree;
}

// HKLM\SOFTWARE, with the version values Windows keeps there and the
// simulator keeps as settings.
std::unique_ptr<Tree> SoftwareTree(const Sim::Machine& m) {
    const Sim::Key* software = ChildKey(m.machineRoot.get(), "SOFTWARE");
    auto tree = software ? Copy(*software) : std::make_unique<Tree>();
    Tree* version = tree->Path("Microsoft\\Windows NT\\CurrentVersion");
    DWORD major = m.version & 0xFF, minor = (m.version >> 8) & 0xFF;
    version->Set("CurrentVersion", WideSz(std::to_string(major) + "." + std::to_string(minor)),
                 true);
    if ((m.version & 0x80000000) == 0)
        version->Set("CurrentBuildNumber", WideSz(std::to_string(m.version >> 16)), true);
    version->Set("SystemRoot", WideSz(Sim::AnsiToText(m.windowsDirectory)), true);
    return tree;
}

// Writes a tree's values (all at once) and its subkeys below `node`. hivex
// looks through a key's subkeys by name and copies its subkey list at each
// subkey it adds, never reusing the old list's space: a key with thousands
// of subkeys costs seconds and tens of megabytes, one with hundreds little.
bool Put(hive_h* h, hive_node_h node, const Tree& tree, const std::string& path, std::string* why) {
    if (!tree.values.empty()) {
        std::vector<hive_set_value> values;
        for (const auto& [name, value] : tree.values) {
            values.push_back({const_cast<char*>(name.c_str()), static_cast<hive_type>(value.type),
                              value.data.size(),
                              reinterpret_cast<char*>(const_cast<BYTE*>(value.data.data()))});
        }
        if (hivex_node_set_values(h, node, values.size(), values.data(), 0) != 0) {
            *why = "the values of " + path + " cannot be set: " + std::strerror(errno);
            return false;
        }
    }
    for (const auto& [name, child] : tree.children) {
        std::string below = path.empty() ? name : path + "\\" + name;
        hive_node_h made = hivex_node_add_child(h, node, name.c_str());
        if (made == 0) {
            *why = "the key " + below + " cannot be added: " + std::strerror(errno);
            return false;
        }
        if (!Put(h, made, *child, below, why))
            return false;
    }
    return true;
}

bool WriteHive(const std::string& path, const Tree& tree, std::string* why) {
    if (!WriteEmptyHive(path)) {
        *why = "cannot write " + path;
        return false;
    }
    hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
    if (h == nullptr) {
        *why = "hivex cannot open the empty hive " + path + ": " + std::strerror(errno);
        return false;
    }
    bool written = Put(h, hivex_root(h), tree, "", why);
    if (written && hivex_commit(h, nullptr, 0) != 0) {
        *why = "cannot commit " + path + ": " + std::strerror(errno);
        written = false;
    }
    hivex_close(h);
    return written;
}

bool WriteFile(const fs::path& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
    out.close();
    return !out.fail();
}

// A folder's files and folders below `at`, names converted from the code page.
bool PutFiles(const Sim::Node& folder, const fs::path& at, std::string* why) {
    for (const auto& [name, node] : folder.children) {
        fs::path path = at / Sim::AnsiToText(name);
        std::error_code error;
        if (node->directory) {
            fs::create_directories(path, error);
            if (error || !PutFiles(*node, path, why)) {
                if (error)
                    *why = "cannot make the folder " + path.string() + ": " + error.message();
                return false;
            }
        } else if (!WriteFile(path,
                              node->library ? Sim::LibraryImage(*node->library) : node->content)) {
            *why = "cannot write the file " + path.string();
            return false;
        }
    }
    return true;
}

} // namespace

bool WriteWindows(const std::string& root, std::string* why) {
    std::string ignored;
    if (why == nullptr)
        why = &ignored;
    const Sim::Machine& m = Sim::Current();
    auto drive = m.fileRoot.children.find("C:");
    const std::string& windows = m.windowsDirectory;
    if (windows.size() < 3 || !Sim::SameName(windows.substr(0, 3), "C:\\")) {
        *why = "the Windows folder " + windows + " is not on the drive C:";
        return false;
    }
    std::error_code error;
    fs::create_directories(root, error);
    if (error) {
        *why = "cannot make the folder " + root + ": " + error.message();
        return false;
    }
    if (drive != m.fileRoot.children.end() && !PutFiles(*drive->second, root, why))
        return false;

    // The folders on the way to the hives, named as the machine names them.
    fs::path config = root;
    const Sim::Node* node = drive == m.fileRoot.children.end() ? nullptr : drive->second.get();
    std::string rest = windows.substr(3) + "\\system32\\config";
    for (size_t at = 0; at < rest.size();) {
        size_t end = std::min(rest.find('\\', at), rest.size());
        std::string name = rest.substr(at, end - at);
        at = end + 1;
        if (name.empty())
            continue;
        const Sim::Node* next = nullptr;
        if (node != nullptr) {
            auto found = node->children.find(name);
            if (found != node->children.end()) {
                next = found->second.get();
                name = found->first;
            }
        }
        node = next;
        config /= Sim::AnsiToText(name);
    }
    fs::create_directories(config, error);
    if (error) {
        *why = "cannot make the folder " + config.string() + ": " + error.message();
        return false;
    }
    return WriteHive((config / "SYSTEM").string(), *SystemTree(m), why) &&
           WriteHive((config / "SOFTWARE").string(), *SoftwareTree(m), why);
}

std::vector<std::string> HiveLines(const std::string& hivePath) {
    hive_h* h = hivex_open(hivePath.c_str(), 0);
    if (h == nullptr)
        return {"! " + hivePath + ": " + std::strerror(errno)};
    std::vector<std::string> lines;
    // Depth first, the nodes still to list with their paths.
    std::vector<std::pair<hive_node_h, std::string>> pending = {{hivex_root(h), ""}};
    while (!pending.empty()) {
        auto [node, path] = pending.back();
        pending.pop_back();
        if (!path.empty())
            lines.push_back(path);
        hive_value_h* values = hivex_node_values(h, node);
        hive_node_h* children = hivex_node_children(h, node);
        if (values == nullptr || children == nullptr)
            lines.push_back(path + "\t! " + std::strerror(errno));
        if (values != nullptr) {
            for (hive_value_h* v = values; *v != 0; ++v) {
                char* name = hivex_value_key(h, *v);
                hive_type type;
                size_t size = 0;
                char* data = hivex_value_value(h, *v, &type, &size);
                std::string line = path + "\t" + (name ? name : "?") + "\t" +
                                   std::to_string((unsigned)type) + "\t";
                for (size_t i = 0; data != nullptr && i < size; ++i) {
                    char hex[3];
                    std::snprintf(hex, sizeof hex, "%02x", (unsigned char)data[i]);
                    line += hex;
                }
                lines.push_back(data ? line : line + "?");
                std::free(name);
                std::free(data);
            }
            std::free(values);
        }
        if (children != nullptr) {
            for (hive_node_h* c = children; *c != 0; ++c) {
                char* name = hivex_node_name(h, *c);
                std::string child = name ? name : "?";
                pending.emplace_back(*c, path.empty() ? child : path + "\\" + child);
                std::free(name);
            }
            std::free(children);
        }
    }
    hivex_close(h);
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace OfflineSupport
