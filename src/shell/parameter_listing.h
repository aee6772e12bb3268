// The listing of the installed service's stored configuration (the
// "parameters" control operation).
#pragma once

namespace kairovel {

// Prints the stored configuration on the console: whether the service is
// installed, its state, and each stored value. Loads the stored parameters
// into the configuration record on the way.
void ListConfiguredParameters();

}  // namespace kairovel
