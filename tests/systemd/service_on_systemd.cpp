// The service on a real systemd, run inside a systemd guest (systemd_guest.h)
// by service_on_systemd_test.cpp: kairovel /install, /status, /control,
// kairovel-sc and /remove as a user meets them, against the guest's systemd,
// on the guest's own kernel clock (KAIROVEL_CLOCK=system: the guest's clock is
// its own), with chronyd on the host (169.254.0.1) as the NTP peer, whose
// clock is independent of the guest's.
//
// It sets the clock it runs on, so it refuses to run anywhere but in a
// user-mode Linux guest; ctest never runs it on the host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/timex.h>
#include <time.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/eventually.h"
#include "support/http_server.h"
#include "support/peers.h"
#include "support/process.h"
#include "support/stall_meter.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

constexpr char kPeer[] = "169.254.0.1";
// The programs where users install them, in the guest's own overlay: the
// unit is the one users get, whatever folder the build is in, and a user who
// is not root can run them even from a checkout only root may enter.
constexpr char kProgram[] = "/usr/local/sbin/kairovel";
constexpr char kScProgram[] = "/usr/local/sbin/kairovel-sc";
constexpr char kUnit[] = "kairovel.service";
constexpr char kUnitFile[] = "/etc/systemd/system/kairovel.service";
// What a pass against chronyd over the guest's link leaves of the clock's
// error, in milliseconds, as the kernel stage holds it.
constexpr double kCorrectionLimitMilliseconds = 2.0;
// Both capabilities the service keeps: CAP_NET_BIND_SERVICE (10) and CAP_SYS_TIME (25).
constexpr char kServiceCapabilities[] = "0000000002000400";
// systemd-analyze security's rating of the unit: a service that sets the
// clock, serves TIME and reaches NT machines, as a user of its own, rates no
// lower; systemd-timesyncd's own unit rates 2.3 on the same systemd.
constexpr double kExposureLimit = 1.9;

ProcessResult Command(std::vector<std::string> argv) {
    ProcessOptions options;
    options.timeout = 60s;
    return RunProcess(argv, options);
}
ProcessResult Kairovel(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kProgram);
    return Command(arguments);
}
ProcessResult Sc(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kScProgram);
    return Command(arguments);
}
ProcessResult AsNobody(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return Command(argv);
}
std::string Shell(const std::string& command) { return Command({"/bin/sh", "-c", command}).standardOutput; }
std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string State() {
    std::smatch match;
    const std::string out = Sc({"query", "Kairovel"}).standardOutput;
    return std::regex_search(out, match, std::regex("STATE +: ([^\n]*)")) ? std::string(match[1]) : out;
}
bool AwaitState(const std::string& state) { return Eventually([&] { return State() == state; }, 30s, 50ms); }
std::string MainPid() { return Trimmed(Shell(std::string("systemctl show -p MainPID --value ") + kUnit)); }
// The unit's journal since the running case began.
std::size_t journalSeen = 0;
std::string Journal() {
    const std::string whole = Shell(std::string("journalctl -o cat --no-pager -u ") + kUnit);
    return whole.substr(std::min(journalSeen, whole.size()));
}
std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}
bool AwaitJournal(const std::string& what, std::size_t times = 1) {
    return Eventually([&] { return Count(Journal(), what) >= times; }, 60s, 100ms);
}
// A field of /proc/<pid>/status ("CapBnd", "NoNewPrivs").
std::string ProcessStatus(const std::string& pid, const std::string& field) {
    return Trimmed(Shell("awk '$1 == \"" + field + ":\" { print $2 }' /proc/" + pid + "/status"));
}
// The kernel's tick and frequency; set and stepped by the kernel stage's clock agent.
using KernelRate = std::pair<long, long>;
KernelRate ReadRate() {
    timex state{};
    ::adjtimex(&state);
    return {state.tick, state.freq};
}
void ClockAgent(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {KAIROVEL_CLOCK_AGENT};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(Command(argv).exitCode, 0);
}
// The guest's clock minus the peer's, as ntpdig measures it, in milliseconds.
// A host that stalls the guest can hold a reply past ntpdig's wait: it asks again.
double OffsetFromPeer() {
    constexpr int kAttempts = 3;
    std::smatch match;
    std::string out;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        out = Command({"ntpdig", "-t", "2", kPeer}).standardOutput;
        if (std::regex_search(out, match, std::regex("\\) ([+-][0-9.]+) \\+/-"))) {
            return -std::stod(match[1]) * 1000.0;  // ntpdig gives the correction to make
        }
    }
    ADD_FAILURE() << "ntpdig: " << out;
    return 1e9;
}
void Report(const std::string& what, double value) { std::cout << "[ figure ] " << what << ": " << value << "\n"; }

