// The service control manager. A service's configuration is its registry
// key Services\<name>, written as Windows writes it; its running state and
// the controls it handles are the Service record.
#include "internal.h"

#include "../windows_keys.h"

#include <algorithm>

namespace Sim {

static const char SERVICES_KEY[] = KEY_SERVICES "\\";
static const DWORD STOP_WAIT_HINT = 3000; // milliseconds a stopping service asks for

static std::string ServiceKey(const std::string& name) {
    return SERVICES_KEY + name;
}

// A stopping service has finished by the time anyone asks about it again:
// its stop takes less than the caller's next call.
static void Settle(Service* s) {
    if (s->state == SERVICE_STOP_PENDING)
        s->state = SERVICE_STOPPED;
}

static Service* ServiceOf(SC_HANDLE handle, Handle** entry) {
    Handle* h = FindHandle(handle, HandleKind::Service);
    if (entry != nullptr)
        *entry = h;
    if (h == nullptr)
        return nullptr;
    auto found = Current().services.find(h->name);
    if (found == Current().services.end())
        return nullptr;
    Settle(&found->second);
    return &found->second;
}

// The service of a handle opened with `access`, or null with the error set.
static Service* ServiceWith(SC_HANDLE handle, DWORD access, Handle** entry) {
    Service* s = ServiceOf(handle, entry);
    if (s == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!((*entry)->access & access)) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return s;
}

// The services that depend on `name` and have not stopped.
static bool DependentsRunning(const std::string& name) {
    Key* services = FindKey(HKEY_LOCAL_MACHINE, SERVICES_KEY);
    for (auto& other : Current().services) {
        if (other.second.state == SERVICE_STOPPED)
            continue;
        auto key =
            services->children.find(Ascii(other.first) ? other.first : AnsiToText(other.first));
        const Value* value =
            key == services->children.end() ? nullptr : key->second->FindValue("DependOnService");
        if (value == nullptr || value->type != REG_MULTI_SZ)
            continue;
        for (auto& dependency : Strings::SplitMultiString(AnsiData(*value))) {
            if (SameName(dependency, name))
                return true;
        }
    }
    return false;
}

void ServiceHandleClosed(const std::string& name) {
    auto found = Current().services.find(name);
    if (found == Current().services.end())
        return;
    --found->second.openHandles;
    FinishServiceDeletion(name);
}

void FinishServiceDeletion(const std::string& name) {
    Machine& m = Current();
    auto found = m.services.find(name);
    if (found == m.services.end())
        return;
    Service& s = found->second;
    Settle(&s);
    if (!s.deletePending || s.openHandles > 0 || s.state != SERVICE_STOPPED)
        return;
    DeleteKeyAt(HKEY_LOCAL_MACHINE, ServiceKey(name));
    m.receivedByDeleted[name] = s.received;
    m.services.erase(found);
}

static DWORD ReadDword(const std::string& name, const char* valueName, DWORD fallback) {
    Value value;
    if (!ReadValue(HKEY_LOCAL_MACHINE, ServiceKey(name), valueName, &value) ||
        value.data.size() != 4)
        return fallback;
    return value.data[0] | value.data[1] << 8 | value.data[2] << 16 | (DWORD)value.data[3] << 24;
}

static void FillStatus(const std::string& name, const Service& s, LPSERVICE_STATUS status) {
    if (status == nullptr)
        return;
    status->dwServiceType = ReadDword(name, "Type", SERVICE_WIN32_OWN_PROCESS);
    status->dwCurrentState = s.state;
    status->dwControlsAccepted =
        s.state == SERVICE_RUNNING && s.acceptsStop ? SERVICE_ACCEPT_STOP : 0;
    status->dwWin32ExitCode = 0;
    status->dwServiceSpecificExitCode = 0;
    status->dwCheckPoint = 0;
    status->dwWaitHint = s.state == SERVICE_STOP_PENDING ? STOP_WAIT_HINT : 0;
}

// A multi-string argument of the service functions, as its bytes with the final NUL.
static std::vector<BYTE> MultiStringBytes(const char* list) {
    std::vector<BYTE> data;
    const char* p = list;
    while (*p != 0) {
        while (*p != 0)
            data.push_back((BYTE)*p++);
        data.push_back(0);
        ++p;
    }
    data.push_back(0);
    return data;
}

// The next tag of a load-order group: one more than the highest any other
// service of the group holds.
static DWORD NextTag(const std::string& group, const std::string& self) {
    DWORD highest = 0;
    for (auto& service : Current().services) {
        if (SameName(service.first, self))
            continue;
        Value value;
        if (!ReadValue(HKEY_LOCAL_MACHINE, ServiceKey(service.first), "Group", &value))
            continue;
        if (!SameName(std::string(value.data.begin(), value.data.end()).c_str(), group))
            continue;
        DWORD tag = ReadDword(service.first, "Tag", 0);
        if (tag > highest)
            highest = tag;
    }
    return highest + 1;
}

// Writes the configuration arguments of CreateServiceA or ChangeServiceConfigA.
static bool WriteConfig(const std::string& name, DWORD type, DWORD start, DWORD errorControl,
                        const char* path, const char* group, LPDWORD tag, const char* dependencies,
                        const char* account, const char* displayName) {
    std::string key = ServiceKey(name);
    std::string groupName;
    Value groupValue;
    if (group != nullptr)
        groupName = group;
    else if (ReadValue(HKEY_LOCAL_MACHINE, key, "Group", &groupValue))
        groupName = std::string(groupValue.data.begin(), groupValue.data.end()).c_str();
    if (tag != nullptr && groupName.empty())
        return false;
    if (type != SERVICE_NO_CHANGE)
        SetValue(HKEY_LOCAL_MACHINE, key, "Type", REG_DWORD, Dword(type));
    if (start != SERVICE_NO_CHANGE)
        SetValue(HKEY_LOCAL_MACHINE, key, "Start", REG_DWORD, Dword(start));
    if (errorControl != SERVICE_NO_CHANGE)
        SetValue(HKEY_LOCAL_MACHINE, key, "ErrorControl", REG_DWORD, Dword(errorControl));
    if (path != nullptr)
        SetValue(HKEY_LOCAL_MACHINE, key, "ImagePath", REG_EXPAND_SZ, Sz(path));
    if (group != nullptr)
        SetValue(HKEY_LOCAL_MACHINE, key, "Group", REG_SZ, Sz(group));
    if (tag != nullptr) {
        *tag = NextTag(groupName, name);
        SetValue(HKEY_LOCAL_MACHINE, key, "Tag", REG_DWORD, Dword(*tag));
    }
    if (dependencies != nullptr) {
        for (const char* p = dependencies; *p != 0; p += std::string(p).size() + 1) {
            if (*p == '+')
                Unmodelled("group dependencies");
        }
        SetValue(HKEY_LOCAL_MACHINE, key, "DependOnService", REG_MULTI_SZ,
                 MultiStringBytes(dependencies));
        // The list replaces the groups depended on too: it names none.
        if (Key* config = FindKey(HKEY_LOCAL_MACHINE, key)) {
            auto& values = config->values;
            values.erase(
                std::remove_if(values.begin(), values.end(),
                               [](const auto& v) { return SameName(v.first, "DependOnGroup"); }),
                values.end());
        }
    }
    if (account != nullptr)
        SetValue(HKEY_LOCAL_MACHINE, key, "ObjectName", REG_SZ, Sz(account));
    if (displayName != nullptr)
        SetValue(HKEY_LOCAL_MACHINE, key, "DisplayName", REG_SZ, Sz(displayName));
    return true;
}

} // namespace Sim

