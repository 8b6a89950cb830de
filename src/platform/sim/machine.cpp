#include "internal.h"

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif

#include <cstdio>
#include <cstdlib>

namespace Sim {

// Upper case as the ANSI code page folds it: ASCII and Latin-1 letters.
static const struct FoldTable {
    unsigned char to[256];
    FoldTable() {
        for (int c = 0; c < 256; ++c) {
            bool lower = (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
            to[c] = (unsigned char)(lower ? c - 0x20 : c);
        }
    }
} FOLD;

bool NoCase::operator()(const std::string& a, const std::string& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    const unsigned char* x = (const unsigned char*)a.data();
    const unsigned char* y = (const unsigned char*)b.data();
    for (size_t i = 0; i < n; ++i) {
        if (FOLD.to[x[i]] != FOLD.to[y[i]])
            return FOLD.to[x[i]] < FOLD.to[y[i]];
    }
    return a.size() < b.size();
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    const unsigned char* x = (const unsigned char*)a.data();
    const unsigned char* y = (const unsigned char*)b.data();
    for (size_t i = 0; i < a.size(); ++i) {
        if (FOLD.to[x[i]] != FOLD.to[y[i]])
            return false;
    }
    return true;
}

const Value* Key::FindValue(const std::string& valueName) const {
    for (auto& entry : values) {
        if (SameName(entry.first, valueName))
            return &entry.second;
    }
    return nullptr;
}

Value* Key::FindValue(const std::string& valueName) {
    return const_cast<Value*>(static_cast<const Key*>(this)->FindValue(valueName));
}

static std::unique_ptr<Machine> current;

Machine::~Machine() {
    for (auto& block : heapBlocks)
        std::free(block.first);
    for (auto& block : freedBlocks) {
        ReleasePoison(block.first, block.second);
        std::free(block.first);
    }
}

Machine& Current() {
    if (!current)
        Reset();
    return *current;
}

#if defined(__SANITIZE_ADDRESS__)
#define VK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VK_ASAN 1
#endif
#endif

#ifdef VK_ASAN
void Poison(void* memory, size_t bytes) {
    __asan_poison_memory_region(memory, bytes);
}
void ReleasePoison(void* memory, size_t bytes) {
    __asan_unpoison_memory_region(memory, bytes);
}
#else
void Poison(void*, size_t) {}
void ReleasePoison(void*, size_t) {}
#endif

void Unmodelled(const std::string& what) {
    std::fprintf(stderr, "simulated Windows: not modelled: %s\n", what.c_str());
    std::abort();
}

std::string Q(const char* text) {
    if (!Current().journalOn)
        return std::string();
    if (text == nullptr)
        return "NULL";
    std::string out = "\"";
    for (const char* p = text; *p != 0; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c < 0x20 || c >= 0x7F || c == '"') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string D(long long value) {
    if (!Current().journalOn)
        return std::string();
    return std::to_string(value);
}

std::string X(DWORD value) {
    if (!Current().journalOn)
        return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

static const char* KindName(HandleKind kind) {
    switch (kind) {
    case HandleKind::Key:
        return "key";
    case HandleKind::Scm:
        return "scm";
    case HandleKind::Service:
        return "svc";
    case HandleKind::Find:
        return "find";
    case HandleKind::Module:
        return "mod";
    case HandleKind::DeviceSet:
        return "devs";
    case HandleKind::Token:
        return "token";
    case HandleKind::Console:
        return "console";
    case HandleKind::File:
        return "file";
    }
    return "?";
}

std::string RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    return H(root);
}

std::string H(const void* handle) {
    if (!Current().journalOn)
        return std::string();
    if (handle == nullptr)
        return "NULL";
    if (handle == INVALID_HANDLE_VALUE)
        return "INVALID_HANDLE_VALUE";
    ULONG_PTR value = (ULONG_PTR)handle;
    if (value >= 0x80000000u && value <= 0x80000002u)
        return RootName((HKEY)handle);
    auto found = Current().handles.find(value);
    if (found == Current().handles.end())
        return "bad#" + X((DWORD)value);
    return std::string(KindName(found->second.kind)) + "#" + D(found->second.number);
}

bool Injected() {
    Machine& m = Current();
    return ++m.failableCalls == m.failCall;
}

void* NewHandle(HandleKind kind, Handle handle) {
    Machine& m = Current();
    handle.kind = kind;
    handle.number = ++m.handleNumbers[kind];
    ULONG_PTR value = m.nextHandle;
    m.nextHandle += 4;
    m.handles[value] = std::move(handle);
    return (void*)value;
}

std::string HandleName(const void* value, HandleKind kind) {
    Handle* handle = FindHandle(value, kind);
    return handle == nullptr ? std::string() : handle->name;
}

Handle* FindHandle(const void* value, HandleKind kind) {
    auto found = Current().handles.find((ULONG_PTR)value);
    if (found == Current().handles.end() || found->second.kind != kind)
        return nullptr;
    return &found->second;
}

void DropHandle(const void* value) {
    Current().handles.erase((ULONG_PTR)value);
}

int OpenHandles(HandleKind kind) {
    int count = 0;
    for (auto& entry : Current().handles)
        count += entry.second.kind == kind;
    return count;
}

int OpenHandles() {
    return (int)Current().handles.size();
}

// ---- registry helpers ----

static Key* RootKey(HKEY root) {
    Machine& m = Current();
    if (root == HKEY_LOCAL_MACHINE)
        return m.machineRoot.get();
    if (root == HKEY_CLASSES_ROOT)
        return m.machineRoot->children["SOFTWARE"]->children["Classes"].get();
    Unmodelled("registry root " + RootName(root));
}

Key* FindKey(HKEY root, const std::string& path) {
    return FindKeyBelow(RootKey(root), path);
}

Key* FindKeyBelow(Key* key, const std::string& path) {
    std::string converted;
    ForEachName(path.c_str(), [&](const std::string& ansi) {
        const std::string& name = Ascii(ansi) ? ansi : (converted = AnsiToText(ansi));
        auto child = key->children.find(name);
        key = child == key->children.end() ? nullptr : child->second.get();
        return key != nullptr;
    });
    return key;
}

static Key* MakeKeyBelow(Key* key, const std::string& path, bool ansi) {
    ForEachName(path.c_str(), [&](const std::string& part) {
        std::string name = ansi ? AnsiToText(part) : part;
        auto& child = key->children[name];
        if (!child) {
            child = std::make_shared<Key>();
            child->name = name;
            child->parent = key;
        }
        key = child.get();
        return true;
    });
    return key;
}

Key* MakeKey(HKEY root, const std::string& path) {
    return MakeKeyBelow(RootKey(root), path, true);
}

Key* MakeKeyText(HKEY root, const std::string& path) {
    return MakeKeyBelow(RootKey(root), path, false);
}

bool IsText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::vector<BYTE> AnsiData(const Value& value) {
    if (!IsText(value.type))
        return value.data;
    std::string ansi = TextToAnsi(std::string(value.data.begin(), value.data.end()));
    return std::vector<BYTE>(ansi.begin(), ansi.end());
}

Value AnsiValue(DWORD type, const BYTE* data, size_t size) {
    Value value;
    value.type = type;
    if (IsText(type)) {
        std::string text = AnsiToText((const char*)data, size);
        value.data.assign(text.begin(), text.end());
    } else {
        value.data.assign(data, data + size);
    }
    return value;
}

bool ReadValue(HKEY root, const std::string& path, const std::string& name, Value* value) {
    Key* key = FindKey(root, path);
    Value* found = key ? key->FindValue(name) : nullptr;
    if (found && value) {
        value->type = found->type;
        value->data = AnsiData(*found);
    }
    return found != nullptr;
}

static void Store(Key* key, const std::string& name, Value value) {
    Value* found = key->FindValue(name);
    if (found == nullptr)
        key->values.push_back({name, std::move(value)});
    else
        *found = std::move(value);
}

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data) {
    Store(MakeKey(root, path), name, AnsiValue(type, data.data(), data.size()));
}

void SetTextValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                  const std::string& text) {
    Value value;
    value.type = type;
    value.data.assign(text.begin(), text.end());
    Store(MakeKeyText(root, path), name, std::move(value));
}

std::vector<BYTE> MultiSz(const std::vector<std::string>& entries) {
    std::vector<BYTE> data;
    for (auto& entry : entries) {
        data.insert(data.end(), entry.begin(), entry.end());
        data.push_back(0);
    }
    data.push_back(0);
    return data;
}

std::vector<std::string> SplitMultiSz(const std::vector<BYTE>& data) {
    std::vector<std::string> entries;
    std::string entry;
    for (BYTE b : data) {
        if (b == 0) {
            if (entry.empty())
                break;
            entries.push_back(entry);
            entry.clear();
        } else {
            entry += (char)b;
        }
    }
    if (!entry.empty())
        entries.push_back(entry);
    return entries;
}

std::vector<BYTE> Dword(DWORD value) {
    return {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
}

std::vector<BYTE> Sz(const std::string& text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

bool DeleteKeyAt(HKEY root, const std::string& path) {
    Key* key = FindKey(root, path);
    if (key == nullptr || key->parent == nullptr)
        return false;
    std::shared_ptr<Key> keep = key->parent->children[key->name];
    keep->deleted = true;
    keep->parent->children.erase(keep->name);
    return true;
}

// ---- devices ----

std::vector<BYTE> WideMultiSz(const std::vector<std::string>& entries) {
    std::vector<BYTE> data;
    for (BYTE b : MultiSz(entries)) {
        data.push_back(b);
        data.push_back(0);
    }
    return data;
}

Device& AddDevice(const std::string& instanceId, const GUID& classGuid,
                  const std::vector<std::string>& hardwareIds) {
    Machine& m = Current();
    Device device;
    device.devInst = m.nextDevInst++;
    device.instanceId = instanceId;
    device.classGuid = classGuid;
    device.hasHardwareIds = !hardwareIds.empty();
    device.hardwareIds = WideMultiSz(hardwareIds);
    m.devices.push_back(device);
    return m.devices.back();
}

Device* FindDevice(const std::string& instanceId) {
    for (auto& device : Current().devices) {
        if (SameName(device.instanceId, instanceId))
            return &device;
    }
    return nullptr;
}

// ---- files ----

bool ResolvePath(const std::string& path, std::vector<std::string>* components) {
    Machine& m = Current();
    std::string full;
    std::string p = path;
    for (char& c : p) {
        if (c == '/')
            c = '\\';
    }
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\')
        return false; // network paths: nothing is reachable there
    if (p.size() >= 2 && p[1] == ':') {
        if (p.size() == 2 || p[2] != '\\')
            Unmodelled("drive-relative path " + path);
        full = p;
    } else if (!p.empty() && p[0] == '\\') {
        full = m.currentDirectory.substr(0, 2) + p;
    } else {
        full = m.currentDirectory + "\\" + p;
    }
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&](bool last) {
        if (last) {
            while (!part.empty() && (part.back() == ' ' || part.back() == '.'))
                part.pop_back();
        } else if (part.size() > 1 && part.back() == '.' && part[part.size() - 2] != '.') {
            // A folder name inside a path loses one ending period, not its
            // spaces: "Tallowin .\x" is "Tallowin \x" (Wine agrees).
            part.pop_back();
        }
        if (part == "..") {
            if (parts.size() > 1)
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (size_t i = 0; i < full.size(); ++i) {
        if (full[i] == '\\')
            flush(false);
        else
            part += full[i];
    }
    if (!part.empty()) {
        // ".." and "." keep their meaning as a last component.
        if (part == ".." || part == ".")
            flush(false);
        else
            flush(true);
    }
    if (parts.empty())
        return false;
    // The drive letter keeps the case it was given, as everything else does
    // (Wine agrees; GetFullPathName converts nothing of the name).
    *components = std::move(parts);
    return true;
}

std::string FullPath(const std::string& path) {
    std::vector<std::string> parts;
    return ResolvePath(path, &parts) ? JoinPath(parts) : std::string();
}

std::string JoinPath(const std::vector<std::string>& components) {
    std::string path;
    for (size_t i = 0; i < components.size(); ++i) {
        if (i > 0)
            path += "\\";
        path += components[i];
    }
    if (components.size() == 1)
        path += "\\";
    return path;
}

Node* FindNode(const std::string& path) {
    std::vector<std::string> parts;
    if (!ResolvePath(path, &parts))
        return nullptr;
    Node* node = &Current().fileRoot;
    for (auto& part : parts) {
        auto child = node->children.find(part);
        if (child == node->children.end())
            return nullptr;
        node = child->second.get();
    }
    return node;
}

static Node* MakeNode(const std::string& path, bool directory, bool adminOnly) {
    std::vector<std::string> parts;
    if (!ResolvePath(path, &parts))
        Unmodelled("cannot place " + path);
    Node* node = &Current().fileRoot;
    for (size_t i = 0; i < parts.size(); ++i) {
        auto& child = node->children[parts[i]];
        if (!child) {
            child = std::make_unique<Node>();
            child->name = parts[i];
            bool last = i + 1 == parts.size();
            child->directory = directory || !last;
            child->adminOnly = node->adminOnly || (last && adminOnly);
            child->attributes = child->directory ? 0 : FILE_ATTRIBUTE_ARCHIVE;
        }
        node = child.get();
    }
    return node;
}

Node* MakeDirectory(const std::string& path, bool adminOnly) {
    return MakeNode(path, true, adminOnly);
}

Node* MakeFile(const std::string& path, const std::string& content, bool adminOnly) {
    Node* node = MakeNode(path, false, adminOnly);
    node->content.assign(content.begin(), content.end());
    return node;
}

// A file with no attribute left reports FILE_ATTRIBUTE_NORMAL.
DWORD Attributes(const Node& node) {
    if (node.directory)
        return FILE_ATTRIBUTE_DIRECTORY | node.attributes;
    return node.attributes != 0 ? node.attributes : FILE_ATTRIBUTE_NORMAL;
}

bool Exists(const std::string& path) {
    return FindNode(path) != nullptr;
}

// ---- whole-machine views ----

// Text with what the code page cannot carry shown as \u{hex}, so that two
// names that read alike through the A functions still differ here.
static std::string ShownText(const std::string& text) {
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        char32_t c = NextChar(text, &at);
        int ansi = WideToAnsi(c);
        if (ansi >= 0) {
            shown += (char)ansi;
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "\\u{%X}", (unsigned)c);
            shown += hex;
        }
    }
    return shown;
}

static std::string ShownBytes(const std::vector<BYTE>& text) {
    std::string data = ShownText(std::string(text.begin(), text.end()));
    std::string shown = "\"";
    for (char byte : data) {
        unsigned char c = (unsigned char)byte;
        if (c == 0) {
            shown += "\\0";
        } else if (c < 0x20 || c >= 0x7F || c == '"') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        } else {
            shown += (char)c;
        }
    }
    return shown + "\"";
}

static std::string ValueText(const Value& value) {
    switch (value.type) {
    case REG_DWORD:
        if (value.data.size() == 4) {
            DWORD d = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                      (DWORD)value.data[3] << 24;
            return "REG_DWORD " + X(d);
        }
        break;
    case REG_SZ:
        return "REG_SZ " + ShownBytes(value.data);
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ " + ShownBytes(value.data);
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ " + ShownBytes(value.data);
    default:
        break;
    }
    std::string text = "type " + D(value.type) + " hex:";
    for (BYTE b : value.data) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
    }
    return text;
}

