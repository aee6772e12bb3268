#include "support/file_permissions.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>

namespace kairovel::testing {
namespace {

constexpr std::uint32_t kOverrideBits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

// The calling thread's capabilities (capset and capget act on one thread).
bool Get(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool Set(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

ScopedFilePermissionsEnforced::ScopedFilePermissionsEnforced() {
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (!Get(data)) throw std::runtime_error("capget failed");
    savedEffective_ = data[0].effective;
    if ((savedEffective_ & kOverrideBits) == 0) return;
    data[0].effective &= ~kOverrideBits;
    if (!Set(data)) throw std::runtime_error("capset failed");
    changed_ = true;
}

ScopedFilePermissionsEnforced::~ScopedFilePermissionsEnforced() {
    if (!changed_) return;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (!Get(data)) return;
    data[0].effective = savedEffective_;
    Set(data);
}

}  // namespace kairovel::testing