#define EXPECT_RUN(result, output, code)     \
    do {                                     \
        const ProcessResult r = (result);    \
        EXPECT_EQ(r.standardOutput, output); \
        EXPECT_EQ(r.exitCode, code);         \
    } while (false)

const std::string kNotInstalled = "Kairovel not installed on this machine\nType Kairovel /? for help\n";

class ServiceOnSystemd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::ifstream cpu("/proc/cpuinfo");
        std::stringstream text;
        text << cpu.rdbuf();
        if (text.str().find("UML") == std::string::npos) {
            std::cerr << "refused: these tests set the clock, and run in a user-mode Linux guest only\n";
            std::exit(2);
        }
        for (const auto& [from, to] : {std::pair{KAIROVEL_BINARY, kProgram}, std::pair{KAIROVEL_SC, kScProgram}}) {
            std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
        }
    }
    ServiceOnSystemd() { journalSeen += Journal().size(); }
    ~ServiceOnSystemd() override {
        if (std::filesystem::exists(kUnitFile)) {
            ADD_FAILURE() << "the service is still installed";
            Kairovel({"/remove"});
        }
    }
    // Installed with these switches and running.
    static void Install(std::vector<std::string> switches) {
        switches.insert(switches.begin(), "/install");
        EXPECT_RUN(Kairovel(switches), "Service installed and running\n", 0);
        ASSERT_TRUE(AwaitState("4  RUNNING")) << Journal();
    }
};

