// The one JSON writer and reader of descriptions and change lists.
#include "json.h"

#include "../platform/strings.h"
#include "../registry/text.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace Description {

namespace {

const char* const TYPE_NAMES[] = {"REG_NONE",   "REG_SZ",      "REG_EXPAND_SZ",
                                  "REG_BINARY", "REG_DWORD",   "REG_DWORD_BIG_ENDIAN",
                                  "REG_LINK",   "REG_MULTI_SZ"};

std::string Hex(const std::vector<BYTE>& data) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : data) {
        text += DIGITS[b >> 4];
        text += DIGITS[b & 15];
    }
    return text;
}

bool FromHex(const std::string& text, std::vector<BYTE>* data) {
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (text.size() % 2 != 0)
        return false;
    data->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = digit(text[i]);
        int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        data->push_back((BYTE)(high << 4 | low));
    }
    return true;
}

// Printable ASCII only: anything else goes as bytes, so the text never
// depends on a code page.
bool Plain(const BYTE* begin, const BYTE* end) {
    for (const BYTE* p = begin; p != end; ++p) {
        if (*p < 0x20 || *p > 0x7E)
            return false;
    }
    return true;
}

// The entries of a well-formed multi-string of printable ASCII (each entry
// ended, none empty, the list ended by one NUL more, nothing after it: the
// bytes its entries give back), or false.
bool Entries(const std::vector<BYTE>& data, Strings::SplitRules rules,
             std::vector<std::string>* entries) {
    *entries = Strings::SplitMultiString(data, rules);
    for (const std::string& entry : *entries) {
        if (!Plain((const BYTE*)entry.data(), (const BYTE*)entry.data() + entry.size()))
            return false;
    }
    return Strings::JoinMultiString(*entries, rules) == data;
}

// A value's data in the most readable form that gives back the same bytes.
json DataJson(DWORD type, const std::vector<BYTE>& data) {
    json out;
    std::vector<std::string> entries;
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == 0 &&
        Plain(data.data(), data.data() + data.size() - 1))
        out["text"] = std::string(data.begin(), data.end() - 1);
    else if (type == REG_MULTI_SZ && Entries(data, 0, &entries))
        out["strings"] = entries;
    else if (type == REG_DWORD && data.size() == 4)
        out["dword"] = (DWORD)(data[0] | data[1] << 8 | data[2] << 16 | (DWORD)data[3] << 24);
    else
        out["hex"] = Hex(data);
    return out;
}

std::string Bytes(const std::string& text);

bool DataFromJson(const json& in, DWORD type, std::vector<BYTE>* data) {
    data->clear();
    // Written for printable ASCII only; read, as names are, a character a byte.
    if (in.contains("text")) {
        std::string text = Bytes(in.at("text").get<std::string>());
        data->assign(text.begin(), text.end());
        data->push_back(0);
    } else if (in.contains("strings")) {
        std::vector<std::string> entries;
        for (const std::string& written : in.at("strings").get<std::vector<std::string>>())
            entries.push_back(Bytes(written));
        *data = Strings::JoinMultiString(entries);
    } else if (in.contains("dword")) {
        DWORD value = in.at("dword").get<DWORD>();
        for (int i = 0; i < 4; ++i)
            data->push_back((BYTE)(value >> (8 * i)));
    } else {
        return FromHex(in.at("hex").get<std::string>(), data);
    }
    (void)type;
    return true;
}

std::string TypeName(DWORD type) {
    return type < 8 ? TYPE_NAMES[type] : std::to_string(type);
}

DWORD TypeFromName(const std::string& name) {
    for (DWORD type = 0; type < 8; ++type) {
        if (name == TYPE_NAMES[type])
            return type;
    }
    // A number of at most ten digits that fits in a DWORD, as Write gives one.
    unsigned long long type = 0;
    bool digits = !name.empty() && name.size() <= 10;
    for (char c : name) {
        digits = digits && c >= '0' && c <= '9';
        type = type * 10 + (unsigned)(c - '0');
    }
    if (!digits || type > 0xFFFFFFFFull)
        throw json::other_error::create(501, "unknown value type " + name, nullptr);
    return (DWORD)type;
}

const char* LibraryName(Library library) {
    return library == Library::Unregisters ? "unregisters"
           : library == Library::NoExport  ? "no export"
                                           : "none";
}

