// Console control events (platform/interface/console_control.h) with their codes.
#pragma once

#include <cstdint>

#include "platform/interface/console_control.h"

namespace kairovel::platform {

// The control events a handler receives.
inline constexpr std::uint32_t CTRL_C_EVENT = 0;
inline constexpr std::uint32_t CTRL_BREAK_EVENT = 1;
inline constexpr std::uint32_t CTRL_CLOSE_EVENT = 2;
inline constexpr std::uint32_t CTRL_LOGOFF_EVENT = 5;
inline constexpr std::uint32_t CTRL_SHUTDOWN_EVENT = 6;

}  // namespace kairovel::platform