// The user's life: install, status, the unit systemd runs, pause, continue,
// interrogate, stop, start, reinstall, remove, and what a user who is not
// root may see.
TEST_F(ServiceOnSystemd, InstallControlReinstallAndRemove) {
    EXPECT_RUN(Kairovel({"/status"}), kNotInstalled, 0);
    ASSERT_NO_FATAL_FAILURE(Install({std::string("/ntp_machine=") + kPeer, "/period=1:00:00", "/adjust=no",
                                     "/log=console", "/file=/dev/null"}));
    EXPECT_RUN(Kairovel({"/status"}),
               "Kairovel is installed on this machine\nKairovel is running\n\n1 configured time source(s):\n"
               "   NTP machine 169.254.0.1\n\nUpdate period is 3600 seconds\nAdjustment is not enabled\n"
               "More configuration information in file /dev/null\n",
               0);
    // A unit of its own, enabled, with the rights of a time service and no more.
    const std::string pid = MainPid();
    EXPECT_EQ(Trimmed(Shell(std::string("systemctl is-enabled ") + kUnit)), "enabled");
    EXPECT_THAT(Shell("cat /proc/" + pid + "/cgroup"), HasSubstr("0::/system.slice/kairovel.service\n"));
    EXPECT_EQ(ProcessStatus(pid, "CapBnd"), kServiceCapabilities);
    EXPECT_EQ(ProcessStatus(pid, "CapPrm"), kServiceCapabilities);
    EXPECT_EQ(ProcessStatus(pid, "NoNewPrivs"), "1");
    // Of /proc it sees only processes; its unit tells it the boot.
    EXPECT_THAT(Shell("cat /proc/" + pid + "/mountinfo"), HasSubstr("subset=pid"));
    // A process of its cgroup may send to a host, not to a multicast group.
    const std::string sends = "bash -c 'for to in 127.0.0.1 224.0.1.1 ::1 ff05::101; do "
                              "echo > /dev/udp/$to/9 && echo $to sent; done' 2>&1";
    Shell("ip route replace 224.0.0.0/4 dev eth0");
    EXPECT_EQ(Shell(sends), "127.0.0.1 sent\n224.0.1.1 sent\n::1 sent\nff05::101 sent\n");
    const std::string cgroup = "/sys/fs/cgroup/system.slice/kairovel.service/cgroup.procs";
    EXPECT_THAT(Shell("echo $$ > " + cgroup + " && exec " + sends),
                MatchesRegex("127.0.0.1 sent\n.*Operation not permitted\n::1 sent\n.*Operation not permitted\n"));
    // A user of its own, which owns the service's state.
    const std::string uid = ProcessStatus(pid, "Uid");
    EXPECT_NE(uid, "0");
    EXPECT_EQ(uid, Trimmed(Shell("id -u kairovel")));
    EXPECT_EQ(Trimmed(Shell("stat -c %U /var/lib/kairovel /var/lib/kairovel/registry.sqlite | sort -u")), "kairovel");
    const std::string config = Sc({"qc", "Kairovel"}).standardOutput;
    EXPECT_THAT(config, HasSubstr("TYPE               : 110  WIN32_OWN_PROCESS (interactive)\n"));
    EXPECT_THAT(config, HasSubstr("START_TYPE         : 2   AUTO_START\n"));
    std::smatch exposure;
    const std::string analysis = Shell(std::string("systemd-analyze security --no-pager ") + kUnit);
    ASSERT_TRUE(std::regex_search(analysis, exposure, std::regex("Overall exposure level for [^:]+: ([0-9.]+)")))
        << analysis;
    Report("exposure level", std::stod(exposure[1]));
    EXPECT_LE(std::stod(exposure[1]), kExposureLimit) << analysis;
    std::smatch timesyncd;
    const std::string itsRating =
        Shell("systemd-analyze security --offline=true --no-pager /usr/lib/systemd/system/systemd-timesyncd.service");
    if (std::regex_search(itsRating, timesyncd, std::regex("Overall exposure level for [^:]+: ([0-9.]+)"))) {
        Report("systemd-timesyncd's exposure level", std::stod(timesyncd[1]));
    }

    // Pause and continue are kairovel-sc's; systemd shows the state.
    EXPECT_THAT(Sc({"pause", "Kairovel"}).standardOutput, HasSubstr("STATE              : 7  PAUSED"));
    EXPECT_THAT(Shell(std::string("systemctl status --no-pager ") + kUnit), HasSubstr("Status: \"Paused"));
    EXPECT_THAT(Sc({"interrogate", "kairovel"}).standardOutput, HasSubstr("STATE              : 7  PAUSED"));
    EXPECT_THAT(Sc({"continue", "Kairovel"}).standardOutput, HasSubstr("STATE              : 4  RUNNING"));
    EXPECT_RUN(Kairovel({"/control=stop"}), "Done: stop\n", 0);
    EXPECT_EQ(State(), "1  STOPPED");
    EXPECT_EQ(Trimmed(Shell(std::string("systemctl is-active ") + kUnit)), "inactive");
    EXPECT_RUN(Kairovel({"/control=START"}), "Done: start\n", 0);
    EXPECT_TRUE(AwaitState("4  RUNNING"));

    // Root's registry is root's alone: a user is told so, never "not installed",
    // and a removal by a user changes nothing and says so.
    const ProcessResult user = AsNobody({kProgram, "/status"});
    EXPECT_EQ(user.standardOutput,
              "Registry open error 5 on SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters\n");
    EXPECT_THAT(user.standardError, HasSubstr("may be read by its owner alone"));
    EXPECT_THAT(AsNobody({kScProgram, "query", "Kairovel"}).standardOutput, HasSubstr("4  RUNNING"));
    const ProcessResult removal = AsNobody({kProgram, "/remove"});
    EXPECT_EQ(removal.standardOutput, "OpenService failed (0x06)\nService not removed: OpenSCManager failed (0x05)\n");
    EXPECT_EQ(removal.exitCode, 1);
    EXPECT_THAT(removal.standardError, HasSubstr("only root may install, remove"));
    EXPECT_EQ(State(), "4  RUNNING");

    EXPECT_RUN(Kairovel({"/install", "/domain=corp"}), "Service reinstalled and running\n", 0);
    EXPECT_TRUE(AwaitState("4  RUNNING"));
    EXPECT_THAT(Kairovel({"/status"}).standardOutput, HasSubstr("   Domain corp\n"));
    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);
    EXPECT_FALSE(std::filesystem::exists(kUnitFile));
    EXPECT_RUN(Kairovel({"/status"}), kNotInstalled, 0);
    EXPECT_EQ(Sc({"query", "Kairovel"}).exitCode, 1060 % 256);  // systemd's missing unit is 1060, as in /remove's 0x424
}

// A program under /tmp or a home folder gets the view of the file system it
// needs from its unit, the machine's /tmp or a home it may read, and runs.
TEST_F(ServiceOnSystemd, AProgramUnderTmpOrHomeRunsWithTheViewItNeeds) {
    const std::pair<std::filesystem::path, std::string> places[] = {
        {"/var/tmp/kairovel-programs", "\nPrivateTmp=no\n"}, {"/home/kairovel-programs", "\nProtectHome=read-only\n"}};
    for (const auto& [folder, view] : places) {
        std::filesystem::create_directories(folder);
        const std::string program = (folder / "kairovel").string();
        std::filesystem::copy_file(kProgram, program, std::filesystem::copy_options::overwrite_existing);
        EXPECT_RUN(Command({program, "/install", "/domain=corp", "/period=1:00:00"}), "Service installed and running\n",
                   0);
        EXPECT_TRUE(AwaitState("4  RUNNING")) << Journal();
        EXPECT_THAT(Shell(std::string("cat ") + kUnitFile), HasSubstr(view));
        EXPECT_RUN(Command({program, "/remove"}), "Service stopped and removed\n", 0);
        std::filesystem::remove_all(folder);
    }
}