// Names are the bytes the A functions give; JSON text is UTF-8. Each byte
// goes as the character of the same number (ISO 8859-1), which gives the
// same bytes back whatever they are.
std::string Text(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += (char)c;
        } else {
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Bytes(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c >= 0xC2 && c <= 0xC3 && i + 1 < text.size()) {
            out += (char)((c & 0x03) << 6 | ((unsigned char)text[++i] & 0x3F));
            continue;
        }
        if (c >= 0x80)
            throw json::other_error::create(501, "a name holds a character above U+00FF", nullptr);
        out += (char)c;
    }
    return out;
}

std::string NameAt(const json& in, const char* field) {
    return Bytes(in.at(field).get<std::string>());
}

} // namespace

std::string JsonText(const std::string& bytes) {
    return Text(bytes);
}

std::string ValueText(const Value& value) {
    return TypeName(value.type) + " " + DataJson(value.type, value.data).dump();
}

std::string ServiceStateName(DWORD state) {
    static const char* const NAMES[] = {
        "?",       "stopped",          "start pending", "stop pending",
        "running", "continue pending", "pause pending", "paused"};
    return state < 8 ? NAMES[state] : std::to_string(state);
}

void to_json(json& out, const Value& value) {
    out = DataJson(value.type, value.data);
    out["name"] = Text(value.name);
    out["type"] = TypeName(value.type);
}

void from_json(const json& in, Value& value) {
    value.name = NameAt(in, "name");
    value.type = TypeFromName(in.at("type").get<std::string>());
    if (!DataFromJson(in, value.type, &value.data))
        throw json::other_error::create(501, "bad hex data of " + value.name, &in);
}

void to_json(json& out, const Key& key) {
    out = json{{"path", Text(key.path)}, {"values", key.values}};
    if (!key.readable)
        out["readable"] = false;
    if (!key.writable)
        out["writable"] = false;
    if (!key.deletable)
        out["deletable"] = false;
}

void from_json(const json& in, Key& key) {
    key.path = NameAt(in, "path");
    auto under = [&](const char* root) {
        return key.path.size() > 5 && SameText(key.path.substr(0, 5), root);
    };
    if (!under("HKLM\\") && !under("HKCR\\"))
        throw json::other_error::create(501, "a key under neither HKLM nor HKCR: " + key.path, &in);
    key.readable = in.value("readable", true);
    key.writable = in.value("writable", true);
    key.deletable = in.value("deletable", true);
    key.values = in.value("values", std::vector<Value>());
}

void to_json(json& out, const Service& service) {
    out = json{{"name", Text(service.name)},
               {"state", ServiceStateName(service.state)},
               {"program", ProgramName(service.program)}};
}

void from_json(const json& in, Service& service) {
    service.name = NameAt(in, "name");
    std::string state = in.at("state").get<std::string>();
    service.state = 0;
    for (DWORD s = 1; s < 8; ++s) {
        if (ServiceStateName(s) == state)
            service.state = s;
    }
    std::string program = in.value("program", "none");
    service.program = Program::None;
    for (Program known : {Program::Records, Program::RefusesStop}) {
        if (program == ProgramName(known))
            service.program = known;
    }
}

// A UTF-16 list property as read: its entries when every unit is printable
// ASCII and the list is well ended, else its bytes under NAME + "Hex".
void WideListToJson(json& out, const std::string& name, const std::vector<BYTE>& wide) {
    std::vector<std::string> entries;
    if (Entries(wide, Strings::UTF16, &entries))
        out[name] = entries;
    else
        out[name + "Hex"] = Hex(wide);
}

// False when the field is absent; throws on bad bytes.
bool WideListFromJson(const json& in, const std::string& name, std::vector<BYTE>* wide) {
    wide->clear();
    if (in.contains(name)) {
        std::vector<std::string> entries;
        for (const std::string& written : in.at(name).get<std::vector<std::string>>())
            entries.push_back(Bytes(written));
        *wide = Strings::JoinMultiString(entries, Strings::UTF16);
        return true;
    }
    if (!in.contains(name + "Hex"))
        return false;
    if (!FromHex(in.at(name + "Hex").get<std::string>(), wide))
        throw json::other_error::create(501, "bad " + name, &in);
    return true;
}

