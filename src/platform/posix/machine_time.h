// The machine's own clocks, in the units of the Windows API, for the clock backends.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace kairovel::platform {

// CLOCK_REALTIME as a count of 100-ns units since 1601-01-01 UTC (a FILETIME count).
std::int64_t MachineUtcCount();
// CLOCK_MONOTONIC_RAW in nanoseconds: the oscillator, untouched by any adjustment.
std::int64_t MachineRawNanoseconds();
// Sleeps until CLOCK_MONOTONIC_RAW has advanced by the milliseconds: real
// time, whatever rate the clock is slewed at. A signal never ends it early.
void SleepOnMachineClock(std::uint32_t milliseconds);
// The calendar record of a UTC count in the local time zone; a count below 0 shows as 1601-01-01.
SYSTEMTIME LocalCalendarOfUtcCount(std::int64_t utcCount);

}  // namespace kairovel::platform
