// The one question a remote source and the local clock both answer: what time is it?
#pragma once

#include "timebase/time_value.h"

namespace kairovel {

class TimeProvider {
public:
    virtual ~TimeProvider() = default;
    // Fills now with the provider's current time (through its Assign), or raises an error.
    virtual void GetTime(TimeValue& now) = 0;

protected:
    TimeProvider() = default;
    TimeProvider(const TimeProvider&) = default;
    TimeProvider& operator=(const TimeProvider&) = default;
};

}  // namespace kairovel
