#include "contract.h"

#include <string>

namespace {

const char NAME[] = "VkContractService";

class ServicesContract : public ContractTest {
protected:
    void SetUp() override
    {
        ContractTest::SetUp();
        scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, scm);
    }
    void TearDown() override
    {
        SC_HANDLE service = Win::OpenServiceA(scm, NAME, SERVICE_ALL_ACCESS);
        if (service != nullptr) {
            Win::DeleteService(service);
            Win::CloseServiceHandle(service);
        }
        Win::CloseServiceHandle(scm);
        ContractTest::TearDown();
    }
    SC_HANDLE Create(const char* group = nullptr)
    {
        return Win::CreateServiceA(scm, NAME, NAME, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                   "C:\\VkContract\\service.exe", group, nullptr, nullptr, nullptr,
                                   nullptr);
    }
    SC_HANDLE scm = nullptr;
};

std::string Value(const std::string& name)
{
    HKEY key;
    std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + NAME;
    if (Win::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(no key)";
    char data[256];
    DWORD size = sizeof data;
    LONG status = Win::RegQueryValueExA(key, name.c_str(), nullptr, nullptr, (BYTE*)data, &size);
    Win::RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(data, size) : "(none)";
}

} // namespace

TEST_F(ServicesContract, UnknownServicesDoNotOpen)
{
    Win::SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, Win::OpenServiceA(scm, "VkNoSuchService", SERVICE_ALL_ACCESS));
    EXPECT_EQ(ERROR_SERVICE_DOES_NOT_EXIST, Win::GetLastError());
}

TEST_F(ServicesContract, AStoppedServiceIsNotActiveAndDeletionIsMarkedOnce)
{
    SC_HANDLE service = Create();
    ASSERT_NE(nullptr, service);
    SERVICE_STATUS status;
    EXPECT_FALSE(Win::ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(ERROR_SERVICE_NOT_ACTIVE, Win::GetLastError());
    EXPECT_TRUE(Win::DeleteService(service));
    EXPECT_FALSE(Win::DeleteService(service));
    EXPECT_EQ(ERROR_SERVICE_MARKED_FOR_DELETE, Win::GetLastError());
    EXPECT_TRUE(Win::CloseServiceHandle(service));
    // Stopped and its last handle closed: it is gone.
    EXPECT_EQ(nullptr, Win::OpenServiceA(scm, NAME, SERVICE_ALL_ACCESS));
    EXPECT_EQ("(no key)", Value("Type"));
}

TEST_F(ServicesContract, ChangeServiceConfigWritesTheServicesKey)
{
    SC_HANDLE service = Create("VkContractGroup");
    ASSERT_NE(nullptr, service);
    EXPECT_TRUE(Win::ChangeServiceConfigA(service, SERVICE_WIN32_SHARE_PROCESS, SERVICE_DEMAND_START,
                                          SERVICE_ERROR_NORMAL, "C:\\VkContract\\other.exe",
                                          "VkContractGroup", nullptr, "RPCSS\0", "LocalSystem",
                                          nullptr, "Contract Service"));
    EXPECT_EQ(std::string("\x20\0\0\0", 4), Value("Type"));
    EXPECT_EQ(std::string("\x03\0\0\0", 4), Value("Start"));
    EXPECT_EQ(std::string("C:\\VkContract\\other.exe\0", 24), Value("ImagePath"));
    EXPECT_EQ(std::string("RPCSS\0\0", 7), Value("DependOnService"));
    EXPECT_EQ(std::string("Contract Service\0", 17), Value("DisplayName"));
    EXPECT_EQ(std::string("VkContractGroup\0", 16), Value("Group"));
    Win::CloseServiceHandle(service);
}
