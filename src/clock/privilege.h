// Enabling the right to set the system clock before the program sets it.
#pragma once

namespace kairovel {

// Enables "SeSystemtimePrivilege" in the process's access token. Raises
// "Error %d from OpenProcessToken", "Error %d from LookupPrivilegeValue" or
// "Error %d from AdjustTokenPrivileges" when a step fails. A process that
// does not hold the privilege at all passes here; setting the clock then
// fails with its own message.
void EnableSystemTimePrivilege();

}  // namespace kairovel
