#include "timebase/numeric.h"

#include <algorithm>
#include <cmath>

namespace kairovel {

bool IsLeapYear(int year) { return year % 100 != 0 ? year % 4 == 0 : year % 400 == 0; }

int DaysInYear(int year) { return IsLeapYear(year) ? 366 : 365; }

int DaysInMonth(int month, int year) {
    static constexpr int kOrdinary[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    static constexpr int kLeap[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return (IsLeapYear(year) ? kLeap : kOrdinary)[month - 1];
}

std::int64_t LeadingDecimalNumber(std::wstring_view text) {
    constexpr std::int64_t kSaturation = std::int64_t{1} << 40;
    const auto isBlank = [](wchar_t c) {
        return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
    };
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    const bool negative = i < text.size() && text[i] == L'-';
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) ++i;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - L'0'), kSaturation);
    }
    return negative ? -magnitude : magnitude;
}

std::uint32_t RoundToUnsigned(double x) {
    const double truncated = std::trunc(x + 0.5);
    if (!(std::fabs(truncated) < 9.2e18)) return 0;  // NaN, infinities and values no 64-bit count holds
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(truncated));
}

double PerMille(std::int64_t milliseconds, std::uint32_t seconds) {
    return static_cast<double>(milliseconds) / static_cast<double>(seconds);
}

double AdjustedIncrement(double perMille, double increment) {
    constexpr double kLimitPerMille = 990.0;
    if (perMille > kLimitPerMille) perMille = kLimitPerMille;
    if (perMille < -kLimitPerMille) perMille = -kLimitPerMille;
    return (1000.0 - perMille) * increment * 0.001;
}

}  // namespace kairovel