void to_json(json& out, const Device& device) {
    out = json{{"instance", Text(device.instanceId)}, {"class", device.classGuid}};
    if (device.hasHardwareIds)
        WideListToJson(out, "hardwareIds", device.hardwareIds);
    if (!device.upperFilters.empty())
        WideListToJson(out, "upperFilters", device.upperFilters);
    if (!device.lowerFilters.empty())
        WideListToJson(out, "lowerFilters", device.lowerFilters);
    if (!device.present)
        out["present"] = false;
    if (!device.service.empty())
        out["service"] = device.service;
    if (device.configFlags)
        out["configFlags"] = *device.configFlags;
    if (device.profileFlags)
        out["profileFlags"] = *device.profileFlags;
}

void from_json(const json& in, Device& device) {
    if (in.contains("configFlags"))
        device.configFlags = in.at("configFlags").get<DWORD>();
    if (in.contains("profileFlags"))
        device.profileFlags = in.at("profileFlags").get<DWORD>();
    device.instanceId = NameAt(in, "instance");
    device.classGuid = in.at("class").get<std::string>();
    device.present = in.value("present", true);
    device.service = in.value("service", std::string());
    device.hasHardwareIds = WideListFromJson(in, "hardwareIds", &device.hardwareIds);
    WideListFromJson(in, "upperFilters", &device.upperFilters);
    WideListFromJson(in, "lowerFilters", &device.lowerFilters);
}

// The boot view's names are Unicode text, written as JSON writes text.
template <typename T> void Optional(json& out, const char* name, const std::optional<T>& value) {
    if (value)
        out[name] = *value;
}
template <typename T> std::optional<T> OptionalAt(const json& in, const char* name) {
    if (!in.contains(name))
        return std::nullopt;
    return in.at(name).get<T>();
}
void List(json& out, const char* name, const std::vector<std::string>& entries) {
    if (!entries.empty())
        out[name] = entries;
}
std::vector<std::string> ListAt(const json& in, const char* name) {
    return in.value(name, std::vector<std::string>());
}

void to_json(json& out, const BootService& service) {
    out = json{{"name", service.name}};
    if (!service.readable)
        out["readable"] = false;
    Optional(out, "type", service.type);
    Optional(out, "start", service.start);
    Optional(out, "imagePath", service.imagePath);
    Optional(out, "errorControl", service.errorControl);
    if (service.deleteFlag)
        out["deleteFlag"] = true;
    if (!service.group.empty())
        out["group"] = service.group;
    List(out, "dependOnService", service.dependOnService);
    List(out, "dependOnGroup", service.dependOnGroup);
}

void from_json(const json& in, BootService& service) {
    service.name = in.at("name").get<std::string>();
    service.readable = in.value("readable", true);
    service.type = OptionalAt<DWORD>(in, "type");
    service.start = OptionalAt<DWORD>(in, "start");
    service.imagePath = OptionalAt<std::string>(in, "imagePath");
    service.errorControl = OptionalAt<DWORD>(in, "errorControl");
    service.deleteFlag = in.value("deleteFlag", false);
    service.group = in.value("group", std::string());
    service.dependOnService = ListAt(in, "dependOnService");
    service.dependOnGroup = ListAt(in, "dependOnGroup");
}

void to_json(json& out, const SetupClass& setupClass) {
    out = json{{"guid", setupClass.guid}};
    if (!setupClass.name.empty())
        out["name"] = setupClass.name;
    if (!setupClass.readable)
        out["readable"] = false;
    List(out, "upperFilters", setupClass.upperFilters);
    List(out, "lowerFilters", setupClass.lowerFilters);
}

void from_json(const json& in, SetupClass& setupClass) {
    setupClass.guid = in.at("guid").get<std::string>();
    setupClass.name = in.value("name", std::string());
    setupClass.readable = in.value("readable", true);
    setupClass.upperFilters = ListAt(in, "upperFilters");
    setupClass.lowerFilters = ListAt(in, "lowerFilters");
}

void to_json(json& out, const DeviceKey& device) {
    out = json{{"instance", device.instanceId}, {"class", device.classGuid}};
    if (!device.service.empty())
        out["service"] = device.service;
    List(out, "upperFilters", device.upperFilters);
    List(out, "lowerFilters", device.lowerFilters);
    Optional(out, "configFlags", device.configFlags);
}

void from_json(const json& in, DeviceKey& device) {
    device.configFlags = OptionalAt<DWORD>(in, "configFlags");
    device.instanceId = in.at("instance").get<std::string>();
    device.classGuid = in.value("class", std::string());
    device.service = in.value("service", std::string());
    device.upperFilters = ListAt(in, "upperFilters");
    device.lowerFilters = ListAt(in, "lowerFilters");
}

