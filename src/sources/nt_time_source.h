// The NT machine and domain sources: the clock of a Windows machine, read
// with the network time-of-day call.
//
// One class serves both kinds; the configured name tells them apart. A name
// that begins with a backslash ("\\TIMEHOST") is the machine to ask; any other
// name is a domain (the empty name: this machine's own domain), whose primary
// domain controller is looked up first and then asked. The time arrives as
// calendar fields in UTC with hundredths of a second; the delay is the time
// of the time-of-day call alone.
#pragma once

#include <string>

#include "platform/netapi.h"
#include "sources/time_source.h"

namespace kairovel {

// Whether every calendar field of a received time of day names a real instant
// that a calendar record can hold (the hundredths are taken modulo 100).
bool IsPossibleTimeOfDay(const platform::TIME_OF_DAY_INFO& timeOfDay);

class NtTimeSource final : public TimeSource {
public:
    // name: "\\MACHINE", a domain, or empty for this machine's own domain.
    // Nothing is asked before GetTime; no socket-layer reference is taken.
    explicit NtTimeSource(const std::wstring& name) : name_(name) {}
    void GetTime(TimeValue& now) override;

private:
    // The controller's name ("\\PDC1"), or raises an error.
    std::wstring DomainController() const;

    std::wstring name_;
};

}  // namespace kairovel
