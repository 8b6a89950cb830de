// The process's view of the system: version, console, heap, message box,
// strings, its token and the restart request.
#include "internal.h"

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Sim {

static HANDLE const PROCESS_HEAP = (HANDLE)(ULONG_PTR)0x00140000;
static HANDLE const CURRENT_PROCESS = (HANDLE)(ULONG_PTR)-1;
static const DWORD SHUTDOWN_PRIVILEGE = 19;

static std::u32string Wide32(const char16_t* text) {
    std::u32string out;
    for (; *text != 0; ++text)
        out += (char32_t)*text;
    return out;
}

} // namespace Sim

using namespace Sim;

namespace Win {

DWORD WINAPI GetLastError() {
    return Current().lastError;
}

void WINAPI SetLastError(DWORD error) {
    Current().lastError = error;
}

DWORD WINAPI GetVersion() {
    DWORD version = Current().version;
    return Log("GetVersion()", version, X(version));
}

BOOL WINAPI AllocConsole() {
    Machine& m = Current();
    if (Injected() || m.consoleFails || m.hasConsole)
        return LogBool("AllocConsole()", Fail(ERROR_ACCESS_DENIED));
    m.hasConsole = true;
    return LogBool("AllocConsole()", TRUE);
}

HANDLE WINAPI GetStdHandle(DWORD which) {
    std::string call = Current().journalOn ? "GetStdHandle(" + D((int)which) + ")" : std::string();
    if (Injected()) {
        Fail(ERROR_INVALID_HANDLE);
        return Log(call, INVALID_HANDLE_VALUE, std::string("INVALID_HANDLE_VALUE"));
    }
    if (which != STD_OUTPUT_HANDLE)
        Unmodelled(call);
    Machine& m = Current();
    if (!m.hasConsole)
        return Log(call, (HANDLE) nullptr, std::string("NULL"));
    for (auto& entry : m.handles) {
        if (entry.second.kind == HandleKind::Console)
            return Log(call, (HANDLE)entry.first, H((HANDLE)entry.first));
    }
    HANDLE console = NewHandle(HandleKind::Console, Handle{});
    return Log(call, console, H(console));
}

BOOL WINAPI WriteConsoleA(HANDLE console, const void* buffer, DWORD count, LPDWORD written,
                          LPVOID reserved) {
    std::string text((const char*)buffer, count);
    std::string call = Current().journalOn ? "WriteConsoleA(" + H(console) + ", " +
                                                 Q(text.c_str()) + ", " + D(count) + ")"
                                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    if (reserved != nullptr)
        Unmodelled(call);
    if (FindHandle(console, HandleKind::Console) == nullptr || !Current().hasConsole)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    Current().consoleText += text;
    if (written != nullptr)
        *written = count;
    return LogBool(call, TRUE);
}

HANDLE WINAPI GetProcessHeap() {
    return PROCESS_HEAP;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    std::string call = Current().journalOn
                           ? "HeapAlloc(heap, " + X(flags) + ", " + D((long long)bytes) + ")"
                           : std::string();
    if (Injected())
        return Log(call, (LPVOID) nullptr, std::string("NULL"));
    if (heap != PROCESS_HEAP || (flags & ~HEAP_ZERO_MEMORY) != 0)
        Unmodelled(call);
    Machine& m = Current();
    if (m.heapFailsAfter >= 0 && m.allocations >= m.heapFailsAfter)
        return Log(call, (LPVOID) nullptr, std::string("NULL"));
    ++m.allocations;
    ++m.liveAllocations;
    // Memory from the heap holds whatever it held: here a recognisable byte.
    void* memory = std::malloc(bytes ? bytes : 1);
    m.heapBlocks[memory] = bytes;
    std::memset(memory, (flags & HEAP_ZERO_MEMORY) ? 0 : 0xBA, bytes);
    return Log(call, memory, std::string("block"));
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID memory) {
    std::string call = Current().journalOn ? "HeapFree(heap, " + X(flags) + ")" : std::string();
    if (heap != PROCESS_HEAP || flags != 0)
        Unmodelled(call);
    if (memory != nullptr) {
        Machine& m = Current();
        auto block = m.heapBlocks.find(memory);
        if (block == m.heapBlocks.end())
            Unmodelled("HeapFree of memory that is no live block of the heap");
        Poison(block->first, block->second);
        m.freedBlocks.push_back(*block);
        m.heapBlocks.erase(block);
        --m.liveAllocations;
    }
    return LogBool(call, TRUE);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    const std::string& folder = Current().systemDirectory;
    std::string call = Current().journalOn ? "GetSystemDirectoryA(" + D(size) + ")" : std::string();
    if (Injected())
        return Log(call, (UINT)0, std::string("0"));
    if (size < folder.size() + 1)
        return Log(call, (UINT)folder.size() + 1, D((long long)folder.size() + 1));
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return Log(call, (UINT)folder.size(), D((long long)folder.size()) + " " + Q(buffer));
}

// The computer's name and its length; with too small a buffer, the size it
// needs, its NUL counted.
BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size) {
    const std::string& name = Current().computerName;
    std::string call = Current().journalOn
                           ? "GetComputerNameA(" + D(size != nullptr ? *size : 0) + ")"
                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_NOT_ENOUGH_MEMORY));
    if (size == nullptr)
        Unmodelled(call + ": no size");
    if (buffer == nullptr || *size < name.size() + 1) {
        *size = (DWORD)name.size() + 1;
        return LogBool(call, Fail(ERROR_BUFFER_OVERFLOW));
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = (DWORD)name.size();
    return Log(call, (BOOL)TRUE, "TRUE " + D(*size) + " " + Q(buffer));
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    std::string call = Current().journalOn ? "CloseHandle(" + H(handle) + ")" : std::string();
    if (FindHandle(handle, HandleKind::Token) == nullptr &&
        FindHandle(handle, HandleKind::File) == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    DropHandle(handle);
    return LogBool(call, TRUE);
}

BOOL WINAPI DuplicateToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL level, HANDLE* duplicate) {
    std::string call =
        Current().journalOn ? "DuplicateToken(" + H(token) + ", " + D(level) + ")" : std::string();
    Handle* handle = FindHandle(token, HandleKind::Token);
    if (handle == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    if (!(handle->access & TOKEN_DUPLICATE))
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Handle made{};
    made.access = TOKEN_QUERY | TOKEN_DUPLICATE;
    *duplicate = NewHandle(HandleKind::Token, made);
    return Log(call, (BOOL)TRUE, "TRUE " + H(*duplicate));
}

BOOL WINAPI AccessCheck(PSECURITY_DESCRIPTOR descriptor, HANDLE token, DWORD desired,
                        PGENERIC_MAPPING mapping, PPRIVILEGE_SET privileges, LPDWORD privilegesSize,
                        LPDWORD granted, LPBOOL status) {
    std::string call =
        Current().journalOn ? "AccessCheck(" + H(token) + ", " + X(desired) + ")" : std::string();
    const BYTE* bytes = (const BYTE*)descriptor;
    if (FindHandle(token, HandleKind::Token) == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    if (bytes == nullptr || std::memcmp(bytes + 20, SECURITY_MARK, 4) != 0 || mapping == nullptr ||
        privileges == nullptr || privilegesSize == nullptr ||
        *privilegesSize < sizeof(PRIVILEGE_SET))
        Unmodelled(call + ": a descriptor or buffers the simulator did not make");
    DWORD rights;
    std::memcpy(&rights, bytes + 24, 4);
    if (!Current().administrator)
        rights &= KEY_READ;
    *granted = desired & rights;
    *status = *granted == desired;
    privileges->PrivilegeCount = 0;
    return Log(call, (BOOL)TRUE, std::string(*status ? "TRUE granted" : "TRUE denied"));
}

HANDLE WINAPI GetCurrentProcess() {
    return CURRENT_PROCESS;
}

// ASCII alone weighs its upper-cased code, so a comparison of ASCII names is
// made in place; -2 when a character beyond ASCII leaves it to the full rules.
template <typename Char> static int CompareAscii(const Char* a, const Char* b) {
    for (; *a != 0 && *a < 0x80 && *b < 0x80; ++a, ++b) {
        Char x = *a >= 'a' && *a <= 'z' ? (Char)(*a - 0x20) : *a;
        Char y = *b >= 'a' && *b <= 'z' ? (Char)(*b - 0x20) : *b;
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (*a == 0 && *b < 0x80)
        return *b == 0 ? 0 : -1;
    return -2;
}

// Windows compares linguistically; see CompareLinguistic for how far that is modelled.
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
    int order = CompareAscii((const unsigned char*)a, (const unsigned char*)b);
    if (order != -2)
        return order;
    std::u32string x, y;
    for (; *a != 0; ++a)
        x += AnsiToWide((unsigned char)*a);
    for (; *b != 0; ++b)
        y += AnsiToWide((unsigned char)*b);
    return CompareLinguistic(x, y);
}

int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    int order = CompareAscii((const char16_t*)a, (const char16_t*)b);
    if (order != -2)
        return order;
    return CompareLinguistic(Wide32((const char16_t*)a), Wide32((const char16_t*)b));
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide,
                               int units) {
    if (codePage != CP_ACP || flags != 0 || bytes != -1)
        Unmodelled("MultiByteToWideChar other than CP_ACP, 0, -1");
    int needed = (int)std::strlen(text) + 1;
    if (units == 0)
        return needed;
    if (units < needed) {
        Fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < needed; ++i)
        wide[i] = AnsiToWide((unsigned char)text[i]);
    return needed;
}

void WINAPI RtlMoveMemory(void* destination, const void* source, SIZE_T bytes) {
    std::memmove(destination, source, bytes);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    std::string call = Current().journalOn ? "MessageBoxA(" + H(owner) + ", " + Q(text) + ", " +
                                                 Q(caption) + ", " + D(type) + ")"
                                           : std::string();
    if (Injected())
        return Log(call, 0, std::string("0"));
    if (owner != nullptr || type != MB_OK)
        Unmodelled(call);
    Machine& m = Current();
    m.messageBoxes.push_back({caption ? caption : "", text ? text : ""});
    return Log(call, m.messageBoxAnswer, D(m.messageBoxAnswer));
}

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    // Windows writes at most 1024 characters and the NUL.
    std::string out;
    va_list args;
    va_start(args, format);
    for (const char* p = format; *p != 0; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == 's') {
            const char* text = va_arg(args, const char*);
            out += text ? text : "(null)";
        } else if (*p == '%') {
            out += '%';
        } else {
            Unmodelled(std::string("wsprintfA format %") + *p);
        }
    }
    va_end(args);
    if (out.size() > 1024)
        out.resize(1024);
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return (int)out.size();
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    std::string call =
        Current().journalOn
            ? "OpenProcessToken(" +
                  std::string(process == CURRENT_PROCESS ? "current process" : H(process)) + ", " +
                  X(access) + ")"
            : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    if (process != CURRENT_PROCESS)
        Unmodelled(call);
    Handle handle{};
    handle.access = access;
    *token = NewHandle(HandleKind::Token, handle);
    return Log(call, (BOOL)TRUE, "TRUE " + H(*token));
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
    std::string call = Current().journalOn
                           ? "LookupPrivilegeValueA(" + Q(system) + ", " + Q(name) + ")"
                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_NO_SUCH_PRIVILEGE));
    if (system != nullptr)
        Unmodelled(call);
    if (name == nullptr || std::strcmp(name, "SeShutdownPrivilege") != 0)
        return LogBool(call, Fail(ERROR_NO_SUCH_PRIVILEGE));
    luid->LowPart = SHUTDOWN_PRIVILEGE;
    luid->HighPart = 0;
    return LogBool(call, TRUE);
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state,
                                  DWORD size, PTOKEN_PRIVILEGES previous, LPDWORD returned) {
    std::string call = Current().journalOn
                           ? "AdjustTokenPrivileges(" + H(token) + ", " + D(disableAll) + ", " +
                                 (state ? D(state->PrivilegeCount) + " privilege" : "NULL") + ")"
                           : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    if (disableAll || size != 0 || previous != nullptr || returned != nullptr || state == nullptr)
        Unmodelled(call);
    Handle* handle = FindHandle(token, HandleKind::Token);
    if (handle == nullptr)
        return LogBool(call, Fail(ERROR_INVALID_HANDLE));
    if (!(handle->access & TOKEN_ADJUST_PRIVILEGES))
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    Machine& m = Current();
    bool allAssigned = true;
    for (DWORD i = 0; i < state->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& p = state->Privileges[i];
        bool shutdown = p.Luid.LowPart == SHUTDOWN_PRIVILEGE && p.Luid.HighPart == 0;
        if (!shutdown || !m.shutdownRight) {
            allAssigned = false;
            continue;
        }
        m.privilegeEnabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    // It succeeds even when a privilege is not held, and says so only here.
    m.lastError = allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED;
    return Log(call, (BOOL)TRUE, "TRUE (" + D(m.lastError) + ")");
}

static BOOL ExitWindowsAt(UINT flags, DWORD reason) {
    std::string call =
        Current().journalOn ? "ExitWindowsEx(" + D(flags) + ", " + D(reason) + ")" : std::string();
    if (Injected())
        return LogBool(call, Fail(ERROR_ACCESS_DENIED));
    if ((flags & ~EWX_FORCE) != EWX_REBOOT)
        Unmodelled(call);
    Machine& m = Current();
    if (!m.privilegeEnabled)
        return LogBool(call, Fail(ERROR_PRIVILEGE_NOT_HELD));
    m.restartRequests.push_back(call);
    return LogBool(call, TRUE);
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
    return KeepOutcome(OutcomeCall::ExitWindows, std::string(), flags,
                       ExitWindowsAt(flags, reason));
}

} // namespace Win

namespace Sim {

// The heap's freed blocks stay unreadable under AddressSanitizer until the
// machine goes (Machine::freedBlocks).
#if defined(__SANITIZE_ADDRESS__)
#define VK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VK_ASAN 1
#endif
#endif

#ifdef VK_ASAN
void Poison(void* memory, size_t bytes) {
    __asan_poison_memory_region(memory, bytes);
}
void ReleasePoison(void* memory, size_t bytes) {
    __asan_unpoison_memory_region(memory, bytes);
}
#else
void Poison(void*, size_t) {}
void ReleasePoison(void*, size_t) {}
#endif

} // namespace Sim
