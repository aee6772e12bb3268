// The process's clock, chosen once from KAIROVEL_CLOCK.
#include <unistd.h>

#include <string>

#include "platform/clock.h"
#include "platform/posix/settings.h"
#include "platform/posix/system_clock.h"
#include "platform/sim/simulated_clock.h"

namespace kairovel::platform {
namespace {

// Never destroyed: worker threads (the TIME server's) read the clock until
// the process has ended, after the static objects are gone.
ClockFacility& SimulatedClockOfThisProcess() {
    static SimulatedClock& clock = *new SimulatedClock(SimulatedClock::DefaultStateFile());
    return clock;
}

ClockFacility& ChooseClock() {
    const std::string kind = ClockKind();
    if (kind == "system") return MachineClock();
    if (kind != "simulated") {
        // A misspelt setting must not reach the real clock: it was meant to keep the program away from it.
        const std::string warning = "KAIROVEL_CLOCK=" + kind + " is neither system nor simulated; using the simulated clock\n";
        [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, warning.data(), warning.size());
    }
    return SimulatedClockOfThisProcess();
}

}  // namespace

template <>
ClockFacility& DefaultFacility<ClockFacility>() {
    static ClockFacility& chosen = ChooseClock();
    return chosen;
}

}  // namespace kairovel::platform
