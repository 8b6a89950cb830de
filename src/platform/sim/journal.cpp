// The journal: each call and its result as one line, and the counts of calls
// a test may make fail (Machine::failCall) or cut the process short after
// (Machine::killAfterCall).
#include "internal.h"

#include <cstdio>

namespace Sim {

std::string Q(const char* text) {
    if (!Current().journalOn)
        return std::string();
    if (text == nullptr)
        return "NULL";
    std::string out = "\"";
    for (const char* p = text; *p != 0; ++p)
        AppendShown(&out, (unsigned char)*p);
    return out + "\"";
}

void AppendShown(std::string* out, unsigned char c) {
    if (c < 0x20 || c >= 0x7F || c == '"') {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        *out += hex;
    } else {
        *out += (char)c;
    }
}

std::string D(long long value) {
    if (!Current().journalOn)
        return std::string();
    return std::to_string(value);
}

std::string X(DWORD value) {
    if (!Current().journalOn)
        return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

static const char* KindName(HandleKind kind) {
    switch (kind) {
    case HandleKind::Key:
        return "key";
    case HandleKind::Scm:
        return "scm";
    case HandleKind::Service:
        return "svc";
    case HandleKind::Find:
        return "find";
    case HandleKind::Module:
        return "mod";
    case HandleKind::DeviceSet:
        return "devs";
    case HandleKind::Token:
        return "token";
    case HandleKind::Console:
        return "console";
    case HandleKind::File:
        return "file";
    }
    return "?";
}

std::string RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    return H(root);
}

std::string H(const void* handle) {
    if (!Current().journalOn)
        return std::string();
    if (handle == nullptr)
        return "NULL";
    if (handle == INVALID_HANDLE_VALUE)
        return "INVALID_HANDLE_VALUE";
    ULONG_PTR value = (ULONG_PTR)handle;
    if (value >= 0x80000000u && value <= 0x80000002u)
        return RootName((HKEY)handle);
    auto found = Current().handles.find(value);
    if (found == Current().handles.end())
        return "bad#" + X((DWORD)value);
    return std::string(KindName(found->second.kind)) + "#" + D(found->second.number);
}

bool Injected() {
    Machine& m = Current();
    return ++m.failableCalls == m.failCall;
}

} // namespace Sim
