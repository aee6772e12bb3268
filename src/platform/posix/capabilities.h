// The bridge between the process-wide privilege of Windows and the per-thread
// capability sets of Linux.
//
// A Windows token belongs to the process; Linux keeps the effective
// capabilities per thread. Once the program has enabled the system-time
// privilege, every thread that sets the clock raises CAP_SYS_TIME for itself
// first, so the privilege reaches the thread that restores the adjustment at
// the stop as it would on Windows. Until then such a thread drops it, as root
// starts with it in every thread's effective set: holding the right is not
// enough to set the clock, it must be enabled, as on Windows.
#pragma once

namespace kairovel::platform {

// Whether the process has enabled the system-time privilege; set by the privilege facility.
void NoteSystemTimePrivilege(bool enabled);
// Makes CAP_SYS_TIME effective in the calling thread exactly when the
// privilege is enabled (and the capability permitted at all).
void ApplySystemTimePrivilegeToThisThread();
// Raises (enable) or drops CAP_SYS_TIME in the calling thread's effective set.
// Returns false with errno set when the kernel refuses; held tells whether
// the capability is permitted at all.
bool SetSystemTimeCapability(bool enable, bool& held);

// What the service keeps of root's rights, for the rest of the process: of
// its capabilities only CAP_SYS_TIME (effective only while the privilege is
// enabled) and CAP_NET_BIND_SERVICE (the TIME server's port 37), none to
// pass on, and no new privileges through set-user-id programs. Called before
// the service's threads start, which inherit it. False when the kernel refused
// a step (the rest is done regardless).
bool KeepOnlyServiceCapabilities();

}  // namespace kairovel::platform
