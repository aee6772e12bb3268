#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/last_error.h"
#include "platform/posix/system_clock.h"
#include "platform/sim/simulated_clock.h"
#include "platform/sim/virtual_clock.h"
#include "platform/threads.h"
#include "support/eventually.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint32_t kBound = 10'000;  // ms: no wait of these tests lasts longer
using kairovel::testing::Eventually;

TEST(Threads, ExitCodeIsStillActiveUntilTheRoutineReturns) {
    ThreadsFacility& threads = Threads();
    const ScopedHandle go(threads.CreateEventW(true, false, nullptr));
    const ScopedHandle thread(threads.CreateThread([&] {
        threads.WaitForSingleObject(go.get(), INFINITE);
        return std::uint32_t{42};
    }));
    ASSERT_NE(thread.get(), nullptr);
    std::uint32_t code = 0;
    ASSERT_TRUE(threads.GetExitCodeThread(thread.get(), code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(threads.WaitForSingleObject(thread.get(), 20), WAIT_TIMEOUT);
    ASSERT_TRUE(threads.SetEvent(go.get()));
    EXPECT_EQ(threads.WaitForSingleObject(thread.get(), kBound), WAIT_OBJECT_0);
    ASSERT_TRUE(threads.GetExitCodeThread(thread.get(), code));
    EXPECT_EQ(code, 42u);
}

TEST(Threads, AThreadOutlivesItsClosedHandle) {
    ThreadsFacility& threads = Threads();
    const ScopedHandle go(threads.CreateEventW(true, false, nullptr));
    const ScopedHandle finished(threads.CreateEventW(true, false, nullptr));
    // The thread gets the handles themselves, not the test's locals, which may be gone before it runs.
    const HANDLE thread = threads.CreateThread([&threads, goEvent = go.get(), finishedEvent = finished.get()] {
        threads.WaitForSingleObject(goEvent, INFINITE);
        threads.SetEvent(finishedEvent);
        return std::uint32_t{0};
    });
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(CloseHandle(thread));
    ASSERT_TRUE(threads.SetEvent(go.get()));
    // The handle is gone, but the thread runs on to its end.
    EXPECT_EQ(threads.WaitForSingleObject(finished.get(), kBound), WAIT_OBJECT_0);
}

TEST(Threads, ManualAndAutoResetEvents) {
    ThreadsFacility& threads = Threads();
    const ScopedHandle manual(threads.CreateEventW(true, true, nullptr));
    EXPECT_EQ(threads.WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(threads.WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);  // stays signalled
    ASSERT_TRUE(threads.ResetEvent(manual.get()));
    EXPECT_EQ(threads.WaitForSingleObject(manual.get(), 10), WAIT_TIMEOUT);

    const ScopedHandle automatic(threads.CreateEventW(false, false, nullptr));
    std::atomic<int> released{0};
    const auto waiter = [&threads, &released, event = automatic.get()] {
        if (threads.WaitForSingleObject(event, kBound) == WAIT_OBJECT_0) ++released;
        return std::uint32_t{0};
    };
    const ScopedHandle first(threads.CreateThread(waiter));
    const ScopedHandle second(threads.CreateThread(waiter));
    ASSERT_TRUE(threads.SetEvent(automatic.get()));  // releases one waiter only, whenever it comes
    ASSERT_TRUE(Eventually([&] { return released.load() >= 1; }));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(released.load(), 1);
    ASSERT_TRUE(threads.SetEvent(automatic.get()));  // and the next signal the other
    EXPECT_EQ(threads.WaitForSingleObject(first.get(), kBound), WAIT_OBJECT_0);
    EXPECT_EQ(threads.WaitForSingleObject(second.get(), kBound), WAIT_OBJECT_0);
    EXPECT_EQ(released.load(), 2);
}

TEST(Threads, NamedEventsAreSharedWhileOneExists) {
    ThreadsFacility& threads = Threads();
    HANDLE first = threads.CreateEventW(true, false, L"Kairovel");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = threads.CreateEventW(true, false, L"Kairovel");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(threads.SetEvent(first));
    EXPECT_EQ(threads.WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    CloseHandle(first);
    CloseHandle(second);
    HANDLE fresh = threads.CreateEventW(true, false, L"Kairovel");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(threads.WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
    CloseHandle(fresh);
}

TEST(Threads, HandlesOfTheWrongKindAreRefused) {
    ThreadsFacility& threads = Threads();
    const ScopedHandle event(threads.CreateEventW(true, false, nullptr));
    std::uint32_t code = 0;
    EXPECT_FALSE(threads.GetExitCodeThread(event.get(), code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(threads.SuspendThread(event.get()), kSuspendCountFailed);
    EXPECT_EQ(threads.WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(threads.SetEvent(nullptr));
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// A thread that counts its sleeps on one clock backend, for the suspension tests.
class Sleeper {
public:
    explicit Sleeper(ClockFacility& clock)
        : thread_(Threads().CreateThread([this, &clock] {
              while (!stop_.load()) {
                  ++sleeps_;
                  clock.Sleep(2);
              }
              return std::uint32_t{0};
          })) {}
    ~Sleeper() {
        stop_ = true;
        while (Threads().ResumeThread(thread_.get()) > 1) {
        }
        Threads().WaitForSingleObject(thread_.get(), kBound);
    }
    HANDLE handle() const { return thread_.get(); }
    int sleeps() const { return sleeps_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> sleeps_{0};
    ScopedHandle thread_;
};

void ExpectHeldWhileSuspended(ClockFacility& clock) {
    Sleeper sleeper(clock);
    ThreadsFacility& threads = Threads();
    ASSERT_TRUE(Eventually([&] { return sleeper.sleeps() >= 3; }));
    EXPECT_EQ(threads.SuspendThread(sleeper.handle()), 0u);
    EXPECT_EQ(threads.SuspendThread(sleeper.handle()), 1u);
    const int atSuspension = sleeper.sleeps();
    std::this_thread::sleep_for(milliseconds(100));
    // Stopped inside a sleep: it counts no further sleep while suspended.
    EXPECT_EQ(sleeper.sleeps(), atSuspension);
    std::uint32_t code = 0;
    ASSERT_TRUE(threads.GetExitCodeThread(sleeper.handle(), code));
    EXPECT_EQ(code, STILL_ACTIVE);

    EXPECT_EQ(threads.ResumeThread(sleeper.handle()), 2u);  // still suspended once
    const int afterFirstResume = sleeper.sleeps();
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(sleeper.sleeps(), afterFirstResume);
    EXPECT_EQ(threads.ResumeThread(sleeper.handle()), 1u);
    EXPECT_TRUE(Eventually([&] { return sleeper.sleeps() > afterFirstResume + 2; }));
    EXPECT_EQ(threads.ResumeThread(sleeper.handle()), 0u);  // not suspended: nothing to undo
}

TEST(Threads, SuspendedThreadIsHeldInTheMachineClocksSleep) { ExpectHeldWhileSuspended(MachineClock()); }

TEST(Threads, SuspendedThreadIsHeldInTheVirtualClocksSleep) {
    VirtualClock clock;
    ExpectHeldWhileSuspended(clock);
}

TEST(Threads, SuspendedThreadIsHeldInTheSimulatedClocksSleep) {
    const testing::TemporaryDirectory directory;
    SimulatedClock clock(directory / "simulated-clock.state");
    ExpectHeldWhileSuspended(clock);
}

// What the scheduler relies on to start no pass while paused: once
// SuspendThread has returned, the thread does nothing more, even when it was
// caught between two sleeps, or before its routine began.
TEST(Threads, ASuspendedThreadDoesNothingAfterSuspendThreadReturns) {
    ThreadsFacility& threads = Threads();
    std::atomic<bool> stop{false};
    std::atomic<int> steps{0};
    const ScopedHandle thread(threads.CreateThread([&] {
        while (!stop.load()) {
            MachineClock().Sleep(0);
            // Work between two suspendable calls, long enough for SuspendThread to come in its midst.
            const auto busyUntil = SteadyClock::now() + std::chrono::microseconds(50);
            while (SteadyClock::now() < busyUntil) {
            }
            ++steps;
        }
        return std::uint32_t{0};
    }));
    for (int round = 0; round < 200; ++round) {
        ASSERT_EQ(threads.SuspendThread(thread.get()), 0u);
        const int atSuspension = steps.load();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ASSERT_EQ(steps.load(), atSuspension) << "round " << round;
        ASSERT_EQ(threads.ResumeThread(thread.get()), 1u);
        ASSERT_TRUE(Eventually([&] { return steps.load() > atSuspension + 1; }));  // running again
    }
    stop = true;
    EXPECT_EQ(threads.WaitForSingleObject(thread.get(), kBound), WAIT_OBJECT_0);

    std::atomic<bool> ran{false};
    const ScopedHandle late(threads.CreateThread([&] {
        ran = true;
        return std::uint32_t{0};
    }));
    ASSERT_EQ(threads.SuspendThread(late.get()), 0u);
    const bool ranBeforeSuspension = ran.load();
    std::this_thread::sleep_for(milliseconds(50));
    if (!ranBeforeSuspension) {
        EXPECT_FALSE(ran.load());
    }
    ASSERT_EQ(threads.ResumeThread(late.get()), 1u);
    EXPECT_EQ(threads.WaitForSingleObject(late.get(), kBound), WAIT_OBJECT_0);
    EXPECT_TRUE(ran.load());
}

constexpr milliseconds kPlannedSleep{300};

// One Sleep(300) of a thread that the test suspends 50 ms after the thread
// began it and resumes `resumeAfter` after that beginning, with the instants
// that decide how long the sleep may last.
struct SuspendedSleep {
    SteadyClock::time_point began;      // by the sleeping thread, just before Sleep
    SteadyClock::time_point ended;      // by the sleeping thread, just after Sleep
    SteadyClock::time_point suspended;  // by the test, when SuspendThread has returned
    SteadyClock::time_point resumed;    // by the test, just before ResumeThread
};

SuspendedSleep SleepWhileSuspended(milliseconds resumeAfter) {
    ThreadsFacility& threads = Threads();
    const ScopedHandle started(threads.CreateEventW(true, false, nullptr));
    SuspendedSleep sleep;
    const ScopedHandle thread(threads.CreateThread([&threads, &sleep, startedEvent = started.get()] {
        sleep.began = SteadyClock::now();
        threads.SetEvent(startedEvent);
        MachineClock().Sleep(static_cast<std::uint32_t>(kPlannedSleep.count()));
        sleep.ended = SteadyClock::now();
        return std::uint32_t{0};
    }));
    EXPECT_EQ(threads.WaitForSingleObject(started.get(), kBound), WAIT_OBJECT_0);
    std::this_thread::sleep_until(sleep.began + milliseconds(50));
    threads.SuspendThread(thread.get());
    sleep.suspended = SteadyClock::now();
    std::this_thread::sleep_until(sleep.began + resumeAfter);
    sleep.resumed = SteadyClock::now();
    threads.ResumeThread(thread.get());
    EXPECT_EQ(threads.WaitForSingleObject(thread.get(), kBound), WAIT_OBJECT_0);
    return sleep;
}

// A span in milliseconds, for readable failures.
double Milliseconds(SteadyClock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

TEST(Threads, ASleepNeverEndsEarlierThanPlanned) {
    const double planned = Milliseconds(kPlannedSleep);
    // Resumed before its end: the sleep ends as planned.
    const SuspendedSleep early = SleepWhileSuspended(milliseconds(100));
    EXPECT_GE(Milliseconds(early.ended - early.began), planned);
    EXPECT_LT(Milliseconds(early.ended - std::max(early.began + kPlannedSleep, early.resumed)), 1000.0);
    // Resumed after its end: the thread was held, and goes on only after the
    // resumption. (Its sleep ends no earlier than began + 300 ms, so a
    // suspension before that always comes in time, however slow the machine.)
    const SuspendedSleep late = SleepWhileSuspended(milliseconds(600));
    EXPECT_GE(Milliseconds(late.ended - late.began), planned);
    if (late.suspended < late.began + kPlannedSleep) {
        EXPECT_GT(Milliseconds(late.ended - late.began), Milliseconds(late.resumed - late.began));
    }
}

}  // namespace
}  // namespace kairovel::platform
