// A signed span of time in whole milliseconds.
#pragma once

#include <cstdint>
#include <string>

namespace kairovel {

class TimeSpan {
public:
    explicit TimeSpan(std::int64_t milliseconds = 0) : milliseconds_(milliseconds) {}

    void Set(std::int64_t milliseconds) { milliseconds_ = milliseconds; }
    TimeSpan& Assign(const TimeSpan& other) {
        milliseconds_ = other.milliseconds_;
        return *this;
    }
    std::wstring Format() const;  // signed decimal, "%I64d"
    std::int64_t Milliseconds() const { return milliseconds_; }

private:
    std::int64_t milliseconds_;
};

}  // namespace kairovel
