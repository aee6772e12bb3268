#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>

#include "platform/random.h"

namespace kairovel::platform {

std::uint64_t UnpredictableNumber() {
    std::uint64_t number = 0;
    // The system's preferred generator, seeded by the system's own entropy.
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&number), sizeof number,
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        std::abort();  // no random source at all: nothing unpredictable can be made
    }
    return number;
}

}  // namespace kairovel::platform
