// The state of the installed service, as text for the status display and the
// parameter listing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kairovel {

// The text of a service state ("Kairovel is running", ...; "Unknown status" for any other number).
std::wstring_view ServiceStateText(std::uint32_t state);

// Asks the control manager for the service's current state and returns its
// text. Raises "OpenService failed (0x%02x)" or "QueryServiceStatus failed
// (0x%02x)" with the manager's error code.
std::wstring ServiceStatusText();

// The text of the service's state when the control manager has its entry;
// empty when it has none or cannot say. Raises nothing.
std::wstring ServiceEntryState();

}  // namespace kairovel
