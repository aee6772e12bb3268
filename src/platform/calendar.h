// Conversions between the calendar record and the 100-nanosecond count.
//
// SystemTimeToFileTime, FileTimeToSystemTime and CompareFileTime with the
// Windows rules: the proleptic Gregorian calendar from 1601, impossible
// records (month 13, day 0, hour 24, ...) refused with ERROR_INVALID_PARAMETER.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace kairovel::platform {

bool SystemTimeToFileTime(const SYSTEMTIME& time, FILETIME& out);
bool FileTimeToSystemTime(const FILETIME& time, SYSTEMTIME& out);
long CompareFileTime(const FILETIME& a, const FILETIME& b);

// The FILETIME halves as one 64-bit count, and back.
constexpr std::uint64_t FileTimeCount(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}
constexpr FILETIME FileTimeFromCount(std::uint64_t count) {
    return FILETIME{static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(count >> 32)};
}

// 100-nanosecond units in common spans.
inline constexpr std::uint64_t kFileTimeUnitsPerMillisecond = 10'000;
inline constexpr std::uint64_t kFileTimeUnitsPerSecond = 10'000'000;
inline constexpr std::uint64_t kFileTimeUnitsPerDay = 86'400 * kFileTimeUnitsPerSecond;
// FILETIME of 1970-01-01 00:00:00 UTC, the epoch of the POSIX clocks.
inline constexpr std::uint64_t kUnixEpochFileTime = 116'444'736'000'000'000ULL;

}  // namespace kairovel::platform
