// A simulated clock over virtual time, for tests and long simulations in one process.
//
// Virtual time stands still until a sleep advances it, at once, by the time
// slept: an hour's correction window passes in microseconds. The clock
// follows SimulatedClockModel over that time, and the performance counter
// runs with it at the oscillator's rate. Sleeps of several threads each
// advance the one virtual time, so it suits one thread that sleeps at a time.
// Tests install it with ScopedFacility<ClockFacility> and steer it through
// the controls below; every member may be called from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/sim/clock_model.h"

namespace kairovel::platform {

class VirtualClock final : public ClockFacility {
public:
    // Virtual time starts at 2024-01-01 00:00:00 UTC unless told otherwise.
    static constexpr std::int64_t kDefaultStart =
        static_cast<std::int64_t>(kUnixEpochFileTime + 1'704'067'200ULL * kFileTimeUnitsPerSecond);

    // One successful SetSystemTimeAdjustment, at its virtual time.
    struct AdjustmentChange {
        std::int64_t atMilliseconds = 0;  // since the virtual clock was made
        std::uint32_t adjustment = 0;
        bool disabled = false;
    };

    explicit VirtualClock(std::int64_t machineStart = kDefaultStart);

    void GetSystemTime(SYSTEMTIME& utc) override;
    void GetLocalTime(SYSTEMTIME& local) override;
    bool SetSystemTime(const SYSTEMTIME& utc) override;
    bool GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) override;
    bool SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) override;
    std::uint32_t NominalTimeIncrement() override { return SimulatedClockModel::kNominalIncrement; }
    void GetSystemTimeAdjustmentRange(std::uint32_t& lowest, std::uint32_t& highest) override;
    bool QueryPerformanceCounter(std::int64_t& count) override;
    bool QueryPerformanceFrequency(std::int64_t& frequency) override;
    // Advances virtual time at once, between two suspension points.
    void Sleep(std::uint32_t milliseconds) override;

    // Lets virtual time pass without being a suspension point. Virtual time
    // stops at the last instant a FILETIME count holds (in the year 30828).
    void Advance(std::uint64_t milliseconds);
    // Virtual time since the clock was made.
    std::int64_t ElapsedMilliseconds() const;
    // The simulated time minus the virtual machine time.
    double TrueErrorMilliseconds() const;
    void SetTrueErrorMilliseconds(double milliseconds);
    // False for a drift SimulatedClockModel refuses.
    bool SetDriftPpm(double ppm);
    // Makes the adjustments outside lowest..highest fail with ERROR_INVALID_PARAMETER,
    // as a platform with a narrower range does (the Linux kernel's, for instance).
    void SetAcceptedRange(std::uint32_t lowest, std::uint32_t highest);
    // Makes every change of the time or the adjustment fail with errorCode
    // (ERROR_PRIVILEGE_NOT_HELD, say); 0 accepts changes again.
    void RefuseChanges(std::uint32_t errorCode);
    // Makes GetSystemTimeAdjustment fail with errorCode; 0 answers again.
    void RefuseAdjustmentReads(std::uint32_t errorCode);
    // Local time = UTC + minutes.
    void SetLocalOffsetMinutes(int minutes);
    std::vector<AdjustmentChange> AdjustmentChanges() const;
    // How often the time was set.
    std::uint32_t SetTimeCalls() const;

private:
    std::int64_t ElapsedUnitsLocked() const { return machineNow_ - machineStart_; }

    mutable std::mutex mutex_;
    const std::int64_t machineStart_;
    std::int64_t machineNow_;
    SimulatedClockModel model_;
    DriftingCounter counter_;
    std::uint32_t lowest_ = 0;
    std::uint32_t highest_ = 0xFFFF'FFFF;
    std::uint32_t refusal_ = 0;
    std::uint32_t readRefusal_ = 0;
    std::int64_t localOffset_ = 0;  // 100-ns units
    std::vector<AdjustmentChange> changes_;
    std::uint32_t setTimeCalls_ = 0;
};

}  // namespace kairovel::platform
