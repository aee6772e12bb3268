// File permissions that hold even for a test that runs as root.
#pragma once

#include <cstdint>

namespace kairovel::testing {

// For its lifetime, the calling thread can no longer override file
// permissions (it loses CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from its
// effective set), so a file made read-only is read-only to it. Afterwards
// the thread's capabilities are as before.
class ScopedFilePermissionsEnforced {
public:
    ScopedFilePermissionsEnforced();
    ~ScopedFilePermissionsEnforced();
    ScopedFilePermissionsEnforced(const ScopedFilePermissionsEnforced&) = delete;
    ScopedFilePermissionsEnforced& operator=(const ScopedFilePermissionsEnforced&) = delete;

private:
    std::uint32_t savedEffective_ = 0;
    bool changed_ = false;
};

}  // namespace kairovel::testing
