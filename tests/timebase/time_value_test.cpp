#include <gtest/gtest.h>

#include "platform/clock.h"
#include "support/fixed_system_time.h"
#include "support/raised.h"
#include "timebase/stopwatch.h"
#include "timebase/time_span.h"
#include "timebase/time_value.h"

namespace kairovel {
namespace {

TEST(TimeValue, FormatPadsEveryFieldButTheYear) {
    EXPECT_EQ(TimeValue(1999, 4, 7, 9, 3, 7, 5).Format(), L"1999/04/07 09:03:07.005");
    EXPECT_EQ(TimeValue(1999, 4, 17, 9, 3, 43, 5).Format(), L"1999/04/17 09:03:43.005");
}

TEST(TimeValue, MinusIsExactAndSigned) {
    const TimeValue a(2000, 1, 1, 0, 0, 0, 0);
    const TimeValue b(2000, 1, 1, 0, 0, 0, 1);
    EXPECT_EQ(b.Minus(a).Milliseconds(), 1);
    EXPECT_EQ(a.Minus(b).Milliseconds(), -1);
    // Across a leap day and many years.
    EXPECT_EQ(TimeValue(2000, 3, 1, 0, 0, 0, 0).Minus(TimeValue(2000, 2, 28, 0, 0, 0, 0)).Milliseconds(),
              2 * 86'400'000);
    EXPECT_EQ(TimeValue(2036, 2, 7, 6, 28, 15, 0).Minus(TimeValue(1900, 1, 1, 0, 0, 0, 0)).Milliseconds(),
              4'294'967'295'000);
}

TEST(TimeValue, PlusCrossesDayMonthAndYear) {
    EXPECT_EQ(TimeValue(2000, 1, 1, 0, 0, 0, 0).Plus(TimeSpan(-1)).Format(), L"1999/12/31 23:59:59.999");
    const TimeValue leapDay = TimeValue(2000, 2, 28, 0, 0, 0, 0).Plus(TimeSpan(86'400'000));
    EXPECT_EQ(leapDay.Format(), L"2000/02/29 00:00:00.000");
    EXPECT_EQ(leapDay.Calendar().wDayOfWeek, 2);  // a Tuesday
    EXPECT_EQ(TimeValue(1900, 3, 1, 0, 0, 0, 0).Plus(TimeSpan(-86'400'000)).Format(), L"1900/02/28 00:00:00.000");
}

TEST(TimeValue, ImpossibleRecordRaisesInsteadOfComputingGarbage) {
    const TimeValue month13(1999, 13, 1, 0, 0, 0, 0);
    EXPECT_THROW(month13.Minus(TimeValue(1999, 1, 1, 0, 0, 0, 0)), std::wstring);
    EXPECT_THROW(TimeValue(1999, 2, 29, 0, 0, 0, 0).Plus(TimeSpan(1)), std::wstring);
    EXPECT_EQ(testing::RaisedText([] { TimeValue(1999, 1, 0, 0, 0, 0, 0).Plus(TimeSpan(0)); }),
              L"Invalid time value 1999/01/00 00:00:00.000");
}

TEST(TimeValue, DefaultIsTheSystemTimeOfTheClockFacility) {
    testing::FixedSystemTime clock(TimeValue(2024, 2, 29, 23, 59, 59, 999));
    platform::ScopedFacility<platform::ClockFacility> scope(clock);
    EXPECT_EQ(TimeValue().Format(), L"2024/02/29 23:59:59.999");
}

TEST(TimeValue, AssignCopiesTheRecord) {
    TimeValue target(1990, 1, 1, 0, 0, 0, 0);
    target.Assign(TimeValue(2024, 12, 31, 23, 59, 59, 999));
    EXPECT_EQ(target.Format(), L"2024/12/31 23:59:59.999");
    target.Assign(target);
    EXPECT_EQ(target.Format(), L"2024/12/31 23:59:59.999");
}

TEST(TimeSpan, FormatIsSignedDecimal) {
    EXPECT_EQ(TimeSpan(-5).Format(), L"-5");
    EXPECT_EQ(TimeSpan(0).Format(), L"0");
    EXPECT_EQ(TimeSpan(-9'223'372'036'854'775'807LL - 1).Format(), L"-9223372036854775808");
    TimeSpan span;
    span.Set(42);
    EXPECT_EQ(TimeSpan().Assign(span).Milliseconds(), 42);
}

// A performance counter that the test moves by hand.
class ManualCounter final : public platform::ClockFacility {
public:
    std::int64_t count = 0;
    std::int64_t frequency = 3'579'545;  // an odd frequency, as older machines had

    void GetSystemTime(platform::SYSTEMTIME&) override {}
    void GetLocalTime(platform::SYSTEMTIME&) override {}
    bool SetSystemTime(const platform::SYSTEMTIME&) override { return false; }
    bool GetSystemTimeAdjustment(std::uint32_t&, std::uint32_t&, bool&) override { return false; }
    bool SetSystemTimeAdjustment(std::uint32_t, bool) override { return false; }
    std::uint32_t NominalTimeIncrement() override { return 100'000; }
    bool QueryPerformanceCounter(std::int64_t& out) override {
        out = count;
        return true;
    }
    bool QueryPerformanceFrequency(std::int64_t& out) override {
        out = frequency;
        return frequency != 0;
    }
    void Sleep(std::uint32_t) override {}
};

TEST(Stopwatch, MeasuresMicrosecondsTruncated) {
    ManualCounter counter;
    platform::ScopedFacility<platform::ClockFacility> scope(counter);
    counter.count = 1'000;
    Stopwatch watch;
    counter.count += 3'579'545;  // one second
    EXPECT_EQ(watch.ElapsedMicroseconds(), 1'000'000);
    counter.count += 3;  // 0.838 us more: truncated
    EXPECT_EQ(watch.ElapsedMicroseconds(), 1'000'000);
    counter.count += 1;
    EXPECT_EQ(watch.ElapsedMicroseconds(), 1'000'001);

    Stopwatch notStarted(0);
    EXPECT_EQ(notStarted.ElapsedMicroseconds(), counter.count * 1'000'000 / counter.frequency);
    notStarted.Assign(watch);
    EXPECT_EQ(notStarted.ElapsedMicroseconds(), watch.ElapsedMicroseconds());

    // Hours of counts do not overflow the arithmetic.
    counter.count += counter.frequency * 3600 * 24 * 30;
    EXPECT_EQ(watch.ElapsedMicroseconds(), 1'000'001 + 30LL * 24 * 3600 * 1'000'000);

    counter.frequency = 0;  // no counter at all
    EXPECT_EQ(watch.ElapsedMicroseconds(), 0);
}

}  // namespace
}  // namespace kairovel
