// A COM server of the worst kind, for the Windows test builds: its
// DllUnregisterServer reads through a null pointer.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
    volatile int* nothing = nullptr;
    return *nothing;
}
