// System time, time adjustment, the performance counter and sleeping.
//
// The Windows calls the program uses to read and change the clock. Which clock
// they reach is chosen once per process (KAIROVEL_CLOCK): the machine's own, or
// a simulated one that tests can give a known error. Calls that fail return
// false and leave the Windows error code in the thread's last error.
#pragma once

#include <cstdint>

#include "platform/facility.h"
#include "platform/win_types.h"

namespace kairovel::platform {

class ClockFacility {
public:
    virtual ~ClockFacility() = default;

    virtual void GetSystemTime(SYSTEMTIME& utc) = 0;
    virtual void GetLocalTime(SYSTEMTIME& local) = 0;
    virtual bool SetSystemTime(const SYSTEMTIME& utc) = 0;

    // adjustment: 100-ns units added to the clock at each clock interrupt;
    // increment: the nominal value of that, the interrupt period;
    // disabled: the system keeps time by itself, the adjustment is not in force.
    virtual bool GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) = 0;
    virtual bool SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) = 0;

    virtual bool QueryPerformanceCounter(std::int64_t& count) = 0;
    virtual bool QueryPerformanceFrequency(std::int64_t& frequency) = 0;

    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

template <>
ClockFacility& DefaultFacility<ClockFacility>();

inline ClockFacility& Clock() { return Facility<ClockFacility>::Get(); }

}  // namespace kairovel::platform
