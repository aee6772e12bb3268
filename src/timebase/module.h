// The time base's module start and end.
//
// The time base keeps no process-wide state of its own; its start and end
// steps exist so that the program's start-up and shutdown run the same steps
// for every module, in a fixed order. Each runs once however often it is called.
#pragma once

namespace kairovel {

void InitializeTimeBase();
void TerminateTimeBase();

}  // namespace kairovel
