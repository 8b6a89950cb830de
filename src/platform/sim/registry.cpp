// The registry: HKEY_LOCAL_MACHINE, and HKEY_CLASSES_ROOT as the view of its
// SOFTWARE\Classes. Names compare without case; subkeys enumerate in sorted
// order, as the registry keeps them.
#include "internal.h"

#include <cstring>

namespace Sim {

static bool IsRoot(HKEY key) {
    return key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT;
}

static bool Writes(REGSAM access) {
    return (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | 0x00040000 |
                      0x00080000)) != 0;
}

std::shared_ptr<Key> KeyOf(HKEY key, DWORD* access, LONG* status) {
    Machine& m = Current();
    *status = ERROR_SUCCESS;
    if (key == HKEY_LOCAL_MACHINE) {
        *access = KEY_ALL_ACCESS;
        return m.machineRoot;
    }
    if (key == HKEY_CLASSES_ROOT) {
        *access = KEY_ALL_ACCESS;
        return m.machineRoot->children["SOFTWARE"]->children["Classes"];
    }
    if (key == HKEY_CURRENT_USER)
        Unmodelled("HKEY_CURRENT_USER");
    Handle* handle = FindHandle(key, HandleKind::Key);
    if (handle == nullptr) {
        *status = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (handle->key->deleted) {
        *status = ERROR_KEY_DELETED;
        return nullptr;
    }
    *access = handle->access;
    return handle->key;
}

// The key of a handle that was opened with `needed` access, or null with the status set.
static std::shared_ptr<Key> KeyWith(HKEY hkey, REGSAM needed, LONG* status) {
    DWORD access;
    std::shared_ptr<Key> key = KeyOf(hkey, &access, status);
    if (key && !(access & needed)) {
        *status = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return key;
}

// A subkey path may not begin with a backslash nor hold two in a row.
static bool WellFormed(const char* path) {
    if (path == nullptr)
        return true;
    for (const char* c = path; *c != 0; ++c) {
        if (*c == '\\' && (c == path || c[-1] == '\\'))
            return false;
    }
    return true;
}

// `text`: the path's names are Unicode text (UTF-8), as a W function gives
// them, rather than ANSI.
static LONG Walk(HKEY root, const char* path, bool create, std::shared_ptr<Key>* out, bool* created,
                 bool text = false) {
    DWORD access;
    LONG status;
    std::shared_ptr<Key> key = KeyOf(root, &access, &status);
    if (!key)
        return status;
    if (!WellFormed(path))
        return 161; // ERROR_BAD_PATHNAME
    // Well formed, the only empty name is after a final backslash, which is skipped.
    LONG result = ERROR_SUCCESS;
    std::string converted;
    ForEachName(path, [&](const std::string& ansi) {
        const std::string& part = text || Ascii(ansi) ? ansi : (converted = AnsiToText(ansi));
        auto child = key->children.find(part);
        if (child != key->children.end()) {
            key = child->second;
            return true;
        }
        if (!create)
            result = ERROR_FILE_NOT_FOUND;
        else if (!Current().administrator)
            result = ERROR_ACCESS_DENIED;
        if (result != ERROR_SUCCESS)
            return false;
        auto made = std::make_shared<Key>();
        made->name = part;
        made->parent = key.get();
        key->children[part] = made;
        key = std::move(made);
        *created = true;
        return true;
    });
    if (result != ERROR_SUCCESS)
        return result;
    *out = key;
    return ERROR_SUCCESS;
}

static std::string OpenCall(const char* name, HKEY root, const char* path, REGSAM access) {
    return std::string(name) + "(" + H(root) + ", " + Q(path) + ", " + X(access) + ")";
}

static LONG OpenOrCreate(const char* callName, HKEY root, const char* path, REGSAM access,
                         PHKEY result, bool create, LPDWORD disposition, bool text = false) {
    std::string call = Current().journalOn ? OpenCall(callName, root, path, access) : std::string();
    if (Injected()) {
        *result = nullptr;
        return LogStatus(call, ERROR_ACCESS_DENIED);
    }
    if (result == nullptr)
        Unmodelled(call + " without a result pointer");
    *result = nullptr;
    std::shared_ptr<Key> key;
    bool created = false;
    LONG status = Walk(root, path, create, &key, &created, text);
    if (status == ERROR_SUCCESS && key->refuseOpen)
        status = ERROR_ACCESS_DENIED;
    if (status == ERROR_SUCCESS && key->refuseWrite && Writes(access))
        status = ERROR_ACCESS_DENIED;
    // An open is checked against every right it asks: KEY_ALL_ACCESS holds DELETE.
    if (status == ERROR_SUCCESS && key->refuseDelete && (access & DELETE) != 0)
        status = ERROR_ACCESS_DENIED;
    if (status == ERROR_SUCCESS && !Current().administrator && Writes(access))
        status = ERROR_ACCESS_DENIED;
    if (status != ERROR_SUCCESS)
        return LogStatus(call, status);
    Handle handle{};
    handle.key = key;
    handle.access = access;
    *result = (HKEY)NewHandle(HandleKind::Key, handle);
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return Log(call, status, "0 " + H(*result));
}

} // namespace Sim

using namespace Sim;

namespace Win {

LONG WINAPI RegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    if (options != 0)
        Unmodelled("RegOpenKeyExA options " + X(options));
    return OpenOrCreate("RegOpenKeyExA", root, path, access, key, false, nullptr);
}

LONG WINAPI RegCreateKeyExA(HKEY root, LPCSTR path, DWORD reserved, LPSTR className, DWORD options,
                            REGSAM access, LPVOID security, PHKEY key, LPDWORD disposition) {
    if (reserved != 0 || className != nullptr || options != REG_OPTION_NON_VOLATILE ||
        security != nullptr)
        Unmodelled("RegCreateKeyExA with a class, options or security");
    return OpenOrCreate("RegCreateKeyExA", root, path, access, key, true, disposition);
}

} // namespace Win

