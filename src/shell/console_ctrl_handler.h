// The console control handler of the command-line life (and of a service that logs to the console).
#pragma once

#include <cstdint>

namespace kairovel {

// For any console event (Ctrl+C, close, log-off, shut-down): puts back what
// the process changed, shuts the modules down and answers false, so that the
// system's default handling then ends the process.
bool ConsoleCtrlHandler(std::uint32_t ctrlType);

}  // namespace kairovel
