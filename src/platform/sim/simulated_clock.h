// The simulated clock of KAIROVEL_CLOCK=simulated: SimulatedClockModel over
// the machine's real time, its state in a file under KAIROVEL_ROOT.
//
// Every process that uses the clock (the program, a second instance, the
// companion tool, a test) reads and changes the same file, so a test can give
// the program a known clock error, let it correct the error, and read what is
// left. A missing file is a clock equal to the machine's, without drift, with
// the adjustment disabled at its nominal value. Sleeping takes real time;
// the performance counter runs at the oscillator's rate (SimulatedClockModel).
//
// A file that cannot be read, or holds no valid clock, is refused: the calls
// that can fail fail with its error (ERROR_INVALID_DATA for a damaged file),
// and the reads that cannot fail end the process with the reason on standard
// error, since going on with another clock (the machine's) would hide the
// fault behind plausible times. Like every clock read on Windows, the reads
// leave the thread's last error as they found it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/adjustment_record.h"
#include "platform/clock.h"
#include "platform/sim/state_file.h"
#include "platform/sim/clock_model.h"

namespace kairovel::platform {

class SimulatedClock final : public ClockFacility {
public:
    // KAIROVEL_ROOT/simulated-clock.state
    static std::filesystem::path DefaultStateFile();

    explicit SimulatedClock(std::filesystem::path stateFile);

    void GetSystemTime(SYSTEMTIME& utc) override;
    void GetLocalTime(SYSTEMTIME& local) override;
    bool SetSystemTime(const SYSTEMTIME& utc) override;
    bool GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) override;
    // The adjustment before this process's first change is on record until
    // it is set back (platform/adjustment_record.h), beside the state file.
    bool SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) override;
    bool RestoreAbandonedAdjustment(std::wstring& restored) override;
    std::string AnotherAdjuster() override { return record_.OtherHolder(); }
    // Kept in the state, where kairovel-simclock shows it.
    bool SetSynchronisedStatus(bool synchronised, std::uint32_t estimatedErrorMicroseconds,
                               std::uint32_t maximumErrorMicroseconds) override;
    std::wstring AdjustmentProblem() override { return record_.Problem(); }
    std::uint32_t NominalTimeIncrement() override { return SimulatedClockModel::kNominalIncrement; }
    // GetSystemTimeAdjustmentRange: like Windows, any 32-bit adjustment.
    bool QueryPerformanceCounter(std::int64_t& count) override;
    bool QueryPerformanceFrequency(std::int64_t& frequency) override;
    void Sleep(std::uint32_t milliseconds) override;

    // What the companion tool shows.
    struct Reading {
        double trueErrorMilliseconds = 0.0;  // simulated time minus the machine's
        double driftPpm = 0.0;
        std::uint32_t adjustment = 0;
        std::uint32_t increment = 0;
        bool disabled = true;
        bool synchronised = false;
        std::uint32_t estimatedErrorMicroseconds = 0;
        std::uint32_t maximumErrorMicroseconds = 0;
    };
    bool Read(Reading& out) const;
    // Sets the true error and the drift, either or both; the adjustment stays.
    // An error beyond a century or a drift the model refuses fails with
    // ERROR_INVALID_PARAMETER.
    bool Configure(std::optional<double> trueErrorMilliseconds, std::optional<double> driftPpm);
    // Forgets the state, and any adjustment on record: the clock equals the machine's again.
    bool Reset();
    // What is wrong with the state file, naming it; empty when it holds a
    // clock or does not exist.
    std::string StateProblem() const;

private:
    // The state now; false with the last error set when the file cannot be
    // read or does not hold a clock (ERROR_INVALID_DATA), and problem saying why.
    bool Load(std::int64_t machineNow, SimulatedClockModel& model, std::string& problem) const;
    bool Load(std::int64_t machineNow, SimulatedClockModel& model) const;
    // The state for the calls that cannot fail; ends the process when there is none.
    SimulatedClockModel LoadOrEnd(std::int64_t machineNow) const;
    // Sets the adjustment in the state, with no record.
    bool SetAdjustment(std::uint32_t adjustment, bool disabled);
    // Changes the state under the file's lock, at the machine time of the change.
    bool Change(const std::function<bool(std::int64_t machineNow, SimulatedClockModel& model)>& change);

    SharedStateFile file_;
    std::mutex counterMutex_;
    DriftingCounter counter_;
    WindowsAdjustmentRecord record_;
};

}  // namespace kairovel::platform