// Kairovel as the system's time service. Until its first pass the kernel
// reads the clock unsynchronised and a unit ordered after time-sync.target
// waits (systemd-time-wait-sync enabled); after it adjtimex reads TIME_OK with
// a maximum error below a second, timedatectl shows the clock synchronised and
// the NTP service active, and the waiting unit runs. timedatectl set-ntp
// false stops and disables the service, which puts the tick and frequency
// back exactly and says the clock is no longer kept; set-ntp true starts it
// again, and /remove takes it off timedated's list.
TEST_F(ServiceOnSystemd, TheSystemReadsTheClockAsKeptWhileTheServiceRuns) {
    const KernelRate startup{10001, 3 * 65536};
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"set-rate", "10001", std::to_string(3 * 65536)}));
    timex unsynchronised{};
    unsynchronised.modes = ADJ_STATUS | ADJ_MAXERROR | ADJ_ESTERROR;
    unsynchronised.status = STA_UNSYNC;
    unsynchronised.maxerror = unsynchronised.esterror = 16'000'000;
    ASSERT_EQ(::adjtimex(&unsynchronised), TIME_ERROR);
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"step", "100"}));
    std::ofstream("/etc/systemd/system/after-time-sync.service")
        << "[Unit]\nWants=time-sync.target\nAfter=time-sync.target\n"
           "[Service]\nType=oneshot\nRemainAfterExit=yes\nExecStart=/bin/true\n";
    Shell("systemctl daemon-reload; systemctl enable systemd-time-wait-sync.service; "
          "systemctl start --no-block systemd-time-wait-sync.service after-time-sync.service");
    std::this_thread::sleep_for(2s);
    EXPECT_NE(Trimmed(Shell("systemctl is-active after-time-sync.service")), "active");

    ASSERT_NO_FATAL_FAILURE(Install({std::string("/ntp_machine=") + kPeer, "/period=0:0:10", "/trace=debug"}));
    ASSERT_TRUE(AwaitJournal("Told the system the clock is synchronised")) << Journal();
    // The report itself wakes the waiter: not a pass's later step, nor the set at the end of its slew.
    const auto reported = std::chrono::steady_clock::now();
    EXPECT_TRUE(Eventually([] { return Trimmed(Shell("systemctl is-active after-time-sync.service")) == "active"; },
                           4s, 100ms))
        << Shell("systemctl list-jobs --no-pager; systemctl status --no-pager systemd-time-wait-sync.service "
                 "time-sync.target after-time-sync.service 2>&1; journalctl -o short-monotonic --no-pager "
                 "-u systemd-time-wait-sync.service");
    Report("seconds from the report to the unit after time-sync.target",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - reported).count());
    timex kept{};
    EXPECT_EQ(::adjtimex(&kept), TIME_OK);
    EXPECT_EQ(kept.status & STA_UNSYNC, 0);
    Report("kernel's maximum error after the first pass (us)", static_cast<double>(kept.maxerror));
    EXPECT_LT(kept.maxerror, 1'000'000);
    const std::string shown = Shell("timedatectl show");
    EXPECT_THAT(shown, HasSubstr("NTPSynchronized=yes\n"));
    EXPECT_THAT(shown, HasSubstr("\nNTP=yes\n"));
    // What a fleet's monitoring reads: node_exporter's timex collector.
    BackgroundProcess exporter({PeerProgram("usr/bin/prometheus-node-exporter"), "--collector.disable-defaults",
                                "--collector.timex", "--web.listen-address=127.0.0.1:9100"});
    std::string metrics;
    EXPECT_TRUE(Eventually(
        [&] {
            metrics = Command({"bash", "-c",
                               "exec 3<>/dev/tcp/127.0.0.1/9100 && printf 'GET /metrics HTTP/1.0\\r\\n\\r\\n' >&3 "
                               "&& cat <&3"})
                          .standardOutput;
            return metrics.find("node_timex_sync_status") != std::string::npos;
        },
        20s, 200ms))
        << exporter.Output();
    EXPECT_THAT(metrics, HasSubstr("\nnode_timex_sync_status 1\n"));

    EXPECT_EQ(Command({"timedatectl", "set-ntp", "false"}).exitCode, 0);
    EXPECT_TRUE(AwaitState("1  STOPPED"));
    EXPECT_EQ(Trimmed(Shell(std::string("systemctl is-enabled ") + kUnit)), "disabled");
    EXPECT_EQ(ReadRate(), startup);
    timex stopped{};
    EXPECT_EQ(::adjtimex(&stopped), TIME_ERROR);  // no longer said to be kept
    EXPECT_THAT(Shell("timedatectl show"), HasSubstr("\nNTP=no\n"));
    EXPECT_EQ(Command({"timedatectl", "set-ntp", "true"}).exitCode, 0);
    EXPECT_TRUE(AwaitState("4  RUNNING"));
    EXPECT_EQ(Trimmed(Shell(std::string("systemctl is-enabled ") + kUnit)), "enabled");

    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);
    EXPECT_EQ(ReadRate(), startup);
    EXPECT_FALSE(std::filesystem::exists("/etc/systemd/ntp-units.d/50-kairovel.list"));
    EXPECT_THAT(Shell("timedatectl show"), HasSubstr("\nNTP=no\n"));
    Shell("systemctl disable --now systemd-time-wait-sync.service after-time-sync.service; "
          "rm /etc/systemd/system/after-time-sync.service; systemctl daemon-reload");
    ClockAgent({"set-rate", "10000", "0"});
}

