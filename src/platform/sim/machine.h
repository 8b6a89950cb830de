// The simulated Windows: one machine held as plain state (a registry, the
// service control manager's database, a device tree, a file tree, a console,
// a heap) behind the Win32 functions of api.h. Every call is written to a
// journal; every handle is counted. A call or flag it does not model stops
// the process rather than guess. Where it knowingly differs from Windows is
// listed in sim/DIFFERENCES.md.
#pragma once

#include "../api.h"
#include "../strings.h"
#include "../utf.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Sim {

// Orders and compares ANSI names as the registry and the file system do:
// without case (Strings::NoCase, Strings::SameName).
using NoCase = Strings::NoCase;
using Strings::SameName;

// Orders registry key names (Unicode text, UTF-8) as the registry does: by
// code point after simple upper-casing.
struct NameOrder {
    bool operator()(const std::string& a, const std::string& b) const;
};

// Windows keeps the registry's strings in UTF-16 and converts them for the A
// functions through the ANSI code page. Here key names and the data of
// string-typed values (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are Unicode text
// in UTF-8; everything else is the bytes as given.
struct Value {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
bool IsText(DWORD type);
// The data as RegQueryValueExA returns it.
std::vector<BYTE> AnsiData(const Value& value);
// A value as RegSetValueExA stores it.
Value AnsiValue(DWORD type, const BYTE* data, size_t size);

// Conversions through the ANSI code page (Windows-1252) and UTF-16.
std::string AnsiToText(const std::string& ansi);
std::string TextToAnsi(const std::string& text); // '?' for what the code page lacks
// The registry's text from UTF-16 and back: a lone surrogate is kept, as
// Windows keeps it (Unicode::Wtf8).
inline std::string WideToText(const char16_t* wide, size_t units) {
    return Unicode::Wtf8(wide, units);
}
inline std::u16string TextToWide(const std::string& text) {
    return Unicode::Utf16(text);
}

struct Key {
    std::string name; // Unicode text
    Key* parent = nullptr;
    std::map<std::string, std::shared_ptr<Key>, NameOrder> children; // enumerated in this order
    std::vector<std::pair<std::string, Value>> values;               // ANSI names, in the order set
    bool refuseOpen = false;                                         // opens fail: access denied
    bool refuseDelete = false; // its security grants no DELETE: deletion and opening with it fail
    bool refuseWrite = false;  // its security grants no write: opening it to write fails
    bool deleted = false;

