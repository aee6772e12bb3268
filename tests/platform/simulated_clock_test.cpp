#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/calendar.h"
#include "platform/last_error.h"
#include "platform/sim/machine_time.h"
#include "platform/sim/clock_model.h"
#include "platform/sim/simulated_clock.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using testing::ReadFileBytes;
using testing::TemporaryDirectory;
using testing::WaitForChild;
using testing::WriteFileBytes;

constexpr std::int64_t kSecond = 10'000'000;  // 100-ns units
constexpr std::int64_t kMillisecond = 10'000;
constexpr std::int64_t kStart = 133'485'408'000'000'000;  // 2024-01-01

TEST(SimulatedClockModel, RunsAtDriftTimesAdjustmentOverIncrement) {
    SimulatedClockModel model(kStart);
    EXPECT_EQ(model.ClockAt(kStart + 1000 * kSecond), kStart + 1000 * kSecond);  // a missing state: the machine's clock
    EXPECT_TRUE(model.disabled());
    EXPECT_EQ(model.adjustment(), 100000u);
    EXPECT_EQ(model.increment(), 100000u);

    ASSERT_TRUE(model.SetDrift(kStart, 40.0));  // 40 ppm fast: 40 ms in 1000 s
    EXPECT_EQ(model.TrueErrorAt(kStart + 1000 * kSecond), 40 * kMillisecond);

    // A slew from 1000 s on: 99950 / 100000 of the oscillator's rate.
    model.SetAdjustment(kStart + 1000 * kSecond, 99950, false);
    EXPECT_EQ(model.TrueErrorAt(kStart + 1000 * kSecond), 40 * kMillisecond);  // the past stays as it was
    EXPECT_NEAR(model.Rate(), 1.00004 * 0.9995, 1e-12);
    const std::int64_t later = kStart + 2800 * kSecond;
    EXPECT_NEAR(static_cast<double>(model.TrueErrorAt(later)),
                40.0 * kMillisecond + (1.00004 * 0.9995 - 1.0) * 1800 * kSecond, 1.0);
    EXPECT_EQ(model.adjustment(), 99950u);
    EXPECT_FALSE(model.disabled());

    // Disabling returns to the oscillator's own rate and reads as the increment.
    model.SetAdjustment(later, 12345, true);
    EXPECT_EQ(model.adjustment(), 100000u);
    EXPECT_DOUBLE_EQ(model.Rate(), 1.00004);

    // Any 32-bit adjustment is taken, as Windows takes it.
    model.SetAdjustment(later, 0xFFFF'FFFF, false);
    EXPECT_EQ(model.adjustment(), 0xFFFF'FFFFu);
    model.SetAdjustment(later, 0, false);
    EXPECT_EQ(model.ClockAt(later + kSecond), model.ClockAt(later));  // stands still

    EXPECT_FALSE(model.SetDrift(later, 600'000.0));
    EXPECT_DOUBLE_EQ(model.driftPpm(), 40.0);
}

TEST(SimulatedClockModel, StepsAndErrors) {
    SimulatedClockModel model(kStart);
    model.SetAdjustment(kStart, 200000, false);  // twice as fast
    model.Step(kStart + 10 * kSecond, kStart);   // set back to the start
    EXPECT_EQ(model.ClockAt(kStart + 10 * kSecond), kStart);
    EXPECT_EQ(model.ClockAt(kStart + 11 * kSecond), kStart + 2 * kSecond);
    model.SetTrueError(kStart + 20 * kSecond, -3200 * kMillisecond);
    EXPECT_EQ(model.TrueErrorAt(kStart + 20 * kSecond), -3200 * kMillisecond);
}

TEST(SimulatedClockModel, StateTextRoundTripsAndRefusesDamage) {
    SimulatedClockModel model(kStart);
    model.SetDrift(kStart + 5, -12.5);
    model.SetAdjustment(kStart + 7, 99998, false);
    const std::string text = model.Serialize();
    const std::optional<SimulatedClockModel> back = SimulatedClockModel::Parse(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Serialize(), text);
    EXPECT_EQ(back->ClockAt(kStart + 99 * kSecond), model.ClockAt(kStart + 99 * kSecond));

    EXPECT_FALSE(SimulatedClockModel::Parse(""));
    EXPECT_FALSE(SimulatedClockModel::Parse("something else\n"));
    EXPECT_FALSE(SimulatedClockModel::Parse(text.substr(0, text.size() / 2)));  // a torn write
    std::string noIncrement = text;
    noIncrement.replace(noIncrement.find("increment 100000"), 16, "increment 0");
    EXPECT_FALSE(SimulatedClockModel::Parse(noIncrement));
    std::string badNumber = text;
    badNumber.replace(badNumber.find("drift_ppm -12.5"), 15, "drift_ppm 1x");
    EXPECT_FALSE(SimulatedClockModel::Parse(badNumber));
}

TEST(SimulatedClockModel, StateOutsideTheModelsRangeIsRefusedWithItsReason) {
    const auto problemOf = [](const std::string& text) {
        std::string problem;
        EXPECT_FALSE(SimulatedClockModel::Parse(text, problem)) << text;
        return problem;
    };
    const auto state = [](const std::string& machine, const std::string& clock, const std::string& rest) {
        return "kairovel-simulated-clock 1\nmachine " + machine + "\nclock " + clock + "\n" + rest;
    };
    const std::string usual = "drift_ppm 0\nincrement 100000\nadjustment 1\ndisabled 0\n";
    // Extreme counts once overflowed the calendar conversion of every read.
    EXPECT_EQ(problemOf(state("9223372036854775807", "-9223372036854775808", "drift_ppm 0\nincrement 1\n"
                                                                              "adjustment 1\ndisabled 0\n")),
              "clock is out of range");
    EXPECT_EQ(problemOf(state("0", "0", "drift_ppm nan\nincrement 100000\nadjustment 1\ndisabled 0\n")),
              "drift_ppm is out of range");
    EXPECT_EQ(problemOf(state("0", "0", usual + "clock 5\n")), "clock is given twice");
    EXPECT_EQ(problemOf(state("0", "0", usual + "owner root\n")), "it has an unknown field");
    EXPECT_EQ(problemOf(state("0", "0", usual + std::string(5000, '#'))),
              "it is larger than any state of a simulated clock");
    EXPECT_TRUE(SimulatedClockModel::Parse(state("0", "9223372036854775807", usual)));  // the ends of the range
}

TEST(DriftingCounter, RunsAtTheOscillatorRateAndNeverBackwards) {
    DriftingCounter counter;
    EXPECT_EQ(counter.Read(1'000'000'000, 0.0), 1'000'000'000);
    EXPECT_EQ(counter.Read(2'000'000'000, 0.0), 2'000'000'000);
    const std::int64_t atChange = counter.Read(2'000'000'000, 500.0);
    EXPECT_EQ(atChange, 2'000'000'000);  // a new drift starts from where the counter is
    EXPECT_EQ(counter.Read(3'000'000'000, 500.0), 3'000'500'000);
    const std::int64_t slower = counter.Read(3'000'000'000, -500.0);
    EXPECT_EQ(slower, 3'000'500'000);
    EXPECT_EQ(counter.Read(4'000'000'000, -500.0), 4'000'000'000);
}

class SimulatedClockTest : public ::testing::Test {
protected:
    std::filesystem::path StatePath() const { return directory_ / "simulated-clock.state"; }

    // Runs body in a child process and returns its exit code.
    static int InChild(const std::function<int()>& body) {
        const pid_t child = ::fork();
        if (child == 0) _exit(body());
        return WaitForChild(child);
    }

    TemporaryDirectory directory_;
    SimulatedClock clock_{StatePath()};
};

TEST_F(SimulatedClockTest, MissingFileIsTheMachinesClock) {
    SimulatedClock::Reading reading;
    ASSERT_TRUE(clock_.Read(reading));
    EXPECT_NEAR(reading.trueErrorMilliseconds, 0.0, 0.001);
    EXPECT_EQ(reading.adjustment, 100000u);
    EXPECT_EQ(reading.increment, 100000u);
    EXPECT_TRUE(reading.disabled);
    EXPECT_EQ(reading.driftPpm, 0.0);
    EXPECT_FALSE(std::filesystem::exists(StatePath()));  // reading writes nothing
}

TEST_F(SimulatedClockTest, ErrorAdjustmentAndStepsShowInItsTime) {
    ASSERT_TRUE(clock_.Configure(3200.0, 40.0));
    SimulatedClock::Reading reading;
    ASSERT_TRUE(clock_.Read(reading));
    EXPECT_NEAR(reading.trueErrorMilliseconds, 3200.0, 1.0);
    EXPECT_EQ(reading.driftPpm, 40.0);

    // The clock, read between two readings of the machine's, shows the
    // machine's time plus the error (and the drift since), to the millisecond below.
    SYSTEMTIME simulated;
    const std::int64_t machineBefore = MachineUtcCount();
    clock_.GetSystemTime(simulated);
    const std::int64_t machineAfter = MachineUtcCount();
    FILETIME count;
    ASSERT_TRUE(SystemTimeToFileTime(simulated, count));
    const auto shown = static_cast<std::int64_t>(FileTimeCount(count));
    EXPECT_GE(shown, machineBefore + 3200 * kMillisecond - kMillisecond);
    EXPECT_LE(shown, machineAfter + 3200 * kMillisecond + kMillisecond);

    // Half speed: the error falls by half of the real time that passes.
    ASSERT_TRUE(clock_.Configure(0.0, 0.0));
    ASSERT_TRUE(clock_.SetSystemTimeAdjustment(50000, false));
    SimulatedClock::Reading before;
    SimulatedClock::Reading after;
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(clock_.Read(before));
    const auto t1 = std::chrono::steady_clock::now();
    clock_.Sleep(200);
    const auto t2 = std::chrono::steady_clock::now();
    ASSERT_TRUE(clock_.Read(after));
    const auto t3 = std::chrono::steady_clock::now();
    const auto ms = [](auto span) { return std::chrono::duration<double, std::milli>(span).count(); };
    const double change = after.trueErrorMilliseconds - before.trueErrorMilliseconds;
    EXPECT_LE(change, -ms(t2 - t1) / 2 + 0.2);
    EXPECT_GE(change, -ms(t3 - t0) / 2 - 0.2);
    EXPECT_EQ(after.adjustment, 50000u);
    EXPECT_FALSE(after.disabled);

    // Setting the time steps the clock to it: 10 s ahead of what it showed,
    // less the time that passed before the step (and the fraction of a
    // millisecond that the calendar record leaves out).
    ASSERT_TRUE(clock_.SetSystemTimeAdjustment(0, true));
    ASSERT_TRUE(clock_.Read(before));
    const auto stepBegan = std::chrono::steady_clock::now();
    SYSTEMTIME now;
    clock_.GetSystemTime(now);
    FILETIME target;
    SystemTimeToFileTime(now, target);
    SYSTEMTIME ahead;
    FileTimeToSystemTime(FileTimeFromCount(FileTimeCount(target) + 10 * kSecond), ahead);
    ASSERT_TRUE(clock_.SetSystemTime(ahead));
    const auto stepEnded = std::chrono::steady_clock::now();
    ASSERT_TRUE(clock_.Read(reading));
    const double step = reading.trueErrorMilliseconds - before.trueErrorMilliseconds;
    EXPECT_LE(step, 10000.0 + 0.001);
    EXPECT_GE(step, 10000.0 - ms(stepEnded - stepBegan) - 1.0);

    SYSTEMTIME impossible = ahead;
    impossible.wHour = 24;
    EXPECT_FALSE(clock_.SetSystemTime(impossible));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SimulatedClockTest, LocalTimeFollowsTheTimeZone) {
    const testing::ScopedEnvironment zone("TZ", "UTC-3");  // three hours east of UTC
    ASSERT_TRUE(clock_.Configure(-7'200'000.0, std::nullopt));  // and two hours behind
    SYSTEMTIME utc;
    SYSTEMTIME local;
    clock_.GetSystemTime(utc);
    clock_.GetLocalTime(local);
    FILETIME u;
    FILETIME l;
    ASSERT_TRUE(SystemTimeToFileTime(utc, u));
    ASSERT_TRUE(SystemTimeToFileTime(local, l));
    const double hours = static_cast<double>(FileTimeCount(l) - FileTimeCount(u)) / (3600.0 * kSecond);
    EXPECT_NEAR(hours, 3.0, 0.01);
    EXPECT_NEAR(static_cast<double>(static_cast<std::int64_t>(FileTimeCount(u)) - MachineUtcCount()) / kSecond, -7200.0, 1.0);
}

TEST_F(SimulatedClockTest, CounterRunsAtTheOscillatorRate) {
    ASSERT_TRUE(clock_.Configure(std::nullopt, 500'000.0));  // 1.5 times as fast
    ASSERT_TRUE(clock_.SetSystemTimeAdjustment(10, false));   // the adjustment does not touch the counter
    std::int64_t frequency = 0;
    ASSERT_TRUE(clock_.QueryPerformanceFrequency(frequency));
    std::int64_t before = 0;
    std::int64_t after = 0;
    const std::int64_t rawBefore = MachineRawNanoseconds();
    clock_.QueryPerformanceCounter(before);
    clock_.Sleep(100);
    clock_.QueryPerformanceCounter(after);
    const std::int64_t raw = MachineRawNanoseconds() - rawBefore;
    EXPECT_GE(after - before, 150'000'000 - 1'000'000);
    EXPECT_LE(after - before, raw * 3 / 2 + 1'000'000);
    EXPECT_EQ(frequency, 1'000'000'000);
}

TEST_F(SimulatedClockTest, ProcessesShareTheState) {
    EXPECT_EQ(InChild([this] { return clock_.Configure(5000.0, 12.0) ? 0 : 1; }), 0);
    SimulatedClock::Reading reading;
    ASSERT_TRUE(clock_.Read(reading));
    EXPECT_NEAR(reading.trueErrorMilliseconds, 5000.0, 1.0);
    EXPECT_EQ(reading.driftPpm, 12.0);
    ASSERT_TRUE(clock_.SetSystemTimeAdjustment(99950, false));
    EXPECT_EQ(InChild([this] {
                  std::uint32_t adjustment = 0;
                  std::uint32_t increment = 0;
                  bool disabled = true;
                  SimulatedClock other(StatePath());
                  return other.GetSystemTimeAdjustment(adjustment, increment, disabled) && adjustment == 99950 &&
                                 !disabled
                             ? 0
                             : 1;
              }),
              0);
}

TEST_F(SimulatedClockTest, ConcurrentChangesOfTwoProcessesAreAllKept) {
    constexpr int kChanges = 150;
    const pid_t adjuster = ::fork();
    if (adjuster == 0) {
        SimulatedClock own(StatePath());
        for (int i = 1; i <= kChanges; ++i) {
            if (!own.SetSystemTimeAdjustment(100000 + static_cast<std::uint32_t>(i), false)) _exit(1);
        }
        _exit(0);
    }
    const pid_t drifter = ::fork();
    if (drifter == 0) {
        SimulatedClock own(StatePath());
        for (int i = 1; i <= kChanges; ++i) {
            if (!own.Configure(std::nullopt, static_cast<double>(i))) _exit(1);
        }
        _exit(0);
    }
    // Meanwhile every read finds a whole state.
    int reads = 0;
    for (int i = 0; i < 300; ++i) {
        SimulatedClock::Reading reading;
        ASSERT_TRUE(clock_.Read(reading)) << GetLastError();
        ++reads;
    }
    EXPECT_EQ(WaitForChild(adjuster), 0);
    EXPECT_EQ(WaitForChild(drifter), 0);

    SimulatedClock::Reading last;
    ASSERT_TRUE(clock_.Read(last));
    EXPECT_EQ(last.adjustment, 100000u + kChanges);  // neither process's last change was lost
    EXPECT_EQ(last.driftPpm, static_cast<double>(kChanges));
    EXPECT_EQ(reads, 300);
    for (const auto& entry : std::filesystem::directory_iterator(directory_.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos) << entry.path();
    }
}

TEST_F(SimulatedClockTest, DamagedStateIsRefusedAndNeverOverwritten) {
    WriteFileBytes(StatePath(), "not a clock\n");
    std::uint32_t adjustment = 0;
    std::uint32_t increment = 0;
    bool disabled = false;
    EXPECT_FALSE(clock_.GetSystemTimeAdjustment(adjustment, increment, disabled));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_FALSE(clock_.SetSystemTimeAdjustment(99950, false));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(ReadFileBytes(StatePath()), "not a clock\n");
    EXPECT_EQ(clock_.StateProblem(), StatePath().string() + ": its first line is not \"kairovel-simulated-clock 1\"");
    // A read cannot fail, and must not go on with another clock: it ends the process and says why.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SYSTEMTIME now;
            clock_.GetSystemTime(now);
        },
        ::testing::ExitedWithCode(1), "The simulated clock's state .*simulated-clock.state is refused: its first line");
    EXPECT_EXIT(
        {
            std::int64_t count = 0;
            clock_.QueryPerformanceCounter(count);
        },
        ::testing::ExitedWithCode(1), "is refused");

    ASSERT_TRUE(clock_.Reset());
    EXPECT_FALSE(std::filesystem::exists(StatePath()));
    EXPECT_TRUE(clock_.SetSystemTimeAdjustment(99950, false));
}

TEST_F(SimulatedClockTest, RefusesErrorsAndDriftsBeyondReason) {
    EXPECT_FALSE(clock_.Configure(std::nullopt, 600'000.0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(clock_.Configure(1e300, std::nullopt));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(std::filesystem::exists(StatePath()));
}

// Runs in a fresh process (a death test's), whose clock is not chosen yet.
bool ChosenClockFollows(const char* kind, const std::function<bool(ClockFacility&)>& check) {
    const TemporaryDirectory root;
    ::setenv("KAIROVEL_ROOT", root.path().c_str(), 1);
    ::setenv("KAIROVEL_CLOCK", kind, 1);
    return check(Clock());
}

TEST(DefaultClock, KairovelClockChoosesTheSimulatedClockOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(ChosenClockFollows("simulated",
                                             [](ClockFacility& clock) {
                                                 SimulatedClock(SimulatedClock::DefaultStateFile())
                                                     .Configure(-60'000.0, std::nullopt);
                                                 SYSTEMTIME simulated;
                                                 clock.GetSystemTime(simulated);
                                                 FILETIME count;
                                                 SystemTimeToFileTime(simulated, count);
                                                 const std::int64_t error =
                                                     static_cast<std::int64_t>(FileTimeCount(count)) -
                                                     MachineUtcCount();
                                                 return std::llabs(error + 60 * kSecond) < kSecond;
                                             })
                              ? 0
                              : 1),
                ::testing::ExitedWithCode(0), "");
    // A misspelt setting never reaches the real clock.
    EXPECT_EXIT(std::exit(ChosenClockFollows("simulatd",
                                             [](ClockFacility& clock) {
                                                 std::uint32_t lowest = 1;
                                                 std::uint32_t highest = 0;
                                                 clock.GetSystemTimeAdjustmentRange(lowest, highest);
                                                 return lowest == 0 && highest == 0xFFFF'FFFF;
                                             })
                              ? 0
                              : 1),
                ::testing::ExitedWithCode(0), "neither system nor simulated");
}

}  // namespace
}  // namespace kairovel::platform
