#include "clock/local_clock.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "config/configuration.h"
#include "log/logger.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "timebase/numeric.h"

namespace kairovel {
namespace {

constexpr std::uint32_t kMillisecondsPerSecond = 1000;
// The longest piece of a sleep: its milliseconds must fit the platform's 32 bits.
constexpr std::uint32_t kLongestSleepSeconds = 1'000'000;

// x truncated toward zero; NaN and values beyond any count give 0.
std::int64_t Truncated(double x) {
    const double whole = std::trunc(x);
    if (!(std::fabs(whole) < 9.0e18)) return 0;
    return static_cast<std::int64_t>(whole);
}

// Whether x truncated toward zero lies strictly within -limit..limit.
bool TruncatedMagnitudeBelow(double x, int limit) {
    const double whole = std::trunc(x);
    return std::fabs(whole) < limit;  // false for NaN
}

// The per-mille rate of a deviation built up over a signed number of seconds.
double SlopePerMille(std::int64_t milliseconds, std::int32_t seconds) {
    return static_cast<double>(milliseconds) / static_cast<double>(seconds);
}

void ReleaseMemory() {
    platform::Process().SetProcessWorkingSetSize(platform::kWorkingSetRelease, platform::kWorkingSetRelease);
}

void ResetMemoryLimits() { platform::Process().SetProcessWorkingSetSize(0, 0); }

// Sleeps the whole number of seconds, in pieces the platform's millisecond
// count can hold, so that even a free run of months ends when planned.
void SleepSeconds(std::uint32_t seconds) {
    while (seconds > 0) {
        const std::uint32_t piece = seconds < kLongestSleepSeconds ? seconds : kLongestSleepSeconds;
        platform::Clock().Sleep(piece * kMillisecondsPerSecond);
        seconds -= piece;
    }
}

// One phase of RunAdjustment: a sleep, with the memory given back around it.
void SleepPhase(std::uint32_t seconds) {
    if (seconds > LocalClock::kReleaseMemoryAfterSeconds) ReleaseMemory();
    SleepSeconds(seconds);
    ResetMemoryLimits();
}

const wchar_t* StateWord(bool disabled) { return disabled ? L"disabled" : L"enabled"; }

// Negates a deviation; the most negative span wraps instead of overflowing.
std::int64_t Negated(std::int64_t milliseconds) {
    return static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(milliseconds));
}

}  // namespace

LocalClockState& ProcessLocalClockState() {
    static LocalClockState state;
    return state;
}

LocalClock& TheLocalClock() {
    static LocalClock clock;
    return clock;
}

LocalClock::LocalClock() : LocalClock(ProcessLocalClockState()) {}

LocalClock::LocalClock(LocalClockState& state) : state_(state) {
    const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
    if (state_.InstanceCount++ != 0) return;
    // A run killed in a slew left its adjustment in force: that goes first,
    // or this run would take it for the machine's own and restore it too.
    platform::Clock().RestoreAbandonedAdjustment(state_.AbandonedRestored);
    try {
        ReadPlatformAdjustment(state_.StartupDisabled, state_.StartupAdjustment);
    } catch (...) {
        // Unreadable: "disabled", which a restore turns into the system keeping
        // time by itself, at the nominal increment, which keeps the clock's
        // rate where the start-up adjustment becomes the base of a free run.
        state_.StartupDisabled = true;
        state_.StartupAdjustment = platform::Clock().NominalTimeIncrement();
    }
}

LocalClock::~LocalClock() {
    {
        const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
        if (--state_.InstanceCount != 0) return;
    }
    try {
        Restore();
    } catch (...) {
        // The program is ending; there is nobody left to tell.
    }
}

void LocalClock::GetTime(TimeValue& now) { now.Assign(TimeValue()); }

