#include "platform/posix/capabilities.h"

#include <sys/capability.h>

#include <atomic>
#include <cerrno>

namespace kairovel::platform {
namespace {

std::atomic<bool> systemTimeEnabled{false};

bool Has(cap_t capabilities, cap_flag_t set) {
    cap_flag_value_t value = CAP_CLEAR;
    return cap_get_flag(capabilities, CAP_SYS_TIME, set, &value) == 0 && value == CAP_SET;
}

}  // namespace

void NoteSystemTimePrivilege(bool enabled) { systemTimeEnabled.store(enabled, std::memory_order_release); }

bool SetSystemTimeCapability(bool enable, bool& held) {
    cap_t capabilities = cap_get_proc();
    if (capabilities == nullptr) return false;
    held = Has(capabilities, CAP_PERMITTED);
    bool done = true;
    if (held && Has(capabilities, CAP_EFFECTIVE) != enable) {
        const cap_value_t wanted[] = {CAP_SYS_TIME};
        done = cap_set_flag(capabilities, CAP_EFFECTIVE, 1, wanted, enable ? CAP_SET : CAP_CLEAR) == 0 &&
               cap_set_proc(capabilities) == 0;
    }
    const int error = errno;
    cap_free(capabilities);
    errno = error;
    return done;
}

void ApplySystemTimePrivilegeToThisThread() {
    bool held = false;
    // A failure shows as the clock call's own EPERM.
    SetSystemTimeCapability(systemTimeEnabled.load(std::memory_order_acquire), held);
}

}  // namespace kairovel::platform
