// kairovel-sc on Windows: the machine starts and stops its services itself,
// so boot and shutdown are no commands here.
#include "sc_commands.h"

namespace kairovel::sc {

bool IsMachineEvent(std::string_view) { return false; }

int RunMachineEvent(std::string_view, platform::SC_HANDLE) { return 0; }

}  // namespace kairovel::sc
