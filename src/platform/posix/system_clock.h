// The machine's own clock as the clock facility (KAIROVEL_CLOCK=system).
#pragma once

#include "platform/clock.h"

namespace kairovel::platform {

ClockFacility& MachineClock();

}  // namespace kairovel::platform
