#include "platform/sim/machine_time.h"

#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

#include <cmath>

#include "platform/calendar.h"

namespace kairovel::platform {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr auto kUnitsPerSecond = static_cast<std::int64_t>(kFileTimeUnitsPerSecond);
constexpr auto kUnitsPerMillisecond = static_cast<std::int64_t>(kFileTimeUnitsPerMillisecond);
constexpr auto kEpoch = static_cast<std::int64_t>(kUnixEpochFileTime);
constexpr std::int64_t kNanosecondsPerMillisecond = 1'000'000;
constexpr double kFrequencyUnitsPerPpm = 65'536.0;  // adjtimex's frequency is ppm scaled by 2^16
// What is taken for the rate when the kernel's cannot be read: the slowest
// CLOCK_MONOTONIC runs against CLOCK_MONOTONIC_RAW (a tick down to 90 % of its
// nominal length, the frequency down to -500 ppm), so that a sleep never ends late.
constexpr double kSlowestMonotonicRate = 0.9 - 500e-6;

// How fast CLOCK_MONOTONIC runs against CLOCK_MONOTONIC_RAW now: each second
// of the oscillator lasts tick x USER_HZ microseconds plus the frequency
// offset, the two values this program's own slews set.
double MonotonicRate() {
    static const double userHz = static_cast<double>(::sysconf(_SC_CLK_TCK));
    timex state{};  // modes 0: read only, allowed without privilege
    if (::adjtimex(&state) < 0 || userHz <= 0) return kSlowestMonotonicRate;
    return static_cast<double>(state.tick) * userHz / 1e6 +
           static_cast<double>(state.freq) / kFrequencyUnitsPerPpm / 1e6;
}

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
    // slew sets, and clock_nanosleep cannot sleep on the raw clock. So the
    // sleep is what is left of the raw time at the monotonic clock's rate now,
    // in one piece; the raw clock says when it is over, and only a rate
    // changed meanwhile (another thread's slew), or a signal, leaves a rest to
    // sleep. It never ends early, and costs one wake-up while the rate holds.
    const std::int64_t deadline = MachineRawNanoseconds() + std::int64_t{milliseconds} * kNanosecondsPerMillisecond;
    for (std::int64_t left = deadline - MachineRawNanoseconds(); left > 0; left = deadline - MachineRawNanoseconds()) {
        // Rounded up, and a nanosecond more: an end a little late, never early.
        const auto piece = static_cast<std::int64_t>(std::ceil(static_cast<double>(left) * MonotonicRate())) + 1;
        timespec span{};
        span.tv_sec = static_cast<time_t>(piece / kNanosecondsPerSecond);
        span.tv_nsec = static_cast<long>(piece % kNanosecondsPerSecond);
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &span, nullptr);  // a signal ends it early: the loop sleeps on
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