using namespace Sim;

namespace Sim {

// Whether a driver is loaded for a present device: it is the device's
// function driver or one of its filters, the device's own or its class's.
// A device without a function driver has no driver stack.
static bool ServesPresentDevice(const std::string& name) {
    // The lists' UTF-16 names as the A functions give them, as the name is.
    auto names = [&](const std::vector<BYTE>& wide) {
        for (const std::string& entry : Strings::SplitMultiString(wide, Strings::UTF16)) {
            if (SameName(entry, name))
                return true;
        }
        return false;
    };
    for (const Device& device : Current().devices) {
        if (!device.present || !device.registered || device.service.empty())
            continue;
        if (names(device.service) || names(device.upperFilters) || names(device.lowerFilters))
            return true;
        std::string classKey =
            std::string(KEY_SETUP_CLASSES) + "\\{" + GuidText(device.classGuid) + "}";
        for (const char* list : {"UpperFilters", "LowerFilters"}) {
            Value value;
            if (!ReadValue(HKEY_LOCAL_MACHINE, classKey, list, &value) ||
                value.type != REG_MULTI_SZ)
                continue;
            for (const std::string& entry : Strings::SplitMultiString(value.data)) {
                if (SameName(entry, name))
                    return true;
            }
        }
    }
    return false;
}

} // namespace Sim

