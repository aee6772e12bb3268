#include <gmock/gmock.h>

#include "platform/facility.h"
#include "sources/ntp_client.h"
#include "support/loopback.h"
#include "support/raised.h"
#include "support/wide_regex.h"
#include "support/recording_logger.h"
#include "support/winsock_doubles.h"

namespace kairovel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::WideMatchesRegex;
using testing::kNtpPort;
using testing::NtpMessageBytes;
using testing::RaisedText;

constexpr std::uint32_t kExampleSeconds = 3'133'328'623;  // 1999-04-17 09:03:43 UTC
constexpr std::uint8_t kServerVersion1 = 0x0C;            // leap 0, version 1, mode 4

std::wstring UnicastText() {
    NtpTimeSource source(L"127.0.0.1");
    TimeValue now;
    source.GetTime(now);
    return now.Format();
}

TEST(NtpConversion, FractionBecomesTruncatedMilliseconds) {
    EXPECT_EQ(NtpFractionToMilliseconds(0x80000000), 500);
    EXPECT_EQ(NtpFractionToMilliseconds(0xFFFFFFFF), 999);
    EXPECT_EQ(NtpFractionToMilliseconds(0x00010000), 0);
    EXPECT_EQ(NtpFractionToMilliseconds(0x40000000), 250);
}

TEST(NtpTimeSource, SendsAVersionOneRequestAndTakesTheTransmitTime) {
    testing::ScopedRecordingLogger log;
    testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(kServerVersion1, 8, kExampleSeconds, 0x40000000)});
    NtpTimeSource source(L"127.0.0.1");
    TimeValue now;
    source.GetTime(now);
    EXPECT_EQ(now.Format(), L"1999/04/17 09:03:43.250");
    EXPECT_EQ(source.GetPeerName(), L"127.0.0.1");
    EXPECT_THAT(server.Requests(), ElementsAre(std::string("\x0B") + std::string(47, '\0')));
    EXPECT_THAT(log.Texts(LevelTrace),
                ElementsAre(L"127.0.0.1 sent NTP message (little-endian): header=0x0c080000, "
                            L"transmit_ts=(3133328623.1073741824)."));
}

TEST(NtpTimeSource, UnsynchronisedServerIsReportedAndRefused) {
    testing::ScopedRecordingLogger log;
    testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(0xDC, 2, kExampleSeconds, 0)});
    EXPECT_EQ(RaisedText(UnicastText), L"NTP time is not of sufficient quality");
    EXPECT_THAT(log.Texts(LevelError),
                ElementsAre(L"Received NTP message has following information in the header. Leap Indicator = alarm "
                            L"condition (clock not synchronized); Mode = server; Stratum = 2"));
}

TEST(NtpTimeSource, StratumZeroAndZeroTransmitTimeAreRefused) {
    {
        testing::ScopedRecordingLogger log;
        testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(kServerVersion1, 0, kExampleSeconds, 0)});
        EXPECT_EQ(RaisedText(UnicastText), L"NTP time is not of sufficient quality");
        EXPECT_THAT(log.Texts(LevelError),
                    ElementsAre(L"Received NTP message has following information in the header. Leap Indicator = ok; "
                                L"Mode = server; Stratum = 0"));
    }
    {
        testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(kServerVersion1, 8, 0, 0x80000000)});
        EXPECT_EQ(RaisedText(UnicastText), L"NTP time is not of sufficient quality");
    }
}

TEST(NtpTimeSource, ModeAndVersionAreNotTested) {
    testing::ScopedRecordingLogger log;
    testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(0x07, 3, kExampleSeconds, 0xFFFFFFFF)});
    EXPECT_EQ(UnicastText(), L"1999/04/17 09:03:43.999");
    EXPECT_THAT(log.Texts(LevelError), IsEmpty());
}

TEST(NtpTimeSource, ShortDatagramsAreJoinedAndLongOnesReadForTheirHeader) {
    const std::string message = NtpMessageBytes(kServerVersion1, 8, kExampleSeconds, 0x80000000);
    {
        testing::ScriptedUdpServer halves(kNtpPort, {message.substr(0, 24), message.substr(24)});
        EXPECT_EQ(UnicastText(), L"1999/04/17 09:03:43.500");
    }
    {
        // Extension fields or a MAC after the 48 bytes: the header is whole, the rest unused.
        testing::ScriptedUdpServer withMac(kNtpPort, {message + std::string(20, '\x5A')});
        EXPECT_EQ(UnicastText(), L"1999/04/17 09:03:43.500");
    }
    {
        // A datagram far longer than any buffer of the message.
        testing::ScriptedUdpServer huge(kNtpPort, {message + std::string(1500, '\x5A')});
        EXPECT_EQ(UnicastText(), L"1999/04/17 09:03:43.500");
    }
    {
        testing::ScriptedUdpServer empty(kNtpPort, {""});
        EXPECT_EQ(RaisedText(UnicastText), L"NTP server closed socket unexpectedly");
    }
}

TEST(NtpTimeSource, SilentServerFailsAfterTheReceiveTimeOut) {
    testing::ShortReceiveTimeout shortTimeout;
    platform::ScopedFacility<platform::WinsockFacility> scope(shortTimeout);
    testing::ScriptedUdpServer silent(kNtpPort, {});
    EXPECT_EQ(RaisedText(UnicastText), L"Error 10060 on receiving NTP request");
    EXPECT_THAT(shortTimeout.Asked(), ElementsAre(120'000u));
}

TEST(NtpTimeSource, BroadcastModeListensOnTheNtpPortAndNamesTheSender) {
    testing::ScopedRecordingLogger log;
    const testing::RepeatingUdpSender broadcaster(kNtpPort, NtpMessageBytes(0x25, 4, kExampleSeconds, 0x80000000));
    NtpTimeSource source(L"");
    TimeValue now;
    source.GetTime(now);
    EXPECT_EQ(now.Format(), L"1999/04/17 09:03:43.500");
    EXPECT_EQ(source.GetDelay().Milliseconds(), 0);
    EXPECT_EQ(source.GetPeerName(), L"127.0.0.1");
    EXPECT_THAT(log.Texts(LevelTrace), ElementsAre(WideMatchesRegex("127\\.0\\.0\\.1 sent NTP message .*")));
}

}  // namespace
}  // namespace kairovel
