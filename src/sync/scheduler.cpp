#include "sync/scheduler.h"

#include <string>

#include "clock/privilege.h"
#include "clock/registry_adjustment_store.h"
#include "log/logger.h"
#include "log/program_identity.h"
#include "platform/clock.h"
#include "platform/threads.h"
#include "sync/decision.h"

namespace kairovel {
namespace {

constexpr std::uint64_t kMillisecondsPerSecond = 1000;
constexpr std::uint64_t kSecondsPerDay = 86'400;
constexpr std::uint64_t kMillisecondsPerDay = kSecondsPerDay * kMillisecondsPerSecond;
// The longest single sleep: the platform counts milliseconds in 32 bits.
constexpr std::uint64_t kLongestSleepMilliseconds = 0xFFFF'FFFE;

constexpr FormatText<std::uint32_t> kWaitForMessage =
    L"Kairovel will wait for %u seconds to synchronize with the remote system(s).";
constexpr FormatText<std::uint32_t, std::uint32_t, std::uint32_t> kWaitUntilMessage =
    L"Kairovel will wait until %02u:%02u:%02u to synchronize with the remote system(s).";

// Sleeps the milliseconds in pieces the platform can take, so that a delay
// or a period of years is slept in full instead of wrapping.
void SleepMilliseconds(std::uint64_t milliseconds) {
    do {
        const std::uint64_t piece = milliseconds < kLongestSleepMilliseconds ? milliseconds : kLongestSleepMilliseconds;
        platform::Clock().Sleep(static_cast<std::uint32_t>(piece));
        milliseconds -= piece;
    } while (milliseconds > 0);
}

std::uint64_t SecondsOf(std::uint64_t hours, std::uint64_t minutes, std::uint64_t seconds) {
    return (hours * 60 + minutes) * 60 + seconds;
}

// The milliseconds from the local time now until the next hh:mm:ss to come,
// at now's milliseconds.
std::uint64_t MillisecondsUntilTimeOfDay(const StartTime& at) {
    platform::SYSTEMTIME now;
    platform::Clock().GetLocalTime(now);
    const std::uint64_t nowMilliseconds =
        SecondsOf(now.wHour, now.wMinute, now.wSecond) * kMillisecondsPerSecond + now.wMilliseconds;
    const std::uint64_t targetMilliseconds =
        SecondsOf(at.hours, at.minutes, at.seconds) % kSecondsPerDay * kMillisecondsPerSecond + now.wMilliseconds;
    return nowMilliseconds < targetMilliseconds ? targetMilliseconds - nowMilliseconds
                                                : targetMilliseconds + kMillisecondsPerDay - nowMilliseconds;
}

}  // namespace

void WaitForStart(const StartTime& at) {
    if (at.hours >= StartTime::kDelayHours) {
        const std::uint64_t delay = SecondsOf(at.hours, at.minutes, at.seconds) - kSecondsPerDay;
        if (delay != 0) {
            Log(CurrentLogger(), LevelOk, kWaitForMessage, static_cast<std::uint32_t>(delay));
        }
        SleepMilliseconds(delay * kMillisecondsPerSecond);
        return;
    }
    const std::uint64_t wait = MillisecondsUntilTimeOfDay(at);
    Log(CurrentLogger(), LevelTrace, kWaitUntilMessage, std::uint32_t{at.hours}, std::uint32_t{at.minutes}, std::uint32_t{at.seconds});
    SleepMilliseconds(wait);
}

void SynchronizerThread(LocalClock& clock, const PassOutcome& outcome) {
    std::wstring logged;
    try {
        std::wstring result;
        SynchronizeOnce(result, clock);
        logged = Format(L"Corrected clock deviation of %s milliseconds.", result);
        Log(CurrentLogger(), LevelOk, L"%s", logged);
    } catch (const std::wstring& message) {
        logged = message;
        Log(CurrentLogger(), LevelError, L"%s", logged);
    } catch (...) {
        logged = L"Synchronizer thread exited abnormally";
        Log(CurrentLogger(), LevelError, L"%s", logged);
    }
    if (outcome) outcome(logged);
}

Scheduler::Scheduler(platform::HANDLE stopEvent, LocalClock& clock, PassRoutine pass)
    : stopEvent_(stopEvent), clock_(clock), pass_(std::move(pass)) {}

void Scheduler::Run() {
    try {
        Prepare();
        WaitForStart(TheConfiguration().AtTime);
        RunPeriods();
    } catch (...) {
        // The failure's own text is not shown: whatever it was, the schedule is over.
        Log(CurrentLogger(), LevelError, L"Worker thread exited abnormally");
        platform::Threads().SetEvent(stopEvent_);
    }
}

void Scheduler::Prepare() {
    EnableSystemTimePrivilege();
    Log(CurrentLogger(), LevelOk, L"Kairovel %s started", VersionText);
    timeServer_.emplace();
    clock_.UseStoredAdjustment(TheRegistryAdjustmentStore());
}

void Scheduler::RunPeriods() {
    platform::ThreadsFacility& threads = platform::Threads();
    const std::uint64_t period = TheConfiguration().Period * kMillisecondsPerSecond;
    for (;;) {
        // A thread that cannot be started is not reported: the next period tries again.
        const platform::ScopedHandle pass(threads.CreateThread([routine = pass_] {
            routine();
            return std::uint32_t{0};
        }));
        SleepMilliseconds(period);
        std::uint32_t exitCode = 0;
        if (pass.get() != nullptr && threads.GetExitCodeThread(pass.get(), exitCode) &&
            exitCode == platform::STILL_ACTIVE) {
            Log(CurrentLogger(), LevelError,
                L"Time synchronization not complete before the next one started. The thread could be hanging.");
            // Passes share the sources table and the clock state: the next one waits for this one.
            threads.WaitForSingleObject(pass.get(), platform::INFINITE);
        }
    }
}

void SchedulerThread(platform::HANDLE stopEvent, PassOutcome outcome) {
    Scheduler scheduler(stopEvent, TheLocalClock(), [outcome] { SynchronizerThread(TheLocalClock(), outcome); });
    scheduler.Run();
}

}  // namespace kairovel
