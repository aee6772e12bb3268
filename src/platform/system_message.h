// The system's text for a Windows error code, as FormatMessageW gives it from
// the system's message table (with its full stop, without a line break).
#pragma once

#include <cstdint>
#include <string>

namespace kairovel::platform {

// The text, or empty when the system has no message for the code.
std::wstring SystemErrorMessage(std::uint32_t code);

}  // namespace kairovel::platform
