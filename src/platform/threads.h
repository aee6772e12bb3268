// Threads and events (platform/interface/threads.h) with the codes of the calls.
#pragma once

#include <cstdint>

#include "platform/interface/threads.h"
#include "platform/kernel_object.h"

namespace kairovel::platform {

inline constexpr std::uint32_t STILL_ACTIVE = 259;  // the exit code of a thread that still runs
inline constexpr std::uint32_t INFINITE = 0xFFFF'FFFF;
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFF'FFFF;
inline constexpr std::uint32_t MAXIMUM_SUSPEND_COUNT = 127;

}  // namespace kairovel::platform