namespace Win {

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
    std::string call = Current().journalOn ? "OpenSCManagerA(" + Q(machine) + ", " + Q(database) +
                                                 ", " + X(access) + ")"
                                           : std::string();
    if (Injected()) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_ACCESS_DENIED);
    }
    if (machine != nullptr || (database != nullptr && std::string(database) != "ServicesActive"))
        Unmodelled(call);
    const DWORD userRights =
        SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | 0x10 | READ_CONTROL;
    if (!Current().administrator && (access & ~userRights) != 0) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_ACCESS_DENIED);
    }
    Handle handle{};
    handle.access = access;
    SC_HANDLE scm = (SC_HANDLE)NewHandle(HandleKind::Scm, handle);
    return Log(call, scm, H(scm));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE scm, LPCSTR name, DWORD access) {
    std::string call = Current().journalOn
                           ? "OpenServiceA(" + H(scm) + ", " + Q(name) + ", " + X(access) + ")"
                           : std::string();
    if (Injected()) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_ACCESS_DENIED);
    }
    if (FindHandle(scm, HandleKind::Scm) == nullptr) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_INVALID_HANDLE);
    }
    if (name == nullptr)
        Unmodelled(call);
    auto found = Current().services.find(name);
    if (found == Current().services.end()) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_SERVICE_DOES_NOT_EXIST);
    }
    const DWORD readRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                             0x8 | READ_CONTROL; // 0x8: enumerate dependents
    if (!Current().administrator && (access & ~readRights) != 0) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_ACCESS_DENIED);
    }
    Handle handle{};
    handle.name = found->first;
    handle.access = access;
    ++found->second.openHandles;
    SC_HANDLE service = (SC_HANDLE)NewHandle(HandleKind::Service, handle);
    return Log(call, service, H(service));
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE scm, LPCSTR name, LPCSTR displayName, DWORD access,
                                DWORD serviceType, DWORD startType, DWORD errorControl,
                                LPCSTR binaryPath, LPCSTR group, LPDWORD tag, LPCSTR dependencies,
                                LPCSTR account, LPCSTR password) {
    (void)password;
    std::string call = Current().journalOn
                           ? "CreateServiceA(" + H(scm) + ", " + Q(name) + ", " + X(serviceType) +
                                 ", " + D(startType) + ", " + Q(binaryPath) + ", " + Q(group) + ")"
                           : std::string();
    Handle* manager = FindHandle(scm, HandleKind::Scm);
    if (manager == nullptr) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_INVALID_HANDLE);
    }
    if (!(manager->access & SC_MANAGER_CREATE_SERVICE)) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_ACCESS_DENIED);
    }
    if (name == nullptr || binaryPath == nullptr)
        Unmodelled(call);
    Machine& m = Current();
    auto existing = m.services.find(name);
    if (existing != m.services.end()) {
        DWORD error =
            existing->second.deletePending ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", error);
    }
    bool win32 = (serviceType & (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS)) != 0;
    if (!WriteConfig(name, serviceType, startType, errorControl, binaryPath, group, tag,
                     dependencies, win32 ? (account ? account : "LocalSystem") : nullptr,
                     displayName ? displayName : name)) {
        return LogFailure(call, (SC_HANDLE) nullptr, "NULL", ERROR_INVALID_PARAMETER);
    }
    m.services[name] = Service();
    Handle handle{};
    handle.name = name;
    handle.access = access;
    ++m.services[name].openHandles;
    SC_HANDLE service = (SC_HANDLE)NewHandle(HandleKind::Service, handle);
    return Log(call, service, H(service));
}