void LocalClock::SetTime(const TimeValue& t) {
    const TimeValue old;
    if (!platform::Clock().SetSystemTime(t.Calendar())) {
        RaiseError(L"Could not set the time. Error %d returned by SetSystemTime.", platform::GetLastError());
    }
    Log(CurrentLogger(), LevelTrace, L"Changed time from %s to %s", old.Format(), t.Format());
}

void LocalClock::Increment(const TimeSpan& deviation) {
    const std::int64_t step = Negated(deviation.Milliseconds());
    SetTime(TimeValue().Plus(TimeSpan(step)));
    Log(CurrentLogger(), LevelTrace, L"Incrementing time by %I64d milliseconds", step);
}

void LocalClock::ReadPlatformAdjustment(bool& disabled, std::uint32_t& adjustment) {
    std::uint32_t increment = 0;
    if (!platform::Clock().GetSystemTimeAdjustment(adjustment, increment, disabled)) {
        RaiseError(L"Error %d from GetSystemTimeAdjustment", platform::GetLastError());
    }
    state_.PlatformDisabled = disabled;
}

void LocalClock::GetAdjustment(bool& disabled, std::uint32_t& adjustment) {
    const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
    ReadPlatformAdjustment(disabled, adjustment);
}

void LocalClock::SetAdjustment(bool disabled, std::uint32_t adjustment) {
    const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
    SetAdjustmentLocked(disabled, adjustment);
}

void LocalClock::SetAdjustmentLocked(bool disabled, std::uint32_t adjustment) {
    if (state_.AdjustmentFinal) return;  // the program is ending with the start-up adjustment in force
    bool currentDisabled = false;
    std::uint32_t current = 0;
    ReadPlatformAdjustment(currentDisabled, current);
    // While no change of this program is in force, what is in force now is
    // what a restore puts back: another run may have changed the clock since
    // this one started, and put it back.
    if (!state_.AdjustmentChanged) {
        state_.StartupDisabled = currentDisabled;
        state_.StartupAdjustment = current;
    }
    if (currentDisabled == disabled && current == adjustment) return;
    if (!platform::Clock().SetSystemTimeAdjustment(adjustment, disabled)) {
        const std::uint32_t error = platform::GetLastError();
        // A change refused for want of its record (a full disk, another run) says why.
        const std::wstring problem = platform::Clock().AdjustmentProblem();
        if (problem.empty()) RaiseError(L"Error %d from SetSystemTimeAdjustment", error);
        RaiseError(L"Error %d from SetSystemTimeAdjustment: %s", error, problem);
    }
    state_.PlatformDisabled = disabled;
    state_.AdjustmentChanged = true;
}

void LocalClock::RunAdjustment(std::uint32_t seconds, double value, bool waitForLowPhase) {
    // The platform takes whole numbers only: the fraction of value is made up
    // by running part of the time at the next whole number.
    constexpr double kLargestLowValue = std::numeric_limits<std::uint32_t>::max() - 1.0;
    if (!(value >= 0.0 && value < kLargestLowValue)) {
        // No 32-bit adjustment stands for it; a wrapped one would send the clock astray.
        RaiseError(L"Error %d from SetSystemTimeAdjustment", std::uint32_t{platform::ERROR_INVALID_PARAMETER});
    }
    const auto low = static_cast<std::uint32_t>(Truncated(value));
    const double fraction = value - low;
    const auto highSeconds = static_cast<std::uint32_t>(Truncated(fraction * seconds + 0.5));
    const std::uint32_t lowSeconds = seconds - highSeconds;
    if (highSeconds != 0) {
        SetAdjustment(false, low + 1);
        SleepPhase(highSeconds);
    }
    if (lowSeconds != 0) {
        SetAdjustment(false, low);
        if (waitForLowPhase) SleepPhase(lowSeconds);
    }
}