    Value* FindValue(const std::string& valueName);
    const Value* FindValue(const std::string& valueName) const;
};

// What a service program does; the configuration lives in the registry key
// Services\<name>, as on Windows.
struct Service {
    DWORD state = SERVICE_STOPPED;
    bool acceptsStop = true;        // false: refuses SERVICE_CONTROL_STOP
    std::set<DWORD> customControls; // user-defined controls (128-255) it handles
    std::vector<DWORD> received;    // every control delivered to it, in order
    bool deletePending = false;
    int openHandles = 0;
};

struct Device {
    DWORD devInst = 0;
    std::string instanceId;
    GUID classGuid{};
    bool hasHardwareIds = false;
    std::vector<BYTE> hardwareIds; // the property as stored: UTF-16 REG_MULTI_SZ bytes
    // The device's own filter drivers, as stored (UTF-16 REG_MULTI_SZ bytes); empty: none.
    std::vector<BYTE> upperFilters;
    std::vector<BYTE> lowerFilters;
    // Its function driver (the service property): UTF-16 REG_SZ bytes, ended; empty: none.
    std::vector<BYTE> service;
    // "ConfigFlags" as stored (a REG_DWORD's 4 bytes); empty: none.
    std::vector<BYTE> configFlags;
    bool present = true;
    bool refuseRemoval = false;
    bool registered = true; // false while only an element of the set that created it
};

// A library's behaviour when loaded.
struct Library {
    // The file names of the libraries it imports, which the loader finds
    // along its search path before the library's own code runs.
    std::vector<std::string> imports;
    bool exportsUnregister = true;
    HRESULT unregisterResult = 0;
    bool faultsWhenLoaded = false;   // its entry point faults while it is being loaded
    bool faultsInUnregister = false; // DllUnregisterServer faults
};

// The bytes a file with a Library record reads as: a small 32-bit DLL image
// whose export table names DllCanUnloadNow and, as the record says,
// DllUnregisterServer or DllRegisterServer, and whose import table names the
// record's imports. Made at each read, so that the record's present state is
// what a reader sees.
std::vector<BYTE> LibraryImage(const Library& library);

// A fault (an access violation, say) in code running in the process: thrown
// by a simulated library, caught by CallGuarded. One that no guard catches
// ends the process: the test that ran it sees the exception.
struct Fault {
    DWORD code;
};

// The process ended from outside (power lost, the console closed, a foreign
// library that killed it) right after a call: thrown by that call, caught by
// no guard.
struct Killed {};

struct Node {
    std::string name;
    bool directory = false;
    bool adminOnly = false; // only an administrator may delete it (or what it holds)
    DWORD attributes = 0;   // as set, without FILE_ATTRIBUTE_DIRECTORY
    std::map<std::string, std::unique_ptr<Node>, NoCase> children;
    std::vector<BYTE> content;        // what the file reads as, unless it is a library
    std::unique_ptr<Library> library; // a library reads as LibraryImage, whatever its content
};

enum class HandleKind { Key, Scm, Service, Find, Module, DeviceSet, Token, Console, File };

// A call whose outcome a reader of the run needs (the companion program
// tells what each step did), kept as data: the call, what it acted on (a
// service's name, a library's or file's path, a device's instance ID), the
// number it was given (a service control, else 0), and the error it ended
// with (0 when it succeeded).
enum class OutcomeCall {
    ControlService,
    DeleteService,
    ChangeServiceConfig,
    LoadLibrary,
    GetProcAddress,
    CallClassInstaller,
    ExitWindows,
    DeleteFile
};
struct Outcome {
    OutcomeCall call;
    std::string subject;
    DWORD number = 0;
    DWORD error = 0;
};

struct Handle {
    HandleKind kind;
    int number; // for the journal: key#1, svc#2, ...
    std::shared_ptr<Key> key;
    std::string name;               // service name, module path
    std::vector<std::string> found; // a file search's remaining names
    std::vector<DWORD> devices;     // a device set's devInst of each element
    DWORD access = 0;
    size_t position = 0; // where a file's next read starts
};

// Windows version words as GetVersion returns them.
constexpr DWORD VERSION_NT4 = 0x05650004;   // 4.0 build 1381
constexpr DWORD VERSION_98 = 0xC0000A04;    // 4.10, not NT
constexpr DWORD VERSION_2000 = 0x08930005;  // 5.0 build 2195
constexpr DWORD VERSION_XP = 0x0A280105;    // 5.1 build 2600
constexpr DWORD VERSION_2003 = 0x0ECE0205;  // 5.2 build 3790
constexpr DWORD VERSION_VISTA = 0x17700006; // 6.0 build 6000

// What a copy of a machine (Copy) takes whole: its settings, its state but
// the registry, the file tree and the heap, and its bookkeeping. Whatever
// is added here is copied with the rest.
struct MachineState {
    // Settings.
    DWORD version = VERSION_XP;
    bool administrator = true;   // the user holds administrative rights
    bool shutdownRight = true;   // the user's token holds SeShutdownPrivilege
    bool consoleFails = false;   // AllocConsole fails and no console exists
    long heapFailsAfter = -1;    // allocations that succeed before all fail (-1: never)
    int messageBoxAnswer = IDOK; // what the user's click, or its absence, returns
    long failCall = 0;           // the failable call (counted from 1) that fails; 0: none
    long killAfterCall = 0;      // the call (counted from 1) after which the process is killed
    std::string computerName = "TS-SIM"; // as GetComputerNameA gives it
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string windowsDirectory = "C:\\WINDOWS";
    // The folder of the running program's file, where the loader looks first
    // for what a library imports (unless told to look beside the library).
    // By default not the product's: fleets run the uninstaller from a
    // software-distribution cache or a share.
    std::string programFolder = "C:\\Setup";
    std::string programsFolder = "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs";
    std::string commonProgramsFolder =
        "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";

    // State.
    std::map<std::string, Service, NoCase> services; // the service control manager's database
    std::vector<Device> devices;
    std::string currentDirectory = "C:\\";
    DWORD lastError = 0;
    bool hasConsole = false;
    std::string consoleText;
    std::vector<std::pair<std::string, std::string>> messageBoxes; // caption, text
    std::vector<std::string> unregistered; // paths of libraries whose DllUnregisterServer ran
    // What deleted services had received: their programs saw it even though
    // the records are gone.
    std::map<std::string, std::vector<DWORD>, NoCase> receivedByDeleted;
    std::vector<std::string> restartRequests;
    std::vector<Outcome> outcomes; // in the order the calls were made
    bool privilegeEnabled = false;
    long allocations = 0;
    long liveAllocations = 0;
    DWORD nextDevInst = 1;

