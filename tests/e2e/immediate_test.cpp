// kairovel /immediate run whole against real peers (chronyd for NTP, xinetd
// for TIME over TCP and UDP) in this test's own network namespace, on the
// simulated clock under a temporary KAIROVEL_ROOT. kairovel-simclock gives the
// clock a known error first and reads what is left of it afterwards.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/peers.h"
#include "support/process.h"
#include "support/simclock_figures.h"
#include "support/stall_meter.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

// What the NTP corrections must leave of the clock's error, in milliseconds:
// the millisecond resolution of the times compared and of the clock setting,
// beside what holds the run up (ExpectCorrected). Under a sanitizer every read
// of the simulated clock (a state file) and every log line is several times
// slower, and the moments between taking a source's reply and reading the
// clock, and between reading the clock and setting it, grow with them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kNtpLimitMilliseconds = 4.0;
#else
constexpr double kNtpLimitMilliseconds = 2.0;
#endif
// The clock errors the tests start from lie in the middle of a millisecond.
// The program reads and sets the clock in whole milliseconds, and both
// truncations leave the clock behind: from an error of whole milliseconds a
// correction can end almost 2 ms behind by that arithmetic alone, and the
// moment between reading the clock and setting it (longer on a busy machine or
// under a sanitizer) then takes it past 2 ms. From the middle of a millisecond
// the arithmetic leaves at most 1.5 ms either way.
constexpr double kHalfMillisecond = 0.5;
// TIME replies carry whole seconds: the deviation measured is up to a second
// too large, so a correction leaves the clock up to a second behind.
constexpr double kTimeLimitMilliseconds = 1000.0 + kNtpLimitMilliseconds;

// The program with its arguments, run with the real-time scheduler where the
// machine grants it. The figures below are the program's own accuracy; on a
// busy machine a process of normal priority is also held up between reading
// the clock and setting it, or wakes late at the end of a slew.
std::vector<std::string> Program(std::vector<std::string> arguments) {
    static const bool realTime = RunProcess({"chrt", "-f", "20", "true"}).exitCode == 0;
    arguments.insert(arguments.begin(), KAIROVEL_BINARY);
    if (realTime) arguments.insert(arguments.begin(), {"chrt", "-f", "20"});
    return arguments;
}

// A "Changed time from <clock> to <set>" time as milliseconds of the epoch.
double LoggedMilliseconds(const std::ssub_match& text) {
    std::tm calendar{};
    int milliseconds = 0;
    std::sscanf(text.str().c_str(), "%d/%d/%d %d:%d:%d.%d", &calendar.tm_year, &calendar.tm_mon, &calendar.tm_mday,
                &calendar.tm_hour, &calendar.tm_min, &calendar.tm_sec, &milliseconds);
    calendar.tm_year -= 1900;
    calendar.tm_mon -= 1;
    return static_cast<double>(::timegm(&calendar)) * 1000.0 + milliseconds;
}

// What the run's last setting of the clock lost, in milliseconds: a setting
// reads the clock, adds its step and sets the result, and logs the clock read
// once more at the set beside the time set. Whatever held the program up in
// between (a busy machine, a sanitizer) leaves the clock behind by as much,
// beyond what its arithmetic leaves.
double LostToTheLastSet(const std::string& output) {
    std::smatch set;
    std::smatch step;
    const std::regex setLine("Changed time from ([0-9/]+ [0-9:.]+) to ([0-9/]+ [0-9:.]+)\\n");
    const std::regex stepLine("Incrementing time by (-?[0-9]+) milliseconds\\n");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), setLine); it != std::sregex_iterator(); ++it) {
        set = *it;
    }
    for (auto it = std::sregex_iterator(output.begin(), output.end(), stepLine); it != std::sregex_iterator(); ++it) {
        step = *it;
    }
    if (set.empty()) return 0.0;
    const double stepped = step.empty() ? 0.0 : std::stod(step[1]);
    return std::max(0.0, LoggedMilliseconds(set[1]) - LoggedMilliseconds(set[2]) + stepped);
}

