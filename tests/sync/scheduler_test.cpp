// The scheduler on a clock the test steps: the start time, the periods, a
// late pass, pause and continue. The real
// TIME server runs on port 37 of the test's own network namespace, and the
// registry under a temporary KAIROVEL_ROOT.
#include "sync/scheduler.h"

#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/threads.h"
#include "support/eventually.h"
#include "support/loopback.h"
#include "support/recording_logger.h"
#include "support/stepped_clock.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

constexpr std::int64_t kSecond = 1000;  // ms
constexpr std::uint32_t kBound = 10'000;  // ms: no wait of these tests lasts longer

// The local time 2024-01-01 hh:mm:ss.mmm as a virtual clock's start.
std::int64_t At(std::int64_t hours, std::int64_t minutes, std::int64_t seconds, std::int64_t milliseconds) {
    return platform::VirtualClock::kDefaultStart +
           (((hours * 60 + minutes) * 60 + seconds) * kSecond + milliseconds) * 10'000;
}

// How long WaitForStart waits from that local time, in milliseconds.
std::int64_t WaitFrom(std::int64_t machineStart, StartTime at, int localOffsetMinutes = 0) {
    platform::VirtualClock clock(machineStart);
    clock.SetLocalOffsetMinutes(localOffsetMinutes);
    const platform::ScopedFacility<platform::ClockFacility> use(clock);
    WaitForStart(at);
    return clock.ElapsedMilliseconds();
}

TEST(WaitForStart, WaitsForTheDelayOrTheNextLocalTimeOfDay) {
    ScopedRecordingLogger log;
    EXPECT_EQ(WaitFrom(At(2, 59, 30, 250), {24, 0, 0}), 0);
    EXPECT_EQ(WaitFrom(At(2, 59, 30, 250), {25, 30, 0}), 5400 * kSecond);
    EXPECT_EQ(WaitFrom(At(2, 59, 30, 250), {3, 0, 0}), 30'000);
    EXPECT_EQ(WaitFrom(At(3, 0, 0, 0), {3, 0, 0}), 86'400'000);
    EXPECT_EQ(WaitFrom(At(3, 0, 5, 100), {3, 0, 0}), 86'395'000);
    // The local time, not UTC: 01:59:30.250 UTC is 02:59:30.250 an hour east.
    EXPECT_EQ(WaitFrom(At(1, 59, 30, 250), {3, 0, 0}, 60), 30'000);
    // A delay beyond what 32 bits of milliseconds hold is waited in full.
    EXPECT_EQ(WaitFrom(At(0, 0, 0, 0), {24 + 2000, 0, 0}), 2000LL * 3600 * kSecond);
    EXPECT_THAT(log.Texts(LevelOk),
                ElementsAre(L"Kairovel will wait for 5400 seconds to synchronize with the remote system(s).",
                            L"Kairovel will wait for 7200000 seconds to synchronize with the remote system(s)."));
    EXPECT_EQ(log.Texts(LevelTrace).front(),
              L"Kairovel will wait until 03:00:00 to synchronize with the remote system(s).");
}

class SchedulerTest : public ::testing::Test {
protected:
    SchedulerTest() {
        TheConfiguration() = Configuration{};
        TheConfiguration().Period = 600;
    }
    ~SchedulerTest() override {
        // The stopped clock makes every sleep raise: the passes end, and the
        // scheduler ends as it does on any failure of its own.
        clock_.Stop();
        EXPECT_TRUE(Eventually([this] { return running_.load() == 0; }));
        if (thread_ != nullptr) {
            EXPECT_EQ(platform::Threads().WaitForSingleObject(thread_, kBound), platform::WAIT_OBJECT_0);
            platform::CloseHandle(thread_);
        }
        platform::CloseHandle(stopEvent_);
        TheConfiguration() = Configuration{};
    }

    // Starts the scheduler; each pass sleeps the next of passLengths (seconds; 0 when they run out).
    void Start(std::vector<std::int64_t> passLengths = {}) {
        passLengths_ = std::move(passLengths);
        thread_ = platform::Threads().CreateThread([this] {
            scheduler_.Run();
            return std::uint32_t{0};
        });
        ASSERT_NE(thread_, nullptr);
    }

    void Pass() {
        const int concurrent = ++running_;
        std::int64_t length = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            starts_.push_back(clock_.Now() / kSecond);
            if (passLengths_.size() >= starts_.size()) length = passLengths_[starts_.size() - 1];
            mostAtOnce_ = std::max(mostAtOnce_, concurrent);
        }
        try {
            if (length != 0) clock_.Sleep(static_cast<std::uint32_t>(length * kSecond));
        } catch (const StoppedClock&) {
        }
        --running_;
    }

    // The virtual seconds at which the passes started.
    std::vector<std::int64_t> Starts() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return starts_;
    }
    int MostAtOnce() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return mostAtOnce_;
    }
    bool StopEventSet() { return platform::Threads().WaitForSingleObject(stopEvent_, 0) == platform::WAIT_OBJECT_0; }

    TemporaryDirectory root_;
    ScopedEnvironment environment_{"KAIROVEL_ROOT", root_.path().string()};
    ScopedRecordingLogger log_;
    SteppedClock clock_;
    platform::ScopedFacility<platform::ClockFacility> useClock_{clock_};
    LocalClockState clockState_;
    LocalClock localClock_{clockState_};
    platform::HANDLE stopEvent_ = platform::Threads().CreateEventW(true, false, nullptr);
    Scheduler scheduler_{stopEvent_, localClock_, [this] { Pass(); }};
    platform::HANDLE thread_ = nullptr;

    std::mutex mutex_;
    std::vector<std::int64_t> passLengths_;
    std::vector<std::int64_t> starts_;
    int mostAtOnce_ = 0;
    std::atomic<int> running_{0};
};

