// The calling thread's last error code, as GetLastError / SetLastError keep it.
//
// Every platform call that fails leaves its Windows error code here, so the
// program's messages can carry the code exactly as they would on Windows.
#pragma once

#include <cstdint>

namespace kairovel::platform {

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

}  // namespace kairovel::platform
