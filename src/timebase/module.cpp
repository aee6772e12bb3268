#include "timebase/module.h"

namespace kairovel {

void InitializeTimeBase() {}

void TerminateTimeBase() {}

}  // namespace kairovel
