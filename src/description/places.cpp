// The places a description holds, and what every user of one looks up in it:
// keys and values by name, the catalogue's lists, and where the product's
// files are (the folder "DzPath" names, by the uninstaller's own rules).
// Plain data in, plain data out, so that every reader of a machine shares it.
#include "description.h"

#include "../catalogue/catalogue.h"
#include "../platform/windows_keys.h"
#include "../registry/text.h"

#include <algorithm>

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

} // namespace Description
