// The local clock: stepping it, slewing it, compensating its drift, and
// putting back the time adjustment the machine had when the program started.
//
// A measured deviation (local minus source time, positive when the local
// clock is ahead) is corrected either at once (Increment) or gradually
// (Adjust): the platform's time adjustment, in 100-ns units per clock
// interrupt, is lowered or raised for a correction window so that the clock
// runs slower or faster until the deviation is worked off. After the window,
// the deviation that built up during the previous free run gives the clock's
// own rate error, half of which is taken out of the base adjustment for the
// next free run. A base that stays stable is persisted in an AdjustmentStore
// and reused at the next start when it is plausible. Only a free run long
// enough for the millisecond resolution of a deviation to be a few ppm gives
// an estimate, and the base never strays more than 500 ppm from the start-up
// adjustment, so that noise at a short period cannot build up into a rate
// error.
//
// The discipline's state is one LocalClockState. The program keeps one for
// the whole process, shared by every LocalClock made without a state of its
// own (TheLocalClock() is the one the program uses); a test makes a state of
// its own on a virtual clock. The first LocalClock of a state saves the
// platform's adjustment and the last one puts it back.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "clock/adjustment_store.h"
#include "sources/time_provider.h"
#include "timebase/time_span.h"
#include "timebase/time_value.h"

namespace kairovel {

struct LocalClockState {
    // Guards what the stopping thread's Restore shares with a running pass:
    // the start-up values, AdjustmentChanged and every change of the platform's adjustment.
    std::mutex AdjustmentMutex;
    std::uint32_t InstanceCount = 0;
    std::uint32_t StartupAdjustment = 0;  // the platform's adjustment when the first LocalClock was made
    bool StartupDisabled = true;          // its disabled flag then (true until read)
    bool AdjustmentChanged = false;       // this program has set an adjustment since
    bool PlatformDisabled = true;         // the platform's flag as last read or written here
    bool AdjustmentFinal = false;         // restored for the program's end: no change after it
    bool ReportedSynchronised = false;    // the platform was told the clock is kept
    // What a run that ended without its restore had left and this one put
    // back before it read the start-up adjustment; empty when nothing.
    std::wstring AbandonedRestored;

    // Used by one pass at a time, without a lock.
    double ClockAdjust = 0.0;  // base adjustment between corrections; 0: not set yet
    TimeValue LastAdjustTime{platform::SYSTEMTIME{}};
    bool FirstAdjustDone = false;
    std::uint32_t StableCount = 0;  // consecutive Adjust calls with a small deviation slope
    AdjustmentStore* Store = nullptr;
};

class LocalClock : public TimeProvider {
public:
    // A correction slope of this many per mille or more sends the base back to the start-up adjustment.
    static constexpr int kResetSlopePerMille = 10;
    // Slopes below this many per mille count as stable.
    static constexpr int kStableSlopePerMille = 4;
    // The base is persisted after more than this many stable corrections in a row.
    static constexpr std::uint32_t kStableCorrectionsBeforePersisting = 5;
    // The base between corrections stays within this many ppm of the
    // start-up adjustment, and a stored base beyond it is discarded: more
    // than any real oscillator needs (the Linux kernel's frequency range).
    static constexpr double kLargestDriftCompensationPpm = 500.0;
    // A free run shorter than this gives no drift estimate: a millisecond of
    // measurement noise over it would be more than a few ppm of rate.
    static constexpr std::int32_t kShortestEstimatingFreeRunSeconds = 300;
    // A maximum error from which Linux's kernel reads the clock unsynchronised (its NTP_PHASE_LIMIT).
    static constexpr std::uint64_t kUnsynchronisedMicroseconds = 16'000'000;
    // Sleeps longer than this give the process's memory back first.
    static constexpr std::uint32_t kReleaseMemoryAfterSeconds = 60;

    // On the process-wide state.
    LocalClock();
    // On a state of its own.
    explicit LocalClock(LocalClockState& state);
    ~LocalClock() override;
    LocalClock(const LocalClock&) = delete;
    LocalClock& operator=(const LocalClock&) = delete;

    // The current UTC time.
    void GetTime(TimeValue& now) override;
    // Sets the system clock to t.
    virtual void SetTime(const TimeValue& t);
    // Steps the clock by minus the deviation.
    virtual void Increment(const TimeSpan& deviation);
    // Works the deviation off over the given seconds, then (freeRun not 0) sets
    // the drift-compensated base for the free run. Blocks for the seconds and
    // the free run's high phase.
    virtual void Adjust(const TimeSpan& deviation, std::uint32_t seconds, std::uint32_t freeRun);
    // Puts back the adjustment saved at start-up if this program changed it.
    virtual void Restore();
    // The same, for the end of the program: the start-up adjustment then stays
    // in force, and what a pass still running would set is left unset, so that
    // no correction rate outlives the program.
    void RestoreForExit();
    // Logs what the start put back of a run that ended without its restore, once.
    void ReportAbandonedAdjustment();
    // Tells the platform the clock is kept, after a pass that corrected it:
    // its estimated and maximum error in microseconds. Nothing is said of a
    // clock whose maximum error the Linux kernel would not take for
    // synchronised (16 s or more), nor once the program is ending. A refusal
    // is logged, not raised: the pass has done its work.
    void ReportSynchronised(std::uint64_t estimatedMicroseconds, std::uint64_t maximumMicroseconds);
    // Raises "The clock is being adjusted by another run (process N ...)"
    // while another running process holds the platform's adjustment: one run
    // at a time changes the clock.
    void RefuseWhileAnotherAdjusts();
    // Remembers the store for persisting and takes over its value when plausible.
    virtual void UseStoredAdjustment(AdjustmentStore& store);
    // The platform's time adjustment.
    virtual void GetAdjustment(bool& disabled, std::uint32_t& adjustment);
    // Writes the platform's time adjustment when it differs from the current one.
    virtual void SetAdjustment(bool disabled, std::uint32_t adjustment);
    // Runs the clock at an average adjustment of value for the given seconds:
    // a high phase at the next whole number above value, then the low phase at
    // the whole number below, which stays in force.
    virtual void RunAdjustment(std::uint32_t seconds, double value, bool waitForLowPhase);

    // Whether the platform accepts the adjustments that Adjust would set to
    // work the deviation off over the seconds. The Linux kernel takes only
    // rates within about 10 % of the nominal one, so a pass checks this and
    // steps the clock when the correction does not fit.
    bool CorrectionFitsPlatform(const TimeSpan& deviation, std::uint32_t seconds);

    const LocalClockState& state() const { return state_; }

private:
    // The base adjustment, or the platform's adjustment while the base is not set yet.
    double BaseAdjustment();
    // The base held within kLargestDriftCompensationPpm of the start-up adjustment.
    double WithinDriftLimit(double base) const;
    // How far a base lies from the start-up adjustment, in ppm.
    double PpmFromStartup(double base) const;
    void ReadPlatformAdjustment(bool& disabled, std::uint32_t& adjustment);
    void SetAdjustmentLocked(bool disabled, std::uint32_t adjustment);
    void RestoreLocked();

    LocalClockState& state_;
};

// The process-wide state and clock. The clock is made at the first call,
// which the entry point makes at start-up so that the platform's adjustment
// is saved before anything changes it; it restores the adjustment at exit.
LocalClockState& ProcessLocalClockState();
LocalClock& TheLocalClock();

}  // namespace kairovel
