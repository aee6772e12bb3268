#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace kairovel::platform {

std::uint64_t UnpredictableNumber() {
    std::uint64_t number = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&number);
    std::size_t have = 0;
    while (have < sizeof number) {
        // Blocks only until the kernel's pool is first seeded, early in boot.
        const ssize_t n = ::getrandom(bytes + have, sizeof number - have, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) std::abort();  // no random source at all: nothing unpredictable can be made
        have += static_cast<std::size_t>(n);
    }
    return number;
}

}  // namespace kairovel::platform
