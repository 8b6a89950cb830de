// Windows' own functions of the reader's list, for VkCheck.exe. This source
// alone of the program is built against Windows itself; the rest, the reader
// among it, is built against the simulated Windows and turns what this hands
// across into its table of calls (CallsFrom in calls.h). Nothing else is
// shared: no type, only the list's names and order.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After <windows.h>, which they build on.
#include <setupapi.h>
#include <shlobj.h>

#include "call_list.h"

namespace Description {

const AnyCall* WindowsCalls() {
    static const AnyCall calls[] = {
#define VK_WINDOWS_CALL(name) reinterpret_cast<AnyCall>(&::name),
        VK_READER_CALLS(VK_WINDOWS_CALL)
#undef VK_WINDOWS_CALL
    };
    return calls;
}

} // namespace Description