namespace Sim {

// A value name given to a W function, kept as the A functions give names.
static std::string NameOfWide(LPCWSTR name) {
    if (name == nullptr)
        return std::string();
    size_t units = 0;
    while (name[units] != 0)
        ++units;
    return TextToAnsi(WideToText((const char16_t*)name, units));
}

// The data of a value as the A or the W functions give it: strings through
// the code page, or as their UTF-16 units; anything else as stored.
static std::vector<BYTE> Shown(const Value& value, bool wide) {
    if (!IsText(value.type))
        return value.data;
    std::string text(value.data.begin(), value.data.end());
    if (!wide)
        return Ascii(text) ? value.data : AnsiData(value);
    return Unicode::LittleEndian(TextToWide(text));
}

static LONG QueryValue(const char* function, HKEY hkey, const char* name, LPDWORD reserved,
                       LPDWORD type, LPBYTE data, LPDWORD size, bool wide) {
    std::string call = Current().journalOn
                           ? std::string(function) + "(" + H(hkey) + ", " + Q(name) + ", " +
                                 (size ? D(*size) : std::string("NULL")) + ")"
                           : std::string();
    if (Injected())
        return LogStatus(call, ERROR_ACCESS_DENIED);
    if (reserved != nullptr)
        return LogStatus(call, ERROR_INVALID_PARAMETER);
    if (data != nullptr && size == nullptr)
        return LogStatus(call, 998); // ERROR_NOACCESS
    LONG status;
    std::shared_ptr<Key> key = KeyWith(hkey, KEY_QUERY_VALUE, &status);
    if (!key)
        return LogStatus(call, status);
    Value* value = key->FindValue(name ? name : "");
    if (value == nullptr)
        return LogStatus(call, ERROR_FILE_NOT_FOUND);
    // A string is given as it was stored, with no NUL added: the reader
    // terminates it.
    std::vector<BYTE> shown = Shown(*value, wide);
    DWORD length = (DWORD)shown.size();
    if (type != nullptr)
        *type = value->type;
    if (data != nullptr && *size < length) {
        // Windows leaves the buffer's contents undefined here; this leaves them untouched.
        *size = length;
        return LogStatus(call, ERROR_MORE_DATA);
    }
    if (data != nullptr && length != 0)
        std::memcpy(data, shown.data(), length);
    if (size != nullptr)
        *size = length;
    return Log(call, (LONG)ERROR_SUCCESS, "0 size " + D(length));
}

static LONG SetValue(const char* function, HKEY hkey, const char* name, DWORD reserved, DWORD type,
                     const BYTE* data, DWORD size, bool wide) {
    std::string call = Current().journalOn ? std::string(function) + "(" + H(hkey) + ", " +
                                                 Q(name) + ", " + D(type) + ", " + D(size) + ")"
                                           : std::string();
    if (Injected())
        return LogStatus(call, ERROR_ACCESS_DENIED);
    if (reserved != 0)
        return LogStatus(call, ERROR_INVALID_PARAMETER);
    if (data == nullptr && size != 0)
        return LogStatus(call, 998);
    // Windows keeps an odd byte count as given; strings here are held as text.
    if (wide && IsText(type) && size % 2 != 0)
        Unmodelled(call + ": a string of an odd number of bytes");
    LONG status;
    std::shared_ptr<Key> key = KeyWith(hkey, KEY_SET_VALUE, &status);
    if (!key)
        return LogStatus(call, status);
    std::string valueName = name ? name : "";
    Value* value = key->FindValue(valueName);
    if (value == nullptr) {
        key->values.push_back({valueName, Value()});
        value = &key->values.back().second;
    }
    value->type = type;
    if (wide && IsText(type)) {
        std::u16string units = Unicode::FromLittleEndian(data, size);
        std::string text = WideToText(units.data(), units.size());
        value->data.assign(text.begin(), text.end());
    } else if (IsText(type) && !Ascii((const char*)data, size)) {
        value->data = AnsiValue(type, data, size).data;
    } else {
        value->data.assign(data, data + size);
    }
    return LogStatus(call, ERROR_SUCCESS);
}

} // namespace Sim

