// The run modes of the command-line life and the order in which they are tried.
//
// Exactly one mode runs: the first of help, status, control, immediate,
// install and remove whose switch was given; with none of them the program
// refuses with "must specify either /install or /remove".
#pragma once

namespace kairovel {

// Runs the mode that TheConfiguration() asks for. Errors are raised; refusals are logged.
void RunChosenMode();

}  // namespace kairovel
