// The places a description holds, and what every user of one looks up in it:
// keys and values by name, the catalogue's lists, and where the product's
// files are (the folder "DzPath" names, by the uninstaller's own rules).
// Plain data in, plain data out, so that every reader of a machine shares it.
#include "description.h"

#include "../catalogue/catalogue.h"
#include "../registry/text.h"

#include <algorithm>

namespace Description {

extern const char PRODUCT_FOLDER[] = "C:\\Program Files\\Tallowin";
extern const char CLASS_KEY[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
extern const char SERVICES_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\";

extern const char HANDLERS_KEY[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
                                   "Folder\\Desk\\shellex\\PropertySheetHandlers";
extern const char GROUP_ORDER_KEY[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder";

// Every place the uninstaller reads or changes, but the services' own keys
// and the setup classes, which are listed on each machine.
extern const Place PLACES[] = {
    {"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Multiuser", true},
    {"HKCR\\CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}", true},
    {"HKCR\\CLSID\\{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}", true},
    {HANDLERS_KEY, true},
    {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify", true},
    {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", false},
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
