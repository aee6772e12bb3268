// The Debian package on a real systemd, as a user meets it: installed with
// apt in a systemd guest (systemd_guest.h), its manual pages found by man,
// the service created by `kairovel /install`, a pass against chronyd on the
// host, and a removal and a purge that leave no unit, no process and no state
// behind (tests/systemd/package_check.sh runs in the guest; this judges).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <sstream>

#include "systemd/systemd_guest.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::map<std::string, std::string> Fields(const std::string& output) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return fields;
}

TEST(PackageOnSystemd, InstallsWorksAndRemovesCleanly) {
    SystemdGuest guest({{"/bin/sh", KAIROVEL_SOURCE_DIR "/tests/systemd/package_check.sh"},
                        {std::string("DEB=") + KAIROVEL_DEB, std::string("NTP_SERVER=") + kHostLinkAddress},
                        150});
    ASSERT_EQ(guest.Failure(), "");
    const std::optional<int> exitCode = guest.WaitForCommand(140s);
    const std::string output = guest.CommandOutput();
    std::cout << output;
    ASSERT_EQ(exitCode, 0) << guest.Diagnostics();
    std::map<std::string, std::string> field = Fields(output);
    const auto log = [&guest](const std::string& name) { return name + ":\n" + ReadFileBytes(guest.ResultsFolder() / name); };

    EXPECT_EQ(field["install"], "0") << log("install.log");
    EXPECT_EQ(field["status"], "install ok installed");
    EXPECT_EQ(field["program"], "/usr/sbin/kairovel /usr/sbin/kairovel-sc");
    EXPECT_EQ(field["manual"], "/usr/share/man/man8/kairovel.8.gz /usr/share/man/man8/kairovel-sc.8.gz");
    EXPECT_EQ(field["manual_warnings"], "");
    EXPECT_EQ(field["unit_after_install"], "none");

    EXPECT_EQ(field["service_install"], "Service installed and running");
    EXPECT_EQ(field["exec_start"], "/usr/sbin/kairovel");
    EXPECT_EQ(field["corrected"], "yes") << guest.Journal();
    EXPECT_EQ(field["reinstall"], "0") << log("reinstall.log");
    EXPECT_EQ(field["pid_kept"], "yes");

    EXPECT_EQ(field["remove"], "0") << log("remove.log");
    EXPECT_THAT(field["removed_output"], HasSubstr("Service stopped and removed")) << log("remove.log");
    EXPECT_EQ(field["status_after_remove"], "deinstall ok config-files");
    EXPECT_EQ(field["left_after_remove"], "");
    EXPECT_EQ(field["unit_state"], "not-found inactive ");
    EXPECT_EQ(field["processes"], "");
    EXPECT_EQ(field["state_after_remove"], "kept");
    EXPECT_EQ(field["purge"], "0") << log("purge.log");
    EXPECT_EQ(field["state_after_purge"], "gone");
    EXPECT_THAT(field["status_after_purge"], StartsWith("dpkg-query: no packages found"));
}

}  // namespace
}  // namespace kairovel::testing
