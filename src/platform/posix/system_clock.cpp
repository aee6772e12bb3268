// The machine's own clock: CLOCK_REALTIME set with clock_settime, the time
// adjustment on adjtimex's tick and frequency, CLOCK_MONOTONIC_RAW as counter.
#include "platform/posix/system_clock.h"

#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "platform/adjustment_record.h"
#include "platform/calendar.h"
#include "platform/last_error.h"
#include "platform/posix/capabilities.h"
#include "platform/posix/errors.h"
#include "platform/settings.h"
#include "platform/sim/machine_time.h"
#include "platform/posix/time_adjustment.h"
#include "platform/threads.h"

namespace kairovel::platform {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// The errors of a clock nobody keeps, as the kernel has them at boot: its
// phase limit of 16 s (NTP_PHASE_LIMIT), beyond which it reads unsynchronised.
constexpr long kUnsynchronisedErrorMicroseconds = 16'000'000;
constexpr long kWakingOffsetMicroseconds = 1;

bool FailWithErrno() {
    SetLastError(WindowsErrorFromErrno(errno));
    return false;
}

// What the start-up record keeps of the kernel: tick, frequency and status.
struct KernelState {
    long tick = 0;
    long frequency = 0;
    int status = 0;
};

std::optional<KernelState> KernelStateNow() {
    timex state{};  // modes 0: read only, allowed without privilege
    if (::adjtimex(&state) < 0) return std::nullopt;
    return KernelState{state.tick, state.freq, state.status};
}

std::optional<KernelClockRate> RateOf(const std::optional<KernelState>& state) {
    if (!state) return std::nullopt;
    return KernelClockRate{state->tick, state->frequency};
}

std::string RecordText(const KernelState& state) {
    return std::to_string(state.tick) + " " + std::to_string(state.frequency) + " " + std::to_string(state.status);
}

std::optional<KernelState> ParseRecordText(const std::string& text) {
    KernelState state;
    std::istringstream in(text);
    if (!(in >> state.tick >> state.frequency >> state.status)) return std::nullopt;
    return state;
}

class SystemClock final : public ClockFacility {
public:
    // Made at the first use of the clock, as the program starts: the kernel's
    // values then are those a restore puts back.
    SystemClock()
        : startup_(KernelStateNow()),
          mapping_(::sysconf(_SC_CLK_TCK), RateOf(startup_)),
          record_(StateRoot() / "system-clock.startup") {}

    void GetSystemTime(SYSTEMTIME& utc) override {
        FileTimeToSystemTime(FileTimeFromCount(static_cast<std::uint64_t>(MachineUtcCount())), utc);
    }

    void GetLocalTime(SYSTEMTIME& local) override { local = LocalCalendarOfUtcCount(MachineUtcCount()); }

    bool SetSystemTime(const SYSTEMTIME& utc) override {
        FILETIME count;
        if (!SystemTimeToFileTime(utc, count)) return false;  // ERROR_INVALID_PARAMETER
        const auto sinceEpoch = static_cast<std::int64_t>(FileTimeCount(count) - kUnixEpochFileTime);
        constexpr auto kUnitsPerSecond = static_cast<std::int64_t>(kFileTimeUnitsPerSecond);
        timespec target{};
        target.tv_sec = static_cast<time_t>(sinceEpoch / kUnitsPerSecond);
        target.tv_nsec = static_cast<long>(sinceEpoch % kUnitsPerSecond) * 100;
        if (target.tv_nsec < 0) {  // before 1970: the kernel refuses it as EINVAL
            target.tv_nsec += kNanosecondsPerSecond;
            --target.tv_sec;
        }
        // EPERM without CAP_SYS_TIME gives ERROR_PRIVILEGE_NOT_HELD.
        ApplySystemTimePrivilegeToThisThread();
        if (::clock_settime(CLOCK_REALTIME, &target) != 0) return FailWithErrno();
        return true;
    }

    bool GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) override {
        timex state{};  // modes 0: read only, allowed without privilege
        if (::adjtimex(&state) < 0) return FailWithErrno();
        const std::lock_guard<std::mutex> lock(mutex_);
        mapping_.ToAdjustment(KernelClockRate{state.tick, state.freq}, adjustment, disabled);
        increment = mapping_.Increment();
        return true;
    }

    bool SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        problem_.clear();
        // While no change of this process is in force, the kernel's values are
        // the ones to put back: another run may have changed them since this
        // one started, and put them back.
        if (!record_.Held()) StartFrom(KernelStateNow());
        KernelClockRate rate;
        if (!mapping_.ToKernel(adjustment, disabled, rate)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        const bool backAtStartup =
            startup_ && rate.tick == startup_->tick && rate.frequency == startup_->frequency;
        // The start-up values are on record before the first change: a run
        // killed in a slew must not leave the clock slewing.
        if (!backAtStartup && startup_ && !record_.Keep(RecordText(*startup_))) {
            const LastErrorKeeper keeper;
            problem_ = record_.Problem();
            return false;
        }
        timex change{};
        change.modes = ADJ_TICK | ADJ_FREQUENCY;
        change.tick = rate.tick;
        change.freq = rate.frequency;
        // EPERM without CAP_SYS_TIME gives ERROR_PRIVILEGE_NOT_HELD.
        ApplySystemTimePrivilegeToThisThread();
        if (::adjtimex(&change) < 0) return FailWithErrno();
        if (backAtStartup) record_.Release();
        return true;
    }

