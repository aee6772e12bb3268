// How long the machine held its processors up while a test ran. On a shared
// virtual machine every processor stops now and then for tens of
// milliseconds; a whole-program figure of a few milliseconds is only as good
// as the machine that ran it.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace kairovel::testing {

class StallMeter {
public:
    // One thread for each processor this process may run on, each held to its
    // processor, sleeping a millisecond at a time.
    StallMeter();
    ~StallMeter();
    StallMeter(const StallMeter&) = delete;
    StallMeter& operator=(const StallMeter&) = delete;

    // The longest a sleep of a millisecond overran on any processor, in milliseconds.
    double LongestMilliseconds() const;

private:
    void Measure(int processor);

    std::atomic<bool> stop_{false};
    std::atomic<std::chrono::microseconds::rep> longest_{0};
    std::vector<std::thread> threads_;
};

}  // namespace kairovel::testing
