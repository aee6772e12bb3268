// Privileges on Linux capabilities (libcap): SeSystemtimePrivilege is CAP_SYS_TIME.
#include "platform/privilege.h"

#include <cerrno>

#include "platform/last_error.h"
#include "platform/posix/ascii_case.h"
#include "platform/posix/kernel_objects.h"
#include "platform/posix/capabilities.h"
#include "platform/posix/errors.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

// The identifier Windows gives the system-time privilege.
constexpr LUID kSystemTimePrivilege{12, 0};

class TokenObject final : public HandleObject {
public:
    explicit TokenObject(std::uint32_t access) : access_(access) {}
    std::uint32_t access() const { return access_; }

private:
    std::uint32_t access_;
};

class PosixPrivileges final : public PrivilegeFacility {
public:
    bool OpenProcessToken(std::uint32_t desiredAccess, HANDLE& token) override {
        token = AddHandle(std::make_shared<TokenObject>(desiredAccess));
        return true;
    }

    bool LookupPrivilegeValueW(const wchar_t* systemName, const wchar_t* name, LUID& privilege) override {
        if (systemName != nullptr && *systemName != L'\0') {
            SetLastError(ERROR_NOT_SUPPORTED);  // only the local system's privileges are known here
            return false;
        }
        if (name == nullptr || !EqualsIgnoringAsciiCase(name, SE_SYSTEMTIME_NAME)) {
            SetLastError(ERROR_NO_SUCH_PRIVILEGE);
            return false;
        }
        privilege = kSystemTimePrivilege;
        return true;
    }

    bool AdjustTokenPrivileges(HANDLE token, const LUID& privilege, std::uint32_t attributes) override {
        const auto object = HandleAs<TokenObject>(token);
        if (object == nullptr) return false;
        if ((object->access() & TOKEN_ADJUST_PRIVILEGES) == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if (privilege.LowPart != kSystemTimePrivilege.LowPart || privilege.HighPart != kSystemTimePrivilege.HighPart) {
            SetLastError(ERROR_NOT_ALL_ASSIGNED);  // a privilege this token never holds
            return true;
        }
        const bool enable = (attributes & SE_PRIVILEGE_ENABLED) != 0;
        bool held = false;
        if (!SetSystemTimeCapability(enable, held)) {
            SetLastError(WindowsErrorFromErrno(errno));
            return false;
        }
        NoteSystemTimePrivilege(enable && held);
        SetLastError(held ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
        return true;
    }
};

}  // namespace

template <>
PrivilegeFacility& DefaultFacility<PrivilegeFacility>() {
    static PosixPrivileges privileges;
    return privileges;
}

}  // namespace kairovel::platform
