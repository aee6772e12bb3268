// The NT source through the real libnetapi against Samba's smbd on
// 127.0.0.1: the time of day read anonymously and with an account, a known
// clock offset (libfaketime in smbd alone), a server that is not there or
// has restarted, and the controller lookup answered by the local machine.
#include <gmock/gmock.h>

#include <chrono>
#include <fstream>
#include <string>

#include "platform/facility.h"
#include "platform/posix/samba_netapi.h"
#include "sources/nt_time_source.h"
#include "support/peers.h"
#include "support/raised.h"
#include "support/recording_logger.h"
#include "support/temporary_directory.h"
#include "support/wide_regex.h"

namespace kairovel {
namespace {

using ::testing::ElementsAre;
using testing::RaisedText;
using testing::WideMatchesRegex;

constexpr std::int64_t kFiveSeconds = 5'000;     // ms, the peer's known offset
constexpr std::int64_t kWholeSecond = 1'000;     // ms: Samba tells whole seconds
constexpr std::int64_t kMiddleOfHundredth = 5;   // ms added to the reported hundredth
// ms: a first call sets up the session and may wait for Samba to start its RPC
// worker; on a busy machine that has taken more than a second.
constexpr std::int64_t kLongestLoopbackCall = 10'000;

// One reading: local time minus the source's time, and how long the call and
// the reading of the local clock took together (ms). The server read its
// clock within that time, so the reading can be late by no more than it.
struct Reading {
    std::int64_t deviation = 0;
    double elapsed = 0;
};

Reading Read(NtTimeSource& source) {
    const auto start = std::chrono::steady_clock::now();
    TimeValue remote;
    source.GetTime(remote);
    const std::int64_t deviation = TimeValue().Minus(remote).Milliseconds();
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    return {deviation, elapsed.count()};
}

// The reading is the start of the server's second plus 5 ms, taken during the call.
void ExpectWithinTheServersSecond(const Reading& reading, std::int64_t offset, const NtTimeSource& source) {
    const std::int64_t delay = source.GetDelay().Milliseconds();
    EXPECT_GE(reading.deviation + offset, -kMiddleOfHundredth - 1);
    EXPECT_LE(reading.deviation + offset, kWholeSecond + reading.elapsed);
    EXPECT_GE(delay, 0);
    EXPECT_LT(delay, kLongestLoopbackCall);
}

std::size_t OutstandingBuffers() {
    auto& management = dynamic_cast<platform::SambaNetworkManagement&>(
        platform::DefaultFacility<platform::NetworkManagementFacility>());
    return management.OutstandingBuffers();
}

std::wstring TimeError(const std::wstring& name) {
    return RaisedText([&] {
        NtTimeSource source(name);
        TimeValue now;
        source.GetTime(now);
    });
}

TEST(SambaPeer, AMachineNameReadsItsTimeWithinTheSecond) {
    testing::ScopedRecordingLogger log;
    testing::SambaServer samba;
    ASSERT_TRUE(samba.Ready()) << samba.Output() << samba.RpcServerOutput();
    for (const std::wstring name : {L"\\\\127.0.0.1", L"\\\\localhost"}) {
        NtTimeSource source(name);
        ExpectWithinTheServersSecond(Read(source), 0, source);
        EXPECT_EQ(source.GetPeerName(), name);
    }
    EXPECT_THAT(log.Texts(LevelTrace),
                ElementsAre(WideMatchesRegex("\\\\\\\\127\\.0\\.0\\.1 sent buffer with "
                                             "[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.005 "
                                             "after [0-9]+ msecs\\."),
                            WideMatchesRegex("\\\\\\\\localhost sent buffer with .*\\.005 after [0-9]+ msecs\\.")));
    EXPECT_EQ(OutstandingBuffers(), 0u);
}

TEST(SambaPeer, AKnownClockOffsetIsRead) {
    if (testing::FaketimeLibrary().empty()) GTEST_SKIP() << "libfaketime is not installed";
    testing::SambaOptions options;
    options.clockOffset = "+5s";
    testing::SambaServer samba(options);
    ASSERT_TRUE(samba.Ready()) << samba.Output() << samba.RpcServerOutput();
    NtTimeSource source(L"\\\\127.0.0.1");
    ExpectWithinTheServersSecond(Read(source), kFiveSeconds, source);
}

TEST(SambaPeer, AMissingServerFailsAndIsReadOnceItIsThere) {
    EXPECT_EQ(TimeError(L"\\\\127.0.0.1"),
              L"Could not get the time from \\\\127.0.0.1. Error 1003 returned by NetRemoteTOD.");
    testing::SambaServer samba;
    ASSERT_TRUE(samba.Ready()) << samba.Output() << samba.RpcServerOutput();
    NtTimeSource source(L"\\\\127.0.0.1");
    ExpectWithinTheServersSecond(Read(source), 0, source);
}

TEST(SambaPeer, ARestartedServerIsReadAtOnce) {
    {
        testing::SambaServer first;
        ASSERT_TRUE(first.Ready()) << first.Output() << first.RpcServerOutput();
        NtTimeSource source(L"\\\\127.0.0.1");
        ExpectWithinTheServersSecond(Read(source), 0, source);
    }
    testing::SambaServer second;
    ASSERT_TRUE(second.Ready()) << second.Output() << second.RpcServerOutput();
    NtTimeSource source(L"\\\\127.0.0.1");  // the session kept from the first server is dead
    ExpectWithinTheServersSecond(Read(source), 0, source);
    EXPECT_EQ(OutstandingBuffers(), 0u);
}

TEST(SambaPeer, AServerThatRefusesAnonymousSessionsIsReadWithTheConfiguredAccount) {
    testing::SambaOptions options;
    options.rootPassword = "Time-0f-day";
    testing::SambaServer samba(options);
    ASSERT_TRUE(samba.Ready()) << samba.Output() << samba.RpcServerOutput();
    EXPECT_EQ(TimeError(L"\\\\127.0.0.1"),
              L"Could not get the time from \\\\127.0.0.1. Error 1003 returned by NetRemoteTOD.");

    const testing::TemporaryDirectory folder;
    const auto account = folder / "account";
    const testing::ScopedEnvironment setting("KAIROVEL_NETAPI_CREDENTIALS", account.string());
    std::ofstream(account) << "# the account the time of day is read with\nusername = root\npassword = wrong\n";
    // A password others may read is no secret: refused before any logon.
    std::filesystem::permissions(account, std::filesystem::perms::owner_read | std::filesystem::perms::others_read);
    EXPECT_EQ(TimeError(L"\\\\127.0.0.1"),
              L"Could not get the time from \\\\127.0.0.1. Error 5 returned by NetRemoteTOD.");
    std::filesystem::permissions(account, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(TimeError(L"\\\\127.0.0.1"),
              L"Could not get the time from \\\\127.0.0.1. Error 1003 returned by NetRemoteTOD.");
    std::ofstream(account) << "username = root\npassword = Time-0f-day\ndomain = " << testing::kSambaWorkgroup << "\n";
    NtTimeSource source(L"\\\\127.0.0.1");
    ExpectWithinTheServersSecond(Read(source), 0, source);
}

TEST(SambaPeer, TheControllerLookupIsAnsweredByTheLocalMachine) {
    // Without a server on this machine the lookup cannot be made at all.
    EXPECT_EQ(TimeError(L"CORP"),
              L"Could not get the name of the PDC of CORP.  Error 1003 returned by NetGetDCName.");
    // smbd as the primary domain controller of its workgroup answers the
    // lookup; with no name service on loopback it finds no controller.
    testing::SambaOptions options;
    options.domainController = true;
    testing::SambaServer samba(options);
    ASSERT_TRUE(samba.Ready()) << samba.Output() << samba.RpcServerOutput();
    EXPECT_EQ(TimeError(L"KAIROVEL"),
              L"Could not get the name of the PDC of KAIROVEL.  Error 2453 returned by NetGetDCName.");
    EXPECT_EQ(TimeError(L""),
              L"Could not get the name of the PDC of my domain.  Error 2453 returned by NetGetDCName.");
    EXPECT_EQ(OutstandingBuffers(), 0u);
}

}  // namespace
}  // namespace kairovel
