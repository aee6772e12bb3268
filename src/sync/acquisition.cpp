#include "sync/acquisition.h"

#include <cstdint>
#include <memory>
#include <string_view>

#include "config/configuration.h"
#include "log/logger.h"
#include "platform/clock.h"
#include "sources/plumbing.h"
#include "sources/source_factory.h"
#include "sync/active_sources.h"
#include "timebase/numeric.h"
#include "timebase/time_value.h"

namespace kairovel {
namespace {

constexpr std::size_t kPrefixLength = 2;

// The sample count of a count text: 0 becomes 1, and anything above 20 (a
// negative count read as unsigned is) becomes 20.
std::uint32_t SampleCount(std::wstring_view text) {
    const std::int64_t number = LeadingDecimalNumber(text);
    if (number < 0 || number > kLargestSampleCount) return kLargestSampleCount;
    return number < kSmallestSampleCount ? kSmallestSampleCount : static_cast<std::uint32_t>(number);
}

}  // namespace

SourceRequest ParseSourceDescriptor(const std::wstring& descriptor) {
    SourceRequest request;
    const SourceKindEntry* entry = FindSourceKind(descriptor);
    if (entry == nullptr) RaiseError(L"Illegal source %s; type could not be determined", descriptor);
    request.kind = entry->kind;

    const std::wstring rest = descriptor.substr(kPrefixLength);
    const std::size_t comma = rest.find(L',');
    if (comma == std::wstring::npos) {
        request.name = rest;
        request.samples = kDefaultSampleCount;
    } else {
        request.name = rest.substr(0, comma);
        request.samples = SampleCount(std::wstring_view(rest).substr(comma + 1));
    }
    request.attempts = request.samples < kFewSamples ? 2 * request.samples : request.samples;
    return request;
}

void QuerySource(const std::wstring& descriptor, std::int64_t& deviationSum, std::uint32_t& replies,
                 std::uint32_t& delaySum) {
    const LookupCache lookups;  // the source's address and port, looked up once for all its samples
    const SourceRequest request = ParseSourceDescriptor(descriptor);
    const std::uint32_t maxNetworkDelay = TheConfiguration().MaxNetworkDelay;
    delaySum = 0;
    TimeValue sourceTime;
    std::uint32_t attempts = 0;
    std::uint32_t valid = 0;
    while (attempts < request.attempts && valid < request.samples) {
        try {
            const std::unique_ptr<TimeSource> client = CreateTimeSource(request.kind, request.name);
            client->GetTime(sourceTime);
            const auto delay = static_cast<std::uint32_t>(client->GetDelay().Milliseconds());
            if (maxNetworkDelay != 0 && delay > maxNetworkDelay) {
                RaiseError(L"Excessive network delay of %u encountered", delay);
            }
            // Local time is read after the client returned; half the delay is
            // taken off when the deviations are averaged.
            const std::int64_t deviation = TimeValue().Minus(sourceTime).Milliseconds();
            ++valid;
            ++replies;
            deviationSum += deviation;
            delaySum += delay;
        } catch (const std::wstring& message) {
            Log(CurrentLogger(), LevelError, L"%s", message);
        }
        ++attempts;
        platform::Clock().Sleep(kPauseAfterAttemptMilliseconds);
    }
    if (valid == 0) Log(CurrentLogger(), LevelError, L"Could not get time after %d attempts", attempts);
}

void AcquireAll() {
    const LookupCache lookups;  // one look-up of each name and service for the whole pass
    const Configuration& configuration = TheConfiguration();
    ActiveSourceTable& table = ActiveSources();
    std::uint32_t answered = 0;
    for (std::uint32_t i = 0; i < table.count; ++i) {
        SourceResult& source = table.records[i];
        source.replies = 0;
        source.deviation = 0;
        // A record without a descriptor names no source: it must not pass for one that replied.
        const bool skipped = source.descriptor.empty() ||
                             (configuration.RestrictedScanIsEnabled != 0 && answered >= configuration.MaxTimeSources);
        if (!skipped) QuerySource(source.descriptor, source.deviation, source.replies, source.delay);
        if (source.replies == 0) {
            source.delay = kSilentDelay;
            continue;
        }
        source.deviation /= source.replies;
        source.delay /= source.replies;
        ++answered;
    }
}

}  // namespace kairovel
