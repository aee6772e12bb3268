#include "platform/posix/handle_table.h"

namespace kairovel::platform {

std::uintptr_t NextHandleNumber() {
    static std::atomic<std::uintptr_t> next{0x100};
    return next.fetch_add(4, std::memory_order_relaxed);
}

}  // namespace kairovel::platform
