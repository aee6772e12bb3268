// The service control manager (platform/interface/service_manager.h) with the
// access rights, start types and error controls of the Windows calls.
#pragma once

#include <cstdint>

#include "platform/interface/service_manager.h"
#include "platform/service_types.h"
#include "platform/win_types.h"

namespace kairovel::platform {

// Access rights to the manager.
inline constexpr std::uint32_t SC_MANAGER_CONNECT = 0x0001;
inline constexpr std::uint32_t SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr std::uint32_t SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
inline constexpr std::uint32_t SC_MANAGER_LOCK = 0x0008;
inline constexpr std::uint32_t SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
inline constexpr std::uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;

// Access rights to a service.
inline constexpr std::uint32_t SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr std::uint32_t SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr std::uint32_t SERVICE_QUERY_STATUS = 0x0004;
inline constexpr std::uint32_t SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
inline constexpr std::uint32_t SERVICE_START = 0x0010;
inline constexpr std::uint32_t SERVICE_STOP = 0x0020;
inline constexpr std::uint32_t SERVICE_PAUSE_CONTINUE = 0x0040;
inline constexpr std::uint32_t SERVICE_INTERROGATE = 0x0080;
inline constexpr std::uint32_t SERVICE_USER_DEFINED_CONTROL = 0x0100;
inline constexpr std::uint32_t DELETE = 0x00010000;
inline constexpr std::uint32_t READ_CONTROL_RIGHT = 0x00020000;
inline constexpr std::uint32_t SERVICE_ALL_ACCESS = 0xF01FF;

// Start types and error controls of an entry.
inline constexpr std::uint32_t SERVICE_BOOT_START = 0;
inline constexpr std::uint32_t SERVICE_SYSTEM_START = 1;
inline constexpr std::uint32_t SERVICE_AUTO_START = 2;
inline constexpr std::uint32_t SERVICE_DEMAND_START = 3;
inline constexpr std::uint32_t SERVICE_DISABLED = 4;
inline constexpr std::uint32_t SERVICE_ERROR_IGNORE = 0;
inline constexpr std::uint32_t SERVICE_ERROR_NORMAL = 1;
inline constexpr std::uint32_t SERVICE_ERROR_SEVERE = 2;
inline constexpr std::uint32_t SERVICE_ERROR_CRITICAL = 3;

}  // namespace kairovel::platform
