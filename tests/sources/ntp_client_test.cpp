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
constexpr bool kCopyOrigin = true;                        // the scripted server answers the request

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
    testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(kServerVersion1, 8, kExampleSeconds, 0x40000000)},
                                      kCopyOrigin);
    NtpTimeSource source(L"127.0.0.1");
    TimeValue now;
    source.GetTime(now);
    EXPECT_EQ(now.Format(), L"1999/04/17 09:03:43.250");
    EXPECT_EQ(source.GetPeerName(), L"127.0.0.1");
    EXPECT_THAT(log.Texts(LevelTrace),
                ElementsAre(L"127.0.0.1 sent NTP message (little-endian): header=0x0c080000, "
                            L"transmit_ts=(3133328623.1073741824)."));

    // 0B and zeros, but for a transmit timestamp that no one can foretell.
    UnicastText();
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const std::string& request : requests) {
        ASSERT_EQ(request.size(), 48u);
        EXPECT_EQ(request.substr(0, 40), std::string("\x0B") + std::string(39, '\0'));
        EXPECT_NE(request.substr(40), std::string(8, '\0'));
    }
    EXPECT_NE(requests[0].substr(40), requests[1].substr(40));
}

TEST(NtpTimeSource, UnsynchronisedServerIsReportedAndRefused) {
    testing::ScopedRecordingLogger log;
    testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(0xDC, 2, kExampleSeconds, 0)}, kCopyOrigin);
    EXPECT_EQ(RaisedText(UnicastText), L"NTP time is not of sufficient quality");
    EXPECT_THAT(log.Texts(LevelError),
                ElementsAre(L"Received NTP message has following information in the header. Leap Indicator = alarm "
                            L"condition (clock not synchronized); Mode = server; Stratum = 2"));
}

TEST(NtpTimeSource, StratumZeroSixteenAndZeroTransmitTimeAreRefused) {
    {
        testing::ScopedRecordingLogger log;
        testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(kServerVersion1, 0, kExampleSeconds, 0)},
                                          kCopyOrigin);
        EXPECT_EQ(RaisedText(UnicastText), L"NTP time is not of sufficient quality");
        EXPECT_THAT(log.Texts(LevelError),
                    ElementsAre(L"Received NTP message has following information in the header. Leap Indicator = ok; "
                                L"Mode = server; Stratum = 0"));
    }
    for (const std::uint8_t stratum : {16, 17}) {
        testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(kServerVersion1, stratum, kExampleSeconds, 0)},
                                          kCopyOrigin);
        EXPECT_EQ(RaisedText(UnicastText), L"NTP time is not of sufficient quality");
    }
    {
        testing::ScriptedUdpServer server(kNtpPort, {NtpMessageBytes(kServerVersion1, 8, 0, 0x80000000)}, kCopyOrigin);
        EXPECT_EQ(RaisedText(UnicastText), L"NTP time is not of sufficient quality");
    }
}

// Only a server's reply is taken: a client's request or a message of any
// other mode is let go with a trace line. The version is not tested.
TEST(NtpTimeSource, OnlyAServersReplyIsTakenWhateverItsVersion) {
    testing::ScopedRecordingLogger log;
    const std::string client = NtpMessageBytes(0x03, 3, kExampleSeconds - 30, 0);
    const std::string reserved = NtpMessageBytes(0x07, 3, kExampleSeconds - 30, 0);
    testing::ScriptedUdpServer server(
        kNtpPort, {client, reserved, NtpMessageBytes(0x04, 3, kExampleSeconds, 0xFFFFFFFF)}, kCopyOrigin);
    EXPECT_EQ(UnicastText(), L"1999/04/17 09:03:43.999");  // version 0, mode 4
    EXPECT_THAT(log.Texts(LevelTrace),
                ::testing::Contains(L"Ignored an NTP message from 127.0.0.1 in mode client: no server sent it."));
    EXPECT_THAT(log.Texts(LevelError), IsEmpty());
}

TEST(NtpTimeSource, EachDatagramIsAMessageOfItsOwn) {
    const std::string message = NtpMessageBytes(kServerVersion1, 8, kExampleSeconds, 0x80000000);
    {
        // Stray bytes before the reply are let go, never read as its start.
        testing::ScopedRecordingLogger log;
        testing::ScriptedUdpServer stray(kNtpPort, {std::string(10, '\x17'), message}, kCopyOrigin);
        EXPECT_EQ(UnicastText(), L"1999/04/17 09:03:43.500");
        EXPECT_THAT(log.Texts(LevelTrace).front(),
                    WideMatchesRegex("Ignored a datagram of 10 bytes from 127\\.0\\.0\\.1.*"));
    }
    {
        // Extension fields or a MAC after the 48 bytes: the header is whole, the rest unused.
        testing::ScriptedUdpServer withMac(kNtpPort, {message + std::string(1500, '\x5A')}, kCopyOrigin);
        EXPECT_EQ(UnicastText(), L"1999/04/17 09:03:43.500");
    }
    {
        // Two halves are two short datagrams, not one message: the wait goes on and ends in the time-out.
        testing::ShortReceiveTimeout shortTimeout;
        platform::ScopedFacility<platform::WinsockFacility> scope(shortTimeout);
        testing::ScriptedUdpServer halves(kNtpPort, {message.substr(0, 24), message.substr(24)}, kCopyOrigin);
        EXPECT_EQ(RaisedText(UnicastText), L"Error 10060 on receiving NTP request");
    }
    {
        testing::ScriptedUdpServer empty(kNtpPort, {""});
        EXPECT_EQ(RaisedText(UnicastText), L"NTP server closed socket unexpectedly");
    }
}

TEST(NtpTimeSource, OnlyAReplyToItsOwnRequestIsTaken) {
    // A forger, or a reply to an earlier request, does not carry this request's transmit timestamp back.
    constexpr std::uint64_t kOtherOrigin = 0xE1A2B3C4'D5E6F708;
    const std::string forged = NtpMessageBytes(kServerVersion1, 1, kExampleSeconds - 86'400, 0, kOtherOrigin);
    const std::string genuine = NtpMessageBytes(kServerVersion1, 8, kExampleSeconds, 0x80000000);
    {
        testing::ScopedRecordingLogger log;
        testing::ScriptedUdpServer server(kNtpPort, {forged, genuine}, kCopyOrigin);
        EXPECT_EQ(UnicastText(), L"1999/04/17 09:03:43.500");
        EXPECT_THAT(log.Texts(LevelTrace).front(),
                    WideMatchesRegex("Ignored an NTP message from 127\\.0\\.0\\.1 that does not answer.*"));
    }
    {
        testing::ShortReceiveTimeout shortTimeout;
        platform::ScopedFacility<platform::WinsockFacility> scope(shortTimeout);
        testing::ScriptedUdpServer forger(kNtpPort, {forged, NtpMessageBytes(kServerVersion1, 8, kExampleSeconds, 0)});
        EXPECT_EQ(RaisedText(UnicastText), L"Error 10060 on receiving NTP request");
        // The wait after a datagram let go is what is left of the one time-out, not a new one.
        const std::vector<std::uint32_t> asked = shortTimeout.Asked();
        ASSERT_EQ(asked.size(), 3u);
        EXPECT_EQ(asked[0], 120'000u);
        EXPECT_LE(asked[2], asked[1]);
        EXPECT_LE(asked[1], 120'000u);
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