    // Bookkeeping.
    // False for a machine loaded from a description whose image files were
    // not looked at: each stands there, and a description of it says so.
    bool imagesLooked = true;
    bool journalOn = true;  // off, calls are neither formatted nor written (for speed)
    long failableCalls = 0; // calls that could have been made to fail so far
    long calls = 0;         // calls made so far, journalled or not
    std::vector<std::string> journal;
    std::map<ULONG_PTR, Handle> handles;
    ULONG_PTR nextHandle = 0x1000;
    std::map<HandleKind, int> handleNumbers;
};

struct Machine : MachineState {
    // What a copy makes anew: the registry and the file tree, deep, and the
    // handles' keys pointed at the copies; and the heap, which it refuses.
    std::shared_ptr<Key>
        machineRoot; // HKEY_LOCAL_MACHINE; HKEY_CLASSES_ROOT is its SOFTWARE\Classes
    Node fileRoot;   // children are the drives, "C:"
    std::map<void*, size_t> heapBlocks; // live blocks and their sizes
    // Blocks freed by the product are kept, unreadable under AddressSanitizer,
    // until the machine goes: any later use of one is caught however much the
    // simulator itself allocated since. Both go with the machine, as with the process.
    std::vector<std::pair<void*, size_t>> freedBlocks;

    Machine() = default;
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;
    ~Machine();
};

// The machine the Win32 functions act on.
Machine& Current();

// Replaces the current machine by a fresh Windows XP with an administrator logged on.
void Reset();

// A deep copy of a machine: its settings, state and bookkeeping, open handles
// included. Heap blocks are not copied; a machine holding any stops the
// process rather than be copied half.
std::unique_ptr<Machine> Copy(const Machine& machine);

// Makes `machine` the current one (a copy, say, of a machine set up once).
void Replace(std::unique_ptr<Machine> machine);
// Makes `machine` the current one and hands back the one that was (null if none).
std::unique_ptr<Machine> Exchange(std::unique_ptr<Machine> machine);
// Makes `machine` the current one for the guard's life (none: a fresh
// Windows, made at the first call), and the one that was current again when
// the guard goes, however the scope is left: an exception cannot lose it.
class ExchangeGuard {
  public:
    explicit ExchangeGuard(std::unique_ptr<Machine> machine = nullptr);
    ExchangeGuard(const ExchangeGuard&) = delete;
    ExchangeGuard& operator=(const ExchangeGuard&) = delete;
    ~ExchangeGuard();

  private:
    std::unique_ptr<Machine> saved;
};

// A Windows restart: pending file operations carried out, services marked
// for deletion removed, running state forgotten.
void Restart();

// The process ends, whole or killed: Windows closes every handle it held (a
// service marked for deletion and no longer open goes then) and its heap
// goes with it. The next call starts a new process.
void EndProcess();

// Inspection and set-up helpers for tests and the footprint; none is
// journalled. Paths, names and string data are in ANSI, converted as the A
// functions convert them.

// The registry (registry.cpp).
Key* FindKey(HKEY root, const std::string& path);
Key* FindKeyBelow(Key* key, const std::string& path); // of any machine, not only the current
Key* MakeKey(HKEY root, const std::string& path);
bool ReadValue(HKEY root, const std::string& path, const std::string& name, Value* value);
void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data);
bool DeleteKeyAt(HKEY root, const std::string& path); // with everything below it
// As a program using the W functions would: a key path and string data in
// UTF-8 that may hold characters the ANSI code page cannot carry.
Key* MakeKeyText(HKEY root, const std::string& path);
void SetTextValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                  const std::string& text);
// A list's bytes (Strings::JoinMultiString); Strings::SplitMultiString splits one.
std::vector<BYTE> MultiSz(const std::vector<std::string>& entries);
std::vector<BYTE> Dword(DWORD value);
std::vector<BYTE> Sz(const std::string& text);

// The file tree (files.cpp).
Node* FindNode(const std::string& path);
// What GetFileAttributesA reports of a node.
DWORD Attributes(const Node& node);
Node* MakeDirectory(const std::string& path, bool adminOnly = false);
Node* MakeFile(const std::string& path, const std::string& content = "", bool adminOnly = false);
bool Exists(const std::string& path);

// The device tree (devices.cpp).
std::vector<BYTE> WideMultiSz(const std::vector<std::string>& entries);
Device& AddDevice(const std::string& instanceId, const GUID& classGuid,
                  const std::vector<std::string>& hardwareIds);
Device* FindDevice(const std::string& instanceId);

// Open handles of each kind (handles.cpp).
int OpenHandles(HandleKind kind);
int OpenHandles();

// The whole machine as text lines, for differences: one line a registry
// value, key, service, device, file and folder (machine_lines.cpp).
std::vector<std::string> MachineLines();

// The full path Windows makes of a path (relative to the current folder,
// "." and ".." folded, the last name's trailing spaces and dots dropped), or
// "" when it names no place on a drive.
std::string FullPath(const std::string& path);

// Names the journal gives a root key (journal.cpp).
std::string RootName(HKEY root);

} // namespace Sim
