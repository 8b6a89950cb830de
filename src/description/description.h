// A machine described as plain data: what the uninstaller reads and changes,
// read through the platform boundary only (so the same reader serves the
// simulated Windows and a real one), written to and read from JSON, and
// compared. The schema is in SCHEMA.md.
#pragma once

#include "../platform/platform.h"
#include "../platform/strings.h"

#include <optional>
#include <string>
#include <vector>

namespace Description {

constexpr int SCHEMA = 3;

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const Value& other) const {
        return name == other.name && type == other.type && data == other.data;
    }
};

// A key by its full path, "HKLM\..." or "HKCR\...". A key that exists but
// could not be opened for reading has readable false and no values.
struct Key {
    std::string path;
    bool readable = true;
    std::vector<Value> values;
};

// What a service program does with the controls it gets: nothing runs it
// (a kernel driver, or a service that was never started), it records every
// control, or it records them and refuses to stop.
enum class Program { None, Records, RefusesStop };

struct Service {
    std::string name;
    DWORD state = SERVICE_STOPPED;
    Program program = Program::None;
};

// The controls a service's program received, in order (observed, not read:
// kept after the service is deleted).
struct Received {
    std::string service;
    std::vector<DWORD> controls;
};

struct Device {
    std::string instanceId;
    std::string classGuid;         // "{...}"
    std::vector<BYTE> hardwareIds; // the property's UTF-16 bytes as read
    bool hasHardwareIds = false;
    bool present = true;
    // The device's own filter drivers: UTF-16 REG_MULTI_SZ bytes as read, empty when none.
    std::vector<BYTE> upperFilters;
    std::vector<BYTE> lowerFilters;
};

// What a library does when the uninstaller loads it.
enum class Library { None, Unregisters, NoExport };

// A library a server imports, by the file name its import table gives, and
// whether the reader found a file of that name where the loader looks when
// the uninstaller loads the server: beside it, or in the system or the
// Windows folder (the current folder is the system folder by then).
struct Import {
    std::string name;
    bool found = true;
};

// A file or folder, its path starting with one of the folder names
// %PRODUCT%, %PROGRAMS% or %COMMONPROGRAMS%, so that machines whose
// Start-menu folders lie elsewhere compare.
struct File {
    std::string path;
    bool directory = false;
    Library library = Library::None;
    bool readOnly = false;
    std::vector<Import> imports; // a server library's, in its import table's order
};

struct Machine {
    int schema = SCHEMA;
    DWORD version = 0;         // the version word GetVersion gives; 0 when unknown
    std::string productFolder; // the folder %PRODUCT% stands for
    std::vector<Key> registry;
    std::vector<std::string> serviceKeys; // every key under Services: the services Windows can load
    std::vector<Service> services;        // the product's and TermService, those that exist
    std::vector<Device> devices;
    bool hasPending = false;
    std::vector<BYTE> pending; // "PendingFileRenameOperations" as stored
    std::vector<File> files;
    std::vector<std::string> unregistered; // libraries whose DllUnregisterServer ran (observed)
    std::vector<Received> received;        // observed
};

// The product's folder as the installed machine holds it.
extern const char PRODUCT_FOLDER[];

// The folder the uninstaller works in on this machine, by its own rules for
// "DzPath" (without a trailing separator unless it is a drive's root), or ""
// when it would refuse the value or the value is missing.
std::string ProductFolder(const Machine& machine);

// The registry's places a description holds, besides each product service's
// and TermService's key: trees with every key below them, and keys whose
// values alone are read (every subkey of CLASS_KEY is one).
struct Place {
    const char* path; // "HKLM\..." or "HKCR\..."
    bool subkeys;
};
extern const Place PLACES[];
extern const int PLACE_COUNT;
extern const char HANDLERS_KEY[];    // the display property-sheet handlers, "HKLM\\..."
extern const char GROUP_ORDER_KEY[]; // the service group order, "HKLM\\..."
extern const char CLASS_KEY[];       // under HKLM
extern const char SERVICES_KEY[];    // under HKLM, with its ending backslash

