#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/last_error.h"
#include "platform/posix/system_clock.h"
#include "platform/privilege.h"
#include "platform/threads.h"
#include "support/process.h"

namespace kairovel::platform {
namespace {

constexpr int kCapSysTime = 25;

// Whether CAP_SYS_TIME is in the named capability set ("CapPrm", "CapEff") of the calling thread.
bool HasCapSysTime(const std::string& set) {
    std::ifstream status("/proc/thread-self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(set + ":", 0) == 0) {
            return (std::strtoull(line.c_str() + set.size() + 1, nullptr, 16) >> kCapSysTime & 1) != 0;
        }
    }
    return false;
}

bool HoldsCapSysTime() { return HasCapSysTime("CapPrm"); }

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

bool EnableTheSystemTimePrivilege() {
    PrivilegeFacility& privileges = Privileges();
    HANDLE token = nullptr;
    if (!privileges.OpenProcessToken(TOKEN_ADJUST_PRIVILEGES, token)) return false;
    const ScopedHandle closer(token);
    LUID privilege;
    return privileges.LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, privilege) &&
           privileges.AdjustTokenPrivileges(token, privilege, SE_PRIVILEGE_ENABLED) &&
           GetLastError() == ERROR_SUCCESS;
}

constexpr int kNoUserNamespace = 100;

// The child's part of the test below: 0 when the clock calls follow the
// privilege, else the number of the check that failed.
int ClockCallsFollowThePrivilege() {
    if (::unshare(CLONE_NEWUSER) != 0) return kNoUserNamespace;
    if (!HasCapSysTime("CapEff")) return 10;
    ClockFacility& clock = MachineClock();
    std::uint32_t adjustment = 0;
    std::uint32_t increment = 0;
    bool disabled = false;
    if (!clock.GetSystemTimeAdjustment(adjustment, increment, disabled)) return 11;
    // The values in force, so that nothing would change even if the kernel took them.
    if (clock.SetSystemTimeAdjustment(adjustment, disabled) || GetLastError() != ERROR_PRIVILEGE_NOT_HELD) return 12;
    if (HasCapSysTime("CapEff")) return 1;  // the kernel was asked with a right the program never enabled
    if (!EnableTheSystemTimePrivilege()) return 13;
    if (clock.SetSystemTimeAdjustment(adjustment, disabled) || GetLastError() != ERROR_PRIVILEGE_NOT_HELD) return 14;
    if (!HasCapSysTime("CapEff")) return 2;  // enabled, the right goes with the call
    return 0;
}

// As on Windows, where holding the right to set the clock is not enough: it
// must be enabled first. A process in a user namespace of its own has every
// capability there, CAP_SYS_TIME in its effective set among them, as root has
// it on the machine, while the kernel still refuses it the machine's clock
// (that needs the capability in the first namespace). So the test can see
// with which capabilities the clock facility asks the kernel, at no risk to
// the clock.
TEST(Privileges, TheClockIsSetOnlyWithThePrivilegeEnabled) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(ClockCallsFollowThePrivilege());
    const int failedCheck = testing::WaitForChild(child);
    if (failedCheck == kNoUserNamespace) GTEST_SKIP() << "no user namespace can be made here";
    EXPECT_EQ(failedCheck, 0) << "the number of the check that failed (128 and more: a signal ended the child)";
}

}  // namespace
}  // namespace kairovel::platform
