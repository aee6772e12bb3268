// The status display of the "status" switch: whether the service is
// installed, its state, and its stored configuration in short.
#pragma once

namespace kairovel {

// Prints the display to standard output. Loads the stored parameters into the
// configuration record on the way; raises what the calls it makes raise.
void ShowStatus();

}  // namespace kairovel
