#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clock/adjustment_store.h"
#include "clock/local_clock.h"
#include "config/configuration.h"
#include "log/logger.h"
#include "platform/process.h"
#include "platform/sim/virtual_clock.h"
#include "support/raised.h"
#include "support/recording_logger.h"

namespace kairovel {
namespace {

using platform::VirtualClock;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::RaisedText;

constexpr std::uint32_t kWindow = 1800;    // seconds
constexpr std::uint32_t kFreeRun = 27000;  // seconds
constexpr std::int64_t kSecond = 1000;     // milliseconds

// Records the working-set calls with the virtual time they were made at.
class RecordingProcess final : public platform::ProcessFacility {
public:
    struct Call {
        std::int64_t atSeconds;
        bool release;  // (SIZE_T)-1 both, or 0 both
    };
    explicit RecordingProcess(VirtualClock& clock) : clock_(clock) {}
    std::wstring GetModuleFileNameW() override { return L"kairovel"; }
    std::wstring GetCommandLineW() override { return L"kairovel"; }
    bool SetPriorityClass(std::uint32_t) override { return true; }
    bool SetProcessWorkingSetSize(std::size_t minimum, std::size_t maximum) override {
        EXPECT_EQ(minimum, maximum);
        calls.push_back(Call{clock_.ElapsedMilliseconds() / kSecond, minimum == platform::kWorkingSetRelease});
        return true;
    }
    std::vector<Call> calls;

private:
    VirtualClock& clock_;
};

// Keeps the value in memory; reading before anything was stored fails as a missing registry value does.
class MemoryStore final : public AdjustmentStore {
public:
    void Persist(double value) override {
        persisted.push_back(value);
        stored = value;
    }
    double Read() override {
        if (!stored) RaiseError(L"Registry open error %d on %s", 2, L"LastAdjustmentValue");
        return *stored;
    }
    std::optional<double> stored;
    std::vector<double> persisted;
};

class LocalClockTest : public ::testing::Test {
protected:
    LocalClockTest() { TheConfiguration() = Configuration{}; }
    ~LocalClockTest() override { TheConfiguration() = Configuration{}; }

    std::vector<std::wstring> Lines() { return log_.Texts(); }
    std::vector<std::wstring> LinesContaining(const std::wstring& text) {
        std::vector<std::wstring> found;
        for (const std::wstring& line : log_.Texts()) {
            if (line.find(text) != std::wstring::npos) found.push_back(line);
        }
        return found;
    }
    std::size_t Changes() const { return clock_.AdjustmentChanges().size(); }
    // The adjustments set since the given change, each with the virtual seconds since the first of them.
    std::vector<std::pair<std::int64_t, std::uint32_t>> ChangesSince(std::size_t first) const {
        const std::vector<VirtualClock::AdjustmentChange> all = clock_.AdjustmentChanges();
        std::vector<std::pair<std::int64_t, std::uint32_t>> out;
        for (std::size_t i = first; i < all.size(); ++i) {
            out.emplace_back((all[i].atMilliseconds - all[first].atMilliseconds) / kSecond, all[i].adjustment);
        }
        return out;
    }
    // Moves the clock to exactly `seconds` after the end of the last correction,
    // so that the next Adjust sees that free-run duration.
    void EndFreeRunAfter(std::int64_t seconds) {
        const TimeValue target = state_.LastAdjustTime.Plus(TimeSpan(seconds * kSecond));
        ASSERT_TRUE(platform::Clock().SetSystemTime(target.Calendar()));
    }
    // One service pass whose deviation, over a free run of kFreeRun seconds, has the given slope.
    void PassWithSlope(LocalClock& clock, double slopePerMille) {
        if (state_.FirstAdjustDone) EndFreeRunAfter(kFreeRun);
        clock.Adjust(TimeSpan(std::llround(slopePerMille * kFreeRun)), kWindow, kFreeRun);
    }

