// What the parts of kairovel-sc share: its output and the machine's events.
#pragma once

#include <string>
#include <string_view>

#include "platform/service_manager.h"

namespace kairovel::sc {

// Writes text on standard output in the narrow code page.
void Print(const std::wstring& text);
// Reports the failure of function with the last error, as the Windows
// command does; the code, which the command exits with.
int Failed(std::wstring_view function);

// Whether word names a machine event ("boot", "shutdown"), which only the
// Linux stand-in needs a command for (sc_machine_events.cpp).
bool IsMachineEvent(std::string_view word);
int RunMachineEvent(std::string_view word, platform::SC_HANDLE manager);

}  // namespace kairovel::sc
