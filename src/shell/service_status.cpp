#include "shell/service_status.h"

#include "log/logger.h"
#include "platform/last_error.h"
#include "platform/service_manager.h"
#include "log/program_identity.h"

namespace kairovel {

std::wstring_view ServiceStateText(std::uint32_t state) {
    switch (state) {
        case platform::SERVICE_STOPPED:
            return L"Kairovel is not running";
        case platform::SERVICE_START_PENDING:
            return L"Kairovel is starting";
        case platform::SERVICE_STOP_PENDING:
            return L"Kairovel is stopping";
        case platform::SERVICE_RUNNING:
            return L"Kairovel is running";
        case platform::SERVICE_CONTINUE_PENDING:
            return L"Kairovel continue is pending";
        case platform::SERVICE_PAUSE_PENDING:
            return L"Kairovel pause is pending";
        case platform::SERVICE_PAUSED:
            return L"Kairovel is paused";
        default:
            return L"Unknown status";
    }
}

std::wstring ServiceStatusText() {
    platform::ServiceManagerFacility& manager = platform::ServiceManager();
    // Both handles are closed on every way out, the failing ones included.
    const platform::ScopedServiceHandle control(
        manager.OpenSCManagerW(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS));
    const platform::ScopedServiceHandle service(
        manager.OpenServiceW(control.get(), std::wstring(ServiceName).c_str(), platform::SERVICE_QUERY_STATUS));
    if (!service) RaiseError(L"OpenService failed (0x%02x)", platform::GetLastError());
    platform::SERVICE_STATUS status;
    if (!manager.QueryServiceStatus(service.get(), status)) {
        RaiseError(L"QueryServiceStatus failed (0x%02x)", platform::GetLastError());
    }
    return std::wstring(ServiceStateText(status.dwCurrentState));
}

std::wstring ServiceEntryState() {
    try {
        return ServiceStatusText();
    } catch (const std::wstring&) {
        return {};
    }
}

}  // namespace kairovel
