#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>

#include "platform/calendar.h"
#include "platform/last_error.h"
#include "platform/sim/virtual_clock.h"

namespace kairovel::platform {
namespace {

TEST(VirtualClock, SleepingAdvancesVirtualTimeAtOnce) {
    VirtualClock clock;
    SYSTEMTIME start;
    clock.GetSystemTime(start);
    EXPECT_EQ(start.wYear, 2024);
    EXPECT_EQ(start.wMonth, 1);
    EXPECT_EQ(start.wDay, 1);

    const auto before = std::chrono::steady_clock::now();
    for (int day = 0; day < 365; ++day) clock.Sleep(86'400'000);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(clock.ElapsedMilliseconds(), 365LL * 86'400'000);
    SYSTEMTIME later;
    clock.GetSystemTime(later);
    EXPECT_EQ(later.wYear, 2024);  // a leap year
    EXPECT_EQ(later.wMonth, 12);
    EXPECT_EQ(later.wDay, 31);
    EXPECT_EQ(clock.TrueErrorMilliseconds(), 0.0);
}

TEST(VirtualClock, FollowsTheModelAndItsCounterTheOscillator) {
    VirtualClock clock;
    ASSERT_TRUE(clock.SetDriftPpm(100.0));
    ASSERT_TRUE(clock.SetSystemTimeAdjustment(99990, false));  // 100 ppm slower: (1 + 1e-4)(1 - 1e-4) = 1 - 1e-8
    std::int64_t before = 0;
    std::int64_t after = 0;
    clock.QueryPerformanceCounter(before);
    clock.Sleep(1'000'000);
    clock.QueryPerformanceCounter(after);
    EXPECT_NEAR(clock.TrueErrorMilliseconds(), -0.01, 0.0001);
    EXPECT_EQ(after - before, 1'000'100'000'000);  // 1000 s at 1 + 100 ppm, in ns

    clock.SetTrueErrorMilliseconds(-1500.5);
    EXPECT_NEAR(clock.TrueErrorMilliseconds(), -1500.5, 0.0001);
    std::uint32_t adjustment = 0;
    std::uint32_t increment = 0;
    bool disabled = true;
    ASSERT_TRUE(clock.GetSystemTimeAdjustment(adjustment, increment, disabled));
    EXPECT_EQ(adjustment, 99990u);
    EXPECT_EQ(increment, 100000u);
    EXPECT_FALSE(disabled);
}

TEST(VirtualClock, RangeRefusalAndHistoryStandInForOtherPlatforms) {
    VirtualClock clock;
    std::uint32_t lowest = 1;
    std::uint32_t highest = 0;
    clock.GetSystemTimeAdjustmentRange(lowest, highest);
    EXPECT_EQ(lowest, 0u);
    EXPECT_EQ(highest, 0xFFFF'FFFFu);

    clock.SetAcceptedRange(89950, 110050);
    EXPECT_FALSE(clock.SetSystemTimeAdjustment(1000, false));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(clock.SetSystemTimeAdjustment(1000, true));  // disabled: the value does not count
    clock.Advance(2500);
    EXPECT_TRUE(clock.SetSystemTimeAdjustment(110050, false));

    clock.RefuseChanges(ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_FALSE(clock.SetSystemTimeAdjustment(100000, false));
    EXPECT_EQ(GetLastError(), ERROR_PRIVILEGE_NOT_HELD);
    SYSTEMTIME now;
    clock.GetSystemTime(now);
    EXPECT_FALSE(clock.SetSystemTime(now));
    EXPECT_EQ(GetLastError(), ERROR_PRIVILEGE_NOT_HELD);
    clock.RefuseChanges(0);
    EXPECT_TRUE(clock.SetSystemTime(now));
    EXPECT_EQ(clock.SetTimeCalls(), 1u);

    const auto changes = clock.AdjustmentChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_TRUE(changes[0].disabled);
    EXPECT_EQ(changes[1].atMilliseconds, 2500);
    EXPECT_EQ(changes[1].adjustment, 110050u);
}

TEST(VirtualClock, TimeStopsAtTheLastInstantACountHolds) {
    VirtualClock clock;
    constexpr std::int64_t kLastElapsed = (0x7FFF'FFFF'FFFF'FFFF - VirtualClock::kDefaultStart) / 10'000;
    clock.Advance(std::uint64_t{1} << 62);  // milliseconds whose 100-ns count no int64 holds
    EXPECT_EQ(clock.ElapsedMilliseconds(), kLastElapsed);
    clock.Advance(std::numeric_limits<std::uint64_t>::max());  // never backwards, never round again
    EXPECT_EQ(clock.ElapsedMilliseconds(), kLastElapsed);
    SYSTEMTIME last;
    clock.GetSystemTime(last);
    EXPECT_EQ(last.wYear, 30828);
}

TEST(VirtualClock, AClockRunningPastTheLastInstantStaysThere) {
    VirtualClock clock;
    SYSTEMTIME lastDay;
    lastDay.wYear = 30827;  // the last year a calendar record may be set to
    lastDay.wMonth = 12;
    lastDay.wDay = 31;
    ASSERT_TRUE(clock.SetSystemTime(lastDay));
    ASSERT_TRUE(clock.SetSystemTimeAdjustment(0xFFFF'FFFF, false));  // 42,949 times as fast
    clock.Advance(3'600'000);  // an hour of machine time, five thousand years of the clock's
    SYSTEMTIME now;
    clock.GetSystemTime(now);
    EXPECT_EQ(now.wYear, 30828);  // where a count ends
    EXPECT_GT(clock.TrueErrorMilliseconds(), 0.0);
}

TEST(VirtualClock, LocalTimeIsUtcPlusTheGivenOffset) {
    VirtualClock clock;
    clock.SetLocalOffsetMinutes(-90);
    SYSTEMTIME local;
    clock.GetLocalTime(local);
    EXPECT_EQ(local.wYear, 2023);
    EXPECT_EQ(local.wMonth, 12);
    EXPECT_EQ(local.wDay, 31);
    EXPECT_EQ(local.wHour, 22);
    EXPECT_EQ(local.wMinute, 30);
}

TEST(VirtualClock, ThreadsMaySleepOnItTogether) {
    VirtualClock clock;
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) clock.Sleep(1);
    });
    for (int i = 0; i < 1000; ++i) {
        clock.Sleep(1);
        SYSTEMTIME now;
        clock.GetSystemTime(now);
    }
    other.join();
    EXPECT_EQ(clock.ElapsedMilliseconds(), 2000);  // every sleep advanced the one virtual time
}

}  // namespace
}  // namespace kairovel::platform