static void DescribeKey(const Key& key, const std::string& path, std::vector<std::string>* out) {
    out->push_back("key " + path);
    for (auto& value : key.values)
        out->push_back("value " + path + " : " + Q(value.first.c_str()) + " = " +
                       ValueText(value.second));
    for (auto& child : key.children)
        DescribeKey(*child.second, path + "\\" + ShownText(child.second->name), out);
}

static void DescribeNode(const Node& node, const std::string& path, std::vector<std::string>* out) {
    for (auto& child : node.children) {
        std::string childPath =
            path.empty() ? child.second->name : path + "\\" + child.second->name;
        out->push_back((child.second->directory ? "folder " : "file ") + childPath);
        DescribeNode(*child.second, childPath, out);
    }
}

static std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::vector<std::string> Describe() {
    Machine& m = Current();
    std::vector<std::string> out;
    DescribeKey(*m.machineRoot, "HKLM", &out);
    for (auto& service : m.services) {
        const Service& s = service.second;
        out.push_back("service " + service.first +
                      (s.state == SERVICE_RUNNING        ? " running"
                       : s.state == SERVICE_STOP_PENDING ? " stop pending"
                                                         : " stopped") +
                      (s.deletePending ? " marked for deletion" : ""));
    }
    for (auto& device : m.devices) {
        std::string ids;
        for (size_t i = 0; i + 1 < device.hardwareIds.size(); i += 2)
            ids += device.hardwareIds[i] ? (char)device.hardwareIds[i] : '|';
        out.push_back("device " + device.instanceId + " {" + GuidText(device.classGuid) + "} " +
                      (device.present ? "present" : "not present") + " ids " + ids);
    }
    DescribeNode(m.fileRoot, "", &out);
    return out;
}

