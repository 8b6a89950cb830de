// The parts of the seam that Windows calls alone do on both sides.
#include "contract.h"

namespace Contract {

extern const char IMPORTED_LIBRARY[] = "contract_import.dll";

void SetValue(const std::string& path, const char* name, DWORD type, const std::string& data) {
    std::string full = std::string(SCRATCH_KEY) + (path.empty() ? "" : "\\" + path);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, Win::RegCreateKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
    if (name != nullptr) {
        EXPECT_EQ(ERROR_SUCCESS, Win::RegSetValueExA(key, name, 0, type, (const BYTE*)data.data(),
                                                     (DWORD)data.size()));
    }
    Win::RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key;
    if (Win::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    Win::RegCloseKey(key);
    return true;
}

} // namespace Contract
