// The scheduler threads of the service: one pass per period, from the
// configured start time on.
//
// The scheduler thread prepares the clock discipline (the right to set the
// clock, the stored base adjustment), starts the TIME server, waits for the
// start time and then starts one synchronisation thread per period; each
// synchronisation thread runs one pass, logs its result and ends. A pass that
// is still running when its period is over is reported once and waited for:
// the next pass starts as soon as it has ended, and the period is counted
// from that start. Two passes never run at the same time, since a pass uses
// the table of active sources and the clock discipline's state without a lock.
//
// Pausing the service suspends the scheduler thread. Its sleeps and its wait
// for a late pass are its suspension points: a pass already running and the
// TIME server carry on, no new pass starts, and on continue the current sleep
// ends no earlier than planned.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "clock/local_clock.h"
#include "config/configuration.h"
#include "platform/kernel_object.h"
#include "sources/time_server.h"

namespace kairovel {

// Blocks the calling thread until the start time. Hours of 24 or more are a
// delay of (hours - 24):minutes:seconds from now; fewer hours are the next
// such local time of day to come (with the milliseconds of now; now itself
// counts as gone, so the wait is then a whole day). Fields beyond their range
// give the time of day they add up to.
void WaitForStart(const StartTime& at);

// What a pass ended with, as logged: "Corrected clock deviation of %s
// milliseconds." or the error that ended it.
using PassOutcome = std::function<void(const std::wstring& logged)>;

// The body of a synchronisation thread: one pass on the clock, then "Corrected
// clock deviation of %s milliseconds." or the error that ended it, which also
// goes to outcome when there is one.
void SynchronizerThread(LocalClock& clock, const PassOutcome& outcome = {});

class Scheduler {
public:
    // What one synchronisation thread runs.
    using PassRoutine = std::function<void()>;

    // stopEvent is set when the scheduler fails, which stops the service.
    Scheduler(platform::HANDLE stopEvent, LocalClock& clock, PassRoutine pass);

    // The scheduler thread's body. Returns only when something failed: it
    // then logs "Worker thread exited abnormally" and sets the stop event.
    void Run();

private:
    void Prepare();
    [[noreturn]] void RunPeriods();

    platform::HANDLE stopEvent_;
    LocalClock& clock_;
    PassRoutine pass_;
    std::optional<RunningTimeServer> timeServer_;
};

// The service's scheduler thread on the process's local clock and
// configuration; every pass's outcome also goes to outcome.
void SchedulerThread(platform::HANDLE stopEvent, PassOutcome outcome = {});

}  // namespace kairovel
