// The service manager facility on Windows against the real control manager:
// the entry's life and the codes the program's messages carry.
#include <gtest/gtest.h>

#include <string>

#include "machine_registry.h"
#include "platform/last_error.h"
#include "platform/service_manager.h"

namespace kairovel::platform {
namespace {

constexpr wchar_t kName[] = L"KairovelFacilityTest";

TEST(ServiceManagerOnWindows, AnEntryIsCreatedQueriedRefusedTwiceAndDeleted) {
    ServiceManagerFacility& scm = ServiceManager();
    const ScopedServiceHandle manager(scm.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager) << GetLastError();

    // Never started. A path with blanks is stored quoted, as Windows reads a
    // command line, and comes back as the path.
    const std::wstring binary = L"C:\\Program Files\\Kairovel\\kairovel.exe";
    ScopedServiceHandle service(scm.CreateServiceW(manager.get(), kName, L"Kairovel facility test", SERVICE_ALL_ACCESS,
                                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr,
                                                   nullptr, nullptr));
    ASSERT_TRUE(service) << GetLastError();
    EXPECT_FALSE(scm.CreateServiceW(manager.get(), kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr,
                                    nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);

    const ScopedServiceHandle reopened(scm.OpenServiceW(manager.get(), L"KAIROVELFACILITYTEST", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(reopened);
    QUERY_SERVICE_CONFIGW config;
    ASSERT_TRUE(scm.QueryServiceConfigW(reopened.get(), config)) << GetLastError();
    EXPECT_EQ(config.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(config.dwStartType, SERVICE_DEMAND_START);
    EXPECT_EQ(config.lpBinaryPathName, binary);
    EXPECT_EQ(config.lpDisplayName, L"Kairovel facility test");
    EXPECT_EQ(kairovel::testing::ReadMachineString(L"SYSTEM\\CurrentControlSet\\Services\\KairovelFacilityTest", L"ImagePath"),
              L"\"" + binary + L"\"");

    SERVICE_STATUS status;
    ASSERT_TRUE(scm.QueryServiceStatus(reopened.get(), status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_FALSE(scm.ControlService(reopened.get(), SERVICE_CONTROL_STOP, status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    EXPECT_TRUE(scm.DeleteService(reopened.get()));
    service.Close();
}

TEST(ServiceManagerOnWindows, AServiceThatIsNotThereIsNamedSo) {
    ServiceManagerFacility& scm = ServiceManager();
    const ScopedServiceHandle manager(scm.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager);
    EXPECT_FALSE(scm.OpenServiceW(manager.get(), L"KairovelNoSuchService", SERVICE_QUERY_STATUS));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

}  // namespace
}  // namespace kairovel::platform
