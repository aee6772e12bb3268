// The service life's entry: handing the control manager the service table.
//
// Started without arguments, the program hands the control manager a table
// with its one service and blocks until the service has stopped. When the
// control manager cannot be reached, the failure is logged and the program ends.
#pragma once

#include <cstdint>
#include <string_view>

namespace kairovel {

// Runs the service under the control manager; returns when it has stopped.
void StartDispatcher();

// Logs why the service stops, with the system's last error code, and sets the stop event.
void StopServiceWithError(std::wstring_view text);

// The service's main function, run by the dispatcher with the start parameters.
void ServiceMain(std::uint32_t argumentCount, wchar_t** arguments);

}  // namespace kairovel
