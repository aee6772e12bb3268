// Closed-loop simulation of the service's clock discipline in virtual time.
//
// The real synchronisation pass (acquisition, selection, decision, the local
// clock's slew and drift compensation) runs in service mode, once per period,
// on a virtual clock with a known drift, against an ideal source: it answers
// at once (delay 0) with the true time, quantised to the millisecond. Thirty
// simulated days take seconds.
//
// For each drift (10, 50, 200 ppm) and period (1 h, 8 h) it prints the true
// error at the end of each period (just before the next pass), then a table:
// the largest error after day 3, the base adjustment the discipline ended
// with beside the one that cancels the drift exactly, and the day from which
// the base stays within 1 ppm of it.
//
// Usage: sync_closed_loop_bench [--summary]   (--summary: the table only)
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "clock/local_clock.h"
#include "config/configuration.h"
#include "platform/process.h"
#include "platform/sim/clock_model.h"
#include "platform/sim/virtual_clock.h"
#include "sources/source_factory.h"
#include "sync/active_sources.h"
#include "sync/decision.h"
#include "sync/selection.h"

namespace {

using kairovel::platform::VirtualClock;

constexpr std::int64_t kMillisecondsPerSecond = 1000;
constexpr std::int64_t kMillisecondsPerDay = 86'400 * kMillisecondsPerSecond;
constexpr int kSimulatedDays = 30;
constexpr int kSettlingDays = 3;
constexpr double kInitialErrorMilliseconds = 250.0;
constexpr double kConvergedPpm = 1.0;  // the base counts as converged within this of the ideal one
constexpr std::int64_t kUnitsPerMillisecond = 10'000;

// The ideal source: the virtual machine time is the true time.
class IdealSource final : public kairovel::TimeSource {
public:
    explicit IdealSource(const VirtualClock& clock) : clock_(clock) {}
    void GetTime(kairovel::TimeValue& now) override {
        const std::int64_t trueTime = VirtualClock::kDefaultStart + clock_.ElapsedMilliseconds() * kUnitsPerMillisecond;
        now.Assign(kairovel::TimeValue(kairovel::platform::CalendarOfReading(trueTime)));
        SetDelayMilliseconds(0);
    }

private:
    const VirtualClock& clock_;
};

class IdealSourceFactory final : public kairovel::SourceFactory {
public:
    explicit IdealSourceFactory(const VirtualClock& clock) : clock_(clock) {}
    std::unique_ptr<kairovel::TimeSource> CreateSource(kairovel::SourceKind, const std::wstring&) override {
        return std::make_unique<IdealSource>(clock_);
    }

private:
    const VirtualClock& clock_;
};

// The working set calls of the pass have nothing to give back here.
class IdleProcess final : public kairovel::platform::ProcessFacility {
public:
    std::wstring GetModuleFileNameW() override { return L"sync_closed_loop_bench"; }
    std::wstring GetCommandLineW() override { return L"sync_closed_loop_bench"; }
    bool SetPriorityClass(std::uint32_t) override { return true; }
    bool SetProcessWorkingSetSize(std::size_t, std::size_t) override { return true; }
};

struct Outcome {
    double driftPpm = 0;
    std::uint32_t periodSeconds = 0;
    std::vector<double> errors;  // ms, at the end of each period
    double worstAfterSettling = 0;
    double finalBase = 0;
    double idealBase = 0;
    double convergedDay = -1;  // the base stays within 1 ppm of the ideal from this day on; -1: never
    int failedPasses = 0;
};

Outcome Simulate(double driftPpm, std::uint32_t periodSeconds) {
    Outcome outcome;
    outcome.driftPpm = driftPpm;
    outcome.periodSeconds = periodSeconds;
    outcome.idealBase = kairovel::platform::SimulatedClockModel::kNominalIncrement / (1.0 + driftPpm * 1e-6);

    VirtualClock clock;
    clock.SetDriftPpm(driftPpm);
    clock.SetTrueErrorMilliseconds(kInitialErrorMilliseconds);
    const kairovel::platform::ScopedFacility<kairovel::platform::ClockFacility> useClock(clock);
    IdealSourceFactory factory(clock);
    const kairovel::ScopedSourceFactory useSources(factory);
    IdleProcess process;
    const kairovel::platform::ScopedFacility<kairovel::platform::ProcessFacility> useProcess(process);

    kairovel::Configuration& configuration = kairovel::TheConfiguration();
    configuration = kairovel::Configuration{};
    configuration.NumberOfTimeSources = 1;
    configuration.SourceName[0] = L"N,ideal";
    configuration.Period = periodSeconds;
    kairovel::ActiveSources() = kairovel::ActiveSourceTable{};
    kairovel::SelectionCountdown() = 0;

    kairovel::LocalClockState state;
    kairovel::LocalClock local(state);
    const std::int64_t periodMilliseconds = std::int64_t{periodSeconds} * kMillisecondsPerSecond;
    std::vector<double> bases;
    for (std::int64_t start = 0; start + periodMilliseconds <= kSimulatedDays * kMillisecondsPerDay;
         start += periodMilliseconds) {
        try {
            std::wstring result;
            kairovel::SynchronizeOnce(result, local);
        } catch (const std::wstring&) {
            ++outcome.failedPasses;
        }
        const std::int64_t end = start + periodMilliseconds;
        if (clock.ElapsedMilliseconds() < end) clock.Advance(static_cast<std::uint64_t>(end - clock.ElapsedMilliseconds()));
        const double error = clock.TrueErrorMilliseconds();
        outcome.errors.push_back(error);
        if (end > kSettlingDays * kMillisecondsPerDay) {
            outcome.worstAfterSettling = std::max(outcome.worstAfterSettling, std::fabs(error));
        }
        bases.push_back(state.ClockAdjust);
    }
    outcome.finalBase = state.ClockAdjust;
    // The first period from which the base never again strays more than 1 ppm from the ideal one.
    const double tolerance = outcome.idealBase * kConvergedPpm * 1e-6;
    std::size_t from = bases.size();
    while (from > 0 && std::fabs(bases[from - 1] - outcome.idealBase) <= tolerance) --from;
    if (from < bases.size()) {
        outcome.convergedDay = static_cast<double>(from) * periodSeconds / 86'400.0;
    }
    configuration = kairovel::Configuration{};
    return outcome;
}

void PrintSeries(const Outcome& outcome) {
    std::printf("drift %.0f ppm, period %u h: true error (ms) at the end of each period\n", outcome.driftPpm,
                outcome.periodSeconds / 3600);
    constexpr std::size_t kPerLine = 12;
    for (std::size_t i = 0; i < outcome.errors.size(); ++i) {
        std::printf("%8.3f%s", outcome.errors[i], (i + 1) % kPerLine == 0 || i + 1 == outcome.errors.size() ? "\n" : " ");
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const bool summaryOnly = argc > 1 && std::strcmp(argv[1], "--summary") == 0;
    std::vector<Outcome> outcomes;
    for (const double drift : {10.0, 50.0, 200.0}) {
        for (const std::uint32_t period : {3600u, 28800u}) {
            outcomes.push_back(Simulate(drift, period));
            if (!summaryOnly) PrintSeries(outcomes.back());
        }
    }
    std::printf("Closed loop, %d simulated days, ideal source (delay 0, 1 ms resolution), initial error %+.0f ms\n",
                kSimulatedDays, kInitialErrorMilliseconds);
    std::printf("%-7s %-7s %-18s %-16s %-14s %-14s %-20s %s\n", "drift", "period", "max |error| day>3",
                "error at end", "final base", "ideal base", "base within 1 ppm", "failed");
    for (const Outcome& o : outcomes) {
        char converged[32];
        if (o.convergedDay < 0) std::snprintf(converged, sizeof converged, "never");
        else std::snprintf(converged, sizeof converged, "from day %.2f", o.convergedDay);
        std::printf("%-7s %-7s %-18s %-16s %-14.3f %-14.3f %-20s %d\n", (std::to_string(static_cast<int>(o.driftPpm)) + " ppm").c_str(),
                    (std::to_string(o.periodSeconds / 3600) + " h").c_str(),
                    (std::to_string(o.worstAfterSettling).substr(0, 8) + " ms").c_str(),
                    (std::to_string(o.errors.back()).substr(0, 8) + " ms").c_str(), o.finalBase, o.idealBase,
                    converged, o.failedPasses);
    }
    return 0;
}
