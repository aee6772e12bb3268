// The systemd guest itself (systemd/systemd_guest.h): it boots to a system
// that is running with no failed unit, its D-Bus system bus answers root and
// users who are not, the sandbox analysis of unit files works (and rates a
// file as the unpacked systemd-analyze does on the host), /tmp holds the
// host's files and takes the guest's, the link reaches chronyd on the host,
// and the host reads the guest's clock. The later tests count on each.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>

#include "support/process.h"
#include "systemd/systemd_guest.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::AnyOf;
using ::testing::StartsWith;

// The guest's clock starts from the host's when it boots, and nothing in the
// guest sets it.
constexpr double kClockOffsetLimitMilliseconds = 1000.0;

// The "name=value" lines of the smoke check's output.
std::map<std::string, std::string> Fields(const std::string& output) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return fields;
}

void Report(const std::string& what, double value) {
    std::cout << "[ figure ] " << what << ": " << value << "\n";
    ::testing::Test::RecordProperty(what, std::to_string(value));
}

// The exposure level in systemd-analyze security's last line, or "(none)".
std::string ExposureLevel(const std::string& output) {
    std::smatch match;
    if (!std::regex_search(output, match, std::regex("Overall exposure level for [^:]+: ([0-9.]+)"))) return "(none)";
    return match[1];
}

// A file in the host's /tmp, its name ending in suffix, removed at the end of the test.
class HostTemporaryFile {
public:
    HostTemporaryFile(const std::string& content, const std::string& suffix) {
        std::string name = "/tmp/kairovel-systemd-XXXXXX" + suffix;
        const int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
        path_ = name;
        if (fd >= 0) {
            const ssize_t written = ::write(fd, content.data(), content.size());
            (void)written;
            ::close(fd);
        }
    }
    ~HostTemporaryFile() { ::unlink(path_.c_str()); }
    HostTemporaryFile(const HostTemporaryFile&) = delete;
    HostTemporaryFile& operator=(const HostTemporaryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(SystemdGuest, BootsARunningSystemWithItsBusTmpAndLinkToTheHost) {
    const HostTemporaryFile hostFile("host", "");
    const HostTemporaryFile unitFile("[Service]\nExecStart=/bin/true\nProtectSystem=strict\nPrivateTmp=yes\n",
                                     ".service");
    SystemdGuest guest({{"/bin/sh", KAIROVEL_SOURCE_DIR "/tests/systemd/smoke_check.sh"},
                        {"HOST_FILE=" + hostFile.path(), "UNIT_FILE=" + unitFile.path(),
                         std::string("NTP_SERVER=") + kHostLinkAddress}});
    ASSERT_EQ(guest.Failure(), "");
    Report("boot seconds", guest.BootSeconds());
    const std::optional<GuestClockSample> clock = guest.guest().ReadClock();
    const std::optional<int> exitCode = guest.WaitForCommand(60s);
    const std::string output = guest.CommandOutput();
    ASSERT_EQ(exitCode, 0) << output << guest.Diagnostics();

    const std::map<std::string, std::string> fields = Fields(output);
    const auto field = [&fields](const std::string& name) {
        const auto found = fields.find(name);
        return found == fields.end() ? std::string("(missing)") : found->second;
    };
    EXPECT_THAT(field("state"), AnyOf("running", "degraded")) << output;
    EXPECT_EQ(field("failed"), "") << guest.Journal();
    EXPECT_EQ(guest.BootState(), field("state"));
    EXPECT_THAT(field("bus_id"), StartsWith("s \"")) << output;
    EXPECT_EQ(field("user_query"), "ActiveState=active") << output;
    EXPECT_THAT(field("user_version"), StartsWith("s \"252")) << output;
    std::vector<std::string> analysis = UnpackedSystemdProgram("systemd-analyze");
    analysis.insert(analysis.end(), {"security", "--offline=yes", unitFile.path()});
    const ProcessResult onHost = RunProcess(analysis);
    EXPECT_NE(ExposureLevel(field("security")), "(none)") << output;
    EXPECT_EQ(ExposureLevel(field("security")), ExposureLevel(onHost.standardOutput)) << onHost.standardError;
    EXPECT_EQ(field("host_file"), "host") << output;
    EXPECT_EQ(field("tmp_writable"), "yes") << output;
    EXPECT_EQ(field("ntp"), "answered") << output << guest.Diagnostics();
    Report("guest memory in use (MB)", std::stod("0" + field("memory_used_mb")));
    ASSERT_TRUE(clock.has_value()) << guest.Diagnostics();
    EXPECT_LT(std::fabs(clock->OffsetMilliseconds()), kClockOffsetLimitMilliseconds);
}

}  // namespace
}  // namespace kairovel::testing