// A described key path's root and the path below it ("HKCR\\x": HKEY_CLASSES_ROOT, "x").
std::string RootPath(const std::string& path, HKEY* root);
// The GUID a "{...}" text names; false when it names none.
bool GuidOf(const std::string& text, GUID* guid);
// The services a machine has beside those described in full stand in on
// the current one as disabled drivers' keys, made through Win32 calls where
// it lacks them: what the machine's filters name exists on it. The
// product's services and TermService are left to be described in full.
void LayServiceKeys(const Machine& machine);

// Names compare as Windows compares them: without case (Strings::Upper and
// Strings::SameName, the simulated Windows' comparison).
using Strings::Upper;
inline bool SameText(const std::string& a, const std::string& b) {
    return Strings::SameName(a, b);
}

// A described key by its path, and a key's value by its name; null when absent.
const Key* FindKey(const Machine& machine, const std::string& path);
const Value* FindValue(const Key* key, const std::string& name);

// The entries of one of the catalogue's lists.
std::vector<std::string> ListNames(const char* list);

// The Windows functions the reader calls (calls.h).
struct Calls;

// Reads the machine `win` reaches. Read-only: keys are opened for reading,
// the service manager with connect and enumerate rights, services with query
// rights, files for reading. Files are read in `productFolder`, or when it is
// "" in the folder "DzPath" names (else PRODUCT_FOLDER): a run deletes
// "DzPath", so a description after it names the folder read before.
Machine Describe(const Calls& win, const std::string& productFolder = "");
// Reads the machine of the realization this program is built against:
// Windows itself, or the simulated Windows.
Machine Describe(const std::string& productFolder = "");

// One change between two descriptions of a machine. A value's change holds
// the value as it was and as it is (none on the side where it is absent);
// the others what they show on each side: a service's state or program, the
// controls it received, whether a key could be read.
struct Change {
    std::string kind; // "key removed", "value changed", "service removed", ...
    std::string what; // the key, value, service, device or file
    std::string before;
    std::string after;
    std::optional<Value> valueBefore = std::nullopt;
    std::optional<Value> valueAfter = std::nullopt;
    bool operator==(const Change& other) const {
        return kind == other.kind && what == other.what && before == other.before &&
               after == other.after && valueBefore == other.valueBefore &&
               valueAfter == other.valueAfter;
    }
};

// A side of a change as the change lists show it: a value's type and data
// as one line, else what the change shows ("" where there is nothing).
std::string BeforeText(const Change& change);
std::string AfterText(const Change& change);

// A value made short for a report: a text quoted, a number, a list's
// entries, or else its type and data.
std::string ShortText(const Value& value);
// The entries of a value that is a well-formed REG_MULTI_SZ list; false for
// any other.
bool ListEntries(const Value& value, std::vector<std::string>* entries);

// What changed from `before` to `after`, in a fixed order (registry,
// services, devices, pending operations, files, libraries), so that two
// lists compare as data.
std::vector<Change> Changes(const Machine& before, const Machine& after);

// A value's type and data as one line, and a service state's name, as the
// change records show them.
std::string ValueText(const Value& value);
std::string ServiceStateName(DWORD state);

// JSON text of a description and back; Read returns false (with `error`
// set) on text that is not a description of this schema.
std::string Write(const Machine& machine);
// A name's bytes (from the A functions, in the ANSI code page) as JSON text:
// each byte as the character of the same number, as Write gives names.
std::string JsonText(const std::string& bytes);
bool Read(const std::string& text, Machine* machine, std::string* error);
std::string WriteChanges(const std::vector<Change>& changes);
bool ReadChanges(const std::string& text, std::vector<Change>* changes, std::string* error);

} // namespace Description
