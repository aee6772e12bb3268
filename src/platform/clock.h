// System time, time adjustment, the performance counter and sleeping
// (platform/interface/clock.h), with the error codes of the calls.
#pragma once

#include "platform/interface/clock.h"
#include "platform/win_types.h"
