// The handle table: every handle the simulated Windows gives out, by kind,
// numbered for the journal, and counted.
#include "internal.h"

namespace Sim {

void* NewHandle(HandleKind kind, Handle handle) {
    Machine& m = Current();
    handle.kind = kind;
    handle.number = ++m.handleNumbers[kind];
    ULONG_PTR value = m.nextHandle;
    m.nextHandle += 4;
    m.handles[value] = std::move(handle);
    return (void*)value;
}

std::string HandleName(const void* value, HandleKind kind) {
    Handle* handle = FindHandle(value, kind);
    return handle == nullptr ? std::string() : handle->name;
}

Handle* FindHandle(const void* value, HandleKind kind) {
    auto found = Current().handles.find((ULONG_PTR)value);
    if (found == Current().handles.end() || found->second.kind != kind)
        return nullptr;
    return &found->second;
}

void DropHandle(const void* value) {
    Current().handles.erase((ULONG_PTR)value);
}

int OpenHandles(HandleKind kind) {
    int count = 0;
    for (auto& entry : Current().handles)
        count += entry.second.kind == kind;
    return count;
}

int OpenHandles() {
    return (int)Current().handles.size();
}

} // namespace Sim
