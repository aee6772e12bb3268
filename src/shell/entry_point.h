// The entry point: the program's two lives.
//
// Without arguments the program is the service, run by the control manager.
// With arguments it is a command-line tool: the arguments are parsed into the
// configuration and exactly one run mode follows.
#pragma once

namespace kairovel {

// Returns the process's exit code: 1 in the service life; in the command-line
// life 0, or 1 when an error was raised.
int EntryPoint(int argumentCount, const wchar_t* const* arguments);

}  // namespace kairovel
