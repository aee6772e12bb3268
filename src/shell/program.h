// Where the running program lives: its executable, as the control manager and
// the event log are told it.
#pragma once

#include <string>

namespace kairovel {

// The full path of the running executable, set by the entry point once the
// command line has been parsed; registered with the control manager and the event log.
std::wstring& ProgramPath();

}  // namespace kairovel
