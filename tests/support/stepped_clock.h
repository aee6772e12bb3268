// A clock whose time moves only when the test moves it, for tests of threads
// that sleep on the platform clock (the scheduler and its passes).
//
// Readings follow a VirtualClock. A Sleep blocks (as a suspendable call) until
// the test has advanced the time to its end, so several threads can sleep on
// the one time and wake in the order of their ends. Stop makes every sleep,
// current and to come, raise StoppedClock, which is how a test ends threads
// that would otherwise sleep for ever. Every wait of the test's is bounded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <set>

#include "platform/clock.h"
#include "platform/sim/virtual_clock.h"
#include "platform/threads.h"

namespace kairovel::testing {

// What Sleep raises once the clock is stopped.
struct StoppedClock {};

class SteppedClock final : public platform::ClockFacility {
public:
    explicit SteppedClock(std::int64_t machineStart = platform::VirtualClock::kDefaultStart) : time_(machineStart) {}

    void GetSystemTime(platform::SYSTEMTIME& utc) override { time_.GetSystemTime(utc); }
    void GetLocalTime(platform::SYSTEMTIME& local) override { time_.GetLocalTime(local); }
    bool SetSystemTime(const platform::SYSTEMTIME& utc) override { return time_.SetSystemTime(utc); }
    bool GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) override {
        return time_.GetSystemTimeAdjustment(adjustment, increment, disabled);
    }
    bool SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) override {
        return time_.SetSystemTimeAdjustment(adjustment, disabled);
    }
    std::uint32_t NominalTimeIncrement() override { return time_.NominalTimeIncrement(); }
    void GetSystemTimeAdjustmentRange(std::uint32_t& lowest, std::uint32_t& highest) override {
        time_.GetSystemTimeAdjustmentRange(lowest, highest);
    }
    bool QueryPerformanceCounter(std::int64_t& count) override { return time_.QueryPerformanceCounter(count); }
    bool QueryPerformanceFrequency(std::int64_t& frequency) override {
        return time_.QueryPerformanceFrequency(frequency);
    }

    void Sleep(std::uint32_t milliseconds) override {
        const platform::SuspendableCall suspendable;
        std::unique_lock<std::mutex> lock(mutex_);
        if (stopped_) throw StoppedClock{};
        const std::int64_t end = time_.ElapsedMilliseconds() + milliseconds;
        const auto entry = ends_.insert(end);
        changed_.notify_all();
        changed_.wait(lock, [&] { return time_.ElapsedMilliseconds() >= end || stopped_; });
        ends_.erase(entry);
        if (time_.ElapsedMilliseconds() < end) throw StoppedClock{};
    }

    // Moves the time on; the sleeps that end by then return.
    void Advance(std::int64_t milliseconds) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            time_.Advance(static_cast<std::uint64_t>(milliseconds));
        }
        changed_.notify_all();
    }

    // Milliseconds since the clock was made.
    std::int64_t Now() { return time_.ElapsedMilliseconds(); }

    // Waits (at most 10 s) until count sleeps are pending, each ending after now.
    bool AwaitSleepers(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            const auto pending = ends_.upper_bound(time_.ElapsedMilliseconds());
            return static_cast<std::size_t>(std::distance(pending, ends_.end())) >= count;
        });
    }

    void Stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }

    platform::VirtualClock& time() { return time_; }

private:
    platform::VirtualClock time_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::multiset<std::int64_t> ends_;  // of the pending sleeps
    bool stopped_ = false;
};

}  // namespace kairovel::testing
