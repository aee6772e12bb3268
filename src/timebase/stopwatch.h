// Measures short intervals in microseconds on the performance counter.
#pragma once

#include <cstdint>

namespace kairovel {

class Stopwatch {
public:
    // A nonzero flag starts the measurement at once; zero leaves the start at 0.
    explicit Stopwatch(int startNow = 1);

    Stopwatch& Assign(const Stopwatch& other);
    bool Restart();
    // ((now - start) * 1,000,000) / frequency; 0 when the platform has no counter.
    std::int64_t ElapsedMicroseconds() const;

private:
    std::int64_t start_ = 0;
};

}  // namespace kairovel
