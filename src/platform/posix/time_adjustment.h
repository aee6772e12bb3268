// The Windows time adjustment expressed in the Linux kernel's tick and frequency.
//
// Windows adds `adjustment` 100-ns units to the clock at every interrupt whose
// nominal length is `increment`, so the clock runs at adjustment / increment.
// The kernel makes each second tick x USER_HZ microseconds plus the frequency
// offset (parts per million, scaled by 2^16) long. With one interrupt per
// USER_HZ tick the increment is 10 x 1,000,000 / USER_HZ units, the tick
// stands for 10 units a microsecond, and the frequency offset converted to
// 100-ns units per tick makes up the rest:
//     adjustment = 10 x tick + frequency x increment / (1,000,000 x 2^16).
// The adjustment is disabled when tick and frequency are the kernel's
// defaults. The kernel takes a tick within 10 % of its nominal value and a
// frequency within 500 ppm, which bounds the adjustments that can be set.
//
// One unit is 10 ppm at USER_HZ 100, far coarser than the kernel's frequency,
// so the values the kernel had at start-up are kept: the adjustment (and flag)
// they read as is set back as exactly those values, and a restore puts the
// kernel's own rate back rather than the nearest whole unit of it.
#pragma once

#include <cstdint>
#include <optional>

namespace kairovel::platform {

// What adjtimex reads and sets: microseconds per tick, and scaled ppm.
struct KernelClockRate {
    long tick = 0;
    long frequency = 0;
};

class KernelAdjustmentMapping {
public:
    static constexpr long kFrequencyScale = 65'536;      // adjtimex frequency units per ppm
    static constexpr long kMaximumFrequencyPpm = 500;    // the kernel's limit on the frequency offset

    // startup: the kernel's values when the program started, if they could be read.
    explicit KernelAdjustmentMapping(long userHz, std::optional<KernelClockRate> startup = std::nullopt);

    std::uint32_t Increment() const { return increment_; }
    long NominalTick() const { return nominalTick_; }
    std::uint32_t Lowest() const { return lowest_; }
    std::uint32_t Highest() const { return highest_; }

    // The Windows view of the kernel's values, rounded to whole units.
    void ToAdjustment(const KernelClockRate& rate, std::uint32_t& adjustment, bool& disabled) const;
    // The kernel's values for a Windows adjustment: the start-up values for
    // the adjustment and flag they read as, otherwise the nearest tick and the
    // rest as frequency. False when the adjustment lies outside Lowest()..Highest().
    bool ToKernel(std::uint32_t adjustment, bool disabled, KernelClockRate& rate) const;

private:
    double FrequencyPerUnit() const;  // scaled ppm for one 100-ns unit per tick

    std::uint32_t increment_;
    long nominalTick_;
    long lowestTick_;
    long highestTick_;
    std::uint32_t lowest_;
    std::uint32_t highest_;
    std::optional<KernelClockRate> startup_;
    std::uint32_t startupAdjustment_ = 0;
    bool startupDisabled_ = true;
};

}  // namespace kairovel::platform
