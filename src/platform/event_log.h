// The system's event log (platform/interface/event_log.h) with its event types.
#pragma once

#include <cstdint>

#include "platform/interface/event_log.h"
#include "platform/win_types.h"

namespace kairovel::platform {

// Event types.
inline constexpr std::uint16_t EVENTLOG_SUCCESS = 0x0000;
inline constexpr std::uint16_t EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr std::uint16_t EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr std::uint16_t EVENTLOG_INFORMATION_TYPE = 0x0004;
inline constexpr std::uint16_t EVENTLOG_AUDIT_SUCCESS = 0x0008;
inline constexpr std::uint16_t EVENTLOG_AUDIT_FAILURE = 0x0010;

}  // namespace kairovel::platform
