#include "shell/parameter_listing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "config/configuration.h"
#include "config/registry_store.h"
#include "platform/console.h"
#include "platform/posix/sqlite_parameter_store.h"
#include "platform/service_manager.h"
#include "support/raised.h"
#include "support/service_manager_double.h"
#include "support/temporary_directory.h"

namespace kairovel {
namespace {

using testing::RaisedText;

class CapturingConsole final : public platform::ConsoleFacility {
public:
    void WriteStandardOutput(std::wstring_view text) override { output += text; }
    void WriteStandardError(std::wstring_view) override {}
    std::wstring output;
};

// A control manager that knows the service in one state.
class ServiceInState final : public testing::ServiceManagerDouble {
public:
    explicit ServiceInState(std::uint32_t state) : state_(state) {}
    platform::SC_HANDLE OpenSCManagerW(const wchar_t*, const wchar_t*, std::uint32_t) override {
        return platform::SC_HANDLE{1};
    }
    platform::SC_HANDLE OpenServiceW(platform::SC_HANDLE, const wchar_t*, std::uint32_t) override {
        return platform::SC_HANDLE{2};
    }
    bool QueryServiceStatus(platform::SC_HANDLE, platform::SERVICE_STATUS& status) override {
        status.dwCurrentState = state_;
        return true;
    }
    bool CloseServiceHandle(platform::SC_HANDLE) override { return true; }

private:
    std::uint32_t state_;
};

class ParameterListingTest : public ::testing::Test {
protected:
    ParameterListingTest() { TheConfiguration() = Configuration{}; }
    ~ParameterListingTest() override { TheConfiguration() = Configuration{}; }

    static void Install() {
        WriteParameters();
        SetInstalled(1);
    }

    testing::TemporaryDirectory root;
    testing::ScopedEnvironment environment{"KAIROVEL_ROOT", root.path().string()};
    platform::SqliteParameterStore store{std::chrono::milliseconds(300)};
    platform::ScopedFacility<platform::ParameterStoreFacility> useStore{store};
    CapturingConsole console;
    platform::ScopedFacility<platform::ConsoleFacility> useConsole{console};
};

Configuration Example() {
    Configuration c;
    c.NumberOfTimeSources = 5;
    c.SourceName[0] = L"D,corp";
    c.SourceName[1] = L"L,\\\\srv";
    c.SourceName[2] = L"T,time.example.org,3";
    c.LogDevice = L"/var/log/kairovel.log,1000";
    c.AtTime = {26, 5, 0};
    c.Trace = 3;
    return c;
}

TEST_F(ParameterListingTest, ListingOfAMachineWithoutTheInstallation) {
    ListConfiguredParameters();
    EXPECT_EQ(console.output, L"Configured Parameters follow...\nInstalled: no\n");
}

TEST_F(ParameterListingTest, ListingAsksTheControlManagerForTheStatus) {
    testing::MemoryServiceManager empty;
    platform::ScopedFacility<platform::ServiceManagerFacility> useManager(empty);
    Install();
    // A manager that knows no service: its error, never a made-up status.
    EXPECT_EQ(RaisedText([] { ListConfiguredParameters(); }), L"OpenService failed (0x424)");
    EXPECT_EQ(console.output, L"Configured Parameters follow...\nInstalled: yes\n");
}

TEST_F(ParameterListingTest, ListingPrintsTheStoredConfiguration) {
    ServiceInState running(platform::SERVICE_RUNNING);
    platform::ScopedFacility<platform::ServiceManagerFacility> useManager(running);
    TheConfiguration() = Example();
    TheConfiguration().SourceName[3] = L"X,odd%s%d";  // an unknown kind, and text that is no format
    TheConfiguration().SourceName[4] = L"N,";
    TheConfiguration().Period = 28800;
    TheConfiguration().TimeAdjust = 1;
    Install();
    TheConfiguration() = Configuration{};

    ListConfiguredParameters();
    EXPECT_EQ(console.output,
              L"Configured Parameters follow...\n"
              L"Installed: yes\n"
              L"Status: Kairovel is running\n"
              L"NumberOfTimeSources: 5\n"
              L"source: domain,corp\n"
              L"source: nt,\\\\srv\n"
              L"source: tcp,time.example.org,3\n"
              L"source: odd%s%d\n"
              L"source: ntp,\n"
              L"LogDevice: /var/log/kairovel.log,1000\n"
              L"Period: 08:00:00\n"
              L"AtTime: +02:05:00\n"
              L"AdjustFlag: yes\n"
              L"TraceLevel: 3\n");

    // The defaults: a delay of nothing from start-up, and no slewing.
    console.output.clear();
    TheConfiguration() = Configuration{};
    TheConfiguration().TimeAdjust = 0;
    WriteParameters();
    ListConfiguredParameters();
    EXPECT_NE(console.output.find(L"\nNumberOfTimeSources: 0\nLogDevice: \nPeriod: 08:00:00\nAtTime: +00:00:00\n"
                                  L"AdjustFlag: no\nTraceLevel: 2\n"),
              std::wstring::npos)
        << console.output;
}

}  // namespace
}  // namespace kairovel
