// Time acquisition: asking every active source for its time.
//
// Each source is asked several times over, each time through a fresh client
// of its kind. A valid reply adds the deviation of the local clock from the
// source (local minus source time, read right after the reply) and the
// exchange's delay; a reply slower than MaxNetworkDelay counts as none. Every
// attempt is followed by a pause of 100 ms. A source ends the pass with the
// averages of its valid replies, or marked silent.
#pragma once

#include <cstdint>
#include <string>

#include "config/source_kind.h"

namespace kairovel {

inline constexpr std::uint32_t kDefaultSampleCount = 5;
inline constexpr std::uint32_t kSmallestSampleCount = 1;
inline constexpr std::uint32_t kLargestSampleCount = 20;
// Below this many samples a source may take twice as many attempts.
inline constexpr std::uint32_t kFewSamples = 4;
inline constexpr std::uint32_t kPauseAfterAttemptMilliseconds = 100;

// What a descriptor asks for: the kind, the name, the valid replies wanted and
// the attempts allowed to get them.
struct SourceRequest {
    SourceKind kind = SourceKind::Domain;
    std::wstring name;
    std::uint32_t samples = kDefaultSampleCount;
    std::uint32_t attempts = kDefaultSampleCount;
};

// Reads "K,name" or "K,name,count". Raises "Illegal source %s; type could not
// be determined" when the first two characters are none of the kind prefixes.
SourceRequest ParseSourceDescriptor(const std::wstring& descriptor);

// Asks one source until it gave its sample count of valid replies or used its
// attempts. Adds to deviationSum and replies (which the caller sets to 0),
// sets delaySum to 0 and adds to it: sums, not averages. Every failed attempt
// is logged and absorbed; only an unknown kind prefix is raised.
void QuerySource(const std::wstring& descriptor, std::int64_t& deviationSum, std::uint32_t& replies,
                 std::uint32_t& delaySum);

// Asks every record of ActiveSources() in table order and leaves each one's
// averages in it, or marks it silent. With the restricted scan, sources after
// the first MaxTimeSources that answered are not asked and count as silent.
void AcquireAll();

}  // namespace kairovel
