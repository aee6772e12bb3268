#include "platform/posix/capabilities.h"

#include <sys/capability.h>
#include <sys/prctl.h>

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

bool KeepOnlyServiceCapabilities() {
    bool done = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    constexpr cap_value_t kKept[] = {CAP_SYS_TIME, CAP_NET_BIND_SERVICE};
    const auto kept = [&](cap_value_t capability) {
        return capability == kKept[0] || capability == kKept[1];
    };
    // Dropping from the bounding set needs CAP_SETPCAP, which a systemd unit
    // that bounds the service already has not; nothing is left to drop then.
    for (cap_value_t capability = 0; capability <= CAP_LAST_CAP; ++capability) {
        if (!kept(capability) && cap_get_bound(capability) == 1 && cap_drop_bound(capability) != 0) done = false;
    }
    cap_t now = cap_get_proc();
    cap_t wanted = cap_init();
    if (now == nullptr || wanted == nullptr) {
        cap_free(now);
        cap_free(wanted);
        return false;
    }
    for (const cap_value_t capability : kKept) {
        cap_flag_value_t permitted = CAP_CLEAR;
        cap_get_flag(now, capability, CAP_PERMITTED, &permitted);
        if (permitted != CAP_SET) continue;
        cap_set_flag(wanted, CAP_PERMITTED, 1, &capability, CAP_SET);
        if (capability == CAP_NET_BIND_SERVICE) cap_set_flag(wanted, CAP_EFFECTIVE, 1, &capability, CAP_SET);
    }
    if (cap_set_proc(wanted) != 0) done = false;
    if (cap_reset_ambient() != 0) done = false;
    cap_free(now);
    cap_free(wanted);
    return done;
}

}  // namespace kairovel::platform
