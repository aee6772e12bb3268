// Source selection: keeping the sources with the shortest delays for a while.
//
// After every acquisition the active sources are ordered by their average
// delay (silent ones last, equal delays in table order) and the first
// MaxTimeSources of them are kept; for SelectionPeriod passes only those are
// asked again. When fewer of them replied, the pass goes on with those that
// did and the next pass asks all configured sources again.
#pragma once

#include <cstdint>

#include "sync/active_sources.h"

namespace kairovel {

// Further passes that keep the current selection; while it is above 0 the
// configured sources are not reloaded into the table.
std::uint32_t& SelectionCountdown();

// Whether record a of the table has a shorter delay than record b (silent
// sources, kSilentDelay, compare greater than every source that replied).
bool CompareByDelay(const ActiveSourceTable& table, std::uint32_t a, std::uint32_t b);

// Orders and shortens ActiveSources() and counts the selection down.
void SelectSources();

}  // namespace kairovel
