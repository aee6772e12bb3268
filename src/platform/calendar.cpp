#include "platform/calendar.h"

#include "platform/last_error.h"

namespace kairovel::platform {
namespace {

// Howard Hinnant's days_from_civil / civil_from_days, counted from 1970-01-01.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + static_cast<std::int64_t>(dayOfEra) - 719'468;
}

void CivilFromDays(std::int64_t days, unsigned& year, unsigned& month, unsigned& day) {
    const std::int64_t z = days + 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const auto dayOfEra = static_cast<unsigned>(z - era * 146'097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<unsigned>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0));
}

constexpr std::int64_t kDays1601To1970 = 134'774;

bool IsLeap(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysIn(unsigned month, unsigned year) {
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

constexpr unsigned kLastYear = 30'827;  // the last year a FILETIME can hold on Windows

}  // namespace

bool SystemTimeToFileTime(const SYSTEMTIME& time, FILETIME& out) {
    const bool valid = time.wYear >= 1601 && time.wYear <= kLastYear && time.wMonth >= 1 && time.wMonth <= 12 &&
                       time.wDay >= 1 && time.wDay <= DaysIn(time.wMonth, time.wYear) && time.wHour < 24 &&
                       time.wMinute < 60 && time.wSecond < 60 && time.wMilliseconds < 1000;
    if (!valid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const auto days = static_cast<std::uint64_t>(DaysFromCivil(time.wYear, time.wMonth, time.wDay) + kDays1601To1970);
    const std::uint64_t seconds = days * 86'400 + time.wHour * 3'600ULL + time.wMinute * 60ULL + time.wSecond;
    out = FileTimeFromCount(seconds * kFileTimeUnitsPerSecond + time.wMilliseconds * kFileTimeUnitsPerMillisecond);
    return true;
}

bool FileTimeToSystemTime(const FILETIME& time, SYSTEMTIME& out) {
    const std::uint64_t count = FileTimeCount(time);
    if (count >= 0x8000'0000'0000'0000ULL) {  // Windows refuses counts with the top bit set
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const std::uint64_t milliseconds = count / kFileTimeUnitsPerMillisecond;
    const std::uint64_t days = milliseconds / 86'400'000;
    const std::uint64_t msOfDay = milliseconds % 86'400'000;
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(static_cast<std::int64_t>(days) - kDays1601To1970, year, month, day);
    out.wYear = static_cast<std::uint16_t>(year);
    out.wMonth = static_cast<std::uint16_t>(month);
    out.wDay = static_cast<std::uint16_t>(day);
    out.wDayOfWeek = static_cast<std::uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    out.wHour = static_cast<std::uint16_t>(msOfDay / 3'600'000);
    out.wMinute = static_cast<std::uint16_t>(msOfDay / 60'000 % 60);
    out.wSecond = static_cast<std::uint16_t>(msOfDay / 1'000 % 60);
    out.wMilliseconds = static_cast<std::uint16_t>(msOfDay % 1'000);
    return true;
}

long CompareFileTime(const FILETIME& a, const FILETIME& b) {
    const std::uint64_t x = FileTimeCount(a);
    const std::uint64_t y = FileTimeCount(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace kairovel::platform
