#include "timebase/stopwatch.h"

#include "platform/clock.h"

namespace kairovel {

Stopwatch::Stopwatch(int startNow) {
    if (startNow != 0) Restart();
}

Stopwatch& Stopwatch::Assign(const Stopwatch& other) {
    if (this != &other) start_ = other.start_;
    return *this;
}

bool Stopwatch::Restart() { return platform::Clock().QueryPerformanceCounter(start_); }

std::int64_t Stopwatch::ElapsedMicroseconds() const {
    std::int64_t now = 0;
    platform::Clock().QueryPerformanceCounter(now);  // the counter first, then its frequency
    std::int64_t frequency = 0;
    if (!platform::Clock().QueryPerformanceFrequency(frequency) || frequency == 0) return 0;
    // ((now - start) * 1,000,000) / frequency, split so that long intervals cannot overflow.
    const std::int64_t elapsed = now - start_;
    return elapsed / frequency * 1'000'000 + elapsed % frequency * 1'000'000 / frequency;
}

}  // namespace kairovel