void to_json(json& out, const ControlSet& set) {
    out = json{{"name", set.name}, {"services", set.services}, {"classes", set.classes}};
    if (!set.servicesReadable)
        out["servicesReadable"] = false;
    if (!set.classesReadable)
        out["classesReadable"] = false;
    if (!set.devices.empty())
        out["devices"] = set.devices;
}

void from_json(const json& in, ControlSet& set) {
    set.name = in.at("name").get<std::string>();
    set.servicesReadable = in.value("servicesReadable", true);
    set.classesReadable = in.value("classesReadable", true);
    set.services = in.value("services", std::vector<BootService>());
    set.classes = in.value("classes", std::vector<SetupClass>());
    set.devices = in.value("devices", std::vector<DeviceKey>());
}

void to_json(json& out, const Boot& boot) {
    out = json{{"windowsFolder", boot.windowsFolder}, {"sets", boot.sets}, {"images", boot.images}};
    if (boot.current != 0 || boot.defaultSet != 0 || boot.lastKnownGood != 0)
        out["select"] = json{{"current", boot.current},
                             {"default", boot.defaultSet},
                             {"lastKnownGood", boot.lastKnownGood}};
    if (!boot.devicesReadable)
        out["devicesReadable"] = false;
    if (!boot.imagesLooked)
        out["imagesLooked"] = false;
}

void from_json(const json& in, Boot& boot) {
    boot.windowsFolder = in.value("windowsFolder", std::string());
    boot.sets = in.value("sets", std::vector<ControlSet>());
    boot.images = in.value("images", std::vector<std::string>());
    boot.devicesReadable = in.value("devicesReadable", true);
    boot.imagesLooked = in.value("imagesLooked", true);
    if (in.contains("select")) {
        const json& select = in.at("select");
        boot.current = select.value("current", (DWORD)0);
        boot.defaultSet = select.value("default", (DWORD)0);
        boot.lastKnownGood = select.value("lastKnownGood", (DWORD)0);
    }
}

void to_json(json& out, const Import& import) {
    out = json{{"name", Text(import.name)}};
    if (!import.found)
        out["found"] = false;
}

void from_json(const json& in, Import& import) {
    import.name = NameAt(in, "name");
    // A file name, as an import table gives one: the loader looks for it.
    if (import.name.empty() || import.name.size() >= MAX_PATH ||
        import.name.find_first_of("\\/:") != std::string::npos)
        throw json::other_error::create(501, "an import that is no file name: " + import.name, &in);
    import.found = in.value("found", true);
}

void to_json(json& out, const File& file) {
    out = json{{"path", Text(file.path)}};
    if (file.directory)
        out["directory"] = true;
    if (file.readOnly)
        out["readOnly"] = true;
    if (file.library != Library::None)
        out["library"] = LibraryName(file.library);
    if (!file.imports.empty())
        out["imports"] = file.imports;
}

void from_json(const json& in, File& file) {
    file.path = NameAt(in, "path");
    file.directory = in.value("directory", false);
    file.readOnly = in.value("readOnly", false);
    std::string library = in.value("library", "none");
    file.library = library == "unregisters" ? Library::Unregisters
                   : library == "no export" ? Library::NoExport
                                            : Library::None;
    file.imports = in.value("imports", std::vector<Import>());
}

void to_json(json& out, const Change& change) {
    out = json{{"kind", KindName(change.kind)}, {"what", Text(PlaceText(change))}};
    std::string before = BeforeText(change), after = AfterText(change);
    if (!before.empty())
        out["before"] = Text(before);
    if (!after.empty())
        out["after"] = Text(after);
}

// A value as a change list shows it, "REG_SZ {\"text\":...}", read back.
std::optional<Value> ValueFromText(const std::string& name, const std::string& text) {
    size_t space = text.find(' ');
    if (text.empty() || space == std::string::npos)
        return std::nullopt;
    Value value;
    value.name = name;
    value.type = TypeFromName(text.substr(0, space));
    if (!DataFromJson(json::parse(text.substr(space + 1)), value.type, &value.data))
        throw json::other_error::create(501, "bad data of " + value.name, nullptr);
    return value;
}

