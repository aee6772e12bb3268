// Run-time settings of the platform layer, from the environment, so that the
// command line keeps exactly the program's own switches.
#pragma once

#include <filesystem>
#include <string>

namespace kairovel::platform {

// KAIROVEL_ROOT: the folder of the platform's own state (the simulated clock;
// on Linux also the registry database and the service manager). Default
// /var/lib/kairovel on Linux, %ProgramData%\Kairovel on Windows.
std::filesystem::path StateRoot();
// KAIROVEL_CLOCK: "system" (default: the machine's clock) or "simulated".
std::string ClockKind();

}  // namespace kairovel::platform
