// A process that may not open its access token: enabling the right to set the
// clock fails at its first step with "Error 5 from OpenProcessToken".
#pragma once

#include "platform/last_error.h"
#include "platform/privilege.h"
#include "platform/win_types.h"

namespace kairovel::testing {

class RefusingPrivileges final : public platform::PrivilegeFacility {
public:
    bool OpenProcessToken(std::uint32_t, platform::HANDLE&) override {
        platform::SetLastError(platform::ERROR_ACCESS_DENIED);
        return false;
    }
    bool LookupPrivilegeValueW(const wchar_t*, const wchar_t*, platform::LUID&) override { return false; }
    bool AdjustTokenPrivileges(platform::HANDLE, const platform::LUID&, std::uint32_t) override { return false; }
};

}  // namespace kairovel::testing
