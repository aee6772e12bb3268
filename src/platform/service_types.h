// Records and codes of the service control manager
// (platform/interface/service_types.h), shared by the side that controls
// services and the side that runs one.
#pragma once

#include <cstdint>

#include "platform/interface/service_types.h"

namespace kairovel::platform {

// Service states (dwCurrentState).
inline constexpr std::uint32_t SERVICE_STOPPED = 1;
inline constexpr std::uint32_t SERVICE_START_PENDING = 2;
inline constexpr std::uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr std::uint32_t SERVICE_RUNNING = 4;
inline constexpr std::uint32_t SERVICE_CONTINUE_PENDING = 5;
inline constexpr std::uint32_t SERVICE_PAUSE_PENDING = 6;
inline constexpr std::uint32_t SERVICE_PAUSED = 7;

// Service types (dwServiceType).
inline constexpr std::uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr std::uint32_t SERVICE_WIN32_SHARE_PROCESS = 0x20;
inline constexpr std::uint32_t SERVICE_INTERACTIVE_PROCESS = 0x100;

// Controls a service is sent (ControlService, and the handler's argument).
inline constexpr std::uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr std::uint32_t SERVICE_CONTROL_PAUSE = 2;
inline constexpr std::uint32_t SERVICE_CONTROL_CONTINUE = 3;
inline constexpr std::uint32_t SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr std::uint32_t SERVICE_CONTROL_SHUTDOWN = 5;
// Controls 128 to 255 mean what the service makes of them.
inline constexpr std::uint32_t kFirstUserControl = 128;
inline constexpr std::uint32_t kLastUserControl = 255;

// Controls a service accepts (dwControlsAccepted).
inline constexpr std::uint32_t SERVICE_ACCEPT_STOP = 0x1;
inline constexpr std::uint32_t SERVICE_ACCEPT_PAUSE_CONTINUE = 0x2;
inline constexpr std::uint32_t SERVICE_ACCEPT_SHUTDOWN = 0x4;

}  // namespace kairovel::platform