BOOL WINAPI StartServiceA(SC_HANDLE handle, DWORD argc, LPCSTR* argv) {
    (void)argv;
    std::string call =
        Current().journalOn ? "StartServiceA(" + H(handle) + ", " + D(argc) + ")" : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Handle* entry;
    Service* s = ServiceWith(handle, SERVICE_START, &entry);
    if (s == nullptr)
        return LogBool(call, FALSE);
    if (s->deletePending)
        return LogBool(call, Fail(ERROR_SERVICE_MARKED_FOR_DELETE));
    if (s->state == SERVICE_RUNNING)
        return LogBool(call, Fail(ERROR_SERVICE_ALREADY_RUNNING));
    s->state = SERVICE_RUNNING;
    return LogBool(call, TRUE);
}

static BOOL ControlServiceAt(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
    std::string call = Current().journalOn ? "ControlService(" + H(handle) + ", " + D(control) + ")"
                                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_SERVICE_REQUEST_TIMEOUT));
    Handle* entry;
    Service* s = ServiceOf(handle, &entry);
    if (s == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    if (status == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_ADDRESS));
    bool custom = control >= 128 && control <= 255;
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_INTERROGATE && !custom) {
        if (control == 0 || (control >= 5 && control < 128) || control > 255)
            return LogBool(call, Fail(ERROR_INVALID_PARAMETER));
        Unmodelled(call);
    }
    DWORD needed = control == SERVICE_CONTROL_STOP          ? SERVICE_STOP
                   : control == SERVICE_CONTROL_INTERROGATE ? SERVICE_INTERROGATE
                                                            : SERVICE_USER_DEFINED_CONTROL;
    if (!(entry->access & needed))
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    std::string name = entry->name;
    FillStatus(name, *s, status);
    if (s->state != SERVICE_RUNNING)
        return LogBool(call, Fail(ERROR_SERVICE_NOT_ACTIVE));
    DWORD type = ReadDword(name, "Type", SERVICE_WIN32_OWN_PROCESS);
    bool driver = (type & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
    if (control == SERVICE_CONTROL_INTERROGATE)
        return LogBool(call, TRUE);
    if (control == SERVICE_CONTROL_STOP) {
        if (DependentsRunning(name))
            return LogBool(call, Fail(ERROR_DEPENDENT_SERVICES_RUNNING));
        // A driver loaded for a device stays until the device goes: the I/O
        // manager refuses to unload it.
        if (!s->acceptsStop || (driver && ServesPresentDevice(name)))
            return LogBool(call, Fail(ERROR_INVALID_SERVICE_CONTROL));
        s->received.push_back(control);
        s->state = SERVICE_STOP_PENDING;
        FillStatus(name, *s, status);
        return LogBool(call, TRUE);
    }
    if (driver)
        return LogBool(call, Fail(ERROR_INVALID_SERVICE_CONTROL));
    // A user-defined control always reaches a running service; its handler
    // answers whether it knew the code.
    s->received.push_back(control);
    if (s->customControls.count(control) == 0)
        return LogBool(call, Fail(ERROR_CALL_NOT_IMPLEMENTED));
    return LogBool(call, TRUE);
}

static BOOL DeleteServiceAt(SC_HANDLE handle) {
    std::string call = Current().journalOn ? "DeleteService(" + H(handle) + ")" : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Handle* entry;
    Service* s = ServiceWith(handle, DELETE, &entry);
    if (s == nullptr)
        return LogBool(call, FALSE);
    if (s->deletePending)
        return LogBool(call, Fail(ERROR_SERVICE_MARKED_FOR_DELETE));
    s->deletePending = true;
    SetValue(HKEY_LOCAL_MACHINE, ServiceKey(entry->name), "DeleteFlag", REG_DWORD, Dword(1));
    return LogBool(call, TRUE);
}

