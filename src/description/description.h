// A machine described as plain data: what the uninstaller reads and changes,
// read through the platform boundary only (so the same reader serves the
// simulated Windows and a real one), written to and read from JSON, and
// compared. The schema is in SCHEMA.md.
#pragma once

#include "../platform/platform.h"

#include <string>
#include <vector>

namespace Description {

constexpr int SCHEMA = 1;

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
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
};

// What a library does when the uninstaller loads it.
enum class Library { None, Unregisters, NoExport };

// A file or folder, its path starting with one of the folder names
// %PRODUCT%, %PROGRAMS% or %COMMONPROGRAMS%, so that machines whose
// Start-menu folders lie elsewhere compare.
struct File {
    std::string path;
    bool directory = false;
    Library library = Library::None;
};

struct Machine {
    int schema = SCHEMA;
    std::vector<Key> registry;
    std::vector<Service> services; // the product's and TermService, those that exist
    std::vector<Device> devices;
    bool hasPending = false;
    std::vector<BYTE> pending; // "PendingFileRenameOperations" as stored
    std::vector<File> files;
    std::vector<std::string> unregistered; // libraries whose DllUnregisterServer ran (observed)
    std::vector<Received> received;        // observed
};

// The product's folder as the installed machine holds it.
extern const char PRODUCT_FOLDER[];

// Reads the machine. Read-only: keys are opened for reading, the service
// manager with connect and enumerate rights, services with query rights.
Machine Describe();

// One change between two descriptions of a machine.
struct Change {
    std::string kind; // "key removed", "value changed", "service removed", ...
    std::string what; // the key, value, service, device or file
    std::string before;
    std::string after;
    bool operator==(const Change& other) const {
        return kind == other.kind && what == other.what && before == other.before &&
               after == other.after;
    }
};

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
bool Read(const std::string& text, Machine* machine, std::string* error);
std::string WriteChanges(const std::vector<Change>& changes);
bool ReadChanges(const std::string& text, std::vector<Change>* changes, std::string* error);

} // namespace Description
