// Shared helpers of the simulated Windows' sources.
#pragma once

#include "../pending_renames.h"
#include "../unicode.h"
#include "../windows_keys.h"
#include "machine.h"

#include <string>

namespace Sim {

// Stops the run: the product made a call, or used a flag, that is not
// modelled (machine.cpp).
[[noreturn]] void Unmodelled(const std::string& what);

// The journal (journal.cpp). Its formatting: a quoted text (or NULL), a
// number, a handle by name.
std::string Q(const char* text);
// Appends a byte as the journal shows it: printable ASCII as itself, any
// other byte and '"' as \xHH.
void AppendShown(std::string* out, unsigned char c);
std::string D(long long value);
std::string X(DWORD value);
std::string H(const void* handle);

// Appends "call -> result" to the journal and returns `result`.
// A process killed after this call ends here (Machine::killAfterCall).
template <typename T> T Log(const std::string& call, T result, const std::string& shown) {
    Machine& m = Current();
    if (m.journalOn)
        m.journal.push_back(call + " -> " + shown);
    if (++m.calls == m.killAfterCall)
        throw Killed{};
    return result;
}
// Appends a failed call: its result shown as `shown`, then the last error
// in brackets ("NULL (5)"), then `more`.
template <typename T>
T LogFailed(const std::string& call, T result, const char* shown, const std::string& more = "") {
    return Log(call, result, shown + (" (" + D(Current().lastError) + ")") + more);
}
inline BOOL LogBool(const std::string& call, BOOL result) {
    if (!result)
        return LogFailed(call, result, "FALSE");
    return Log(call, result, std::string("TRUE"));
}
inline LONG LogStatus(const std::string& call, LONG status) {
    return Log(call, status, D(status));
}

// Fails the call with `error` as Windows would report it through GetLastError.
inline BOOL Fail(DWORD error) {
    Current().lastError = error;
    return FALSE;
}
// Fails the call with `error` and appends it as LogFailed does: the error
// is written once, the journal shows what it was set to.
template <typename T>
T LogFailure(const std::string& call, T result, const char* shown, DWORD error,
             const std::string& more = "") {
    Fail(error);
    return LogFailed(call, result, shown, more);
}

// Counts a call that can fail; true when it is the one a test asked to fail
// (Machine::failCall). Releases (closing a handle, freeing memory) cannot
// fail for a valid handle and are not counted; nor is GetVersion.
bool Injected();

// The handle table (handles.cpp).
void* NewHandle(HandleKind kind, Handle handle);
Handle* FindHandle(const void* value, HandleKind kind);
// The name a handle of `kind` holds ("" when it is no such handle).
std::string HandleName(const void* value, HandleKind kind);
// Keeps the outcome of a call that returned `result` (nonzero: it
// succeeded, else the last error says why) and returns the result.
template <typename T>
T KeepOutcome(OutcomeCall call, const std::string& subject, DWORD number, T result) {
    Current().outcomes.push_back(
        {call, subject, number, result ? (DWORD)0 : (DWORD)Current().lastError});
    return result;
}
void DropHandle(const void* value);

// Files (files.cpp): a Win32 path as Windows resolves it, relative to the
// current directory, "." and ".." folded, the last component's trailing
// spaces and dots dropped. The components after the drive ("C:") are returned.
bool ResolvePath(const std::string& path, std::vector<std::string>* components);
std::string JoinPath(const std::vector<std::string>& components);

// The heap (system.cpp): marks memory unreadable under AddressSanitizer (no
// effect without it), and readable again.
void Poison(void* memory, size_t bytes);
void ReleasePoison(void* memory, size_t bytes);

// Registry: calls `each` with every name of a key path in turn, empty names
// skipped; stops early when it returns false. One buffer serves every name: the
// simulated Windows serves one thread, as the uninstaller has (a per-thread
// buffer would have the companion program import what Windows 2000 lacks).
template <typename Each> void ForEachName(const char* path, Each each) {
    static std::string name;
    for (const char* at = path; at != nullptr && *at != 0;) {
        const char* end = at;
        while (*end != 0 && *end != '\\')
            ++end;
        if (end > at) {
            name.assign(at, (size_t)(end - at));
            if (!each(name))
                return;
        }
        at = *end == 0 ? end : end + 1;
    }
}

// A key's security as RegGetKeySecurity gives it: a descriptor's header,
// then the mark and the rights an administrator is granted (registry.cpp,
// read by AccessCheck in system.cpp).
constexpr DWORD SECURITY_DESCRIPTOR_BYTES = 28;
constexpr char SECURITY_MARK[4] = {'V', 'K', 'S', 'D'};

// A GUID as the registry names it, without braces (machine_lines.cpp).
std::string GuidText(const GUID& guid);

// Text: the ANSI code page (unicode.h), UTF-8 (utf.h) and upper case (text.cpp).
using Unicode::AnsiToWide;
using Unicode::WideToAnsi; // -1 where the code page has no such character
std::string AnsiToText(const char* bytes, size_t size);
bool Ascii(const char* bytes, size_t size); // ASCII reads the same in ANSI and UTF-8
inline bool Ascii(const std::string& text) {
    return Ascii(text.data(), text.size());
}
// Windows' upper case of a character (Unicode::Upper); one beyond the Basic
// Multilingual Plane is its own, as each of its surrogates is.
char32_t Upcase(char32_t c);
int CompareNames(const std::string& a, const std::string& b);
// As lstrcmpi compares: ligatures spelt out, soft hyphens ignored, case and
// then diacritics.
int CompareLinguistic(const std::u32string& a, const std::u32string& b);

// Registry (registry.cpp): the key a handle or predefined root names.
std::shared_ptr<Key> KeyOf(HKEY key, DWORD* access, LONG* status);

// Services (services.cpp): remove a service whose deletion is due (once a pending stop has
// finished, as it has by the time its last handle closes).
void FinishServiceDeletion(const std::string& name);
// Services: one handle to the service was closed (by the program, or by
// Windows as its process ended); its deletion may be due now.
void ServiceHandleClosed(const std::string& name);

} // namespace Sim
