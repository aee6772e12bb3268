#include "platform/posix/machine_time.h"

#include <time.h>

#include <cerrno>

#include "platform/calendar.h"

namespace kairovel::platform {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr auto kUnitsPerSecond = static_cast<std::int64_t>(kFileTimeUnitsPerSecond);
constexpr auto kUnitsPerMillisecond = static_cast<std::int64_t>(kFileTimeUnitsPerMillisecond);
constexpr auto kEpoch = static_cast<std::int64_t>(kUnixEpochFileTime);

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
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1'000'000;
    if (deadline.tv_nsec >= kNanosecondsPerSecond) {
        deadline.tv_nsec -= kNanosecondsPerSecond;
        ++deadline.tv_sec;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
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
