// The machine's own clocks on Windows, for the simulated clock: the system
// time to the tenth of a microsecond, and the performance counter as the
// oscillator.
#include <windows.h>

#include "platform/sim/machine_time.h"

namespace kairovel::platform {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

std::int64_t CounterFrequency() {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER value{};
        ::QueryPerformanceFrequency(&value);  // never fails on Windows XP and later
        return static_cast<std::int64_t>(value.QuadPart);
    }();
    return frequency;
}

SYSTEMTIME Ours(const ::SYSTEMTIME& time) {
    return SYSTEMTIME{time.wYear,   time.wMonth,  time.wDayOfWeek, time.wDay,
                      time.wHour,   time.wMinute, time.wSecond,    time.wMilliseconds};
}

}  // namespace

std::int64_t MachineUtcCount() {
    ::FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

std::int64_t MachineRawNanoseconds() {
    LARGE_INTEGER count{};
    ::QueryPerformanceCounter(&count);
    const std::int64_t frequency = CounterFrequency();
    // Whole seconds and the rest apart, so the product cannot overflow.
    const std::int64_t seconds = count.QuadPart / frequency;
    const std::int64_t rest = count.QuadPart % frequency;
    return seconds * kNanosecondsPerSecond + rest * kNanosecondsPerSecond / frequency;
}

void SleepOnMachineClock(std::uint32_t milliseconds) {
    const std::int64_t end = MachineRawNanoseconds() + std::int64_t{milliseconds} * 1'000'000;
    for (std::int64_t now = MachineRawNanoseconds(); now < end; now = MachineRawNanoseconds()) {
        const std::int64_t left = (end - now + 999'999) / 1'000'000;
        ::Sleep(static_cast<DWORD>(left));
    }
}

SYSTEMTIME LocalCalendarOfUtcCount(std::int64_t utcCount) {
    // A count before 1601 shows as 1601, as FILETIME counts go no further back.
    const auto count = static_cast<std::uint64_t>(utcCount < 0 ? 0 : utcCount);
    const ::FILETIME utc{static_cast<DWORD>(count), static_cast<DWORD>(count >> 32)};
    ::SYSTEMTIME universal{};
    ::SYSTEMTIME local{};
    ::FileTimeToSystemTime(&utc, &universal);
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return Ours(universal);
    return Ours(local);
}

}  // namespace kairovel::platform
