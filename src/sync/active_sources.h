// The table of active sources: what each source gave in the current pass.
//
// Before a pass the table holds the configured source descriptors (or the
// ones a selection kept); the acquisition fills in each source's average
// deviation and delay, the selection orders and shortens it, and the decision
// averages over the sources that replied. One pass at a time uses it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/configuration.h"

namespace kairovel {

// The delay of a source that gave no valid reply in this pass.
inline constexpr std::uint32_t kSilentDelay = 0xFFFF'FFFF;

struct SourceResult {
    std::wstring descriptor;
    // Milliseconds, local minus source time: the sum over the valid replies
    // while the source is asked, their average afterwards.
    std::int64_t deviation = 0;
    // Milliseconds: the sum of the replies' delays while asked, their average
    // afterwards; kSilentDelay for a silent source.
    std::uint32_t delay = 0;
    std::uint32_t replies = 0;

    bool Replied() const { return delay != kSilentDelay; }
};

struct ActiveSourceTable {
    std::array<SourceResult, Configuration::kMaxSources> records{};
    std::uint32_t count = 0;  // the records in use, always the first ones
};

// The process's one table.
ActiveSourceTable& ActiveSources();

}  // namespace kairovel
