// The seam through which the machine reader reaches Windows: a table with
// one function of the boundary's signature (Win32's own) for each call the
// reader makes. The reader is compiled once and reads whichever machine the
// table it is given reaches: Windows itself, or the simulated Windows.
#pragma once

#include "../platform/platform.h"
#include "call_list.h"

namespace Description {

// One member for each name of VK_READER_CALLS, of the type of the
// boundary's function of that name: `win.RegOpenKeyExA(...)` is a call of
// Win::RegOpenKeyExA through the table.
struct Calls {
#define VK_CALL_MEMBER(name) decltype(&Win::name) name;
    VK_READER_CALLS(VK_CALL_MEMBER)
#undef VK_CALL_MEMBER
};

// The table of the realization this source is built against.
inline const Calls& PlatformCalls() {
    static const Calls calls = [] {
        Calls made;
#define VK_PLATFORM_CALL(name) made.name = &Win::name;
        VK_READER_CALLS(VK_PLATFORM_CALL)
#undef VK_PLATFORM_CALL
        return made;
    }();
    return calls;
}

// The table of functions handed across in the list's order, each given back
// its type. The boundary's signatures are Win32's (calling convention and
// sizes alike), so the functions of Windows itself fit them.
inline Calls CallsFrom(const AnyCall* list) {
    Calls calls;
    int at = 0;
#define VK_CALL_FROM(name) calls.name = reinterpret_cast<decltype(calls.name)>(list[at++]);
    VK_READER_CALLS(VK_CALL_FROM)
#undef VK_CALL_FROM
    return calls;
}

} // namespace Description
