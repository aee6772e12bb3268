// The machine's clock facility. These tests never change the clock: every
// call that could set it runs only when the process lacks CAP_SYS_TIME (as
// under scripts/test) and is skipped otherwise.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/last_error.h"
#include "platform/posix/system_clock.h"
#include "platform/posix/time_adjustment.h"

namespace kairovel::platform {
namespace {

constexpr int kCapSysTime = 25;

// Whether CAP_SYS_TIME is in the process's permitted or effective set.
bool MaySetTheClock() {
    std::ifstream status("/proc/self/status");
    std::string line;
    unsigned long long sets = 0;
    while (std::getline(status, line)) {
        if (line.rfind("CapPrm:", 0) == 0 || line.rfind("CapEff:", 0) == 0) {
            sets |= std::strtoull(line.c_str() + 7, nullptr, 16);
        }
    }
    return (sets >> kCapSysTime & 1) != 0;
}

#define SKIP_IF_THE_CLOCK_COULD_CHANGE() \
    if (MaySetTheClock()) GTEST_SKIP() << "runs only without CAP_SYS_TIME (scripts/test drops it)"

TEST(KernelAdjustmentMapping, AtOneHundredHertz) {
    const KernelAdjustmentMapping mapping(100);
    EXPECT_EQ(mapping.Increment(), 100000u);
    EXPECT_EQ(mapping.NominalTick(), 10000);
    // Tick 9000 to 11000 microseconds, frequency within 500 ppm (50 units of 10 ppm).
    EXPECT_EQ(mapping.Lowest(), 89950u);
    EXPECT_EQ(mapping.Highest(), 110050u);

    KernelClockRate rate;
    ASSERT_TRUE(mapping.ToKernel(99950, false, rate));
    EXPECT_EQ(rate.tick, 9995);
    EXPECT_EQ(rate.frequency, 0);
    ASSERT_TRUE(mapping.ToKernel(99999, false, rate));  // the nearest tick, 10 ppm slower
    EXPECT_EQ(rate.tick, 10000);
    EXPECT_EQ(rate.frequency, -10 * 65536);
    ASSERT_TRUE(mapping.ToKernel(100144, false, rate));
    EXPECT_EQ(rate.tick, 10014);
    EXPECT_EQ(rate.frequency, 4 * 10 * 65536);
    ASSERT_TRUE(mapping.ToKernel(110050, false, rate));  // the tick at its limit, the rest as frequency
    EXPECT_EQ(rate.tick, 11000);
    EXPECT_EQ(rate.frequency, 500 * 65536);
    ASSERT_TRUE(mapping.ToKernel(89950, false, rate));
    EXPECT_EQ(rate.tick, 9000);
    EXPECT_EQ(rate.frequency, -500 * 65536);
    ASSERT_TRUE(mapping.ToKernel(12345, true, rate));  // disabled: the kernel's defaults, whatever the value
    EXPECT_EQ(rate.tick, 10000);
    EXPECT_EQ(rate.frequency, 0);

    EXPECT_FALSE(mapping.ToKernel(89949, false, rate));
    EXPECT_FALSE(mapping.ToKernel(110051, false, rate));
    EXPECT_FALSE(mapping.ToKernel(1000, false, rate));  // 990 per mille slower: Windows takes it, Linux not
}

TEST(KernelAdjustmentMapping, ReadsTheKernelsValuesBack) {
    const KernelAdjustmentMapping mapping(100);
    std::uint32_t adjustment = 0;
    bool disabled = false;
    mapping.ToAdjustment(KernelClockRate{10000, 0}, adjustment, disabled);
    EXPECT_EQ(adjustment, 100000u);
    EXPECT_TRUE(disabled);
    mapping.ToAdjustment(KernelClockRate{10000, 10 * 65536}, adjustment, disabled);
    EXPECT_EQ(adjustment, 100001u);
    EXPECT_FALSE(disabled);
    // A frequency someone else set (12.345 ppm) reads as the nearest unit.
    mapping.ToAdjustment(KernelClockRate{10000, static_cast<long>(12.345 * 65536)}, adjustment, disabled);
    EXPECT_EQ(adjustment, 100001u);
    EXPECT_FALSE(disabled);
    mapping.ToAdjustment(KernelClockRate{9995, -27 * 65536}, adjustment, disabled);
    EXPECT_EQ(adjustment, 99947u);  // 99950 - 2.7 units

    for (std::uint32_t value : {89950u, 99950u, 99998u, 99999u, 100001u, 100145u, 110050u}) {
        KernelClockRate rate;
        ASSERT_TRUE(mapping.ToKernel(value, false, rate));
        mapping.ToAdjustment(rate, adjustment, disabled);
        EXPECT_EQ(adjustment, value);
    }
}

TEST(KernelAdjustmentMapping, GivesTheStartUpValuesBackExactly) {
    // +12.3 ppm on a tick of 10001 reads as 100011, whose nearest kernel values are +10 ppm.
    const KernelAdjustmentMapping mapping(100, KernelClockRate{10001, 806093});
    KernelClockRate rate;
    ASSERT_TRUE(mapping.ToKernel(100011, false, rate));
    EXPECT_EQ(rate.tick, 10001);
    EXPECT_EQ(rate.frequency, 806093);
    ASSERT_TRUE(mapping.ToKernel(100011, true, rate));  // not what was read: disabled is the defaults
    EXPECT_EQ(rate.tick, 10000);
    EXPECT_EQ(rate.frequency, 0);
    ASSERT_TRUE(mapping.ToKernel(100012, false, rate));
    EXPECT_EQ(rate.tick, 10001);
    EXPECT_EQ(rate.frequency, 2 * 10 * 65536);
}

TEST(KernelAdjustmentMapping, OtherTickRates) {
    const KernelAdjustmentMapping at250(250);  // 4 ms ticks: 1 unit is 25 ppm
    EXPECT_EQ(at250.Increment(), 40000u);
    EXPECT_EQ(at250.Lowest(), 36000u - 20u);
    EXPECT_EQ(at250.Highest(), 44000u + 20u);
    KernelClockRate rate;
    ASSERT_TRUE(at250.ToKernel(39999, false, rate));
    EXPECT_EQ(rate.tick, 4000);
    EXPECT_EQ(rate.frequency, -25 * 65536);

    const KernelAdjustmentMapping at1000(1000);
    EXPECT_EQ(at1000.Increment(), 10000u);
    EXPECT_EQ(at1000.Lowest(), 8995u);
    EXPECT_EQ(at1000.Highest(), 11005u);

    const KernelAdjustmentMapping unknown(-1);  // sysconf failed: the usual 100 Hz
    EXPECT_EQ(unknown.Increment(), 100000u);
}

TEST(SystemClock, ReadsTheAdjustmentWithoutPrivilege) {
    ClockFacility& clock = MachineClock();
    std::uint32_t adjustment = 0;
    std::uint32_t increment = 0;
    bool disabled = false;
    ASSERT_TRUE(clock.GetSystemTimeAdjustment(adjustment, increment, disabled));
    EXPECT_EQ(increment, 10'000'000u / static_cast<std::uint32_t>(::sysconf(_SC_CLK_TCK)));
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    clock.GetSystemTimeAdjustmentRange(lowest, highest);
    EXPECT_LT(lowest, increment);
    EXPECT_GT(highest, increment);
    EXPECT_GE(adjustment, lowest);
    EXPECT_LE(adjustment, highest);
}

TEST(SystemClock, SettingFailsWithTheWindowsCodes) {
    ClockFacility& clock = MachineClock();
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    clock.GetSystemTimeAdjustmentRange(lowest, highest);
    // Outside the kernel's range: refused before the kernel is asked.
    SetLastError(0);
    EXPECT_FALSE(clock.SetSystemTimeAdjustment(lowest - 1, false));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(clock.SetSystemTimeAdjustment(highest + 1, false));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SYSTEMTIME impossible;
    impossible.wYear = 2024;
    impossible.wMonth = 13;
    impossible.wDay = 1;
    EXPECT_FALSE(clock.SetSystemTime(impossible));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    SKIP_IF_THE_CLOCK_COULD_CHANGE();
    // Without CAP_SYS_TIME: ERROR_PRIVILEGE_NOT_HELD. The values are those in force.
    std::uint32_t adjustment = 0;
    std::uint32_t increment = 0;
    bool disabled = false;
    ASSERT_TRUE(clock.GetSystemTimeAdjustment(adjustment, increment, disabled));
    EXPECT_FALSE(clock.SetSystemTimeAdjustment(adjustment, disabled));
    EXPECT_EQ(GetLastError(), ERROR_PRIVILEGE_NOT_HELD);
    SYSTEMTIME now;
    clock.GetSystemTime(now);
    EXPECT_FALSE(clock.SetSystemTime(now));
    EXPECT_EQ(GetLastError(), ERROR_PRIVILEGE_NOT_HELD);
}

TEST(SystemClock, ReadsUtcLocalTimeAndTheCounter) {
    ClockFacility& clock = MachineClock();
    SYSTEMTIME utc;
    clock.GetSystemTime(utc);
    EXPECT_GE(utc.wYear, 2024);
    std::int64_t frequency = 0;
    ASSERT_TRUE(clock.QueryPerformanceFrequency(frequency));
    EXPECT_EQ(frequency, 1'000'000'000);
    std::int64_t before = 0;
    std::int64_t after = 0;
    // A pause never ends early on the raw clock, and, while the rate holds,
    // wakes the thread once (a voluntary switch of the thread is a wake-up).
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    const long switchesBefore = usage.ru_nvcsw;
    clock.QueryPerformanceCounter(before);
    clock.Sleep(300);
    clock.QueryPerformanceCounter(after);
    ::getrusage(RUSAGE_THREAD, &usage);
    EXPECT_GE(after - before, 300'000'000);
    EXPECT_LE(usage.ru_nvcsw - switchesBefore, 2);
}

}  // namespace
}  // namespace kairovel::platform
