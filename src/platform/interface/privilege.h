// The privileges of the process's access token, as far as the program uses
// them: enabling the right to set the system clock ("SeSystemtimePrivilege").
//
// As on Windows, enabling a privilege the process does not hold at all is no
// failure: AdjustTokenPrivileges succeeds with ERROR_NOT_ALL_ASSIGNED as last
// error, and the clock facility refuses to set the clock later with
// ERROR_PRIVILEGE_NOT_HELD. On Linux the privilege is CAP_SYS_TIME, enabled by
// raising it from the permitted into the effective capability set.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/privilege.h adds them under their Windows names.
#pragma once

#include <cstdint>

#include "platform/facility.h"
#include "platform/interface/kernel_object.h"

namespace kairovel::platform {

struct LUID {
    std::uint32_t LowPart = 0;
    std::int32_t HighPart = 0;
};

class PrivilegeFacility {
public:
    virtual ~PrivilegeFacility() = default;

    // A handle to the process's own token, with the access rights asked for.
    virtual bool OpenProcessToken(std::uint32_t desiredAccess, HANDLE& token) = 0;
    // The identifier of a privilege, by its name (without regard to case), on
    // the local system (systemName null). Unknown names fail with ERROR_NO_SUCH_PRIVILEGE.
    virtual bool LookupPrivilegeValueW(const wchar_t* systemName, const wchar_t* name, LUID& privilege) = 0;
    // Enables (SE_PRIVILEGE_ENABLED) or disables (0) one privilege, leaving the
    // others as they are. Needs a token opened with TOKEN_ADJUST_PRIVILEGES.
    virtual bool AdjustTokenPrivileges(HANDLE token, const LUID& privilege, std::uint32_t attributes) = 0;
};

template <>
PrivilegeFacility& DefaultFacility<PrivilegeFacility>();

inline PrivilegeFacility& Privileges() { return Facility<PrivilegeFacility>::Get(); }

}  // namespace kairovel::platform