void LocalClock::Adjust(const TimeSpan& deviation, std::uint32_t seconds, std::uint32_t freeRun) {
    const std::int64_t d = deviation.Milliseconds();
    const TimeValue now;

    // The free run just ended: from the end of the last correction to now.
    std::int32_t freeRunDuration = 0;
    if (!state_.FirstAdjustDone) {
        state_.FirstAdjustDone = true;
        state_.LastAdjustTime.Assign(now);
    } else {
        freeRunDuration = static_cast<std::int32_t>(now.Minus(state_.LastAdjustTime).Milliseconds() / 1000);
    }

    state_.ClockAdjust = BaseAdjustment();
    const bool disabledBefore = [this] {
        const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
        return state_.PlatformDisabled;
    }();

    const double rate = PerMille(d, seconds);
    const double correction = AdjustedIncrement(rate, state_.ClockAdjust);
    Log(CurrentLogger(), LevelTrace,
        L"Started adjusting time by %.4f per mille over %u seconds to correct deviation of %I64d milliseconds; "
        L"changed clock adjust from %.3f (%s) to %.3f.",
        0.0 - rate, seconds, d, state_.ClockAdjust, StateWord(disabledBefore), correction);

    RunAdjustment(seconds, correction, true);
    SetTime(TimeValue());
    if (freeRun == 0) return;

    double base = state_.ClockAdjust;
    double slope = 0.0;
    const wchar_t* word = StateWord(false);
    switch (TheConfiguration().RestoreAdjustment) {
        case 0:
            word = StateWord(true);
            break;
        case 1:
            break;
        case 2:
            // The deviation of the last free run over its length is the
            // clock's own rate error; half of it comes out of the base. A
            // clock stepped back past the end of the last correction has no
            // free run to measure, and a short one measures mostly the
            // millisecond resolution of the deviation: no estimate this pass.
            if (freeRunDuration >= kShortestEstimatingFreeRunSeconds) {
                slope = SlopePerMille(d, freeRunDuration);
                base = TruncatedMagnitudeBelow(slope, kResetSlopePerMille)
                           ? AdjustedIncrement(0.5 * slope, state_.ClockAdjust)
                           : static_cast<double>(state_.StartupAdjustment);
            }
            break;
        default:
            word = StateWord(disabledBefore);
            break;
    }
    base = WithinDriftLimit(base);
    state_.LastAdjustTime.Assign(TimeValue());
    Log(CurrentLogger(), LevelTrace,
        L"Completed time adjust. Adjustment is now %s. Clock adjust = %.3f to correct deviation slope of %.4f. "
        L"FreeRunDuration = %d.",
        word, base, slope, freeRunDuration);

    RunAdjustment(freeRun, base, false);

    if (state_.Store != nullptr) {
        state_.StableCount = TruncatedMagnitudeBelow(slope, kStableSlopePerMille) ? state_.StableCount + 1 : 0;
        if (state_.StableCount > kStableCorrectionsBeforePersisting) state_.Store->Persist(base);
    }
    state_.ClockAdjust = base;
}

void LocalClock::ReportAbandonedAdjustment() {
    std::wstring restored;
    {
        const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
        restored.swap(state_.AbandonedRestored);
    }
    if (!restored.empty()) {
        Log(CurrentLogger(), LevelInfo, L"Put back the time adjustment a run that ended without restoring it had found: %s",
            restored);
    }
}

void LocalClock::RefuseWhileAnotherAdjusts() {
    const std::string holder = platform::Clock().AnotherAdjuster();
    if (holder.empty()) return;
    RaiseError(L"The clock is being adjusted by another run (%s), and only one may change it at a time. Time not changed.",
               platform::AnsiToWide(holder));
}

void LocalClock::UseStoredAdjustment(AdjustmentStore& store) {
    state_.Store = &store;
    double stored = 0.0;
    try {
        stored = store.Read();
    } catch (...) {
        return;  // nothing stored (yet): the base comes from the platform at the first Adjust
    }
    if (std::fabs(PpmFromStartup(stored)) <= kLargestDriftCompensationPpm) {  // false for NaN
        state_.ClockAdjust = stored;
        // Another run adjusting the clock keeps it: the first pass sets the base.
        if (platform::Clock().AnotherAdjuster().empty()) SetAdjustment(false, RoundToUnsigned(stored));
        Log(CurrentLogger(), LevelTrace, L"Using stored adjustment of %.3f", stored);
    } else {
        Log(CurrentLogger(), LevelTrace, L"Discarding stored adjustment of %.3f", stored);
    }
}