static BOOL ChangeServiceConfigAt(SC_HANDLE handle, DWORD serviceType, DWORD startType,
                                  DWORD errorControl, LPCSTR binaryPath, LPCSTR group, LPDWORD tag,
                                  LPCSTR dependencies, LPCSTR account, LPCSTR password,
                                  LPCSTR displayName) {
    (void)password;
    std::string deps;
    if (dependencies != nullptr) {
        for (const char* p = dependencies; *p != 0; p += std::string(p).size() + 1)
            deps += (deps.empty() ? "" : "|") + std::string(p);
    }
    std::string call = Current().journalOn
                           ? "ChangeServiceConfigA(" + H(handle) + ", " + X(serviceType) + ", " +
                                 D(startType) + ", " + D(errorControl) + ", " + Q(binaryPath) +
                                 ", " + Q(group) + ", " + (tag ? "&tag" : "NULL") + ", " +
                                 (dependencies ? Q(deps.c_str()) : "NULL") + ", " + Q(account) +
                                 ", " + Q(password) + ", " + Q(displayName) + ")"
                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Handle* entry;
    Service* s = ServiceWith(handle, SERVICE_CHANGE_CONFIG, &entry);
    if (s == nullptr)
        return LogBool(call, FALSE);
    if (s->deletePending)
        return LogBool(call, Fail(ERROR_SERVICE_MARKED_FOR_DELETE));
    if (!WriteConfig(entry->name, serviceType, startType, errorControl, binaryPath, group, tag,
                     dependencies, account, displayName))
        return LogBool(call, Fail(ERROR_INVALID_PARAMETER));
    return LogBool(call, TRUE);
}

BOOL WINAPI ControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
    std::string name = HandleName(handle, HandleKind::Service);
    return KeepOutcome(OutcomeCall::ControlService, name, control,
                       ControlServiceAt(handle, control, status));
}

BOOL WINAPI DeleteService(SC_HANDLE handle) {
    std::string name = HandleName(handle, HandleKind::Service);
    return KeepOutcome(OutcomeCall::DeleteService, name, 0, DeleteServiceAt(handle));
}

BOOL WINAPI ChangeServiceConfigA(SC_HANDLE handle, DWORD serviceType, DWORD startType,
                                 DWORD errorControl, LPCSTR binaryPath, LPCSTR group, LPDWORD tag,
                                 LPCSTR dependencies, LPCSTR account, LPCSTR password,
                                 LPCSTR displayName) {
    std::string name = HandleName(handle, HandleKind::Service);
    return KeepOutcome(OutcomeCall::ChangeServiceConfig, name, 0,
                       ChangeServiceConfigAt(handle, serviceType, startType, errorControl,
                                             binaryPath, group, tag, dependencies, account,
                                             password, displayName));
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
    std::string call =
        Current().journalOn ? "CloseServiceHandle(" + H(handle) + ")" : std::string();
    if (FindHandle(handle, HandleKind::Scm) != nullptr) {
        DropHandle(handle);
        return LogBool(call, TRUE);
    }
    Handle* entry = FindHandle(handle, HandleKind::Service);
    if (entry == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    std::string name = entry->name;
    DropHandle(handle);
    ServiceHandleClosed(name);
    return LogBool(call, TRUE);
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
    std::string call =
        Current().journalOn ? "QueryServiceStatus(" + H(handle) + ")" : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Handle* entry;
    Service* s = ServiceWith(handle, SERVICE_QUERY_STATUS, &entry);
    if (s == nullptr)
        return LogBool(call, FALSE);
    if (status == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_ADDRESS));
    FillStatus(entry->name, *s, status);
    return Log(call, (BOOL)TRUE, "TRUE state " + D(status->dwCurrentState));
}

} // namespace Win