class ImmediateRun : public ::testing::Test {
protected:
    ProcessOptions Options() const {
        ProcessOptions options;
        options.environment["KAIROVEL_ROOT"] = root_.path().string();
        options.environment["KAIROVEL_CLOCK"] = "simulated";
        options.workingDirectory = root_.path().string();
        options.timeout = 60s;
        return options;
    }
    ProcessResult Kairovel(std::vector<std::string> arguments) { return RunProcess(Program(arguments), Options()); }
    std::string SimClock(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), KAIROVEL_SIMCLOCK);
        const ProcessResult r = RunProcess(arguments, Options());
        EXPECT_EQ(r.exitCode, 0) << r.standardError;
        return r.standardOutput;
    }
    void SetClock(double offsetMilliseconds, double driftPpm) {
        SimClock({"set", "--offset-ms", std::to_string(offsetMilliseconds), "--drift-ppm", std::to_string(driftPpm)});
    }
    // One value of kairovel-simclock show.
    double Shown(const std::string& name) { return ShownFigure(SimClock({"show"}), name); }
    double TrueError() { return Shown("true_error_ms"); }
    // Shows a figure of the run in the test's output, for the record.
    static void Report(const std::string& what, double value) {
        std::cout << "[ figure ] " << what << ": " << value << "\n";
        ::testing::Test::RecordProperty(what, std::to_string(value));
    }

    // The longest the machine held the run up, in milliseconds: at its last
    // setting of the clock (what was lost there) or anywhere else (a skewed
    // exchange, a late end of a slew).
    double HeldUp(const std::string& output) const {
        return std::max(LostToTheLastSet(output), stalls_.LongestMilliseconds());
    }
    // The error a correction left: within the limit, give or take the hold-up.
    void ExpectCorrected(double left, const std::string& output) {
        const double heldUp = HeldUp(output);
        Report("longest hold-up (ms)", heldUp);
        EXPECT_LT(std::fabs(left), kNtpLimitMilliseconds + heldUp) << output;
    }

    TemporaryDirectory root_;
    StallMeter stalls_;
};

// The corrected deviation the program reports.
long long Corrected(const std::string& output) {
    std::smatch match;
    if (!std::regex_search(output, match, std::regex("Corrected clock deviation of (-?[0-9]+) milliseconds\\."))) {
        ADD_FAILURE() << "no result in:\n" << output;
        return 0;
    }
    return std::stoll(match[1]);
}

struct SourceLine {
    std::string descriptor;
    long long delay;
    long long deviation;
};

// The sources as the selection listed them, in table order.
std::vector<SourceLine> SourceLines(const std::string& output) {
    std::vector<SourceLine> lines;
    const std::regex line("Source \\[[0-9]+\\] = (\\S+) with delay of ([0-9]+) msecs; deviation of (-?[0-9]+) msecs\\.");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator(); ++it) {
        lines.push_back({(*it)[1], std::stoll((*it)[2]), std::stoll((*it)[3])});
    }
    return lines;
}

