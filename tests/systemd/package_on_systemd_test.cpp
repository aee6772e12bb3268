// The Debian package on a real systemd, as a user meets it: installed with
// apt in a systemd guest (systemd_guest.h), its manual pages found by man,
// the service created by `kairovel /install`, a pass against chronyd on the
// host, and a removal and a purge that leave no unit, no process and no state
// behind. tests/systemd/package_check.sh checks each step in the guest.
#include <gtest/gtest.h>

#include <iostream>

#include "systemd/systemd_guest.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;

TEST(PackageOnSystemd, InstallsWorksAndRemovesCleanly) {
    SystemdGuest guest({{"/bin/sh", KAIROVEL_SOURCE_DIR "/tests/systemd/package_check.sh"},
                        {std::string("DEB=") + KAIROVEL_DEB, std::string("NTP_SERVER=") + kHostLinkAddress},
                        220});
    ASSERT_EQ(guest.Failure(), "");
    const std::optional<int> failures = guest.WaitForCommand(210s);
    std::cout << guest.CommandOutput();
    EXPECT_EQ(failures, 0) << guest.Diagnostics() << ReadFileBytes(guest.ResultsFolder() / "remove.log");
}

}  // namespace
}  // namespace kairovel::testing
