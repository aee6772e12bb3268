// An instant in UTC with millisecond resolution.
//
// A TimeValue holds the Windows calendar record, always in UTC. Arithmetic
// goes through the 100-nanosecond count since 1601, so spans cross day, month
// and year boundaries without special cases.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"
#include "timebase/time_span.h"

namespace kairovel {

class TimeValue {
public:
    // The current system time in UTC.
    TimeValue();
    // A given instant; the day of the week is not computed.
    TimeValue(int year, int month, int day, int hour, int minute, int second, int milliseconds);
    explicit TimeValue(const platform::SYSTEMTIME& calendar) : calendar_(calendar) {}

    TimeValue& Assign(const TimeValue& other);
    // "1999/04/17 09:03:43.005"
    std::wstring Format() const;
    // This instant moved by span; raises an error for an impossible calendar record.
    TimeValue Plus(const TimeSpan& span) const;
    // (this - other) in milliseconds; raises an error for an impossible calendar record.
    TimeSpan Minus(const TimeValue& other) const;
    platform::SYSTEMTIME Calendar() const { return calendar_; }

private:
    std::uint64_t FileTimeCount() const;

    platform::SYSTEMTIME calendar_{};
};

}  // namespace kairovel
