// The machine's own clock as the clock facility (KAIROVEL_CLOCK=system):
// MachineClock of platform/clock.h, on Linux.
#pragma once

#include "platform/clock.h"
