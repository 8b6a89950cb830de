// The next boot, judged as Windows runs it: the boot loader and the PnP
// manager load, for every present device with a driver, its function driver
// and every filter its own key and its class's key name; the service manager
// starts each boot, system and automatic service after what it depends on.
// A service that cannot load stops the device (or the service) that needs it.
#include "judge.h"

#include "../catalogue/catalogue.h"
#include "../platform/pending_renames.h"
#include "../platform/strings.h"
#include "../platform/windows_keys.h"
#include "product.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace Check {

namespace {

using Description::BootService;
using Description::ControlSet;
using Description::Machine;
using Description::SameUnicode;
using Description::SetupClass;
using Description::UpperUnicode;

constexpr DWORD DISABLED = 4; // SERVICE_DISABLED

// One control set as the judge reads it, with what it needs beside it. Its
// services and classes (the first of each name) and the paths are indexed
// by name as Windows compares names: a machine of thousands of devices and
// services is judged in time linear in them.
using NameKey = decltype(UpperUnicode(""));

struct View {
    const Machine& machine;
    const ControlSet& set;
    std::map<NameKey, const BootService*> services;
    std::map<NameKey, const SetupClass*> classes;
    std::set<NameKey> images;           // the image files found
    std::set<NameKey> deletedAtRestart; // full paths queued for deletion
};

View ViewOf(const Machine& machine, const ControlSet& set,
            const std::vector<std::string>& deletedAtRestart) {
    View view{machine, set, {}, {}, {}, {}};
    for (const BootService& service : set.services)
        view.services.emplace(UpperUnicode(service.name), &service);
    for (const SetupClass& setupClass : set.classes)
        view.classes.emplace(UpperUnicode(setupClass.guid), &setupClass);
    for (const std::string& image : machine.boot.images)
        view.images.insert(UpperUnicode(image));
    for (const std::string& path : deletedAtRestart)
        view.deletedAtRestart.insert(UpperUnicode(path));
    return view;
}

const BootService* ServiceOf(const View& view, const std::string& name) {
    auto found = view.services.find(UpperUnicode(name));
    return found == view.services.end() ? nullptr : found->second;
}

const SetupClass* ClassOf(const View& view, const std::string& guid) {
    auto found = view.classes.find(UpperUnicode(guid));
    return found == view.classes.end() ? nullptr : found->second;
}

bool InPaths(const std::set<NameKey>& paths, const std::string& path) {
    return paths.count(UpperUnicode(path)) != 0;
}

// How a service is loaded where it is named: as a driver (a function
// driver or a filter, which the I/O manager loads as a driver image whatever
// the key's Type says), or as the service it is (started by its own start
// type, or as another's dependency).
enum class Role { Driver, Service };

// Where a driver sits in a device's stack.
enum class StackPart { FunctionDriver, UpperFilter, LowerFilter };

const char* PartName(StackPart part) {
    switch (part) {
    case StackPart::FunctionDriver:
        return "function driver";
    case StackPart::UpperFilter:
        return "upper filter";
    case StackPart::LowerFilter:
        return "lower filter";
    }
    return "";
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", (unsigned)value);
    return text;
}

// Why a service cannot load; "" when it can. `unreadable` tells a key that
// could not be read, which the verdict cannot rest on.
std::string WhyNot(const View& view, const std::string& name, Role role,
                   bool* unreadable = nullptr) {
    if (unreadable != nullptr)
        *unreadable = false;
    const BootService* service = ServiceOf(view, name);
    if (service == nullptr)
        return "no such service";
    if (!service->readable) {
        if (unreadable != nullptr)
            *unreadable = true;
        return "its key cannot be read";
    }
    if (service->deleteFlag)
        return "marked for deletion: it goes at the restart";
    if (service->start && *service->start == DISABLED)
        return "disabled";
    if (role == Role::Driver && !Description::IsDriver(*service))
        return "not a driver: Type " + Hex(*service->type);
    Description::ImageKind kind =
        role == Role::Driver ? Description::ImageKind::Driver : Description::KindOf(*service);
    std::vector<std::string> files =
        Description::ImageFiles(*service, view.machine.boot.windowsFolder, kind);
    if (files.empty())
        return "no image path";
    if (!view.machine.boot.imagesLooked)
        return ""; // the files were not looked at: the verdict says so
    auto found = std::find_if(files.begin(), files.end(),
                              [&](const std::string& file) { return InPaths(view.images, file); });
    if (found == files.end())
        return "image file missing: " + files[0] +
               (files.size() > 1 ? " (nor in the system or the Windows folder)" : "");
    if (InPaths(view.deletedAtRestart, *found))
        return "image file missing after the restart: " + *found + " is deleted then";
    return "";
}

// The paths "PendingFileRenameOperations" deletes at the restart.
std::vector<std::string> DeletedAtRestart(const Machine& machine) {
    std::vector<std::string> paths;
    for (const PendingRenames::Rename& rename : PendingRenames::Renames(machine.pending)) {
        if (rename.target.empty())
            paths.push_back(PendingRenames::Win32Path(rename.source));
    }
    return paths;
}

std::string ClassText(const View& view, const std::string& guid) {
    const SetupClass* setupClass = ClassOf(view, guid);
    return setupClass == nullptr || setupClass->name.empty() ? guid : setupClass->name + " " + guid;
}

std::string ClassKeyPath(const View& view, const std::string& guid) {
    return "HKLM\\SYSTEM\\" + view.set.name + "\\Control\\Class\\" + guid;
}

// A device as the judge needs it, whichever set it comes from: its key's
// stack, whether it is present now, and whether it is disabled.
struct Stack : Description::DeviceKey {
    bool present = true;
    bool disabled = false;
};

std::vector<Stack> Stacks(const View& view, bool current) {
    std::vector<Stack> stacks;
    const Machine& machine = view.machine;
    if (current) {
        for (const Description::Device& device : machine.devices)
            stacks.push_back({{device.instanceId, device.classGuid, device.service,
                               Description::WideList(device.upperFilters),
                               Description::WideList(device.lowerFilters), device.configFlags},
                              device.present,
                              Description::IsDisabled(device.configFlags, device.profileFlags)});
        return stacks;
    }
    // Another set's device is present when the machine's device of its ID is.
    std::set<std::string> present;
    for (const Description::Device& device : machine.devices) {
        if (device.present)
            present.insert(Upper(device.instanceId));
    }
    for (const Description::DeviceKey& device : view.set.devices)
        stacks.push_back({device, present.count(Upper(device.instanceId)) != 0,
                          Description::IsDisabled(device.configFlags, std::nullopt)});
    return stacks;
}

void Add(std::vector<Finding>* out, Reason reason, const std::string& where,
         const std::string& detail, int status, const Finding::Parts& parts = {}) {
    out->push_back({reason, where, detail, status, parts});
}

const char REMEDY[] =
    "to remove it, set the environment variable devmgr_show_nonpresent_devices=1, open Device "
    "Manager from that command prompt (devmgmt.msc), choose View > Show hidden devices and "
    "uninstall the device";

// Whether a service starts at the boot by its own start type (boot,
// system or automatic).
bool StartsByItself(const BootService& service) {
    return service.start && *service.start <= SERVICE_AUTO_START;
}

// Whether a service the service manager starts will start: it loads (as
// the service it is), every service its DependOnService names will start,
// and each group its DependOnGroup names has a member that starts at the
// boot (by itself, or loaded for a present device) and will start; each
// answer asked once. The service manager refuses a circular dependency.
class Starter {
  public:
    Starter(const View& view, const std::set<NameKey>& loadedForDevices)
        : view(view), loadedForDevices(loadedForDevices) {
        for (const BootService& member : view.set.services)
            members[UpperUnicode(member.group)].push_back(&member);
    }

