// The device tree and SetupAPI's device information sets. A set holds the
// devices present when it was made; an element whose device is removed stays
// in the set, so enumeration by index goes on with the next device.
#include "internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Sim {

// AddDevice numbers devices in the order it appends them, so the list is
// searched by halves; a list put together otherwise is walked.
static Device* DeviceByInst(DWORD devInst) {
    auto& devices = Current().devices;
    auto at = std::lower_bound(devices.begin(), devices.end(), devInst,
                               [](const Device& device, DWORD n) { return device.devInst < n; });
    if (at != devices.end() && at->devInst == devInst)
        return &*at;
    for (auto& device : devices) {
        if (device.devInst == devInst)
            return &device;
    }
    return nullptr;
}

// The set's element the record names, or null with the error set.
static Device* Element(HDEVINFO set, PSP_DEVINFO_DATA data, bool* validSet) {
    Handle* handle = FindHandle(set, HandleKind::DeviceSet);
    *validSet = handle != nullptr;
    if (handle == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        Fail(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    // The record's Reserved is its index in the set plus one (FillRecord).
    auto& devices = handle->devices;
    bool member = data->Reserved >= 1 && data->Reserved <= devices.size() &&
                  devices[data->Reserved - 1] == data->DevInst;
    member = member || std::find(devices.begin(), devices.end(), data->DevInst) != devices.end();
    if (!member) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Device* device = DeviceByInst(data->DevInst);
    if (device == nullptr)
        Fail(ERROR_NO_SUCH_DEVINST);
    return device;
}

static std::string InstanceOf(PSP_DEVINFO_DATA data) {
    if (data == nullptr)
        return "NULL";
    Device* device = DeviceByInst(data->DevInst);
    return device ? Q(device->instanceId.c_str()) : "devinst " + D(data->DevInst);
}

static void FillRecord(const Device& device, DWORD index, PSP_DEVINFO_DATA data) {
    data->ClassGuid = device.classGuid;
    data->DevInst = device.devInst;
    data->Reserved = index + 1;
}

} // namespace Sim

using namespace Sim;

namespace Win {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                     DWORD flags) {
    std::string call = Current().journalOn
                           ? "SetupDiGetClassDevsA(" + std::string(classGuid ? "&guid" : "NULL") +
                                 ", " + Q(enumerator) + ", " + H(parent) + ", " + X(flags) + ")"
                           : std::string();
    if (Injected()) {
        return LogFailure(call, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE",
                          ERROR_NOT_ENOUGH_MEMORY);
    }
    if (classGuid != nullptr || enumerator != nullptr || parent != nullptr ||
        (flags & ~(DIGCF_PRESENT | DIGCF_ALLCLASSES)) != 0)
        Unmodelled(call);
    if (!(flags & DIGCF_ALLCLASSES)) {
        return LogFailure(call, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE",
                          ERROR_INVALID_PARAMETER);
    }
    Handle handle{};
    for (auto& device : Current().devices) {
        if (device.registered && (device.present || !(flags & DIGCF_PRESENT)))
            handle.devices.push_back(device.devInst);
    }
    HDEVINFO set = NewHandle(HandleKind::DeviceSet, handle);
    return Log(call, set, H(set) + " of " + D((long long)handle.devices.size()));
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent) {
    std::string call = Current().journalOn ? "SetupDiCreateDeviceInfoList()" : std::string();
    if (parent != nullptr)
        Unmodelled(call + " with a parent window");
    (void)classGuid;
    HDEVINFO set = NewHandle(HandleKind::DeviceSet, Handle{});
    return Log(call, set, H(set));
}

BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO set, LPCSTR name, const GUID* classGuid,
                                     LPCSTR description, HWND parent, DWORD flags,
                                     PSP_DEVINFO_DATA data) {
    (void)description;
    std::string call = Current().journalOn ? "SetupDiCreateDeviceInfoA(" + H(set) + ", " + Q(name) +
                                                 ", " + X(flags) + ")"
                                           : std::string();
    Handle* handle = FindHandle(set, HandleKind::DeviceSet);
    if (handle == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    if (parent != nullptr || classGuid == nullptr || name == nullptr || flags != DICD_GENERATE_ID)
        Unmodelled(call);
    if (data != nullptr && data->cbSize != sizeof(SP_DEVINFO_DATA))
        return LogBool(call, Fail(ERROR_INVALID_USER_BUFFER));
    // DICD_GENERATE_ID: a root-enumerated instance, ROOT\<NAME>\NNNN.
    std::string base = "ROOT\\" + std::string(name) + "\\";
    for (char& c : base)
        c = (c >= 'a' && c <= 'z') ? (char)(c - 32) : c;
    int number = 0;
    char suffix[16];
    do {
        std::snprintf(suffix, sizeof suffix, "%04d", number++);
    } while (FindDevice(base + suffix) != nullptr);
    Device& device = AddDevice(base + suffix, *classGuid, {});
    device.registered = false;
    handle = FindHandle(set, HandleKind::DeviceSet);
    handle->devices.push_back(device.devInst);
    if (data != nullptr)
        FillRecord(device, (DWORD)handle->devices.size() - 1, data);
    return LogBool(call, TRUE);
}

// The bytes of the device registry properties the simulator keeps, or null.
static std::vector<BYTE>* Property(Device* device, DWORD property) {
    switch (property) {
    case SPDRP_HARDWAREID:
        return &device->hardwareIds;
    case SPDRP_UPPERFILTERS:
        return &device->upperFilters;
    case SPDRP_LOWERFILTERS:
        return &device->lowerFilters;
    case SPDRP_SERVICE:
        return &device->service;
    case SPDRP_CONFIGFLAGS:
        return &device->configFlags;
    default:
        return nullptr;
    }
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                              const BYTE* buffer, DWORD size) {
    std::string call = Current().journalOn
                           ? "SetupDiSetDeviceRegistryPropertyA(" + H(set) + ", " +
                                 InstanceOf(data) + ", " + D(property) + ", " + D(size) + ")"
                           : std::string();
    bool validSet;
    Device* device = Element(set, data, &validSet);
    std::vector<BYTE>* stored = device == nullptr ? nullptr : Property(device, property);
    if (device != nullptr && stored == nullptr)
        Unmodelled(call);
    if (device == nullptr)
        return LogBool(call, FALSE);
    if (!Current().administrator)
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    if (property == SPDRP_CONFIGFLAGS) {
        // A number, REG_DWORD: its bytes as given.
        stored->assign(buffer, buffer + size);
        return LogBool(call, TRUE);
    }
    if (property == SPDRP_HARDWAREID)
        device->hasHardwareIds = true;
    stored->clear();
    for (DWORD i = 0; i < size; ++i) {
        // The ANSI code page's first half is ASCII, the same in UTF-16.
        stored->push_back(buffer[i]);
        stored->push_back(0);
    }
    return LogBool(call, TRUE);
}

BOOL WINAPI SetupDiRegisterDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD flags,
                                      LPVOID compare, LPVOID context, PSP_DEVINFO_DATA duplicate) {
    std::string call = Current().journalOn
                           ? "SetupDiRegisterDeviceInfo(" + H(set) + ", " + InstanceOf(data) + ")"
                           : std::string();
    if (flags != 0 || compare != nullptr || context != nullptr || duplicate != nullptr)
        Unmodelled(call);
    bool validSet;
    Device* device = Element(set, data, &validSet);
    if (device == nullptr)
        return LogBool(call, FALSE);
    if (!Current().administrator)
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    device->registered = true;
    device->present = true;
    return LogBool(call, TRUE);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    std::string call = Current().journalOn
                           ? "SetupDiEnumDeviceInfo(" + H(set) + ", " + D(index) + ")"
                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_NOT_ENOUGH_MEMORY));
    Handle* handle = FindHandle(set, HandleKind::DeviceSet);
    if (handle == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA))
        return LogBool(call, Fail(ERROR_INVALID_USER_BUFFER));
    if (index >= handle->devices.size())
        return LogBool(call, Fail(ERROR_NO_MORE_ITEMS));
    DWORD inst = handle->devices[index];
    Device* device = DeviceByInst(inst);
    if (device != nullptr) {
        FillRecord(*device, index, data);
    } else {
        // A removed device's element keeps what it knew.
        data->DevInst = inst;
        data->Reserved = index + 1;
    }
    return LogBool(call, TRUE);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                              LPDWORD type, LPBYTE buffer, DWORD size,
                                              LPDWORD required) {
    std::string call = Current().journalOn
                           ? "SetupDiGetDeviceRegistryPropertyW(" + H(set) + ", " +
                                 InstanceOf(data) + ", " + D(property) + ", " + D(size) + ")"
                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_INVALID_DATA));
    bool validSet;
    Device* device = Element(set, data, &validSet);
    std::vector<BYTE>* stored = device == nullptr ? nullptr : Property(device, property);
    if (device != nullptr && stored == nullptr)
        Unmodelled(call);
    if (device == nullptr)
        return LogBool(call, FALSE);
    // A property never set reads as missing; the hardware IDs may be set empty.
    if (property == SPDRP_HARDWAREID ? !device->hasHardwareIds : stored->empty())
        return LogBool(call, Fail(ERROR_INVALID_DATA));
    DWORD length = (DWORD)stored->size();
    if (required != nullptr)
        *required = length;
    if (buffer == nullptr && size != 0)
        return LogBool(call, Fail(ERROR_INVALID_USER_BUFFER));
    if (size < length)
        return LogBool(call, Fail(ERROR_INSUFFICIENT_BUFFER));
    if (type != nullptr)
        *type = property == SPDRP_SERVICE       ? REG_SZ
                : property == SPDRP_CONFIGFLAGS ? REG_DWORD
                                                : REG_MULTI_SZ;
    if (length != 0)
        std::memcpy(buffer, stored->data(), length);
    return LogBool(call, TRUE);
}

