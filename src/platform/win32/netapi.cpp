// Network management on Windows: netapi32's own calls. The time of day comes
// back in the system's record, which has the facility's layout.
#include <windows.h>
#include <lm.h>

#include "platform/interface/netapi.h"

namespace kairovel::platform {
namespace {

static_assert(sizeof(::TIME_OF_DAY_INFO) == sizeof(TIME_OF_DAY_INFO));
static_assert(offsetof(::TIME_OF_DAY_INFO, tod_timezone) == offsetof(TIME_OF_DAY_INFO, tod_timezone));
static_assert(offsetof(::TIME_OF_DAY_INFO, tod_weekday) == offsetof(TIME_OF_DAY_INFO, tod_weekday));

class WindowsNetworkManagement final : public NetworkManagementFacility {
public:
    NET_API_STATUS NetGetDCName(const wchar_t* serverName, const wchar_t* domainName, LPBYTE* buffer) override {
        return ::NetGetDCName(serverName, domainName, buffer);
    }
    NET_API_STATUS NetRemoteTOD(const wchar_t* uncServerName, LPBYTE* buffer) override {
        return ::NetRemoteTOD(uncServerName, buffer);
    }
    NET_API_STATUS NetApiBufferFree(void* buffer) override { return ::NetApiBufferFree(buffer); }
};

}  // namespace

template <>
NetworkManagementFacility& DefaultFacility<NetworkManagementFacility>() {
    static WindowsNetworkManagement management;
    return management;
}

}  // namespace kairovel::platform