TEST_F(ImmediateRun, NtpSlewLeavesTheClockWithinTwoMillisecondsWhileTheTimeServerAnswers) {
    const ChronyServer chrony;
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    // A slew ends when the program wakes up after its window: every millisecond
    // it wakes late costs the rate's share of a millisecond. At 10 per mille a
    // loaded machine may end the window 50 ms late and stay within the limit.
    SetClock(100 + kHalfMillisecond, 40);
    BackgroundProcess program(Program({"/immediate", "/ntp_machine=127.0.0.1", "/period=0:0:20", "/trace=debug"}),
                              Options());
    // Once the 10 s window has begun, the TIME server answers beside the pass.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (program.Output().find("Clock will be adjusted") == std::string::npos && program.Running() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    ProcessOptions rdateOptions;
    rdateOptions.timeout = 10s;
    const ProcessResult rdate = RunProcess({"rdate", "-p", "127.0.0.1"}, rdateOptions);
    while (program.Running() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    const int exitCode = program.Stop();
    const std::string output = program.Output();

    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_EQ(rdate.exitCode, 0) << rdate.standardError;
    EXPECT_THAT(rdate.standardOutput, ::testing::ContainsRegex("[0-9][0-9]:[0-9][0-9]:[0-9][0-9]"));
    EXPECT_THAT(output, HasSubstr("Clock will be adjusted over approx. 10 seconds...\n"));
    EXPECT_THAT(output, HasSubstr("Started adjusting time by -10."));  // about 10 per mille slower
    EXPECT_THAT(output, HasSubstr("Adjustment restored to 100000 (1)\n"));
    EXPECT_NEAR(Corrected(output), 100, 3 + HeldUp(output));
    const double left = TrueError();
    Report("NTP slew: true error left (ms)", left);
    ExpectCorrected(left, output);
    EXPECT_EQ(Shown("disabled"), 1.0);  // the slew ended with its window
}

TEST_F(ImmediateRun, NtpStepLeavesTheClockWithinTwoMilliseconds) {
    const ChronyServer chrony;
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    SetClock(3200 + kHalfMillisecond, 40);
    const ProcessResult r = Kairovel({"/immediate", "/ntp_machine=127.0.0.1", "/adjust=no", "/trace=debug"});
    EXPECT_EQ(r.exitCode, 0) << r.standardOutput;
    EXPECT_THAT(r.standardOutput, ::testing::ContainsRegex("Incrementing time by -3[12][0-9][0-9] milliseconds\n"));
    EXPECT_THAT(r.standardOutput, ::testing::Not(HasSubstr("Clock will be adjusted")));
    EXPECT_NEAR(Corrected(r.standardOutput), 3200, 3 + HeldUp(r.standardOutput));
    const double left = TrueError();
    Report("NTP step: true error left (ms)", left);
    ExpectCorrected(left, r.standardOutput);
    // The system is told the clock is kept: within a millisecond of resolution and half the round trip.
    const std::vector<SourceLine> sources = SourceLines(r.standardOutput);
    ASSERT_EQ(sources.size(), 1u) << r.standardOutput;
    EXPECT_EQ(Shown("synchronised"), 1.0);
    EXPECT_EQ(Shown("esterror_us"), 1000.0 + 500.0 * static_cast<double>(sources[0].delay));
    EXPECT_EQ(Shown("maxerror_us"), Shown("esterror_us"));
}

TEST_F(ImmediateRun, TimeOverTcpSlewsAndTimeOverUdpSteps) {
    const XinetdTimeServer xinetd;
    ASSERT_TRUE(xinetd.Ready()) << xinetd.Output();
    SetClock(3200 + kHalfMillisecond, 40);
    ProcessResult r = Kairovel({"/immediate", "/tcp_machine=127.0.0.1", "/period=0:0:10", "/trace=debug"});
    EXPECT_EQ(r.exitCode, 0) << r.standardOutput;
    EXPECT_THAT(r.standardOutput, HasSubstr("Clock will be adjusted over approx. 5 seconds...\n"));
    // xinetd holds port 37, so this run serves no TIME requests of its own.
    EXPECT_THAT(r.standardOutput,
                HasSubstr("Could not bind socket to address. Error 10048 occurred during bind call.\n"));
    double left = TrueError();
    Report("TIME/TCP slew: true error left (ms)", left);
    EXPECT_LE(left, kNtpLimitMilliseconds + HeldUp(r.standardOutput)) << r.standardOutput;
    EXPECT_GT(left, -kTimeLimitMilliseconds - HeldUp(r.standardOutput)) << r.standardOutput;

    SetClock(-2500 - kHalfMillisecond, 40);
    r = Kairovel({"/immediate", "/udp_machine=127.0.0.1", "/adjust=no", "/trace=debug"});
    EXPECT_EQ(r.exitCode, 0) << r.standardOutput;
    EXPECT_THAT(r.standardOutput, HasSubstr("Incrementing time by "));
    left = TrueError();
    Report("TIME/UDP step: true error left (ms)", left);
    EXPECT_LE(left, kNtpLimitMilliseconds + HeldUp(r.standardOutput)) << r.standardOutput;
    EXPECT_GT(left, -kTimeLimitMilliseconds - HeldUp(r.standardOutput)) << r.standardOutput;
}

TEST_F(ImmediateRun, ADeviationAtTheLimitIsRefusedAndTheClockLeftAlone) {
    const ChronyServer chrony;
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    SetClock(700000, 0);
    const ProcessResult r = Kairovel({"/immediate", "/ntp_machine=127.0.0.1"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_THAT(r.standardOutput, ::testing::ContainsRegex(
                                      "Difference between local clock and remote time was (6999|7000)[0-9][0-9] milliseconds\\. "
                                      "Time was not set\\.\n$"));
    EXPECT_NEAR(TrueError(), 700000, 0.5);
    EXPECT_EQ(Shown("disabled"), 1.0);
    EXPECT_EQ(Shown("synchronised"), 0.0);  // a refused pass says nothing of a kept clock
}

TEST_F(ImmediateRun, SilentSourcesLeaveTheClockAlone) {
    SetClock(1234, 0);
    // Nothing listens: the NTP and TIME requests are refused. (Over TCP the
    // program would reach its own TIME server.) The immediate mode also wins
    // over /install and /remove.
    const ProcessResult r =
        Kairovel({"/immediate", "/install", "/remove", "/ntp_machine=127.0.0.1", "/udp_machine=127.0.0.1"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_THAT(r.standardOutput, HasSubstr("Error 10054 on receiving NTP request\n"));
    EXPECT_THAT(r.standardOutput, HasSubstr("Error 10054 on receiving UDP Time request\n"));
    EXPECT_THAT(r.standardOutput, HasSubstr("Only 0 time sources provided valid replies; selection will done during "
                                            "next period.\n"));
    EXPECT_THAT(r.standardOutput,
                ::testing::EndsWith("No configured time sources returned a reply. Time not changed.\n"));
    EXPECT_NEAR(TrueError(), 1234, 0.5);
}

TEST_F(ImmediateRun, TwoSourcesWithDifferentOffsetsAreAveraged) {
    ASSERT_FALSE(FaketimeLibrary().empty());
    const ChronyServer chrony("+1s");
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    const XinetdTimeServer xinetd("+3s");
    ASSERT_TRUE(xinetd.Ready()) << xinetd.Output();
    SetClock(0, 0);
    const ProcessResult r =
        Kairovel({"/immediate", "/ntp_machine=127.0.0.1", "/tcp_machine=127.0.0.1", "/adjust=no", "/trace=debug"});
    EXPECT_EQ(r.exitCode, 0) << r.standardOutput;
    const std::vector<SourceLine> sources = SourceLines(r.standardOutput);
    ASSERT_EQ(sources.size(), 2u) << r.standardOutput;
    long long sum = 0;
    for (const SourceLine& source : sources) {
        sum += source.deviation - source.delay / 2;
        if (source.descriptor == "N,127.0.0.1") {
            EXPECT_NEAR(source.deviation, -1000, 3 + HeldUp(r.standardOutput));
        } else {
            EXPECT_EQ(source.descriptor, "T,127.0.0.1");
            // Whole seconds: 2 to 3 s behind the source.
            EXPECT_LE(source.deviation, -2000 + 3 + HeldUp(r.standardOutput));
            EXPECT_GT(source.deviation, -3000 - 3 - HeldUp(r.standardOutput));
        }
    }
    const long long corrected = Corrected(r.standardOutput);
    EXPECT_EQ(corrected, sum / 2);
    // The clock was set back by the average: it is that much behind now.
    const double left = TrueError();
    Report("two sources: corrected deviation (ms)", static_cast<double>(corrected));
    ExpectCorrected(left + static_cast<double>(corrected), r.standardOutput);
}

// A slow link to the NTP server: datagrams to 127.0.0.2:123 reach chronyd on
// 127.0.0.1 and come back, each way after half the added delay.
class SlowNtpLink {
public:
    explicit SlowNtpLink(std::chrono::milliseconds delay) : delay_(delay) {
        socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // beside chronyd's wildcard socket
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(123);
        address.sin_addr.s_addr = htonl(0x7F000002);
        ready_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        thread_ = std::thread([this] { Relay(); });
    }
    ~SlowNtpLink() {
        stop_ = true;
        thread_.join();
        ::close(socket_);
    }
    bool Ready() const { return ready_; }

private:
    void Relay() {
        while (!stop_) {
            pollfd entry{socket_, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) continue;
            char request[512];
            sockaddr_in client{};
            socklen_t clientLength = sizeof client;
            const ssize_t n = ::recvfrom(socket_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&client),
                                         &clientLength);
            if (n <= 0) continue;
            std::this_thread::sleep_for(delay_ / 2);
            const int upstream = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in server{};
            server.sin_family = AF_INET;
            server.sin_port = htons(123);
            server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::sendto(upstream, request, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&server),
                     sizeof server);
            pollfd answer{upstream, POLLIN, 0};
            char reply[512];
            ssize_t m = 0;
            if (::poll(&answer, 1, 1000) > 0) m = ::recv(upstream, reply, sizeof reply, 0);
            ::close(upstream);
            if (m <= 0) continue;
            std::this_thread::sleep_for(delay_ / 2);
            ::sendto(socket_, reply, static_cast<std::size_t>(m), 0, reinterpret_cast<sockaddr*>(&client), clientLength);
        }
    }

    std::chrono::milliseconds delay_;
    int socket_ = -1;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(ImmediateRun, SelectionKeepsTheFastPeer) {
    const ChronyServer chrony;
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    const SlowNtpLink slow(200ms);
    ASSERT_TRUE(slow.Ready());
    SetClock(1500 + kHalfMillisecond, 0);
    const ProcessResult r = Kairovel({"/immediate", "/ntp_machine=127.0.0.2", "/ntp_machine=127.0.0.1", "/select=1,1",
                                      "/adjust=no", "/trace=debug"});
    EXPECT_EQ(r.exitCode, 0) << r.standardOutput;
    EXPECT_THAT(r.standardOutput, HasSubstr("The top 1 of following machines will be selected. Sort based on network delay.\n"));
    const std::vector<SourceLine> sources = SourceLines(r.standardOutput);
    ASSERT_EQ(sources.size(), 2u) << r.standardOutput;
    EXPECT_EQ(sources[0].descriptor, "N,127.0.0.1");
    EXPECT_LE(sources[0].delay, 5 + HeldUp(r.standardOutput));
    EXPECT_EQ(sources[1].descriptor, "N,127.0.0.2");
    EXPECT_GE(sources[1].delay, 200);
    // Only the fast peer counts.
    EXPECT_EQ(Corrected(r.standardOutput), sources[0].deviation - sources[0].delay / 2);
    ExpectCorrected(TrueError(), r.standardOutput);
}

// A run in the middle of a 10 s slew of a clock 3.2 s ahead.
class SlewingRun : public ImmediateRun {
protected:
    std::unique_ptr<BackgroundProcess> StartSlew() {
        SetClock(3200, 0);
        auto program = std::make_unique<BackgroundProcess>(
            Program({"/immediate", "/ntp_machine=127.0.0.1", "/period=0:0:20"}), Options());
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (program->Output().find("Clock will be adjusted") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(1s);
        EXPECT_EQ(Shown("disabled"), 0.0) << program->Output();  // slewing
        return program;
    }
    static int EndWith(BackgroundProcess& program, int signalNumber) {
        ::kill(program.pid(), signalNumber);
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (program.Running() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
        return program.Stop();
    }
    void ExpectAdjustmentAsBefore() {
        EXPECT_EQ(Shown("disabled"), 1.0);
        EXPECT_EQ(Shown("adjustment"), 100000.0);
    }

    const ChronyServer chrony_;
};

// Ctrl+C, Ctrl+\ and the signals that end a process unasked: the adjustment
// is put back before the process ends by the signal.
TEST_F(SlewingRun, EverySignalThatEndsItFromOutsidePutsTheAdjustmentBack) {
    ASSERT_TRUE(chrony_.Ready()) << chrony_.Output();
    for (const int signalNumber : {SIGINT, SIGQUIT, SIGUSR1, SIGALRM}) {
        const auto program = StartSlew();
        EXPECT_EQ(EndWith(*program, signalNumber), 128 + signalNumber) << program->Output();
        ExpectAdjustmentAsBefore();
#if !defined(__SANITIZE_THREAD__)
        // About a second of the ten-second window ran: part of the error is gone,
        // most of it is left. (ThreadSanitizer holds a signal back until the
        // sleeping thread wakes, so there the window runs to its end first.)
        const double left = TrueError();
        EXPECT_LT(left, 3200 - 100) << signalNumber;
        EXPECT_GT(left, 0) << signalNumber;
#endif
    }
}

// SIGKILL leaves the process no say: the slew stays in force until the next
// run, which puts the adjustment from before the killed run back first and says so.
TEST_F(SlewingRun, TheRunAfterAKillPutsTheAdjustmentBack) {
    ASSERT_TRUE(chrony_.Ready()) << chrony_.Output();
    const auto program = StartSlew();
    EXPECT_EQ(EndWith(*program, SIGKILL), 128 + SIGKILL);
    EXPECT_EQ(Shown("disabled"), 0.0);
    const ProcessResult next = Kairovel({"/status"});
    EXPECT_THAT(next.standardOutput,
                HasSubstr("Put back the time adjustment a run that ended without restoring it had found: "
                          "adjustment 100000 (disabled)\n"));
    ExpectAdjustmentAsBefore();
    EXPECT_THAT(Kairovel({"/status"}).standardOutput, ::testing::Not(HasSubstr("Put back")));
}

// One run at a time changes the clock: a second one beside a slew refuses,
// naming the process that holds the adjustment, and changes nothing; the
// clock ends with the adjustment the first run found.
TEST_F(SlewingRun, ASecondRunBesideASlewRefusesAndChangesNothing) {
    ASSERT_TRUE(chrony_.Ready()) << chrony_.Output();
    const auto program = StartSlew();
    const double slewing = Shown("adjustment");
    const ProcessResult second = Kairovel({"/immediate", "/ntp_machine=127.0.0.1", "/adjust=no"});
    EXPECT_THAT(second.standardOutput,
                HasSubstr("The clock is being adjusted by another run (process " + std::to_string(program->pid()) +
                          " (kairovel)), and only one may change it at a time. Time not changed.\n"));
    EXPECT_EQ(Shown("adjustment"), slewing);
    EXPECT_GT(TrueError(), 1000);  // not stepped
    EXPECT_EQ(EndWith(*program, SIGINT), 128 + SIGINT);
    ExpectAdjustmentAsBefore();
}

}  // namespace
}  // namespace kairovel::testing
