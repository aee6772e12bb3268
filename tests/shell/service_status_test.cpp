#include "shell/service_status.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/last_error.h"
#include "platform/service_manager.h"
#include "support/raised.h"
#include "support/service_manager_double.h"

namespace kairovel {
namespace {

using platform::SC_HANDLE;

// A control manager whose service is in a given state, or whose calls fail
// with a given code; it remembers which handles are still open.
class RecordingManager final : public testing::ServiceManagerDouble {
public:
    SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, std::uint32_t access) override {
        EXPECT_EQ(machine, nullptr);
        EXPECT_EQ(database, nullptr);
        EXPECT_EQ(access, platform::SC_MANAGER_ALL_ACCESS);
        return Issue(1);
    }
    SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* name, std::uint32_t access) override {
        EXPECT_TRUE(open.count(manager.value()));
        EXPECT_STREQ(name, L"Kairovel");
        EXPECT_EQ(access, platform::SERVICE_QUERY_STATUS);  // the right to ask, and no more
        if (openError != 0) {
            platform::SetLastError(openError);
            return SC_HANDLE{};
        }
        return Issue(2);
    }
    bool QueryServiceStatus(SC_HANDLE service, platform::SERVICE_STATUS& status) override {
        EXPECT_TRUE(open.count(service.value()));
        if (queryError != 0) {
            platform::SetLastError(queryError);
            return false;
        }
        status.dwCurrentState = state;
        return true;
    }
    bool CloseServiceHandle(SC_HANDLE handle) override { return open.erase(handle.value()) == 1; }

    std::uint32_t state = platform::SERVICE_RUNNING;
    std::uint32_t openError = 0;
    std::uint32_t queryError = 0;
    std::set<std::uintptr_t> open;

private:
    SC_HANDLE Issue(std::uintptr_t value) {
        open.insert(value);
        return SC_HANDLE{value};
    }
};

TEST(ServiceStatusText, EveryStateHasItsText) {
    RecordingManager manager;
    const platform::ScopedFacility<platform::ServiceManagerFacility> use(manager);
    const std::pair<std::uint32_t, const wchar_t*> states[] = {
        {1, L"Kairovel is not running"},       {2, L"Kairovel is starting"},
        {3, L"Kairovel is stopping"},          {4, L"Kairovel is running"},
        {5, L"Kairovel continue is pending"},  {6, L"Kairovel pause is pending"},
        {7, L"Kairovel is paused"},            {0, L"Unknown status"},
        {8, L"Unknown status"},
    };
    for (const auto& [state, text] : states) {
        manager.state = state;
        EXPECT_EQ(ServiceStatusText(), text);
        EXPECT_TRUE(manager.open.empty());
    }
}

TEST(ServiceStatusText, FailuresCarryTheCodeInHexadecimalAndCloseWhatWasOpened) {
    RecordingManager manager;
    const platform::ScopedFacility<platform::ServiceManagerFacility> use(manager);
    manager.queryError = 6;
    EXPECT_EQ(testing::RaisedText([] { ServiceStatusText(); }), L"QueryServiceStatus failed (0x06)");
    EXPECT_TRUE(manager.open.empty());
    manager.openError = 5;
    EXPECT_EQ(testing::RaisedText([] { ServiceStatusText(); }), L"OpenService failed (0x05)");
    EXPECT_TRUE(manager.open.empty());
}

}  // namespace
}  // namespace kairovel
