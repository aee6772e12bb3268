// The once-only start-up and shut-down of the process's modules.
//
// The entry point runs ProcessStartup first thing and ProcessShutdown last;
// the console control handler may run ProcessShutdown too, on its own thread,
// at the same moment. Each runs at most once per process, whoever calls it.
#pragma once

namespace kairovel {

void ProcessStartup();
void ProcessShutdown();

}  // namespace kairovel