void from_json(const json& in, Change& change) {
    std::string kind = in.at("kind").get<std::string>();
    if (!KindFromName(kind, &change.kind))
        throw json::other_error::create(501, "no change is of kind " + kind, nullptr);
    change.what = NameAt(in, "what");
    std::string before = Bytes(in.value("before", ""));
    std::string after = Bytes(in.value("after", ""));
    if (IsValueChange(change.kind)) {
        // The list names a value "key : name", the last " : " between them.
        size_t colon = change.what.rfind(" : ");
        if (colon != std::string::npos) {
            change.value = change.what.substr(colon + 3);
            change.what.erase(colon);
        }
        change.valueBefore = ValueFromText(change.value, before);
        change.valueAfter = ValueFromText(change.value, after);
    } else {
        change.before = before;
        change.after = after;
    }
}

std::string ShortText(const Value& value) {
    json data = DataJson(value.type, value.data);
    if (data.contains("text"))
        return "\"" + data["text"].get<std::string>() + "\"";
    if (data.contains("dword"))
        return std::to_string(data["dword"].get<unsigned long>());
    if (data.contains("strings")) {
        std::string out;
        for (const std::string& entry : data["strings"].get<std::vector<std::string>>())
            out += (out.empty() ? "\"" : ", \"") + entry + "\"";
        return "[" + out + "]";
    }
    return ValueText(value);
}

bool ListEntries(const Value& value, std::vector<std::string>* entries) {
    entries->clear();
    return value.type == REG_MULTI_SZ && Entries(value.data, 0, entries);
}

std::string Write(const Machine& machine) {
    json serviceKeys = json::array();
    for (const std::string& name : machine.serviceKeys)
        serviceKeys.push_back(Text(name));
    json out{{"schema", machine.schema},
             {"version", machine.version},
             {"productFolder", Text(machine.productFolder)},
             {"registry", machine.registry},
             {"serviceKeys", serviceKeys},
             {"services", machine.services},
             {"devices", machine.devices},
             {"files", machine.files},
             {"boot", machine.boot}};
    if (machine.hasPending)
        out["pending"] = DataJson(REG_MULTI_SZ, machine.pending);
    for (const std::string& path : machine.unregistered)
        out["unregistered"].push_back(Text(path));
    for (const Received& received : machine.received)
        out["received"][Text(received.service)] = received.controls;
    return out.dump(1);
}

bool Read(const std::string& text, Machine* machine, std::string* error) {
    try {
        json in = json::parse(text);
        if (in.at("schema").get<int>() != SCHEMA) {
            *error = "schema " + in.at("schema").dump() + " is not " + std::to_string(SCHEMA);
            return false;
        }
        Machine read;
        read.version = in.value("version", (DWORD)0);
        read.productFolder = Bytes(in.value("productFolder", std::string(PRODUCT_FOLDER)));
        // As a reader gives it: a folder the uninstaller would accept (or none).
        if (!read.productFolder.empty() && !IsAbsoluteFolder(read.productFolder.c_str())) {
            *error = "productFolder is not an absolute folder: " + read.productFolder;
            return false;
        }
        read.registry = in.value("registry", std::vector<Key>());
        for (const std::string& name : in.value("serviceKeys", std::vector<std::string>()))
            read.serviceKeys.push_back(Bytes(name));
        read.services = in.value("services", std::vector<Service>());
        read.devices = in.value("devices", std::vector<Device>());
        read.files = in.value("files", std::vector<File>());
        read.boot = in.value("boot", Boot());
        for (const std::string& path : in.value("unregistered", std::vector<std::string>()))
            read.unregistered.push_back(Bytes(path));
        if (in.contains("received")) {
            for (auto& item : in.at("received").items())
                read.received.push_back(
                    {Bytes(item.key()), item.value().get<std::vector<DWORD>>()});
        }
        if (in.contains("pending")) {
            read.hasPending = true;
            if (!DataFromJson(in.at("pending"), REG_MULTI_SZ, &read.pending)) {
                *error = "bad pending operations";
                return false;
            }
        }
        *machine = std::move(read);
        return true;
    } catch (const json::exception& e) {
        *error = e.what();
        return false;
    }
}

std::string WriteChanges(const std::vector<Change>& changes) {
    return json{{"schema", SCHEMA}, {"changes", changes}}.dump(1);
}

bool ReadChanges(const std::string& text, std::vector<Change>* changes, std::string* error) {
    try {
        json in = json::parse(text);
        *changes = in.at("changes").get<std::vector<Change>>();
        return true;
    } catch (const json::exception& e) {
        *error = e.what();
        return false;
    }
}

} // namespace Description
