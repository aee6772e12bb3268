// The synchronisation decision: averaging, the limits, slewing or stepping.
#include "sync/decision.h"

#include <gmock/gmock.h>

#include <cmath>

#include "support/raised.h"
#include "sync_fixture.h"

namespace kairovel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class DecisionTest : public SyncTest {
protected:
    DecisionTest() { Config().MaxNetworkDelay = 0; }

    // One source whose every reply shows the deviation and delay.
    void OneSource(std::int64_t deviation, std::uint32_t delay = 0) {
        AddSource(L"T,peer,1");
        sources_.Script(L"peer", {Reply(deviation, delay)});
    }
    std::wstring Pass() {
        std::wstring result;
        SynchronizeOnce(result, clock_);
        return result;
    }
    bool Stepped() const { return virtualClock_.SetTimeCalls() == 1 && virtualClock_.AdjustmentChanges().empty(); }
    bool Slewed() const { return !virtualClock_.AdjustmentChanges().empty(); }
};

TEST_F(DecisionTest, AverageSubtractsHalfTheDelayOfEachSourceThatReplied) {
    ActiveSourceTable& table = ActiveSources();
    table.records[0] = {L"T,a", 1000, 100, 5};
    table.records[1] = {L"T,b", 1200, 300, 5};
    table.records[2] = {L"T,c", 99999, kSilentDelay, 0};
    table.count = 3;
    std::int64_t average = 0;
    std::uint32_t count = 0;
    AverageDeviation(average, count);
    EXPECT_EQ(average, 1000);
    EXPECT_EQ(count, 2u);

    table.records[0] = {L"T,a", -5, 3, 1};
    table.count = 1;
    AverageDeviation(average, count);
    EXPECT_EQ(average, -6);
    table.records[0].delay = 1;
    AverageDeviation(average, count);
    EXPECT_EQ(average, -5);
    table.records[0].delay = kSilentDelay;
    AverageDeviation(average, count);
    EXPECT_EQ(average, 0);
    EXPECT_EQ(count, 0u);
}

TEST_F(DecisionTest, TwoSourcesAverageAndTheResultIsTheCorrectedDeviation) {
    AddSource(L"T,a,1");
    AddSource(L"T,b,1");
    sources_.Script(L"a", {Reply(1000, 100)});
    sources_.Script(L"b", {Reply(1200, 300)});
    Config().TimeAdjust = 0;
    virtualClock_.SetTrueErrorMilliseconds(1000);
    EXPECT_EQ(Pass(), L"1000");
    EXPECT_NEAR(virtualClock_.TrueErrorMilliseconds(), 0.0, 1.0);
    EXPECT_EQ(process_.workingSetCalls, (std::vector<bool>{false, true}));
}

TEST_F(DecisionTest, CorrectionWindowAndFreeRun) {
    EXPECT_EQ(CorrectionWindowSeconds(28800), 1800u);
    EXPECT_EQ(CorrectionWindowSeconds(3600), 1800u);
    EXPECT_EQ(CorrectionWindowSeconds(3599), 1799u);
    EXPECT_EQ(CorrectionWindowSeconds(600), 300u);
    EXPECT_EQ(CorrectionWindowSeconds(10), 5u);
    Configuration c;
    c.Period = 10;
    EXPECT_EQ(FreeRunSeconds(c), 5u);
    c.Period = 28800;
    EXPECT_EQ(FreeRunSeconds(c), 27000u);
    c.ImmediateFlag = 1;
    EXPECT_EQ(FreeRunSeconds(c), 0u);
}

TEST_F(DecisionTest, NoReplyLeavesTheClockAlone) {
    AddSource(L"T,dead,1");
    EXPECT_EQ(RaisedText([&] { Pass(); }), L"No configured time sources returned a reply. Time not changed.");
    EXPECT_EQ(virtualClock_.SetTimeCalls(), 0u);
    EXPECT_TRUE(virtualClock_.AdjustmentChanges().empty());
}

TEST_F(DecisionTest, MaxTimeDeviationIsTheFirstDeviationRefused) {
    const std::wstring refusal600000 =
        L"Difference between local clock and remote time was 600000 milliseconds. Time was not set.";
    OneSource(600000);
    EXPECT_EQ(RaisedText([&] { Pass(); }), refusal600000);
    EXPECT_EQ(virtualClock_.SetTimeCalls(), 0u);
    EXPECT_TRUE(virtualClock_.AdjustmentChanges().empty());

    sources_.Script(L"peer", {Reply(-600000, 0)});
    EXPECT_THAT(RaisedText([&] { Pass(); }), HasSubstr(L"was -600000 milliseconds"));

    sources_.Script(L"peer", {Reply(599999, 0)});
    Config().TimeAdjust = 0;
    EXPECT_EQ(Pass(), L"599999");
    EXPECT_EQ(virtualClock_.SetTimeCalls(), 1u);
}

TEST_F(DecisionTest, WithoutALimitEvenYearsAreCorrectedByAStep) {
    Config().MaxTimeDeviation = 0;
    const std::int64_t fiveYears = std::int64_t{5} * 365 * 86400 * 1000;
    OneSource(fiveYears);
    EXPECT_EQ(Pass(), std::to_wstring(fiveYears));
    EXPECT_TRUE(Stepped());
}

TEST_F(DecisionTest, ARateOf990PerMilleOrMoreSteps) {
    Config().MaxTimeDeviation = 0;
    Config().ImmediateFlag = 1;
    OneSource(1782000);
    Pass();
    EXPECT_TRUE(Stepped());
    EXPECT_THAT(Logged(LevelTrace), ::testing::Contains(L"Incrementing time by -1782000 milliseconds"));
}

