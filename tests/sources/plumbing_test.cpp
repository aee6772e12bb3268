#include <gmock/gmock.h>

#include "platform/facility.h"
#include "sources/ntp_client.h"
#include "sources/plumbing.h"
#include "sources/socket_layer.h"
#include "sources/time_protocol_clients.h"
#include "support/loopback.h"
#include "support/raised.h"
#include "support/wide_regex.h"
#include "support/recording_logger.h"
#include "support/winsock_doubles.h"

namespace kairovel {
namespace {

using ::testing::ElementsAre;
using testing::WideMatchesRegex;
using testing::RaisedText;

std::wstring TimeText(std::uint32_t seconds) {
    TimeValue out(1, 1, 1, 0, 0, 0, 0);
    TimeFromSeconds1900(seconds, out);
    return out.Format();
}

TEST(TimeFromSeconds1900, GivesTheCalendarOfTheCount) {
    EXPECT_EQ(TimeText(2'840'140'800), L"1990/01/01 00:00:00.000");
    EXPECT_EQ(TimeText(3'155'673'600), L"2000/01/01 00:00:00.000");
    EXPECT_EQ(TimeText(3'160'771'200), L"2000/02/29 00:00:00.000");
    EXPECT_EQ(TimeText(3'133'328'623), L"1999/04/17 09:03:43.000");
    EXPECT_EQ(TimeText(4'294'967'295), L"2036/02/07 06:28:15.000");
    EXPECT_EQ(RaisedText([] { TimeText(0); }), L"Illegal seconds value of 0 received");
}

TEST(TimeFromSeconds1900, CountsBelow1990BelongToTheNextEra) {
    // The count wraps at 2036-02-07 06:28:16; the seconds after it go on in order.
    EXPECT_EQ(TimeText(1), L"2036/02/07 06:28:17.000");
    EXPECT_EQ(TimeText(86'400), L"2036/02/08 06:28:16.000");
    TimeValue before(1, 1, 1, 0, 0, 0, 0);
    TimeValue after(1, 1, 1, 0, 0, 0, 0);
    TimeFromSeconds1900(4'294'967'295, before);
    TimeFromSeconds1900(1, after);
    EXPECT_EQ(after.Minus(before).Milliseconds(), 2'000);
    // The last count of the next era is 1990 plus 2^32 seconds, exactly.
    TimeValue last(1, 1, 1, 0, 0, 0, 0);
    TimeFromSeconds1900(kEraPivotSeconds - 1, last);
    EXPECT_EQ(last.Minus(TimeValue(1900, 1, 1, 0, 0, 0, 0)).Milliseconds(),
              (std::int64_t{kEraPivotSeconds} - 1 + (std::int64_t{1} << 32)) * 1000);
    EXPECT_EQ(last.Format(), L"2126/02/07 06:28:15.000");
}

TEST(SocketLayer, StartsWinsockOnceForEveryHolderAndCleansUpAfterTheLast) {
    testing::CountingWinsock counting;
    platform::ScopedFacility<platform::WinsockFacility> scope(counting);
    {
        TcpTimeSource first(L"127.0.0.1");
        EXPECT_EQ(counting.startups, 1);
        EXPECT_EQ(counting.lastVersion, 0x0101);
        {
            UdpTimeSource second(L"127.0.0.1");
            NtpTimeSource third(L"");
            EXPECT_EQ(counting.startups, 1);
        }
        EXPECT_EQ(counting.cleanups, 0);
    }
    EXPECT_EQ(counting.cleanups, 1);
    { const SocketLayerReference again; }
    EXPECT_EQ(counting.startups, 2);
    EXPECT_EQ(counting.cleanups, 2);
}

TEST(SocketLayer, FailedStartupIsLoggedAndTheFirstSocketCallSaysWhy) {
    testing::ScopedRecordingLogger log;
    testing::CountingWinsock counting;
    counting.failStartupWith = platform::WSASYSNOTREADY;
    platform::ScopedFacility<platform::WinsockFacility> scope(counting);
    EXPECT_EQ(SocketsStartup(), 0);
    EXPECT_THAT(log.Texts(LevelError),
                ElementsAre(L"Error 10091 occured during WSAStartup. This is required for all socket calls."));
    OwnedSocket socket;
    EXPECT_EQ(RaisedText([&] { CreateSocket(platform::SOCK_STREAM, socket); }),
              L"Could not create socket. Error 10093 occurred during socket call.");
    SocketsCleanup();
}

TEST(LookupService, PortsComeFromTheServiceDatabase) {
    const SocketLayerReference layer;
    EXPECT_EQ(LookupService("time", "tcp"), platform::htons(37));
    EXPECT_EQ(LookupService("time", "udp"), platform::htons(37));
    EXPECT_EQ(LookupService("ntp", "udp"), platform::htons(123));
    EXPECT_EQ(RaisedText([] { LookupService("no-such-service", "udp"); }),
              L"Error 11004 from getservbyname on no-such-service/udp");
}

TEST(LookupService, AMissingEntryFailsEveryAttemptThereIsNoDefaultPort) {
    testing::MissingService missing("ntp", "udp");
    platform::ScopedFacility<platform::WinsockFacility> scope(missing);
    NtpTimeSource source(L"127.0.0.1");
    TimeValue now;
    EXPECT_EQ(RaisedText([&] { source.GetTime(now); }), L"Error 11004 from getservbyname on ntp/udp");
    testing::MissingService missingTime("time", "tcp");
    platform::ScopedFacility<platform::WinsockFacility> scopeTime(missingTime);
    EXPECT_EQ(RaisedText([] { TcpTimeSource tcp(L"127.0.0.1"); }), L"Error 11004 from getservbyname on time/tcp");
}

TEST(ResolveHost, DottedAddressesNeedNoLookup) {
    testing::CountingWinsock counting;
    platform::ScopedFacility<platform::WinsockFacility> scope(counting);
    const SocketLayerReference layer;
    EXPECT_EQ(ResolveHost("192.168.1.5"), platform::htonl(0xC0A80105));
    EXPECT_EQ(counting.hostLookups, 0);
    EXPECT_EQ(ResolveHost("localhost"), platform::htonl(0x7F000001));
    EXPECT_EQ(counting.hostLookups, 1);
    // All ones reads as "no address" and goes to the host database, which knows it.
    EXPECT_EQ(ResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(counting.hostLookups, 2);
}

// Within a pass (a LookupCache in force) each name and service is looked up
// once, whatever the number of samples; without one, every time.
TEST(LookupCache, APassLooksEachNameAndServiceUpOnce) {
    testing::CountingWinsock counting;
    platform::ScopedFacility<platform::WinsockFacility> scope(counting);
    const SocketLayerReference layer;
    {
        const LookupCache pass;
        const LookupCache source;  // joins the pass's
        for (int sample = 0; sample < 5; ++sample) {
            EXPECT_EQ(ResolveHost("localhost"), platform::htonl(0x7F000001));
            EXPECT_EQ(LookupService("ntp", "udp"), platform::htons(123));
        }
        EXPECT_EQ(LookupService("time", "tcp"), platform::htons(37));
    }
    EXPECT_EQ(counting.hostLookups, 1);
    EXPECT_EQ(counting.serviceLookups, 2);
    ResolveHost("localhost");
    EXPECT_EQ(counting.hostLookups, 2);
}

TEST(ResolveHost, UnknownHostsNameTheHostAndTheCode) {
    const SocketLayerReference layer;
    EXPECT_THAT(RaisedText([] { ResolveHost("no-such-host.invalid"); }),
                WideMatchesRegex("Could not resolve no-such-host\\.invalid\\. Error 1100[1-4] from gethostbyname\\."));
    // A long name is used whole, never cut to fit a buffer.
    const std::wstring longName = L"a-host-name-that-is-longer-than-thirty-nine-bytes.invalid";
    EXPECT_THAT(RaisedText([&] { TcpTimeSource tcp(longName); }),
                WideMatchesRegex("Could not resolve " + std::string(longName.begin(), longName.end()) + ".*"));
}

TEST(ConnectSocket, RefusedConnectionCarriesTheWinsockCode) {
    TcpTimeSource source(L"127.0.0.1");
    TimeValue now;
    EXPECT_EQ(RaisedText([&] { source.GetTime(now); }),
              L"Could not connect socket. Error 10061 occurred during connect call.");
}

TEST(BindSocket, PortInUseCarriesTheWinsockCode) {
    const SocketLayerReference layer;
    const int taken = testing::ListenOnTcpPort(4000);
    ASSERT_GE(taken, 0);
    OwnedSocket socket;
    CreateSocket(platform::SOCK_STREAM, socket);
    EXPECT_EQ(RaisedText([&] { BindSocket(socket, SocketAddress(platform::INADDR_ANY, platform::htons(4000))); }),
              L"Could not bind socket to address. Error 10048 occurred during bind call.");
    testing::CloseDescriptor(taken);
}

}  // namespace
}  // namespace kairovel