// Start parameters reach the service once: one the parser refuses stops it,
// and the journal says why; one it takes is in force for that start.
TEST_F(ServiceOnSystemd, StartParametersReachTheServiceOnce) {
    ASSERT_NO_FATAL_FAILURE(Install({std::string("/ntp_machine=") + kPeer, "/at=+1:0:0"}));
    EXPECT_RUN(Kairovel({"/control=stop"}), "Done: stop\n", 0);
    Sc({"start", "Kairovel", "/bogus"});
    // From its report of the stop to the end of its process it is stopping, never in an unknown state.
    std::string statuses;
    EXPECT_TRUE(Eventually(
        [&] {
            const std::string status = Kairovel({"/status"}).standardOutput;
            statuses += status;
            return status.find("Kairovel is not running") != std::string::npos;
        },
        30s, 1ms));
    EXPECT_THAT(statuses, Not(HasSubstr("Unknown status")));
    EXPECT_TRUE(AwaitJournal("Service was stopped because Illegal argument /bogus in command line. Error code was "))
        << Journal();
    EXPECT_THAT(Sc({"start", "Kairovel", "/trace=debug"}).standardOutput, HasSubstr("STATE"));
    EXPECT_TRUE(AwaitState("4  RUNNING"));
    EXPECT_RUN(Kairovel({"/control=stop"}), "Done: stop\n", 0);
    EXPECT_TRUE(AwaitJournal("Shutting down Kairovel: clean up being called.")) << Journal();
    // Started again without parameters, it has no trace.
    EXPECT_RUN(Kairovel({"/control=start"}), "Done: start\n", 0);
    EXPECT_TRUE(AwaitState("4  RUNNING"));
    EXPECT_RUN(Kairovel({"/control=stop"}), "Done: stop\n", 0);
    EXPECT_EQ(Count(Journal(), "Shutting down Kairovel"), 1u);
    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);
}