TEST_F(DecisionTest, ARateJustBelow990PerMilleSlews) {
    Config().MaxTimeDeviation = 0;
    Config().ImmediateFlag = 1;
    OneSource(1781999);
    const std::int64_t before = ElapsedMilliseconds();
    Pass();
    EXPECT_TRUE(Slewed());
    EXPECT_EQ(virtualClock_.AdjustmentChanges().front().adjustment, 1001u);  // 100000 x (1000 - 989.999) / 1000
    EXPECT_GE(ElapsedMilliseconds() - before, 1800 * 1000);
    EXPECT_THAT(Logged(LevelInfo), ElementsAre(L"Clock will be adjusted over approx. 1800 seconds..."));
}

TEST_F(DecisionTest, ACorrectionBeyondThePlatformsRangeSteps) {
    // The Linux kernel's range: about 10 % around the nominal 100000.
    virtualClock_.SetAcceptedRange(90000, 110000);
    Config().Period = 10;  // a 5 s window
    Config().ImmediateFlag = 1;
    virtualClock_.SetTrueErrorMilliseconds(3200);
    OneSource(3200);  // 640 per mille: below 990, beyond the range
    EXPECT_EQ(Pass(), L"3200");
    EXPECT_TRUE(Stepped());
    EXPECT_NEAR(virtualClock_.TrueErrorMilliseconds(), 0.0, 1.0);
    EXPECT_THAT(Logged(LevelTrace),
                ::testing::Contains(L"A correction of -640.0000 per mille over 5 seconds is beyond the clock's "
                                    L"adjustment range; stepping instead."));
    EXPECT_TRUE(Logged(LevelError).empty());

    // 400 ms over 5 s is 80 per mille: inside the range, slewed.
    virtualClock_.SetTrueErrorMilliseconds(400);
    sources_.Script(L"peer", {Reply(400, 0)});
    Pass();
    EXPECT_TRUE(Slewed());
    EXPECT_EQ(virtualClock_.AdjustmentChanges().front().adjustment, 92000u);
    EXPECT_NEAR(virtualClock_.TrueErrorMilliseconds(), 0.0, 1.0);
}

TEST_F(DecisionTest, AdjustOffAlwaysSteps) {
    Config().TimeAdjust = 0;
    virtualClock_.SetTrueErrorMilliseconds(-250);
    OneSource(-250);
    EXPECT_EQ(Pass(), L"-250");
    EXPECT_TRUE(Stepped());
    EXPECT_NEAR(virtualClock_.TrueErrorMilliseconds(), 0.0, 1.0);
}

TEST_F(DecisionTest, ServiceModeSlewsThenRunsFree) {
    Config().Period = 10;
    virtualClock_.SetTrueErrorMilliseconds(1000);
    OneSource(1000);
    const std::int64_t before = ElapsedMilliseconds();
    EXPECT_EQ(Pass(), L"1000");
    // The 5 s window at 800 per mille slower; the free run's base has no high phase, so the pass ends with the window.
    EXPECT_EQ(virtualClock_.AdjustmentChanges().front().adjustment, 80000u);
    EXPECT_EQ(ElapsedMilliseconds() - before, 100 + 5000);
    EXPECT_THAT(Logged(LevelTrace), ::testing::Contains(HasSubstr(L"over 5 seconds")));
    EXPECT_TRUE(Logged(LevelInfo).empty());  // the announcement belongs to the immediate mode
    EXPECT_NEAR(virtualClock_.TrueErrorMilliseconds(), 0.0, 1.0);
}

TEST_F(DecisionTest, TheAnnouncementGoesToTheConsoleOnly) {
    Config().Period = 10;
    Config().ImmediateFlag = 1;
    OneSource(10);
    for (const wchar_t* device : {L"", L"Console", L"cONSOLE"}) {
        Config().LogDevice = device;
        Pass();
        EXPECT_THAT(Logged(LevelInfo).back(), L"Clock will be adjusted over approx. 5 seconds...") << device;
    }
    const std::size_t before = Logged(LevelInfo).size();
    Config().LogDevice = L"kairovel.log,100";
    Pass();
    EXPECT_EQ(Logged(LevelInfo).size(), before);
}

TEST_F(DecisionTest, WithoutSourcesTheOwnDomainIsAskedAndStaysConfigured) {
    Config().MaxTimeSources = 7;
    std::wstring result;
    EXPECT_EQ(RaisedText([&] { SynchronizeOnce(result, clock_); }),
              L"No configured time sources returned a reply. Time not changed.");
    EXPECT_EQ(Config().NumberOfTimeSources, 1u);
    EXPECT_EQ(Config().SourceName[0], L"D,");
    EXPECT_EQ(Config().MaxTimeSources, 1u);
    EXPECT_EQ(Config().SelectionPeriod, 1u);
    ASSERT_FALSE(sources_.Created().empty());
    EXPECT_EQ(sources_.Created()[0], (std::pair<SourceKind, std::wstring>{SourceKind::Domain, L""}));
}

TEST_F(DecisionTest, TheResultOfANegativeDeviation) {
    AddSource(L"T,peer,1");
    sources_.Script(L"peer", {Reply(-5, 3)});
    Config().TimeAdjust = 0;
    EXPECT_EQ(Pass(), L"-6");
}

}  // namespace
}  // namespace kairovel::testing
