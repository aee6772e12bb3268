// Time acquisition with scripted sources on a virtual clock.
#include "sync/acquisition.h"

#include <gmock/gmock.h>

#include "sources/nt_time_source.h"
#include "sources/ntp_client.h"
#include "sources/time_protocol_clients.h"
#include "support/raised.h"
#include "sync_fixture.h"

namespace kairovel::testing {
namespace {

using ::testing::ElementsAre;

struct Queried {
    std::int64_t deviationSum = 0;
    std::uint32_t replies = 0;
    std::uint32_t delaySum = 12345;  // QuerySource sets it to 0 itself
};

class AcquisitionTest : public SyncTest {
protected:
    Queried Query(const std::wstring& descriptor) {
        Queried q;
        QuerySource(descriptor, q.deviationSum, q.replies, q.delaySum);
        return q;
    }
};

TEST(SourceDescriptor, SampleCountsAndAttemptLimits) {
    struct Case {
        const wchar_t* descriptor;
        std::uint32_t samples;
        std::uint32_t attempts;
    };
    const Case cases[] = {
        {L"T,host", 5, 5},      {L"T,host,0", 1, 2},   {L"T,host,1", 1, 2},  {L"T,host,3", 3, 6},
        {L"T,host,4", 4, 4},    {L"T,host,5", 5, 5},   {L"T,host,20", 20, 20}, {L"T,host,50", 20, 20},
        {L"T,host,-1", 20, 20}, {L"T,host, +3x", 3, 6}, {L"T,host,abc", 1, 2}, {L"T,host,99999999999", 20, 20},
        {L"T,host,", 1, 2},
    };
    for (const Case& c : cases) {
        const SourceRequest request = ParseSourceDescriptor(c.descriptor);
        EXPECT_EQ(request.name, L"host") << c.descriptor;
        EXPECT_EQ(request.samples, c.samples) << c.descriptor;
        EXPECT_EQ(request.attempts, c.attempts) << c.descriptor;
    }
}

TEST(SourceDescriptor, KindsNamesAndIllegalPrefixes) {
    EXPECT_EQ(ParseSourceDescriptor(L"D,").kind, SourceKind::Domain);
    EXPECT_EQ(ParseSourceDescriptor(L"D,").name, L"");
    EXPECT_EQ(ParseSourceDescriptor(L"L,\\\\srv").kind, SourceKind::NtMachine);
    EXPECT_EQ(ParseSourceDescriptor(L"N,").kind, SourceKind::NtpMachine);
    EXPECT_EQ(ParseSourceDescriptor(L"U,a,b,3").kind, SourceKind::UdpMachine);
    EXPECT_EQ(ParseSourceDescriptor(L"U,a,b,3").name, L"a");  // the text after the first comma is the count
    EXPECT_EQ(RaisedText([] { ParseSourceDescriptor(L"X,host,3"); }),
              L"Illegal source X,host,3; type could not be determined");
    EXPECT_EQ(RaisedText([] { ParseSourceDescriptor(L"t,host"); }), L"Illegal source t,host; type could not be determined");
    EXPECT_EQ(RaisedText([] { ParseSourceDescriptor(L"T"); }), L"Illegal source T; type could not be determined");
}

TEST_F(AcquisitionTest, ASilentSourceUsesEveryAttemptWithAPauseAfterEach) {
    const Queried q = Query(L"T,dead");
    EXPECT_EQ(q.replies, 0u);
    EXPECT_EQ(q.deviationSum, 0);
    EXPECT_EQ(q.delaySum, 0u);
    EXPECT_EQ(sources_.Clients(L"dead"), 5u);
    EXPECT_EQ(ElapsedMilliseconds(), 5 * 100);
    EXPECT_THAT(Logged(LevelError), ElementsAre(L"no reply from dead", L"no reply from dead", L"no reply from dead",
                                                L"no reply from dead", L"no reply from dead",
                                                L"Could not get time after 5 attempts"));
    sources_.Forget();
    Query(L"T,dead,3");
    EXPECT_EQ(sources_.Clients(L"dead"), 6u);
}

TEST_F(AcquisitionTest, StopsAtTheSampleCountOrTheAttemptLimit) {
    sources_.Script(L"flaky", {Failure(L"refused"), Failure(L"refused"), Reply(10, 2), Reply(20, 4), Reply(30, 6),
                               Reply(40, 8)});
    Queried q = Query(L"T,flaky");
    EXPECT_EQ(q.replies, 3u);
    EXPECT_EQ(q.deviationSum, 60);
    EXPECT_EQ(q.delaySum, 12u);
    EXPECT_EQ(sources_.Clients(L"flaky"), 5u);  // no sixth attempt

    sources_.Script(L"good", {Reply(1, 1)});
    for (const auto& [descriptor, replies] : std::vector<std::pair<std::wstring, std::uint32_t>>{
             {L"T,good,0", 1}, {L"T,good,3", 3}, {L"T,good,50", 20}, {L"T,good,-1", 20}}) {
        sources_.Forget();
        q = Query(descriptor);
        EXPECT_EQ(q.replies, replies) << descriptor;
        EXPECT_EQ(sources_.Clients(L"good"), replies) << descriptor;
    }
}

TEST_F(AcquisitionTest, MaxNetworkDelayIsTheLargestDelayAccepted) {
    sources_.Script(L"edge", {Reply(5, 1000)});
    sources_.Script(L"late", {Reply(7, 1001)});
    const Queried q = Query(L"T,edge,1");
    EXPECT_EQ(q.replies, 1u);
    EXPECT_EQ(q.delaySum, 1000u);
    const Queried late = Query(L"T,late,1");
    EXPECT_EQ(late.replies, 0u);
    EXPECT_THAT(Logged(LevelError), ElementsAre(L"Excessive network delay of 1001 encountered",
                                                L"Excessive network delay of 1001 encountered",
                                                L"Could not get time after 2 attempts"));

    Config().MaxNetworkDelay = 0;
    sources_.Script(L"slow", {Reply(5, 5000)});
    EXPECT_EQ(Query(L"T,slow,1").replies, 1u);
}

TEST_F(AcquisitionTest, AveragesTruncateTowardZero) {
    sources_.Script(L"a", {Reply(-3, 3), Reply(-4, 4)});
    AddSource(L"T,a,2");
    ActiveSources().records[0].descriptor = L"T,a,2";
    ActiveSources().count = 1;
    AcquireAll();
    const SourceResult& a = ActiveSources().records[0];
    EXPECT_EQ(a.replies, 2u);
    EXPECT_EQ(a.deviation, -3);
    EXPECT_EQ(a.delay, 3u);
}

TEST_F(AcquisitionTest, SilentSourcesAreMarked) {
    ActiveSources().records[0] = SourceResult{L"T,dead", 77, 9, 3};
    ActiveSources().count = 1;
    AcquireAll();
    const SourceResult& dead = ActiveSources().records[0];
    EXPECT_EQ(dead.delay, kSilentDelay);
    EXPECT_EQ(dead.replies, 0u);
    EXPECT_EQ(dead.deviation, 0);
}

TEST_F(AcquisitionTest, TheRestrictedScanStopsOnceEnoughSourcesAnswered) {
    Config().RestrictedScanIsEnabled = 1;
    Config().MaxTimeSources = 2;
    sources_.Script(L"s1", {Reply(10, 1)});
    sources_.Script(L"s3", {Reply(30, 3)});
    sources_.Script(L"s4", {Reply(40, 4)});
    sources_.Script(L"s5", {Reply(50, 5)});
    for (const wchar_t* name : {L"s1", L"s2", L"s3", L"s4", L"s5"}) {
        ActiveSources().records[ActiveSources().count++].descriptor = std::wstring(L"T,") + name;
    }
    AcquireAll();
    EXPECT_EQ(sources_.Clients(L"s1"), 5u);
    EXPECT_EQ(sources_.Clients(L"s2"), 5u);
    EXPECT_EQ(sources_.Clients(L"s3"), 5u);
    EXPECT_EQ(sources_.Clients(L"s4"), 0u);
    EXPECT_EQ(sources_.Clients(L"s5"), 0u);
    const auto& r = ActiveSources().records;
    EXPECT_EQ(r[0].deviation, 10);
    EXPECT_EQ(r[1].delay, kSilentDelay);
    EXPECT_EQ(r[2].deviation, 30);
    EXPECT_EQ(r[3].delay, kSilentDelay);
    EXPECT_EQ(r[4].delay, kSilentDelay);
}

TEST_F(AcquisitionTest, AnIllegalPrefixEndsTheAcquisitionBeforeAnyClientIsMade) {
    sources_.Script(L"s1", {Reply(10, 1)});
    ActiveSources().records[0].descriptor = L"Q,s1";
    ActiveSources().records[1].descriptor = L"T,s1";
    ActiveSources().count = 2;
    EXPECT_EQ(RaisedText([] { AcquireAll(); }), L"Illegal source Q,s1; type could not be determined");
    EXPECT_TRUE(sources_.Created().empty());
}

TEST_F(AcquisitionTest, EachAttemptGetsAClientOfTheDescriptorsKind) {
    Query(L"U,udp.example,1");
    Query(L"N,");
    ASSERT_GE(sources_.Created().size(), 3u);
    EXPECT_EQ(sources_.Created()[0], (std::pair<SourceKind, std::wstring>{SourceKind::UdpMachine, L"udp.example"}));
    EXPECT_EQ(sources_.Created()[2], (std::pair<SourceKind, std::wstring>{SourceKind::NtpMachine, L""}));
}

TEST(NetworkSourceFactory, EachKindGetsItsClientClass) {
    NetworkSourceFactory factory;
    EXPECT_NE(dynamic_cast<NtTimeSource*>(factory.CreateSource(SourceKind::Domain, L"").get()), nullptr);
    EXPECT_NE(dynamic_cast<NtTimeSource*>(factory.CreateSource(SourceKind::NtMachine, L"\\\\srv").get()), nullptr);
    EXPECT_NE(dynamic_cast<TcpTimeSource*>(factory.CreateSource(SourceKind::TcpMachine, L"127.0.0.1").get()), nullptr);
    EXPECT_NE(dynamic_cast<NtpTimeSource*>(factory.CreateSource(SourceKind::NtpMachine, L"127.0.0.1").get()), nullptr);
    EXPECT_NE(dynamic_cast<UdpTimeSource*>(factory.CreateSource(SourceKind::UdpMachine, L"127.0.0.1").get()), nullptr);
}

}  // namespace
}  // namespace kairovel::testing
