// The service's stored parameters (platform/interface/parameter_store.h) with
// the registry's value types under the names windows.h gives them as macros.
#pragma once

#include <cstdint>

#include "platform/interface/parameter_store.h"
#include "platform/win_types.h"

namespace kairovel::platform {

inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;
inline constexpr std::uint32_t REG_QWORD = 11;

}  // namespace kairovel::platform