    bool RestoreAbandonedAdjustment(std::wstring& restored) override {
        const std::optional<std::string> text = record_.Abandoned();
        const std::optional<KernelState> values = text ? ParseRecordText(*text) : std::nullopt;
        if (!values) return false;
        timex change{};
        change.modes = ADJ_TICK | ADJ_FREQUENCY | ADJ_STATUS;
        change.tick = values->tick;
        change.freq = values->frequency;
        change.status = values->status;
        // The platform's own repair: the right to set the clock is raised for
        // it alone, whether or not the program has enabled it yet.
        bool held = false;
        SetSystemTimeCapability(true, held);
        const bool done = ::adjtimex(&change) >= 0;
        ApplySystemTimePrivilegeToThisThread();
        if (!done) return false;
        record_.ForgetAbandoned();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            StartFrom(KernelStateNow());
        }
        restored = L"tick " + std::to_wstring(values->tick) + L", frequency " + std::to_wstring(values->frequency) +
                   L", status " + std::to_wstring(values->status);
        return true;
    }

    std::string AnotherAdjuster() override { return record_.OtherHolder(); }

    bool SetSynchronisedStatus(bool synchronised, std::uint32_t estimatedErrorMicroseconds,
                               std::uint32_t maximumErrorMicroseconds) override {
        timex state{};  // modes 0: read only
        if (::adjtimex(&state) < 0) return FailWithErrno();
        timex change{};
        change.modes = ADJ_STATUS | ADJ_ESTERROR | ADJ_MAXERROR;
        change.status = synchronised ? (state.status & ~STA_UNSYNC) : (state.status | STA_UNSYNC);
        change.esterror = synchronised ? static_cast<long>(estimatedErrorMicroseconds) : kUnsynchronisedErrorMicroseconds;
        change.maxerror = synchronised ? static_cast<long>(maximumErrorMicroseconds) : kUnsynchronisedErrorMicroseconds;
        // Those who wait for the clock to be synchronised (systemd-time-wait-
        // sync) look when it is set. A step marks it unsynchronised until the
        // pass reports, and one who looked in between would wait on: the
        // report that makes the clock synchronised also sets it, in the same
        // call, which takes the offset first and the status after it, so that
        // whoever the set wakes finds the clock synchronised. The kernel wakes
        // them only when the offset changes the clock: a microsecond, far
        // below what a pass measures.
        if (synchronised && (state.status & STA_UNSYNC) != 0) {
            change.modes |= ADJ_SETOFFSET;
            change.time.tv_usec = kWakingOffsetMicroseconds;
        }
        // EPERM without CAP_SYS_TIME gives ERROR_PRIVILEGE_NOT_HELD.
        ApplySystemTimePrivilegeToThisThread();
        if (::adjtimex(&change) < 0) return FailWithErrno();
        return true;
    }
    std::wstring AdjustmentProblem() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return problem_;
    }

    std::uint32_t NominalTimeIncrement() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return mapping_.Increment();
    }

    void GetSystemTimeAdjustmentRange(std::uint32_t& lowest, std::uint32_t& highest) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        lowest = mapping_.Lowest();
        highest = mapping_.Highest();
    }

    bool QueryPerformanceCounter(std::int64_t& count) override {
        count = MachineRawNanoseconds();
        return true;
    }

    bool QueryPerformanceFrequency(std::int64_t& frequency) override {
        frequency = kNanosecondsPerSecond;
        return true;
    }

    void Sleep(std::uint32_t milliseconds) override {
        const SuspendableCall suspendable;  // a suspension point as the sleep begins and ends
        SleepOnMachineClock(milliseconds);
    }

private:
    void StartFrom(const std::optional<KernelState>& state) {
        startup_ = state;
        mapping_ = KernelAdjustmentMapping(::sysconf(_SC_CLK_TCK), RateOf(startup_));
    }

    std::mutex mutex_;  // guards the start-up values and their mapping
    // The kernel's values before this process's change (read when the
    // program started, after an abandoned record was put back, and again
    // before a change while none of this process's is in force), which a
    // restore and the record give back exactly.
    std::optional<KernelState> startup_;
    KernelAdjustmentMapping mapping_;
    std::wstring problem_;  // why the last change was refused for want of its record
    AdjustmentRecord record_;
};

}  // namespace

ClockFacility& MachineClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace kairovel::platform
