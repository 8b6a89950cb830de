#include "contract.h"

#include <chrono>
#include <string>
#include <thread>

namespace {

const char NAME[] = "VkContractService";
const char DEPENDENT[] = "VkContractDependent";

class ServicesContract : public ContractTest {
  protected:
    void SetUp() override {
        ContractTest::SetUp();
        scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, scm);
    }
    void TearDown() override {
        for (const char* name : {DEPENDENT, NAME}) {
            SC_HANDLE service = Win::OpenServiceA(scm, name, SERVICE_ALL_ACCESS);
            if (service == nullptr)
                continue;
            SERVICE_STATUS status;
            if (Win::ControlService(service, SERVICE_CONTROL_STOP, &status))
                Stopped(service);
            Win::DeleteService(service);
            Win::CloseServiceHandle(service);
        }
        Win::CloseServiceHandle(scm);
        ContractTest::TearDown();
    }
    SC_HANDLE Create(const char* group = nullptr, const char* name = NAME,
                     const char* dependencies = nullptr) {
        return Win::CreateServiceA(scm, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                   Contract::ServiceProgram(), group, nullptr, dependencies,
                                   nullptr, nullptr);
    }
    // Asks a stopping service for its state until it has stopped; true once it has.
    static bool Stopped(SC_HANDLE service) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            SERVICE_STATUS status;
            if (!Win::ControlService(service, SERVICE_CONTROL_INTERROGATE, &status) &&
                Win::GetLastError() == ERROR_SERVICE_NOT_ACTIVE)
                return status.dwCurrentState == SERVICE_STOPPED;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    SC_HANDLE scm = nullptr;
};

std::string Value(const std::string& name) {
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

TEST_F(ServicesContract, UnknownServicesDoNotOpen) {
    Win::SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, Win::OpenServiceA(scm, "VkNoSuchService", SERVICE_ALL_ACCESS));
    EXPECT_EQ(ERROR_SERVICE_DOES_NOT_EXIST, Win::GetLastError());
}

TEST_F(ServicesContract, AStoppedServiceIsNotActiveAndDeletionIsMarkedOnce) {
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

TEST_F(ServicesContract, ChangeServiceConfigWritesTheServicesKey) {
    SC_HANDLE service = Create("VkContractGroup");
    ASSERT_NE(nullptr, service);
    EXPECT_TRUE(Win::ChangeServiceConfigA(service, SERVICE_WIN32_SHARE_PROCESS,
                                          SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                          "C:\\VkContract\\other.exe", "VkContractGroup", nullptr,
                                          "RPCSS\0", "LocalSystem", nullptr, "Contract Service"));
    EXPECT_EQ(std::string("\x20\0\0\0", 4), Value("Type"));
    EXPECT_EQ(std::string("\x03\0\0\0", 4), Value("Start"));
    EXPECT_EQ(std::string("C:\\VkContract\\other.exe\0", 24), Value("ImagePath"));
    EXPECT_EQ(std::string("RPCSS\0\0", 7), Value("DependOnService"));
    EXPECT_EQ(std::string("Contract Service\0", 17), Value("DisplayName"));
    EXPECT_EQ(std::string("VkContractGroup\0", 16), Value("Group"));
    Win::CloseServiceHandle(service);
}

TEST_F(ServicesContract, AStopIsPendingUntilTheServiceHasStopped) {
    SC_HANDLE service = Create();
    ASSERT_NE(nullptr, service);
    ASSERT_TRUE(Win::StartServiceA(service, 0, nullptr));
    SERVICE_STATUS status;
    ASSERT_TRUE(Win::ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(SERVICE_STOP_PENDING, status.dwCurrentState);
    EXPECT_NE(0u, status.dwWaitHint);
    EXPECT_TRUE(Stopped(service));
    Win::CloseServiceHandle(service);
}

TEST_F(ServicesContract, AServiceWithRunningDependentsDoesNotStop) {
    KNOWN_WINE_DIFFERENCE("ControlService fails with ERROR_DEPENDENT_SERVICES_RUNNING when other "
                          "running services depend on the service told to stop");
    SC_HANDLE service = Create();
    SC_HANDLE dependent = Create(nullptr, DEPENDENT, "VkContractService\0");
    ASSERT_NE(nullptr, service);
    ASSERT_NE(nullptr, dependent);
    ASSERT_TRUE(Win::StartServiceA(service, 0, nullptr));
    ASSERT_TRUE(Win::StartServiceA(dependent, 0, nullptr));
    SERVICE_STATUS status;
    EXPECT_FALSE(Win::ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(ERROR_DEPENDENT_SERVICES_RUNNING, Win::GetLastError());
    // Once the dependent has stopped, so can the service.
    EXPECT_TRUE(Win::ControlService(dependent, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(Stopped(dependent));
    EXPECT_TRUE(Win::ControlService(service, SERVICE_CONTROL_STOP, &status));
    Win::CloseServiceHandle(dependent);
    Win::CloseServiceHandle(service);
}
