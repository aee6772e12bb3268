// The immediate mode: one synchronisation pass from the command line, without the service.
#pragma once

namespace kairovel {

// Starts the TIME server on a thread of its own. Nothing waits for the thread
// or stops it: it serves until its socket fails or the process ends.
void StartTimeServerThread();

// Enables the right to set the clock, starts the TIME server, runs one pass
// and logs its result or the error that ended it; raises nothing. The time
// adjustment the pass set is put back as soon as the pass ends, so that a
// slew lasts for its correction window only.
void RunImmediate();

}  // namespace kairovel
