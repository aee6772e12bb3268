// The process's clock, chosen once from KAIROVEL_CLOCK: the machine's own
// (each system's backend defines MachineClock) or the simulated one.
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/settings.h"
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
        std::fputs(warning.c_str(), stderr);
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
