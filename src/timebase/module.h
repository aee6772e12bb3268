// The time base's module start and end.
//
// The time base keeps no process-wide state of its own, so its start and end
// steps have nothing to do; they exist so that the program's start-up and
// shutdown run the same steps for every module, in a fixed order (the socket
// layer's once-only steps run them).
#pragma once

namespace kairovel {

void InitializeTimeBase();
void TerminateTimeBase();

}  // namespace kairovel
