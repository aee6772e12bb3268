// The install and remove switches: the installation sequence and the removal.
#pragma once

namespace kairovel {

// Stores the configuration of this command line as the service's parameters
// and starts the service, creating its entry on a first installation and
// stopping the running service first on a reinstallation. Logs "Service
// installed and running" (or "reinstalled"). Raises the first error; a
// reinstallation that cannot store the new parameters puts the previous ones
// back and starts the service with them before it raises, and a first
// installation that fails takes back what it did.
void InstallService();

// Stops and deletes the service entry and its stored parameters, then logs
// "Service stopped and removed". Errors of each step are logged; raises nothing.
void RemoveService();

}  // namespace kairovel
