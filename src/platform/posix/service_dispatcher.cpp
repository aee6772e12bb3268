// The dispatcher of the Linux stand-in for the service control manager.
//
// The stand-in control manager is not part of this build yet, so no process
// is ever started by it: every call finds nobody to connect to and answers as
// Windows does for a program started by hand.
#include "platform/service_dispatcher.h"

#include "platform/last_error.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

class StandInServiceDispatcher final : public ServiceDispatcherFacility {
public:
    bool StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* serviceTable) override {
        if (serviceTable == nullptr || serviceTable->lpServiceName == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return false;
    }

    SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t*, LPHANDLER_FUNCTION) override {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return SERVICE_STATUS_HANDLE{};
    }

    bool SetServiceStatus(SERVICE_STATUS_HANDLE, const SERVICE_STATUS&) override {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
};

}  // namespace

template <>
ServiceDispatcherFacility& DefaultFacility<ServiceDispatcherFacility>() {
    static StandInServiceDispatcher dispatcher;
    return dispatcher;
}

}  // namespace kairovel::platform
