// What an installer's Win32 calls can make of a described machine: plain
// data, the same on the simulated side and under Wine.
#include "lay_down.h"

#include <algorithm>
#include <cstdio>

namespace Description {

extern const char SERVICE_PATH[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return SameText(text.substr(0, prefix.size()), prefix);
}

DWORD DwordOf(const Value* value, DWORD fallback) {
    if (value == nullptr || value->type != REG_DWORD || value->data.size() != 4)
        return fallback;
    return value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
           (DWORD)value->data[3] << 24;
}

const char* TextOf(const Value* value, std::string* holder) {
    if (value == nullptr ||
        (value->type != REG_SZ && value->type != REG_EXPAND_SZ && value->type != REG_MULTI_SZ))
        return nullptr;
    holder->assign(value->data.begin(), value->data.end());
    holder->append(2, '\0');
    return holder->c_str();
}

bool NarrowIds(const std::vector<BYTE>& wide, std::vector<BYTE>* narrow) {
    narrow->clear();
    if (wide.size() % 2 != 0 || wide.size() < 4)
        return false;
    for (size_t i = 0; i < wide.size(); i += 2) {
        if (wide[i + 1] != 0 || wide[i] > 0x7E)
            return false;
        narrow->push_back(wide[i]);
    }
    size_t n = narrow->size();
    return (*narrow)[n - 1] == 0 && (*narrow)[n - 2] == 0 &&
           std::string(narrow->begin(), narrow->end() - 2).find(std::string(1, '\0') + '\0') ==
               std::string::npos;
}

std::string DeviceName(const std::string& instanceId) {
    if (!StartsWith(instanceId, "ROOT\\"))
        return "";
    std::string rest = instanceId.substr(5);
    size_t slash = rest.find('\\');
    return slash == std::string::npos || slash == 0 ? "" : rest.substr(0, slash);
}

std::string Unlayable(const Machine& machine) {
    // Files are laid in the product's usual folder, whatever "DzPath" says.
    if (!machine.productFolder.empty() && Upper(machine.productFolder) != Upper(PRODUCT_FOLDER))
        return "the product's files were read in " + machine.productFolder + ", not in " +
               PRODUCT_FOLDER;
    for (const Key& key : machine.registry) {
        if (!key.readable)
            return "key " + key.path + " refuses reading: access rights are not laid down";
        if (!key.writable)
            return "key " + key.path + " refuses writing: access rights are not laid down";
        if (!key.deletable)
            return "key " + key.path + " refuses deletion: access rights are not laid down";
        // Wine's A registry functions refuse longer subkey paths (ERROR_MORE_DATA).
        if (key.path.size() - 5 >= MAX_PATH)
            return "key path longer than " + std::to_string(MAX_PATH - 1) +
                   " characters: Wine's A functions refuse it";
        for (const Value& value : key.values) {
            bool text =
                value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
            if (text && (value.data.empty() || value.data.back() != 0))
                return "string value " + key.path + " : " + value.name +
                       " without its ending NUL: Wine's RegSetValueExA adds one, Windows "
                       "stores the bytes it is given";
        }
    }
    for (const File& file : machine.files) {
        for (const Import& import : file.imports) {
            bool beside =
                std::any_of(machine.files.begin(), machine.files.end(), [&](const File& f) {
                    return SameText(f.path, "%PRODUCT%\\" + import.name);
                });
            if (import.found && !beside)
                return "library " + file.path + " imports " + import.name +
                       ", found outside the product folder: only the product's files are laid down";
        }
    }
    for (const Service& service : machine.services) {
        if (service.state != SERVICE_RUNNING || service.program == Program::None)
            continue;
        const Key* key = FindKey(machine, SERVICE_PATH + service.name);
        std::string image;
        bool found = false;
        if (TextOf(FindValue(key, "ImagePath"), &image)) {
            for (const File& file : machine.files)
                found =
                    found || (!file.directory && StartsWith(file.path, "%PRODUCT%") &&
                              Upper(PRODUCT_FOLDER + file.path.substr(9)) == Upper(image.c_str()));
        }
        if (!found)
            return "service " + service.name +
                   " runs a program that is not on the machine: a real one cannot start";
    }
    for (const Device& device : machine.devices) {
        GUID guid;
        std::vector<BYTE> ids;
        if (DeviceName(device.instanceId).empty())
            continue; // the machine's own hardware, which every machine has its own of
        if (!device.present)
            return "device " + device.instanceId + " is not present: Wine's are all present";
        if (!GuidOf(device.classGuid, &guid))
            return "device " + device.instanceId + " has no class GUID";
        if (device.hasHardwareIds && !NarrowIds(device.hardwareIds, &ids))
            return "device " + device.instanceId +
                   " has hardware IDs that are not a well-ended ASCII list";
        if ((!device.upperFilters.empty() && !NarrowIds(device.upperFilters, &ids)) ||
            (!device.lowerFilters.empty() && !NarrowIds(device.lowerFilters, &ids)))
            return "device " + device.instanceId +
                   " has filters that are not a well-ended ASCII list";
    }
    // The boot view's access rights are not laid down either.
    if (!machine.boot.devicesReadable)
        return "the device list refuses reading: access rights are not laid down";
    for (const ControlSet& set : machine.boot.sets) {
        std::string where = "HKLM\\SYSTEM\\" + set.name;
        if (!set.servicesReadable || !set.classesReadable)
            return "the services or classes of " + where +
                   " refuse reading: access rights are not laid down";
        for (const BootService& service : set.services) {
            if (!service.readable)
                return "key " + where + "\\Services\\" + service.name +
                       " refuses reading: access rights are not laid down";
        }
        for (const SetupClass& setupClass : set.classes) {
            if (!setupClass.readable)
                return "key " + where + "\\Control\\Class\\" + setupClass.guid +
                       " refuses reading: access rights are not laid down";
        }
    }
    for (const Service& service : machine.services) {
        for (size_t i = 0; i < service.name.size(); ++i) {
            if ((unsigned char)service.name[i] < 0x20 || (unsigned char)service.name[i] > 0x7E)
                return "service name " + service.name + " is not ASCII";
        }
    }
    return "";
}

Machine LaidDown(const Machine& machine, const Machine& clean) {
    Machine laid = machine;
    laid.version = clean.version;
    for (File& file : laid.files)
        file.readOnly = false;
    for (Service& service : laid.services) {
        auto own = std::find_if(clean.services.begin(), clean.services.end(),
                                [&](const Service& s) { return SameText(s.name, service.name); });
        DWORD type = DwordOf(FindValue(FindKey(machine, SERVICE_PATH + service.name), "Type"),
                             SERVICE_WIN32_OWN_PROCESS);
        bool driver = (type & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
        bool started =
            !driver && service.program != Program::None && service.state == SERVICE_RUNNING;
        service.state = started                       ? (DWORD)SERVICE_RUNNING
                        : own != clean.services.end() ? own->state
                                                      : SERVICE_STOPPED;
    }
    laid.devices = clean.devices;
    for (const Device& device : machine.devices) {
        std::string name = DeviceName(device.instanceId);
        if (name.empty() ||
            std::any_of(clean.devices.begin(), clean.devices.end(), [&](const Device& own) {
                return SameText(own.instanceId, device.instanceId);
            }))
            continue;
        std::string base = Upper("ROOT\\" + name + "\\");
        Device made = device;
        for (int number = 0;; ++number) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%04d", number);
            made.instanceId = base + suffix;
            if (std::none_of(laid.devices.begin(), laid.devices.end(), [&](const Device& other) {
                    return SameText(other.instanceId, made.instanceId);
                }))
                break;
        }
        made.present = true;
        laid.devices.push_back(made);
    }
    return laid;
}

} // namespace Description
