#include "shell/process_lifecycle.h"

#include <mutex>

#include "sources/socket_layer.h"

namespace kairovel {
namespace {

// The start-up steps of the modules that keep process-wide state, in order:
// the socket layer (its lock for the start-up count), then the time base.
void StartModules() { InitializeSocketLayer(); }

// Their termination steps, in reverse order.
void TerminateModules() { TerminateSocketLayer(); }

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
