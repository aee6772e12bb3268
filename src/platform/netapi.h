// Windows network management (platform/interface/netapi.h) with its status codes.
#pragma once

#include <cstdint>

#include "platform/interface/netapi.h"
#include "platform/win_types.h"

namespace kairovel::platform {

// Status codes of the network management calls (besides the system error
// codes of win_types.h that they share, such as ERROR_ACCESS_DENIED).
inline constexpr NET_API_STATUS NERR_Success = 0;
inline constexpr NET_API_STATUS ERROR_BAD_NETPATH = 53;              // the machine cannot be reached
inline constexpr NET_API_STATUS ERROR_NETNAME_DELETED = 64;          // the session with the machine broke off
inline constexpr NET_API_STATUS ERROR_CAN_NOT_COMPLETE = 1003;       // no session with the machine could be set up
inline constexpr NET_API_STATUS ERROR_NO_SUCH_DOMAIN = 1355;
inline constexpr NET_API_STATUS ERROR_DOMAIN_CONTROLLER_NOT_FOUND = 1908;
inline constexpr NET_API_STATUS NERR_DestNotFound = 2152;            // the machine offers no such service
inline constexpr NET_API_STATUS NERR_InvalidComputer = 2351;
inline constexpr NET_API_STATUS NERR_DCNotFound = 2453;

}  // namespace kairovel::platform
