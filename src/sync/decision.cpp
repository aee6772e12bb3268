#include "sync/decision.h"

#include <algorithm>
#include <cmath>

#include "config/configuration.h"
#include "config/text_case.h"
#include "log/logger.h"
#include "platform/process.h"
#include "sync/acquisition.h"
#include "sync/active_sources.h"
#include "config/source_kind.h"
#include "sync/selection.h"
#include "timebase/numeric.h"
#include "timebase/time_span.h"

namespace kairovel {
namespace {

constexpr wchar_t kConsoleDevice[] = L"Console";

// Whether the configured log device is the console: none named, or "Console" in any case.
bool LogsToConsole(const std::wstring& device) {
    return device.empty() || EqualsIgnoringCase(device, kConsoleDevice);
}

// The magnitude of a deviation; the most negative one has no signed magnitude.
std::uint64_t Magnitude(std::int64_t milliseconds) {
    const auto bits = static_cast<std::uint64_t>(milliseconds);
    return milliseconds < 0 ? 0 - bits : bits;
}

// Whether the clock may be slewed over the window: the rate, truncated toward
// zero, stays below 990 per mille, and the platform's adjustment range takes
// the correction (the Linux kernel's takes only about 10 %).
bool SlewIsPossible(LocalClock& clock, std::int64_t deviation, std::uint32_t window) {
    const double rate = std::trunc(PerMille(deviation, window));
    if (!(std::fabs(rate) < static_cast<double>(kSlewLimitPerMille))) return false;
    if (clock.CorrectionFitsPlatform(TimeSpan(deviation), window)) return true;
    Log(CurrentLogger(), LevelTrace,
        L"A correction of %.4f per mille over %u seconds is beyond the clock's adjustment range; stepping instead.",
        0.0 - PerMille(deviation, window), window);
    return false;
}

// The clock's estimated error once a pass has corrected it, in microseconds:
// over the sources that replied, half the round trip (the most its one-way
// delay can differ from half of it) and the resolution of the time they send.
std::uint64_t EstimatedErrorMicroseconds() {
    constexpr std::uint64_t kMicrosecondsPerMillisecond = 1000;
    const ActiveSourceTable& table = ActiveSources();
    std::uint64_t sum = 0;
    std::uint64_t count = 0;
    for (std::uint32_t i = 0; i < table.count; ++i) {
        const SourceResult& source = table.records[i];
        if (!source.Replied()) continue;
        const SourceKindEntry* kind = FindSourceKind(source.descriptor);
        const std::uint64_t resolution = kind != nullptr ? kind->resolutionMilliseconds : 1000;
        sum += (std::uint64_t{source.delay} * kMicrosecondsPerMillisecond) / 2 + resolution * kMicrosecondsPerMillisecond;
        ++count;
    }
    return count == 0 ? 0 : sum / count;
}

}  // namespace

void ApplySourceDefaults() {
    Configuration& configuration = TheConfiguration();
    if (configuration.NumberOfTimeSources == 0) {
        configuration.NumberOfTimeSources = 1;
        configuration.SourceName[0] = SourceKindOf(SourceKind::Domain).prefix;  // the own domain's controller
    }
    if (configuration.MaxTimeSources == 0 || configuration.MaxTimeSources > configuration.NumberOfTimeSources) {
        configuration.MaxTimeSources = configuration.NumberOfTimeSources;
    }
    if (configuration.SelectionPeriod == 0) configuration.SelectionPeriod = 1;
}

void LoadActiveSources() {
    if (SelectionCountdown() > 0) return;
    const Configuration& configuration = TheConfiguration();
    ActiveSourceTable& table = ActiveSources();
    const std::uint32_t count =
        configuration.NumberOfTimeSources < Configuration::kMaxSources ? configuration.NumberOfTimeSources
                                                                        : Configuration::kMaxSources;
    for (std::uint32_t i = 0; i < count; ++i) table.records[i].descriptor = configuration.SourceName[i];
    table.count = count;
}

void AverageDeviation(std::int64_t& average, std::uint32_t& count) {
    const ActiveSourceTable& table = ActiveSources();
    std::int64_t sum = 0;
    count = 0;
    for (std::uint32_t i = 0; i < table.count; ++i) {
        const SourceResult& source = table.records[i];
        if (!source.Replied()) continue;
        sum += source.deviation - static_cast<std::int64_t>(source.delay / 2);
        ++count;
    }
    average = count == 0 ? 0 : sum / static_cast<std::int64_t>(count);
}

std::uint32_t CorrectionWindowSeconds(std::uint32_t period) {
    const std::uint32_t half = period / 2;
    return half < kLongestCorrectionWindowSeconds ? half : kLongestCorrectionWindowSeconds;
}

std::uint32_t FreeRunSeconds(const Configuration& configuration) {
    if (configuration.ImmediateFlag != 0) return 0;
    return configuration.Period - CorrectionWindowSeconds(configuration.Period);
}

void SynchronizeOnce(std::wstring& result) { SynchronizeOnce(result, TheLocalClock()); }

void SynchronizeOnce(std::wstring& result, LocalClock& clock) {
    platform::Process().SetProcessWorkingSetSize(0, 0);
    // One run at a time changes the clock: a pass beside another's asks no source.
    clock.RefuseWhileAnotherAdjusts();
    ApplySourceDefaults();
    LoadActiveSources();
    AcquireAll();
    SelectSources();

    std::int64_t deviation = 0;
    std::uint32_t replied = 0;
    AverageDeviation(deviation, replied);
    if (replied == 0) RaiseError(L"No configured time sources returned a reply. Time not changed.");

    const Configuration& configuration = TheConfiguration();
    if (configuration.MaxTimeDeviation != 0 && Magnitude(deviation) >= configuration.MaxTimeDeviation) {
        RaiseError(L"Difference between local clock and remote time was %I64d milliseconds. Time was not set.",
                   deviation);
    }

    const std::uint32_t window = CorrectionWindowSeconds(configuration.Period);
    clock.RefuseWhileAnotherAdjusts();  // it may have begun while the sources were asked
    if (configuration.TimeAdjust != 0 && SlewIsPossible(clock, deviation, window)) {
        if (configuration.ImmediateFlag != 0 && LogsToConsole(configuration.LogDevice)) {
            Log(CurrentLogger(), LevelInfo, L"Clock will be adjusted over approx. %d seconds...", window);
        }
        // While it slews, the clock may still be off by what is left to work off.
        const std::uint64_t estimated = EstimatedErrorMicroseconds();
        clock.ReportSynchronised(
            estimated, estimated + std::min<std::uint64_t>(Magnitude(deviation), LocalClock::kUnsynchronisedMicroseconds) * 1000);
        clock.Adjust(TimeSpan(deviation), window, FreeRunSeconds(configuration));
        clock.ReportSynchronised(estimated, estimated);
    } else {
        clock.Increment(TimeSpan(deviation));
        clock.ReportSynchronised(EstimatedErrorMicroseconds(), EstimatedErrorMicroseconds());
    }
    result = Format(L"%I64d", deviation);
    platform::Process().SetProcessWorkingSetSize(platform::kWorkingSetRelease, platform::kWorkingSetRelease);
}

}  // namespace kairovel
