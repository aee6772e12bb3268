// The machine's own clock on Windows (KAIROVEL_CLOCK=system): the system's
// time, time adjustment and performance counter.
#include <windows.h>

#include <string>

#include "platform/adjustment_record.h"
#include "platform/interface/clock.h"
#include "platform/settings.h"

namespace kairovel::platform {
namespace {

SYSTEMTIME Ours(const ::SYSTEMTIME& time) {
    return SYSTEMTIME{time.wYear,   time.wMonth,  time.wDayOfWeek, time.wDay,
                      time.wHour,   time.wMinute, time.wSecond,    time.wMilliseconds};
}

::SYSTEMTIME Native(const SYSTEMTIME& time) {
    return ::SYSTEMTIME{time.wYear,   time.wMonth,  time.wDayOfWeek, time.wDay,
                        time.wHour,   time.wMinute, time.wSecond,    time.wMilliseconds};
}

// The interrupt period Windows reports when it cannot be read: 15.625 ms.
constexpr std::uint32_t kUsualIncrement = 156'250;

// Runs change with the system-time privilege enabled in the process's token,
// and leaves the privilege as it found it.
template <class Change>
bool WithSystemTimePrivilege(Change change) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return change();
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous{};
    DWORD previousSize = sizeof previous;
    const bool adjusted = ::LookupPrivilegeValueW(nullptr, L"SeSystemtimePrivilege", &wanted.Privileges[0].Luid) &&
                          ::AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous, &previous, &previousSize);
    const bool done = change();
    if (adjusted) ::AdjustTokenPrivileges(token, FALSE, &previous, 0, nullptr, nullptr);
    ::CloseHandle(token);
    return done;
}

class WindowsClock final : public ClockFacility {
public:
    void GetSystemTime(SYSTEMTIME& utc) override {
        ::SYSTEMTIME now{};
        ::GetSystemTime(&now);
        utc = Ours(now);
    }

    void GetLocalTime(SYSTEMTIME& local) override {
        ::SYSTEMTIME now{};
        ::GetLocalTime(&now);
        local = Ours(now);
    }

    bool SetSystemTime(const SYSTEMTIME& utc) override {
        const ::SYSTEMTIME time = Native(utc);
        return ::SetSystemTime(&time) != FALSE;
    }

    bool GetSystemTimeAdjustment(std::uint32_t& adjustment, std::uint32_t& increment, bool& disabled) override {
        DWORD nativeAdjustment = 0;
        DWORD nativeIncrement = 0;
        BOOL nativeDisabled = FALSE;
        if (!::GetSystemTimeAdjustment(&nativeAdjustment, &nativeIncrement, &nativeDisabled)) return false;
        adjustment = nativeAdjustment;
        increment = nativeIncrement;
        disabled = nativeDisabled != FALSE;
        return true;
    }

    // The adjustment before this process's first change is on record until
    // it is set back (platform/adjustment_record.h).
    bool SetSystemTimeAdjustment(std::uint32_t adjustment, bool disabled) override {
        return record_.Set(
            adjustment, disabled,
            [this](std::uint32_t& current, bool& currentDisabled) {
                std::uint32_t increment = 0;
                return GetSystemTimeAdjustment(current, increment, currentDisabled);
            },
            SetNative);
    }

    std::string AnotherAdjuster() override { return record_.OtherHolder(); }
    std::wstring AdjustmentProblem() override { return record_.Problem(); }

    bool RestoreAbandonedAdjustment(std::wstring& restored) override {
        // The platform's own repair: the privilege is enabled for it alone.
        return record_.RestoreAbandoned(
            [](std::uint32_t adjustment, bool disabled) {
                return WithSystemTimePrivilege([&] { return SetNative(adjustment, disabled); });
            },
            restored);
    }

    std::uint32_t NominalTimeIncrement() override {
        DWORD adjustment = 0;
        DWORD increment = 0;
        BOOL disabled = FALSE;
        return ::GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && increment != 0 ? increment
                                                                                            : kUsualIncrement;
    }

    bool QueryPerformanceCounter(std::int64_t& count) override {
        LARGE_INTEGER value{};
        if (!::QueryPerformanceCounter(&value)) return false;
        count = value.QuadPart;
        return true;
    }

    bool QueryPerformanceFrequency(std::int64_t& frequency) override {
        LARGE_INTEGER value{};
        if (!::QueryPerformanceFrequency(&value)) return false;
        frequency = value.QuadPart;
        return true;
    }

    // Windows suspends a thread wherever it is: a sleep needs no suspension point.
    void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

private:
    static bool SetNative(std::uint32_t adjustment, bool disabled) {
        return ::SetSystemTimeAdjustment(adjustment, disabled ? TRUE : FALSE) != FALSE;
    }

    WindowsAdjustmentRecord record_{StateRoot() / "system-clock.startup"};
};

}  // namespace

ClockFacility& MachineClock() {
    static WindowsClock clock;
    return clock;
}

}  // namespace kairovel::platform
