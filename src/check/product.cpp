#include "product.h"

#include "../catalogue/catalogue.h"
#include "../platform/strings.h"
#include "../steps/steps.h"
#include "../uninstall/uninstall.h"

#include <algorithm>

namespace Check {

using Description::Machine;

extern const char TAKE_OWNERSHIP[] =
    "take ownership of the key (regedt32, Permissions, Advanced, Owner) or grant "
    "Administrators Full Control of it and the keys below it (regini or subinacl)";

std::string UndeletableKey(const Machine& machine, const std::string& tree) {
    for (const Description::Key& key : machine.registry) {
        if (!key.deletable && Description::InTree(key.path, tree))
            return key.path;
    }
    return "";
}

std::vector<std::string> AnsiEntries(const std::vector<BYTE>& data) {
    return Strings::SplitMultiString(data);
}

std::vector<std::string> WideEntries(const std::vector<BYTE>& wide) {
    return Strings::SplitMultiString(wide, Strings::UTF16);
}

bool IsProductService(const std::string& name) {
    std::vector<std::string> services = Description::ListNames(ServiceList);
    return std::any_of(services.begin(), services.end(),
                       [&](const std::string& service) { return SameText(service, name); });
}

bool IsProductDevice(const Description::Device& device, bool* longIds) {
    // As the uninstaller matches: the first hardware ID, ended.
    if (longIds != nullptr)
        *longIds = false;
    if (!device.hasHardwareIds)
        return false;
    std::vector<WCHAR> first;
    for (size_t i = 0; i + 1 < device.hardwareIds.size(); i += 2) {
        WCHAR unit = (WCHAR)(device.hardwareIds[i] | device.hardwareIds[i + 1] << 8);
        if (unit == 0)
            break;
        first.push_back(unit);
    }
    first.push_back(0);
    bool product = MatchHardwareId(first.data()) == 1;
    if (device.hardwareIds.size() <= HARDWARE_ID_LIST_BYTES)
        return product;
    if (longIds != nullptr)
        *longIds = product;
    return false;
}

std::string ClassName(const Machine& machine, const std::string& classGuid) {
    const Description::Value* value = Description::FindValue(
        Description::FindKey(machine,
                             std::string("HKLM\\") + Description::CLASS_KEY + "\\" + classGuid),
        "Class");
    std::vector<std::string> text;
    if (value != nullptr && value->type == REG_SZ)
        text = AnsiEntries(value->data);
    return text.empty() ? classGuid : text[0] + " " + classGuid;
}

} // namespace Check
