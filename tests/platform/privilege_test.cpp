#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/last_error.h"
#include "platform/privilege.h"
#include "platform/threads.h"

namespace kairovel::platform {
namespace {

bool HoldsCapSysTime() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapPrm:", 0) == 0) return (std::strtoull(line.c_str() + 7, nullptr, 16) >> 25 & 1) != 0;
    }
    return false;
}

TEST(Privileges, LookUpTheSystemTimePrivilegeOnly) {
    PrivilegeFacility& privileges = Privileges();
    LUID privilege;
    ASSERT_TRUE(privileges.LookupPrivilegeValueW(nullptr, L"SeSystemtimePrivilege", privilege));
    EXPECT_EQ(privilege.LowPart, 12u);
    EXPECT_EQ(privilege.HighPart, 0);
    EXPECT_TRUE(privileges.LookupPrivilegeValueW(L"", L"SESYSTEMTIMEPRIVILEGE", privilege));
    EXPECT_FALSE(privileges.LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", privilege));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);
    EXPECT_FALSE(privileges.LookupPrivilegeValueW(L"\\\\elsewhere", L"SeSystemtimePrivilege", privilege));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST(Privileges, EnablingAPrivilegeNotHeldSucceedsWithNotAllAssigned) {
    PrivilegeFacility& privileges = Privileges();
    HANDLE token = nullptr;
    ASSERT_TRUE(privileges.OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token));
    const ScopedHandle closer(token);
    LUID privilege;
    ASSERT_TRUE(privileges.LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, privilege));
    SetLastError(12345);
    ASSERT_TRUE(privileges.AdjustTokenPrivileges(token, privilege, SE_PRIVILEGE_ENABLED));
    EXPECT_EQ(GetLastError(), HoldsCapSysTime() ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
}

TEST(Privileges, AdjustingNeedsAnAdjustableToken) {
    PrivilegeFacility& privileges = Privileges();
    LUID privilege;
    ASSERT_TRUE(privileges.LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, privilege));
    HANDLE token = nullptr;
    ASSERT_TRUE(privileges.OpenProcessToken(TOKEN_QUERY, token));
    const ScopedHandle closer(token);
    EXPECT_FALSE(privileges.AdjustTokenPrivileges(token, privilege, SE_PRIVILEGE_ENABLED));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const ScopedHandle event(Threads().CreateEventW(true, false, nullptr));
    EXPECT_FALSE(privileges.AdjustTokenPrivileges(event.get(), privilege, SE_PRIVILEGE_ENABLED));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace kairovel::platform