// On the guest's kernel clock: the first pass corrects a 100 ms error against
// chronyd; SIGKILL in the next pass's slew leaves the clock slewing until
// systemd restarts the service, which puts the start-up tick and frequency
// back first; systemctl stop and a start by multi-user.target work as for any
// unit; and at the end the start-up tick and frequency are back exactly.
TEST_F(ServiceOnSystemd, CorrectsTheClockSurvivesAKillAndLeavesTheRateAsItFoundIt) {
    const KernelRate startup{10001, 3 * 65536};
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"set-rate", "10001", std::to_string(3 * 65536)}));
    const StallMeter stalls;  // a pass the machine held up is only as good as the machine
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"step", "100"}));
    ASSERT_NO_FATAL_FAILURE(Install({std::string("/ntp_machine=") + kPeer, "/period=0:0:10", "/trace=debug"}));
    ASSERT_TRUE(AwaitJournal("Corrected clock deviation of ")) << Journal();
    const double left = OffsetFromPeer();
    Report("error left after the first pass (ms)", left);
    const double heldUp = stalls.LongestMilliseconds();
    Report("longest hold-up of the first pass (ms)", heldUp);
    EXPECT_LT(std::fabs(left), kCorrectionLimitMilliseconds + heldUp) << Journal();
    EXPECT_THAT(Shell(std::string("systemctl status --no-pager ") + kUnit),
                HasSubstr(": Corrected clock deviation of "));

    // The next pass has 50 ms to slew away, so that its slew changes the rate.
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"step", "50"}));
    ASSERT_TRUE(AwaitJournal("Started adjusting", 2)) << Journal();
    EXPECT_NE(ReadRate(), startup);
    const std::string killed = MainPid();
    // Root's own pass beside the service's slew changes nothing and says who adjusts the clock.
    EXPECT_THAT(Kairovel({"/immediate", std::string("/ntp_machine=") + kPeer, "/adjust=no"}).standardOutput,
                HasSubstr("The clock is being adjusted by another run (process " + killed +
                          " (kairovel)), and only one may change it at a time. Time not changed.\n"));
    ASSERT_EQ(::kill(std::stoi(killed), SIGKILL), 0);
    ASSERT_TRUE(Eventually([&] { return MainPid() != killed && MainPid() != "0"; }, 20s, 100ms)) << Journal();
    EXPECT_TRUE(AwaitState("4  RUNNING"));
    EXPECT_TRUE(AwaitJournal("Put back the time adjustment a run that ended without restoring it had found: "
                             "tick 10001, frequency 196608"))
        << Journal();

    EXPECT_EQ(Command({"systemctl", "stop", kUnit}).exitCode, 0);
    EXPECT_EQ(State(), "1  STOPPED");
    EXPECT_EQ(ReadRate(), startup);
    EXPECT_EQ(Command({"systemctl", "start", "multi-user.target"}).exitCode, 0);
    EXPECT_TRUE(AwaitState("4  RUNNING"));
    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);
    EXPECT_EQ(ReadRate(), startup);
    ClockAgent({"set-rate", "10000", "0"});
}

// Inside the sandbox everything the service reaches still works: an NT
// machine through Samba's libnetapi, a parameter URL through libcurl, NTP,
// the log file under /var/log, and its TIME server on port 37.
TEST_F(ServiceOnSystemd, EverySourceAndDeviceWorksInTheSandbox) {
    const SambaServer samba;
    ASSERT_TRUE(samba.Ready()) << samba.Output();
    LoopbackHttpServer http;
    http.ServeText("/parameters", std::string("/ntp_machine=") + kPeer + "\n");
    const std::filesystem::path log = "/var/log/kairovel/kairovel.log";
    std::filesystem::remove(log);
    ASSERT_NO_FATAL_FAILURE(Install({"/nt_machine=127.0.0.1", "/url=" + http.Url("/parameters"), "/period=0:0:10",
                                     "/adjust=no", "/trace=debug", "/log=" + log.string()}));
    const auto logged = [&] {
        std::ifstream in(log, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    EXPECT_TRUE(Eventually([&] { return logged().find("Corrected clock deviation of ") != std::string::npos; }, 60s,
                           200ms))
        << logged() << Journal();
    EXPECT_THAT(logged(), HasSubstr("= N,169.254.0.1 with delay"));
    EXPECT_THAT(logged(), HasSubstr("= L,\\\\127.0.0.1 with delay"));
    const ProcessResult time = Command({"rdate", "-p", "127.0.0.1"});
    EXPECT_EQ(time.exitCode, 0) << time.standardOutput << time.standardError;
    EXPECT_EQ(std::filesystem::status(log).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::none);
    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);
}

// Two installations at once run one after the other: both succeed, and what
// the second stores is what the service runs with. A program that another
// user could replace is never installed.
TEST_F(ServiceOnSystemd, InstallationsTakeTurnsAndRefuseAReplaceableProgram) {
    BackgroundProcess first({kProgram, "/install", "/domain=first"});
    BackgroundProcess second({kProgram, "/install", "/domain=second"});
    ASSERT_TRUE(Eventually([&] { return !first.Running() && !second.Running(); }, 60s, 50ms));
    EXPECT_EQ(first.Stop(), 0) << first.Output();
    EXPECT_EQ(second.Stop(), 0) << second.Output();
    const std::string both = first.Output() + second.Output();
    EXPECT_THAT(both, HasSubstr("Service installed and running\n"));
    EXPECT_THAT(both, HasSubstr("Service reinstalled and running\n"));
    EXPECT_TRUE(AwaitState("4  RUNNING"));
    EXPECT_THAT(Kairovel({"/status"}).standardOutput, HasSubstr("1 configured time source(s):\n   Domain "));
    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);

    const std::filesystem::path open = "/var/tmp/open-to-all";
    std::filesystem::create_directory(open);
    std::filesystem::permissions(open, std::filesystem::perms::all);
    std::filesystem::copy_file(KAIROVEL_BINARY, open / "kairovel", std::filesystem::copy_options::overwrite_existing);
    const ProcessResult refused = Command({(open / "kairovel").string(), "/install"});
    EXPECT_EQ(refused.standardOutput, "CreateService failed (0x05)\n");
    EXPECT_THAT(refused.standardError, HasSubstr("/var/tmp/open-to-all is refused as the service's program: others may write"));
    EXPECT_RUN(Kairovel({"/status"}), kNotInstalled, 0);
    std::filesystem::remove_all(open);

    // Nor one in a folder closed to the service's user, which could not run it.
    const std::filesystem::path closed = "/var/tmp/closed";
    std::filesystem::create_directory(closed);
    std::filesystem::permissions(closed, std::filesystem::perms::owner_all);
    std::filesystem::copy_file(kProgram, closed / "kairovel", std::filesystem::copy_options::overwrite_existing);
    const ProcessResult unreachable = Command({(closed / "kairovel").string(), "/install"});
    EXPECT_EQ(unreachable.standardOutput, "CreateService failed (0x05)\n");
    EXPECT_THAT(unreachable.standardError, HasSubstr("its user kairovel may not run it"));
    std::filesystem::remove_all(closed);
}

