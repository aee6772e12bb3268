#include "timebase/time_value.h"

#include "log/logger.h"
#include "platform/calendar.h"
#include "platform/clock.h"

namespace kairovel {

TimeValue::TimeValue() { platform::Clock().GetSystemTime(calendar_); }

TimeValue::TimeValue(int year, int month, int day, int hour, int minute, int second, int milliseconds) {
    calendar_.wYear = static_cast<std::uint16_t>(year);
    calendar_.wMonth = static_cast<std::uint16_t>(month);
    calendar_.wDay = static_cast<std::uint16_t>(day);
    calendar_.wHour = static_cast<std::uint16_t>(hour);
    calendar_.wMinute = static_cast<std::uint16_t>(minute);
    calendar_.wSecond = static_cast<std::uint16_t>(second);
    calendar_.wMilliseconds = static_cast<std::uint16_t>(milliseconds);
}

TimeValue& TimeValue::Assign(const TimeValue& other) {
    if (this != &other) calendar_ = other.calendar_;
    return *this;
}

std::wstring TimeValue::Format() const {
    return kairovel::Format(L"%d/%02d/%02d %02d:%02d:%02d.%03d", calendar_.wYear, calendar_.wMonth, calendar_.wDay,
                            calendar_.wHour, calendar_.wMinute, calendar_.wSecond, calendar_.wMilliseconds);
}

std::uint64_t TimeValue::FileTimeCount() const {
    // Only a record received from the network can be impossible; using it would
    // turn a garbled reply into a wild clock correction, so it is an error.
    platform::FILETIME count;
    if (!platform::SystemTimeToFileTime(calendar_, count)) RaiseError(L"Invalid time value %s", Format());
    return platform::FileTimeCount(count);
}

TimeValue TimeValue::Plus(const TimeSpan& span) const {
    const auto shift = static_cast<std::uint64_t>(span.Milliseconds()) * platform::kFileTimeUnitsPerMillisecond;
    platform::SYSTEMTIME result{};
    if (!platform::FileTimeToSystemTime(platform::FileTimeFromCount(FileTimeCount() + shift), result)) {
        RaiseError(L"Invalid time value %s", Format());
    }
    return TimeValue(result);
}

TimeSpan TimeValue::Minus(const TimeValue& other) const {
    const auto difference = static_cast<std::int64_t>(FileTimeCount() - other.FileTimeCount());
    return TimeSpan(difference / static_cast<std::int64_t>(platform::kFileTimeUnitsPerMillisecond));
}

}  // namespace kairovel
