#include "shell/process_lifecycle.h"

#include <mutex>

namespace kairovel {
namespace {

// The start-up steps of the modules that keep process-wide state, in order
// (the socket layer's lock for its start-up count is created here).
void StartModules() {}

// Their termination steps, in reverse order (the socket layer's lock is deleted here).
void TerminateModules() {}

}  // namespace

void ProcessStartup() {
    static std::once_flag once;
    std::call_once(once, StartModules);
}

void ProcessShutdown() {
    static std::once_flag once;
    std::call_once(once, TerminateModules);
}

}  // namespace kairovel
