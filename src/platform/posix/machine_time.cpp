#include "platform/sim/machine_time.h"

#include <time.h>


#include "platform/calendar.h"

namespace kairovel::platform {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr auto kUnitsPerSecond = static_cast<std::int64_t>(kFileTimeUnitsPerSecond);
constexpr auto kUnitsPerMillisecond = static_cast<std::int64_t>(kFileTimeUnitsPerMillisecond);
constexpr auto kEpoch = static_cast<std::int64_t>(kUnixEpochFileTime);
constexpr std::int64_t kNanosecondsPerMillisecond = 1'000'000;
// The slowest CLOCK_MONOTONIC runs against CLOCK_MONOTONIC_RAW: the kernel
// takes a tick down to 90 % of its nominal length, a frequency down to
// -500 ppm and slews an adjtime offset at up to -500 ppm more.
constexpr double kSlowestMonotonicRate = 0.9 * (1.0 - 500e-6) * (1.0 - 500e-6);
// Below this the rest is slept in one piece: it can overshoot by a tenth of it at most.
constexpr std::int64_t kLastPieceNanoseconds = 100'000;

}  // namespace

std::int64_t MachineUtcCount() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return kEpoch + static_cast<std::int64_t>(now.tv_sec) * kUnitsPerSecond + now.tv_nsec / 100;
}

std::int64_t MachineRawNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

void SleepOnMachineClock(std::uint32_t milliseconds) {
    // The kernel slews CLOCK_MONOTONIC with the clock's tick and frequency, so
    // a window timed on it would last 10 % longer or shorter at the rates a
    // slew sets. clock_nanosleep cannot sleep on the raw clock: each piece
    // sleeps on the monotonic clock for what is left of the raw time at the
    // slowest rate the monotonic clock can have, so that it never ends late,
    // and the raw clock says when the sleep is over.
    const std::int64_t deadline = MachineRawNanoseconds() + std::int64_t{milliseconds} * kNanosecondsPerMillisecond;
    for (std::int64_t left = deadline - MachineRawNanoseconds(); left > 0; left = deadline - MachineRawNanoseconds()) {
        const std::int64_t piece =
            left > kLastPieceNanoseconds ? static_cast<std::int64_t>(static_cast<double>(left) * kSlowestMonotonicRate)
                                         : left;
        timespec span{};
        span.tv_sec = static_cast<time_t>(piece / kNanosecondsPerSecond);
        span.tv_nsec = static_cast<long>(piece % kNanosecondsPerSecond);
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &span, nullptr);  // a signal ends a piece: the loop sleeps on
    }
}

SYSTEMTIME LocalCalendarOfUtcCount(std::int64_t utcCount) {
    // A count before 1601 shows as 1601, as FILETIME counts go no further back.
    const std::int64_t count = utcCount < 0 ? 0 : utcCount;
    std::int64_t sinceEpoch = count - kEpoch;
    std::int64_t seconds = sinceEpoch / kUnitsPerSecond;
    std::int64_t rest = sinceEpoch % kUnitsPerSecond;
    if (rest < 0) {  // floor, so that instants before 1970 keep a positive fraction
        --seconds;
        rest += kUnitsPerSecond;
    }
    const auto whole = static_cast<time_t>(seconds);
    ::tzset();  // a changed time zone shows at once, as on Windows
    tm fields{};
    ::localtime_r(&whole, &fields);
    SYSTEMTIME local;
    local.wYear = static_cast<std::uint16_t>(fields.tm_year + 1900);
    local.wMonth = static_cast<std::uint16_t>(fields.tm_mon + 1);
    local.wDayOfWeek = static_cast<std::uint16_t>(fields.tm_wday);
    local.wDay = static_cast<std::uint16_t>(fields.tm_mday);
    local.wHour = static_cast<std::uint16_t>(fields.tm_hour);
    local.wMinute = static_cast<std::uint16_t>(fields.tm_min);
    local.wSecond = static_cast<std::uint16_t>(fields.tm_sec > 59 ? 59 : fields.tm_sec);  // no leap second in Windows
    local.wMilliseconds = static_cast<std::uint16_t>(rest / kUnitsPerMillisecond);
    return local;
}

}  // namespace kairovel::platform
