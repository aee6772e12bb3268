// The synchronisation decision: one pass from the sources' replies to one
// correction of the local clock.
//
// A pass completes the configuration, loads the configured sources (unless a
// selection is in force), asks them, lets the selection narrow the table, and
// averages (deviation - delay / 2) over the sources that replied. An average
// whose magnitude reaches MaxTimeDeviation is refused. Otherwise the clock is
// slewed over the correction window (half the period, at most 1800 s) when
// slewing is enabled, the rate stays below 990 per mille and the platform's
// adjustment range can take it; else it is stepped.
#pragma once

#include <cstdint>
#include <string>

#include "clock/local_clock.h"
#include "config/configuration.h"

namespace kairovel {

// The correction window is half the period, but never longer than this.
inline constexpr std::uint32_t kLongestCorrectionWindowSeconds = 1800;
// A correction that needs this rate or more steps the clock.
inline constexpr std::int64_t kSlewLimitPerMille = 990;

// Completes the configuration before a pass: no source means the own domain's
// controller ("D,"); MaxTimeSources 0 or above the source count becomes the
// source count; SelectionPeriod 0 becomes 1.
void ApplySourceDefaults();
// Copies the configured descriptors into ActiveSources() unless a selection is in force.
void LoadActiveSources();
// The mean of (deviation - delay / 2) over the records in use that replied, and
// their number; 0 when none replied.
void AverageDeviation(std::int64_t& average, std::uint32_t& count);

// Half the period (any remainder dropped), at most 1800 seconds.
std::uint32_t CorrectionWindowSeconds(std::uint32_t period);
// The free run after the window: the rest of the period in service mode, none
// in the immediate mode.
std::uint32_t FreeRunSeconds(const Configuration& configuration);

// One pass on the process's local clock. On success result is the corrected
// deviation in milliseconds ("%I64d", positive when the local clock was
// ahead); raises when the pass cannot correct the clock.
void SynchronizeOnce(std::wstring& result);
// The same on a given local clock (a test's or a simulation's).
void SynchronizeOnce(std::wstring& result, LocalClock& clock);

}  // namespace kairovel
