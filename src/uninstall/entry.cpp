// The process entry of the real program: no C runtime starts it.
#include "uninstall.h"

extern "C" void WINAPI VkEntry() {
    ::ExitProcess((UINT)RunUninstall());
}
