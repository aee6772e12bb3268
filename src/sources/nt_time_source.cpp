#include "sources/nt_time_source.h"

#include "log/logger.h"
#include "timebase/numeric.h"

namespace kairovel {
namespace {

using platform::NetworkManagement;

// The years a calendar record of the platform can hold (the FILETIME range).
constexpr std::uint32_t kFirstCalendarYear = 1601;
constexpr std::uint32_t kLastCalendarYear = 30'827;
constexpr std::uint32_t kHundredthsPerSecond = 100;
constexpr int kMillisecondsPerHundredth = 10;
// The middle of the reported hundredth, in milliseconds.
constexpr int kMiddleOfHundredthMilliseconds = 5;

// Gives a buffer of the network management calls back when it goes.
class NetApiBuffer {
public:
    NetApiBuffer() = default;
    ~NetApiBuffer() {
        if (data_ != nullptr) NetworkManagement().NetApiBufferFree(data_);
    }
    NetApiBuffer(const NetApiBuffer&) = delete;
    NetApiBuffer& operator=(const NetApiBuffer&) = delete;

    platform::LPBYTE* Receiver() { return &data_; }
    bool IsEmpty() const { return data_ == nullptr; }
    template <class Record>
    const Record& As() const {
        return *reinterpret_cast<const Record*>(data_);
    }

private:
    platform::LPBYTE data_ = nullptr;
};

bool IsMachineName(const std::wstring& name) { return !name.empty() && name.front() == L'\\'; }

}  // namespace

bool IsPossibleTimeOfDay(const platform::TIME_OF_DAY_INFO& timeOfDay) {
    // Every field is checked in its full 32 bits, before it is narrowed to
    // the 16 bits of a calendar record, where month 65,537 would pass as 1.
    const bool yearFitsTheCalendar = timeOfDay.tod_year >= kFirstCalendarYear && timeOfDay.tod_year <= kLastCalendarYear;
    const bool monthIsReal = timeOfDay.tod_month >= 1 && timeOfDay.tod_month <= 12;
    const bool dayIsInItsMonth =
        yearFitsTheCalendar && monthIsReal && timeOfDay.tod_day >= 1 &&
        timeOfDay.tod_day <= static_cast<std::uint32_t>(DaysInMonth(static_cast<int>(timeOfDay.tod_month),
                                                                     static_cast<int>(timeOfDay.tod_year)));
    const bool hourIsReal = timeOfDay.tod_hours <= 23;
    const bool minuteIsReal = timeOfDay.tod_mins <= 59;
    const bool secondIsReal = timeOfDay.tod_secs <= 59;
    return dayIsInItsMonth && hourIsReal && minuteIsReal && secondIsReal;
}

std::wstring NtTimeSource::DomainController() const {
    NetApiBuffer controller;
    platform::NET_API_STATUS status = NetworkManagement().NetGetDCName(nullptr, name_.c_str(), controller.Receiver());
    // A lookup that succeeds without naming a controller has not found one.
    if (status == platform::NERR_Success && (controller.IsEmpty() || controller.As<wchar_t>() == L'\0')) {
        status = platform::NERR_DCNotFound;
    }
    if (status != platform::NERR_Success) {
        RaiseError(L"Could not get the name of the PDC of %s.  Error %d returned by NetGetDCName.",
                   name_.empty() ? std::wstring(L"my domain") : name_, static_cast<int>(status));
    }
    return std::wstring(&controller.As<wchar_t>());
}

void NtTimeSource::GetTime(TimeValue& now) {
    SetPeerName(IsMachineName(name_) ? name_ : DomainController());

    NetApiBuffer reply;
    const Stopwatch exchange;
    platform::NET_API_STATUS status = NetworkManagement().NetRemoteTOD(GetPeerName().c_str(), reply.Receiver());
    SetDelay(exchange);
    if (status == platform::NERR_Success && reply.IsEmpty()) status = platform::ERROR_INVALID_DATA;
    if (status != platform::NERR_Success) {
        RaiseError(L"Could not get the time from %s. Error %d returned by NetRemoteTOD.", GetPeerName(),
                   static_cast<int>(status));
    }

    const auto& timeOfDay = reply.As<platform::TIME_OF_DAY_INFO>();
    if (!IsPossibleTimeOfDay(timeOfDay)) {
        RaiseError(L"Invalid time of day received from %s: %u/%u/%u %u:%u:%u.", GetPeerName(), timeOfDay.tod_year,
                   timeOfDay.tod_month, timeOfDay.tod_day, timeOfDay.tod_hours, timeOfDay.tod_mins,
                   timeOfDay.tod_secs);
    }
    const int milliseconds =
        static_cast<int>(timeOfDay.tod_hunds % kHundredthsPerSecond) * kMillisecondsPerHundredth +
        kMiddleOfHundredthMilliseconds;
    now.Assign(TimeValue(static_cast<int>(timeOfDay.tod_year), static_cast<int>(timeOfDay.tod_month),
                         static_cast<int>(timeOfDay.tod_day), static_cast<int>(timeOfDay.tod_hours),
                         static_cast<int>(timeOfDay.tod_mins), static_cast<int>(timeOfDay.tod_secs), milliseconds));
    Log(CurrentLogger(), LevelTrace, L"%s sent buffer with %s after %I64d msecs.", GetPeerName(), now.Format(),
        GetDelay().Milliseconds());
}

}  // namespace kairovel
