// The privileges of the process's access token (platform/interface/privilege.h)
// with the access rights, attributes and names of the Windows calls.
#pragma once

#include <cstdint>

#include "platform/interface/privilege.h"
#include "platform/kernel_object.h"

namespace kairovel::platform {

inline constexpr std::uint32_t TOKEN_QUERY = 0x0008;
inline constexpr std::uint32_t TOKEN_ADJUST_PRIVILEGES = 0x0020;
inline constexpr std::uint32_t SE_PRIVILEGE_ENABLED = 0x0002;
inline constexpr const wchar_t* SE_SYSTEMTIME_NAME = L"SeSystemtimePrivilege";

}  // namespace kairovel::platform
