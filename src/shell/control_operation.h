// The operations of the "control" switch: start and stop the service, list
// its stored parameters, or test the configured sources.
#pragma once

namespace kairovel {

// Performs the configured ControlOperation (compared without regard to case);
// prints "No control operation specified" for any other. Raises what
// ManageService raises.
void RunControlOperation();

}  // namespace kairovel