    // Why `name` will not start, "" when it will.
    std::string WhyNotStarts(const std::string& name) {
        NameKey key = UpperUnicode(name);
        auto known = answers.find(key);
        if (known != answers.end())
            return known->second;
        if (!visiting.insert(key).second)
            return "a circular dependency";
        std::string why = WhyNot(view, name, Role::Service);
        const BootService* service = why.empty() ? ServiceOf(view, name) : nullptr;
        for (size_t i = 0; service != nullptr && why.empty() && i < service->dependOnService.size();
             ++i) {
            const std::string& on = service->dependOnService[i];
            std::string below = WhyNotStarts(on);
            if (!below.empty())
                why = "it depends on " + on + ", " + below;
        }
        for (size_t i = 0; service != nullptr && why.empty() && i < service->dependOnGroup.size();
             ++i) {
            if (!GroupStarts(service->dependOnGroup[i]))
                why = "it depends on the group " + service->dependOnGroup[i] +
                      ", no member of which starts";
        }
        visiting.erase(key);
        answers[key] = why;
        return why;
    }

    int Members(const std::string& group) {
        auto found = members.find(UpperUnicode(group));
        return found == members.end() ? 0 : (int)found->second.size();
    }

    bool GroupStarts(const std::string& group) {
        auto found = members.find(UpperUnicode(group));
        if (found == members.end())
            return false;
        for (const BootService* member : found->second) {
            bool starts =
                StartsByItself(*member) || loadedForDevices.count(UpperUnicode(member->name)) != 0;
            if (starts && WhyNotStarts(member->name).empty())
                return true;
        }
        return false;
    }

