// The immediate mode: one synchronisation pass from the command line, without the service.
#pragma once

namespace kairovel {

// Enables the right to set the clock, starts the TIME server, runs one pass
// and logs its result or the error that ended it; raises nothing. The time
// adjustment the pass set is put back as soon as the pass ends, so that a
// slew lasts for its correction window only, and the TIME server is ended
// before the program's exit can pull anything from under it.
void RunImmediate();

}  // namespace kairovel
