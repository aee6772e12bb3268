// The service on a real systemd: boots a systemd guest (systemd_guest.h) and
// runs the service's cases of service_on_systemd.cpp in it, as root, after
// the boot; their output, figures included, is this test's.
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "systemd/systemd_guest.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;

// The cases of the system around the service (timedated, time-sync.target)
// and of faults other actors bring (a second adjuster, a damaged registry, a
// full disk) run in a guest of their own, beside the user's life.
constexpr char kFaultCases[] =
    "*ClockAsKept*:*BesideAnother*:*DamagedOrMissing*:*FullStateFolder*:*NothingTheServicesUser*";

void RunCasesInAGuest(const std::string& filter) {
    SystemdGuest guest({{KAIROVEL_SERVICE_CASES, "--gtest_color=no", "--gtest_filter=" + filter}, {}, 230});
    ASSERT_EQ(guest.Failure(), "");
    EXPECT_EQ(guest.BootState(), "running") << guest.Journal();  // booted, with no unit failed
    const std::optional<int> exitCode = guest.WaitForCommand(220s);
    std::cout << guest.CommandOutput();
    EXPECT_EQ(exitCode, 0) << guest.Journal() << guest.Diagnostics();
}

TEST(ServiceOnSystemd, TheUsersLifeInAGuest) { RunCasesInAGuest(std::string("-") + kFaultCases); }

TEST(ServiceOnSystemd, TheSystemAroundItAndOtherActorsInAGuest) { RunCasesInAGuest(kFaultCases); }

}  // namespace
}  // namespace kairovel::testing
