// Windows network management: the domain controller lookup and the remote
// time of day.
//
// The NT sources ask a machine for its clock with NetRemoteTOD, after asking
// the local machine for the name of a domain's primary domain controller with
// NetGetDCName. Both hand back a buffer that the facility allocated for the
// caller, who gives it back with NetApiBufferFree. The calls keep the Windows
// signatures and answer with the Windows status codes below (NET_API_STATUS:
// 0 for success, else a system error code or a NERR_ code).
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/netapi.h adds them under their Windows names.
#pragma once

#include <cstdint>

#include "platform/facility.h"

namespace kairovel::platform {

using NET_API_STATUS = std::uint32_t;
using LPBYTE = std::uint8_t*;

// The remote clock, as NetRemoteTOD returns it. Every field comes from the
// network and may be impossible (month 13, hour 25): the caller checks them.
struct TIME_OF_DAY_INFO {
    std::uint32_t tod_elapsedt;   // seconds since 1970-01-01 00:00:00 UTC
    std::uint32_t tod_msecs;      // milliseconds since the machine started
    std::uint32_t tod_hours;      // 0 to 23, UTC
    std::uint32_t tod_mins;       // 0 to 59
    std::uint32_t tod_secs;       // 0 to 59
    std::uint32_t tod_hunds;      // hundredths of a second, 0 to 99
    std::int32_t tod_timezone;    // minutes west of UTC; -1 when unknown
    std::uint32_t tod_tinterval;  // clock tick in 0.0001 s units
    std::uint32_t tod_day;        // 1 to 31
    std::uint32_t tod_month;      // 1 to 12
    std::uint32_t tod_year;
    std::uint32_t tod_weekday;    // 0 = Sunday
};

class NetworkManagementFacility {
public:
    virtual ~NetworkManagementFacility() = default;

    // Asks serverName (null or empty: the local machine) for the primary
    // domain controller of domainName (null or empty: the machine's own
    // domain). On success *buffer holds the controller's name as a
    // null-terminated wide string, two backslashes and the machine name.
    virtual NET_API_STATUS NetGetDCName(const wchar_t* serverName, const wchar_t* domainName, LPBYTE* buffer) = 0;
    // Reads the clock of uncServerName ("\\NAME", or NAME; null or empty: the
    // local machine). On success *buffer holds one TIME_OF_DAY_INFO.
    virtual NET_API_STATUS NetRemoteTOD(const wchar_t* uncServerName, LPBYTE* buffer) = 0;
    // Frees a buffer that one of the calls above handed out.
    virtual NET_API_STATUS NetApiBufferFree(void* buffer) = 0;
};

template <>
NetworkManagementFacility& DefaultFacility<NetworkManagementFacility>();

inline NetworkManagementFacility& NetworkManagement() { return Facility<NetworkManagementFacility>::Get(); }

}  // namespace kairovel::platform
