// The places a description holds, and what every user of one looks up in it:
// keys and values by name, the catalogue's lists, and where the product's
// files are (the folder "DzPath" names, by the uninstaller's own rules).
// Plain data in, plain data out, so that every reader of a machine shares it;
// and the few helpers both ways of making a machine into a description use.
#include "description.h"

#include "../catalogue/catalogue.h"
#include "../platform/windows_keys.h"
#include "../registry/text.h"

#include <algorithm>
#include <cstdio>

namespace Description {

extern const char PRODUCT_FOLDER[] = "C:\\Program Files\\Tallowin";
extern const char CLASS_KEY[] = KEY_SETUP_CLASSES;
extern const char SERVICES_KEY[] = KEY_SERVICES "\\";

extern const char HANDLERS_KEY[] = "HKLM\\" KEY_DESK_PROPERTY_SHEET_HANDLERS;
extern const char GROUP_ORDER_KEY[] = "HKLM\\" KEY_SERVICE_GROUP_ORDER;

namespace {

// The product's own trees, as the catalogue names them.
const std::string CONTROL_TREE = std::string("HKLM\\") + PRODUCT_CONTROL_KEY;
std::string ClassIdTree(int row) {
    return std::string("HKCR\\" KEY_CLASS_IDS "\\") + ShellRegistrationTable[row].ClassId;
}
static_assert(SHELL_REGISTRATION_ROWS == 2, "PLACES names each shell registration's class");
const std::string CLASS_ID_TREES[SHELL_REGISTRATION_ROWS] = {ClassIdTree(0), ClassIdTree(1)};

} // namespace

// Every place the uninstaller reads or changes, but the services' own keys
// and the setup classes, which are listed on each machine. Winlogon's
// packages are read whole, the product's among them.
extern const Place PLACES[] = {
    {CONTROL_TREE.c_str(), true},
    {CLASS_ID_TREES[0].c_str(), true},
    {CLASS_ID_TREES[1].c_str(), true},
    {HANDLERS_KEY, true},
    {"HKLM\\" KEY_WINLOGON_NOTIFY, true},
    {"HKLM\\" KEY_WINLOGON, false},
    {GROUP_ORDER_KEY, false},
};
extern const int PLACE_COUNT = sizeof PLACES / sizeof PLACES[0];

// As the registration-cleanup step deletes them, in the order verify names them.
std::vector<std::string> DeletedTrees() {
    std::vector<std::string> trees = {CONTROL_TREE,
                                      std::string("HKLM\\") + WINLOGON_NOTIFY_RYWINLOG,
                                      std::string("HKLM\\") + WINLOGON_NOTIFY_DZMUNOTIFY};
    for (int row = 0; row < SHELL_REGISTRATION_ROWS; ++row) {
        trees.push_back(CLASS_ID_TREES[row]);
        trees.push_back(std::string(HANDLERS_KEY) + "\\" + ShellRegistrationTable[row].HandlerName);
    }
    return trees;
}

bool InTree(const std::string& path, const std::string& tree) {
    return path.size() >= tree.size() && SameText(path.substr(0, tree.size()), tree) &&
           (path.size() == tree.size() || path[tree.size()] == '\\');
}

const Key* FindKey(const Machine& machine, const std::string& path) {
    for (const Key& key : machine.registry) {
        if (SameText(key.path, path))
            return &key;
    }
    return nullptr;
}

const Value* FindValue(const Key* key, const std::string& name) {
    if (key == nullptr)
        return nullptr;
    for (const Value& value : key->values) {
        if (SameText(value.name, name))
            return &value;
    }
    return nullptr;
}

std::vector<std::string> ListNames(const char* list) {
    std::vector<std::string> names;
    for (const char* entry = list; *entry != 0; entry = NextListEntry(entry))
        names.push_back(entry);
    return names;
}

std::vector<std::string> DescribedServices() {
    std::vector<std::string> names;
    for (const char* list : DESCRIBED_SERVICE_LISTS) {
        std::vector<std::string> more = ListNames(list);
        names.insert(names.end(), more.begin(), more.end());
    }
    return names;
}

std::string ProductFolder(const Machine& machine) {
    const Value* value = FindValue(FindKey(machine, std::string("HKLM\\") + PRODUCT_CONTROL_KEY),
                                   PRODUCT_FOLDER_VALUE);
    // As the uninstaller reads it: into a buffer of its size, then ended.
    if (value == nullptr || value->data.empty() || value->data.size() > VALUE_BUFFER_SIZE)
        return "";
    char buffer[VALUE_BUFFER_SIZE];
    std::copy(value->data.begin(), value->data.end(), buffer);
    DWORD length = EndRegistryText(buffer, (DWORD)value->data.size());
    if (length == 0 || !IsAbsoluteFolder(buffer))
        return "";
    std::string folder(buffer, length);
    // One ending separator goes, but a drive's root keeps its own.
    if (folder.size() > 3 && IsSeparator(folder.back()))
        folder.pop_back();
    return folder;
}

std::string ControlSetName(DWORD number) {
    char name[24];
    std::snprintf(name, sizeof name, "ControlSet%03u", (unsigned)number);
    return name;
}

std::string RootPath(const std::string& path, HKEY* root) {
    *root = SameText(path.substr(0, 5), "HKCR\\") ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
    return path.substr(5);
}

bool GuidOf(const std::string& text, GUID* guid) {
    unsigned a, b, c, d[8];
    if (text.size() != GUID_TEXT_SIZE ||
        std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &a, &b, &c, &d[0],
                    &d[1], &d[2], &d[3], &d[4], &d[5], &d[6], &d[7]) != 11)
        return false;
    guid->Data1 = a;
    guid->Data2 = (WORD)b;
    guid->Data3 = (WORD)c;
    for (int i = 0; i < 8; ++i)
        guid->Data4[i] = (BYTE)d[i];
    return true;
}

void LayServiceKeys(const Machine& machine) {
    std::string services = SERVICES_KEY;
    services.pop_back();
    std::vector<std::string> described = DescribedServices();
    for (const std::string& name : machine.serviceKeys) {
        if (std::any_of(described.begin(), described.end(),
                        [&](const std::string& own) { return SameText(own, name); }))
            continue;
        std::string path = services + "\\" + name;
        HKEY key;
        if (Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) ==
            ERROR_SUCCESS) {
            Win::RegCloseKey(key);
            continue;
        }
        if (Win::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr) != ERROR_SUCCESS)
            continue;
        const std::pair<const char*, DWORD> values[] = {
            {"Type", SERVICE_KERNEL_DRIVER}, {"Start", SERVICE_DISABLED}, {"ErrorControl", 0}};
        for (auto& value : values)
            Win::RegSetValueExA(key, value.first, 0, REG_DWORD, (const BYTE*)&value.second,
                                sizeof value.second);
        Win::RegCloseKey(key);
    }
}

} // namespace Description
