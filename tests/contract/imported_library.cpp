// The library the contract tests' importing server imports, for the Windows
// test builds. Built in a folder of its own: it must not lie beside the test
// program, where a load by full path alone would find it.
#include <windows.h>

extern "C" __declspec(dllexport) int ContractImportValue() {
    return 7;
}
