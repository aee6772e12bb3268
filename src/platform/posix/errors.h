// Windows error codes for the errno values of the Linux stand-ins.
#pragma once

#include <cstdint>

namespace kairovel::platform {

// The Windows system error code that best says what errno says.
std::uint32_t WindowsErrorFromErrno(int error);

}  // namespace kairovel::platform
