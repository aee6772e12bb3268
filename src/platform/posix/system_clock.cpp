// The machine's own clock: CLOCK_REALTIME, the local time zone, CLOCK_MONOTONIC_RAW.
#include <time.h>

#include <cerrno>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/last_error.h"

namespace kairovel::platform {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

SYSTEMTIME FromTimespec(const timespec& now) {
    const std::uint64_t count = kUnixEpochFileTime + static_cast<std::uint64_t>(now.tv_sec) * kFileTimeUnitsPerSecond +
                                static_cast<std::uint64_t>(now.tv_nsec) / 100;
    SYSTEMTIME out;
    FileTimeToSystemTime(FileTimeFromCount(count), out);
    return out;
}

class SystemClock final : public ClockFacility {
public:
    void GetSystemTime(SYSTEMTIME& utc) override {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        utc = FromTimespec(now);
    }

    void GetLocalTime(SYSTEMTIME& local) override {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        tm fields{};
        ::localtime_r(&now.tv_sec, &fields);
        local.wYear = static_cast<std::uint16_t>(fields.tm_year + 1900);
        local.wMonth = static_cast<std::uint16_t>(fields.tm_mon + 1);
        local.wDayOfWeek = static_cast<std::uint16_t>(fields.tm_wday);
        local.wDay = static_cast<std::uint16_t>(fields.tm_mday);
        local.wHour = static_cast<std::uint16_t>(fields.tm_hour);
        local.wMinute = static_cast<std::uint16_t>(fields.tm_min);
        local.wSecond = static_cast<std::uint16_t>(fields.tm_sec > 59 ? 59 : fields.tm_sec);
        local.wMilliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1'000'000);
    }

    bool SetSystemTime(const SYSTEMTIME&) override {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }

    bool GetSystemTimeAdjustment(std::uint32_t&, std::uint32_t&, bool&) override {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }

    bool SetSystemTimeAdjustment(std::uint32_t, bool) override {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }

    bool QueryPerformanceCounter(std::int64_t& count) override {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC_RAW, &now);
        count = static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
        return true;
    }

    bool QueryPerformanceFrequency(std::int64_t& frequency) override {
        frequency = kNanosecondsPerSecond;
        return true;
    }

    void Sleep(std::uint32_t milliseconds) override {
        // An absolute deadline on the monotonic clock: a signal never ends the sleep early.
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
};

}  // namespace

template <>
ClockFacility& DefaultFacility<ClockFacility>() {
    static SystemClock clock;
    return clock;
}

}  // namespace kairovel::platform
