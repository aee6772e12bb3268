// Installation and control of the service through the control manager: the
// one operation that creates, starts, stops and deletes the service entry by
// flags, and the removal of an installation.
#pragma once

#include <cstdint>

#include "platform/service_manager.h"

namespace kairovel {

// ManageService flags, combinable.
inline constexpr std::uint32_t ScmCreate = 1;
inline constexpr std::uint32_t ScmStart = 2;
inline constexpr std::uint32_t ScmStop = 4;
inline constexpr std::uint32_t ScmDelete = 8;

// Stops and deletes (after waiting up to five interrogations, 2 s apart, for
// the service to leave its pending states), creates and starts the service
// entry as the flags say, in that order. Raises "<Call> failed (0x%02x)" with
// the manager's code at the first failure. created (may be null) tells whether
// this call created the entry.
void ManageService(std::uint32_t flags, bool* created = nullptr);

// ManageService with the flags, then the installed marker set to 0, then the
// stored parameters deleted: each step in its own error handler, its error
// logged and the next step run. When the stop failed and the service still
// runs, the parameters stay and "Service not removed: <its state>" (or "not
// reinstalled", without ScmDelete) is raised: a service that runs on must
// keep what it runs with. So they do when the control manager cannot be
// opened at all (a caller who is not an administrator, no manager), with
// "Service not removed: OpenSCManager failed (0x..)".
void RemoveInstallation(std::uint32_t flags);

// Holds the control manager's database lock while it lives, so that an
// installation and a removal run one after the other, never mixed. Waits up
// to a minute for another holder (only root can hold it), then raises
// "LockServiceDatabase failed (0x41f)"; a manager that cannot lock at all
// leaves the work unlocked, and its next call says why.
class ServiceDatabaseLock {
public:
    ServiceDatabaseLock();
    ~ServiceDatabaseLock();
    ServiceDatabaseLock(const ServiceDatabaseLock&) = delete;
    ServiceDatabaseLock& operator=(const ServiceDatabaseLock&) = delete;

private:
    platform::SC_HANDLE manager_;
    platform::SC_LOCK lock_;
};

}  // namespace kairovel
