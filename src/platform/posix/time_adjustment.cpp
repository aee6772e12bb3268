#include "platform/posix/time_adjustment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace kairovel::platform {
namespace {

constexpr long kMicrosecondsPerSecond = 1'000'000;
constexpr long kUnitsPerMicrosecond = 10;  // 100-ns units
constexpr long kDefaultUserHz = 100;

}  // namespace

KernelAdjustmentMapping::KernelAdjustmentMapping(long userHz, std::optional<KernelClockRate> startup) {
    if (userHz <= 0 || userHz > kMicrosecondsPerSecond) userHz = kDefaultUserHz;
    nominalTick_ = kMicrosecondsPerSecond / userHz;
    increment_ = static_cast<std::uint32_t>(nominalTick_ * kUnitsPerMicrosecond);
    // The kernel's own bounds, with its integer division: 900000 / USER_HZ to 1100000 / USER_HZ.
    lowestTick_ = 900'000 / userHz;
    highestTick_ = 1'100'000 / userHz;
    const auto frequencyUnits = static_cast<long>(kMaximumFrequencyPpm * static_cast<double>(increment_) /
                                                  static_cast<double>(kMicrosecondsPerSecond));
    lowest_ = static_cast<std::uint32_t>(std::max(0L, lowestTick_ * kUnitsPerMicrosecond - frequencyUnits));
    highest_ = static_cast<std::uint32_t>(highestTick_ * kUnitsPerMicrosecond + frequencyUnits);
    if (startup) {
        ToAdjustment(*startup, startupAdjustment_, startupDisabled_);
        startup_ = startup;
    }
}

double KernelAdjustmentMapping::FrequencyPerUnit() const {
    // One unit per tick is a rate of 1 / increment: 1,000,000 / increment ppm.
    return static_cast<double>(kMicrosecondsPerSecond) * kFrequencyScale / static_cast<double>(increment_);
}

void KernelAdjustmentMapping::ToAdjustment(const KernelClockRate& rate, std::uint32_t& adjustment,
                                           bool& disabled) const {
    const double units = static_cast<double>(rate.tick) * kUnitsPerMicrosecond +
                         static_cast<double>(rate.frequency) / FrequencyPerUnit();
    const double limited = std::clamp(std::round(units), 0.0, double{std::numeric_limits<std::uint32_t>::max()});
    adjustment = static_cast<std::uint32_t>(limited);
    disabled = rate.tick == nominalTick_ && rate.frequency == 0;
}

bool KernelAdjustmentMapping::ToKernel(std::uint32_t adjustment, bool disabled, KernelClockRate& rate) const {
    if (startup_ && adjustment == startupAdjustment_ && disabled == startupDisabled_) {
        rate = *startup_;
        return true;
    }
    if (disabled) {
        rate = KernelClockRate{nominalTick_, 0};
        return true;
    }
    if (adjustment < lowest_ || adjustment > highest_) return false;
    const long tick = std::clamp(static_cast<long>((adjustment + kUnitsPerMicrosecond / 2) / kUnitsPerMicrosecond),
                                 lowestTick_, highestTick_);
    const long rest = static_cast<long>(adjustment) - tick * kUnitsPerMicrosecond;
    rate = KernelClockRate{tick, std::lround(static_cast<double>(rest) * FrequencyPerUnit())};
    return true;
}

}  // namespace kairovel::platform
