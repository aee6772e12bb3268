// The clients and the TIME server against real peers: xinetd's own TIME
// service, chronyd as NTP server and broadcaster, and rdate as a TIME client.
// Known clock offsets come from libfaketime in the peer alone.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>
#include <string>

#include "platform/clock.h"
#include "platform/facility.h"
#include "sources/ntp_client.h"
#include "sources/time_protocol_clients.h"
#include "sources/time_server.h"
#include "support/fixed_system_time.h"
#include "support/peers.h"
#include "support/process.h"
#include "support/time_server_thread.h"

namespace kairovel {
namespace {

constexpr std::int64_t kFiveSeconds = 5'000;  // ms, the peers' known offset
constexpr std::int64_t kNtpTolerance = 1;     // ms: the transmit time is truncated to the millisecond
constexpr std::int64_t kTimeTolerance = 1'000;  // ms: TIME has whole seconds

// The middle one of some readings.
std::int64_t Median(std::vector<std::int64_t> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One reading of a source: local time minus the source's time, and how long
// the exchange and the reading of the local clock took together. The source
// read its clock within that time, so a reading can be late by no more than
// it (a busy machine may hold the test up anywhere in it).
struct Reading {
    std::int64_t deviation = 0;  // ms
    double elapsed = 0;          // ms
};

Reading Read(TimeSource& source) {
    const auto start = std::chrono::steady_clock::now();
    TimeValue remote;
    source.GetTime(remote);
    const std::int64_t deviation = TimeValue().Minus(remote).Milliseconds();
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    return {deviation, elapsed.count()};
}

void RequireFaketime() {
    if (testing::FaketimeLibrary().empty()) GTEST_SKIP() << "libfaketime is not installed";
}

TEST(XinetdPeer, TcpAndUdpClientsReadItsTime) {
    testing::XinetdTimeServer xinetd;
    ASSERT_TRUE(xinetd.Ready()) << xinetd.Output();
    TcpTimeSource tcp(L"127.0.0.1");
    const Reading overTcp = Read(tcp);
    EXPECT_GE(overTcp.deviation, 0);
    EXPECT_LE(overTcp.deviation, kTimeTolerance + overTcp.elapsed + 1);
    UdpTimeSource udp(L"localhost");
    const Reading overUdp = Read(udp);
    EXPECT_GE(overUdp.deviation, 0);
    EXPECT_LE(overUdp.deviation, kTimeTolerance + overUdp.elapsed + 1);
}

TEST(XinetdPeer, KnownOffsetIsReadToTheSecond) {
    RequireFaketime();
    testing::XinetdTimeServer xinetd("+5s");
    ASSERT_TRUE(xinetd.Ready()) << xinetd.Output();
    TcpTimeSource tcp(L"127.0.0.1");
    const Reading overTcp = Read(tcp);
    EXPECT_GT(overTcp.deviation, -kFiveSeconds - 1);
    EXPECT_LE(overTcp.deviation, -kFiveSeconds + kTimeTolerance + overTcp.elapsed + 1);
    UdpTimeSource udp(L"127.0.0.1");
    const Reading overUdp = Read(udp);
    EXPECT_GT(overUdp.deviation, -kFiveSeconds - 1);
    EXPECT_LE(overUdp.deviation, -kFiveSeconds + kTimeTolerance + overUdp.elapsed + 1);
}

TEST(ChronyPeer, UnicastReadsItsTimeToTheMillisecond) {
    testing::ChronyServer chrony;
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    NtpTimeSource ntp(L"127.0.0.1");
    const Reading reading = Read(ntp);
    EXPECT_GE(reading.deviation, -kNtpTolerance);
    EXPECT_LE(reading.deviation, reading.elapsed + kNtpTolerance);
    EXPECT_EQ(ntp.GetPeerName(), L"127.0.0.1");
}

TEST(ChronyPeer, UnicastReadsAKnownOffsetWithinAMillisecond) {
    RequireFaketime();
    testing::ChronyServer chrony("+5s");
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    for (int attempt = 0; attempt < 5; ++attempt) {
        NtpTimeSource ntp(L"127.0.0.1");
        const Reading reading = Read(ntp);
        const std::int64_t error = reading.deviation + kFiveSeconds;
        EXPECT_GE(error, -kNtpTolerance);
        EXPECT_LE(error, reading.elapsed + kNtpTolerance);
    }
}

TEST(ChronyPeer, BroadcastIsHeardWithItsOffset) {
    RequireFaketime();
    testing::ChronyBroadcaster chrony("+5s");
    ASSERT_TRUE(chrony.Ready()) << chrony.Output();
    // A reading includes the wait for the next broadcast, so no single one
    // says how late the listener took it; most of them are taken at once,
    // within what a loaded machine may hold chronyd between its timestamp
    // and its send (a fault in the fraction or the delay shows as far more).
    std::vector<std::int64_t> errors;
    for (int broadcast = 0; broadcast < 5; ++broadcast) {
        NtpTimeSource ntp(L"");
        const Reading reading = Read(ntp);
        errors.push_back(reading.deviation + kFiveSeconds);
        EXPECT_GE(errors.back(), -kNtpTolerance);
        EXPECT_LE(errors.back(), reading.elapsed + kNtpTolerance);
        EXPECT_EQ(ntp.GetDelay().Milliseconds(), 0);
        EXPECT_EQ(ntp.GetPeerName(), L"127.0.0.1");
    }
    constexpr std::int64_t kBroadcastLatencyTolerance = 10;  // ms
    EXPECT_LE(std::abs(Median(errors)), kBroadcastLatencyTolerance);
}

// The instant rdate printed (TZ=UTC, as "Mon Dec  7 20:21:21 UTC 2026"), or -1.
std::int64_t RdateSeconds(const std::string& output) {
    std::tm fields{};
    const char* end = strptime(output.c_str(), "%a %b %e %H:%M:%S UTC %Y", &fields);
    return end == nullptr ? -1 : static_cast<std::int64_t>(timegm(&fields));
}

std::int64_t UnixSeconds(const TimeValue& instant) {
    return instant.Minus(TimeValue(1970, 1, 1, 0, 0, 0, 0)).Milliseconds() / 1000;
}

testing::ProcessResult RunRdate() {
    testing::ProcessOptions options;
    options.environment["TZ"] = "UTC";
    options.timeout = std::chrono::seconds(20);
    return testing::RunProcess({"rdate", "-p", "-o", "37", "127.0.0.1"}, options);
}

TEST(RdatePeer, PrintsTheTimeOurServerSends) {
    testing::TimeServerThreadRunner server;
    ASSERT_TRUE(server.Listening());
    const std::int64_t before = UnixSeconds(TimeValue());
    const testing::ProcessResult rdate = RunRdate();
    const std::int64_t after = UnixSeconds(TimeValue());
    ASSERT_EQ(rdate.exitCode, 0) << rdate.standardError;
    const std::int64_t printed = RdateSeconds(rdate.standardOutput);
    EXPECT_GE(printed, before) << rdate.standardOutput;
    EXPECT_LE(printed, after) << rdate.standardOutput;
}

TEST(RdatePeer, ReadsOurServerPast2036) {
    const TimeValue in2040(2040, 3, 1, 12, 0, 0, 0);
    testing::FixedSystemTime clock(in2040);
    platform::ScopedFacility<platform::ClockFacility> clockScope(clock);
    testing::TimeServerThreadRunner server;
    ASSERT_TRUE(server.Listening());
    const testing::ProcessResult rdate = RunRdate();
    ASSERT_EQ(rdate.exitCode, 0) << rdate.standardError;
    EXPECT_EQ(RdateSeconds(rdate.standardOutput), UnixSeconds(in2040)) << rdate.standardOutput;
}

}  // namespace
}  // namespace kairovel