// The service started while root's pass slews the clock waits for its turn
// (its first pass is refused), and what it puts back at its end is what the
// clock had before both: the start-up tick and frequency, exactly.
TEST_F(ServiceOnSystemd, AServiceStartedBesideAnotherSlewPutsBackWhatTheClockHadBeforeBoth) {
    const KernelRate startup{10001, 3 * 65536};
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"set-rate", "10001", std::to_string(3 * 65536)}));
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"step", "100"}));
    BackgroundProcess slew({kProgram, "/immediate", std::string("/ntp_machine=") + kPeer, "/period=0:0:20"});
    ASSERT_TRUE(Eventually([&] { return ReadRate() != startup; }, 20s, 20ms)) << slew.Output();
    ASSERT_NO_FATAL_FAILURE(Install({std::string("/ntp_machine=") + kPeer, "/period=0:0:10", "/trace=debug"}));
    EXPECT_TRUE(AwaitJournal("The clock is being adjusted by another run (process " + std::to_string(slew.pid())))
        << Journal();
    ASSERT_TRUE(Eventually([&] { return !slew.Running(); }, 30s, 100ms));
    EXPECT_EQ(ReadRate(), startup) << slew.Output();
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"step", "50"}));
    ASSERT_TRUE(AwaitJournal("Started adjusting")) << Journal();
    EXPECT_RUN(Kairovel({"/remove"}), "Service stopped and removed\n", 0);
    EXPECT_EQ(ReadRate(), startup);
    ClockAgent({"set-rate", "10000", "0"});
}

// A registry overwritten, or deleted under the running service, is never a dead
// end: /status says what it sees, and /install sets a damaged one aside,
// keeping it, and installs anew.
TEST_F(ServiceOnSystemd, ADamagedOrMissingRegistryIsNoDeadEnd) {
    const std::filesystem::path registry = "/var/lib/kairovel/registry.sqlite";
    ASSERT_NO_FATAL_FAILURE(Install({"/domain=first", "/period=1:00:00"}));
    // Overwritten, with the write-ahead log lost.
    Shell("head -c 4096 /dev/zero | tr '\\0' x > " + registry.string() + "; rm -f " + registry.string() + "-wal " +
          registry.string() + "-shm");
    EXPECT_RUN(Kairovel({"/status"}),
               "Kairovel's service is on this machine (Kairovel is running), but its stored parameters cannot be "
               "read\nType Kairovel /install to store them anew, or Kairovel /remove to remove it\n"
               "Registry open error 1009 on SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters\n",
               1);
    const ProcessResult reinstall = Kairovel({"/install", "/domain=second", "/period=1:00:00"});
    EXPECT_THAT(reinstall.standardOutput,
                HasSubstr("The registry could not be read (error 1009) and was set aside as " + registry.string() +
                          ".damaged-"));
    EXPECT_THAT(reinstall.standardOutput, ::testing::EndsWith("Service reinstalled and running\n"));
    EXPECT_EQ(reinstall.exitCode, 0);
    EXPECT_TRUE(AwaitState("4  RUNNING"));
    EXPECT_THAT(Kairovel({"/status"}).standardOutput, HasSubstr("   Domain second\n"));
    EXPECT_EQ(Trimmed(Shell("ls /var/lib/kairovel | grep -c '^registry.sqlite.damaged-'")), "1");

    std::filesystem::remove(registry);
    EXPECT_RUN(Kairovel({"/status"}),
               "Kairovel's service is on this machine (Kairovel is running), but its stored parameters are "
               "missing\nType Kairovel /install to store them anew, or Kairovel /remove to remove it\n",
               0);
    EXPECT_THAT(Kairovel({"/remove"}).standardOutput, ::testing::EndsWith("Service stopped and removed\n"));
    EXPECT_RUN(Kairovel({"/status"}), kNotInstalled, 0);
    Shell("rm -f /var/lib/kairovel/registry.sqlite.damaged-*");
}

