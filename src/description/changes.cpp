// Two descriptions compared. Everything is matched by name without case and
// taken in sorted order, so that two machines that enumerate in different
// orders give the same list.
#include "description.h"

#include "../platform/strings.h"

#include <map>

namespace Description {

namespace {

template <typename T, typename Name>
std::map<std::string, const T*> ByName(const std::vector<T>& items, Name name) {
    std::map<std::string, const T*> out;
    for (const T& item : items)
        out[Upper(name(item))] = &item;
    return out;
}

// Calls removed(before), added(after) or both(before, after) for each name
// of the two maps, in order.
template <typename T, typename Removed, typename Added, typename Both>
void Match(const std::map<std::string, const T*>& before,
           const std::map<std::string, const T*>& after, Removed removed, Added added, Both both) {
    auto b = before.begin();
    auto a = after.begin();
    while (b != before.end() || a != after.end()) {
        if (a == after.end() || (b != before.end() && b->first < a->first)) {
            removed(*b->second);
            ++b;
        } else if (b == before.end() || a->first < b->first) {
            added(*a->second);
            ++a;
        } else {
            both(*b->second, *a->second);
            ++b;
            ++a;
        }
    }
}

std::string Joined(const std::vector<DWORD>& numbers) {
    std::string out;
    for (DWORD n : numbers)
        out += (out.empty() ? "" : ",") + std::to_string(n);
    return out;
}

// The entries of a multi-string as stored, empty ones included (a pending
// deletion is a path followed by an empty entry).
std::vector<std::string> Pairs(const std::vector<BYTE>& data) {
    std::vector<std::string> entries = Strings::SplitMultiString(data, Strings::KEEP_EMPTY);
    // The list's ending: a last empty entry, and any empty tail after it.
    while (!entries.empty() && entries.back().empty() && entries.size() % 2 == 1)
        entries.pop_back();
    std::vector<std::string> pairs;
    for (size_t i = 0; i < entries.size(); i += 2)
        pairs.push_back(entries[i] + (i + 1 < entries.size() && !entries[i + 1].empty()
                                          ? " -> " + entries[i + 1]
                                          : ""));
    return pairs;
}

void RegistryChanges(const Machine& before, const Machine& after, std::vector<Change>* out) {
    std::vector<Change>& changes = *out;
    auto keyName = [](const Key& key) { return key.path; };
    Match(
        ByName(before.registry, keyName), ByName(after.registry, keyName),
        [&](const Key& key) {
            changes.push_back({ChangeKind::KeyRemoved, key.path});
        },
        [&](const Key& key) {
            changes.push_back({ChangeKind::KeyAdded, key.path});
            for (const Value& value : key.values)
                changes.push_back(
                    {ChangeKind::ValueAdded, key.path, value.name, "", "", {}, value});
        },
        [&](const Key& was, const Key& is) {
            if (was.readable != is.readable)
                changes.push_back({ChangeKind::KeyReadable, is.path, "",
                                   was.readable ? "yes" : "no", is.readable ? "yes" : "no"});
            auto valueName = [](const Value& value) { return value.name; };
            Match(
                ByName(was.values, valueName), ByName(is.values, valueName),
                [&](const Value& v) {
                    changes.push_back({ChangeKind::ValueRemoved, is.path, v.name, "", "", v, {}});
                },
                [&](const Value& v) {
                    changes.push_back({ChangeKind::ValueAdded, is.path, v.name, "", "", {}, v});
                },
                [&](const Value& v, const Value& w) {
                    if (v.type != w.type || v.data != w.data)
                        changes.push_back(
                            {ChangeKind::ValueChanged, is.path, v.name, "", "", v, w});
                });
        });
}

// A service's state and program, and the controls it received.
void ServiceChanges(const Machine& before, const Machine& after, std::vector<Change>* out) {
    std::vector<Change>& changes = *out;
    auto serviceName = [](const Service& s) { return s.name; };
    Match(
        ByName(before.services, serviceName), ByName(after.services, serviceName),
        [&](const Service& s) {
            changes.push_back({ChangeKind::ServiceRemoved, s.name, "", ServiceStateName(s.state)});
        },
        [&](const Service& s) {
            changes.push_back(
                {ChangeKind::ServiceAdded, s.name, "", "", ServiceStateName(s.state)});
        },
        [&](const Service& was, const Service& is) {
            if (was.state != is.state)
                changes.push_back({ChangeKind::ServiceState, is.name, "",
                                   ServiceStateName(was.state), ServiceStateName(is.state)});
            if (was.program != is.program)
                changes.push_back({ChangeKind::ServiceProgram, is.name, "",
                                   ProgramName(was.program), ProgramName(is.program)});
        });
    // What a service received is observed across the run: compared whether
    // or not the service is still there.
    auto receiver = [](const Received& r) { return r.service; };
    Match(
        ByName(before.received, receiver), ByName(after.received, receiver),
        [&](const Received& r) {
            changes.push_back({ChangeKind::ServiceControls, r.service, "", Joined(r.controls)});
        },
        [&](const Received& r) {
            if (!r.controls.empty())
                changes.push_back(
                    {ChangeKind::ServiceControls, r.service, "", "", Joined(r.controls)});
        },
        [&](const Received& was, const Received& is) {
            if (was.controls != is.controls)
                changes.push_back({ChangeKind::ServiceControls, is.service, "",
                                   Joined(was.controls), Joined(is.controls)});
        });
}

void DeviceChanges(const Machine& before, const Machine& after, std::vector<Change>* out) {
    std::vector<Change>& changes = *out;
    auto deviceName = [](const Device& d) { return d.instanceId; };
    Match(
        ByName(before.devices, deviceName), ByName(after.devices, deviceName),
        [&](const Device& d) {
            changes.push_back({ChangeKind::DeviceRemoved, d.instanceId});
        },
        [&](const Device& d) {
            changes.push_back({ChangeKind::DeviceAdded, d.instanceId});
        },
        [&](const Device& was, const Device& is) {
            if (was.hardwareIds != is.hardwareIds || was.present != is.present ||
                Upper(was.classGuid) != Upper(is.classGuid) ||
                was.upperFilters != is.upperFilters || was.lowerFilters != is.lowerFilters)
                changes.push_back({ChangeKind::DeviceChanged, is.instanceId});
        });
}

void PendingChanges(const Machine& before, const Machine& after, std::vector<Change>* out) {
    std::vector<Change>& changes = *out;
    if (before.pending != after.pending || before.hasPending != after.hasPending) {
        std::vector<std::string> was = Pairs(before.pending);
        std::vector<std::string> is = Pairs(after.pending);
        size_t common = 0;
        while (common < was.size() && common < is.size() && was[common] == is[common])
            ++common;
        for (size_t i = common; i < was.size(); ++i)
            changes.push_back({ChangeKind::PendingRemoved, was[i]});
        for (size_t i = common; i < is.size(); ++i)
            changes.push_back({ChangeKind::PendingAdded, is[i]});
    }
}

// Files, then the libraries whose DllUnregisterServer ran.
void FileChanges(const Machine& before, const Machine& after, std::vector<Change>* out) {
    std::vector<Change>& changes = *out;
    auto fileName = [](const File& f) { return f.path; };
    Match(
        ByName(before.files, fileName), ByName(after.files, fileName),
        [&](const File& f) {
            changes.push_back(
                {f.directory ? ChangeKind::FolderRemoved : ChangeKind::FileRemoved, f.path});
        },
        [&](const File& f) {
            changes.push_back(
                {f.directory ? ChangeKind::FolderAdded : ChangeKind::FileAdded, f.path});
        },
        [&](const File&, const File&) {});

    for (size_t i = before.unregistered.size(); i < after.unregistered.size(); ++i)
        changes.push_back({ChangeKind::ServerUnregistered, after.unregistered[i]});
}

} // namespace

std::vector<Change> Changes(const Machine& before, const Machine& after) {
    std::vector<Change> changes;
    RegistryChanges(before, after, &changes);
    ServiceChanges(before, after, &changes);
    DeviceChanges(before, after, &changes);
    PendingChanges(before, after, &changes);
    FileChanges(before, after, &changes);
    return changes;
}

namespace {

const char* const KIND_NAMES[] = {
    "key removed",        "key added",       "key readable",  "value added",    "value removed",
    "value changed",      "service removed", "service added", "service state",  "service program",
    "service controls",   "device removed",  "device added",  "device changed", "pending removed",
    "pending added",      "file removed",    "file added",    "folder removed", "folder added",
    "server unregistered"};
constexpr int KINDS = (int)ChangeKind::ServerUnregistered + 1;
static_assert(sizeof KIND_NAMES / sizeof KIND_NAMES[0] == KINDS, "a name for each kind");

} // namespace

const char* KindName(ChangeKind kind) {
    return KIND_NAMES[(int)kind];
}

bool KindFromName(const std::string& name, ChangeKind* kind) {
    for (int i = 0; i < KINDS; ++i) {
        if (name == KIND_NAMES[i]) {
            *kind = (ChangeKind)i;
            return true;
        }
    }
    return false;
}

bool IsValueChange(ChangeKind kind) {
    return kind == ChangeKind::ValueAdded || kind == ChangeKind::ValueRemoved ||
           kind == ChangeKind::ValueChanged;
}

bool IsServiceChange(ChangeKind kind) {
    return kind >= ChangeKind::ServiceRemoved && kind <= ChangeKind::ServiceControls;
}

const char* ProgramName(Program program) {
    switch (program) {
    case Program::Records:
        return "records";
    case Program::RefusesStop:
        return "refuses stop";
    case Program::None:
        break;
    }
    return "none";
}

std::string PlaceText(const Change& change) {
    return IsValueChange(change.kind) ? change.what + " : " + change.value : change.what;
}

std::string BeforeText(const Change& change) {
    return change.valueBefore ? ValueText(*change.valueBefore) : change.before;
}

std::string AfterText(const Change& change) {
    return change.valueAfter ? ValueText(*change.valueAfter) : change.after;
}

} // namespace Description