// Period 600 s; the first pass takes 1900 s, more than three periods. The
// late pass is reported once, however long it runs on, and waited for; the
// next starts when it ends, and the period runs from there.
TEST_F(SchedulerTest, APassThatOutlastsItsPeriodIsReportedOnceAndTheNextWaitsForIt) {
    const std::wstring hanging =
        L"Time synchronization not complete before the next one started. The thread could be hanging.";
    Start({1900, 0, 0});
    ASSERT_TRUE(clock_.AwaitSleepers(2));  // the scheduler's period and the first pass
    EXPECT_THAT(log_.Texts(LevelOk), ElementsAre(L"Kairovel version 1.7 NT (Apr 17 1999)   started"));
    EXPECT_EQ(ReadTcpReply(kTimePort)->size(), 4u);  // the TIME server runs beside the passes

    clock_.Advance(600 * kSecond);
    ASSERT_TRUE(Eventually([this] { return !log_.Texts(LevelError).empty(); }));
    clock_.Advance(600 * kSecond);  // two periods over: still the one message, and no pass beside it
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Starts().size(), 1u);
    clock_.Advance(700 * kSecond);  // the first pass ends: the second starts at once
    ASSERT_TRUE(Eventually([this] { return Starts().size() == 2; }));
    EXPECT_THAT(log_.Texts(LevelError), ElementsAre(hanging));
    ASSERT_TRUE(clock_.AwaitSleepers(1));
    clock_.Advance(600 * kSecond);
    ASSERT_TRUE(Eventually([this] { return Starts().size() == 3; }));

    EXPECT_THAT(Starts(), ElementsAre(0, 1900, 2500));
    EXPECT_EQ(MostAtOnce(), 1);
    EXPECT_FALSE(StopEventSet());
}

// Pausing suspends the scheduler: while it is paused no pass starts, however
// long; on continue the sleep it was in ends no earlier than planned.
TEST_F(SchedulerTest, WhilePausedNoPassStartsAndASleepEndsNoEarlierThanPlanned) {
    platform::ThreadsFacility& threads = platform::Threads();
    Start({100});
    ASSERT_TRUE(clock_.AwaitSleepers(2));
    ASSERT_EQ(threads.SuspendThread(thread_), 0u);
    clock_.Advance(300 * kSecond);  // the pass, which is not paused, ends meanwhile
    ASSERT_TRUE(Eventually([this] { return running_.load() == 0; }));
    ASSERT_EQ(threads.ResumeThread(thread_), 1u);  // resumed in the middle of its sleep
    clock_.Advance(299 * kSecond);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Starts().size(), 1u);
    clock_.Advance(1 * kSecond);
    ASSERT_TRUE(Eventually([this] { return Starts().size() == 2; }));

    ASSERT_TRUE(clock_.AwaitSleepers(1));
    ASSERT_EQ(threads.SuspendThread(thread_), 0u);
    clock_.Advance(1800 * kSecond);  // three periods
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Starts().size(), 2u);
    ASSERT_EQ(threads.ResumeThread(thread_), 1u);
    ASSERT_TRUE(Eventually([this] { return Starts().size() == 3; }));
    EXPECT_THAT(Starts(), ElementsAre(0, 600, 2400));
}

}  // namespace
}  // namespace kairovel::testing
