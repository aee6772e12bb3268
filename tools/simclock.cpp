// kairovel-simclock: sets the simulated clock and shows its true error.
//
// The simulated clock (KAIROVEL_CLOCK=simulated) keeps its state under
// KAIROVEL_ROOT; this tool gives it a known error and drift before a test
// starts the program, and reads afterwards what is left of the error.
//
//   kairovel-simclock show
//   kairovel-simclock set [--offset-ms <ms>] [--drift-ppm <ppm>]
//   kairovel-simclock reset
//
// show (and set, after its change) prints one "name value" line each:
// true_error_ms (simulated minus machine time, with microsecond decimals),
// drift_ppm, adjustment, increment and disabled (1 or 0), then whether the
// program said the clock is kept: synchronised (1 or 0), esterror_us and
// maxerror_us, as Linux's kernel would hold them.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/last_error.h"
#include "platform/sim/simulated_clock.h"

namespace {

using kairovel::platform::SimulatedClock;

constexpr int kUsageError = 2;

int Usage() {
    std::fputs(
        "usage: kairovel-simclock show\n"
        "       kairovel-simclock set [--offset-ms <ms>] [--drift-ppm <ppm>]\n"
        "       kairovel-simclock reset\n"
        "The state is KAIROVEL_ROOT/simulated-clock.state.\n",
        stderr);
    return kUsageError;
}

int Failed(const SimulatedClock& clock, const char* what) {
    const std::uint32_t error = kairovel::platform::GetLastError();
    const std::string problem = clock.StateProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "kairovel-simclock: %s failed: the state %s\n", what, problem.c_str());
    } else {
        std::fprintf(stderr, "kairovel-simclock: %s failed with error %u (%s)\n", what, error,
                     SimulatedClock::DefaultStateFile().string().c_str());
    }
    return 1;
}

std::optional<double> Number(const char* text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value)) return std::nullopt;
    return value;
}

int Show(SimulatedClock& clock) {
    SimulatedClock::Reading reading;
    if (!clock.Read(reading)) return Failed(clock, "reading the simulated clock");
    std::printf("true_error_ms %.3f\ndrift_ppm %.3f\nadjustment %u\nincrement %u\ndisabled %d\n"
                "synchronised %d\nesterror_us %u\nmaxerror_us %u\n",
                reading.trueErrorMilliseconds, reading.driftPpm, reading.adjustment, reading.increment,
                reading.disabled ? 1 : 0, reading.synchronised ? 1 : 0, reading.estimatedErrorMicroseconds,
                reading.maximumErrorMicroseconds);
    return 0;
}

int Set(SimulatedClock& clock, int argc, char** argv) {
    std::optional<double> offset;
    std::optional<double> drift;
    for (int i = 2; i < argc; i += 2) {
        const std::string_view name = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::optional<double> value = Number(argv[i + 1]);
        if (!value) {
            std::fprintf(stderr, "kairovel-simclock: %s is not a number\n", argv[i + 1]);
            return kUsageError;
        }
        if (name == "--offset-ms") offset = value;
        else if (name == "--drift-ppm") drift = value;
        else return Usage();
    }
    if (!offset && !drift) return Usage();
    if (!clock.Configure(offset, drift)) return Failed(clock, "setting the simulated clock");
    return Show(clock);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    SimulatedClock clock(SimulatedClock::DefaultStateFile());
    const std::string_view command = argv[1];
    if (command == "show" && argc == 2) return Show(clock);
    if (command == "set") return Set(clock, argc, argv);
    if (command == "reset" && argc == 2) return clock.Reset() ? 0 : Failed(clock, "resetting the simulated clock");
    return Usage();
}