// ---- restart ----

void EndProcess() {
    Machine& m = Current();
    std::vector<std::string> services;
    for (auto& entry : m.handles) {
        if (entry.second.kind == HandleKind::Service)
            services.push_back(entry.second.name);
    }
    m.handles.clear();
    for (auto& name : services)
        ServiceHandleClosed(name);
    for (auto& block : m.heapBlocks)
        std::free(block.first);
    m.heapBlocks.clear();
    for (auto& block : m.freedBlocks) {
        ReleasePoison(block.first, block.second);
        std::free(block.first);
    }
    m.freedBlocks.clear();
    m.liveAllocations = 0;
    m.hasConsole = false;
    m.privilegeEnabled = false;
    m.currentDirectory = "C:\\";
    m.killAfterCall = 0;
}

void Restart() {
    Machine& m = Current();
    static const char SESSION_MANAGER[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    Key* session = FindKey(HKEY_LOCAL_MACHINE, SESSION_MANAGER);
    Value* pending = session ? session->FindValue("PendingFileRenameOperations") : nullptr;
    if (pending != nullptr) {
        std::vector<std::string> entries;
        std::string entry;
        for (BYTE b : AnsiData(*pending)) {
            if (b == 0) {
                entries.push_back(entry);
                entry.clear();
            } else {
                entry += (char)b;
            }
        }
        for (size_t i = 0; i + 1 < entries.size(); i += 2) {
            std::string source = entries[i];
            if (source.empty())
                break;
            if (!entries[i + 1].empty())
                Unmodelled("a pending rename at restart");
            if (source.compare(0, 4, "\\??\\") == 0)
                source = source.substr(4);
            std::vector<std::string> parts;
            if (!ResolvePath(source, &parts))
                continue;
            Node* parent = &m.fileRoot;
            for (size_t k = 0; parent && k + 1 < parts.size(); ++k) {
                auto child = parent->children.find(parts[k]);
                parent = child == parent->children.end() ? nullptr : child->second.get();
            }
            if (parent == nullptr)
                continue;
            auto target = parent->children.find(parts.back());
            if (target != parent->children.end() &&
                (!target->second->directory || target->second->children.empty()))
                parent->children.erase(target);
        }
        for (size_t i = 0; i < session->values.size(); ++i) {
            if (SameName(session->values[i].first, "PendingFileRenameOperations")) {
                session->values.erase(session->values.begin() + (long)i);
                break;
            }
        }
    }

    std::vector<std::string> gone;
    for (auto& service : m.services) {
        if (service.second.deletePending)
            gone.push_back(service.first);
    }
    for (auto& name : gone) {
        DeleteKeyAt(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + name);
        m.services.erase(name);
    }
    // The service control manager rebuilds its database from the registry.
    Key* servicesKey = FindKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services");
    std::map<std::string, Service, NoCase> rebuilt;
    for (auto& child : servicesKey->children) {
        if (child.second->FindValue("Type") == nullptr)
            continue;
        // Boot, system and automatic services start with Windows.
        Service service;
        Value* start = child.second->FindValue("Start");
        if (start != nullptr && start->data.size() == 4 && start->data[0] <= SERVICE_AUTO_START &&
            start->data[1] == 0 && start->data[2] == 0 && start->data[3] == 0)
            service.state = SERVICE_RUNNING;
        std::string name = TextToAnsi(child.second->name);
        auto old = m.services.find(name);
        if (old != m.services.end()) {
            service.acceptsStop = old->second.acceptsStop;
            service.customControls = old->second.customControls;
        }
        rebuilt[name] = service;
    }
    m.services = rebuilt;
    m.handles.clear();
    m.hasConsole = false;
    m.consoleText.clear();
    m.privilegeEnabled = false;
    m.currentDirectory = "C:\\";
}

} // namespace Sim

