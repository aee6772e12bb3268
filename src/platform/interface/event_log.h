// The system's event log: registering as an event source and reporting events.
//
// An event carries a type, a category, an identifier and insertion strings;
// the event log turns it into text with the message of that identifier in
// the program's message table, the strings put in for %1, %2, ... On Linux
// the event log is the system log: each event is one syslog datagram from
// "<source>[<pid>]" with facility daemon and a severity for its type, sent to
// the socket that KAIROVEL_SYSLOG names (default /dev/log). Reporting never
// waits: when the system log is not there or cannot take the event at once,
// the report fails, as it would with the event log stopped.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/event_log.h adds them under their Windows names.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/facility.h"
#include "platform/interface/win_types.h"

namespace kairovel::platform {

class EventLogFacility {
public:
    virtual ~EventLogFacility() = default;

    // A handle for reporting events as sourceName on this machine (uncServerName
    // empty), or null with the last error set.
    virtual HANDLE RegisterEventSourceW(std::wstring_view uncServerName, std::wstring_view sourceName) = 0;
    // Reports one event. userSid and rawData are not kept by the system log.
    virtual bool ReportEventW(HANDLE eventLog, std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                              const void* userSid, std::span<const std::wstring_view> strings,
                              std::span<const std::byte> rawData) = 0;
    virtual bool DeregisterEventSource(HANDLE eventLog) = 0;
};

template <>
EventLogFacility& DefaultFacility<EventLogFacility>();

inline EventLogFacility& EventLog() { return Facility<EventLogFacility>::Get(); }

}  // namespace kairovel::platform
