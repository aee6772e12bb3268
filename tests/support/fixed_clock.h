// A clock that stands still at a chosen local time, so that time stamps in
// what a test checks are known bytes. It cannot be set or adjusted.
#pragma once

#include "platform/clock.h"
#include "platform/last_error.h"

namespace kairovel::testing {

class FixedClock final : public platform::ClockFacility {
public:
    explicit FixedClock(const platform::SYSTEMTIME& now) : now_(now) {}

    void GetSystemTime(platform::SYSTEMTIME& utc) override { utc = now_; }
    void GetLocalTime(platform::SYSTEMTIME& local) override { local = now_; }
    bool SetSystemTime(const platform::SYSTEMTIME&) override { return Refuse(); }
    bool GetSystemTimeAdjustment(std::uint32_t&, std::uint32_t&, bool&) override { return Refuse(); }
    bool SetSystemTimeAdjustment(std::uint32_t, bool) override { return Refuse(); }
    std::uint32_t NominalTimeIncrement() override { return 100'000; }
    bool QueryPerformanceCounter(std::int64_t& count) override {
        count = 0;
        return true;
    }
    bool QueryPerformanceFrequency(std::int64_t& frequency) override {
        frequency = 1'000'000'000;
        return true;
    }
    void Sleep(std::uint32_t) override {}

private:
    static bool Refuse() {
        platform::SetLastError(platform::ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }

    platform::SYSTEMTIME now_;
};

// 2024-03-05 07:08:09.250, a Tuesday: the time stamp "2024/03/05 07:08:09 ".
inline platform::SYSTEMTIME SampleLocalTime() {
    platform::SYSTEMTIME time;
    time.wYear = 2024;
    time.wMonth = 3;
    time.wDayOfWeek = 2;
    time.wDay = 5;
    time.wHour = 7;
    time.wMinute = 8;
    time.wSecond = 9;
    time.wMilliseconds = 250;
    return time;
}

}  // namespace kairovel::testing