namespace Sim {

void LayFreshWindows();

namespace {

std::shared_ptr<Key> CopyKey(const Key& from, Key* parent,
                             std::map<const Key*, std::shared_ptr<Key>>* copies) {
    auto key = std::make_shared<Key>();
    key->name = from.name;
    key->parent = parent;
    key->values = from.values;
    key->refuseOpen = from.refuseOpen;
    key->refuseDelete = from.refuseDelete;
    key->deleted = from.deleted;
    for (auto& child : from.children)
        key->children.emplace_hint(key->children.end(), child.first,
                                   CopyKey(*child.second, key.get(), copies));
    if (copies != nullptr)
        (*copies)[&from] = key;
    return key;
}

void CopyNode(const Node& from, Node* to) {
    to->name = from.name;
    to->directory = from.directory;
    to->adminOnly = from.adminOnly;
    to->attributes = from.attributes;
    to->content = from.content;
    if (from.library)
        to->library = std::make_unique<Library>(*from.library);
    for (auto& child : from.children) {
        auto node = std::make_unique<Node>();
        CopyNode(*child.second, node.get());
        to->children.emplace_hint(to->children.end(), child.first, std::move(node));
    }
}

} // namespace

std::unique_ptr<Machine> Copy(const Machine& from) {
    if (!from.heapBlocks.empty() || !from.freedBlocks.empty())
        Unmodelled("a copy of a machine whose heap holds blocks");
    auto m = std::make_unique<Machine>();
    m->version = from.version;
    m->administrator = from.administrator;
    m->shutdownRight = from.shutdownRight;
    m->consoleFails = from.consoleFails;
    m->heapFailsAfter = from.heapFailsAfter;
    m->messageBoxAnswer = from.messageBoxAnswer;
    m->failCall = from.failCall;
    m->killAfterCall = from.killAfterCall;
    m->systemDirectory = from.systemDirectory;
    m->windowsDirectory = from.windowsDirectory;
    m->programFolder = from.programFolder;
    m->programsFolder = from.programsFolder;
    m->commonProgramsFolder = from.commonProgramsFolder;

    // Handles hold keys, some perhaps deleted since: each key is copied once
    // and a handle names the copy of its key.
    std::map<const Key*, std::shared_ptr<Key>> copies;
    std::map<const Key*, std::shared_ptr<Key>>* track = from.handles.empty() ? nullptr : &copies;
    if (from.machineRoot)
        m->machineRoot = CopyKey(*from.machineRoot, nullptr, track);
    m->services = from.services;
    m->devices = from.devices;
    CopyNode(from.fileRoot, &m->fileRoot);
    m->currentDirectory = from.currentDirectory;
    m->lastError = from.lastError;
    m->hasConsole = from.hasConsole;
    m->consoleText = from.consoleText;
    m->messageBoxes = from.messageBoxes;
    m->unregistered = from.unregistered;
    m->receivedByDeleted = from.receivedByDeleted;
    m->restartRequests = from.restartRequests;
    m->outcomes = from.outcomes;
    m->privilegeEnabled = from.privilegeEnabled;
    m->allocations = from.allocations;
    m->liveAllocations = from.liveAllocations;
    m->nextDevInst = from.nextDevInst;

    m->journalOn = from.journalOn;
    m->failableCalls = from.failableCalls;
    m->calls = from.calls;
    m->journal = from.journal;
    m->handles = from.handles;
    for (auto& handle : m->handles) {
        std::shared_ptr<Key>& key = handle.second.key;
        if (!key)
            continue;
        auto copy = copies.find(key.get());
        if (copy == copies.end()) {
            // A key deleted while open: copied on its own, no longer in the tree.
            copy = copies.emplace(key.get(), CopyKey(*key, nullptr, &copies)).first;
        }
        key = copy->second;
    }
    m->nextHandle = from.nextHandle;
    m->handleNumbers = from.handleNumbers;
    return m;
}

void Replace(std::unique_ptr<Machine> machine) {
    current = std::move(machine);
}

std::unique_ptr<Machine> Exchange(std::unique_ptr<Machine> machine) {
    std::swap(current, machine);
    return machine;
}

void Reset() {
    current = std::make_unique<Machine>();
    current->machineRoot = std::make_shared<Key>();
    current->machineRoot->name = "HKLM";
    LayFreshWindows();
    Restart();
    current->journal.clear();
}

} // namespace Sim