void LocalClock::Restore() {
    const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
    RestoreLocked();
}

void LocalClock::RestoreForExit() {
    // One lock over both, so that no pass sets an adjustment between them.
    const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
    RestoreLocked();
    state_.AdjustmentFinal = true;
    // A clock nobody keeps any more is no longer said to be kept.
    if (state_.ReportedSynchronised && platform::Clock().SetSynchronisedStatus(false, 0, 0)) {
        state_.ReportedSynchronised = false;
        Log(CurrentLogger(), LevelTrace, L"Told the system the clock is no longer kept.");
    }
}

void LocalClock::ReportSynchronised(std::uint64_t estimatedMicroseconds, std::uint64_t maximumMicroseconds) {
    const std::lock_guard<std::mutex> lock(state_.AdjustmentMutex);
    if (state_.AdjustmentFinal || maximumMicroseconds >= kUnsynchronisedMicroseconds) return;
    const auto estimated = static_cast<std::uint32_t>(std::min(estimatedMicroseconds, maximumMicroseconds));
    const auto maximum = static_cast<std::uint32_t>(maximumMicroseconds);
    if (!platform::Clock().SetSynchronisedStatus(true, estimated, maximum)) {
        Log(CurrentLogger(), LevelError, L"Error %d telling the system that the clock is synchronised",
            platform::GetLastError());
        return;
    }
    state_.ReportedSynchronised = true;
    Log(CurrentLogger(), LevelTrace,
        L"Told the system the clock is synchronised: estimated error %u microseconds, maximum error %u microseconds.",
        estimated, maximum);
}

void LocalClock::RestoreLocked() {
    if (!state_.AdjustmentChanged) return;
    SetAdjustmentLocked(state_.StartupDisabled, state_.StartupAdjustment);
    state_.AdjustmentChanged = false;
    Log(CurrentLogger(), LevelTrace, L"Adjustment restored to %d (%d)", state_.StartupAdjustment,
        state_.StartupDisabled ? 1 : 0);
}

double LocalClock::PpmFromStartup(double base) const {
    const double startup = state_.StartupAdjustment;
    return (base - startup) * 1e6 / startup;
}

double LocalClock::WithinDriftLimit(double base) const {
    const double ppm = PpmFromStartup(base);
    if (!(std::fabs(ppm) > kLargestDriftCompensationPpm)) return base;
    const double limited = std::copysign(kLargestDriftCompensationPpm, ppm);
    Log(CurrentLogger(), LevelTrace,
        L"A drift compensation of %.1f ppm is more than any clock needs; limited to %.1f ppm.", ppm, limited);
    return state_.StartupAdjustment * (1.0 + limited * 1e-6);
}

double LocalClock::BaseAdjustment() {
    if (RoundToUnsigned(state_.ClockAdjust) != 0) return state_.ClockAdjust;
    bool disabled = false;
    std::uint32_t adjustment = 0;
    GetAdjustment(disabled, adjustment);
    return adjustment;
}

bool LocalClock::CorrectionFitsPlatform(const TimeSpan& deviation, std::uint32_t seconds) {
    const double correction = AdjustedIncrement(PerMille(deviation.Milliseconds(), seconds), BaseAdjustment());
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    platform::Clock().GetSystemTimeAdjustmentRange(lowest, highest);
    // The low value always runs; the next whole number above it when there is a fraction.
    const double low = std::trunc(correction);
    const double high = correction > low ? low + 1.0 : low;
    return low >= lowest && high <= highest;  // false for NaN
}

}  // namespace kairovel
