#include "contract.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const GUID SYSTEM_CLASS = {
    0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

class DevicesContract : public ContractTest {
  protected:
    // Registers a root device with the given hardware IDs ('|' between them).
    // It is found again by those IDs: the DevInst creation gives is, on some
    // implementations, only an index within the set it was made in.
    void Add(const char* name, const std::string& ids) {
        HDEVINFO set = Win::SetupDiCreateDeviceInfoList(&SYSTEM_CLASS, nullptr);
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        EXPECT_TRUE(Win::SetupDiCreateDeviceInfoA(set, name, &SYSTEM_CLASS, nullptr, nullptr,
                                                  DICD_GENERATE_ID, &data));
        std::string list = ids;
        for (char& c : list)
            c = c == '|' ? '\0' : c;
        list += std::string(2, '\0');
        EXPECT_TRUE(Win::SetupDiSetDeviceRegistryPropertyA(
            set, &data, SPDRP_HARDWAREID, (const BYTE*)list.data(), (DWORD)list.size()));
        EXPECT_TRUE(Win::SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr));
        Win::SetupDiDestroyDeviceInfoList(set);
    }
    // The first hardware ID of every device, in enumeration order.
    std::vector<std::string> FirstIds(HDEVINFO set) {
        std::vector<std::string> ids;
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        for (DWORD i = 0; Win::SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            BYTE buffer[512];
            std::string id;
            if (Win::SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, nullptr,
                                                       buffer, sizeof buffer, nullptr))
                for (int k = 0; buffer[k] != 0 || buffer[k + 1] != 0; k += 2)
                    id += (char)buffer[k];
            ids.push_back(id);
        }
        return ids;
    }
};

} // namespace

TEST_F(DevicesContract, TheRecordSizeIsCheckedAndAShortBufferIsLeftUntouched) {
    Add("VkContractA", "VkContract\\Long|VkContract\\LongerCompatibleId");
    HDEVINFO set =
        Win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data + 4;
    EXPECT_FALSE(Win::SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(ERROR_INVALID_USER_BUFFER, Win::GetLastError());
    // A machine has devices of its own: only the one made here is looked at.
    std::vector<std::string> ids = FirstIds(set);
    ASSERT_EQ(1, std::count(ids.begin(), ids.end(), "VkContract\\Long"));
    DWORD index = (DWORD)(std::find(ids.begin(), ids.end(), "VkContract\\Long") - ids.begin());
    data.cbSize = sizeof data;
    ASSERT_TRUE(Win::SetupDiEnumDeviceInfo(set, index, &data));
    BYTE buffer[64];
    memset(buffer, 0xA5, sizeof buffer);
    DWORD required = 0;
    EXPECT_FALSE(Win::SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, nullptr,
                                                        buffer, sizeof buffer, &required));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, Win::GetLastError());
    EXPECT_EQ(2u * (15 + 1 + 29 + 1 + 1), required);
    for (BYTE b : buffer)
        EXPECT_EQ(0xA5, b);
    Win::SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevicesContract, ARemovedDeviceKeepsItsPlaceInTheSetButLeavesTheSystem) {
    Add("VkContractB", "VkContract\\One");
    Add("VkContractC", "VkContract\\Two");
    HDEVINFO set = Win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    std::vector<std::string> before = FirstIds(set);
    size_t count = before.size();
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    DWORD removed = 0;
    for (DWORD i = 0; Win::SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        if (before[i] == "VkContract\\One") {
            EXPECT_TRUE(Win::SetupDiCallClassInstaller(DIF_REMOVE, set, &data));
            removed = i;
        }
    }
    // The element after the removed one is still at the next index.
    ASSERT_TRUE(Win::SetupDiEnumDeviceInfo(set, removed + 1, &data));
    EXPECT_TRUE(Win::SetupDiEnumDeviceInfo(set, (DWORD)count - 1, &data));
    Win::SetupDiDestroyDeviceInfoList(set);

    set = Win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    std::vector<std::string> after = FirstIds(set);
    EXPECT_EQ(count - 1, after.size());
    EXPECT_EQ(after.end(), std::find(after.begin(), after.end(), "VkContract\\One"));
    EXPECT_NE(after.end(), std::find(after.begin(), after.end(), "VkContract\\Two"));
    Win::SetupDiDestroyDeviceInfoList(set);
}

// Whether a device is disabled is read from its ConfigFlags, a number
// (CONFIGFLAG_DISABLED is 0x1); Wine reports no device's problem code.
TEST_F(DevicesContract, ConfigFlagsAreANumberSetAndReadAsSuch) {
    Add("VkContractFlags", "VkContract\\Flags");
    HDEVINFO set = Win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    std::vector<std::string> ids = FirstIds(set);
    auto at = std::find(ids.begin(), ids.end(), "VkContract\\Flags");
    ASSERT_NE(ids.end(), at);
    ASSERT_TRUE(Win::SetupDiEnumDeviceInfo(set, (DWORD)(at - ids.begin()), &data));
    const DWORD disabled = 0x1;
    EXPECT_TRUE(Win::SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_CONFIGFLAGS,
                                                       (const BYTE*)&disabled, sizeof disabled));
    DWORD type = 0xdeadbeef, flags = 0xdeadbeef, size = 0;
    EXPECT_TRUE(Win::SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_CONFIGFLAGS, &type,
                                                       (BYTE*)&flags, sizeof flags, &size));
    EXPECT_EQ((DWORD)REG_DWORD, type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(disabled, flags);
    Win::SetupDiDestroyDeviceInfoList(set);
}
