// The machine's clock facility with the system time held at one instant, for
// tests of what the program does at a given date (1999, 2036, 2040, ...).
#pragma once

#include "platform/clock.h"
#include "timebase/time_value.h"

namespace kairovel::testing {

class FixedSystemTime final : public platform::ClockFacility {
public:
    explicit FixedSystemTime(const TimeValue& instant) : instant_(instant.Calendar()) {}
    void GetSystemTime(platform::SYSTEMTIME& utc) override { utc = instant_; }
    void GetLocalTime(platform::SYSTEMTIME& local) override { local = instant_; }
    bool SetSystemTime(const platform::SYSTEMTIME&) override { return false; }
    bool GetSystemTimeAdjustment(std::uint32_t&, std::uint32_t&, bool&) override { return false; }
    bool SetSystemTimeAdjustment(std::uint32_t, bool) override { return false; }
    std::uint32_t NominalTimeIncrement() override { return real().NominalTimeIncrement(); }
    bool QueryPerformanceCounter(std::int64_t& count) override { return real().QueryPerformanceCounter(count); }
    bool QueryPerformanceFrequency(std::int64_t& frequency) override {
        return real().QueryPerformanceFrequency(frequency);
    }
    void Sleep(std::uint32_t milliseconds) override { real().Sleep(milliseconds); }

private:
    static platform::ClockFacility& real() { return platform::DefaultFacility<platform::ClockFacility>(); }
    platform::SYSTEMTIME instant_;
};

}  // namespace kairovel::testing