    VirtualClock clock_;
    platform::ScopedFacility<platform::ClockFacility> clockScope_{clock_};
    RecordingProcess process_{clock_};
    platform::ScopedFacility<platform::ProcessFacility> processScope_{process_};
    LocalClockState state_;
    testing::ScopedRecordingLogger log_;
};

TEST_F(LocalClockTest, WorkedExampleSlewsThenCompensatesTheDrift) {
    LocalClock clock(state_);
    EXPECT_EQ(state_.StartupAdjustment, 100000u);
    EXPECT_TRUE(state_.StartupDisabled);

    // The first pass of the service: no free run behind it yet, the base is read from the platform.
    clock.Adjust(TimeSpan(0), kWindow, kFreeRun);
    EXPECT_DOUBLE_EQ(state_.ClockAdjust, 100000.0);
    EXPECT_THAT(Lines()[0], HasSubstr(L"changed clock adjust from 100000.000 (disabled) to 100000.000."));

    // The free run: the clock gains 900 ms.
    clock_.Advance(std::uint64_t{kFreeRun} * kSecond);
    clock_.SetTrueErrorMilliseconds(900);
    log_.Clear();
    process_.calls.clear();
    const std::size_t first = Changes();
    const std::int64_t start = clock_.ElapsedMilliseconds() / kSecond;

    clock.Adjust(TimeSpan(900), kWindow, kFreeRun);

    EXPECT_EQ(Lines()[0],
              L"Started adjusting time by -0.5000 per mille over 1800 seconds to correct deviation of 900 "
              L"milliseconds; changed clock adjust from 100000.000 (enabled) to 99950.000.");
    EXPECT_THAT(Lines()[1], HasSubstr(L"Changed time from "));
    EXPECT_EQ(Lines()[2],
              L"Completed time adjust. Adjustment is now enabled. Clock adjust = 99998.333 to correct deviation "
              L"slope of 0.0333. FreeRunDuration = 27000.");
    EXPECT_NEAR(state_.ClockAdjust, 99998.333, 0.001);
    // 1800 s at 99950, then 9000 s at 99999, then 99998 for the rest of the period.
    EXPECT_THAT(ChangesSince(first), ElementsAre(std::pair<std::int64_t, std::uint32_t>{0, 99950},
                                                 std::pair<std::int64_t, std::uint32_t>{1800, 99999},
                                                 std::pair<std::int64_t, std::uint32_t>{10800, 99998}));
    EXPECT_EQ(clock_.ElapsedMilliseconds() / kSecond - start, 10800);
    // The window worked the 900 ms off; the 9000 s at 99999 then took 90 ms more.
    EXPECT_NEAR(clock_.TrueErrorMilliseconds(), -90.0, 1.0);
    // Memory given back before each long sleep, limits reset after it.
    ASSERT_EQ(process_.calls.size(), 4u);
    EXPECT_TRUE(process_.calls[0].release);
    EXPECT_EQ(process_.calls[1].atSeconds - start, 1800);
    EXPECT_FALSE(process_.calls[1].release);
    EXPECT_TRUE(process_.calls[2].release);
    EXPECT_EQ(process_.calls[3].atSeconds - start, 10800);
    EXPECT_FALSE(process_.calls[3].release);
}

TEST_F(LocalClockTest, RunAdjustmentSplitsAFractionalValueIntoTwoPhases) {
    LocalClock clock(state_);
    clock.RunAdjustment(kWindow, 100144.25, true);
    EXPECT_THAT(ChangesSince(0), ElementsAre(std::pair<std::int64_t, std::uint32_t>{0, 100145},
                                             std::pair<std::int64_t, std::uint32_t>{450, 100144}));
    EXPECT_EQ(clock_.ElapsedMilliseconds(), 1800 * kSecond);

    clock.RunAdjustment(kWindow, 100000.9997, true);
    EXPECT_THAT(ChangesSince(2), ElementsAre(std::pair<std::int64_t, std::uint32_t>{0, 100001},
                                             std::pair<std::int64_t, std::uint32_t>{1799, 100000}));
    // Memory is given back before the sleeps of more than 60 s, and the limits reset after every sleep.
    std::vector<std::pair<std::int64_t, bool>> calls;
    for (const RecordingProcess::Call& call : process_.calls) calls.emplace_back(call.atSeconds, call.release);
    EXPECT_THAT(calls, ElementsAre(std::pair{0L, true}, std::pair{450L, false}, std::pair{450L, true},
                                   std::pair{1800L, false}, std::pair{1800L, true}, std::pair{3599L, false},
                                   std::pair{3600L, false}));

    // A whole value: set once, the whole window waited; without waiting for
    // the low phase only the (empty) high phase is slept.
    const std::int64_t before = clock_.ElapsedMilliseconds();
    clock.RunAdjustment(kWindow, 100000.0, true);
    EXPECT_EQ(Changes(), 4u);  // already in force: no call
    EXPECT_EQ(clock_.ElapsedMilliseconds() - before, 1800 * kSecond);
    clock.RunAdjustment(kWindow, 99000.0, false);
    EXPECT_EQ(clock_.ElapsedMilliseconds() - before, 1800 * kSecond);
    EXPECT_EQ(clock_.AdjustmentChanges().back().adjustment, 99000u);
}

TEST_F(LocalClockTest, RunAdjustmentRefusesValuesNoAdjustmentCanHold) {
    LocalClock clock(state_);
    EXPECT_EQ(RaisedText([&] { clock.RunAdjustment(kWindow, -1.0, true); }), L"Error 87 from SetSystemTimeAdjustment");
    EXPECT_EQ(RaisedText([&] { clock.RunAdjustment(kWindow, 5e9, true); }), L"Error 87 from SetSystemTimeAdjustment");
    EXPECT_EQ(RaisedText([&] { clock.RunAdjustment(kWindow, std::numeric_limits<double>::quiet_NaN(), true); }),
              L"Error 87 from SetSystemTimeAdjustment");
    EXPECT_EQ(Changes(), 0u);
    EXPECT_FALSE(state_.AdjustmentChanged);
}

// A slope of 10 per mille sends the base back to the start-up adjustment;
// below it half the slope comes out of the base, but never more than 500 ppm.
TEST_F(LocalClockTest, SlopeOfTenPerMilleResetsTheBaseAndBelowItCompensatesWithinFiveHundredPpm) {
    struct Case {
        std::int64_t deviation;
        double base;
    };
    // ClockAdjust 100040 from the store; the start-up adjustment is 100000.
    for (const Case& c : {Case{270'000, 100000.0}, Case{-270'000, 100000.0}, Case{269'730, 99950.0},
                          Case{-269'730, 100050.0}, Case{2'700, 100040.0 * (1000 - 0.05) / 1000}}) {
        LocalClockState state;
        LocalClock clock(state);
        MemoryStore store;
        store.stored = 100040.0;
        clock.UseStoredAdjustment(store);
        clock.Adjust(TimeSpan(0), kWindow, kFreeRun);
        const TimeValue target = state.LastAdjustTime.Plus(TimeSpan(std::int64_t{kFreeRun} * kSecond));
        ASSERT_TRUE(platform::Clock().SetSystemTime(target.Calendar()));
        clock.Adjust(TimeSpan(c.deviation), kWindow, kFreeRun);
        EXPECT_NEAR(state.ClockAdjust, c.base, 0.0001) << c.deviation;
    }
    EXPECT_THAT(LinesContaining(L"slope of 10.0000. FreeRunDuration = 27000.").size(), 1u);
    EXPECT_THAT(LinesContaining(L"slope of -10.0000.").size(), 1u);
    EXPECT_THAT(LinesContaining(L"slope of 9.9900. FreeRunDuration = 27000.").size(), 1u);
    EXPECT_THAT(LinesContaining(L"ppm is more than any clock needs; limited to -500.0 ppm."), ::testing::SizeIs(1));
    EXPECT_THAT(LinesContaining(L"limited to 500.0 ppm."), ::testing::SizeIs(1));
}

// At a short period a millisecond of resolution over a free run of seconds
// would be a rate error of hundreds of ppm: such a free run gives no estimate.
TEST_F(LocalClockTest, AFreeRunOfSecondsGivesNoDriftEstimate) {
    LocalClock clock(state_);
    clock.Adjust(TimeSpan(0), 5, 5);
    for (const std::int64_t freeRun : {5, LocalClock::kShortestEstimatingFreeRunSeconds - 1}) {
        EndFreeRunAfter(freeRun);
        clock.Adjust(TimeSpan(1), 5, 5);
        EXPECT_DOUBLE_EQ(state_.ClockAdjust, 100000.0) << freeRun;
    }
    EndFreeRunAfter(LocalClock::kShortestEstimatingFreeRunSeconds);
    clock.Adjust(TimeSpan(3), 5, 5);  // 10 ppm, half of it compensated
    EXPECT_NEAR(state_.ClockAdjust, 100000.0 * (1 - 5e-6), 1e-6);
}

// The adjustment put back is the one in force before this run's own change:
// another run that was slewing when this one started has put its back since.
TEST_F(LocalClockTest, RestorePutsBackWhatWasInForceBeforeItsOwnChange) {
    ASSERT_TRUE(clock_.SetSystemTimeAdjustment(100500, false));  // another run's slew
    LocalClock clock(state_);
    ASSERT_TRUE(clock_.SetSystemTimeAdjustment(100000, true));  // which it ended
    clock.SetAdjustment(false, 99000);
    clock.Restore();
    EXPECT_EQ(clock_.AdjustmentChanges().back().adjustment, 100000u);
    EXPECT_TRUE(clock_.AdjustmentChanges().back().disabled);
}

TEST_F(LocalClockTest, AClockSteppedBackPastTheLastCorrectionGivesNoDriftEstimate) {
    LocalClock clock(state_);
    clock.Adjust(TimeSpan(0), kWindow, kFreeRun);
    EndFreeRunAfter(-3600);  // someone set the clock an hour back
    log_.Clear();
    // Behind by 90 ms: dividing by the negative free run would turn the base slower, not faster.
    clock.Adjust(TimeSpan(-90), kWindow, kFreeRun);
    EXPECT_EQ(LinesContaining(L"Completed")[0],
              L"Completed time adjust. Adjustment is now enabled. Clock adjust = 100000.000 to correct deviation "
              L"slope of 0.0000. FreeRunDuration = -3600.");
    EXPECT_DOUBLE_EQ(state_.ClockAdjust, 100000.0);
}

TEST_F(LocalClockTest, AnUnreadableStartUpAdjustmentFallsBackToTheNominalIncrement) {
    clock_.RefuseAdjustmentReads(platform::ERROR_INVALID_DATA);
    LocalClock clock(state_);
    clock_.RefuseAdjustmentReads(0);
    EXPECT_EQ(state_.StartupAdjustment, 100000u);
    EXPECT_TRUE(state_.StartupDisabled);
    // A slope of 10 per mille sends the free-run base back to the start-up adjustment:
    // the nominal rate, not an adjustment of 0 that would stop the clock.
    PassWithSlope(clock, 0.0);
    PassWithSlope(clock, 10.0);
    EXPECT_DOUBLE_EQ(state_.ClockAdjust, 100000.0);
    EXPECT_EQ(clock_.AdjustmentChanges().back().adjustment, 100000u);
    EXPECT_FALSE(clock_.AdjustmentChanges().back().disabled);
    clock.Restore();
    EXPECT_TRUE(clock_.AdjustmentChanges().back().disabled);
}

TEST_F(LocalClockTest, PersistsAtTheSixthStablePassAndCountsAgainAfterALargeSlope) {
    LocalClock clock(state_);
    MemoryStore store;
    clock.UseStoredAdjustment(store);  // nothing stored yet: silent, but remembered
    EXPECT_TRUE(Lines().empty());

    PassWithSlope(clock, 0.0);  // the first pass, without a free run behind it
    for (double slope : {0.1, 0.2, 0.3, 0.1}) PassWithSlope(clock, slope);
    EXPECT_EQ(state_.StableCount, 5u);
    EXPECT_TRUE(store.persisted.empty());
    PassWithSlope(clock, 0.2);
    ASSERT_EQ(store.persisted.size(), 1u);
    EXPECT_DOUBLE_EQ(store.persisted[0], state_.ClockAdjust);
    PassWithSlope(clock, 0.1);
    EXPECT_EQ(store.persisted.size(), 2u);

    PassWithSlope(clock, 4.0);
    EXPECT_EQ(state_.StableCount, 0u);
    for (double slope : {0.1, 0.2, 0.3, 0.1, 0.2}) PassWithSlope(clock, slope);
    EXPECT_EQ(store.persisted.size(), 2u);
    PassWithSlope(clock, -3.9);
    EXPECT_EQ(store.persisted.size(), 3u);
}

TEST_F(LocalClockTest, StoredAdjustmentIsUsedOnlyWithinFiveHundredPpmOfTheStartUp) {
    struct Case {
        double stored;
        bool used;
    };
    for (const Case& c : {Case{100000.0, true}, Case{100050.0, true}, Case{100050.1, false}, Case{99949.9, false},
                          Case{99950.0, true}, Case{std::numeric_limits<double>::quiet_NaN(), false}}) {
        LocalClockState state;
        LocalClock clock(state);
        MemoryStore store;
        store.stored = c.stored;
        const std::size_t changes = Changes();
        log_.Clear();
        clock.UseStoredAdjustment(store);
        ASSERT_EQ(Lines().size(), 1u);
        if (c.used) {
            EXPECT_EQ(Lines()[0], Format(L"Using stored adjustment of %.3f", c.stored));
            EXPECT_DOUBLE_EQ(state.ClockAdjust, c.stored);
            EXPECT_EQ(Changes(), changes + 1);
            EXPECT_EQ(clock_.AdjustmentChanges().back().adjustment, static_cast<std::uint32_t>(c.stored));
            EXPECT_FALSE(clock_.AdjustmentChanges().back().disabled);
        } else {
            EXPECT_EQ(Lines()[0], Format(L"Discarding stored adjustment of %.3f", c.stored));
            EXPECT_EQ(state.ClockAdjust, 0.0);
            EXPECT_EQ(Changes(), changes);
        }
        EXPECT_EQ(state.Store, &store);
    }
}

TEST_F(LocalClockTest, RestoreActsOnlyAfterAChangeAndOnlyOnce) {
    {
        LocalClock clock(state_);
        clock.Restore();
        EXPECT_TRUE(Lines().empty());
        EXPECT_EQ(Changes(), 0u);

        clock.SetAdjustment(false, 99950);
        EXPECT_TRUE(state_.AdjustmentChanged);
        {
            LocalClock second(state_);  // a second instance shares the state; its end restores nothing
        }
        EXPECT_EQ(Changes(), 1u);
        clock.Restore();
        EXPECT_THAT(Lines(), ElementsAre(L"Adjustment restored to 100000 (1)"));
        EXPECT_TRUE(clock_.AdjustmentChanges().back().disabled);
        clock.Restore();
        EXPECT_EQ(Lines().size(), 1u);
        EXPECT_EQ(Changes(), 2u);

        clock.SetAdjustment(false, 100010);
    }
    // The end of the last instance restores what was changed since.
    EXPECT_EQ(Changes(), 4u);
    EXPECT_TRUE(clock_.AdjustmentChanges().back().disabled);
    EXPECT_EQ(Lines().back(), L"Adjustment restored to 100000 (1)");
}

TEST_F(LocalClockTest, SetAdjustmentCallsThePlatformOnlyForADifferentValue) {
    LocalClock clock(state_);
    clock.SetAdjustment(true, 100000);  // the values in force
    EXPECT_EQ(Changes(), 0u);
    EXPECT_FALSE(state_.AdjustmentChanged);
    clock.SetAdjustment(false, 100000);  // only the flag differs
    EXPECT_EQ(Changes(), 1u);
    EXPECT_TRUE(state_.AdjustmentChanged);
    state_.AdjustmentChanged = false;
    clock.SetAdjustment(false, 100000);
    EXPECT_EQ(Changes(), 1u);
    EXPECT_FALSE(state_.AdjustmentChanged);
}

TEST_F(LocalClockTest, PlatformRefusalsRaiseTheirMessagesAndChangeNothing) {
    LocalClock clock(state_);
    clock_.RefuseChanges(platform::ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_EQ(RaisedText([&] { clock.SetAdjustment(false, 99950); }), L"Error 1314 from SetSystemTimeAdjustment");
    EXPECT_FALSE(state_.AdjustmentChanged);
    EXPECT_EQ(RaisedText([&] { clock.Increment(TimeSpan(250)); }),
              L"Could not set the time. Error 1314 returned by SetSystemTime.");
    EXPECT_EQ(RaisedText([&] { clock.Adjust(TimeSpan(900), kWindow, kFreeRun); }),
              L"Error 1314 from SetSystemTimeAdjustment");
    EXPECT_DOUBLE_EQ(state_.ClockAdjust, 100000.0);  // read before the failure, and kept
    EXPECT_EQ(clock_.TrueErrorMilliseconds(), 0.0);

    clock_.RefuseChanges(0);
    clock_.SetAcceptedRange(89950, 110050);
    EXPECT_EQ(RaisedText([&] { clock.SetAdjustment(false, 80000); }), L"Error 87 from SetSystemTimeAdjustment");
}

TEST_F(LocalClockTest, IncrementStepsTheClockBackByTheDeviation) {
    LocalClock clock(state_);
    clock_.SetTrueErrorMilliseconds(250);
    clock.Increment(TimeSpan(250));
    EXPECT_NEAR(clock_.TrueErrorMilliseconds(), 0.0, 1.0);
    ASSERT_EQ(Lines().size(), 2u);
    EXPECT_THAT(Lines()[0], ::testing::StartsWith(L"Changed time from 2024/01/01 00:00:00.250 to 2024/01/01 00:00:00.000"));
    EXPECT_EQ(Lines()[1], L"Incrementing time by -250 milliseconds");
}

TEST_F(LocalClockTest, CorrectionRateIsHeldAt990PerMilleAndSignsFollowTheDeviation) {
    LocalClock clock(state_);
    clock.Adjust(TimeSpan(5'000'000), kWindow, 0);
    EXPECT_THAT(Lines()[0], HasSubstr(L"by -2777.7778 per mille"));
    EXPECT_THAT(Lines()[0], HasSubstr(L"to 1000.000."));
    EXPECT_EQ(clock_.AdjustmentChanges()[0].adjustment, 1000u);

    // Behind: a positive rate in the message, a larger adjustment.
    clock.Adjust(TimeSpan(-900), kWindow, 0);
    EXPECT_THAT(LinesContaining(L"Started adjusting")[1],
                HasSubstr(L"by 0.5000 per mille over 1800 seconds to correct deviation of -900 milliseconds; changed "
                          L"clock adjust from 100000.000 (enabled) to 100050.000."));
    // Without a free run the base and the counters stay, and the low value stays in force.
    EXPECT_DOUBLE_EQ(state_.ClockAdjust, 100000.0);
    EXPECT_EQ(clock_.AdjustmentChanges().back().adjustment, 100050u);
    EXPECT_TRUE(LinesContaining(L"Completed").empty());

    // No deviation: the whole window at the base, and the rate prints without a sign.
    clock.Adjust(TimeSpan(0), kWindow, 0);
    EXPECT_THAT(LinesContaining(L"Started adjusting")[2], HasSubstr(L"by 0.0000 per mille"));
    EXPECT_EQ(clock_.AdjustmentChanges().back().adjustment, 100000u);
}

// A pass may still run while the program ends: after the restore for the
// exit, the adjustment it would set is left unset and the start-up one stays.
TEST_F(LocalClockTest, AfterTheRestoreForTheExitTheAdjustmentStaysPut) {
    LocalClock clock(state_);
    clock.SetAdjustment(false, 99950);
    clock.RestoreForExit();
    EXPECT_THAT(Lines(), ElementsAre(L"Adjustment restored to 100000 (1)"));
    clock.SetAdjustment(false, 99950);
    clock.RunAdjustment(10, 99950.5, true);
    EXPECT_EQ(Changes(), 2u);
    EXPECT_TRUE(clock_.AdjustmentChanges().back().disabled);
    EXPECT_FALSE(state_.AdjustmentChanged);
}

TEST_F(LocalClockTest, RestoreAdjustmentModesChooseTheWordAndTheBase) {
    struct Case {
        std::uint32_t mode;
        const wchar_t* word;
    };
    for (const Case& c : {Case{0, L"disabled"}, Case{1, L"enabled"}, Case{7, L"enabled"}}) {
        TheConfiguration().RestoreAdjustment = c.mode;
        LocalClockState state;
        LocalClock clock(state);
        clock.Adjust(TimeSpan(0), kWindow, kFreeRun);
        const TimeValue target = state.LastAdjustTime.Plus(TimeSpan(std::int64_t{kFreeRun} * kSecond));
        ASSERT_TRUE(platform::Clock().SetSystemTime(target.Calendar()));
        log_.Clear();
        clock.Adjust(TimeSpan(900), kWindow, kFreeRun);
        EXPECT_EQ(LinesContaining(L"Completed")[0],
                  Format(L"Completed time adjust. Adjustment is now %s. Clock adjust = 100000.000 to correct deviation "
                         L"slope of 0.0000. FreeRunDuration = 27000.",
                         c.word))
            << c.mode;
        EXPECT_DOUBLE_EQ(state.ClockAdjust, 100000.0);
    }
}

TEST_F(LocalClockTest, DriftIsCompensatedOverSuccessivePasses) {
    // A clock 40 ppm fast, corrected every 8 hours from exact measurements.
    constexpr std::uint32_t kPeriod = kWindow + kFreeRun;
    clock_.SetDriftPpm(40.0);
    LocalClock clock(state_);
    std::vector<double> deviations;
    for (int pass = 0; pass < 12; ++pass) {
        const std::int64_t start = clock_.ElapsedMilliseconds();
        const double deviation = clock_.TrueErrorMilliseconds();
        deviations.push_back(deviation);
        clock.Adjust(TimeSpan(std::llround(deviation)), kWindow, kFreeRun);
        clock_.Advance(static_cast<std::uint64_t>(start + std::int64_t{kPeriod} * kSecond - clock_.ElapsedMilliseconds()));
    }
    // Uncompensated, the clock gains 40 ppm x 28800 s = 1152 ms in the first period.
    EXPECT_NEAR(deviations[1], 1152.0, 1.0);
    // Each pass takes half the measured slope out: about half the deviation is left each time.
    EXPECT_LT(std::fabs(deviations[2]), 600.0);
    EXPECT_LT(std::fabs(deviations[5]), 50.0);
    EXPECT_LT(std::fabs(deviations[11]), 2.0);
    // The base approaches 100000 / (1 + 40 ppm) = 99996.
    EXPECT_NEAR(state_.ClockAdjust, 99996.0, 0.2);
}

TEST_F(LocalClockTest, CorrectionFitsPlatformUsesTheAcceptedRange) {
    LocalClock clock(state_);
    EXPECT_TRUE(clock.CorrectionFitsPlatform(TimeSpan(1'781'999), kWindow));  // any 32-bit value: 990 per mille
    clock_.SetAcceptedRange(89950, 110050);  // the Linux kernel's at 100 Hz
    EXPECT_TRUE(clock.CorrectionFitsPlatform(TimeSpan(900), kWindow));
    EXPECT_TRUE(clock.CorrectionFitsPlatform(TimeSpan(-180'000), kWindow));   // 110000
    EXPECT_FALSE(clock.CorrectionFitsPlatform(TimeSpan(-181'000), kWindow));  // 110055.6
    EXPECT_TRUE(clock.CorrectionFitsPlatform(TimeSpan(180'090), kWindow));    // 89995
    EXPECT_FALSE(clock.CorrectionFitsPlatform(TimeSpan(200'000), kWindow));   // 88888.9
    EXPECT_FALSE(clock.CorrectionFitsPlatform(TimeSpan(0), 0));
    EXPECT_EQ(Changes(), 0u);
}

TEST(AdjustmentStore, BaseClassRaisesAbstractClass) {
    class Bare final : public AdjustmentStore {};
    Bare store;
    EXPECT_EQ(RaisedText([&] { store.Persist(1.0); }), L"abstract class");
    EXPECT_EQ(RaisedText([&] { store.Read(); }), L"abstract class");
}

TEST(AdjustmentStore, ValueTextHasThreeDecimalsAndReadsBackLikeScanf) {
    EXPECT_EQ(AdjustmentText(100144.117), L"100144.117");
    EXPECT_EQ(AdjustmentText(99998.3333333), L"99998.333");
    EXPECT_DOUBLE_EQ(AdjustmentFromText(L"100144.117"), 100144.117);
    EXPECT_DOUBLE_EQ(AdjustmentFromText(L"  99998.5 trailing"), 99998.5);
    EXPECT_TRUE(std::isnan(AdjustmentFromText(L"")));
    EXPECT_TRUE(std::isnan(AdjustmentFromText(L"not a number")));
}

}  // namespace
}  // namespace kairovel