// The service's user owns its state and run-time folders, and may put
// anything there: a link to a file of root's where SQLite would write, a FIFO
// where the clock's record is read, the record's lock held for good. Root's
// /status, /install and /remove then write nowhere else and end.
TEST_F(ServiceOnSystemd, NothingTheServicesUserWritesLeadsRootAstray) {
    ASSERT_NO_FATAL_FAILURE(Install({"/domain=corp", "/period=1:00:00"}));
    const std::filesystem::path victim = "/etc/kairovel-victim";
    std::ofstream(victim) << "precious";
    const auto asServiceUser = [](const std::string& command) {
        return Command({"setpriv", "--reuid=kairovel", "--regid=kairovel", "--clear-groups", "sh", "-c", command});
    };
    ASSERT_EQ(asServiceUser("ln -sf " + victim.string() + " /var/lib/kairovel/registry.sqlite-wal && "
                            "rm -f /var/lib/kairovel/system-clock.startup && "
                            "mkfifo /var/lib/kairovel/system-clock.startup")
                  .exitCode,
              0);
    BackgroundProcess holder({"setpriv", "--reuid=kairovel", "--regid=kairovel", "--clear-groups", "flock",
                              "/var/lib/kairovel/system-clock.startup.lock", "sleep", "1000"});
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"/status"}, {"/install", "/domain=second"}, {"/remove"}}) {
        const ProcessResult result = Kairovel(command);
        EXPECT_FALSE(result.timedOut) << command[0];
        EXPECT_EQ(Trimmed(Shell("cat " + victim.string())), "precious") << command[0] << result.standardOutput;
    }
    Kairovel({"/remove"});
    Shell("rm -f " + victim.string() + " /var/lib/kairovel/registry.sqlite* /var/lib/kairovel/system-clock.startup*");
}

// A full state folder: a slew, which needs the record of the adjustment to put
// back, is refused and names the file and the full disk; a step, which needs
// no record, still corrects the clock.
TEST_F(ServiceOnSystemd, AFullStateFolderNamesItselfAndAStepStillCorrects) {
    const std::string full = "/run/full-state";
    std::filesystem::create_directory(full);
    ASSERT_EQ(Command({"mount", "-t", "tmpfs", "-o", "size=64k,mode=0755", "tmpfs", full}).exitCode, 0);
    Shell("dd if=/dev/zero of=" + full + "/filler bs=4k 2> /dev/null");
    const KernelRate before = ReadRate();
    ASSERT_NO_FATAL_FAILURE(ClockAgent({"step", "100"}));
    const std::string state = "KAIROVEL_ROOT=" + full;
    const std::string source = std::string("/ntp_machine=") + kPeer;
    EXPECT_THAT(Command({"env", state, kProgram, "/immediate", source, "/period=0:0:20"}).standardOutput,
                HasSubstr("Error 39 from SetSystemTimeAdjustment: " + full +
                          "/system-clock.startup, the record of the adjustment to put back, cannot be written: The "
                          "disk is full.\n"));
    EXPECT_EQ(ReadRate(), before);
    const StallMeter stalls;
    const ProcessResult step = Command({"env", state, kProgram, "/immediate", source, "/adjust=no"});
    EXPECT_THAT(step.standardOutput, HasSubstr("Corrected clock deviation of "));
    const double left = OffsetFromPeer();
    const double heldUp = stalls.LongestMilliseconds();
    Report("step: longest hold-up (ms)", heldUp);
    EXPECT_LT(std::fabs(left), kCorrectionLimitMilliseconds + heldUp) << step.standardOutput;
    Command({"umount", full});
}

}  // namespace
}  // namespace kairovel::testing
