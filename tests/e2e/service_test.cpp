// The install, status, control and remove switches run whole, against the
// service manager stand-in under a private KAIROVEL_ROOT, with the installed
// program itself as the service and chronyd as its NTP peer.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/service_manager/service_files.h"
#include "platform/posix/service_manager/service_process.h"
#include "support/peers.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {
namespace {

class ServiceModes : public ::testing::Test {
protected:
    ~ServiceModes() override {
        // No service outlives its test.
        const ScopedEnvironment inRoot("KAIROVEL_ROOT", root_.path().string());
        std::optional<platform::scm::RunRecord> record;
        if (platform::scm::ReadRunRecord(platform::scm::ServiceFolder(L"Kairovel"), record) && record &&
            platform::scm::IsRunning(record->process)) {
            ADD_FAILURE() << "the service still runs";
            platform::scm::ProcessWatch(record->process.pid).Kill();
        }
    }

    ProcessResult Run(const std::string& program, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), program);
        ProcessOptions options;
        options.environment["KAIROVEL_ROOT"] = root_.path().string();
        options.environment["KAIROVEL_CLOCK"] = "simulated";
        options.timeout = std::chrono::seconds(60);
        return RunProcess(arguments, options);
    }
    ProcessResult Kairovel(std::vector<std::string> arguments) { return Run(KAIROVEL_BINARY, std::move(arguments)); }
    ProcessResult Sc(std::vector<std::string> arguments) { return Run(KAIROVEL_SC, std::move(arguments)); }

    // The manager's start returns once the service's dispatcher has connected;
    // the service reports running a moment later.
    bool WaitUntilRunning() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Sc({"query", "Kairovel"}).standardOutput.find("STATE              : 4  RUNNING") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    TemporaryDirectory root_;
};

#define EXPECT_RUN(result, output, code)   \
    do {                                     \
        const ProcessResult r = (result);    \
        EXPECT_EQ(r.standardOutput, output); \
        EXPECT_EQ(r.standardError, "");      \
        EXPECT_EQ(r.exitCode, code);         \
    } while (false)

std::string StateLine(const ProcessResult& query) {
    const std::size_t at = query.standardOutput.find("STATE");
    return at == std::string::npos ? query.standardOutput
                                   : query.standardOutput.substr(at, query.standardOutput.find('\n', at) - at);
}

TEST_F(ServiceModes, InstallStatusControlReinstallAndRemove) {
    const ChronyServer chrony;
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    EXPECT_RUN(Kairovel({"/status"}), "Kairovel not installed on this machine\nType Kairovel /? for help\n", 0);

    EXPECT_RUN(Kairovel({"/install", "/ntp_machine=127.0.0.1", "/tcp_machine=127.0.0.1", "/period=1:00:00",
                         "/adjust=no", "/log=console", "/file=/dev/null"}),
               "Service installed and running\n", 0);
    ASSERT_TRUE(WaitUntilRunning());
    EXPECT_RUN(Kairovel({"/status"}),
               "Kairovel is installed on this machine\nKairovel is running\n\n"
               "2 configured time source(s):\n   NTP machine 127.0.0.1\n   TCP machine 127.0.0.1\n\n"
               "Update period is 3600 seconds\nAdjustment is not enabled\n"
               "More configuration information in file /dev/null\n",
               0);
    // Logging to the console makes the service interactive.
    EXPECT_NE(Sc({"qc", "Kairovel"}).standardOutput.find("TYPE               : 110  WIN32_OWN_PROCESS (interactive)\n"),
              std::string::npos);

    // chronyd replies, nobody serves TIME over UDP (the service's own TIME
    // server is a TCP one): both lines end in " ok".
    const ProcessResult test = Kairovel({"/control=test", "/ntp_machine=127.0.0.1", "/udp_machine=127.0.0.1"});
    EXPECT_EQ(test.exitCode, 0);
    EXPECT_NE(test.standardOutput.find("NumberOfTimeSources: 2\nsource: N,127.0.0.1 ok\n"), std::string::npos)
        << test.standardOutput;
    EXPECT_NE(test.standardOutput.find("source: U,127.0.0.1"), std::string::npos);
    EXPECT_EQ(test.standardOutput.substr(test.standardOutput.size() - 4), " ok\n") << test.standardOutput;
    EXPECT_NE(test.standardOutput.find("Could not get time after"), std::string::npos) << test.standardOutput;

    const ProcessResult parameters = Kairovel({"/control=parameters"});
    EXPECT_EQ(parameters.standardOutput.substr(0, 98),
              "Configured Parameters follow...\nInstalled: yes\nStatus: Kairovel is running\nNumberOfTimeSources: 2\n");

    // Pause and continue are the companion command's.
    EXPECT_EQ(StateLine(Sc({"pause", "Kairovel"})), "STATE              : 7  PAUSED");
    EXPECT_EQ(StateLine(Sc({"query", "kairovel"})), "STATE              : 7  PAUSED");
    EXPECT_EQ(StateLine(Sc({"continue", "Kairovel"})), "STATE              : 4  RUNNING");
    EXPECT_EQ(StateLine(Sc({"interrogate", "Kairovel"})), "STATE              : 4  RUNNING");

    EXPECT_RUN(Kairovel({"/control=stop"}), "Done: stop\n", 0);
    EXPECT_EQ(StateLine(Sc({"query", "Kairovel"})), "STATE              : 1  STOPPED");
    EXPECT_RUN(Kairovel({"/control=START"}), "Done: start\n", 0);
    ASSERT_TRUE(WaitUntilRunning());
    EXPECT_EQ(StateLine(Sc({"query", "Kairovel"})), "STATE              : 4  RUNNING");

    // A reinstallation stores this command line's parameters only, and runs again.
    EXPECT_RUN(Kairovel({"/install", "/domain=corp"}), "Service reinstalled and running\n", 0);
    ASSERT_TRUE(WaitUntilRunning());
    EXPECT_RUN(Kairovel({"/status"}),
               "Kairovel is installed on this machine\nKairovel is running\n\n"
               "1 configured time source(s):\n   Domain corp\n\nUpdate period is 28800 seconds\nAdjustment is enabled\n",
               0);

    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);
    EXPECT_RUN(Kairovel({"/status"}), "Kairovel not installed on this machine\nType Kairovel /? for help\n", 0);
    EXPECT_RUN(Sc({"query", "Kairovel"}),
               "[SC] OpenService FAILED 1060:\n\nThe specified service does not exist as an installed service.\n\n",
               1060 % 256);
    EXPECT_RUN(Kairovel({"/remove"}),
               "OpenService failed (0x424)\n"
               "Registry open error 2 on SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters\n"
               "Registry delete error 2 on SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kairovel\n"
               "Service stopped and removed\n",
               0);
}

