// Calendar arithmetic and the numeric helpers of the clock discipline.
#pragma once

#include <cstdint>

namespace kairovel {

bool IsLeapYear(int year);               // the Gregorian rule: 1900 no, 2000 yes
int DaysInYear(int year);                // 365 or 366
int DaysInMonth(int month, int year);    // month 1 to 12

// x + 0.5 truncated toward zero, keeping the low 32 bits: rounding half up for
// the non-negative values that occur. NaN gives 0.
std::uint32_t RoundToUnsigned(double x);

// The rate, in parts per thousand, of a deviation built up over a number of seconds.
double PerMille(std::int64_t milliseconds, std::uint32_t seconds);

// The increment shortened by a rate in per mille, the rate held within +-990
// so that at least 1 % of the increment remains.
double AdjustedIncrement(double perMille, double increment);

}  // namespace kairovel
