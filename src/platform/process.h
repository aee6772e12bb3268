// The running process (platform/interface/process.h) with its priority classes.
#pragma once

#include <cstdint>

#include "platform/interface/process.h"

namespace kairovel::platform {

inline constexpr std::uint32_t HIGH_PRIORITY_CLASS = 0x80;

}  // namespace kairovel::platform
