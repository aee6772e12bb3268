#include <gmock/gmock.h>

#include "platform/facility.h"
#include "platform/sim/simulated_clock.h"
#include "sources/time_protocol_clients.h"
#include "support/loopback.h"
#include "support/raised.h"
#include "support/wide_regex.h"
#include "support/recording_logger.h"
#include "support/temporary_directory.h"
#include "support/winsock_doubles.h"

namespace kairovel {
namespace {

using ::testing::ElementsAre;
using testing::WideMatchesRegex;
using testing::RaisedText;
using testing::kTimePort;

constexpr std::uint32_t kExampleSeconds = 3'133'328'623;  // 1999-04-17 09:03:43 UTC, BA C2 CC EF

std::wstring TcpText() {
    TcpTimeSource source(L"127.0.0.1");
    TimeValue now;
    source.GetTime(now);
    return now.Format();
}

std::wstring UdpText() {
    UdpTimeSource source(L"127.0.0.1");
    TimeValue now;
    source.GetTime(now);
    return now.Format();
}

TEST(TcpTimeSource, ReadsTheFourBytesAndTracesThemAsTheyLay) {
    testing::ScopedRecordingLogger log;
    const testing::ScriptedTcpServer server(kTimePort, testing::TimeReplyBytes(kExampleSeconds));
    TcpTimeSource source(L"127.0.0.1");
    EXPECT_EQ(source.GetPeerName(), L"127.0.0.1");
    TimeValue now;
    source.GetTime(now);
    EXPECT_EQ(now.Format(), L"1999/04/17 09:03:43.000");
    EXPECT_GE(source.GetDelay().Milliseconds(), 0);
    EXPECT_LT(source.GetDelay().Milliseconds(), 1000);
    EXPECT_THAT(log.Texts(LevelTrace),
                ElementsAre(WideMatchesRegex("127\\.0\\.0\\.1 sent TIME message \\(in network byte-order\\) 4023173818 "
                                         "after [0-9]+ msecs\\.")));
}

TEST(TcpTimeSource, RefusesEveryReplyButFourBytesInOneReceive) {
    {
        const testing::ScriptedTcpServer acceptAndClose(kTimePort, "");
        EXPECT_EQ(RaisedText(TcpText), L"Data received from remote machine is invalid. Received 0 instead of 4 bytes.");
    }
    {
        const testing::ScriptedTcpServer twoBytes(kTimePort, "\xBA\xC2");
        EXPECT_EQ(RaisedText(TcpText), L"Data received from remote machine is invalid. Received 2 instead of 4 bytes.");
    }
    {
        const testing::ScriptedTcpServer zeros(kTimePort, std::string(4, '\0'));
        EXPECT_EQ(RaisedText(TcpText), L"Illegal seconds value of 0 received");
    }
    {
        // One receive asks for 4 bytes: a fifth byte stays unread.
        const testing::ScriptedTcpServer fiveBytes(kTimePort, testing::TimeReplyBytes(kExampleSeconds) + "\x01");
        EXPECT_EQ(TcpText(), L"1999/04/17 09:03:43.000");
    }
}

TEST(TcpTimeSource, ServerThatNeverSendsIsGivenUpAfterTheReceiveTimeOut) {
    testing::ShortReceiveTimeout shortTimeout;
    platform::ScopedFacility<platform::WinsockFacility> scope(shortTimeout);
    const testing::ScriptedTcpServer silent(kTimePort, "", /*holdOpen=*/true);
    TcpTimeSource source(L"127.0.0.1");
    TimeValue now;
    EXPECT_EQ(RaisedText([&] { source.GetTime(now); }),
              L"Could not receive data on socket. Error 10060 occurred during recv call.");
    EXPECT_THAT(shortTimeout.Asked(), ElementsAre(60'000u));
    EXPECT_GE(source.GetDelay().Milliseconds(), 250);  // the delay of the failed receive is kept
}

TEST(UdpTimeSource, SendsAnEmptyDatagramAndReadsTheReply) {
    testing::ScopedRecordingLogger log;
    testing::ScriptedUdpServer server(kTimePort, {testing::TimeReplyBytes(kExampleSeconds)});
    UdpTimeSource source(L"127.0.0.1");
    TimeValue now;
    source.GetTime(now);
    EXPECT_EQ(now.Format(), L"1999/04/17 09:03:43.000");
    EXPECT_EQ(source.GetPeerName(), L"");
    EXPECT_THAT(server.Requests(), ElementsAre(""));
    EXPECT_THAT(log.Texts(LevelTrace),
                ElementsAre(WideMatchesRegex("127\\.0\\.0\\.1 sent UDP TIME message \\(in network byte-order\\) "
                                         "4023173818 after [0-9]+ msecs\\.")));
}

TEST(UdpTimeSource, MalformedRepliesAreRefused) {
    {
        testing::ScriptedUdpServer empty(kTimePort, {""});
        EXPECT_EQ(RaisedText(UdpText), L"Time server closed UDP socket unexpectedly");
    }
    {
        // A short reply would be a count with its low bytes missing: years off.
        testing::ScriptedUdpServer twoBytes(kTimePort, {"\xBA\xC2"});
        EXPECT_EQ(RaisedText(UdpText), L"Data received from remote machine is invalid. Received 2 instead of 4 bytes.");
    }
    {
        testing::ScriptedUdpServer tooLong(kTimePort, {testing::TimeReplyBytes(kExampleSeconds) + "\x01"});
        EXPECT_EQ(RaisedText(UdpText), L"Error 10040 on receiving UDP Time request");
    }
    {
        testing::ScriptedUdpServer zeros(kTimePort, {std::string(4, '\0')});
        EXPECT_EQ(RaisedText(UdpText), L"Illegal seconds value of 0 received");
    }
}

TEST(UdpTimeSource, NoServerAndSilentServerFailWithTheirCodes) {
    // Nobody on the port: the system's "port unreachable" arrives as a reset, as on Windows.
    EXPECT_EQ(RaisedText(UdpText), L"Error 10054 on receiving UDP Time request");

    testing::ShortReceiveTimeout shortTimeout;
    platform::ScopedFacility<platform::WinsockFacility> scope(shortTimeout);
    testing::ScriptedUdpServer silent(kTimePort, {});
    EXPECT_EQ(RaisedText(UdpText), L"Error 10060 on receiving UDP Time request");
    EXPECT_THAT(shortTimeout.Asked(), ElementsAre(60'000u));
}

TEST(UdpTimeSource, AResetIsReportedWithItsOwnCodeAcrossTheClockRead) {
    // The client reads the clock for the delay between the failed receive and
    // its question for the code; on a simulated clock that read goes through a
    // state file, and must leave the code alone as Windows' clock reads do.
    const testing::TemporaryDirectory root;
    platform::SimulatedClock clock(root.path() / "simulated-clock.state");
    ASSERT_TRUE(clock.Configure(250.0, 12.0));
    const platform::ScopedFacility<platform::ClockFacility> useClock(clock);
    EXPECT_EQ(RaisedText(UdpText), L"Error 10054 on receiving UDP Time request");
}

}  // namespace
}  // namespace kairovel
