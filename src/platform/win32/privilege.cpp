// The privileges of the process's access token on Windows.
#include <windows.h>

#include "platform/interface/privilege.h"

namespace kairovel::platform {
namespace {

class WindowsPrivileges final : public PrivilegeFacility {
public:
    bool OpenProcessToken(std::uint32_t desiredAccess, HANDLE& token) override {
        return ::OpenProcessToken(::GetCurrentProcess(), desiredAccess, &token) != FALSE;
    }

    bool LookupPrivilegeValueW(const wchar_t* systemName, const wchar_t* name, LUID& privilege) override {
        ::LUID native{};
        if (!::LookupPrivilegeValueW(systemName, name, &native)) return false;
        privilege.LowPart = native.LowPart;
        privilege.HighPart = native.HighPart;
        return true;
    }

    // Succeeds with ERROR_NOT_ALL_ASSIGNED as last error when the token does
    // not hold the privilege at all, as the system's call does.
    bool AdjustTokenPrivileges(HANDLE token, const LUID& privilege, std::uint32_t attributes) override {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Luid.LowPart = privilege.LowPart;
        privileges.Privileges[0].Luid.HighPart = privilege.HighPart;
        privileges.Privileges[0].Attributes = attributes;
        return ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr) != FALSE;
    }
};

}  // namespace

template <>
PrivilegeFacility& DefaultFacility<PrivilegeFacility>() {
    static WindowsPrivileges privileges;
    return privileges;
}

}  // namespace kairovel::platform
