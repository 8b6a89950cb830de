#include "contract.h"

#include <string>

namespace {

typedef HRESULT(WINAPI* UnregisterProc)();

int unregisterReturned;

// What the uninstaller does with a server: load it, let it unregister, free it.
void WINAPI LoadAndUnregister(LPVOID path) {
    HMODULE module = Win::LoadLibraryExA((const char*)path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr)
        return;
    FARPROC proc = Win::GetProcAddress(module, "DllUnregisterServer");
    if (proc != nullptr) {
        reinterpret_cast<UnregisterProc>(proc)();
        ++unregisterReturned;
    }
    Win::FreeLibrary(module);
}

void WINAPI NestedGuard(LPVOID path) {
    EXPECT_EQ(EXCEPTION_ACCESS_VIOLATION, Win::CallGuarded(LoadAndUnregister, path));
}

class GuardContract : public ContractTest {};

} // namespace

// A server whose DllUnregisterServer reads through a null pointer: the fault
// ends the guarded call alone, as often as it happens, and a guard inside a
// guard catches it first.
TEST_F(GuardContract, AFaultInALibraryEndsOnlyTheGuardedCall) {
    std::string path = std::string(Contract::SCRATCH_FOLDER) + "\\faulting.dll";
    Contract::PlaceFaultingLibrary(path);
    unregisterReturned = 0;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(EXCEPTION_ACCESS_VIOLATION,
                  Win::CallGuarded(LoadAndUnregister, (LPVOID)path.c_str()));
    EXPECT_EQ(0u, Win::CallGuarded(NestedGuard, (LPVOID)path.c_str()));
    EXPECT_EQ(0, unregisterReturned);
}