  private:
    const View& view;
    const std::set<NameKey>& loadedForDevices;
    std::map<NameKey, std::vector<const BootService*>> members;
    std::map<NameKey, std::string> answers;
    std::set<NameKey> visiting;
};

// Whether Windows takes a service's failure at the boot as grave: its
// ErrorControl severe (2: the boot goes back to Last Known Good) or critical
// (3: it stops if that fails too), or TermService, which the product's
// removal exists to give back. 0 and 1 are logged, and the boot goes on. A
// product service's own failure weighs as any other's: the run deletes it,
// and one still there is a leftover for a second run.
bool Grave(const BootService& service) {
    return (service.errorControl && *service.errorControl >= SERVICE_ERROR_SEVERE) ||
           SameUnicode(service.name, SERVICE_TERMSERVICE);
}

// A group of the product's, which the uninstaller takes out of the order.
bool IsProductGroup(const std::string& group) {
    return SameUnicode(group, GROUP_ORDER_TERMSERVICE) || SameUnicode(group, GROUP_ORDER_MULTIUSER);
}

// The services' key of a control set.
std::string ServicesPath(const View& view) {
    return "HKLM\\SYSTEM\\" + view.set.name + "\\Services";
}

// A service a stack or a dependency names, whose key cannot be read.
void UnreadableName(const View& view, const std::string& name, const std::string& why,
                    std::vector<Finding>* out) {
    Add(out, Reason::ServiceKeyUnreadable, ServicesPath(view) + "\\" + name,
        "named by a driver stack or a dependency, but " + why, NOT_ALLOWED);
}

// What of the set could not be listed.
void JudgeListing(const View& view, bool current, std::vector<Finding>* out) {
    const ControlSet& set = view.set;
    std::string services = ServicesPath(view);
    if (!set.servicesReadable)
        Add(out, Reason::ServicesUnlisted, services,
            "the services cannot be listed: no driver stack can be judged", NOT_ALLOWED);
    if (!set.classesReadable)
        Add(out, Reason::ClassesUnlisted, "HKLM\\SYSTEM\\" + set.name + "\\Control\\Class",
            "the setup classes cannot be listed: their filters cannot be judged", NOT_ALLOWED);
    if (current && !view.machine.boot.devicesReadable)
        Add(out, Reason::DevicesUnlisted, "the device list",
            "the devices cannot be listed: their driver stacks cannot be judged", NOT_ALLOWED);
}

// Class filters: every device of the class loads them, those plugged in later too.
void JudgeClassFilters(const View& view, std::vector<Finding>* out) {
    const ControlSet& set = view.set;
    for (const SetupClass& setupClass : set.classes) {
        std::string path = ClassKeyPath(view, setupClass.guid);
        if (!setupClass.readable) {
            Add(out, Reason::ClassKeyUnreadable, path,
                "cannot be read: its filters cannot be judged", NOT_ALLOWED);
            continue;
        }
        const std::pair<const char*, const std::vector<std::string>*> lists[] = {
            {"UpperFilters", &setupClass.upperFilters}, {"LowerFilters", &setupClass.lowerFilters}};
        for (auto& list : lists) {
            for (const std::string& name : *list.second) {
                bool unreadable = false;
                std::string why = WhyNot(view, name, Role::Driver, &unreadable);
                if (unreadable)
                    UnreadableName(view, name, why, out);
                else if (!why.empty())
                    Add(out, Reason::ClassFilterWillNotLoad, path + " : " + list.first,
                        "names " + name + " (" + why + "): devices of class " +
                            ClassText(view, setupClass.guid) + " will not start",
                        UNSAFE, {"", setupClass.guid, name, list.first});
            }
        }
    }
}

void JudgeDevices(const View& view, const std::vector<Stack>& stacks, std::vector<Finding>* out) {
    // Each device's own part of its stack. A legacy device key records a
    // driver loaded outside Plug and Play, whose service is judged below as
    // the service it is; a device disabled gets no stack at the boot.
    for (const Stack& device : stacks) {
        if (Description::IsLegacyDevice(device.instanceId, device.classGuid))
            continue;
        // A device without a function driver has none installed, which is not
        // the uninstaller's doing; its filters still load once one is. One
        // named as a driver object ("\Driver\ACPI_HAL") is made by the
        // kernel or the HAL, loaded with the kernel.
        struct Part {
            StackPart role;
            std::string name;
        };
        std::vector<Part> parts;
        if (!device.service.empty() && !Description::IsDriverObject(device.service))
            parts.push_back({StackPart::FunctionDriver, device.service});
        for (const std::string& name : device.upperFilters)
            parts.push_back({StackPart::UpperFilter, name});
        for (const std::string& name : device.lowerFilters)
            parts.push_back({StackPart::LowerFilter, name});
        std::string what = ClassText(view, device.classGuid) + " device";
        for (const Part& part : parts) {
            bool unreadable = false;
            std::string why = WhyNot(view, part.name, Role::Driver, &unreadable);
            if (why.empty())
                continue;
            if (unreadable) {
                UnreadableName(view, part.name, why, out);
                continue;
            }
            // A function driver the run removes leaves the device without one.
            bool driverRemoved =
                part.role == StackPart::FunctionDriver && IsProductService(part.name);
            std::string detail = driverRemoved
                                     ? "after the restart this " + what +
                                           " has no driver: install its Windows driver first (its "
                                           "function driver " +
                                           part.name + ": " + why + ")"
                                     : "this " + what + " will not start: its " +
                                           PartName(part.role) + " " + part.name + ": " + why;
            Finding::Parts named{device.instanceId, device.classGuid, part.name,
                                 PartName(part.role)};
            if (device.disabled)
                Add(out, Reason::DeviceDisabled, device.instanceId,
                    "disabled (ConfigFlags 0x1): Windows builds no stack for it; were it "
                    "enabled, " +
                        detail,
                    CLEAN, named);
            else if (device.present)
                Add(out, driverRemoved ? Reason::DeviceWithoutDriver : Reason::DeviceWillNotStart,
                    device.instanceId, detail, UNSAFE, named);
            else
                Add(out, Reason::DeviceNotPresent, device.instanceId,
                    "not present now; " + detail + " when it is: " + REMEDY, CLEAN, named);
        }
    }
}

std::set<NameKey> LoadedForDevices(const View& view, const std::vector<Stack>& stacks) {
    // Services Windows starts, and what they depend on. A group is there
    // when one of its members has started: the service manager starts the
    // services a dependency names, not a group's members, so a member counts
    // when it starts at the boot by itself (boot, system or automatic) or is
    // loaded for a present device. Each group: how many members it has, and
    // whether one of them starts.
    std::set<NameKey> loadedForDevices;
    for (const Stack& device : stacks) {
        if (!device.present || device.disabled || device.service.empty() ||
            Description::IsLegacyDevice(device.instanceId, device.classGuid))
            continue;
        std::vector<std::string> names = device.upperFilters;
        names.insert(names.end(), device.lowerFilters.begin(), device.lowerFilters.end());
        names.push_back(device.service);
        if (const SetupClass* setupClass = ClassOf(view, device.classGuid)) {
            names.insert(names.end(), setupClass->upperFilters.begin(),
                         setupClass->upperFilters.end());
            names.insert(names.end(), setupClass->lowerFilters.begin(),
                         setupClass->lowerFilters.end());
        }
        for (const std::string& name : names)
            loadedForDevices.insert(UpperUnicode(name));
    }
    return loadedForDevices;
}

void JudgeServices(const View& view, const std::set<NameKey>& loadedForDevices,
                   std::vector<Finding>* out) {
    const ControlSet& set = view.set;
    std::string services = ServicesPath(view);
    Starter starter(view, loadedForDevices);
    for (const BootService& service : set.services) {
        if (!(StartsByItself(service) || SameUnicode(service.name, SERVICE_TERMSERVICE)) ||
            service.deleteFlag)
            continue;
        std::string where = services + "\\" + service.name;
        // What fails, weighed as Windows weighs it (Grave); what the run
        // removes (the product's) makes any failure its doing.
        auto fails = [&](const std::string& why, bool product) {
            bool grave = Grave(service) || product;
            Add(out, Reason::ServiceWillNotStart, where,
                service.name + " will not start: " + why +
                    (grave
                         ? ""
                         : "; Windows logs this (ErrorControl " +
                               std::to_string(service.errorControl.value_or(0)) + ") and goes on"),
                grave ? UNSAFE : CLEAN, {"", "", service.name, why});
        };
        bool unreadable = false;
        std::string own = WhyNot(view, service.name, Role::Service, &unreadable);
        if (!own.empty()) {
            if (!unreadable)
                fails(own, false);
            continue;
        }
        for (const std::string& name : service.dependOnService) {
            const BootService* on = ServiceOf(view, name);
            std::string why = starter.WhyNotStarts(name);
            if (on != nullptr && !on->readable)
                UnreadableName(view, name, why, out);
            else if (!why.empty())
                fails("it depends on " + name + " (" + why + ")", IsProductService(name));
        }
        for (const std::string& group : service.dependOnGroup) {
            int members = starter.Members(group);
            if (!starter.GroupStarts(group))
                fails("it depends on the group " + group + ", " +
                          (members == 0 ? "which has no member"
                                        : "no member of which starts at the boot and can load"),
                      IsProductGroup(group));
        }
    }
}

// The findings about one control set.
std::vector<Finding> JudgeSet(const View& view, bool current) {
    std::vector<Finding> out;
    JudgeListing(view, current, &out);
    JudgeClassFilters(view, &out);
    std::vector<Stack> stacks = Stacks(view, current);
    JudgeDevices(view, stacks, &out);
    JudgeServices(view, LoadedForDevices(view, stacks), &out);
    return out;
}

} // namespace

