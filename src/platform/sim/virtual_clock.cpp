#include "platform/sim/virtual_clock.h"

#include <cmath>

#include "platform/last_error.h"
#include "platform/threads.h"

namespace kairovel::platform {
namespace {

constexpr auto kUnitsPerMillisecond = static_cast<std::int64_t>(kFileTimeUnitsPerMillisecond);
constexpr std::int64_t kNanosecondsPerUnit = 100;
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// The largest count FileTimeToSystemTime converts: virtual time never goes past it.
constexpr std::int64_t kLatestCount = 0x7FFF'FFFF'FFFF'FFFF;

}  // namespace

VirtualClock::VirtualClock(std::int64_t machineStart)
    : machineStart_(machineStart), machineNow_(machineStart), model_(machineStart) {}

void VirtualClock::GetSystemTime(SYSTEMTIME& utc) {
    const std::lock_guard<std::mutex> lock(mutex_);
    utc = CalendarOfReading(model_.ClockAt(machineNow_));
}

void VirtualClock::GetLocalTime(SYSTEMTIME& local) {
    const std::lock_guard<std::mutex> lock(mutex_);
    local = CalendarOfReading(model_.ClockAt(machineNow_) + localOffset_);
}

bool VirtualClock::SetSystemTime(const SYSTEMTIME& utc) {
    FILETIME target;
    if (!SystemTimeToFileTime(utc, target)) return false;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (refusal_ != 0) {
        SetLastError(refusal_);
        return false;
    }
    model_.Step(machineNow_, static_cast<std::int64_t>(FileTimeCount(target)));
    ++setTimeCalls_;
    return true;
}

bool VirtualClock::GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (readRefusal_ != 0) {
        SetLastError(readRefusal_);
        return false;
    }
    adjustment = model_.adjustment();
    increment = model_.increment();
    disabled = model_.disabled();
    return true;
}

bool VirtualClock::SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (refusal_ != 0) {
        SetLastError(refusal_);
        return false;
    }
    if (!disabled && (adjustment < lowest_ || adjustment > highest_)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    model_.SetAdjustment(machineNow_, adjustment, disabled);
    changes_.push_back(AdjustmentChange{ElapsedUnitsLocked() / kUnitsPerMillisecond, adjustment, disabled});
    return true;
}

void VirtualClock::GetSystemTimeAdjustmentRange(std::uint32_t& lowest, std::uint32_t& highest) {
    const std::lock_guard<std::mutex> lock(mutex_);
    lowest = lowest_;
    highest = highest_;
}

bool VirtualClock::QueryPerformanceCounter(std::int64_t& count) {
    const std::lock_guard<std::mutex> lock(mutex_);
    count = counter_.Read(ElapsedUnitsLocked() * kNanosecondsPerUnit, model_.driftPpm());
    return true;
}

bool VirtualClock::QueryPerformanceFrequency(std::int64_t& frequency) {
    frequency = kNanosecondsPerSecond;
    return true;
}

void VirtualClock::Sleep(std::uint32_t milliseconds) {
    const SuspendableCall suspendable;  // a suspension point as the sleep begins and ends
    Advance(milliseconds);
}

void VirtualClock::Advance(std::uint64_t milliseconds) {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Compared in milliseconds, so that no step is multiplied beyond what a count holds.
    const auto room = static_cast<std::uint64_t>((kLatestCount - machineNow_) / kUnitsPerMillisecond);
    machineNow_ = milliseconds > room ? kLatestCount
                                      : machineNow_ + static_cast<std::int64_t>(milliseconds) * kUnitsPerMillisecond;
}

std::int64_t VirtualClock::ElapsedMilliseconds() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ElapsedUnitsLocked() / kUnitsPerMillisecond;
}

double VirtualClock::TrueErrorMilliseconds() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<double>(model_.TrueErrorAt(machineNow_)) / kUnitsPerMillisecond;
}

void VirtualClock::SetTrueErrorMilliseconds(double milliseconds) {
    const std::lock_guard<std::mutex> lock(mutex_);
    model_.SetTrueError(machineNow_, std::llround(milliseconds * kUnitsPerMillisecond));
}

bool VirtualClock::SetDriftPpm(double ppm) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return model_.SetDrift(machineNow_, ppm);
}

void VirtualClock::SetAcceptedRange(std::uint32_t lowest, std::uint32_t highest) {
    const std::lock_guard<std::mutex> lock(mutex_);
    lowest_ = lowest;
    highest_ = highest;
}

void VirtualClock::RefuseAdjustmentReads(std::uint32_t errorCode) {
    const std::lock_guard<std::mutex> lock(mutex_);
    readRefusal_ = errorCode;
}

void VirtualClock::RefuseChanges(std::uint32_t errorCode) {
    const std::lock_guard<std::mutex> lock(mutex_);
    refusal_ = errorCode;
}

void VirtualClock::SetLocalOffsetMinutes(int minutes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    localOffset_ = static_cast<std::int64_t>(minutes) * 60'000 * kUnitsPerMillisecond;
}

std::vector<VirtualClock::AdjustmentChange> VirtualClock::AdjustmentChanges() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
}

std::uint32_t VirtualClock::SetTimeCalls() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return setTimeCalls_;
}

}  // namespace kairovel::platform
