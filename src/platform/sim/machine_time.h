// The machine's own clocks, in the units of the Windows API, for the clock
// backends: the simulated clock runs on them. Each system's backend defines
// them (posix/machine_time.cpp, win32/machine_time.cpp).
#pragma once

#include <cstdint>

#include "platform/interface/win_types.h"

namespace kairovel::platform {

// The machine's UTC time as a count of 100-ns units since 1601-01-01 UTC (a
// FILETIME count): CLOCK_REALTIME, GetSystemTimePreciseAsFileTime.
std::int64_t MachineUtcCount();
// The oscillator in nanoseconds, untouched by any adjustment:
// CLOCK_MONOTONIC_RAW, the performance counter.
std::int64_t MachineRawNanoseconds();
// Sleeps until the oscillator has advanced by the milliseconds: real time,
// whatever rate the clock is slewed at. A signal never ends it early.
void SleepOnMachineClock(std::uint32_t milliseconds);
// The calendar record of a UTC count in the local time zone; a count below 0 shows as 1601-01-01.
SYSTEMTIME LocalCalendarOfUtcCount(std::int64_t utcCount);

}  // namespace kairovel::platform
