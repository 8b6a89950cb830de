// A machine described as plain data: what the uninstaller reads and changes,
// read through the platform boundary only (so the same reader serves the
// simulated Windows and a real one), written to and read from JSON, and
// compared. The schema is in SCHEMA.md.
#pragma once

#include "../platform/platform.h"
#include "../platform/strings.h"
#include "../platform/utf.h"

#include <optional>
#include <string>
#include <vector>

namespace Description {

constexpr int SCHEMA = 4;

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
// `writable` is false where the key's security refuses the reader the
// right to set its values (read for setup class keys only); `deletable`
// where it refuses the rights the uninstaller opens a key with to delete it
// (read for the keys of the trees it deletes only).
struct Key {
    std::string path;
    bool readable = true;
    std::vector<Value> values;
    bool writable = true;
    bool deletable = true;
};

// What a service program does with the controls it gets: nothing runs it
// (a kernel driver, or a service that was never started), it records every
// control, or it records them and refuses to stop.
enum class Program { None, Records, RefusesStop };
// Its name in a description's JSON and the change lists ("refuses stop").
const char* ProgramName(Program program);

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
    std::string service =
        ""; // its function driver, as Windows holds the name (UTF-8); "" when none
    // "ConfigFlags" (SPDRP_CONFIGFLAGS) and the current hardware profile's
    // "CSConfigFlags", when set: whether the device is disabled.
    std::optional<DWORD> configFlags = std::nullopt;
    std::optional<DWORD> profileFlags = std::nullopt;
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
inline constexpr char PRODUCT_PREFIX[] = "%PRODUCT%"; // the product folder (Machine::productFolder)
inline constexpr char PROGRAMS_PREFIX[] = "%PROGRAMS%"; // the user's Start-menu programs
inline constexpr char COMMON_PROGRAMS_PREFIX[] = "%COMMONPROGRAMS%"; // all users' programs
struct File {
    std::string path;
    bool directory = false;
    Library library = Library::None;
    bool readOnly = false;
    std::vector<Import> imports; // a server library's, in its import table's order
};

// What Windows loads at the next boot, as the judge of a machine needs it:
// names and texts as Windows holds them (Unicode, here UTF-8), read through
// the W functions. A value that is absent, or not of its type, is absent here.
struct BootService {
    std::string name;
    bool readable = true; // false: the key exists but refused opening for reading
    std::optional<DWORD> type;
    std::optional<DWORD> start;
    std::optional<std::string> imagePath; // as stored, unexpanded
    std::optional<DWORD> errorControl;    // how grave Windows takes its failure at the boot
    bool deleteFlag = false;              // "DeleteFlag" is set: the service goes at the restart
    std::string group;
    std::vector<std::string> dependOnService;
    std::vector<std::string> dependOnGroup;
};

struct SetupClass {
    std::string guid; // "{...}", as the key is named
    std::string name; // its "Class" value, "" when none
    bool readable = true;
    std::vector<std::string> upperFilters;
    std::vector<std::string> lowerFilters;
};

// A device's key under a control set's Enum, for a set other than the
// current one (the current set's devices are the machine's devices).
struct DeviceKey {
    std::string instanceId;
    std::string classGuid;
    std::string service;
    std::vector<std::string> upperFilters;
    std::vector<std::string> lowerFilters;
    std::optional<DWORD> configFlags = std::nullopt;
};

struct ControlSet {
    std::string name; // "CurrentControlSet", or "ControlSet002" for another
    bool servicesReadable = true;
    bool classesReadable = true;
    std::vector<BootService> services;
    std::vector<SetupClass> classes;
    std::vector<DeviceKey> devices;
};

struct Boot {
    std::string windowsFolder; // what \SystemRoot stands for; "" when unknown
    // "Select": the set each kind of boot uses (0 when the key or value is absent).
    DWORD current = 0;
    DWORD defaultSet = 0;
    DWORD lastKnownGood = 0;
    bool devicesReadable = true; // the device list could be read
    // The current set first; then Last Known Good's when it is another set.
    std::vector<ControlSet> sets;
    // The image files found, as full paths (ImageFiles), each once.
    std::vector<std::string> images;
    // False where the image files were not looked at (a disk read without
    // its Windows folder): no image is then judged missing.
    bool imagesLooked = true;
};

// How Windows loads a service's image: a driver's (kernel 1, file system 2,
// recognizer 8) the I/O manager opens by its NT path; a program's (0x10,
// 0x20) the service manager starts with CreateProcess.
enum class ImageKind { Driver, Program };
ImageKind KindOf(const BootService& service);
// Whether the service's Type is one the I/O manager loads as a driver; a
// key without a Type is taken for one (the kernel reads no Type to load an image).
bool IsDriver(const BootService& service);

// The files a service's image path may name, in the order Windows tries
// them. A driver's is one: "\SystemRoot\...", "\??\C:\...", a path
// relative to the Windows folder, "%SystemRoot%" and "%windir%" expanded, no
// image path meaning "System32\drivers\<name>.sys", and nothing of it
// trimmed or turned (the kernel opens the path as given). A program's is its
// command line's first word (or what its quotes hold), ".exe" added to a name
// without an extension, and a relative one looked for as CreateProcess looks
// from the service manager: in the system folder (services.exe's own and its
// current folder), the 16-bit system folder, then the Windows folder. None
// for a program without an image path.
std::vector<std::string> ImageFiles(const BootService& service, const std::string& windowsFolder,
                                    ImageKind kind);
// The first of the service's ImageFiles as its own kind loads it; "" when none.
std::string ImageFile(const BootService& service, const std::string& windowsFolder);
// A device's function driver named as an object the kernel or the HAL makes
// ("\Driver\ACPI_HAL", "\FileSystem\RAW"), never a service key.
bool IsDriverObject(const std::string& service);
// A key under Root\LEGACY_* (class LegacyDriver): the record that a driver
// or service outside Plug and Play was loaded once, never a stack to build.
bool IsLegacyDevice(const std::string& instanceId, const std::string& classGuid);
// Whether "ConfigFlags" or "CSConfigFlags" disable the device (bit 0x1).
bool IsDisabled(std::optional<DWORD> configFlags, std::optional<DWORD> profileFlags);
// The entries of a filter value as the PnP manager reads it: a REG_MULTI_SZ's
// strings, a REG_SZ's or REG_EXPAND_SZ's one string; UTF-16 bytes in, UTF-8 out.
std::vector<std::string> FilterEntries(DWORD type, const std::vector<BYTE>& bytes);
// A control set's key name under SYSTEM: "ControlSet001" of 1.
std::string ControlSetName(DWORD number);
// The Windows folder of a system folder ("C:\WINDOWS" of "C:\WINDOWS\system32").
std::string WindowsFolderOf(const std::string& systemFolder);
// UTF-16 text (a W function's) as UTF-8, and back (platform/utf.h).
using Unicode::Utf16;
using Unicode::Utf8;
// Unicode names compared as Windows compares service and key names: each
// UTF-16 unit upper-cased alone through Windows' case table (unicode.h).
bool SameUnicode(const std::string& a, const std::string& b);
// A name's UTF-16 units upper-cased as SameUnicode compares them: two names
// are the same for Windows when these are equal (the key of an index by name).
std::u16string UpperUnicode(const std::string& text);
// The entries of a UTF-16 REG_MULTI_SZ's bytes, as UTF-8.
std::vector<std::string> WideList(const std::vector<BYTE>& bytes);

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
    Boot boot;
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
// The product's trees the uninstaller deletes key by key, as described paths.
std::vector<std::string> DeletedTrees();
// Whether `path` is `tree` or a key below it.
bool InTree(const std::string& path, const std::string& tree);

// A GUID as text, "{8-4-4-4-12}" in hex: its characters, the braces included.
constexpr size_t GUID_TEXT_SIZE = 38;

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
// The services a description holds (the catalogue's DESCRIBED_SERVICE_LISTS):
// the product's, then TermService.
std::vector<std::string> DescribedServices();

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

// The name of the computer `win` reaches, as GetComputerNameA gives it (its
// NetBIOS name, in ANSI), or "" where it cannot be read. Not part of a
// description: a snapshot read elsewhere is no running machine to name.
std::string ComputerName(const Calls& win);
std::string ComputerName();

// What one change between two descriptions of a machine is.
enum class ChangeKind {
    KeyRemoved,
    KeyAdded,
    KeyReadable, // whether the key can be read
    ValueAdded,
    ValueRemoved,
    ValueChanged,
    ServiceRemoved,
    ServiceAdded,
    ServiceState,
    ServiceProgram,  // what runs it
    ServiceControls, // the controls it received
    DeviceRemoved,
    DeviceAdded,
    DeviceChanged,
    PendingRemoved, // an operation of "PendingFileRenameOperations"
    PendingAdded,
    FileRemoved,
    FileAdded,
    FolderRemoved,
    FolderAdded,
    ServerUnregistered,
};

// A kind as the change lists and their JSON name it ("value changed"), and
// back; false for a name that is none.
const char* KindName(ChangeKind kind);
bool KindFromName(const std::string& name, ChangeKind* kind);
bool IsValueChange(ChangeKind kind);
bool IsServiceChange(ChangeKind kind);

// One change between two descriptions of a machine, and where: a key (its
// path, the root first: "HKLM\\..."), a value (its key's path and its
// name), a service, device, queued operation, file or server. A value's
// change holds the value as it was and as it is (none on the side where it
// is absent); the others what they show on each side: a service's state or
// program, the controls it received, whether a key could be read.
struct Change {
    ChangeKind kind;
    std::string what = "";  // the key, service, device, operation, file or server
    std::string value = ""; // a value's name, for a value's change
    std::string before = "";
    std::string after = "";
    std::optional<Value> valueBefore = std::nullopt;
    std::optional<Value> valueAfter = std::nullopt;
    bool operator==(const Change& other) const {
        return kind == other.kind && what == other.what && value == other.value &&
               before == other.before && after == other.after && valueBefore == other.valueBefore &&
               valueAfter == other.valueAfter;
    }
};

// Where a change is, as the change lists show it: a value as "key : name".
std::string PlaceText(const Change& change);

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
