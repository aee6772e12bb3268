#include "clock/privilege.h"

#include "log/logger.h"
#include "platform/last_error.h"
#include "platform/privilege.h"

namespace kairovel {

void EnableSystemTimePrivilege() {
    platform::PrivilegeFacility& privileges = platform::Privileges();
    platform::HANDLE token = nullptr;
    if (!privileges.OpenProcessToken(platform::TOKEN_ADJUST_PRIVILEGES | platform::TOKEN_QUERY, token)) {
        RaiseError(L"Error %d from OpenProcessToken", platform::GetLastError());
    }
    const platform::ScopedHandle tokenHandle(token);
    platform::LUID privilege;
    if (!privileges.LookupPrivilegeValueW(nullptr, platform::SE_SYSTEMTIME_NAME, privilege)) {
        RaiseError(L"Error %d from LookupPrivilegeValue", platform::GetLastError());
    }
    if (!privileges.AdjustTokenPrivileges(token, privilege, platform::SE_PRIVILEGE_ENABLED)) {
        RaiseError(L"Error %d from AdjustTokenPrivileges", platform::GetLastError());
    }
}

}  // namespace kairovel
