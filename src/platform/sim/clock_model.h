// The model every simulated clock follows.
//
// A simulated clock runs beside a machine clock (the real one, or virtual
// time). From a reference point, where the machine read machineAtReference
// and the simulated clock clockAtReference, it advances at
//     rate = (1 + drift) x (adjustment / increment)   while the adjustment is in force,
//     rate = (1 + drift)                             while it is disabled,
// so the drift is the clock's own error and the adjustment the correction
// that Windows' SetSystemTimeAdjustment applies: any 32-bit adjustment is
// taken. Setting the time steps the clock; every change of rate first moves
// the reference point to the present, so the past is never rewritten. The
// true error is the simulated time minus the machine's time. Times are
// 100-ns counts since 1601, as a FILETIME holds them; a clock that runs past
// the last count stays there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace kairovel::platform {

// The calendar record of a simulated clock's reading; a reading before 1601
// shows as 1601-01-01.
SYSTEMTIME CalendarOfReading(std::int64_t count);

class SimulatedClockModel {
public:
    // The nominal increment of the simulated clocks: 10 ms, one interrupt
    // per tick of a 100 Hz clock, as the Linux clock has by default.
    static constexpr std::uint32_t kNominalIncrement = 100'000;
    // Drifts beyond half the rate are no oscillator's; the tool refuses them.
    static constexpr double kLargestDriftPpm = 500'000.0;

    // A clock equal to the machine's at machineNow: no drift, adjustment disabled.
    explicit SimulatedClockModel(std::int64_t machineNow = 0);

    std::int64_t ClockAt(std::int64_t machineNow) const;
    std::int64_t TrueErrorAt(std::int64_t machineNow) const;
    double Rate() const;

    void Step(std::int64_t machineNow, std::int64_t clockValue);
    void SetAdjustment(std::int64_t machineNow, std::uint32_t adjustment, bool disabled);
    void SetTrueError(std::int64_t machineNow, std::int64_t error);
    // False (and nothing changed) for a drift beyond kLargestDriftPpm.
    bool SetDrift(std::int64_t machineNow, double ppm);

    double driftPpm() const { return driftPpm_; }
    std::uint32_t increment() const { return increment_; }
    // As GetSystemTimeAdjustment reports it: the increment while disabled.
    std::uint32_t adjustment() const { return disabled_ ? increment_ : adjustment_; }
    bool disabled() const { return disabled_; }

    // Whether the clock is said to be kept, with its estimated and maximum
    // error in microseconds as the program last told them (as Linux's
    // kernel keeps them, but without their growth between reports).
    void SetSynchronisation(bool synchronised, std::uint32_t estimatedMicroseconds, std::uint32_t maximumMicroseconds);
    bool synchronised() const { return synchronised_; }
    std::uint32_t estimatedErrorMicroseconds() const { return estimatedErrorMicroseconds_; }
    std::uint32_t maximumErrorMicroseconds() const { return maximumErrorMicroseconds_; }
    // The errors of a clock nobody keeps: the Linux kernel's 16 s at boot.
    static constexpr std::uint32_t kUnsynchronisedErrorMicroseconds = 16'000'000;

    // The state text is far smaller; a larger one is no state.
    static constexpr std::size_t kLargestStateBytes = 4096;

    // A text of named lines, and back. Parse refuses anything but what
    // Serialize writes: a field missing, unknown, repeated, or out of the
    // range this model keeps; problem then says what is wrong. The
    // synchronisation's three fields may be missing (a state written before
    // the clock kept them): the clock is then not synchronised.
    std::string Serialize() const;
    static std::optional<SimulatedClockModel> Parse(std::string_view text);
    static std::optional<SimulatedClockModel> Parse(std::string_view text, std::string& problem);

private:
    void MoveReferenceTo(std::int64_t machineNow);

    std::int64_t machineAtReference_ = 0;
    std::int64_t clockAtReference_ = 0;
    double driftPpm_ = 0.0;
    std::uint32_t increment_ = kNominalIncrement;
    std::uint32_t adjustment_ = kNominalIncrement;
    bool disabled_ = true;
    bool synchronised_ = false;
    std::uint32_t estimatedErrorMicroseconds_ = kUnsynchronisedErrorMicroseconds;
    std::uint32_t maximumErrorMicroseconds_ = kUnsynchronisedErrorMicroseconds;
};

// A performance counter in nanoseconds that runs at the simulated clock's
// oscillator rate, 1 + drift: the drift applies, the time adjustment and the
// steps do not (on Windows they change the system time, not the counter). It
// never runs backwards, also when the drift changes while it is read.
class DriftingCounter {
public:
    std::int64_t Read(std::int64_t rawNanoseconds, double driftPpm);

private:
    bool started_ = false;
    std::int64_t rawAtBase_ = 0;
    std::int64_t countAtBase_ = 0;
    double driftPpm_ = 0.0;
};

}  // namespace kairovel::platform
