// Calendar arithmetic and the numeric helpers of the clock discipline.
#pragma once

#include <cstdint>
#include <string_view>

namespace kairovel {

bool IsLeapYear(int year);               // the Gregorian rule: 1900 no, 2000 yes
int DaysInYear(int year);                // 365 or 366
int DaysInMonth(int month, int year);    // month 1 to 12

// The leading decimal number of a text: blanks, an optional sign, digits up
// to the first other character; 0 when there are none. The magnitude stops
// growing at 2^40, far beyond any count, so a long run of digits cannot overflow.
std::int64_t LeadingDecimalNumber(std::wstring_view text);

// x + 0.5 truncated toward zero, keeping the low 32 bits: rounding half up for
// the non-negative values that occur. NaN gives 0.
std::uint32_t RoundToUnsigned(double x);

// The rate, in parts per thousand, of a deviation built up over a number of seconds.
double PerMille(std::int64_t milliseconds, std::uint32_t seconds);

// The increment shortened by a rate in per mille, the rate held within +-990
// so that at least 1 % of the increment remains.
double AdjustedIncrement(double perMille, double increment);

}  // namespace kairovel