static BOOL CallClassInstallerAt(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data) {
    std::string call = Current().journalOn ? "SetupDiCallClassInstaller(" + D(function) + ", " +
                                                 H(set) + ", " + InstanceOf(data) + ")"
                                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    if (function != DIF_REMOVE)
        Unmodelled(call);
    bool validSet;
    Device* device = Element(set, data, &validSet);
    if (device == nullptr)
        return LogBool(call, FALSE);
    if (!Current().administrator || device->refuseRemoval)
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    auto& devices = Current().devices;
    for (size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].devInst == device->devInst) {
            devices.erase(devices.begin() + (long)i);
            break;
        }
    }
    return LogBool(call, TRUE);
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data) {
    Device* device = data == nullptr ? nullptr : DeviceByInst(data->DevInst);
    std::string instance = device == nullptr ? std::string() : device->instanceId;
    return KeepOutcome(OutcomeCall::CallClassInstaller, instance, function,
                       CallClassInstallerAt(function, set, data));
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    std::string call =
        Current().journalOn ? "SetupDiDestroyDeviceInfoList(" + H(set) + ")" : std::string();
    Handle* handle = FindHandle(set, HandleKind::DeviceSet);
    if (handle == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    // Elements that were never registered go with the set.
    auto& devices = Current().devices;
    for (DWORD inst : handle->devices) {
        Device* device = DeviceByInst(inst);
        if (device != nullptr && !device->registered)
            devices.erase(devices.begin() + (device - devices.data()));
    }
    DropHandle(set);
    return LogBool(call, TRUE);
}

} // namespace Win

namespace Win {

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, LPSTR id, DWORD size,
                                        LPDWORD required) {
    std::string call = Current().journalOn ? "SetupDiGetDeviceInstanceIdA(" + H(set) + ", " +
                                                 InstanceOf(data) + ", " + D(size) + ")"
                                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_NOT_ENOUGH_MEMORY));
    bool validSet;
    Device* device = Element(set, data, &validSet);
    if (device == nullptr)
        return LogBool(call, FALSE);
    DWORD length = (DWORD)device->instanceId.size() + 1;
    if (required != nullptr)
        *required = length;
    if (id == nullptr || size < length)
        return LogBool(call, Fail(ERROR_INSUFFICIENT_BUFFER));
    std::memcpy(id, device->instanceId.c_str(), length);
    return LogBool(call, TRUE);
}

} // namespace Win

namespace Sim {

std::vector<BYTE> WideMultiSz(const std::vector<std::string>& entries) {
    return Strings::JoinMultiString(entries, Strings::UTF16);
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

} // namespace Sim
