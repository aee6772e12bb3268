#include "platform/sim/clock_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>

#include "platform/calendar.h"

namespace kairovel::platform {
namespace {

constexpr double kPartsPerMillion = 1e-6;
constexpr std::string_view kHeader = "kairovel-simulated-clock 1";
constexpr std::string_view kFieldNames[] = {"machine", "clock", "drift_ppm", "increment", "adjustment", "disabled"};
constexpr std::string_view kSynchronisationFieldNames[] = {"synchronised", "esterror_us", "maxerror_us"};

// elapsed x factor, rounded and held far inside what an int64 count holds
// (4e18 units are 12,000 years: no meaningful clock gets there).
std::int64_t Scaled(std::int64_t elapsed, double factor) {
    constexpr double kLimit = 4.0e18;
    const double value = std::round(static_cast<double>(elapsed) * factor);
    if (std::isnan(value)) return 0;
    return static_cast<std::int64_t>(std::clamp(value, -kLimit, kLimit));
}

constexpr std::int64_t kLargestCount = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kSmallestCount = std::numeric_limits<std::int64_t>::min();

// a + b and a - b, held at the end of the range of a count that they would run past.
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? kLargestCount : kSmallestCount;
}
std::int64_t SaturatingSubtract(std::int64_t a, std::int64_t b) {
    std::int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? kLargestCount : kSmallestCount;
}

template <class T>
bool ParseNumber(std::string_view text, T& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

template <class T>
void AppendLine(std::string& text, std::string_view name, T value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    text.append(name).append(" ").append(buffer, error == std::errc() ? end : buffer).append("\n");
}

}  // namespace

SYSTEMTIME CalendarOfReading(std::int64_t count) {
    SYSTEMTIME out;
    FileTimeToSystemTime(FileTimeFromCount(static_cast<std::uint64_t>(count < 0 ? 0 : count)), out);
    return out;
}

SimulatedClockModel::SimulatedClockModel(std::int64_t machineNow)
    : machineAtReference_(machineNow), clockAtReference_(machineNow) {}

double SimulatedClockModel::Rate() const {
    const double oscillator = 1.0 + driftPpm_ * kPartsPerMillion;
    if (disabled_) return oscillator;
    return oscillator * static_cast<double>(adjustment_) / static_cast<double>(increment_);
}

std::int64_t SimulatedClockModel::ClockAt(std::int64_t machineNow) const {
    const std::int64_t elapsed = SaturatingSubtract(machineNow, machineAtReference_);
    // The elapsed machine time, plus what the rate adds or takes: exact for rate 1.
    return SaturatingAdd(SaturatingAdd(clockAtReference_, elapsed), Scaled(elapsed, Rate() - 1.0));
}

std::int64_t SimulatedClockModel::TrueErrorAt(std::int64_t machineNow) const {
    return SaturatingSubtract(ClockAt(machineNow), machineNow);
}

void SimulatedClockModel::MoveReferenceTo(std::int64_t machineNow) {
    clockAtReference_ = ClockAt(machineNow);
    machineAtReference_ = machineNow;
}

void SimulatedClockModel::Step(std::int64_t machineNow, std::int64_t clockValue) {
    machineAtReference_ = machineNow;
    clockAtReference_ = clockValue;
}

void SimulatedClockModel::SetAdjustment(std::int64_t machineNow, std::uint32_t adjustment, bool disabled) {
    MoveReferenceTo(machineNow);
    disabled_ = disabled;
    if (!disabled) adjustment_ = adjustment;
}

void SimulatedClockModel::SetTrueError(std::int64_t machineNow, std::int64_t error) {
    Step(machineNow, SaturatingAdd(machineNow, error));
}

bool SimulatedClockModel::SetDrift(std::int64_t machineNow, double ppm) {
    if (!(std::fabs(ppm) <= kLargestDriftPpm)) return false;
    MoveReferenceTo(machineNow);
    driftPpm_ = ppm;
    return true;
}

std::string SimulatedClockModel::Serialize() const {
    std::string text(kHeader);
    text += "\n";
    AppendLine(text, "machine", machineAtReference_);
    AppendLine(text, "clock", clockAtReference_);
    AppendLine(text, "drift_ppm", driftPpm_);
    AppendLine(text, "increment", increment_);
    AppendLine(text, "adjustment", adjustment_);
    AppendLine(text, "disabled", disabled_ ? 1 : 0);
    AppendLine(text, "synchronised", synchronised_ ? 1 : 0);
    AppendLine(text, "esterror_us", estimatedErrorMicroseconds_);
    AppendLine(text, "maxerror_us", maximumErrorMicroseconds_);
    return text;
}

void SimulatedClockModel::SetSynchronisation(bool synchronised, std::uint32_t estimatedMicroseconds,
                                             std::uint32_t maximumMicroseconds) {
    synchronised_ = synchronised;
    estimatedErrorMicroseconds_ = synchronised ? estimatedMicroseconds : kUnsynchronisedErrorMicroseconds;
    maximumErrorMicroseconds_ = synchronised ? maximumMicroseconds : kUnsynchronisedErrorMicroseconds;
}

std::optional<SimulatedClockModel> SimulatedClockModel::Parse(std::string_view text) {
    std::string ignored;
    return Parse(text, ignored);
}

std::optional<SimulatedClockModel> SimulatedClockModel::Parse(std::string_view text, std::string& problem) {
    const auto refuse = [&problem](std::string why) -> std::optional<SimulatedClockModel> {
        problem = std::move(why);
        return std::nullopt;
    };
    if (text.size() > kLargestStateBytes) return refuse("it is larger than any state of a simulated clock");
    std::map<std::string_view, std::string_view> fields;
    bool headerSeen = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!headerSeen) {
            if (line != kHeader) return refuse("its first line is not \"" + std::string(kHeader) + "\"");
            headerSeen = true;
            continue;
        }
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) return refuse("a line is not \"<name> <value>\"");
        const std::string_view name = line.substr(0, blank);
        if (std::find(std::begin(kFieldNames), std::end(kFieldNames), name) == std::end(kFieldNames) &&
            std::find(std::begin(kSynchronisationFieldNames), std::end(kSynchronisationFieldNames), name) ==
                std::end(kSynchronisationFieldNames)) {
            return refuse("it has an unknown field");
        }
        if (!fields.emplace(name, line.substr(blank + 1)).second) return refuse(std::string(name) + " is given twice");
    }
    if (!headerSeen) return refuse("it is empty");
    for (const std::string_view name : kFieldNames) {
        if (!fields.contains(name)) return refuse(std::string(name) + " is missing");
    }

    // Each field is a number of its type, within the range this model ever writes.
    SimulatedClockModel model;
    int disabled = 0;
    const auto bad = [&](std::string_view name) { return refuse(std::string(name) + " is out of range"); };
    // Counts are FILETIME counts as Windows converts them: 0 (1601) to 2^63 - 1.
    if (!ParseNumber(fields["machine"], model.machineAtReference_) || model.machineAtReference_ < 0) {
        return bad("machine");
    }
    if (!ParseNumber(fields["clock"], model.clockAtReference_) || model.clockAtReference_ < 0) return bad("clock");
    // fabs(NaN) <= limit is false: NaN and the infinities are refused with the rest.
    if (!ParseNumber(fields["drift_ppm"], model.driftPpm_) || !(std::fabs(model.driftPpm_) <= kLargestDriftPpm)) {
        return bad("drift_ppm");
    }
    // The increment is the clocks' one interrupt period; no other was ever written.
    if (!ParseNumber(fields["increment"], model.increment_) || model.increment_ != kNominalIncrement) {
        return bad("increment");
    }
    // Any 32-bit adjustment is one that SetSystemTimeAdjustment takes.
    if (!ParseNumber(fields["adjustment"], model.adjustment_)) return bad("adjustment");
    if (!ParseNumber(fields["disabled"], disabled) || (disabled != 0 && disabled != 1)) return bad("disabled");
    model.disabled_ = disabled == 1;
    const int given = static_cast<int>(std::count_if(std::begin(kSynchronisationFieldNames),
                                                     std::end(kSynchronisationFieldNames),
                                                     [&](std::string_view name) { return fields.contains(name); }));
    if (given == 3) {
        int synchronised = 0;
        if (!ParseNumber(fields["synchronised"], synchronised) || (synchronised != 0 && synchronised != 1)) {
            return bad("synchronised");
        }
        if (!ParseNumber(fields["esterror_us"], model.estimatedErrorMicroseconds_)) return bad("esterror_us");
        if (!ParseNumber(fields["maxerror_us"], model.maximumErrorMicroseconds_)) return bad("maxerror_us");
        model.synchronised_ = synchronised == 1;
    } else if (given != 0) {
        return refuse("synchronised, esterror_us and maxerror_us come together");
    }
    problem.clear();
    return model;
}

std::int64_t DriftingCounter::Read(std::int64_t rawNanoseconds, double driftPpm) {
    const auto countAt = [this](std::int64_t raw) {
        const std::int64_t elapsed = raw - rawAtBase_;
        return countAtBase_ + elapsed + Scaled(elapsed, driftPpm_ * kPartsPerMillion);
    };
    if (!started_) {
        started_ = true;
        rawAtBase_ = rawNanoseconds;
        countAtBase_ = rawNanoseconds;
        driftPpm_ = driftPpm;
    } else if (driftPpm != driftPpm_) {
        countAtBase_ = countAt(rawNanoseconds);
        rawAtBase_ = rawNanoseconds;
        driftPpm_ = driftPpm;
    }
    return countAt(rawNanoseconds);
}

}  // namespace kairovel::platform