std::string WhyNotLoadable(const Machine& machine, const std::string& name) {
    if (machine.boot.sets.empty())
        return "";
    return WhyNot(ViewOf(machine, machine.boot.sets[0], DeletedAtRestart(machine)), name,
                  Role::Driver);
}

std::vector<Finding> JudgeBoot(const Machine& machine) {
    const Description::Boot& boot = machine.boot;
    if (boot.sets.empty())
        return {{Reason::NoControlSet, "HKLM\\SYSTEM\\CurrentControlSet",
                 "the control set the next boot uses could not be read", NOT_ALLOWED}};
    std::vector<std::string> deleted = DeletedAtRestart(machine);
    std::vector<Finding> out = JudgeSet(ViewOf(machine, boot.sets[0], deleted), true);
    // Image files not looked at (a disk read without its Windows folder, or
    // a snapshot of one): no image was judged missing, so never "sound".
    if (!boot.imagesLooked)
        Add(&out, Reason::ImagesNotLooked, "image files",
            "read without the Windows folder (--windows DIR): whether each service's image file "
            "is there cannot be judged",
            NOT_ALLOWED);

    // Last Known Good: judged alike, told on a line of its own.
    std::string lastKnownGood = "choosing Last Known Good Configuration at the next boot would ";
    if (boot.lastKnownGood == 0) {
        Add(&out, Reason::LastKnownGood, "HKLM\\SYSTEM\\Select",
            "no Last Known Good set is named: that choice was not judged", CLEAN);
    } else if (boot.lastKnownGood == boot.current) {
        Add(&out, Reason::LastKnownGood, "HKLM\\SYSTEM\\Select",
            lastKnownGood + "use the set judged above", CLEAN);
    } else if (boot.sets.size() < 2) {
        Add(&out, Reason::LastKnownGood, "HKLM\\SYSTEM\\Select",
            "Last Known Good names set " + std::to_string(boot.lastKnownGood) +
                ", which could not be read: that choice was not judged",
            CLEAN);
    } else {
        std::vector<Finding> other = JudgeSet(ViewOf(machine, boot.sets[1], deleted), false);
        std::string first;
        int problems = 0;
        for (const Finding& finding : other) {
            if (finding.status == CLEAN)
                continue;
            if (problems++ == 0)
                first = finding.where + ": " + finding.detail;
        }
        Add(&out, Reason::LastKnownGood, "HKLM\\SYSTEM\\" + boot.sets[1].name,
            problems == 0
                ? lastKnownGood + "start every device and service this check judges"
                : lastKnownGood + "fail: " + first +
                      (problems > 1 ? " (and " + std::to_string(problems - 1) + " more)" : ""),
            CLEAN);
    }
    return out;
}

} // namespace Check