namespace Win {

LONG WINAPI RegQueryValueExA(HKEY hkey, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
    return QueryValue("RegQueryValueExA", hkey, name, reserved, type, data, size, false);
}

LONG WINAPI RegQueryValueExW(HKEY hkey, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
    std::string ansi = NameOfWide(name);
    return QueryValue("RegQueryValueExW", hkey, name ? ansi.c_str() : nullptr, reserved, type, data,
                      size, true);
}

LONG WINAPI RegSetValueExA(HKEY hkey, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
    return SetValue("RegSetValueExA", hkey, name, reserved, type, data, size, false);
}

LONG WINAPI RegSetValueExW(HKEY hkey, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
    std::string ansi = NameOfWide(name);
    return SetValue("RegSetValueExW", hkey, name ? ansi.c_str() : nullptr, reserved, type, data,
                    size, true);
}

LONG WINAPI RegDeleteValueA(HKEY hkey, LPCSTR name) {
    std::string call =
        Current().journalOn ? "RegDeleteValueA(" + H(hkey) + ", " + Q(name) + ")" : std::string();
    if (Injected())
        return LogStatus(call, ERROR_ACCESS_DENIED);
    LONG status;
    std::shared_ptr<Key> key = KeyWith(hkey, KEY_SET_VALUE, &status);
    if (!key)
        return LogStatus(call, status);
    for (size_t i = 0; i < key->values.size(); ++i) {
        if (SameName(key->values[i].first, name ? name : "")) {
            key->values.erase(key->values.begin() + (long)i);
            return LogStatus(call, ERROR_SUCCESS);
        }
    }
    return LogStatus(call, ERROR_FILE_NOT_FOUND);
}

} // namespace Win

