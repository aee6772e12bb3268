// Unpredictable numbers from the system's random source (RtlGenRandom on
// Windows, getrandom on Linux), for values an attacker must not guess.
#pragma once

#include <cstdint>

namespace kairovel::platform {

// 64 bits no one can foretell.
std::uint64_t UnpredictableNumber();

}  // namespace kairovel::platform
