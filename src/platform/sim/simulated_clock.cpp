#include "platform/sim/simulated_clock.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/calendar.h"
#include "platform/last_error.h"
#include "platform/sim/machine_time.h"
#include "platform/settings.h"
#include "platform/threads.h"

namespace kairovel::platform {
namespace {

constexpr auto kUnitsPerMillisecond = static_cast<std::int64_t>(kFileTimeUnitsPerMillisecond);
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// The exit code of a process whose simulated clock has no state it can use.
constexpr int kRefusedStateExitCode = 1;

}  // namespace

std::filesystem::path SimulatedClock::DefaultStateFile() { return StateRoot() / "simulated-clock.state"; }

SimulatedClock::SimulatedClock(std::filesystem::path stateFile)
    : file_(stateFile), record_(std::filesystem::path(stateFile).replace_extension(".startup")) {}

bool SimulatedClock::Load(std::int64_t machineNow, SimulatedClockModel& model, std::string& problem) const {
    std::optional<std::string> content;
    if (!file_.Read(content, problem)) {
        if (problem.empty()) problem = "it cannot be read (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (!content) {
        model = SimulatedClockModel(machineNow);
        return true;
    }
    std::optional<SimulatedClockModel> parsed = SimulatedClockModel::Parse(*content, problem);
    if (!parsed) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    model = *parsed;
    return true;
}

bool SimulatedClock::Load(std::int64_t machineNow, SimulatedClockModel& model) const {
    std::string ignored;
    return Load(machineNow, model, ignored);
}

SimulatedClockModel SimulatedClock::LoadOrEnd(std::int64_t machineNow) const {
    SimulatedClockModel model(machineNow);
    std::string problem;
    if (!Load(machineNow, model, problem)) {
        const std::string message =
            "The simulated clock's state " + file_.path().string() + " is refused: " + problem + "\n";
        std::fputs(message.c_str(), stderr);
        std::_Exit(kRefusedStateExitCode);
    }
    return model;
}

std::string SimulatedClock::StateProblem() const {
    const LastErrorKeeper keeper;
    SimulatedClockModel model;
    std::string problem;
    if (Load(MachineUtcCount(), model, problem)) return {};
    return file_.path().string() + ": " + problem;
}

bool SimulatedClock::Change(const std::function<bool(std::int64_t machineNow, SimulatedClockModel& model)>& change) {
    bool changed = false;
    const bool updated = file_.Update([&](std::optional<std::string>& content) {
        const std::int64_t machineNow = MachineUtcCount();
        SimulatedClockModel model(machineNow);
        if (content) {
            std::optional<SimulatedClockModel> parsed = SimulatedClockModel::Parse(*content);
            if (!parsed) {  // never overwrite what this code did not write; Reset clears it
                SetLastError(ERROR_INVALID_DATA);
                return false;
            }
            model = *parsed;
        }
        if (!change(machineNow, model)) return false;
        content = model.Serialize();
        changed = true;
        return true;
    });
    return updated && changed;
}

void SimulatedClock::GetSystemTime(SYSTEMTIME& utc) {
    const LastErrorKeeper keeper;
    const std::int64_t now = MachineUtcCount();
    utc = CalendarOfReading(LoadOrEnd(now).ClockAt(now));
}

void SimulatedClock::GetLocalTime(SYSTEMTIME& local) {
    const LastErrorKeeper keeper;
    const std::int64_t now = MachineUtcCount();
    local = LocalCalendarOfUtcCount(LoadOrEnd(now).ClockAt(now));
}

bool SimulatedClock::SetSystemTime(const SYSTEMTIME& utc) {
    FILETIME target;
    if (!SystemTimeToFileTime(utc, target)) return false;
    return Change([&](std::int64_t machineNow, SimulatedClockModel& model) {
        model.Step(machineNow, static_cast<std::int64_t>(FileTimeCount(target)));
        return true;
    });
}

bool SimulatedClock::GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) {
    SimulatedClockModel model;
    if (!Load(MachineUtcCount(), model)) return false;
    adjustment = model.adjustment();
    increment = model.increment();
    disabled = model.disabled();
    return true;
}

