// Where the product's files are: the folder "DzPath" names, taken by the
// uninstaller's own rules. Plain data in, plain data out, so that every
// reader of a machine shares it.
#include "description.h"

#include "../catalogue/catalogue.h"
#include "../registry/text.h"

#include <algorithm>

namespace Description {

extern const char PRODUCT_FOLDER[] = "C:\\Program Files\\Tallowin";
extern const char CLASS_KEY[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
extern const char SERVICES_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\";

// Every place the uninstaller reads or changes, but the services' own keys
// and the setup classes, which are listed on each machine.
extern const Place PLACES[] = {
    {"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Multiuser", true},
    {"HKCR\\CLSID\\{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}", true},
    {"HKCR\\CLSID\\{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}", true},
    {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls "
     "Folder\\Desk\\shellex\\PropertySheetHandlers",
     true},
    {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify", true},
    {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", false},
    {"HKLM\\SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder", false},
};
extern const int PLACE_COUNT = sizeof PLACES / sizeof PLACES[0];

namespace {

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if ((x >= 'a' && x <= 'z' ? x - 32 : x) != (y >= 'a' && y <= 'z' ? y - 32 : y))
            return false;
    }
    return true;
}

} // namespace

std::string ProductFolder(const Machine& machine) {
    const std::string control = std::string("HKLM\\") + PRODUCT_CONTROL_KEY;
    for (const Key& key : machine.registry) {
        if (!SameText(key.path, control))
            continue;
        for (const Value& value : key.values) {
            if (!SameText(value.name, PRODUCT_FOLDER_VALUE))
                continue;
            // As the uninstaller reads it: into a buffer of its size, then ended.
            if (value.data.empty() || value.data.size() > VALUE_BUFFER_SIZE)
                return "";
            char buffer[VALUE_BUFFER_SIZE];
            std::copy(value.data.begin(), value.data.end(), buffer);
            DWORD length = EndRegistryText(buffer, (DWORD)value.data.size());
            if (length == 0 || !IsAbsoluteFolder(buffer))
                return "";
            std::string folder(buffer, length);
            // One ending separator goes, but a drive's root keeps its own.
            if (folder.size() > 3 && IsSeparator(folder.back()))
                folder.pop_back();
            return folder;
        }
    }
    return "";
}

} // namespace Description
