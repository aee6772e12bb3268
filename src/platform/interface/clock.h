// System time, time adjustment, the performance counter and sleeping.
//
// The Windows calls the program uses to read and change the clock. Which clock
// they reach is chosen once per process (KAIROVEL_CLOCK): the machine's own, or
// a simulated one that tests can give a known error; tests may also put a
// virtual clock in place for their scope (platform/sim/virtual_clock.h).
// Calls that fail return false and leave the Windows error code in the
// thread's last error.
//
// The Windows backend includes this one beside windows.h; platform/clock.h is
// the same facility with the codes it fails with.
#pragma once

#include <cstdint>
#include <string>

#include "platform/facility.h"
#include "platform/interface/win_types.h"

namespace kairovel::platform {

class ClockFacility {
public:
    virtual ~ClockFacility() = default;

    virtual void GetSystemTime(SYSTEMTIME& utc) = 0;
    virtual void GetLocalTime(SYSTEMTIME& local) = 0;
    // Fails with ERROR_INVALID_PARAMETER for an impossible record and
    // ERROR_PRIVILEGE_NOT_HELD without the right to set the clock.
    virtual bool SetSystemTime(const SYSTEMTIME& utc) = 0;

    // adjustment: 100-ns units added to the clock at each clock interrupt;
    // increment: the nominal value of that, the interrupt period;
    // disabled: the system keeps time by itself, the adjustment is not in force
    // (the adjustment then reads as the increment).
    virtual bool GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) = 0;
    // With disabled set the adjustment is ignored and the system's own timekeeping
    // returns. Fails with ERROR_INVALID_PARAMETER for an adjustment outside
    // GetSystemTimeAdjustmentRange and ERROR_PRIVILEGE_NOT_HELD without the right.
    virtual bool SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) = 0;
    // The increment GetSystemTimeAdjustment reports: the adjustment at which
    // the clock keeps its nominal rate. Known even when that call fails.
    virtual std::uint32_t NominalTimeIncrement() = 0;
    // The lowest and highest adjustment SetSystemTimeAdjustment accepts, in its
    // units. Windows takes any 32-bit value, which is what this default says;
    // the Linux kernel only rates within about 10 % of the nominal one, so
    // there a correction that needs more must step.
    virtual void GetSystemTimeAdjustmentRange(std::uint32_t& lowest, std::uint32_t& highest) {
        lowest = 0;
        highest = 0xFFFF'FFFF;
    }

    // Not a Windows call: puts back the time adjustment that a run of this
    // boot recorded before it changed it and never put back, having ended
    // without its restore (killed, crashed). True when it did, with what was
    // put back in words; the backends that keep no such record do nothing.
    // Done before the start-up adjustment is read, so that the adjustment a
    // killed run left is never taken for the machine's own.
    virtual bool RestoreAbandonedAdjustment(std::wstring& restored) {
        (void)restored;
        return false;
    }

    // Not a Windows call: another running process that holds the clock's
    // time adjustment (it changed it and has not put it back), in words;
    // empty when none. While one does, this process may not change the
    // adjustment (SetSystemTimeAdjustment fails with ERROR_BUSY), so that
    // one run at a time adjusts the clock.
    virtual std::string AnotherAdjuster() { return {}; }
    // Not a Windows call: why the last SetSystemTimeAdjustment was refused
    // for want of the record of the adjustment to put back (another run holds
    // it, or its file cannot be written), in words; empty otherwise.
    virtual std::wstring AdjustmentProblem() { return {}; }

    // Not a Windows call: tells the system whether the clock is kept. After
    // a pass that corrected it: synchronised, with the clock's estimated and
    // maximum error in microseconds; when the service stops keeping it: not
    // synchronised. Linux's kernel holds this as its synchronised status
    // (adjtimex's STA_UNSYNC, esterror and maxerror), which timedatectl,
    // time-sync.target, the hardware clock's updates and monitoring read, and
    // it grows the maximum error by itself between reports; the report that
    // makes it synchronised also sets the clock, by a microsecond, since a
    // setting is when those who wait for it look. Windows has
    // nothing of the kind: the backends that keep no status do nothing.
    virtual bool SetSynchronisedStatus(bool synchronised, std::uint32_t estimatedErrorMicroseconds,
                                       std::uint32_t maximumErrorMicroseconds) {
        (void)synchronised;
        (void)estimatedErrorMicroseconds;
        (void)maximumErrorMicroseconds;
        return true;
    }

    virtual bool QueryPerformanceCounter(std::int64_t& count) = 0;
    virtual bool QueryPerformanceFrequency(std::int64_t& frequency) = 0;

    // Never ends earlier than planned. A suspendable call (platform/threads.h):
    // a suspended thread is held at its end until it is resumed.
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

template <>
ClockFacility& DefaultFacility<ClockFacility>();

inline ClockFacility& Clock() { return Facility<ClockFacility>::Get(); }

// The machine's own clock (KAIROVEL_CLOCK=system), as the system's backend reaches it.
ClockFacility& MachineClock();

}  // namespace kairovel::platform