bool SimulatedClock::SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) {
    return record_.Set(
        adjustment, disabled,
        [this](std::uint32_t& current, bool& currentDisabled) {
            std::uint32_t increment = 0;
            return GetSystemTimeAdjustment(current, increment, currentDisabled);
        },
        [this](std::uint32_t value, bool valueDisabled) { return SetAdjustment(value, valueDisabled); });
}

bool SimulatedClock::RestoreAbandonedAdjustment(std::wstring& restored) {
    return record_.RestoreAbandoned(
        [this](std::uint32_t value, bool valueDisabled) { return SetAdjustment(value, valueDisabled); }, restored);
}

bool SimulatedClock::SetAdjustment(std::uint32_t adjustment, bool disabled) {
    return Change([&](std::int64_t machineNow, SimulatedClockModel& model) {
        model.SetAdjustment(machineNow, adjustment, disabled);
        return true;
    });
}

bool SimulatedClock::QueryPerformanceCounter(std::int64_t& count) {
    const LastErrorKeeper keeper;
    const double drift = LoadOrEnd(MachineUtcCount()).driftPpm();
    const std::lock_guard<std::mutex> lock(counterMutex_);
    count = counter_.Read(MachineRawNanoseconds(), drift);
    return true;
}

bool SimulatedClock::QueryPerformanceFrequency(std::int64_t& frequency) {
    frequency = kNanosecondsPerSecond;
    return true;
}

void SimulatedClock::Sleep(std::uint32_t milliseconds) {
    const SuspendableCall suspendable;  // a suspension point as the sleep begins and ends
    SleepOnMachineClock(milliseconds);
}

bool SimulatedClock::Read(Reading& out) const {
    const std::int64_t now = MachineUtcCount();
    SimulatedClockModel model;
    if (!Load(now, model)) return false;
    out.trueErrorMilliseconds = static_cast<double>(model.TrueErrorAt(now)) / kUnitsPerMillisecond;
    out.driftPpm = model.driftPpm();
    out.adjustment = model.adjustment();
    out.increment = model.increment();
    out.disabled = model.disabled();
    out.synchronised = model.synchronised();
    out.estimatedErrorMicroseconds = model.estimatedErrorMicroseconds();
    out.maximumErrorMicroseconds = model.maximumErrorMicroseconds();
    return true;
}

bool SimulatedClock::SetSynchronisedStatus(bool synchronised, std::uint32_t estimatedErrorMicroseconds,
                                           std::uint32_t maximumErrorMicroseconds) {
    return Change([&](std::int64_t, SimulatedClockModel& model) {
        model.SetSynchronisation(synchronised, estimatedErrorMicroseconds, maximumErrorMicroseconds);
        return true;
    });
}

bool SimulatedClock::Configure(std::optional<double> trueErrorMilliseconds, std::optional<double> driftPpm) {
    constexpr double kLargestErrorMilliseconds = 100.0 * 365 * 86'400'000;  // a century
    const bool errorValid = !trueErrorMilliseconds || std::fabs(*trueErrorMilliseconds) <= kLargestErrorMilliseconds;
    const bool driftValid = !driftPpm || std::fabs(*driftPpm) <= SimulatedClockModel::kLargestDriftPpm;
    if (!errorValid || !driftValid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return Change([&](std::int64_t machineNow, SimulatedClockModel& model) {
        if (driftPpm) model.SetDrift(machineNow, *driftPpm);
        if (trueErrorMilliseconds) model.SetTrueError(machineNow, std::llround(*trueErrorMilliseconds * kUnitsPerMillisecond));
        return true;
    });
}

bool SimulatedClock::Reset() {
    record_.ForgetAbandoned();
    return file_.Remove();
}

}  // namespace kairovel::platform
