// A COM server that imports a second library, for the Windows test builds:
// it loads only where the loader finds that library, and its
// DllUnregisterServer reaches the library's code.
#include <windows.h>

extern "C" __declspec(dllimport) int ContractImportValue();

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
    return ContractImportValue() == 7 ? S_OK : E_FAIL;
}