namespace Sim {

// The subkey an enumeration's index names, or null with the status.
static const Key* ChildAt(HKEY hkey, DWORD index, LONG* status) {
    if (Injected()) {
        *status = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    std::shared_ptr<Key> key = KeyWith(hkey, KEY_ENUMERATE_SUB_KEYS, status);
    if (!key)
        return nullptr;
    if (index >= key->children.size()) {
        *status = ERROR_NO_MORE_ITEMS;
        return nullptr;
    }
    auto child = key->children.begin();
    std::advance(child, index);
    return child->second.get();
}

} // namespace Sim

namespace Win {

LONG WINAPI RegEnumKeyA(HKEY hkey, DWORD index, LPSTR name, DWORD size) {
    std::string call = Current().journalOn
                           ? "RegEnumKeyA(" + H(hkey) + ", " + D(index) + ", " + D(size) + ")"
                           : std::string();
    LONG status;
    const Key* child = ChildAt(hkey, index, &status);
    if (child == nullptr)
        return LogStatus(call, status);
    // A name the code page cannot carry comes back with '?' in its place.
    const std::string& stored = child->name;
    std::string converted;
    const std::string& childName = Ascii(stored) ? stored : (converted = TextToAnsi(stored));
    if (childName.size() + 1 > size)
        return LogStatus(call, ERROR_MORE_DATA);
    std::memcpy(name, childName.c_str(), childName.size() + 1);
    return Log(call, (LONG)ERROR_SUCCESS, "0 " + Q(name));
}

LONG WINAPI RegOpenKeyExW(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) {
    if (options != 0)
        Unmodelled("RegOpenKeyExW options " + X(options));
    size_t units = 0;
    while (path != nullptr && path[units] != 0)
        ++units;
    std::string text = path == nullptr ? std::string() : WideToText((const char16_t*)path, units);
    return OpenOrCreate("RegOpenKeyExW", root, path == nullptr ? nullptr : text.c_str(), access,
                        key, false, nullptr, true);
}

LONG WINAPI RegEnumKeyW(HKEY hkey, DWORD index, LPWSTR name, DWORD size) {
    std::string call = Current().journalOn
                           ? "RegEnumKeyW(" + H(hkey) + ", " + D(index) + ", " + D(size) + ")"
                           : std::string();
    LONG status;
    const Key* child = ChildAt(hkey, index, &status);
    if (child == nullptr)
        return LogStatus(call, status);
    std::u16string wide = TextToWide(child->name);
    if (wide.size() + 1 > size)
        return LogStatus(call, ERROR_MORE_DATA);
    std::memcpy(name, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return Log(call, (LONG)ERROR_SUCCESS, "0 " + Q(child->name.c_str()));
}

LONG WINAPI RegGetKeySecurity(HKEY hkey, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor,
                              LPDWORD size) {
    std::string call = Current().journalOn
                           ? "RegGetKeySecurity(" + H(hkey) + ", " + X(what) + ", " + D(*size) + ")"
                           : std::string();
    if (Injected())
        return LogStatus(call, ERROR_ACCESS_DENIED);
    LONG status;
    std::shared_ptr<Key> key = KeyWith(hkey, READ_CONTROL, &status);
    if (!key)
        return LogStatus(call, status);
    // A self-relative descriptor whose access list the simulator keeps as
    // the rights it grants administrators (see DIFFERENCES.md).
    DWORD needed = SECURITY_DESCRIPTOR_BYTES;
    if (*size < needed || descriptor == nullptr) {
        *size = needed;
        return LogStatus(call, ERROR_INSUFFICIENT_BUFFER);
    }
    *size = needed;
    BYTE* bytes = (BYTE*)descriptor;
    std::memset(bytes, 0, needed);
    bytes[0] = 1;    // revision
    bytes[2] = 0x04; // SE_DACL_PRESENT
    bytes[3] = 0x80; // SE_SELF_RELATIVE
    std::memcpy(bytes + 20, SECURITY_MARK, 4);
    DWORD granted = key->refuseWrite ? (DWORD)KEY_READ : (DWORD)KEY_ALL_ACCESS;
    if (key->refuseDelete)
        granted &= ~(DWORD)DELETE;
    std::memcpy(bytes + 24, &granted, 4);
    return LogStatus(call, ERROR_SUCCESS);
}

LONG WINAPI RegDeleteKeyA(HKEY root, LPCSTR path) {
    std::string call =
        Current().journalOn ? "RegDeleteKeyA(" + H(root) + ", " + Q(path) + ")" : std::string();
    if (Injected())
        return LogStatus(call, ERROR_ACCESS_DENIED);
    if (path == nullptr || path[0] == 0)
        Unmodelled(call + ": deleting the key of the handle itself");
    std::shared_ptr<Key> key;
    bool created = false;
    LONG status = Walk(root, path, false, &key, &created);
    if (status != ERROR_SUCCESS)
        return LogStatus(call, status);
    // A key that still has subkeys cannot be deleted on Windows NT.
    if (!key->children.empty() || key->refuseDelete || key->refuseOpen ||
        !Current().administrator || key->parent == nullptr)
        return LogStatus(call, ERROR_ACCESS_DENIED);
    key->deleted = true;
    key->parent->children.erase(key->name);
    return LogStatus(call, ERROR_SUCCESS);
}

LONG WINAPI RegFlushKey(HKEY hkey) {
    std::string call = Current().journalOn ? "RegFlushKey(" + H(hkey) + ")" : std::string();
    if (Injected())
        return LogStatus(call, ERROR_ACCESS_DENIED);
    DWORD access;
    LONG status;
    KeyOf(hkey, &access, &status);
    return LogStatus(call, status);
}

LONG WINAPI RegCloseKey(HKEY hkey) {
    std::string call = Current().journalOn ? "RegCloseKey(" + H(hkey) + ")" : std::string();
    if (IsRoot(hkey))
        return LogStatus(call, ERROR_SUCCESS);
    if (FindHandle(hkey, HandleKind::Key) == nullptr)
        return LogStatus(call, ERROR_INVALID_HANDLE);
    DropHandle(hkey);
    return LogStatus(call, ERROR_SUCCESS);
}

} // namespace Win

namespace Win {

LONG WINAPI RegEnumValueA(HKEY hkey, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    std::string call =
        Current().journalOn ? "RegEnumValueA(" + H(hkey) + ", " + D(index) + ")" : std::string();
    if (Injected())
        return LogStatus(call, ERROR_ACCESS_DENIED);
    if (reserved != nullptr || name == nullptr || nameSize == nullptr)
        return LogStatus(call, ERROR_INVALID_PARAMETER);
    if (data != nullptr && dataSize == nullptr)
        return LogStatus(call, 998); // ERROR_NOACCESS
    LONG status;
    std::shared_ptr<Key> key = KeyWith(hkey, KEY_QUERY_VALUE, &status);
    if (!key)
        return LogStatus(call, status);
    if (index >= key->values.size())
        return LogStatus(call, ERROR_NO_MORE_ITEMS);
    // Names and strings are kept as Unicode and given in the ANSI code page,
    // as RegQueryValueExA gives them.
    const std::string& stored = key->values[index].first;
    const std::string valueName = Ascii(stored) ? stored : TextToAnsi(stored);
    const Value& value = key->values[index].second;
    std::vector<BYTE> ansi;
    const std::vector<BYTE>* shown = &value.data;
    if (IsText(value.type) && !Ascii((const char*)value.data.data(), value.data.size())) {
        ansi = AnsiData(value);
        shown = &ansi;
    }
    // The name's size counts its NUL going in and leaves it out coming back.
    if (valueName.size() + 1 > *nameSize)
        return LogStatus(call, ERROR_MORE_DATA);
    std::memcpy(name, valueName.c_str(), valueName.size() + 1);
    *nameSize = (DWORD)valueName.size();
    if (type != nullptr)
        *type = value.type;
    DWORD length = (DWORD)shown->size();
    if (data != nullptr && *dataSize < length) {
        *dataSize = length;
        return LogStatus(call, ERROR_MORE_DATA);
    }
    if (data != nullptr && length != 0)
        std::memcpy(data, shown->data(), length);
    if (dataSize != nullptr)
        *dataSize = length;
    return Log(call, (LONG)ERROR_SUCCESS, "0 " + Q(name) + " size " + D(length));
}

} // namespace Win

// Set-up and inspection helpers, unjournalled (machine.h).

namespace Sim {

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
    return Strings::JoinMultiString(entries);
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

} // namespace Sim