TEST_F(ServiceModes, AReinstallationThatCannotStoreItsParametersPutsThePreviousOnesBack) {
    EXPECT_RUN(Kairovel({"/install", "/ntp_machine=127.0.0.1"}), "Service installed and running\n", 0);
    ASSERT_TRUE(WaitUntilRunning());  // a service still starting takes no stop
    const std::string tooLong = "/log=" + std::string(100, 'l');
    EXPECT_RUN(Kairovel({"/install", "/domain=corp", tooLong}),
               "Reinstallation failed: the previous parameters were put back\n"
               "LogDevice too long to store: 100 characters, at most 99 can be read back\n",
               1);
    ASSERT_TRUE(WaitUntilRunning());
    EXPECT_RUN(Kairovel({"/status"}),
               "Kairovel is installed on this machine\nKairovel is running\n\n"
               "1 configured time source(s):\n   NTP machine 127.0.0.1\n\nUpdate period is 28800 seconds\n"
               "Adjustment is enabled\n",
               0);
    // A first installation that fails leaves nothing behind.
    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);
    EXPECT_EQ(Kairovel({"/install", tooLong}).exitCode, 1);
    EXPECT_RUN(Kairovel({"/status"}), "Kairovel not installed on this machine\nType Kairovel /? for help\n", 0);
    EXPECT_EQ(Sc({"query", "Kairovel"}).exitCode, 1060 % 256);
}

TEST_F(ServiceModes, AnEntryDeletedWhileItsServiceRunsGoesWhenTheServiceStops) {
    EXPECT_RUN(Kairovel({"/install"}), "Service installed and running\n", 0);
    ASSERT_TRUE(WaitUntilRunning());
    EXPECT_RUN(Sc({"delete", "Kairovel"}), "[SC] DeleteService SUCCESS\n", 0);
    EXPECT_EQ(Sc({"delete", "Kairovel"}).exitCode, 1072 % 256);
    EXPECT_EQ(StateLine(Sc({"stop", "Kairovel"})), "STATE              : 3  STOP_PENDING");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    ProcessResult query = Sc({"query", "Kairovel"});
    while (query.exitCode == 0 && std::chrono::steady_clock::now() < deadline) query = Sc({"query", "Kairovel"});
    EXPECT_EQ(query.exitCode, 1060 % 256) << query.standardOutput;
    EXPECT_RUN(Kairovel({"/remove"}),
               "OpenService failed (0x424)\nService stopped and removed\n", 0);
}

}  // namespace
}  // namespace kairovel::testing
