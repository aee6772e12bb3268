#include "sources/time_source.h"

#include "timebase/numeric.h"

namespace kairovel {

void TimeSource::SetDelay(const Stopwatch& exchange) {
    constexpr double kMillisecondsPerMicrosecond = 0.001;
    delay_.Set(RoundToUnsigned(static_cast<double>(exchange.ElapsedMicroseconds()) * kMillisecondsPerMicrosecond));
}

}  // namespace kairovel
